#include <gtest/gtest.h>

#include <vector>

#include "core/engine/query_plan.hpp"

namespace morvane::core::engine {
namespace {

using frontend::ast::PatternItem;

PatternItem pattern(std::string src_label, std::string type, std::string dst_label) {
    return PatternItem{
        {"a", std::move(src_label)}, {"e", std::move(type)}, {"b", std::move(dst_label)}};
}

TEST(QueryPlan, OrdersPatternsByEstimatedMatchesThenPosition) {
    // Three P nodes and one Q node; four T edges and one U edge in the base.
    BeliefGraph g;
    for (const char* label : {"P", "P", "P", "Q"})
        g.add_node(label, {});
    for (int i = 0; i < 4; ++i)
        g.add_edge(NodeId{0}, NodeId{1}, "T", 1, 1);
    g.add_edge(NodeId{0}, NodeId{3}, "U", 1, 1);
    g.ensure_owned();
    g.add_edge(NodeId{0}, NodeId{1}, "V", 1, 1);  // pending: not counted

    const std::vector<PatternItem> patterns = {
        pattern("P", "T", "P"),  // (3/4)(3/4) 4 = 2.25 -> 2
        pattern("P", "U", "Q"),  // (3/4)(1/4) 1 -> at least 1
        pattern("P", "V", "P"),  // no base edge -> 0
        pattern("P", "U", "Q"),  // ties with pattern 1, comes after it
        pattern("Z", "T", "P"),  // no Z node: fraction 0 -> 1
    };
    const QueryPlan plan = plan_query(patterns, g);
    EXPECT_EQ(plan.order, (std::vector<std::size_t>{2, 1, 3, 4, 0}));
    const uint64_t estimates[] = {0, 1, 1, 1, 2};
    const double costs[] = {0.002, 1.001, 1.003, 1.004, 2.0};
    ASSERT_EQ(plan.selectivities.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(plan.selectivities[i].index, plan.order[i]);
        EXPECT_EQ(plan.selectivities[i].estimated_matches, estimates[i]);
        EXPECT_DOUBLE_EQ(plan.selectivities[i].cost, costs[i]);
    }
}

}  // namespace
}  // namespace morvane::core::engine
