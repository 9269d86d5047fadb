"""BeliefGraph, NodeView, EdgeView and CompetingGroup on a flow's exported
graph (graph_program.py): listings, queries, identities and wrong calls."""
import gc
import math

import pytest

from graph_program import PROB_KNOWS, PROB_TRUSTS, graphs


@pytest.fixture(scope="module")
def g():
    return graphs()[0]


def test_node_listings(g):
    nodes = g.nodes()
    assert [(n.id, n.label, n.name) for n in nodes] == [
        ("0", "Company", "acme"), ("1", "Company", "initech"),
        ("2", "Person", "alice"), ("3", "Person", "bob"), ("4", "Person", "carol")]
    assert repr(nodes[2]) == "NodeView(id=2, label=Person)"
    assert [n.id for n in g.nodes("Company")] == ["0", "1"]
    assert [n.id for n in g.nodes(label="Person")] == ["2", "3", "4"]
    assert [n.id for n in g.nodes(None)] == [n.id for n in nodes]
    assert g.nodes("person") == [] and g.nodes("Nobody") == []
    assert repr(g) == "BeliefGraph(<opaque>)"


def test_node_queries(g):
    acme, initech, alice, bob, _ = g.nodes()
    assert (acme.E("size"), acme.Var("size")) == (104.0, 0.2)
    assert (alice.E(attr="trust"), alice.Var("trust")) == (1.125, 0.25)
    assert (bob.E("trust"), bob.Var("trust")) == (0.0, 1.0)
    # A precision of 1e-7 is floored at 1e-6 before it is inverted.
    assert (alice.E("age"), alice.Var("age")) == (30.0, 1000000.0)
    assert alice.has_attr("age") and not alice.has_attr("size") and initech.has_attr("size")
    # A missing attribute is a plain RuntimeError, without a category prefix.
    for call, attr in ((lambda: acme.E("trust"), "trust"), (lambda: bob.Var("size"), "size"),
                       (lambda: bob.E("a\0b"), "a\0b")):
        with pytest.raises(RuntimeError) as caught:
            call()
        assert type(caught.value) is RuntimeError
        assert str(caught.value) == f"missing attr '{attr}'"


def test_edge_listings_and_queries(g):
    edges = g.edges()
    assert [(e.src, e.dst, e.type, e.src_name, e.dst_name) for e in edges] == [
        ("2", "3", "knows", "alice", "bob"), ("3", "2", "likes", "bob", "alice"),
        ("4", "2", "trusts", "carol", "alice"),
        ("2", "0", "works_at", "alice", "acme"), ("2", "1", "works_at", "alice", "initech"),
        ("3", "0", "works_at", "bob", "acme"), ("3", "1", "works_at", "bob", "initech")]
    assert repr(edges[4]) == "EdgeView(id=4, src=2, dst=1, type=works_at)"
    assert not hasattr(edges[0], "id")
    assert [e.prob for e in edges] == pytest.approx(
        [PROB_KNOWS, 2 / 3, PROB_TRUSTS, 0.75, 0.25, 0.5, 0.5], rel=1e-15)
    # Pinned by a count of at least 1e6; competing edges never are.
    assert [e.forced_state for e in edges] == ["absent", None, "present", None, None, None, None]
    assert [e.is_competing() for e in edges] == [False] * 3 + [True] * 4
    assert [e.is_independent() for e in edges] == [True] * 3 + [False] * 4
    assert [e.dst for e in g.edges("works_at")] == ["0", "1", "0", "1"]
    assert [e.type for e in g.edges(edge_type=None)] == [e.type for e in edges]
    assert g.edges("Knows") == []


def test_competing_groups_in_group_id_order(g):
    groups = g.competing_groups()
    assert [(c.source_node, c.edge_type, c.categories) for c in groups] == [
        ("2", "works_at", ["0", "1"]), ("3", "works_at", ["0", "1"])]
    assert g.competing_groups("knows") == [] and len(g.competing_groups(edge_type="works_at")) == 2
    alice, bob = groups
    assert repr(alice) == "CompetingGroup(source=2, type=works_at, categories=2)"
    assert alice.probabilities == [0.75, 0.25] == alice.prob_vector()
    assert alice.entropy == pytest.approx(-(0.75 * math.log(0.75) + 0.25 * math.log(0.25)))
    assert bob.probabilities == [0.5, 0.5] and bob.entropy == pytest.approx(math.log(2))
    assert alice.winner() == "0" and alice.winner(None) == "0" and alice.winner(0.4) == "0"
    assert alice.winner(epsilon=0.6) is None  # 0.75 and 0.25 lie within 0.6
    assert bob.winner() is None  # a tie


def test_every_listing_and_text_is_new(g):
    for listing in (g.nodes, g.edges, g.competing_groups):
        first, second = listing(), listing()
        assert first is not second
        assert all(a is not b for a, b in zip(first, second))
    node, edge, group = g.nodes()[0], g.edges()[0], g.competing_groups()[0]
    assert node.label is not node.label and node.name is not node.name
    assert edge.type is not edge.type and edge.src_name is not edge.src_name
    assert group.categories is not group.categories
    assert group.prob_vector() is not group.prob_vector()


def test_views_outlive_their_graph_object():
    g = graphs()[0]
    node, edge, group = g.nodes()[2], g.edges()[3], g.competing_groups()[0]
    del g
    gc.collect()
    assert node.E("trust") == 1.125 and edge.prob == 0.75 and group.winner() == "0"


def test_empty_graph():
    empty = graphs()[1]
    assert empty.nodes() == [] and empty.edges() == [] and empty.competing_groups() == []


def test_wrong_calls_raise_type_error(g):
    node, edge, group = g.nodes()[0], g.edges()[0], g.competing_groups()[0]
    cases = [
        (lambda: g.nodes(1), "argument 'label': 'int' object cannot be converted to 'PyString'"),
        (lambda: g.edges(b"knows"),
         "argument 'edge_type': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: g.nodes("a", "b"),
         "BeliefGraph.nodes() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda: g.competing_groups(type="x"),
         "BeliefGraph.competing_groups() got an unexpected keyword argument 'type'"),
        (lambda: node.E(), "NodeView.E() missing 1 required positional argument: 'attr'"),
        (lambda: node.Var(3), "argument 'attr': 'int' object cannot be converted to 'PyString'"),
        (lambda: node.has_attr("x", attr="x"),
         "NodeView.has_attr() got multiple values for argument 'attr'"),
        (lambda: edge.is_competing(1), "EdgeView.is_competing() takes no arguments (1 given)"),
        (lambda: edge.is_independent(x=1), "EdgeView.is_independent() takes no keyword arguments"),
        (lambda: group.winner("x"), "argument 'epsilon': must be real number, not str"),
        (lambda: group.prob_vector(x=1), "CompetingGroup.prob_vector() takes no keyword arguments"),
        (lambda: g.to_networkx(threshold="x"),
         "argument 'threshold': must be real number, not str"),
        (lambda: g.to_pandas(1), "BeliefGraph.to_pandas() takes no arguments (1 given)"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == message
