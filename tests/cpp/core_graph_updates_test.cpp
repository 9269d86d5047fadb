// Posterior updates: formulas on hand-computed values, floors, error texts
// and their order, and which updates are recorded or written in place.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {
namespace {

constexpr NodeId N0{0}, N1{1}, N2{2}, N3{3};
constexpr EdgeId kIndependent{0}, kCompeting{1}, kWeighted{2}, kBinary{3}, kAbsentEdge{9};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Node 0 with x = (0, 1), z = (3, 0); nodes 1 to 3 bare. Edges: 0 independent
// (1, 1); 1 competing, category 1 of group 0 (source 0, type "R", [3, 5, 2]);
// 2 independent with weight (0, 0.01); 3 competing, category 0 of the binary
// group 1 ([1, 1]).
BeliefGraph fixture() {
    BeliefGraph g;
    g.add_node("L", AttrMap{{"x", {0, 1}}, {"z", {3, 0}}});
    for (int i = 0; i < 3; ++i)
        g.add_node("L", {});
    g.add_edge(N0, N1, "T", 1, 1);
    auto& groups = g.competing_groups_mut();
    groups.insert_or_assign(CompetingGroupId{0},
                            CompetingEdgeGroup(CompetingGroupId{0}, N0, "R", {N1, N2, N3},
                                               DirichletPosterior({3, 5, 2})));
    groups.insert_or_assign(
        CompetingGroupId{1},
        CompetingEdgeGroup(CompetingGroupId{1}, N1, "S", {N2, N3}, DirichletPosterior({1, 1})));
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, 1}},
                           SharedText("R"), kCompeting, N0, N2});
    g.add_edge(N1, N2, "W", 1, 1);
    g.set_edge_weight_prior(kWeighted, 0, 0.01);
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{1}, 0}},
                           SharedText("S"), kBinary, N1, N2});
    g.ensure_owned();
    return g;
}

template <typename F>
std::optional<ExecError> error_of(F&& call) {
    try {
        call();
    } catch (const ExecError& e) {
        return e;
    }
    return std::nullopt;
}

ExecError internal(std::string m) {
    return ExecError::internal(std::move(m));
}
ExecError validation(std::string m) {
    return ExecError::validation(std::move(m));
}

GaussianPosterior attr(const BeliefGraph& g, std::string_view name) {
    return *g.get_node_attr_with_deltas(N0, name);
}

EdgePosterior::Independent beta_of(const BeliefGraph& g, EdgeId e) {
    return *g.get_edge_posterior_with_deltas(e)->independent();
}

std::vector<double> concentrations(const BeliefGraph& g, uint32_t group) {
    return g.competing_groups().find(CompetingGroupId{group})->posterior.concentrations;
}

TEST(GraphUpdates, ObserveAttr) {
    struct Case {
        const char* attr;
        double value, precision, mean, new_precision;
    };
    const Case cases[] = {
        {"x", 10, 1, 5, 2},
        {"x", 10, 0, 10 * (1e-12 / (1 + 1e-12)), 1 + 1e-12},     // observation floor
        {"x", 10, kNaN, 10 * (1e-12 / (1 + 1e-12)), 1 + 1e-12},  // NaN reads as the floor
        {"z", 10, 1, 3 + 7 * (1 / (1 + 1e-6)), 1 + 1e-6},        // prior precision floor
    };
    for (const Case& c : cases) {
        BeliefGraph g = fixture();
        g.observe_attr(N0, c.attr, c.value, c.precision);
        EXPECT_DOUBLE_EQ(attr(g, c.attr).mean, c.mean) << c.attr << " " << c.precision;
        EXPECT_EQ(attr(g, c.attr).precision, c.new_precision) << c.attr << " " << c.precision;
    }
}

