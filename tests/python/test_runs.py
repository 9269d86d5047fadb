"""The flow runs run_flow, run_flow_with_context and run_flow_with_evidence:
their surface, the error of each category, chaining, run-time
evidence, and the interpreter lock around the engine."""
import inspect
import threading
import time

import pytest

import morvane
from beside import run_beside
from picks_model import MODEL

CHAIN = MODEL + """
evidence E on M {
    observe P(a).x = 1;
    observe P(b).x = 3;
    observe edge k(P(a), P(b)) present;
}
flow First on M {
    graph g = from_evidence E
    metric n = nodes(P) |> count()
    export g as "base"
    export_metric n as "count"
}
flow Second on M {
    import_metric count as previous
    graph h = from_graph "base"
    metric doubled = previous * 2
    export h as "again"
}
"""

# Two blocks on the flow's model; run-time observations join both.
TWO_BLOCKS = MODEL + """
evidence Picks on M {
    observe edge picks(P(a), C(acme)) chosen;
    observe edge picks(P(a), C(initech)) chosen;
}
evidence Sizes on M {
    observe C(acme).size = 2;
}
flow F on M {
    graph picks = from_evidence Picks
    graph sizes = from_evidence Sizes
    metric people = nodes(P) |> count()
    export picks as "picks"
    export sizes as "sizes"
}
"""


def long_program(edges):
    """A flow whose run takes a while: belief propagation over a long chain."""
    chain = ", ".join(f"n{i} -> n{i + 1}" for i in range(edges))
    return morvane.compile(MODEL + f"""
evidence Chain on M {{ k(P -> P) {{ {chain} }} }}
flow Long on M {{
    graph g = from_evidence Chain
    graph h = g |> infer_beliefs
    metric nodes = nodes(P) |> count()
    export h as "h"
}}
""")


# Long enough that a run lasts well over 100 switches of the interpreter
# lock, also once the block's index is made.
LONG_CHAIN = 200000


@pytest.fixture(scope="module")
def long_run():
    return long_program(LONG_CHAIN)


def group_probabilities(ctx, name):
    return [g.probabilities for g in ctx.get_graph(name).competing_groups()]


# ---- Surface ------------------------------------------------------------------------------

def test_docstrings_and_signatures():
    expected = {
        morvane.run_flow: (
            "(program, flow_name)",
            "Run a flow using only program-defined evidence.\n\n"
            "Releases the GIL during execution."),
        morvane.run_flow_with_context: (
            "(program, flow_name, ctx)",
            "Run a flow with a prior Context (chaining flows).\n\n"
            "Preserves exported graphs and metrics from the prior context.\n"
            "Releases the GIL during execution."),
        morvane.run_flow_with_evidence: (
            "(program, flow_name, evidence, ctx=None)",
            "Run a flow with runtime Evidence merged into program evidence for the same model.\n\n"
            "Optionally accepts a prior Context for chaining. Releases the GIL during execution."),
    }
    for function, (signature, doc) in expected.items():
        assert (function.__text_signature__, function.__doc__) == (signature, doc)
        assert str(inspect.signature(function)) == signature


