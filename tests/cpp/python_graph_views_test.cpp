// NodeView and EdgeView on a graph built here, with values no program can
// produce (precisions of 0 and below, an edge whose group is missing): the
// read-time floors and thresholds, and the two ways a query fails. The views
// on flow results are tested from Python (tests/python/test_graph_views.py).
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

TEST_F(GraphViews, VarianceFloorsEveryPrecisionBelowTheFloor) {
    run(R"py(
alice, bob, acme, _ = g.nodes()
assert alice.Var("trust") == 0.25
assert alice.Var("age") == 1000000.0   # precision 0
assert bob.Var("trust") == 1000000.0   # precision 1e-7
assert acme.Var("size") == 1000000.0   # precision -2
)py");
}

TEST_F(GraphViews, ForcedStateNeedsOneSidePinned) {
    run(R"py(
# Beta(1, 1e6), Beta(1e6, 1), Beta(1e6, 1e6), then competing edges.
assert [e.forced_state for e in g.edges()] == [
    "absent", "present", None, None, None, None, None]
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
import sys, types

class Graph:
    def add_node(self, *args, **kwargs): pass
    def add_edge(self, *args, **kwargs): pass

# Stand-ins: the failure comes before any call that would need the packages.
saved = {name: sys.modules.get(name) for name in ("pandas", "networkx")}
sys.modules["pandas"] = types.SimpleNamespace(DataFrame=lambda data: data)
sys.modules["networkx"] = types.SimpleNamespace(Graph=Graph)
try:
    edge = broken.edges()[0]
    for read in (lambda: edge.prob, broken.to_pandas, broken.to_networkx):
        try:
            read()
            raise AssertionError("no error")
        except RuntimeError as e:
            assert str(e) == "Internal error: missing competing group", str(e)
    assert edge.is_competing() and edge.forced_state is None
finally:
    for name, module in saved.items():
        if module is None:
            del sys.modules[name]
        else:
            sys.modules[name] = module
)py");
}

}  // namespace
}  // namespace morvane::python