TEST(GraphUpdates, SoftUpdateScalesThePrecisionByTheCount) {
    struct Case {
        double precision, count, added;
    };
    for (const Case c : {Case{1, 1, 1}, Case{1, 0.5, 1}, Case{2, 3, 6}, Case{1, kNaN, 1}}) {
        BeliefGraph g = fixture();
        g.soft_update(N0, "x", 10, c.precision, c.count);
        EXPECT_EQ(attr(g, "x").precision, 1 + c.added) << c.precision << " " << c.count;
        EXPECT_DOUBLE_EQ(attr(g, "x").mean, 10 * c.added / (1 + c.added));
    }
    // Precision 1 and count 1 is an observation of precision 1.
    BeliefGraph a = fixture(), b = fixture();
    a.soft_update(N0, "z", 8, 1, 1);
    b.observe_attr(N0, "z", 8, 1);
    EXPECT_EQ(attr(a, "z"), attr(b, "z"));
}

TEST(GraphUpdates, NudgeSetsTheMeanAndMovesThePrecision) {
    using Variance = frontend::ast::VarianceSpec;
    struct Case {
        Variance variance;
        double precision, expected;
    };
    const Case cases[] = {
        {Variance::Preserve{}, 0, 0},  // no floor when preserving
        {Variance::Increase{std::nullopt}, 4, 2},
        {Variance::Increase{2.0}, 4, 8},  // the factor multiplies as written
        {Variance::Decrease{std::nullopt}, 4, 8},
        {Variance::Decrease{2.0}, 1e-8, 1e-6},
        {Variance::Decrease{0.25}, 4, 1},
        {Variance::Increase{std::nullopt}, kNaN, 1e-6},
    };
    for (const Case& c : cases) {
        BeliefGraph g;
        g.add_node("L", AttrMap{{"x", {1, c.precision}}});
        g.non_bayesian_nudge(N0, "x", c.variance, -2.5);
        EXPECT_EQ(attr(g, "x"), (GaussianPosterior{-2.5, c.expected})) << c.precision;
    }
}

TEST(GraphUpdates, AttributeUpdatesOfMissingAttributesFail) {
    BeliefGraph g = fixture();
    EXPECT_EQ(error_of([&] { g.observe_attr(N0, "y", 1, 1); }), internal("missing attr 'y'"));
    EXPECT_EQ(error_of([&] { g.soft_update(N1, "x", 1, 1, 1); }), internal("missing attr 'x'"));
    const frontend::ast::VarianceSpec preserve = frontend::ast::VarianceSpec::Preserve{};
    EXPECT_EQ(error_of([&] { g.non_bayesian_nudge(NodeId{7}, "x", preserve, 1); }),
              internal("missing attr 'x'"));
    EXPECT_TRUE(g.deltas().empty());
}

TEST(GraphUpdates, IndependentEdgeUpdates) {
    struct Case {
        const char* name;
        void (*update)(BeliefGraph&);
        double alpha, beta;
    };
    const Case cases[] = {
        {"present", [](BeliefGraph& g) { g.observe_edge(kIndependent, true); }, 2, 1},
        {"absent", [](BeliefGraph& g) { g.observe_edge(kIndependent, false); }, 1, 2},
        {"delete", [](BeliefGraph& g) { g.delete_edge(kIndependent, std::nullopt); }, 1, 1e6 + 1},
        {"delete low", [](BeliefGraph& g) { g.delete_edge(kIndependent, "low"); }, 1, 1e3 + 1},
        {"delete HIGH", [](BeliefGraph& g) { g.delete_edge(kIndependent, "HIGH"); }, 1, 1e9 + 1},
        {"suppress", [](BeliefGraph& g) { g.suppress_edge(kIndependent, std::nullopt); }, 1, 11},
        {"suppress 2.5", [](BeliefGraph& g) { g.suppress_edge(kIndependent, 2.5); }, 1, 3.5},
        {"suppress subnormal", [](BeliefGraph& g) { g.suppress_edge(kIndependent, 5e-324); }, 1, 1},
    };
    for (const Case& c : cases) {
        BeliefGraph g = fixture();
        c.update(g);
        EXPECT_EQ(g.deltas().size(), 1u) << c.name;  // recorded
        EXPECT_EQ(beta_of(g, kIndependent).alpha, c.alpha) << c.name;
        EXPECT_EQ(beta_of(g, kIndependent).beta, c.beta) << c.name;
    }
}

