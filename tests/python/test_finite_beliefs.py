"""Beliefs never turn non-finite: an update whose new mean, precision or
count overflows or is NaN ends the run with a Validation error naming the
update, the value, the node or edge and the attribute, while large finite
results still run."""
import math

import pytest

import morvane

# 1e308, written out: finite, and accepted as a literal.
BIG = "1" + "0" * 308

MODEL = """
schema S { node P { x: Real } edge k {} edge w {} }
belief_model M on S {
    node P { x ~ Gaussian(mean = 0, precision = 1) }
    edge k { exist ~ Bernoulli(prior = 0.5) }
    edge w { exist ~ Bernoulli(prior = 0.5); weight ~ Gaussian(mean = 0, precision = 1) }
}
evidence Plain on M { observe P(a).x = 1; observe edge k(P(a), P(b)) present; }
"""


def run_rule(actions):
    return MODEL + f"""
rule R on M {{ for (p: P) => {{ {actions} }} }}
rule Edges on M {{
    pattern (a:P)-[e:k]->(b:P)
    action {{ suppress e (weight = {BIG}); suppress e (weight = {BIG}) }}
}}
flow F on M {{ graph g = from_evidence Plain  graph h = g |> apply_rule R  export h as "h" }}
"""


def run_edges():
    return run_rule("let y = 1").replace("apply_rule R", "apply_rule Edges")


def run_evidence(body):
    return MODEL + f"""
evidence E on M {{ {body} }}
flow F on M {{ graph g = from_evidence E  export g as "g" }}
"""


CASES = {
    "observations overflow the precision": (
        run_evidence(f"observe P(a).x = 1; observe P(b).x = 2 (precision = {BIG});"
                     f" observe P(b).x = 4 (precision = {BIG});"),
        "observe_attr: update produced non-finite value: inf for node NodeId(1) attribute 'x'"),
    "soft update of inf / inf": (
        run_rule(f"p.x ~= 3 precision = {BIG} count = 10"),
        "soft_update: update produced non-finite value: NaN for node NodeId(0) attribute 'x'"),
    "nudges overflow the precision": (
        run_rule(f"non_bayesian_nudge p.x to 1 variance = increase(factor = {BIG})"
                 f" non_bayesian_nudge p.x to 1 variance = increase(factor = {BIG})"),
        "non_bayesian_nudge: update produced non-finite value: inf for node NodeId(0)"
        " attribute 'x'"),
    "edge weight observations overflow": (
        run_evidence(f"observe edge w(P(a), P(b)) weight = 1 (precision = {BIG});"
                     f" observe edge w(P(a), P(b)) weight = 2 (precision = {BIG});"),
        "observe_edge_weight: update produced non-finite value: inf for edge EdgeId(0)"
        " attribute 'weight'"),
    "suppressions overflow a Beta count": (
        run_edges(),
        "suppress_edge: update produced non-finite value: inf for edge EdgeId(0)"),
}


@pytest.mark.parametrize("source, message", CASES.values(), ids=CASES.keys())
def test_overflowing_update_fails_the_run(source, message):
    program = morvane.compile(source)
    with pytest.raises(ValueError) as raised:
        morvane.run_flow(program, "F")
    assert str(raised.value) == "Validation error: " + message
    # The program stays usable: the same run fails the same way again.
    with pytest.raises(ValueError) as again:
        morvane.run_flow(program, "F")
    assert str(again.value) == str(raised.value)


@pytest.mark.parametrize("value, shown", [(math.nan, "NaN"), (math.inf, "inf"),
                                          (-math.inf, "-inf")])
def test_non_finite_runtime_observation_fails_the_run(value, shown):
    program = morvane.compile(run_evidence("observe P(a).x = 1;"))
    evidence = morvane.Evidence("bad", "M")
    evidence.observe_numeric("P", "a", "x", value)
    with pytest.raises(ValueError) as raised:
        morvane.run_flow_with_evidence(program, "F", evidence)
    assert str(raised.value) == (
        "Validation error: observe_attr: update produced non-finite value: "
        f"{shown} for node NodeId(0) attribute 'x'")
    # Both stay usable: a finite observation added afterwards runs.
    evidence.observe_numeric("P", "b", "x", 2.0)
    with pytest.raises(ValueError):
        morvane.run_flow_with_evidence(program, "F", evidence)
    fine = morvane.Evidence("fine", "M")
    fine.observe_numeric("P", "a", "x", 3.0)
    graph = morvane.run_flow_with_evidence(program, "F", fine).get_graph("g")
    assert [n.E("x") for n in graph.nodes("P")] == [pytest.approx(4 / 3)]


def test_large_finite_results_still_run():
    huge = "1" + "0" * 300
    program = morvane.compile(run_evidence(
        f"observe P(b).x = 2 (precision = {huge}); observe P(b).x = 4 (precision = {huge});"))
    (node,) = morvane.run_flow(program, "F").get_graph("g").nodes("P")
    assert node.E("x") == 3.0
    assert node.Var("x") == pytest.approx(1 / 2e300)
