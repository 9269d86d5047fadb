// Graph queries: floors, probabilities, winners, entropies, degrees, the
// outgoing adjacency and the rebuild from a subset of edges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"

namespace morvane::core::engine {
namespace {

constexpr NodeId N0{0}, N1{1}, N2{2};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <typename F>
std::optional<ExecError> error_of(F&& call) {
    try {
        call();
    } catch (const ExecError& e) {
        return e;
    }
    return std::nullopt;
}

EdgePosterior independent(double alpha, double beta) {
    return EdgePosterior{EdgePosterior::Independent{alpha, beta}};
}

EdgeData competing_edge(uint32_t id, uint32_t group, NodeId src, NodeId dst, std::size_t k) {
    return EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{group}, k}},
                    SharedText("R"), EdgeId{id}, src, dst};
}

// A graph with a single group 0 from node 0 over nodes 1 and 2.
BeliefGraph group_graph(std::vector<double> concentrations) {
    BeliefGraph g;
    for (int i = 0; i < 3; ++i)
        g.add_node("L", {});
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0}, CompetingEdgeGroup(CompetingGroupId{0}, N0, "R", {N1, N2},
                                                DirichletPosterior(std::move(concentrations))));
    g.insert_edge(competing_edge(0, 0, N0, N1, 0));
    g.insert_edge(competing_edge(1, 0, N0, N2, 1));
    return g;
}

TEST(GraphQueries, AttributeMoments) {
    struct Case {
        double precision, variance;
    };
    for (const Case c : {Case{0, 1e6}, Case{4, 0.25}, Case{kNaN, 1e6}, Case{-3, 1e6}}) {
        BeliefGraph g;
        g.add_node("L", AttrMap{{"x", {1.5, c.precision}}});
        EXPECT_EQ(g.expectation(N0, "x"), 1.5);
        EXPECT_EQ(g.variance(N0, "x"), c.variance) << c.precision;
        EXPECT_EQ(g.stddev(N0, "x"), std::sqrt(c.variance)) << c.precision;
        if (!std::isnan(c.precision)) {
            EXPECT_EQ(g.precision(N0, "x"), c.precision);
        }
    }
    BeliefGraph g;
    g.add_node("L", AttrMap{{"x", {0, 4}}});
    EXPECT_EQ(g.stddev(N0, "x"), 0.5);
    g.observe_attr(N0, "x", 10, 4);  // pending changes are seen
    EXPECT_EQ(g.expectation(N0, "x"), 5);
    EXPECT_EQ(g.precision(N0, "x"), 8);
    EXPECT_EQ(error_of([&] { g.variance(N0, "y"); }), ExecError::internal("missing attr 'y'"));
    EXPECT_EQ(error_of([&] { g.expectation(N1, "x"); }), ExecError::internal("missing attr 'x'"));
}

TEST(GraphQueries, CorrelationsAndCovariances) {
    BeliefGraph g;
    g.add_node("L", AttrMap{{"a", {0, 4}}, {"b", {0, 1}}, {"c", {0, 1}}});
    g.set_attr_correlation(N0, "a", "b", 0.5);
    EXPECT_EQ(g.attr_correlation(N0, "a", "a"), 1.0);
    EXPECT_EQ(g.attr_correlation(N0, "b", "a"), 0.5);
    EXPECT_EQ(g.attr_correlation(N0, "a", "c"), 0.0);
    EXPECT_EQ(g.attr_covariance(N0, "b", "a"), 0.5 * std::sqrt(0.25 * 1.0));
    EXPECT_EQ(g.attr_covariance(N0, "a", "a"), 0.25);
    EXPECT_EQ(error_of([&] { g.attr_correlation(N0, "y", "z"); }),
              ExecError::internal("missing attr 'y'"));
    EXPECT_EQ(error_of([&] { g.attr_covariance(N0, "a", "z"); }),
              ExecError::internal("missing attr 'z'"));
    EXPECT_EQ(error_of([&] { g.attr_correlation(N0, "z", "z"); }),
              ExecError::internal("missing attr 'z'"));
}

TEST(GraphQueries, IndependentProbabilitiesFloorTheirParameters) {
    struct Case {
        double alpha, beta, p;
    };
    for (const Case c : {Case{0.001, 0.001, 0.5}, Case{3, 1, 0.75}, Case{kNaN, 1, 0.01 / 1.01},
                         Case{-5, 0, 0.5}}) {
        EXPECT_EQ(independent(c.alpha, c.beta).mean_probability({}), c.p) << c.alpha;
    }
}

