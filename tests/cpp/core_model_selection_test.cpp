#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/model_selection.hpp"

namespace morvane::core::engine {
namespace {

using Criterion = ModelSelectionCriterion;

// Two nodes and one independent edge per (alpha, beta) pair.
BeliefGraph independent_edges(const std::vector<std::pair<double, double>>& edges) {
    BeliefGraph g;
    const NodeId a = g.add_node("L", {});
    const NodeId b = g.add_node("L", {});
    for (const auto& [alpha, beta] : edges)
        g.add_edge(a, b, "T", alpha, beta);
    g.ensure_owned();
    return g;
}

std::string message_of(const std::function<void()>& body, ExecErrorKind kind) {
    try {
        body();
    } catch (const ExecError& e) {
        EXPECT_EQ(e.kind, kind) << e.message;
        return e.message;
    }
    return "<no error>";
}

TEST(ModelSelection, ScoresIndependentEdges) {
    const BeliefGraph g = independent_edges({{1.0, 1.0}});
    const EdgeModelScore aic = score_graph_edges(g, Criterion::EdgeAic);
    EXPECT_NEAR(aic.log_likelihood, 2 * std::log(0.5), 1e-12);
    EXPECT_EQ(aic.parameter_count, 1.0);
    EXPECT_EQ(aic.effective_sample_size, 2.0);
    EXPECT_NEAR(aic.score, 2 - 4 * std::log(0.5), 1e-12);  // about 4.773
    EXPECT_NEAR(score_graph_edges(g, Criterion::EdgeBic).score, std::log(2.0) - 4 * std::log(0.5),
                1e-12);  // about 3.466

    // Below n = 1, BIC's penalty is ln 1 = 0.
    const BeliefGraph small = independent_edges({{0.3, 0.4}});
    const EdgeModelScore bic = score_graph_edges(small, Criterion::EdgeBic);
    EXPECT_EQ(bic.score, -2 * bic.log_likelihood);
}

TEST(ModelSelection, CompetingGroupCountsOnceAndPendingChangesCount) {
    BeliefGraph g;
    for (int i = 0; i < 4; ++i)
        g.add_node("L", {});
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0},
        CompetingEdgeGroup(CompetingGroupId{0}, NodeId{0}, "C", {NodeId{1}, NodeId{2}, NodeId{3}},
                           DirichletPosterior({1.0, 2.0, 3.0})));
    for (uint32_t k = 0; k < 3; ++k) {
        g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, k}},
                               SharedText("C"), EdgeId{k}, NodeId{0}, NodeId{k + 1}});
    }
    const EdgeId indep = g.add_edge(NodeId{1}, NodeId{2}, "T", 1.0, 1.0);
    g.observe_edge(indep, true);  // still pending: alpha 2, beta 1
    ASSERT_FALSE(g.deltas().empty());

    const EdgeModelScore s = score_graph_edges(g, Criterion::EdgeAic);
    const double group_ll = std::log(1.0 / 6) + 2 * std::log(2.0 / 6) + 3 * std::log(3.0 / 6);
    const double edge_ll = 2 * std::log(2.0 / 3) + std::log(1.0 / 3);
    EXPECT_NEAR(s.log_likelihood, group_ll + edge_ll, 1e-12);
    EXPECT_EQ(s.parameter_count, 3.0);  // K - 1 = 2 for the group, 1 for the edge
    EXPECT_EQ(s.effective_sample_size, 9.0);
    EXPECT_FALSE(g.deltas().empty());  // the graph itself is untouched

    BeliefGraph orphan = independent_edges({});
    orphan.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{3}, 0}},
                                SharedText("C"), EdgeId{0}, NodeId{0}, NodeId{1}});
    EXPECT_EQ(
        message_of([&] { score_graph_edges(orphan, Criterion::EdgeBic); }, ExecErrorKind::Internal),
        "missing competing group CompetingGroupId(3) while scoring model");
}

TEST(ModelSelection, SelectsByScoreThenName) {
    const BeliefGraph even = independent_edges({{5.0, 5.0}});
    const BeliefGraph extreme = independent_edges({{9.0, 1.0}});
    const BeliefGraph almost = independent_edges({{5.0, 5.0 + 1e-9}});
    const BeliefGraph even2 = independent_edges({{5.0, 5.0}});

    const auto pick = [](std::vector<ModelCandidate> list) {
        return select_best_graph(list, Criterion::EdgeAic).name;
    };
    EXPECT_EQ(pick({{"even", even}, {"extreme", extreme}}), "extreme");
    EXPECT_EQ(pick({{"extreme", extreme}, {"even", even}}), "extreme");
    // Equal scores: the smaller name, whatever the order; a name listed twice
    // keeps its first listing.
    EXPECT_EQ(pick({{"b", even}, {"a", even2}}), "a");
    EXPECT_EQ(pick({{"a", even}, {"b", even2}}), "a");
    EXPECT_EQ(pick({{"ab", even}, {"a", even2}}), "a");
    const SelectedModel twice = select_best_graph(
        std::vector<ModelCandidate>{{"x", even}, {"x", even}}, Criterion::EdgeAic);
    EXPECT_EQ(twice.name, "x");
    EXPECT_EQ(twice.score.score, score_graph_edges(even, Criterion::EdgeAic).score);
    // Sample sizes within max(|n|, 1) * 1e-9 of each other are the same.
    EXPECT_EQ(pick({{"even", even}, {"almost", almost}}), "even");
}

TEST(ModelSelection, RefusesIncomparableCandidates) {
    const BeliefGraph empty = independent_edges({});
    const BeliefGraph ten = independent_edges({{5.0, 5.0}});
    const BeliefGraph more = independent_edges({{5.05, 5.05}});
    const struct {
        std::vector<ModelCandidate> candidates;
        const char* message;
    } cases[] = {
        {{}, "select_model: candidate list must not be empty"},
        {{{"ten", ten}, {"empty", empty}},
         "select_model: all candidates must have positive effective sample size"},
        {{{"ten", ten}, {"more", more}},
         "select_model: candidates must share effective sample size; 'more' has n=10.100000 vs "
         "reference n=10.000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(message_of([&] { select_best_graph(c.candidates, Criterion::EdgeBic); },
                             ExecErrorKind::Validation),
                  c.message);
    }
}

}  // namespace
}  // namespace morvane::core::engine
