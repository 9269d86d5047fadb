"""BeliefGraph.to_pandas and BeliefGraph.to_networkx on a flow's exported
graph (graph_program.py), against hand-checked tables."""
import sys
import types

import networkx
import pandas
import pytest

from graph_program import PROB_KNOWS, PROB_TRUSTS, graphs

V = 1 / 1e-7  # the exported variance of age: no floor

NODE_ROWS = [
    {"id": "0", "label": "Company", "age_mean": None, "age_var": None,
     "size_mean": 104.0, "size_var": 0.2, "trust_mean": None, "trust_var": None},
    {"id": "1", "label": "Company", "age_mean": None, "age_var": None,
     "size_mean": 100.0, "size_var": 0.25, "trust_mean": None, "trust_var": None},
    {"id": "2", "label": "Person", "age_mean": 30.0, "age_var": V,
     "size_mean": None, "size_var": None, "trust_mean": 1.125, "trust_var": 0.25},
    {"id": "3", "label": "Person", "age_mean": 30.0, "age_var": V,
     "size_mean": None, "size_var": None, "trust_mean": 0.0, "trust_var": 1.0},
    {"id": "4", "label": "Person", "age_mean": 30.0, "age_var": V,
     "size_mean": None, "size_var": None, "trust_mean": 0.0, "trust_var": 1.0},
]

EDGE_ROWS = [
    {"src": "2", "dst": "3", "type": "knows", "prob": PROB_KNOWS, "forced_state": "absent"},
    {"src": "3", "dst": "2", "type": "likes", "prob": 2 / 3, "forced_state": None},
    {"src": "4", "dst": "2", "type": "trusts", "prob": PROB_TRUSTS, "forced_state": "present"},
    {"src": "2", "dst": "0", "type": "works_at", "prob": 0.75, "forced_state": None},
    {"src": "2", "dst": "1", "type": "works_at", "prob": 0.25, "forced_state": None},
    {"src": "3", "dst": "0", "type": "works_at", "prob": 0.5, "forced_state": None},
    {"src": "3", "dst": "1", "type": "works_at", "prob": 0.5, "forced_state": None},
]

# Each node's own attributes, in its attribute order (not sorted).
NX_NODES = {
    "0": {"label": "Company", "size_mean": 104.0, "size_var": 0.2},
    "1": {"label": "Company", "size_mean": 100.0, "size_var": 0.25},
    "2": {"label": "Person", "trust_mean": 1.125, "trust_var": 0.25,
          "age_mean": 30.0, "age_var": V},
    "3": {"label": "Person", "trust_mean": 0.0, "trust_var": 1.0, "age_mean": 30.0, "age_var": V},
    "4": {"label": "Person", "trust_mean": 0.0, "trust_var": 1.0, "age_mean": 30.0, "age_var": V},
}


@pytest.fixture(scope="module")
def g():
    return graphs()[0]


def edge_attrs(row):
    return {k: row[k] for k in ("type", "prob", "forced_state")}


def assert_frame(frame, rows):
    expected = pandas.DataFrame(rows)
    assert list(frame.columns) == list(expected.columns)
    assert list(frame.dtypes) == list(expected.dtypes)
    assert frame.equals(expected)


def test_to_pandas(g):
    # The frames are the ones pandas makes from the rows as dicts: missing
    # values, a column of None alone and empty tables included.
    nodes, edges = g.to_pandas()
    assert list(nodes.columns) == [
        "id", "label", "age_mean", "age_var", "size_mean", "size_var", "trust_mean", "trust_var"]
    assert_frame(nodes, NODE_ROWS)
    assert_frame(edges, EDGE_ROWS)
    _, empty, plain = graphs()
    empty_nodes, empty_edges = empty.to_pandas()
    assert_frame(empty_nodes, [])
    assert_frame(empty_edges, [])
    plain_nodes, plain_edges = plain.to_pandas()
    assert_frame(plain_nodes, [
        {"id": id, "label": "Person", "age_mean": 30.0, "age_var": V, "trust_mean": 0.0,
         "trust_var": 1.0} for id in ("0", "1")])
    assert_frame(plain_edges, [
        {"src": "1", "dst": "0", "type": "likes", "prob": 2 / 3, "forced_state": None}])


