"""Bad input to every public callable: wrong types, None, huge and deep
values, NaN and infinities, empty names, names with NUL, lone surrogates,
wrong argument counts and unknown keywords. Each gives a clean Python
exception, or a defined result where the module accepts the input; none
may bring the process down or leave the module unusable."""
import math
from types import SimpleNamespace

import pytest

import morvane
from picks_model import MODEL

SOURCE = MODEL + """evidence E on M {
    observe P(a).x = 1;
    observe edge k(P(a), P(b)) present;
    observe edge picks(P(a), C(acme)) chosen;
    observe edge picks(P(a), C(ini)) unchosen;
}
flow F on M {
    graph g = from_evidence E
    metric n = nodes(P) |> count()
    export g as "g"
}
flow G on M { graph h = from_graph "g" export h as "h" }
"""

HUGE = "x" * 10_000_000
NUL = "a\0b"
LONE = "\ud800"
DEEP_LIST = []
for _ in range(100_000):
    DEEP_LIST = [DEEP_LIST]


@pytest.fixture(scope="module")
def env():
    program = morvane.compile(SOURCE)
    ctx = morvane.run_flow(program, "F")
    graph = ctx.get_graph("g")
    return SimpleNamespace(
        program=program, ctx=ctx, graph=graph,
        node=graph.nodes("P")[0], edge=graph.edges("k")[0], group=graph.competing_groups()[0])


def x_after(value):
    """E[a.x] after a run with `value` observed for P(a).x at run time."""
    def run(env):
        ev = morvane.Evidence("rt", "M")
        ev.observe_numeric("P", "a", "x", value)
        ctx = morvane.run_flow_with_evidence(env.program, "F", ev)
        return ctx.get_graph("g").nodes("P")[0].E("x")
    return run


def observe(method, *args, **kwargs):
    return lambda env: getattr(morvane.Evidence("e", "M"), method)(*args, **kwargs)


def not_str(name, type_name):
    return TypeError, f"argument '{name}': '{type_name}' object cannot be converted to 'PyString'"


SURROGATE = (UnicodeEncodeError, "surrogates not allowed")
EDGE = ("P", "a", "k", "P", "b")
MISSING_ATTR = "missing attr '{}'"

