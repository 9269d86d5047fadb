"""A small belief model shared by the run tests: people with a numeric
attribute, plain edges between them, and competing edges to companies."""

MODEL = """
schema S {
    node P { x: Real }
    node C { size: Real }
    edge k {}
    edge picks {}
}
belief_model M on S {
    node P { x ~ Gaussian(mean = 0, precision = 1) }
    node C { size ~ Gaussian(mean = 0, precision = 1) }
    edge k { exist ~ Bernoulli(prior = 0.5) }
    edge picks {
        exist ~ CategoricalPosterior(group_by = source, prior = uniform, pseudo_count = 2)
    }
}
"""