TEST(GraphQueries, CompetingProbabilities) {
    struct Case {
        std::vector<double> c, p;
    };
    for (const Case& c : {Case{{0.005, 1}, {0.01 / 1.01, 1 / 1.01}}, Case{{3, 2}, {0.6, 0.4}}}) {
        BeliefGraph g = group_graph(c.c);
        EXPECT_EQ(g.competing_groups().find(CompetingGroupId{0})->posterior.mean_probabilities(),
                  c.p);
        EXPECT_EQ(g.prob_mean(EdgeId{0}), c.p[0]);  // a pending edge, its group in the base
        EXPECT_EQ(g.prob_mean(EdgeId{1}), c.p[1]);
    }
    BeliefGraph g = group_graph({1, 1});
    g.insert_edge(competing_edge(2, 9, N1, N2, 0));
    EXPECT_EQ(error_of([&] { g.prob_mean(EdgeId{2}); }),
              ExecError::internal("missing competing group"));
    EXPECT_EQ(error_of([&] { g.prob_mean(EdgeId{3}); }), ExecError::internal("missing edge"));
}

TEST(GraphQueries, WinnerNeedsAClearMaximum) {
    struct Case {
        std::vector<double> c;
        double epsilon;
        std::optional<NodeId> winner;
    };
    const Case cases[] = {
        {{1, 1}, 0.01, std::nullopt}, {{3, 2}, 0.01, N1},
        {{3, 2}, 0.3, std::nullopt},  {{1, 1}, 0, N2},  // among exact ties the last
        {{1, 1}, kNaN, N2},           {{2, 3}, 0.01, N2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(group_graph(c.c).winner(N0, "R", c.epsilon), c.winner) << c.epsilon;
    }
    EXPECT_EQ(group_graph({3, 2}).winner(N1, "R", 0.01), std::nullopt);  // no group
}

TEST(GraphQueries, Entropy) {
    EXPECT_DOUBLE_EQ(DirichletPosterior({2, 2}).entropy(), std::log(2.0));
    const double one = DirichletPosterior({4}).entropy();
    EXPECT_EQ(one, 0.0);
    EXPECT_TRUE(std::signbit(one));
    // The second probability, 0.01 / (1e9 + 0.01), is below 1e-10 and ignored.
    const DirichletPosterior skewed({1e9, 0.001});
    const double p = 1e9 / (1e9 + 0.01);
    EXPECT_EQ(skewed.entropy(), -0.0 - p * std::log(p));
}

TEST(GraphQueries, OutgoingDegree) {
    BeliefGraph g;
    for (int i = 0; i < 3; ++i)
        g.add_node("L", {});
    g.add_edge(N0, N1, "T", 1, 1);  // 0.5
    g.add_edge(N0, N2, "U", 1, 3);  // 0.25
    g.add_edge(N1, N2, "T", 9, 1);  // another source
    g.ensure_owned();
    g.insert_edge(competing_edge(3, 7, N0, N2, 0));  // pending; its group is missing
    g.observe_edge(EdgeId{1}, true);                 // 0.25 -> 0.4
    struct Case {
        double threshold;
        std::size_t count;
    };
    for (const Case c : {Case{0, 3}, Case{0.4, 2}, Case{0.5, 1}, Case{0.51, 0}, Case{kNaN, 0}}) {
        EXPECT_EQ(g.degree_outgoing(N0, c.threshold), c.count) << c.threshold;
    }
    EXPECT_EQ(g.degree_outgoing(N2, 0), 0u);

    // An edge counts once, by the source of its latest record, whether that
    // record replaced an earlier one in the base or is still pending.
    BeliefGraph h;
    h.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{0}, N0, N1});
    h.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{1}, N0, N1});
    h.ensure_owned();
    h.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{0}, N1, N2});
    h.ensure_owned();
    h.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{1}, N2, N0});
    EXPECT_EQ(h.degree_outgoing(N0, 0), 0u);
    EXPECT_EQ(h.degree_outgoing(N1, 0), 1u);
    EXPECT_EQ(h.degree_outgoing(N2, 0), 1u);
}