TEST(GraphUpdates, IndependentEdgeErrorsInTheirOrder) {
    struct Case {
        void (*update)(BeliefGraph&);
        ExecError error;
    };
    const Case cases[] = {
        {[](BeliefGraph& g) { g.observe_edge(kAbsentEdge, true); }, internal("missing edge")},
        {[](BeliefGraph& g) { g.observe_edge(kCompeting, true); },
         validation("observe() only valid for independent edges; use observe_chosen for "
                    "competing edges")},
        {[](BeliefGraph& g) { g.delete_edge(kIndependent, "medium"); },
         validation("delete confidence must be 'low' or 'high', got 'medium'")},
        {[](BeliefGraph& g) { g.delete_edge(kIndependent, "Medium"); },
         validation("delete confidence must be 'low' or 'high', got 'medium'")},
        {[](BeliefGraph& g) { g.delete_edge(kIndependent, ""); },
         validation("delete confidence must be 'low' or 'high', got ''")},
        // The word is checked before the edge is looked at.
        {[](BeliefGraph& g) { g.delete_edge(kCompeting, "medium"); },
         validation("delete confidence must be 'low' or 'high', got 'medium'")},
        {[](BeliefGraph& g) { g.delete_edge(kAbsentEdge, "Ünknown"); },
         validation("delete confidence must be 'low' or 'high', got 'Ünknown'")},
        {[](BeliefGraph& g) { g.delete_edge(kCompeting, "low"); },
         validation("delete: only supported for independent edges")},
        {[](BeliefGraph& g) { g.delete_edge(kAbsentEdge, std::nullopt); },
         internal("missing edge")},
        {[](BeliefGraph& g) { g.suppress_edge(kCompeting, -1.0); },
         validation("suppress weight must be finite and > 0, got -1")},
        {[](BeliefGraph& g) { g.suppress_edge(kIndependent, 0.0); },
         validation("suppress weight must be finite and > 0, got 0")},
        {[](BeliefGraph& g) { g.suppress_edge(kIndependent, kInf); },
         validation("suppress weight must be finite and > 0, got inf")},
        {[](BeliefGraph& g) { g.suppress_edge(kIndependent, kNaN); },
         validation("suppress weight must be finite and > 0, got NaN")},
        {[](BeliefGraph& g) { g.suppress_edge(kIndependent, 0.00001 * -1); },
         validation("suppress weight must be finite and > 0, got -0.00001")},
        {[](BeliefGraph& g) { g.suppress_edge(kCompeting, std::nullopt); },
         validation("suppress: only supported for independent edges")},
    };
    for (const Case& c : cases) {
        BeliefGraph g = fixture();
        EXPECT_EQ(error_of([&] { c.update(g); }), c.error);
        EXPECT_TRUE(g.deltas().empty()) << c.error.message;
    }
}

TEST(GraphUpdates, CompetingGroupUpdatesWriteInPlace) {
    BeliefGraph g = fixture();
    g.observe_edge(kIndependent, true);  // pending
    BeliefGraph shared = g.clone();
    g.observe_edge_chosen(kCompeting);
    EXPECT_TRUE(g.deltas().empty());
    EXPECT_EQ(concentrations(g, 0), (std::vector<double>{3, 6, 2}));
    EXPECT_EQ(concentrations(shared, 0), (std::vector<double>{3, 5, 2}));

    g.observe_edge_forced_choice(kCompeting);
    EXPECT_EQ(concentrations(g, 0), (std::vector<double>{1, 1000000, 1}));

    g.observe_edge_unchosen(kBinary);  // category 0 not chosen: category 1 gains one
    EXPECT_EQ(concentrations(g, 1), (std::vector<double>{1, 2}));
}

