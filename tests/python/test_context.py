"""The Context class: graphs, metrics, inference diagnostics, lookups and
its surface."""
import pytest

import morvane

SOURCE = """
schema S { node P { x: Real } edge k {} }
belief_model M on S {
    node P { x ~ Gaussian(mean = 0, precision = 1) }
    edge k { exist ~ Bernoulli(prior = 0.5) }
}
evidence E on M {
    observe P(a).x = 1;
    observe P(b).x = 3;
    observe edge k(P(a), P(b)) present;
}
flow Main on M {
    graph g = from_evidence E
    graph inferred = g |> infer_beliefs |> infer_beliefs
    metric b = 2
    metric a = 1
    metric z = nodes(P) |> count()
    export inferred as "zeta"
    export g as "alpha"
    export_metric b as "a"
}
flow Bare on M {
    graph g = from_evidence E
}
"""

DIAGNOSTIC_KEYS = [
    "flow", "graph", "transform", "algorithm", "iterations_run", "max_iterations", "converged",
    "final_max_message_delta", "variable_count", "connected_variable_count",
]


@pytest.fixture(scope="module")
def program():
    return morvane.compile(SOURCE)


@pytest.fixture(scope="module")
def ctx(program):
    return morvane.run_flow(program, "Main")


def test_graphs_are_the_same_objects_in_new_dicts(ctx):
    graphs = ctx.graphs
    assert list(graphs) == ["alpha", "zeta"]  # byte order of the aliases
    assert ctx.graphs is not graphs
    for alias, graph in graphs.items():
        assert isinstance(graph, morvane.BeliefGraph)
        assert ctx.graphs[alias] is graph and ctx.get_graph(alias) is graph
    assert ctx.get_graph("g") is None and ctx.get_graph("") is None
    assert [n.name for n in graphs["alpha"].nodes()] == ["a", "b"]


def test_metrics_with_exports_winning(ctx):
    # "a" is computed as 1 and exported from b under the same name: one entry, 2.
    assert ctx.metrics == {"a": 2.0, "b": 2.0, "z": 2.0}
    assert list(ctx.metrics) == ["a", "b", "z"]
    assert ctx.metrics is not ctx.metrics
    assert ctx.get_metric("a") == 2.0 and ctx.get_metric("z") == 2.0
    assert ctx.get_metric("nope") is None


def test_inference_diagnostics(ctx, program):
    diagnostics = ctx.inference_diagnostics
    assert diagnostics is not ctx.inference_diagnostics
    assert diagnostics[0] is not ctx.inference_diagnostics[0]
    assert [list(d) for d in diagnostics] == [DIAGNOSTIC_KEYS] * 2
    first, second = diagnostics
    assert first == {
        "flow": "Main", "graph": "inferred", "transform": "infer_beliefs#0",
        "algorithm": "loopy_sum_product", "iterations_run": 0, "max_iterations": 32,
        "converged": True, "final_max_message_delta": 0.0, "variable_count": 1,
        "connected_variable_count": 0,
    }
    assert second["transform"] == "infer_beliefs#1"
    for d in diagnostics:
        types = [type(d[k]) for k in DIAGNOSTIC_KEYS]
        assert types == [str] * 4 + [int] * 2 + [bool, float] + [int] * 2
    assert morvane.run_flow(program, "Bare").inference_diagnostics == []


def test_repr(ctx, program):
    assert repr(ctx) == "Context(graphs=2, metrics=3, inference_diagnostics=2)"
    bare = morvane.run_flow(program, "Bare")
    assert repr(bare) == "Context(graphs=0, metrics=0, inference_diagnostics=0)"
    assert bare.graphs == {} and bare.metrics == {}


def test_graphs_outlive_their_context(program):
    graph = morvane.run_flow(program, "Main").get_graph("alpha")
    node = graph.nodes()[1]
    assert (node.name, node.E("x")) == ("b", 1.5)


def test_surface(ctx):
    cls = morvane.Context
    assert cls.__doc__ == (
        "Flow execution context with exported graphs, metrics, and inference diagnostics.")
    assert cls.graphs.__doc__ is None and cls.metrics.__doc__ is None
    assert cls.inference_diagnostics.__doc__ == (
        "Inference diagnostics from `infer_beliefs` transforms in this flow.\n\n"
        "Non-convergence is not an exception; inspect `converged` on each event.")
    assert (cls.get_graph.__text_signature__, cls.get_graph.__doc__) == (
        "($self, name)", "Get a single exported graph by name")
    assert (cls.get_metric.__text_signature__, cls.get_metric.__doc__) == (
        "($self, name)", "Get a single computed (or export-aliased) metric by name")
    with pytest.raises(AttributeError):
        ctx.metrics = {}
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda ctx: morvane.Context(), "No constructor defined for Context"),
        (lambda ctx: ctx.get_graph(),
         "Context.get_graph() missing 1 required positional argument: 'name'"),
        (lambda ctx: ctx.get_graph(1),
         "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda ctx: ctx.get_metric("a", "b"),
         "Context.get_metric() takes 1 positional arguments but 2 were given"),
        (lambda ctx: ctx.get_metric(metric="a"),
         "Context.get_metric() got an unexpected keyword argument 'metric'"),
    ],
)
def test_wrong_calls_raise_type_error(ctx, call, message):
    with pytest.raises(TypeError) as caught:
        call(ctx)
    assert str(caught.value) == message