def test_wrong_calls_raise_type_error():
    program = morvane.compile(CHAIN)
    ctx = morvane.run_flow(program, "First")
    ev = morvane.Evidence("e", "M")
    cases = [
        (lambda: morvane.run_flow(program),
         "run_flow() missing 1 required positional argument: 'flow_name'"),
        (lambda: morvane.run_flow("First", program),
         "argument 'program': 'str' object cannot be converted to 'Program'"),
        (lambda: morvane.run_flow(program, b"First"),
         "argument 'flow_name': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: morvane.run_flow(program, "First", ctx),
         "run_flow() takes 2 positional arguments but 3 were given"),
        (lambda: morvane.run_flow(program, flow="First"),
         "run_flow() got an unexpected keyword argument 'flow'"),
        (lambda: morvane.run_flow_with_context(program, "Second"),
         "run_flow_with_context() missing 1 required positional argument: 'ctx'"),
        (lambda: morvane.run_flow_with_context(program, "Second", program),
         "argument 'ctx': 'Program' object cannot be converted to 'Context'"),
        (lambda: morvane.run_flow_with_context(program, "Second", None),
         "argument 'ctx': 'NoneType' object cannot be converted to 'Context'"),
        (lambda: morvane.run_flow_with_evidence(program, "First"),
         "run_flow_with_evidence() missing 1 required positional argument: 'evidence'"),
        (lambda: morvane.run_flow_with_evidence(program, "First", ctx),
         "argument 'evidence': 'Context' object cannot be converted to 'Evidence'"),
        (lambda: morvane.run_flow_with_evidence(program, "First", ev, program),
         "argument 'ctx': 'Program' object cannot be converted to 'Context'"),
        (lambda: morvane.run_flow_with_evidence(program, "First", ev, None, None),
         "run_flow_with_evidence() takes from 3 to 4 positional arguments but 5 were given"),
        (lambda: morvane.run_flow_with_evidence(program, "First", ev, ctx=ctx, evidence=ev),
         "run_flow_with_evidence() got multiple values for argument 'evidence'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == message


def test_arguments_by_keyword():
    program = morvane.compile(CHAIN)
    first = morvane.run_flow(flow_name="First", program=program)
    second = morvane.run_flow_with_context(ctx=first, flow_name="Second", program=program)
    assert second.get_metric("doubled") == 4.0
    again = morvane.run_flow_with_evidence(
        program=program, flow_name="Second", evidence=morvane.Evidence("e", "M"), ctx=first)
    assert again.metrics == second.metrics


# ---- Errors -------------------------------------------------------------------------------

FIXPOINT = MODEL + """
evidence E on M { P { """ + ", ".join(f"p{i} {{ x: 0 }}" for i in range(40)) + """ } }
rule Grow on M { for (p: P) => { non_bayesian_nudge p.x to E[p.x] + 1 } mode: fixpoint }
flow F on M {
    graph g = from_evidence E
    graph h = g |> apply_rule Grow
    export h as "h"
}
"""


def test_each_error_category_through_a_real_flow():
    chain = morvane.compile(CHAIN)
    unknown_type = morvane.Evidence("e", "M")
    unknown_type.observe_numeric("Q", "q", "x", 1.0)
    cases = [
        (lambda: morvane.compile("flow {"), ValueError, "Parse error:  --> 1:6"),
        (lambda: morvane.compile(MODEL.replace("precision = 1) }", "precision = -1) }", 1)),
         ValueError,
         "Validation error: validation error [belief_model 'M']: node attribute 'P.x' "
         "GaussianPosterior 'prior_precision' must be > 0, got -1"),
        (lambda: morvane.run_flow(chain, "Third"), RuntimeError,
         "Internal error: unknown flow 'Third'"),
        (lambda: morvane.run_flow(chain, "Second"), RuntimeError,
         "Internal error: graph 'base' not found in prior flow exports or snapshots"),
        (lambda: morvane.run_flow(morvane.compile(FIXPOINT), "F"), RuntimeError,
         "Execution error: Fixpoint rule 'Grow' did not converge after 1000 iterations"),
        # Run-time evidence is checked only when its graph is built.
        (lambda: morvane.run_flow_with_evidence(chain, "First", unknown_type), ValueError,
         "Validation error: Node type 'Q' not found in schema 'S'"),
    ]
    for call, error, start in cases:
        with pytest.raises(error) as caught:
            call()
        assert type(caught.value) is error
        assert str(caught.value).startswith(start), str(caught.value)


def test_names_with_nul_survive_in_messages():
    with pytest.raises(RuntimeError) as caught:
        morvane.run_flow(morvane.compile(CHAIN), "Fi\0rst")
    assert str(caught.value) == "Internal error: unknown flow 'Fi\0rst'"


# pseudo_count / 2 underflows to 0; the share is kept at the smallest
# positive double, so the group stays sound. (A broken invariant met in a
# run is tested from C++, tests/cpp/python_errors_test.cpp, where a graph no
# program can make is built.)
UNDERFLOW = MODEL.replace("pseudo_count = 2", "pseudo_count = 0." + "0" * 323 + "5") + """
evidence E on M {
    observe edge picks(P(a), C(acme)) chosen;
    observe edge picks(P(a), C(initech)) unchosen;
}
flow F on M { graph g = from_evidence E export g as "g" }
"""


def test_an_underflowing_uniform_share_runs_on_both_paths(capfd):
    program = morvane.compile(UNDERFLOW)
    for run in (lambda: morvane.run_flow(program, "F"),
                lambda: morvane.run_flow_with_evidence(program, "F", morvane.Evidence("e", "M"))):
        (group,) = run().get_graph("g").competing_groups()
        # Concentrations (2, tiny): the tiny one reads as its floor 0.01.
        assert group.probabilities == pytest.approx([2 / 2.01, 0.01 / 2.01])
    assert capfd.readouterr().err == ""


# ---- Chaining -----------------------------------------------------------------------------

def test_chaining_through_a_context():
    program = morvane.compile(CHAIN)
    first = morvane.run_flow(program, "First")
    assert first.metrics == {"count": 2.0, "n": 2.0}
    second = morvane.run_flow_with_context(program, "Second", first)
    # The prior's metrics reappear; its graphs only where exported again.
    assert second.metrics == {"count": 2.0, "doubled": 4.0, "n": 2.0}
    assert list(second.graphs) == ["again"]
    base, again = first.get_graph("base"), second.get_graph("again")
    assert [n.E("x") for n in again.nodes()] == [n.E("x") for n in base.nodes()] == [0.5, 1.5]
    # The prior is only read, and stays usable.
    assert first.metrics == {"count": 2.0, "n": 2.0} and list(first.graphs) == ["base"]
    # A Context carries only what it holds: "base" is gone one step later.
    with pytest.raises(RuntimeError, match="graph 'base' not found"):
        morvane.run_flow_with_context(program, "Second", second)


def test_evidence_run_with_and_without_prior():
    program = morvane.compile(CHAIN)
    ev = morvane.Evidence("e", "M")
    plain = morvane.run_flow_with_evidence(program, "First", ev)
    assert morvane.run_flow_with_evidence(program, "First", ev, None).metrics == plain.metrics
    assert morvane.run_flow_with_evidence(program, "First", ev, ctx=None).metrics == plain.metrics
    chained = morvane.run_flow_with_evidence(program, "Second", ev, plain)
    assert chained.get_metric("doubled") == 4.0


# ---- Run-time evidence --------------------------------------------------------------------

def test_runtime_observations_join_every_block_of_their_model():
    program = morvane.compile(TWO_BLOCKS)
    ev = morvane.Evidence("unused", "M")
    ev.observe_edge_forced_choice("P", "a", "picks", "C", "initech")
    ev.observe_numeric("C", "acme", "size", 4)
    ev.observe_numeric("P", "zed", "x", 1)  # a node neither block mentions
    plain = morvane.run_flow(program, "F")
    merged = morvane.run_flow_with_evidence(program, "F", ev)

    # Each block's own observations come first: its two choices, then the
    # forced choice, which resets them.
    assert group_probabilities(plain, "picks") == [[0.5, 0.5]]
    assert group_probabilities(merged, "picks") == [[1 / (1e6 + 1), 1e6 / (1e6 + 1)]]
    # (0, 1) observed 2 then 4 at precision 1: mean 6 / 3.
    acme = merged.get_graph("sizes").nodes("C")[0]
    assert (acme.name, acme.E("size"), acme.Var("size")) == ("acme", 2.0, 1 / 3)
    # Every run-time observation reaches both graphs.
    for name in ("picks", "sizes"):
        assert [n.name for n in merged.get_graph(name).nodes()] == ["acme", "initech", "a", "zed"]
    assert merged.get_metric("people") == 2.0 and plain.get_metric("people") == 0.0

    # Later changes do not reach a finished run; a cleared object adds nothing.
    ev.clear()
    assert group_probabilities(merged, "picks") == [[1 / (1e6 + 1), 1e6 / (1e6 + 1)]]
    cleared = morvane.run_flow_with_evidence(program, "F", ev)
    assert group_probabilities(cleared, "picks") == [[0.5, 0.5]]


def test_runtime_observations_on_another_model_change_nothing():
    program = morvane.compile(TWO_BLOCKS)
    ev = morvane.Evidence("e", "Other")
    ev.observe_numeric("Q", "q", "x", 1)  # would fail on a matching block
    plain = morvane.run_flow(program, "F")
    other = morvane.run_flow_with_evidence(program, "F", ev)
    assert other.metrics == plain.metrics
    for name in ("picks", "sizes"):
        nodes_of = lambda ctx: [(n.id, n.label, n.E("size") if n.has_attr("size") else None)
                                for n in ctx.get_graph(name).nodes()]
        assert nodes_of(other) == nodes_of(plain)
        assert group_probabilities(other, name) == group_probabilities(plain, name)


# ---- The interpreter lock ------------------------------------------------------------------

@pytest.mark.parametrize("run", ["run_flow", "run_flow_with_context", "run_flow_with_evidence"])
def test_other_threads_run_during_a_long_run(long_run, run):
    prior = morvane.run_flow(morvane.compile(CHAIN), "First")
    calls = {
        "run_flow": lambda: morvane.run_flow(long_run, "Long"),
        "run_flow_with_context": lambda: morvane.run_flow_with_context(long_run, "Long", prior),
        "run_flow_with_evidence": lambda: morvane.run_flow_with_evidence(
            long_run, "Long", morvane.Evidence("e", "M")),
    }
    ctx, ticks = run_beside(calls[run])
    assert ctx.get_metric("nodes") == LONG_CHAIN + 1
    assert ticks > 100


def test_evidence_is_not_changed_while_a_run_holds_it(long_run):
    ev = morvane.Evidence("e", "Other")
    expected = morvane.run_flow(long_run, "Long").metrics
    refusals = []
    for _ in range(20):  # until a change meets the run in progress
        done = threading.Event()
        result = {}

        def work():
            try:
                result["ctx"] = morvane.run_flow_with_evidence(long_run, "Long", ev)
            finally:
                done.set()

        worker = threading.Thread(target=work)
        worker.start()
        while not done.is_set():
            try:
                ev.clear()
            except RuntimeError as error:
                refusals.append(str(error))
            time.sleep(0)
        worker.join()
        assert result["ctx"].metrics == expected  # the run is not disturbed
        if refusals:
            break
    assert refusals and set(refusals) == {"Already borrowed"}
    ev.clear()  # free again once the run is over


# ---- Failing runs fail alike every time ----------------------------------------------------

FAILING = {
    "evidence graph": (MODEL + """
schema T { node P { x: Real } edge pick {} }
belief_model N on T {
    node P { x ~ Gaussian(mean = 0, precision = 1) }
    edge pick { exist ~ Categorical(group_by = source, prior = [1, 2]) }
}
evidence E on N { observe edge pick(P(a), P(b)) chosen; }
flow F on N { graph g = from_evidence E  export g as "g" }
""", "Validation error: Explicit CategoricalPrior must match fixed category count "
     "(got 2, expected 1)"),
    "graph from no prior": (MODEL + """
flow F on M { graph g = from_graph "kept"  export g as "g" }
""", "Internal error: graph 'kept' not found in prior flow exports or snapshots"),
}


@pytest.mark.parametrize("source, message", FAILING.values(), ids=FAILING.keys())
def test_a_failing_run_fails_alike_on_first_and_later_runs(source, message):
    program = morvane.compile(source)
    runs = [lambda: morvane.run_flow(program, "F"),
            lambda: morvane.run_flow_with_evidence(program, "F", morvane.Evidence("e", "M"))]
    for run in runs + runs:
        with pytest.raises((ValueError, RuntimeError)) as raised:
            run()
        assert str(raised.value) == message
