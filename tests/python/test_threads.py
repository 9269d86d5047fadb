"""Runs from many threads at once: one shared Program, one shared Context,
an Evidence changed while a run holds it. Every run must give exactly what
the same run gives alone.

The stress test runs for MORVANE_STRESS_SECONDS (20 by default)."""
import os
import threading
import time
from pathlib import Path

import pytest

import morvane
from picks_model import MODEL

FIXTURES = Path(__file__).resolve().parents[1] / "fixtures" / "programs"
STRESS_SECONDS = float(os.environ.get("MORVANE_STRESS_SECONDS", "20"))
ATTRS = ("capacity", "risk", "reliability", "cost", "demand", "growth", "sales", "x")
SUPPLIERS = ("acme", "globex", "initech")


def fixture_program(name):
    return morvane.compile((FIXTURES / f"{name}.mv").read_text())


def graph_listing(graph):
    nodes = [(n.id, n.label, n.name,
              [(a, n.E(a), n.Var(a)) for a in ATTRS if n.has_attr(a)]) for n in graph.nodes()]
    edges = [(e.src, e.dst, e.type, e.prob, e.forced_state, e.is_competing())
             for e in graph.edges()]
    groups = [(g.source_node, g.edge_type, g.categories, g.probabilities, g.entropy)
              for g in graph.competing_groups()]
    return nodes, edges, groups


def outcome(ctx):
    """Everything a run hands back, in plain values."""
    return (ctx.metrics,
            {alias: graph_listing(graph) for alias, graph in ctx.graphs.items()},
            ctx.inference_diagnostics)


def bulk_evidence(plants):
    """Plants, routes and supplier choices on top of the fixture's contracts:
    a run that spends its time in the engine, without the interpreter lock."""
    ev = morvane.Evidence("bulk", "SupplyBeliefs")
    for i in range(plants):
        plant = f"p{i}"
        ev.observe_numeric("Plant", plant, "capacity", 50.0 + i)
        ev.observe_numeric("Plant", plant, "risk", (i % 7) / 10)
        ev.observe_edge("Supplier", SUPPLIERS[i % 3], "ships_to", "Plant", plant, i % 4 != 0)
        ev.observe_edge_chosen("Plant", plant, "sources_from", "Supplier", SUPPLIERS[i % 3])
        ev.observe_edge_unchosen("Plant", plant, "sources_from", "Supplier",
                                 SUPPLIERS[(i + 1) % 3])
    return ev


