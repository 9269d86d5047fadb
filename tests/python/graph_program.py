"""A flow whose exported graph the view and export tests inspect.

Hand-checked content of the graph "staff" (ids in byte order of type, label):
  nodes  0 Company acme     size (104, 5): prior (100, 4) observed 120 at precision 1
         1 Company initech  size (100, 4)
         2 Person  alice    trust (1.125, 4): prior (0, 1) observed 1.5 at 3; age (30, 1e-7)
         3 Person  bob      trust (0, 1); age (30, 1e-7)
         4 Person  carol    likewise
  edges  0 knows    2->3  Beta(1000, 9999000 + 1): pinned absent
         1 likes    3->2  Beta(1 + 1, 1): 2/3
         2 trusts   4->2  Beta(9999000 + 1, 1000): pinned present
         3, 4 works_at 2->0, 2->1  group 0, concentrations (1 + 1 + 1, 1): 3/4, 1/4
         5, 6 works_at 3->0, 3->1  group 1, concentrations (2, 2)
(Attributes are (mean, precision).) The graph "empty" has nothing; "plain" has
alice and bob with one likes edge, pinned to nothing.
"""
import morvane

SOURCE = """
schema Work {
    node Person { trust: Real; age: Real }
    node Company { size: Real }
    edge knows {}
    edge likes {}
    edge trusts {}
    edge works_at {}
}
belief_model Beliefs on Work {
    node Person {
        trust ~ Gaussian(mean = 0, precision = 1);
        age ~ Gaussian(mean = 30, precision = 0.0000001)
    }
    node Company { size ~ Gaussian(mean = 100, precision = 4) }
    edge knows { exist ~ Bernoulli(prior = 0.0001, weight = 10000000) }
    edge likes { exist ~ Bernoulli(prior = 0.5, weight = 2) }
    edge trusts { exist ~ Bernoulli(prior = 0.9999, weight = 10000000) }
    edge works_at {
        exist ~ CategoricalPosterior(group_by = source, prior = uniform, pseudo_count = 2)
    }
}
evidence Staff on Beliefs {
    observe Person["alice"].trust = 1.5 (precision = 3);
    observe Company(acme).size = 120;
    observe edge knows(Person["alice"], Person["bob"]) absent;
    observe edge likes(Person["bob"], Person["alice"]) present;
    observe edge trusts(Person(carol), Person["alice"]) present;
    observe edge works_at(Person["alice"], Company(acme)) chosen;
    observe edge works_at(Person["alice"], Company(initech)) unchosen;
    observe edge works_at(Person["bob"], Company(acme)) chosen;
    observe edge works_at(Person["bob"], Company(initech)) chosen;
}
evidence Nobody on Beliefs {}
evidence Plain on Beliefs {
    observe edge likes(Person["bob"], Person["alice"]) present;
}
flow Main on Beliefs {
    graph staff = from_evidence Staff
    graph nobody = from_evidence Nobody
    graph plain = from_evidence Plain
    export staff as "staff"
    export nobody as "empty"
    export plain as "plain"
}
"""

PROB_KNOWS = 1000 / 10000001
PROB_TRUSTS = 9999001 / 10000001


def graphs():
    """The graphs "staff", "empty" and "plain" of a new run."""
    ctx = morvane.run_flow(morvane.compile(SOURCE), "Main")
    return ctx.get_graph("staff"), ctx.get_graph("empty"), ctx.get_graph("plain")
