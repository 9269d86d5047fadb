// BeliefGraph, NodeView, EdgeView and CompetingGroup on a graph built here:
// listings and their filters, the identity of views, the id texts, the
// read-time floors and thresholds, and the two ways a query fails.
#include <gtest/gtest.h>

#include "core/engine/graph.hpp"
#include "python/graph_views.hpp"
#include "python_embed.hpp"
#include "python_sample_graph.hpp"

namespace morvane::python {
namespace {

using namespace core::engine;
using test_support::EmbeddedPython;

class GraphViews : public EmbeddedPython {
protected:
    void SetUp() override {
        EmbeddedPython::SetUp();
        scope["g"] = make_belief_graph(test_support::sample_graph());
    }
};

TEST_F(GraphViews, NodeListingsFilterByExactLabel) {
    run(R"py(
nodes = g.nodes()
assert [(n.id, n.label) for n in nodes] == [
    ("0", "Person"), ("1", "Person"), ("2", "Company"), ("3", "Company")]
assert [repr(n) for n in nodes[1:3]] == [
    "NodeView(id=1, label=Person)", "NodeView(id=2, label=Company)"]
assert [n.id for n in g.nodes("Company")] == ["2", "3"]
assert [n.id for n in g.nodes(label="Company")] == ["2", "3"]
assert [n.id for n in g.nodes(None)] == ["0", "1", "2", "3"]
assert g.nodes("company") == [] and g.nodes("Nobody") == []
assert repr(g) == "BeliefGraph(<opaque>)"
)py");
}

TEST_F(GraphViews, EveryListingIsNew) {
    run(R"py(
for listing in (g.nodes, g.edges, g.competing_groups):
    first, second = listing(), listing()
    assert first is not second
    assert all(a is not b for a, b in zip(first, second))
n = g.nodes()[0]
assert n.label is not n.label
group = g.competing_groups()[0]
assert group.categories is not group.categories
assert group.prob_vector() is not group.prob_vector()
)py");
}

TEST_F(GraphViews, NodeQueries) {
    run(R"py(
alice, bob, acme, initech = g.nodes()
assert alice.name == "Alice" and bob.name is None and acme.name == "Acme"
assert alice.E("trust") == 1.5 and alice.Var("trust") == 0.25
assert alice.E(attr="age") == 30.0
# Precisions are floored at 1e-6 before they are inverted.
assert alice.Var("age") == 1000000.0   # precision 0
assert bob.Var("trust") == 1000000.0   # precision 1e-7
assert acme.Var("size") == 1000000.0   # precision -2
assert alice.has_attr("age") and not bob.has_attr("age") and not initech.has_attr("size")
# A missing attribute or node is a plain RuntimeError, without a category.
for call, attr in ((lambda: bob.E("age"), "age"), (lambda: initech.Var("size"), "size"),
                   (lambda: alice.E("a\0b"), "a\0b")):
    try:
        call()
        raise AssertionError("no error")
    except RuntimeError as e:
        assert type(e) is RuntimeError and str(e) == f"missing attr '{attr}'", str(e)
)py");
}

TEST_F(GraphViews, EdgeQueries) {
    run(R"py(
edges = g.edges()
assert [(e.src, e.dst, e.type) for e in edges] == [
    ("0", "1", "knows"), ("1", "0", "knows"), ("0", "1", "likes"),
    ("0", "2", "works_at"), ("0", "3", "works_at"), ("1", "2", "works_at"), ("1", "3", "works_at")]
assert repr(edges[4]) == "EdgeView(id=4, src=0, dst=3, type=works_at)"
assert not hasattr(edges[0], "id")
assert [e.src for e in g.edges("knows")] == ["0", "1"]
assert [e.src for e in g.edges(edge_type=None)] == [e.src for e in g.edges()]
assert g.edges("Knows") == []
assert (edges[0].src_name, edges[0].dst_name) == ("Alice", None)
assert (edges[3].src_name, edges[3].dst_name) == ("Alice", "Acme")
assert [e.prob for e in edges] == [
    1 / (1 + 1e6), 1e6 / (1e6 + 1), 0.5, 0.75, 0.25, 0.5, 0.5]
# Pinned by a count of 1e6 on one side only; competing edges are never pinned.
assert [e.forced_state for e in edges] == [
    "absent", "present", None, None, None, None, None]
assert [e.is_competing() for e in edges] == [False] * 3 + [True] * 4
assert [e.is_independent() for e in edges] == [True] * 3 + [False] * 4
)py");
}

TEST_F(GraphViews, CompetingGroupsInGroupIdOrder) {
    run(R"py(
import math
groups = g.competing_groups()
assert [(c.source_node, c.edge_type, c.categories) for c in groups] == [
    ("0", "works_at", ["2", "3"]), ("1", "works_at", ["2", "3"])]
assert g.competing_groups("knows") == [] and len(g.competing_groups("works_at")) == 2
first, second = groups
assert repr(first) == "CompetingGroup(source=0, type=works_at, categories=2)"
assert first.probabilities == [0.75, 0.25] == first.prob_vector()
assert math.isclose(first.entropy, -(0.75 * math.log(0.75) + 0.25 * math.log(0.25)))
assert first.winner() == "2" and first.winner(None) == "2" and first.winner(0.4) == "2"
assert first.winner(epsilon=0.6) is None   # 0.75 and 0.25 lie within 0.6
assert second.winner() is None             # equal concentrations
assert second.probabilities == [0.5, 0.5]
)py");
}

TEST_F(GraphViews, ViewsOutliveTheirGraphObject) {
    run(R"py(
node, edge, group = g.nodes()[0], g.edges()[3], g.competing_groups()[0]
del g
import gc; gc.collect()
assert node.E("trust") == 1.5 and edge.prob == 0.75 and group.winner() == "2"
)py");
}

TEST_F(GraphViews, ProbabilityFailuresGoThroughTheErrorMapping) {
    // A competing edge whose group is missing: the engine's Internal error
    // surfaces with its category prefix, unlike a missing attribute.
    BeliefGraph graph;
    graph.add_node("A", {});
    graph.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{7}, 0}},
                               SharedText("r"), EdgeId{0}, NodeId{0}, NodeId{0}});
    scope["broken"] = make_belief_graph(std::move(graph));
    run(R"py(
edge = broken.edges()[0]
for read in (lambda: edge.prob, broken.to_pandas, broken.to_networkx):
    try:
        read()
        raise AssertionError("no error")
    except RuntimeError as e:
        assert str(e) == "Internal error: missing competing group", str(e)
assert edge.is_competing() and edge.forced_state is None
)py");
}

TEST_F(GraphViews, WrongArgumentsRaiseTypeError) {
    run(R"py(
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
    (lambda: node.has_attr("x", attr="x"), "NodeView.has_attr() got multiple values for argument 'attr'"),
    (lambda: edge.is_competing(1), "EdgeView.is_competing() takes no arguments (1 given)"),
    (lambda: group.winner("x"), "argument 'epsilon': must be real number, not str"),
    (lambda: group.prob_vector(x=1), "CompetingGroup.prob_vector() takes no keyword arguments"),
    (lambda: g.to_networkx(threshold="x"), "argument 'threshold': must be real number, not str"),
    (lambda: g.to_pandas(1), "BeliefGraph.to_pandas() takes no arguments (1 given)"),
]
for call, message in cases:
    try:
        call()
        raise AssertionError("no error: " + message)
    except TypeError as e:
        assert str(e) == message, str(e)
)py");
}

}  // namespace
}  // namespace morvane::python