TEST(GraphQueries, AdjacencyByTypeIncludesPendingEdgesInAscendingOrder) {
    BeliefGraph g;
    g.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{5}, N0, N1});
    g.insert_edge(EdgeData{independent(1, 1), SharedText("T"), EdgeId{2}, N0, N2});
    g.ensure_owned();
    g.insert_edge(EdgeData{independent(0, 9), SharedText("T"), EdgeId{3}, N0, N1});
    g.insert_edge(EdgeData{independent(1, 1), SharedText("U"), EdgeId{4}, N0, N1});
    const OutgoingEdgesByType adj = g.adjacency_outgoing_by_type();
    EXPECT_EQ(adj.size(), 2u);
    EXPECT_EQ(adj.at(SourceAndType{N0, SharedText("T")}),
              (std::vector<EdgeId>{EdgeId{2}, EdgeId{3}, EdgeId{5}}));
    EXPECT_EQ(adj.find(SourceAndTypeView{N0, "U"})->second, (std::vector<EdgeId>{EdgeId{4}}));
    EXPECT_EQ(adj.find(SourceAndTypeView{N1, "T"}), adj.end());
}

TEST(GraphQueries, EdgeWeightPosterior) {
    BeliefGraph g;
    g.add_edge(N0, N1, "W", 1, 1);
    g.add_edge(N0, N1, "T", 1, 1);
    g.set_edge_weight_prior(EdgeId{0}, 2.5, 4);
    EXPECT_EQ(g.edge_weight_expectation(EdgeId{0}), 2.5);
    EXPECT_EQ(error_of([&] { g.edge_weight_posterior(EdgeId{4}); }),
              ExecError::internal("missing edge"));
    EXPECT_EQ(
        error_of([&] { g.edge_weight_expectation(EdgeId{1}); }),
        ExecError::validation("edge EdgeId(1) does not declare a continuous weight posterior"));
}

TEST(GraphRebuild, KeepsChosenEdgesWithTheirIdsAndEverythingOfTheNodes) {
    BeliefGraph g = group_graph({2, 1});  // edges 0, 1 competing
    g.add_edge(N1, N2, "W", 3, 1);        // edge 2, weighted
    const char* names[] = {"n0", "n1", "n2"};
    for (uint32_t n = 0; n < 3; ++n)
        g.set_node_name(NodeId{n}, names[n]);
    g.add_node("M", AttrMap{{"a", {1, 1}}, {"b", {2, 1}}});
    g.set_attr_correlation(NodeId{3}, "a", "b", 0.75);
    g.set_edge_weight_prior(EdgeId{0}, 1, 1);
    g.set_edge_weight_prior(EdgeId{1}, 2, 1);
    g.set_edge_weight_prior(EdgeId{2}, 3, 1);
    g.ensure_owned();

    const std::vector<EdgeId> keep{EdgeId{0}, EdgeId{2}};
    const BeliefGraph r = g.rebuild_with_edges(g.nodes(), keep);
    EXPECT_TRUE(r.deltas().empty());
    EXPECT_EQ(r.nodes(), g.nodes());
    ASSERT_EQ(r.edges().size(), 2u);
    EXPECT_EQ(r.edges()[0], g.edges()[0]);
    EXPECT_EQ(r.edges()[1], g.edges()[2]);
    EXPECT_EQ(r.edge(EdgeId{1}), nullptr);  // a gap in the edge ids
    EXPECT_EQ(r.edge(EdgeId{2})->posterior, independent(3, 1));
    EXPECT_EQ(r.node_name(N2), "n2");
    EXPECT_EQ(r.attr_correlation(NodeId{3}, "b", "a"), 0.75);
    EXPECT_EQ(r.edge_weight_expectation(EdgeId{2}), 3);
    EXPECT_FALSE(r.base().edge_weights.contains(EdgeId{1}));
    EXPECT_EQ(r.competing_groups(), g.competing_groups());
    EXPECT_EQ(r.prob_mean(EdgeId{0}), 2.0 / 3.0);

    // Only the given nodes bring their names and correlations.
    const BeliefGraph part = g.rebuild_with_edges(std::span(g.nodes()).first(2), {});
    EXPECT_EQ(part.nodes().size(), 2u);
    EXPECT_EQ(part.node_name(N1), "n1");
    EXPECT_EQ(part.node_name(N2), std::nullopt);
    EXPECT_TRUE(part.base().attr_correlations.empty());

    const std::vector<EdgeId> bad{EdgeId{0}, EdgeId{7}};
    EXPECT_EQ(error_of([&] { g.rebuild_with_edges(g.nodes(), bad); }),
              ExecError::internal("missing edge during rebuild"));
}

}  // namespace
}  // namespace morvane::core::engine
