"""Deep, long and backtracking-heavy input must compile or be refused cleanly
and quickly, never crash, even on a thread with a small stack."""
import time

import pytest

import morvane
from beside import on_small_stack

HEAD = (
    "schema S { node N { a: Real } }\n"
    "belief_model M on S { node N { a ~ Gaussian(mean = 0, precision = 1) } }\n"
    "evidence E on M { observe N(x).a = 1 }\n"
)

NESTING_TOO_DEEP = "= nesting too deep (more than 12000 nested rules)"


def metric_program(expr):
    return HEAD + "flow F on M {\n graph g = from_evidence E\n metric m = " + expr + "\n}\n"


def rule_program(expr):
    return HEAD + "rule R on M {\n pattern (a:N)-[e:K]->(b:N)\n where " + expr + "\n}\n"


def prune_program(expr):
    return HEAD + "flow F on M {\n graph g = base |> prune_edges K where " + expr + "\n}\n"


def compile_on_small_stack(source):
    outcome = on_small_stack(lambda: morvane.compile(source))
    if "value" in outcome:
        outcome["program"] = outcome.pop("value")
    return outcome


# Each form of nesting at the deepest the parser accepts (one level more is
# refused), and a chain whose tree is as deep as the source is long.
DEEPEST = {
    "parentheses": (lambda n: metric_program("(" * n + "1" + ")" * n), 1198),
    "negations": (lambda n: metric_program("-" * n + "1"), 11986),
    "not": (lambda n: rule_program("not " * n + "true"), 11985),
    "metric calls": (lambda n: metric_program("abs(" * n + "1" + ")" * n), 1198),
    "rule calls": (lambda n: rule_program("f(" * n + "a" + ")" * n), 1198),
    "prune calls": (lambda n: prune_program("f(" * n + "weight(edge)" + ")" * n), 1197),
    "exists": (lambda n: rule_program("exists (a:N)-[e:K]->(b:N) where " * n + "prob(e) > 0.5"),
               1197),
    "builders": (lambda n: metric_program("nodes(N) |> sum(by = " * n + "1" + ")" * n), 999),
}


@pytest.mark.parametrize("form", DEEPEST)
def test_deepest_nesting_compiles_on_a_small_stack(form):
    text, deepest = DEEPEST[form]
    outcome = compile_on_small_stack(text(deepest))
    assert "error" not in outcome, outcome.get("error")
    with pytest.raises(ValueError, match="nesting too deep"):
        morvane.compile(text(deepest + 1))


@pytest.mark.parametrize(
    "source",
    [
        metric_program("1" + " + 1" * 300000),
        metric_program("nodes(N)" + " |> where 1 > 0" * 20000 + " |> count()"),
    ],
    ids=["long-chain", "long-pipeline"],
)
def test_long_repetitions_compile_on_a_small_stack(source):
    outcome = compile_on_small_stack(source)
    assert "error" not in outcome, outcome.get("error")


def test_too_deep_nesting_is_a_parse_error():
    outcome = compile_on_small_stack(metric_program("(" * 10000 + "1" + ")" * 10000))
    error = outcome["error"]
    assert isinstance(error, ValueError)
    assert str(error).startswith("Parse error:  --> 6:")
    assert str(error).endswith(NESTING_TOO_DEEP)


# A postfix retries its call suffix after an `exists ... where` operand whose
# own postfix just failed on the same "(": without memoising, every level
# doubled the parse time (24 levels took about a minute).
EXISTS_CALL = "exists (o:S)-[q:T]->(h:H) where f("


@pytest.mark.parametrize(
    "source, message",
    [
        ("flow F on M { metric m = " + EXISTS_CALL * 24 + "\n}\n",
         "= expected ident or unary_expr"),
        ("flow F on M { metric m = " + EXISTS_CALL * 200 + "\n}\n",
         "= expected ident or unary_expr"),
        ("flow F on M { metric m = " + EXISTS_CALL * 22 + "x x" + ")" * 22 + "\n}\n",
         "= expected op_cmp, op_add, op_mul, field_access, call_suffix, kw_and_tok, or kw_or_tok"),
    ],
    ids=["24-levels", "200-levels", "typo-in-22-levels"],
)
def test_backtracking_over_nested_calls_takes_linear_time(source, message):
    start = time.perf_counter()
    with pytest.raises(ValueError) as refused:
        morvane.compile(source)
    elapsed = time.perf_counter() - start
    assert str(refused.value).endswith(message)
    assert elapsed < 1.0, f"{elapsed:.3f} s"
