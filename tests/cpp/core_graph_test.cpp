// The copy-on-write store: sharing, pending changes, materialisation and the
// lookups that see pending changes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {
namespace {

constexpr NodeId N0{0}, N1{1}, N2{2};

// A materialised graph of `n` nodes of label "L", each with x = (0, 1).
BeliefGraph owned_graph(int n) {
    BeliefGraph g;
    for (int i = 0; i < n; ++i)
        g.add_node("L", AttrMap{{"x", {0.0, 1.0}}});
    g.ensure_owned();
    return g;
}

double x_of(const BeliefGraph& g, NodeId n) {
    return g.get_node_attr_with_deltas(n, "x")->mean;
}

double base_x(const BeliefGraph& g, NodeId n) {
    return g.base().find_node(n)->attrs.find("x")->mean;
}

std::string panic_text(const auto& call) {
    try {
        call();
    } catch (const support::Panic& p) {
        return p.message();
    }
    return "<no panic>";
}

TEST(GraphIds, DebugForms) {
    EXPECT_EQ(debug_form(NodeId{3}), "NodeId(3)");
    EXPECT_EQ(debug_form(EdgeId{0}), "EdgeId(0)");
    EXPECT_EQ(debug_form(CompetingGroupId{12}), "CompetingGroupId(12)");
    EXPECT_EQ(debug_form(EdgeId{4294967295u}), "EdgeId(4294967295)");
}

TEST(GraphStore, IdsFollowCreationAndListingsShowTheBaseOnly) {
    BeliefGraph g;
    EXPECT_EQ(g.add_node("A", {}), N0);
    EXPECT_EQ(g.add_node("B", {}), N1);
    EXPECT_EQ(g.add_node("C", {}), N2);
    EXPECT_EQ(g.add_edge(N0, N1, "T", 1, 1), EdgeId{0});
    EXPECT_EQ(g.add_edge(N1, N2, "T", 1, 1), EdgeId{1});
    EXPECT_TRUE(g.nodes().empty());
    EXPECT_TRUE(g.edges().empty());
    ASSERT_NE(g.node(N2), nullptr);  // lookups see pending insertions
    EXPECT_EQ(g.node(N2)->label, "C");
    EXPECT_EQ(g.edge(EdgeId{1})->src, N1);

    g.ensure_owned();
    ASSERT_EQ(g.nodes().size(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(g.nodes()[i].id, NodeId{i});
    EXPECT_EQ(g.nodes()[1].label, "B");
    ASSERT_EQ(g.edges().size(), 2u);
    EXPECT_EQ(g.edges()[1].dst, N2);
    EXPECT_TRUE(g.deltas().empty());
    // The next ids count the base.
    EXPECT_EQ(g.add_node("D", {}), NodeId{3});
    EXPECT_EQ(g.add_edge(N0, N2, "T", 1, 1), EdgeId{2});
}

TEST(GraphStore, CloneSharesTheBaseUntilItsFirstWrite) {
    BeliefGraph g = owned_graph(2);
    g.observe_attr(N0, "x", 10, 1);  // one pending change on g
    const BeliefGraphInner* old_base = &g.base();

    BeliefGraph c = g.clone();
    EXPECT_TRUE(c.shares_base_with(g));
    EXPECT_EQ(g.base_use_count(), 2);
    EXPECT_EQ(c.deltas().size(), 1u);  // the pending list is copied

    c.observe_attr(N1, "x", 4, 1);  // first recorded change: own base
    EXPECT_FALSE(c.shares_base_with(g));
    EXPECT_EQ(g.base_use_count(), 1);
    EXPECT_EQ(c.base_use_count(), 1);
    EXPECT_EQ(&g.base(), old_base);
    EXPECT_EQ(c.deltas().size(), 1u);  // the copied change was folded into c's base
    EXPECT_EQ(base_x(c, N0), 5);

    // g is untouched and still reads its old values.
    EXPECT_EQ(g.deltas().size(), 1u);
    EXPECT_EQ(x_of(g, N0), 5);
    EXPECT_EQ(x_of(g, N1), 0);
    EXPECT_EQ(base_x(g, N0), 0);
    EXPECT_EQ(x_of(c, N1), 2);
}

TEST(GraphStore, WritesIntoTheBaseCopyASharedBaseFirst) {
    BeliefGraph g = owned_graph(1);
    BeliefGraph c = g.clone();
    c.set_node_name(N0, "Alice");
    EXPECT_FALSE(c.shares_base_with(g));
    EXPECT_EQ(c.node_name(N0), "Alice");
    EXPECT_EQ(g.node_name(N0), std::nullopt);
}

TEST(GraphStore, ThirtyThirdChangeFoldsTheFirstThirtyTwo) {
    BeliefGraph g = owned_graph(40);
    for (uint32_t i = 0; i < 32; ++i)
        g.observe_attr(NodeId{i}, "x", 2.0 * (i + 1), 1);
    EXPECT_EQ(g.deltas().size(), 32u);
    EXPECT_EQ(base_x(g, NodeId{31}), 0);
    std::vector<double> before;
    for (uint32_t i = 0; i < 40; ++i)
        before.push_back(x_of(g, NodeId{i}));

    g.observe_attr(NodeId{32}, "x", 66, 1);
    EXPECT_EQ(g.deltas().size(), 1u);
    EXPECT_EQ(base_x(g, NodeId{0}), 1);
    EXPECT_EQ(base_x(g, NodeId{31}), 32);
    EXPECT_EQ(base_x(g, NodeId{32}), 0);  // the 33rd is the one pending change
    before[32] = 33;
    for (uint32_t i = 0; i < 40; ++i)
        EXPECT_EQ(x_of(g, NodeId{i}), before[i]) << i;
}

TEST(GraphStore, NewestAttrUpdateWins) {
    BeliefGraph g = owned_graph(1);
    g.non_bayesian_nudge(N0, "x", frontend::ast::VarianceSpec::Preserve{}, 3);
    g.non_bayesian_nudge(N0, "x", frontend::ast::VarianceSpec::Preserve{}, 7);
    EXPECT_EQ(x_of(g, N0), 7);
    g.ensure_owned();
    EXPECT_EQ(base_x(g, N0), 7);
}

TEST(GraphStore, NodeServesStructureAndDeltaLookupServesValues) {
    BeliefGraph g = owned_graph(1);
    g.observe_attr(N0, "x", 10, 1);
    EXPECT_EQ(g.node(N0)->attrs.find("x")->mean, 0);
    EXPECT_EQ(x_of(g, N0), 5);
    g.ensure_owned();
    EXPECT_EQ(g.node(N0)->attrs.find("x")->mean, 5);
    EXPECT_EQ(x_of(g, N0), 5);
}

TEST(GraphStore, LookupsOfAbsentRecords) {
    BeliefGraph g = owned_graph(1);
    EXPECT_EQ(g.node(N1), nullptr);
    EXPECT_EQ(g.edge(EdgeId{0}), nullptr);
    EXPECT_EQ(g.get_node_attr_with_deltas(N1, "x"), std::nullopt);
    EXPECT_EQ(g.get_node_attr_with_deltas(N0, "y"), std::nullopt);
    EXPECT_EQ(g.get_edge_posterior_with_deltas(EdgeId{0}), std::nullopt);
    EXPECT_EQ(g.node_name(N0), std::nullopt);
}

TEST(GraphStore, EdgePosteriorLookupSeesPendingUpdatesOfIndependentEdgesOnly) {
    BeliefGraph g;
    g.add_edge(N0, N1, "T", 1, 1);
    g.observe_edge(EdgeId{0}, true);
    g.observe_edge(EdgeId{0}, false);
    EXPECT_EQ(g.edge(EdgeId{0})->posterior, (EdgePosterior{EdgePosterior::Independent{1, 1}}));
    EXPECT_EQ(g.get_edge_posterior_with_deltas(EdgeId{0}),
              (EdgePosterior{EdgePosterior::Independent{2, 2}}));
    g.ensure_owned();
    EXPECT_EQ(g.edges()[0].posterior, (EdgePosterior{EdgePosterior::Independent{2, 2}}));
}

TEST(GraphStore, EnsureOwnedOnAnOwnedMaterialisedGraphChangesNothing) {
    BeliefGraph g = owned_graph(3);
    const BeliefGraphInner* base = &g.base();
    g.ensure_owned();
    EXPECT_EQ(&g.base(), base);
    EXPECT_EQ(g.nodes().size(), 3u);
    EXPECT_EQ(g.base_use_count(), 1);
}

// Groups 0 (source 0, type "R") and the independent type "T".
BeliefGraph graph_with_group() {
    BeliefGraph g = owned_graph(3);
    g.add_edge(N0, N1, "T", 1, 1);
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0},
        CompetingEdgeGroup(CompetingGroupId{0}, N0, "R", {N1, N2}, DirichletPosterior({1, 1})));
    return g;
}

EdgeData competing_edge(uint32_t id, NodeId dst, std::size_t category) {
    return EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, category}},
                    SharedText("R"), EdgeId{id}, N0, dst};
}

