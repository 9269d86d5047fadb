"""Deep and long input must compile or be refused cleanly, never crash,
even on a thread with a small stack."""
import threading

import pytest

import morvane

HEAD = (
    "schema S { node N { a: Real } }\n"
    "belief_model M on S { node N { a ~ Gaussian(mean = 0, precision = 1) } }\n"
    "evidence E on M { observe N(x).a = 1 }\n"
)


def metric_program(expr):
    return HEAD + "flow F on M {\n graph g = from_evidence E\n metric m = " + expr + "\n}\n"


def compile_on_small_stack(source):
    outcome = {}

    def work():
        try:
            outcome["program"] = morvane.compile(source)
        except Exception as error:  # reported to the test below
            outcome["error"] = error

    previous = threading.stack_size(1 << 20)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        worker.join()
    finally:
        threading.stack_size(previous)
    return outcome


@pytest.mark.parametrize(
    "expr",
    [
        "1" + " + 1" * 300000,             # a flat chain folds into a deep tree
        "(" * 1000 + "1" + ")" * 1000,
        "-" * 1000 + "1",
        "abs(" * 1000 + "1" + ")" * 1000,
    ],
    ids=["long-chain", "parentheses", "negations", "calls"],
)
def test_deep_expressions_compile(expr):
    outcome = compile_on_small_stack(metric_program(expr))
    assert "error" not in outcome, outcome.get("error")
    assert outcome["program"].get_flow_names() == ["F"]


def test_too_deep_nesting_is_a_parse_error():
    outcome = compile_on_small_stack(metric_program("(" * 10000 + "1" + ")" * 10000))
    error = outcome["error"]
    assert isinstance(error, ValueError)
    assert str(error).startswith("Parse error:  --> 6:")
    assert str(error).endswith("= nesting too deep (more than 12000 nested rules)")
