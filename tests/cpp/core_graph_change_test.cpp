// The change measure: what it compares, and that pending changes count
// exactly as materialisation would apply them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/engine/graph_change.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

BeliefGraph materialised(const BeliefGraph& g) {
    BeliefGraph copy = g.clone();
    copy.ensure_owned();
    return copy;
}

NodeData node(uint32_t id, AttrMap attrs) {
    return NodeData{SharedText("N"), std::move(attrs), NodeId{id}};
}

TEST(GraphChange, ComparesSharedAttributesAndEdgeProbabilitiesPositionByPosition) {
    BeliefGraph a, b;
    a.insert_node(node(0, AttrMap{{"x", {1, 1}}, {"y", {2, 1}}, {"w", {kNaN, 1}}}));
    b.insert_node(node(0, AttrMap{{"z", {9, 1}}, {"x", {1.5, 7}}, {"w", {4, 1}}}));
    b.insert_node(node(1, AttrMap{{"x", {100, 1}}}));  // beyond a's nodes: not compared
    a.add_edge(NodeId{0}, NodeId{0}, "T", 1, 1);
    b.add_edge(NodeId{0}, NodeId{0}, "T", 3, 1);
    // A competing edge whose group is missing reads as probability 0.
    b.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{4}, 0}},
                           SharedText("T"), EdgeId{1}, NodeId{0}, NodeId{0}});
    a.add_edge(NodeId{0}, NodeId{0}, "T", 1, 9);
    EXPECT_DOUBLE_EQ(compute_max_change(a, b), 0.5);  // x: 0.5; edge 0: 0.25; edge 1: 0.1; w: NaN

    BeliefGraph c = a.clone();
    c.non_bayesian_nudge(NodeId{0}, "x", {frontend::ast::VarianceSpec::Preserve{}}, 4.0);
    EXPECT_EQ(compute_max_change(a, c), 3.0);  // the pending nudge counts
    EXPECT_EQ(compute_max_change(a, a), 0.0);

    BeliefGraph other_ids;
    other_ids.insert_node(node(5, AttrMap{{"x", {1, 1}}}));
    EXPECT_EQ(compute_max_change(a, other_ids), kInf);
}

TEST(GraphChange, PendingChangesCountAsMaterialisationAppliesThem) {
    BeliefGraph base;
    for (uint32_t i = 0; i < 4; ++i)
        base.insert_node(node(i, AttrMap{{"x", {double(i), 1}}}));
    for (uint32_t i = 0; i < 3; ++i)
        base.add_edge(NodeId{i}, NodeId{i + 1}, "T", 1, 1);
    base.ensure_owned();

    std::vector<BeliefGraph> graphs;
    graphs.push_back(base.clone());
    {
        BeliefGraph g = base.clone();  // recorded updates, several of one attribute
        g.soft_update(NodeId{1}, "x", 10, 1, 1);
        g.soft_update(NodeId{1}, "x", 20, 1, 1);
        g.observe_edge(EdgeId{2}, false);
        g.observe_edge(EdgeId{2}, false);
        graphs.push_back(std::move(g));
    }
    {
        BeliefGraph g = base.clone();  // an update of a node, then a new record of it
        g.soft_update(NodeId{2}, "x", 10, 1, 1);
        g.insert_node(node(2, AttrMap{{"x", {-5, 1}}}));
        g.soft_update(NodeId{2}, "x", 7, 3, 1);
        g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Independent{5, 1}}, SharedText("T"),
                               EdgeId{0}, NodeId{0}, NodeId{1}});
        g.observe_edge(EdgeId{0}, true);
        graphs.push_back(std::move(g));
    }
    {
        BeliefGraph g = base.clone();  // a new node and edge, and their updates
        g.insert_node(node(9, AttrMap{{"x", {1, 1}}}));
        g.add_edge(NodeId{9}, NodeId{0}, "T", 2, 2);
        g.soft_update(NodeId{9}, "x", 3, 1, 1);
        g.observe_edge(EdgeId{3}, false);
        g.observe_edge(EdgeId{0}, false);
        graphs.push_back(std::move(g));
    }
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        for (std::size_t j = 0; j < graphs.size(); ++j) {
            EXPECT_EQ(compute_max_change(graphs[i], graphs[j]),
                      compute_max_change(materialised(graphs[i]), materialised(graphs[j])))
                << i << " against " << j;
            if (i != j && i * j == 0) {
                EXPECT_GT(compute_max_change(graphs[i], graphs[j]), 0.0) << i << " against " << j;
            }
        }
    }
}

}  // namespace
}  // namespace morvane::core::engine