TEST(GraphStore, CompetingGroupOfANodeAndType) {
    BeliefGraph g = graph_with_group();
    g.insert_edge(competing_edge(1, N1, 0));  // pending
    const CompetingEdgeGroup* group = g.get_competing_group(N0, "R");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->id, CompetingGroupId{0});
    g.ensure_owned();
    group = g.get_competing_group(N0, "R");  // now found in the base
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->source, N0);
    EXPECT_EQ(g.get_competing_group(N0, "T"), nullptr);  // independent edges
    EXPECT_EQ(g.get_competing_group(N1, "R"), nullptr);  // no edge
}

TEST(GraphStore, GroupTableIteratesInAscendingIdWhateverTheInsertionOrder) {
    BeliefGraph g;
    for (const uint32_t id : {2u, 0u, 1u}) {
        g.competing_groups_mut().insert_or_assign(
            CompetingGroupId{id}, CompetingEdgeGroup(CompetingGroupId{id}, NodeId{id}, "R", {N0},
                                                     DirichletPosterior({1})));
    }
    std::vector<uint32_t> order;
    for (const auto& [id, group] : g.competing_groups())
        order.push_back(group.id.value);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(g.competing_groups().find(CompetingGroupId{2})->source, N2);
}

TEST(GraphStore, RecordsUnderFarAwayIdsAreFound) {
    BeliefGraph g;
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Independent{1, 1}}, SharedText("T"),
                           EdgeId{4000000000u}, N0, N1});
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Independent{2, 1}}, SharedText("T"),
                           EdgeId{7}, N0, N1});
    g.ensure_owned();
    EXPECT_EQ(g.edge(EdgeId{4000000000u})->id, EdgeId{4000000000u});
    EXPECT_EQ(g.edge(EdgeId{7})->posterior.independent()->alpha, 2);
    EXPECT_EQ(g.edge(EdgeId{8}), nullptr);
}