# (call of the fixture objects, expected): the exception type and a fragment
# of its message, or a check of the result the module defines.
CASES = {
    # compile
    "compile None": (lambda env: morvane.compile(None), not_str("source", "NoneType")),
    "compile bytes": (lambda env: morvane.compile(SOURCE.encode()), not_str("source", "bytes")),
    "compile deep list": (lambda env: morvane.compile(DEEP_LIST), not_str("source", "list")),
    "compile empty": (lambda env: morvane.compile(""),
                      lambda p: (p.get_flow_names(), p.get_schema_names()) == ([], [])),
    "compile huge": (lambda env: morvane.compile(HUGE), (ValueError, "Parse error:  --> 1:1")),
    "compile huge comment": (lambda env: morvane.compile("// " + HUGE + "\n" + SOURCE),
                             lambda p: p.get_flow_names() == ["F", "G"]),
    "compile deep": (lambda env: morvane.compile("flow F on M { metric m = " + "(" * 100_000),
                     (ValueError, "nesting too deep")),
    "compile NUL": (lambda env: morvane.compile(NUL), (ValueError, "expected program")),
    "compile surrogate": (lambda env: morvane.compile(SOURCE + LONE), SURROGATE),
    "compile no args": (lambda env: morvane.compile(),
                        (TypeError, "compile() missing 1 required positional argument: 'source'")),
    "compile two args": (lambda env: morvane.compile(SOURCE, SOURCE),
                         (TypeError, "compile() takes 1 positional arguments but 2 were given")),
    "compile unknown kwarg": (lambda env: morvane.compile(src=SOURCE),
                              (TypeError, "compile() got an unexpected keyword argument 'src'")),
    # run_flow and its two siblings
    "run_flow program None": (lambda env: morvane.run_flow(None, "F"),
                              (TypeError, "argument 'program': 'NoneType' object cannot be "
                                          "converted to 'Program'")),
    "run_flow name None": (lambda env: morvane.run_flow(env.program, None),
                           not_str("flow_name", "NoneType")),
    "run_flow name NaN": (lambda env: morvane.run_flow(env.program, math.nan),
                          not_str("flow_name", "float")),
    "run_flow empty name": (lambda env: morvane.run_flow(env.program, ""),
                            (RuntimeError, "Internal error: unknown flow ''")),
    "run_flow NUL name": (lambda env: morvane.run_flow(env.program, NUL),
                          (RuntimeError, "Internal error: unknown flow 'a\0b'")),
    "run_flow huge name": (lambda env: morvane.run_flow(env.program, HUGE),
                           (RuntimeError, "Internal error: unknown flow 'xxxx")),
    "run_flow surrogate": (lambda env: morvane.run_flow(env.program, "F" + LONE), SURROGATE),
    "run_flow unknown kwarg": (lambda env: morvane.run_flow(env.program, "F", ctx=env.ctx),
                               (TypeError, "run_flow() got an unexpected keyword argument 'ctx'")),
    "with_context ctx None": (
        lambda env: morvane.run_flow_with_context(env.program, "G", None),
        (TypeError, "argument 'ctx': 'NoneType' object cannot be converted to 'Context'")),
    "with_context ctx is a graph": (
        lambda env: morvane.run_flow_with_context(env.program, "G", env.graph),
        (TypeError, "argument 'ctx': 'BeliefGraph' object cannot be converted to 'Context'")),
    "with_context missing ctx": (
        lambda env: morvane.run_flow_with_context(env.program, "G"),
        (TypeError, "run_flow_with_context() missing 1 required positional argument: 'ctx'")),
    "with_context surrogate": (
        lambda env: morvane.run_flow_with_context(env.program, LONE, env.ctx), SURROGATE),
    "with_evidence evidence None": (
        lambda env: morvane.run_flow_with_evidence(env.program, "F", None),
        (TypeError, "argument 'evidence': 'NoneType' object cannot be converted to 'Evidence'")),
    "with_evidence ctx str": (
        lambda env: morvane.run_flow_with_evidence(env.program, "F",
                                                   morvane.Evidence("e", "M"), "ctx"),
        (TypeError, "argument 'ctx': 'str' object cannot be converted to 'Context'")),
    "with_evidence unknown kwarg": (
        lambda env: morvane.run_flow_with_evidence(env.program, "F", morvane.Evidence("e", "M"),
                                                   prior=env.ctx),
        (TypeError, "run_flow_with_evidence() got an unexpected keyword argument 'prior'")),
    "with_evidence empty names": (
        lambda env: morvane.run_flow_with_evidence(env.program, "F", run_time("", "a", "x")),
        (ValueError, "Validation error: Node type '' not found in schema 'S'")),
    "with_evidence NUL names": (
        lambda env: morvane.run_flow_with_evidence(env.program, "F", run_time("P", "a", NUL)),
        (ValueError, "Validation error: Attribute 'a\0b' not declared for node type 'P'")),
    # A non-finite observation would make a non-finite belief: the run fails.
    "observed NaN": (x_after(math.nan), (ValueError, "non-finite value: NaN")),
    "observed inf": (x_after(math.inf), (ValueError, "non-finite value: inf")),
    "observed -inf": (x_after(-math.inf), (ValueError, "non-finite value: -inf")),
    # Program
    "get_flow_names arg": (lambda env: env.program.get_flow_names(1),
                           (TypeError, "Program.get_flow_names() takes no arguments (1 given)")),
    "get_schema_names kwarg": (
        lambda env: env.program.get_schema_names(x=1),
        (TypeError, "Program.get_schema_names() takes no keyword arguments")),
    "get_belief_model_names None": (
        lambda env: env.program.get_belief_model_names(None),
        (TypeError, "Program.get_belief_model_names() takes no arguments (1 given)")),
    "Program method on Evidence": (
        lambda env: morvane.Program.get_flow_names(morvane.Evidence("e", "M")),
        (TypeError, "incompatible function arguments")),
    # Context
    "get_graph None": (lambda env: env.ctx.get_graph(None), not_str("name", "NoneType")),
    "get_graph empty": (lambda env: env.ctx.get_graph(""), lambda r: r is None),
    "get_graph NUL": (lambda env: env.ctx.get_graph("g\0"), lambda r: r is None),
    "get_graph huge": (lambda env: env.ctx.get_graph(HUGE), lambda r: r is None),
    "get_graph surrogate": (lambda env: env.ctx.get_graph(LONE), SURROGATE),
    "get_metric NaN": (lambda env: env.ctx.get_metric(math.nan), not_str("name", "float")),
    "get_metric NUL": (lambda env: env.ctx.get_metric("n\0"), lambda r: r is None),
    "get_metric no args": (
        lambda env: env.ctx.get_metric(),
        (TypeError, "Context.get_metric() missing 1 required positional argument: 'name'")),
    # Evidence
    "Evidence None": (lambda env: morvane.Evidence(None, "M"), not_str("name", "NoneType")),
    "Evidence surrogate": (lambda env: morvane.Evidence("e", LONE), SURROGATE),
    "Evidence odd names": (lambda env: morvane.Evidence("", NUL),
                           lambda ev: (ev.name, ev.model) == ("", NUL)),
    "Evidence huge name": (lambda env: morvane.Evidence(HUGE, "M"),
                           lambda ev: ev.name == HUGE),
    "Evidence three args": (
        lambda env: morvane.Evidence("e", "M", "x"),
        (TypeError, "Evidence.__new__() takes 2 positional arguments but 3 were given")),
    "Evidence unknown kwarg": (
        lambda env: morvane.Evidence("e", "M", schema="S"),
        (TypeError, "Evidence.__new__() got an unexpected keyword argument 'schema'")),
    "observe_numeric str value": (observe("observe_numeric", "P", "a", "x", "1"),
                                  (TypeError, "argument 'value': must be real number, not str")),
    "observe_numeric None value": (
        observe("observe_numeric", "P", "a", "x", None),
        (TypeError, "argument 'value': must be real number, not NoneType")),
    "observe_numeric huge int": (
        observe("observe_numeric", "P", "a", "x", 10 ** 400),
        (OverflowError, "int too large to convert to float")),
    "observe_numeric surrogate": (observe("observe_numeric", "P", LONE, "x", 1.0), SURROGATE),
    "observe_numeric names None": (observe("observe_numeric", None, "a", "x", 1.0),
                                   not_str("node_type", "NoneType")),
    "observe_numeric odd names": (observe("observe_numeric", "", NUL, HUGE, 1.0),
                                  lambda r: r is None),
    "observe_edge present 1": (
        observe("observe_edge", *EDGE, 1),
        (TypeError, "argument 'present': 'int' object cannot be converted to 'PyBool'")),
    "observe_edge present NaN": (
        observe("observe_edge", *EDGE, math.nan),
        (TypeError, "argument 'present': 'float' object cannot be converted to 'PyBool'")),
    "observe_edge surrogate": (observe("observe_edge", "P", "a", LONE, "P", "b", True),
                               SURROGATE),
    "observe_edge_chosen bytes": (observe("observe_edge_chosen", "P", b"a", "picks", "C", "x"),
                                  not_str("src_id", "bytes")),
    "observe_edge_unchosen too few": (
        observe("observe_edge_unchosen", "P", "a"),
        (TypeError, "Evidence.observe_edge_unchosen() missing 3 required positional arguments: "
                    "'edge_type', 'dst_type', and 'dst_id'")),
    "observe_edge_forced_choice kwarg": (
        observe("observe_edge_forced_choice", *EDGE, present=True),
        (TypeError, "Evidence.observe_edge_forced_choice() got an unexpected keyword argument "
                    "'present'")),
    "observe_edge_forced_choice odd names": (
        observe("observe_edge_forced_choice", "", NUL, HUGE, "", ""), lambda r: r is None),
    "clear with args": (observe("clear", 1), (TypeError, "Evidence.clear() takes no arguments")),
    "Evidence method on Program": (
        lambda env: morvane.Evidence.observe_numeric(env.program, "P", "a", "x", 1.0),
        (TypeError, "incompatible function arguments")),
    # Graph views
    "nodes int": (lambda env: env.graph.nodes(1), not_str("label", "int")),
    "nodes empty": (lambda env: env.graph.nodes(""), lambda r: r == []),
    "nodes NUL": (lambda env: env.graph.nodes("P\0"), lambda r: r == []),
    "nodes surrogate": (lambda env: env.graph.nodes(LONE), SURROGATE),
    "nodes two args": (lambda env: env.graph.nodes("P", "C"),
                       (TypeError, "BeliefGraph.nodes() takes from 0 to 1 positional arguments "
                                   "but 2 were given")),
    "edges huge": (lambda env: env.graph.edges(HUGE), lambda r: r == []),
    "edges unknown kwarg": (
        lambda env: env.graph.edges(type="k"),
        (TypeError, "BeliefGraph.edges() got an unexpected keyword argument 'type'")),
    "competing_groups bytes": (lambda env: env.graph.competing_groups(b"picks"),
                               not_str("edge_type", "bytes")),
    "competing_groups surrogate": (lambda env: env.graph.competing_groups(LONE), SURROGATE),
    "to_pandas arg": (lambda env: env.graph.to_pandas(0.5),
                      (TypeError, "BeliefGraph.to_pandas() takes no arguments (1 given)")),
    "to_networkx str": (lambda env: env.graph.to_networkx("0.5"),
                        (TypeError, "argument 'threshold': must be real number, not str")),
    # A NaN threshold drops no edge, as no probability is below it; +inf drops all.
    "to_networkx NaN": (lambda env: env.graph.to_networkx(math.nan),
                        lambda g: g.number_of_edges() == 3),
    "to_networkx inf": (lambda env: env.graph.to_networkx(math.inf),
                        lambda g: g.number_of_edges() == 0),
    "E None": (lambda env: env.node.E(None), not_str("attr", "NoneType")),
    "E empty": (lambda env: env.node.E(""), (RuntimeError, MISSING_ATTR.format(""))),
    "E NUL": (lambda env: env.node.E("x\0"), (RuntimeError, MISSING_ATTR.format("x\0"))),
    "Var huge": (lambda env: env.node.Var(HUGE), (RuntimeError, "missing attr 'xxxx")),
    "Var surrogate": (lambda env: env.node.Var(LONE), SURROGATE),
    "has_attr NUL": (lambda env: env.node.has_attr("x\0"), lambda r: r is False),
    "has_attr no args": (
        lambda env: env.node.has_attr(),
        (TypeError, "NodeView.has_attr() missing 1 required positional argument: 'attr'")),
    "is_competing arg": (lambda env: env.edge.is_competing(None),
                         (TypeError, "EdgeView.is_competing() takes no arguments (1 given)")),
    "winner str": (lambda env: env.group.winner("0.1"),
                   (TypeError, "argument 'epsilon': must be real number, not str")),
    # A tie needs two categories closer than epsilon: never with NaN, always with +inf.
    "winner NaN": (lambda env: env.group.winner(math.nan), lambda r: r == env_group_top()),
    "winner inf": (lambda env: env.group.winner(math.inf), lambda r: r is None),
    "winner kwarg": (lambda env: env.group.winner(eps=0.1),
                     (TypeError, "CompetingGroup.winner() got an unexpected keyword argument "
                                 "'eps'")),
    "prob_vector arg": (lambda env: env.group.prob_vector(1),
                        (TypeError, "CompetingGroup.prob_vector() takes no arguments (1 given)")),
}


def run_time(node_type, label, attr):
    ev = morvane.Evidence("rt", "M")
    ev.observe_numeric(node_type, label, attr, 1.0)
    return ev


def env_group_top():
    # acme, observed chosen, is the more probable category of the group.
    program = morvane.compile(SOURCE)
    graph = morvane.run_flow(program, "F").get_graph("g")
    return {n.name: n.id for n in graph.nodes("C")}["acme"]


@pytest.mark.parametrize("case", CASES)
def test_bad_input_gives_a_clean_answer(env, case):
    call, expected = CASES[case]
    if isinstance(expected, tuple):
        error_type, fragment = expected
        with pytest.raises(BaseException) as caught:
            call(env)
        assert type(caught.value) is error_type, caught.value
        assert fragment in str(caught.value)
    else:
        assert expected(call(env))
    # The module goes on working.
    assert morvane.run_flow(env.program, "F").metrics == {"n": 2.0}