def test_exported_variance_has_no_floor(g):
    alice = g.nodes()[2]
    assert alice.Var("age") == 1000000.0
    nodes, _ = g.to_pandas()
    assert nodes["age_var"][2] == V == 10000000.0
    assert g.to_networkx().nodes["2"]["age_var"] == V


def test_to_networkx(g):
    graph = g.to_networkx()
    assert isinstance(graph, networkx.Graph) and not graph.is_directed()
    assert dict(graph.nodes(data=True)) == NX_NODES
    assert [list(a) for _, a in graph.nodes(data=True)] == [list(a) for a in NX_NODES.values()]
    # knows 2->3 and likes 3->2 join the same two nodes: the later one stays.
    kept = [EDGE_ROWS[i] for i in (1, 2, 3, 4, 5, 6)]
    assert graph.number_of_edges() == 6
    for row in kept:
        assert graph.edges[row["src"], row["dst"]] == edge_attrs(row)
    assert list(g.to_networkx(None).edges(data=True)) == list(graph.edges(data=True))
    # Edges below the threshold go; one exactly at it stays; every node stays.
    half = g.to_networkx(threshold=0.5)
    assert half.number_of_nodes() == 5
    assert sorted(half.edges) == [("0", "2"), ("0", "3"), ("1", "3"), ("2", "3"), ("2", "4")]
    assert g.to_networkx(2).number_of_edges() == 0
    assert graphs()[1].to_networkx().number_of_nodes() == 0


def test_calls_made_on_the_packages(g, monkeypatch):
    calls = []

    class RecordingGraph:
        def __init__(self, *args, **kwargs):
            calls.append(("Graph", args, kwargs))

        def add_node(self, *args, **attrs):
            calls.append(("node", args, list(attrs.items())))

        def add_edge(self, *args, **attrs):
            calls.append(("edge", args, list(attrs.items())))

    def data_frame(*args, **kwargs):
        calls.append(("DataFrame", args, kwargs))
        return len(calls)

    monkeypatch.setitem(sys.modules, "networkx", types.SimpleNamespace(Graph=RecordingGraph))
    monkeypatch.setitem(sys.modules, "pandas", types.SimpleNamespace(DataFrame=data_frame))
    g.to_networkx(0.3)
    assert calls == [("Graph", (), {})] + [
        ("node", (id,), list(attrs.items())) for id, attrs in NX_NODES.items()] + [
        ("edge", (row["src"], row["dst"]), list(edge_attrs(row).items()))
        for row in EDGE_ROWS if row["prob"] >= 0.3]
    calls.clear()
    # Tables go to pandas as columns, in table order.
    assert g.to_pandas() == (1, 2)
    assert [name for name, _, _ in calls] == ["DataFrame", "DataFrame"]
    (nodes,), (edges,) = calls[0][1], calls[1][1]
    assert list(nodes.items()) == [(k, [row[k] for row in NODE_ROWS]) for k in NODE_ROWS[0]]
    assert list(edges.items()) == [(k, [row[k] for row in EDGE_ROWS]) for k in EDGE_ROWS[0]]


MESSAGES = {
    "pandas": "pandas is not installed. Install with: uv pip install pandas",
    "networkx": "networkx is not installed. Install with: uv pip install networkx",
}


class FailingFinder:
    def __init__(self, error):
        self.error = error

    def find_spec(self, name, path=None, target=None):
        if name in MESSAGES:
            raise self.error
        return None


@pytest.mark.parametrize("package", list(MESSAGES))
def test_a_failed_import_raises_the_fixed_message(g, monkeypatch, package):
    export = g.to_pandas if package == "pandas" else g.to_networkx
    monkeypatch.setitem(sys.modules, package, None)
    with pytest.raises(RuntimeError) as caught:
        export()
    assert type(caught.value) is RuntimeError and str(caught.value) == MESSAGES[package]

    monkeypatch.delitem(sys.modules, package)
    monkeypatch.setattr(sys, "meta_path", [FailingFinder(ValueError("broken"))] + sys.meta_path)
    with pytest.raises(RuntimeError) as caught:
        export()
    assert str(caught.value) == MESSAGES[package]
    # An interrupt during the import is not a missing package.
    sys.meta_path[0] = FailingFinder(KeyboardInterrupt())
    with pytest.raises(KeyboardInterrupt):
        export()