TEST(GraphRecords, CategoryIndexKeepsTheLaterOfRepeatedDestinations) {
    const CompetingEdgeGroup group(CompetingGroupId{0}, N0, "R", {NodeId{5}, NodeId{7}, NodeId{5}},
                                   DirichletPosterior({1, 1, 1}));
    EXPECT_EQ(group.get_category_index(NodeId{5}), 2u);
    EXPECT_EQ(group.get_category_index(NodeId{7}), 1u);
    EXPECT_EQ(group.get_category_index(NodeId{6}), std::nullopt);
}

TEST(GraphRecords, BrokenGroupInvariantsPanic) {
    EXPECT_EQ(panic_text([] { DirichletPosterior({}); }),
              "Dirichlet posterior requires at least one category");
    for (const double bad : {0.0, -1.0, std::nan("")}) {
        EXPECT_EQ(panic_text([bad] { DirichletPosterior({1.0, bad}); }),
                  "All Dirichlet concentrations must be > 0")
            << bad;
    }
    EXPECT_EQ(panic_text([] { DirichletPosterior({5e-324}); }), "<no panic>");
    EXPECT_EQ(panic_text([] {
                  CompetingEdgeGroup(CompetingGroupId{0}, N0, "R", {N1, N2, N0},
                                     DirichletPosterior({1, 1}));
              }),
              "assertion `left == right` failed: Number of categories must match posterior "
              "dimensions\n  left: 3\n right: 2");
}

TEST(GraphStore, GraphsOnTwoThreadsSharingABaseEachCopyIt) {
    BeliefGraph g = owned_graph(1);
    BeliefGraph a = g.clone();
    BeliefGraph b = g.clone();
    std::thread ta([&a] { a.set_node_name(N0, "a"); });
    std::thread tb([&b] { b.observe_attr(N0, "x", 10, 1); });
    ta.join();
    tb.join();
    EXPECT_EQ(g.node_name(N0), std::nullopt);
    EXPECT_EQ(x_of(g, N0), 0);
    EXPECT_EQ(a.node_name(N0), "a");
    EXPECT_EQ(x_of(b, N0), 5);
    EXPECT_EQ(g.base_use_count(), 1);
}

// The pending list keeps four changes inline and spills to the heap beyond;
// copies and moves must carry every change across both layouts.
TEST(GraphSmallVector, CopiesAndMovesAcrossInlineAndHeapStorage) {
    using Vec = SmallVector<std::string, 4>;
    for (const int n : {0, 3, 4, 5, 40}) {
        Vec v;
        std::vector<std::string> expected;
        for (int i = 0; i < n; ++i) {
            expected.push_back(std::string(20, static_cast<char>('a' + i % 26)));
            v.push_back(expected.back());
        }
        EXPECT_EQ(v.is_inline(), n <= 4);
        if (n > 0) {  // an element of the vector itself, pushed while it may grow
            v.push_back(v[0]);
            expected.push_back(expected[0]);
        }
        Vec copy(v);
        Vec moved(std::move(v));
        EXPECT_TRUE(v.empty());
        v.push_back("again");  // a moved-from vector is usable
        EXPECT_EQ(v[0], "again");
        Vec assigned;
        assigned.push_back("old");
        assigned = copy;
        for (const Vec* w : {&copy, &moved, &assigned}) {
            ASSERT_EQ(w->size(), expected.size()) << n;
            EXPECT_TRUE(std::equal(w->begin(), w->end(), expected.begin())) << n;
        }
        moved.clear();
        EXPECT_TRUE(moved.empty());
        EXPECT_EQ(moved.capacity() >= expected.size(), true);
    }
}

}  // namespace
}  // namespace morvane::core::engine