TEST(GraphUpdates, CompetingGroupErrors) {
    const std::string unchosen_k3 =
        "observe_unchosen is only conjugate for binary categorical groups; use observe_chosen "
        "with an explicit chosen category for K>2";
    struct Case {
        void (*update)(BeliefGraph&);
        ExecError error;
    };
    const Case cases[] = {
        {[](BeliefGraph& g) { g.observe_edge_chosen(kAbsentEdge); }, internal("missing edge")},
        {[](BeliefGraph& g) { g.observe_edge_chosen(kIndependent); },
         validation("observe_edge_chosen() only valid for competing edges")},
        {[](BeliefGraph& g) { g.observe_edge_unchosen(kIndependent); },
         validation("observe_edge_unchosen() only valid for competing edges")},
        {[](BeliefGraph& g) { g.observe_edge_forced_choice(kIndependent); },
         validation("observe_edge_forced_choice() only valid for competing edges")},
        {[](BeliefGraph& g) { g.observe_edge_unchosen(kCompeting); }, validation(unchosen_k3)},
        {[](BeliefGraph& g) {
             g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{5}, 0}},
                                    SharedText("R"), EdgeId{4}, N2, N3});
             g.observe_edge_chosen(EdgeId{4});
         },
         internal("missing competing group")},
    };
    for (const Case& c : cases) {
        BeliefGraph g = fixture();
        EXPECT_EQ(error_of([&] { c.update(g); }), c.error);
        EXPECT_EQ(concentrations(g, 0), (std::vector<double>{3, 5, 2}));
    }

    DirichletPosterior binary({1, 1});
    EXPECT_EQ(error_of([&] { binary.observe_unchosen(2); }),
              validation("Category index out of bounds"));
}

TEST(GraphUpdates, ACategoryBeyondItsGroupPanics) {
    BeliefGraph g = fixture();
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{1}, 2}},
                           SharedText("S"), EdgeId{4}, N1, N3});
    const auto panic_text = [&g](auto operation) -> std::string {
        try {
            std::invoke(operation, g, EdgeId{4});
        } catch (const support::Panic& p) {
            return p.message();
        }
        return "<no panic>";
    };
    EXPECT_EQ(panic_text(&BeliefGraph::observe_edge_chosen), "Category index out of bounds");
    EXPECT_EQ(panic_text(&BeliefGraph::observe_edge_forced_choice), "Category index out of bounds");
    EXPECT_EQ(concentrations(g, 1), (std::vector<double>{1, 1}));
    // Reading its probability is the same broken invariant.
    EXPECT_EQ(panic_text(&BeliefGraph::prob_mean), "Category index out of bounds");
}

