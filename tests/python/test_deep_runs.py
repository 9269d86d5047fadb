"""Programs nested as deep as the parser accepts must also RUN on a thread
with a small stack: every nesting form evaluated where the engine walks it
(a rule's where-clause over real matches, nested exists tests, an action's
value, a flow metric, a per-node builder expression, a prune predicate),
with a clean result or a clean Python exception."""
import pytest

import morvane
from beside import on_small_stack

# Two nodes and one edge x -> y, so a rule pattern matches once and a prune
# predicate meets one edge.
HEAD = """
schema S { node N { a: Real } edge K {} }
belief_model M on S {
    node N { a ~ Gaussian(mean = 0, precision = 1) }
    edge K { exist ~ Bernoulli(prior = 0.5) }
}
evidence E on M {
    observe N(x).a = 1;
    observe N(y).a = 3;
    observe edge K(N(x), N(y)) present;
}
"""


def where_program(expr):
    """The rule moves y.a from 1.5 to 13/3 when `expr` holds for x -> y."""
    return HEAD + (
        "rule R on M {\n pattern (a:N)-[e:K]->(b:N)\n where " + expr + "\n"
        " action { b.a ~= 10 precision = 1.0 }\n}\n"
        "flow F on M {\n graph g = from_evidence E\n graph h = g |> apply_rule R\n"
        " export h as \"h\"\n}\n")


def action_program(expr):
    """The rule soft-updates y.a towards the value of `expr`."""
    return HEAD + (
        "rule R on M {\n pattern (a:N)-[e:K]->(b:N)\n action { let v = " + expr + "\n"
        " b.a ~= v precision = 1.0 }\n}\n"
        "flow F on M {\n graph g = from_evidence E\n graph h = g |> apply_rule R\n"
        " export h as \"h\"\n}\n")


def metric_program(expr):
    return HEAD + "flow F on M {\n graph g = from_evidence E\n metric m = " + expr + "\n}\n"


def prune_program(expr):
    return HEAD + (
        "flow F on M {\n graph g = from_evidence E\n"
        " graph h = g |> prune_edges K where " + expr + "\n export h as \"h\"\n}\n")


def y_mean(ctx):
    return {n.name: n.E("a") for n in ctx.get_graph("h").nodes()}["y"]


def edge_count(ctx):
    return len(ctx.get_graph("h").edges())


APPLIED, NOT_APPLIED = 13 / 3, 1.5


def parens(n, inner="1"):
    return "(" * n + inner + ")" * n


def degrees(n, node):
    # degree(x, min_prob = 0) is 1 (x -> y has probability 2/3); with
    # min_prob = 1 it is 0: the chain alternates, 1 at odd depths. y has no
    # outgoing edge: 0 at any depth.
    return f"degree({node}, min_prob = " * n + "0" + ")" * n


def exists_chain(n):
    return "exists (a:N)-[e:K]->(b:N) where " * n + "prob(e) > 0.5"


def fold_chain(n):
    # Each level folds over both nodes from the level below: 1 + 2n.
    return "nodes(N) |> fold(init = " * n + "1" + ", step = value + 1)" * n


# form: (program of depth n, deepest n the parser accepts, check of the run)
# A check is a function of the Context, or (exception type, message) for a
# run that must fail cleanly.
DEEPEST_RUNS = {
    "where parentheses": (lambda n: where_program(parens(n)), 1198,
                          lambda ctx: y_mean(ctx) == pytest.approx(APPLIED)),
    "where negations": (lambda n: where_program("-" * n + "1"), 11986,
                        lambda ctx: y_mean(ctx) == pytest.approx(APPLIED)),
    "where not": (lambda n: where_program("not " * n + "true"), 11985,  # odd: false
                  lambda ctx: y_mean(ctx) == NOT_APPLIED),
    "where calls": (lambda n: where_program(degrees(n, "a")), 1089,
                    lambda ctx: y_mean(ctx) == pytest.approx(APPLIED)),
    "where exists": (lambda n: where_program(exists_chain(n)), 1197,
                     lambda ctx: y_mean(ctx) == pytest.approx(APPLIED)),
    "action calls": (lambda n: action_program(degrees(n, "a")), 1089,  # v = 1
                     lambda ctx: y_mean(ctx) == pytest.approx((1.5 * 2 + 1) / 3)),
    "metric parentheses": (lambda n: metric_program(parens(n)), 1198,
                           lambda ctx: ctx.metrics == {"m": 1.0}),
    "metric negations": (lambda n: metric_program("-" * n + "1"), 11986,
                         lambda ctx: ctx.metrics == {"m": 1.0}),
    "metric not": (lambda n: metric_program("not " * n + "true"), 11985,
                   lambda ctx: ctx.metrics == {"m": 0.0}),
    "metric per-node calls": (
        lambda n: metric_program("nodes(N) |> sum(by = " + degrees(n, "node") + ")"), 1089,
        lambda ctx: ctx.metrics == {"m": 1.0}),
    "metric builders": (lambda n: metric_program(fold_chain(n)), 856,
                        lambda ctx: ctx.metrics == {"m": 1713.0}),
    # Forms the parser nests that the engine refuses at their first level.
    "metric calls": (lambda n: metric_program("abs(" * n + "1" + ")" * n), 1198,
                     (ValueError, "Validation error: unknown metric function 'abs'")),
    "metric sum builders": (
        lambda n: metric_program("nodes(N) |> sum(by = " * n + "1" + ")" * n), 999,
        (ValueError, "Validation error: unsupported function 'sum_nodes' in node metric "
                     "expression")),
    "prune parentheses": (lambda n: prune_program(parens(n)), 1198,
                          lambda ctx: edge_count(ctx) == 0),
    "prune negations": (lambda n: prune_program("-" * n + "1"), 11982,
                        lambda ctx: edge_count(ctx) == 0),
    "prune not": (lambda n: prune_program("not " * n + "true"), 11981,
                  lambda ctx: edge_count(ctx) == 1),
    "prune calls": (lambda n: prune_program("f(" * n + "weight(edge)" + ")" * n), 1197,
                    (ValueError, "Validation error: unsupported function 'f' in prune predicate")),
}


@pytest.mark.parametrize("form", DEEPEST_RUNS)
def test_deepest_nesting_runs_on_a_small_stack(form):
    text, deepest, check = DEEPEST_RUNS[form]
    with pytest.raises(ValueError, match="nesting too deep"):
        morvane.compile(text(deepest + 1))
    source = text(deepest)
    outcome = on_small_stack(lambda: morvane.run_flow(morvane.compile(source), "F"))
    if isinstance(check, tuple):
        error_type, message = check
        assert type(outcome.get("error")) is error_type, outcome
        assert str(outcome["error"]) == message
    else:
        assert "error" not in outcome, outcome.get("error")
        assert check(outcome["value"])