def run_threads(count, work):
    """Runs work(index) on `count` threads; returns what each raised, if anything."""
    errors = [None] * count

    def target(index):
        try:
            work(index)
        except BaseException as error:  # reported by the caller
            errors[index] = error

    threads = [threading.Thread(target=target, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return errors


def test_shared_program_under_load():
    program = fixture_program("supply_chain")
    evidence = bulk_evidence(300)
    calls = [
        lambda: morvane.run_flow(program, "Plan"),
        lambda: morvane.run_flow_with_evidence(program, "Plan", evidence),
    ]
    expected = [outcome(call()) for call in calls]
    assert expected[0] != expected[1]

    threads = 8
    runs = [0] * threads
    mismatches = [0] * threads
    deadline = time.monotonic() + STRESS_SECONDS

    def work(index):
        i = index  # threads start on different calls
        while time.monotonic() < deadline:
            which = i % len(calls)
            if outcome(calls[which]()) != expected[which]:
                mismatches[index] += 1
            runs[index] += 1
            i += 1

    started = time.monotonic()
    errors = run_threads(threads, work)
    elapsed = time.monotonic() - started
    print(f"\nshared program: {sum(runs)} runs on {threads} threads in {elapsed:.1f} s, "
          f"{sum(mismatches)} mismatches; per thread {runs}")
    assert errors == [None] * threads
    assert sum(mismatches) == 0
    assert all(r > 0 for r in runs), runs


def market_evidence(regions):
    ev = morvane.Evidence("market", "MarketBeliefs")
    for i in range(regions):
        ev.observe_numeric("Region", f"r{i}", "demand", 500.0 + 5 * i)
        for j in range(2):
            store = f"s{i}_{j}"
            ev.observe_numeric("Store", store, "sales", 100.0 + i + j)
            ev.observe_edge("Store", store, "serves", "Region", f"r{i}", j == 0)
        ev.observe_edge_chosen("Store", f"s{i}_0", "competes", "Store", f"s{i}_1")
    return ev


def test_shared_context_chained_from_many_threads():
    program = fixture_program("chained_forecast")
    evidence = market_evidence(200)
    first = morvane.run_flow_with_evidence(program, "Stage1", evidence)
    first_before = outcome(first)
    calls = [
        lambda: morvane.run_flow_with_context(program, "Stage2", first),
        lambda: morvane.run_flow_with_evidence(program, "Stage2", evidence, first),
    ]
    expected = [outcome(call()) for call in calls]
    # The prior's metrics and its graph of 605 nodes reached the second stage.
    assert {"total_demand", "demand_change"} <= set(expected[0][0])
    assert len(expected[0][1]["stage2"][0]) == 605

    threads, rounds = 6, 150
    results = [[] for _ in range(threads)]

    def work(index):
        for r in range(rounds):
            which = (index + r) % len(calls)
            results[index].append(outcome(calls[which]()) == expected[which])

    errors = run_threads(threads, work)
    assert errors == [None] * threads
    assert [len(r) for r in results] == [rounds] * threads
    assert all(all(r) for r in results)
    # The prior is only read.
    assert outcome(first) == first_before


# A flow whose run takes a while (belief propagation over a long chain), and
# whose result depends on the run-time observations.
LONG = MODEL + """evidence Chain on M { k(P -> P) { %s } }
flow Long on M {
    graph g = from_evidence Chain
    graph h = g |> infer_beliefs
    metric total = nodes(P) |> sum(by = E[node.x])
    metric picked = nodes(C) |> count()
    export h as "h"
}
"""

MUTATIONS = [
    lambda ev: ev.observe_numeric("P", "n1", "x", 100.0),
    lambda ev: ev.observe_edge("P", "n1", "k", "P", "n3", False),
    lambda ev: ev.observe_edge_chosen("P", "n0", "picks", "C", "b"),
    lambda ev: ev.observe_edge_unchosen("P", "n0", "picks", "C", "a"),
    lambda ev: ev.observe_edge_forced_choice("P", "n0", "picks", "C", "b"),
    lambda ev: ev.clear(),
]


def initial_evidence():
    ev = morvane.Evidence("rt", "M")
    ev.observe_numeric("P", "n0", "x", 5.0)
    ev.observe_edge_chosen("P", "n0", "picks", "C", "a")
    return ev


def test_evidence_changed_during_a_run_is_refused_and_the_run_is_undisturbed():
    chain = ", ".join(f"n{i} -> n{i + 1}" for i in range(40000))
    program = morvane.compile(LONG % chain)
    ev = initial_evidence()
    expected = outcome(morvane.run_flow_with_evidence(program, "Long", ev))
    assert expected[0] == {"total": pytest.approx(2.5), "picked": 1.0}
    assert expected != outcome(morvane.run_flow(program, "Long"))

    # One change is tried per run, while the run holds the evidence; the next
    # run tries the next change. A change that goes through came before the
    # run took the evidence (or after it let go): that run proves nothing and
    # the evidence is made afresh.
    refused = set()
    checked_after = False
    for _ in range(60):  # until every change has met a run in progress
        started = threading.Event()
        result = {}

        def work():
            started.set()
            result["ctx"] = morvane.run_flow_with_evidence(program, "Long", ev)

        mutation = len(refused) % len(MUTATIONS)
        worker = threading.Thread(target=work)
        worker.start()
        started.wait()
        went_through = False
        try:
            MUTATIONS[mutation](ev)
        except RuntimeError as error:
            assert str(error) == "Already borrowed"
        else:
            went_through = True
        worker.join()
        if went_through:
            ev = initial_evidence()
            continue
        refused.add(mutation)
        assert outcome(result["ctx"]) == expected
        if not checked_after:
            # Nothing of the refused change stuck.
            assert outcome(morvane.run_flow_with_evidence(program, "Long", ev)) == expected
            checked_after = True
        if refused == set(range(len(MUTATIONS))):
            break
    assert refused == set(range(len(MUTATIONS)))
    assert checked_after
    ev.clear()  # free again once the runs are over


def test_first_runs_of_a_fresh_program_from_many_threads():
    """What a Program makes once (its lowered program, its evidence blocks'
    indexes) is made by whichever run comes first: runs racing to be first
    still agree with a run made alone."""
    source = (FIXTURES / "supply_chain.mv").read_text()
    alone = morvane.compile(source)
    evidence = bulk_evidence(50)
    calls = [
        lambda p: morvane.run_flow(p, "Plan"),
        lambda p: morvane.run_flow_with_evidence(p, "Plan", evidence),
    ]
    expected = [outcome(call(alone)) for call in calls]
    threads = 6
    for _ in range(10):
        fresh = morvane.compile(source)
        start = threading.Barrier(threads)
        results = [None] * threads

        def work(index):
            start.wait()
            results[index] = outcome(calls[index % 2](fresh))

        assert run_threads(threads, work) == [None] * threads
        assert results == [expected[i % 2] for i in range(threads)]