TEST(GraphUpdates, EdgeWeights) {
    BeliefGraph g = fixture();
    g.observe_edge_weight(kWeighted, 2, 1);
    const GaussianPosterior w = *g.base().edge_weights.find(kWeighted);
    EXPECT_EQ(w.precision, 1.01);
    EXPECT_DOUBLE_EQ(w.mean, 2 / 1.01);
    g.set_edge_weight_prior(kWeighted, -1, 4);
    EXPECT_EQ(*g.base().edge_weights.find(kWeighted), (GaussianPosterior{-1, 4}));

    struct Case {
        void (*update)(BeliefGraph&);
        ExecError error;
    };
    const Case cases[] = {
        // The precision is checked before the edge is looked up.
        {[](BeliefGraph& g) { g.observe_edge_weight(kAbsentEdge, 1, -1); },
         validation("edge weight observation precision must be finite and > 0, got -1")},
        {[](BeliefGraph& g) { g.observe_edge_weight(kWeighted, 1, kInf); },
         validation("edge weight observation precision must be finite and > 0, got inf")},
        {[](BeliefGraph& g) { g.observe_edge_weight(kAbsentEdge, 1, 1); },
         internal("missing edge")},
        {[](BeliefGraph& g) { g.observe_edge_weight(EdgeId{0}, 1, 1); },
         validation("edge EdgeId(0) does not declare a continuous weight posterior")},
        // The edge is looked up before the values are checked.
        {[](BeliefGraph& g) { g.set_edge_weight_prior(kAbsentEdge, kNaN, 0); },
         internal("missing edge")},
        {[](BeliefGraph& g) { g.set_edge_weight_prior(kWeighted, kInf, 1); },
         validation("edge weight prior must have finite mean and positive finite precision, got "
                    "mean=inf precision=1")},
        {[](BeliefGraph& g) { g.set_edge_weight_prior(kWeighted, 0.5, 0); },
         validation("edge weight prior must have finite mean and positive finite precision, got "
                    "mean=0.5 precision=0")},
    };
    for (const Case& c : cases) {
        BeliefGraph h = fixture();
        EXPECT_EQ(error_of([&] { c.update(h); }), c.error);
        EXPECT_EQ(*h.base().edge_weights.find(kWeighted), (GaussianPosterior{0, 0.01}));
    }
}

TEST(GraphUpdates, WeightPriorOfAPendingEdge) {
    BeliefGraph g;
    g.add_edge(N0, N1, "W", 1, 1);  // only pending
    g.set_edge_weight_prior(EdgeId{0}, 1, 2);
    EXPECT_EQ(g.edge_weight_posterior(EdgeId{0}), (GaussianPosterior{1, 2}));
}

TEST(GraphUpdates, AttributeCorrelations) {
    BeliefGraph g = fixture();
    g.set_attr_correlation(N0, "z", "x", 0.5);
    EXPECT_EQ(g.base().attr_correlations.find(N0, "x|z"), 0.5);
    g.set_attr_correlation(N0, "x", "z", -0.25);  // replaces
    EXPECT_EQ(g.base().attr_correlations.find(N0, "x|z"), -0.25);
    g.set_attr_correlation(N0, "x", "z", 1e-13);  // removes
    EXPECT_EQ(g.base().attr_correlations.find(N0, "x|z"), std::nullopt);
    g.set_attr_correlation(N0, "x", "x", 1);  // accepted, stores nothing
    EXPECT_TRUE(g.base().attr_correlations.empty());

    struct Case {
        NodeId node;
        const char *a, *b;
        double rho;
        ExecError error;
    };
    const Case cases[] = {
        {N3, "q", "q", 0.5, validation("self-correlation for '3.q' must be 1, got 0.5")},
        {N0, "x", "x", kNaN, validation("self-correlation for '0.x' must be 1, got NaN")},
        // The range is checked before the attributes are looked up.
        {N1, "p", "q", 1.5,
         validation("attribute correlation must be finite and in [-1, 1], got 1.5")},
        {N0, "x", "z", -kInf,
         validation("attribute correlation must be finite and in [-1, 1], got -inf")},
        {N0, "y", "w", 0.5, internal("missing attr 'y'")},
        {N0, "x", "w", 0.5, internal("missing attr 'w'")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { g.set_attr_correlation(c.node, c.a, c.b, c.rho); }), c.error);
    }
    EXPECT_TRUE(g.base().attr_correlations.empty());
}

TEST(GraphUpdates, PairKeysPutTheByteWiseSmallerNameFirst) {
    EXPECT_EQ(AttrCorrelations::pair_key("b", "a"), "a|b");
    EXPECT_EQ(AttrCorrelations::pair_key("ab", "a"), "a|ab");
    EXPECT_EQ(AttrCorrelations::pair_key("a", "B"), "B|a");
    EXPECT_EQ(AttrCorrelations::pair_key("\xc3\xa9", "z"), "z|\xc3\xa9");  // bytes unsigned
}

}  // namespace
}  // namespace morvane::core::engine
