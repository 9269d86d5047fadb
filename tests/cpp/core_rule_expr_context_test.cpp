// The rule expression context: name lookup, the function library's values on
// hand-computed numbers, and every message with its category.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/expr_eval.hpp"
#include "core/engine/rule_expr_context.hpp"
#include "tests/cpp/frontend_build_test_support.hpp"

namespace morvane::core::engine {
namespace {

using frontend::parser::testing::where_expr_of;

constexpr double kInvNorm975 = 1.9599639861201181;  // Acklam's inv_norm_cdf(0.975)

// Node 0 (P): x = (1, 1), y = (3, 4), z = (3, 1e9), corr(x, y) = 0.5.
// Node 1 (P): x = (0, 1). Nodes 2 and 3 (Q): no attributes.
// Edges: 0 = 0->1 T, p = 0.95, weight (2.5, 1); 1 = 0->2 T, p = 0.9499;
// 2 = 0->2 R and 3 = 0->3 R, competing, concentrations [3, 1].
BeliefGraph fixture() {
    BeliefGraph g;
    g.add_node("P", AttrMap{{"x", {1, 1}}, {"y", {3, 4}}, {"z", {3, 1e9}}});
    g.add_node("P", AttrMap{{"x", {0, 1}}});
    g.add_node("Q", {});
    g.add_node("Q", {});
    g.add_edge(NodeId{0}, NodeId{1}, "T", 19, 1);
    g.add_edge(NodeId{0}, NodeId{2}, "T", 9499, 501);
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0},
        CompetingEdgeGroup(CompetingGroupId{0}, NodeId{0}, "R", {NodeId{2}, NodeId{3}},
                           DirichletPosterior({3, 1})));
    for (uint32_t k = 0; k < 2; ++k) {
        g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, k}},
                               SharedText("R"), EdgeId{2 + k}, NodeId{0}, NodeId{2 + k}});
    }
    g.set_edge_weight_prior(EdgeId{0}, 2.5, 1);
    g.set_attr_correlation(NodeId{0}, "x", "y", 0.5);
    g.ensure_owned();
    return g;
}

// Node variables a, b, c = nodes 0, 1, 2; edge variables e, f = edges 0, 1.
struct Match {
    std::vector<std::string_view> node_names{"a", "b", "c"};
    std::vector<NodeId> nodes{NodeId{0}, NodeId{1}, NodeId{2}};
    std::vector<std::string_view> edge_names{"e", "f"};
    std::vector<EdgeId> edges{EdgeId{0}, EdgeId{1}};
    MatchBindings bindings() const { return {node_names, nodes, edge_names, edges, nullptr}; }
};

struct Outcome {
    std::optional<double> value;
    ExecErrorKind kind = ExecErrorKind::Internal;
    std::string message;
};

Outcome evaluate(const std::string& text, const RuleExprContext& ctx, const BeliefGraph& g) {
    try {
        return {eval_expr_core(where_expr_of(text), g, ctx), {}, {}};
    } catch (const ExecError& e) {
        return {std::nullopt, e.kind, e.message};
    }
}

class RuleContextTest : public ::testing::Test {
protected:
    const BeliefGraph graph = fixture();
    const Match match;
    const MatchBindings bindings = match.bindings();
    const RuleLocals no_locals;
    const RuleGlobals no_globals;
    const RuleExprContext ctx{bindings, no_locals, no_globals};

    Outcome run(const std::string& text) const { return evaluate(text, ctx, graph); }
};

TEST_F(RuleContextTest, FunctionValues) {
    const double phi = 0.760250013263723;  // Phi(1 / sqrt 2)
    const struct {
        const char* text;
        double want;
    } cases[] = {
        {"E[a.x]", 1.0},
        {"E(a.y)", 3.0},
        {"variance(a.y)", 0.25},
        {"stddev(a.y)", 0.5},
        {"effective_n(a.y)", 4.0},
        {"stddev(a.y, k = 1)", 0.5},  // a named argument after a positional one is ignored
        {"weight(e)", 2.5},
        {"prob(e)", 0.95},
        {"prob(f)", 0.9499},
        {"prob(a.x > b.x)", phi},  // D = 2
        {"prob(a.x >= b.x)", phi},
        {"prob(a.x < b.x)", 1.0 - phi},
        {"prob(a.x <= b.x)", 1.0 - phi},
        {"prob(a.x > a.y)", 0.010460640703829127},  // same node: rho 0.5, D = 0.75
        {"prob_correlated(a.x > a.y, rho = 0)", 0.03681908352601315},  // D = 1.25
        {"prob(a.z > 3)", 0.5000000005248086},                         // D = 1e-9: z = 0
        {"prob(2 > 1)", 1.0},
        {"prob(1 > 1)", 0.0},
        {"prob(1 <= 1)", 0.0},
        {"prob_correlated(a.x > b.x, rho = 1)", 1.0},  // D = 0: means compared
        {"prob_correlated(b.x > a.x, rho = 1)", 0.0},
        {"credible(e)", 1.0},
        {"credible(f)", 0.0},
        {"credible(f, p = 0.9499)", 1.0},
        {"credible(p = 0.5, p = 0.99, e)", 0.0},  // the last p counts
        {"credible(a.x > b.x, p = 0.76)", 1.0},
        {"credible(a.x > b.x, p = 0.77)", 0.0},
        {"credible(a.x > a.y, p = 0.03, rho = 0)", 1.0},
        {"quantile(a.y, 0.5)", 3.0},
        {"quantile(a.y, 0.975, 7)", 3.0 + kInvNorm975 * 0.5},
        {"ci_lo(a.y, 0.95)", 3.0 - 0.5 * kInvNorm975},
        {"ci_hi(a.y, 0.95)", 3.0 + 0.5 * kInvNorm975},
        {"degree(a)", 4.0},
        {"degree(a, min_prob = 0.7)", 3.0},
        {"degree(a, min_prob = 0.95, min_prob = zz)", 1.0},  // the first counts, alone
        {"degree(b)", 0.0},
        {"winner(a, R)", 2.0},
        {"winner(a, R, epsilon = 0.6)", -1.0},  // 0.75 and 0.25 lie within 0.6
        {"winner(b, R)", -1.0},
        {"entropy(a, R)", 0.5623351446188083},
        {"entropy(b, R)", 0.0},
        {"cov(a.x, a.y)", 0.25},
        {"corr(a.x, a.y)", 0.5},
        {"corr(a.y, a.y)", 1.0},
        {"cov(a.x, b.nope)", 0.0},  // different nodes: nothing is read
        {"a + 10 * b + 100 * c + 1000 * f", 1210.0},
    };
    for (const auto& c : cases) {
        const Outcome got = run(c.text);
        ASSERT_TRUE(got.value) << c.text << ": " << got.message;
        EXPECT_NEAR(*got.value, c.want, 1e-12) << c.text;
    }
}

TEST_F(RuleContextTest, MessagesAndCategories) {
    constexpr ExecErrorKind I = ExecErrorKind::Internal, V = ExecErrorKind::Validation;
    const struct {
        const char* text;
        ExecErrorKind kind;
        const char* message;
    } cases[] = {
        {"nope(1)", I, "unknown function 'nope'"},
        {"zz + 1", I, "unbound variable 'zz'"},
        {"a.x > 1", I, "bare field access not supported; use E[Node.attr]: Var(\"a\")"},
        {"E(k = 1)", I, "E() does not accept named arguments"},
        {"E(a.x, b.x)", I, "E[] expects one positional argument"},
        {"E(1)", I, "E[] requires a field expression"},
        {"E(true.x)", I, "E[] requires NodeVar.attr"},
        {"E[zz.x]", I, "unknown node var 'zz'"},
        {"E[c.x]", I, "missing attr 'x'"},
        {"variance()", I, "variance() expects one positional argument"},
        {"variance(a)", I, "variance() requires a field expression"},
        {"variance(true.x)", I, "variance() requires NodeVar.attr"},
        {"stddev(k = 1, a.y)", I, "stddev() does not accept named arguments"},
        {"stddev(1)", I, "stddev() requires a field expression"},
        {"stddev(true.x)", I, "stddev() requires NodeVar.attr"},
        {"stddev()", I, "stddev() expects one positional argument"},
        {"effective_n()", I, "effective_n() expects one positional argument"},
        {"effective_n(1)", I, "effective_n() requires a field expression"},
        {"effective_n(true.x)", I, "effective_n() requires NodeVar.attr"},
        {"weight(k = e)", I, "weight() does not accept named arguments"},
        {"weight()", I, "weight() expects one positional argument"},
        {"weight(a.x)", I, "weight(): argument must be an edge variable"},
        {"weight(zz)", I, "unknown edge var 'zz'"},
        {"weight(f)", V, "edge EdgeId(1) does not declare a continuous weight posterior"},
        {"prob(k = e)", I, "prob() does not accept named arguments"},
        {"prob(e, f)", I, "prob() expects one positional argument"},
        {"prob(1)", I, "prob(): argument must be an edge variable or comparison"},
        {"prob(a.x == b.x)", V, "prob(): only supports comparisons like prob(A > B)"},
        {"prob(a.x + b.x)", V, "prob(): only supports comparisons like prob(A > B)"},
        {"prob(true.x > 1)", V, "prob(): comparison must reference node variables"},
        {"prob(E[a.x] > 1)", V, "prob(): only supports node.attr or numeric in comparisons"},
        {"prob(1 > -1)", V, "prob(): only supports node.attr or numeric in comparisons"},
        {"credible()", V, "credible(): expects one positional event argument"},
        {"credible(e, q = 0.5)", V, "credible(): unknown named argument 'q'; expected p or rho"},
        {"credible(e, p = zz)", I, "unbound variable 'zz'"},
        {"credible(e, p = 1.5)", V, "credible(): p must be finite and in [0, 1]"},
        {"credible(e, p = 0 - 0.1)", V, "credible(): p must be finite and in [0, 1]"},
        {"credible(e, rho = 2)", V, "credible(): rho must be finite and in [-1, 1]"},
        {"credible(1)", V, "credible(): event must be an edge variable or comparison"},
        {"credible(a.x != b.x)", V, "credible(): only supports comparisons like credible(A > B)"},
        {"credible(E[a.x] > 1)", V, "prob(): only supports node.attr or numeric in comparisons"},
        {"prob_correlated()", I, "prob_correlated() expects one positional comparison argument"},
        {"prob_correlated(a.x > b.x, r = 1)", V,
         "prob_correlated(): unknown named argument 'r'; expected rho"},
        {"prob_correlated(a.x > b.x, rho = 2)", V,
         "prob_correlated(): rho must be finite and in [-1, 1]"},
        {"prob_correlated(e)", V,
         "prob_correlated(): argument must be a comparison like A.x > B.x"},
        {"prob_correlated(a.x * b.x)", V,
         "prob_correlated(): only supports comparisons like prob_correlated(A > B)"},
        {"quantile(k = 1, a.x, 0.5)", I, "quantile(): named args not supported"},
        {"quantile(a.x)", I, "quantile(): requires field and p arguments"},
        {"quantile(a.x, -0.5)", V, "quantile(): p must be numeric"},
        {"quantile(a.x, 1)", V, "quantile(): p must be in (0,1)"},
        {"quantile(1, 0.5)", I, "quantile(): first argument must be a field expression"},
        {"quantile(true.x, 0.5)", I, "quantile(): first argument must be NodeVar.attr"},
        {"ci_hi(k = 1)", I, "ci_hi() does not accept named arguments"},
        {"ci_lo(a.x)", I, "ci_lo/ci_hi() expects field and p"},
        {"ci_lo(a.x, 0.5, 0.5)", I, "ci_lo/ci_hi() expects field and p"},
        {"ci_lo(a.x, a)", V, "ci(): p must be numeric"},
        {"ci_hi(a.x, 0)", V, "ci(): p must be in (0,1)"},
        {"ci_lo(1, 0.5)", I, "ci() requires a field expression"},
        {"ci_hi(true.x, 0.5)", I, "ci() requires NodeVar.attr"},
        {"degree()", I, "degree(): missing node argument"},
        {"degree(min_prob = zz)", I, "degree(): missing node argument"},
        {"degree(a, min_prob = zz)", I, "unbound variable 'zz'"},
        {"degree(1)", I, "degree(): first argument must be a node variable"},
        {"degree(zz)", I, "unknown node var 'zz'"},
        {"winner(a)", I, "winner(): requires node and edge_type arguments"},
        {"winner(1, R)", I, "winner(): first argument must be a node variable"},
        {"winner(a, 1)", I, "winner(): edge_type must be an identifier"},
        {"entropy(a)", I, "entropy(): requires node and edge_type arguments"},
        {"entropy(1, R)", I, "entropy(): first argument must be a node variable"},
        {"entropy(a, 1)", I, "entropy(): edge_type must be an identifier"},
        {"cov(a.x)", V, "cov() expects two positional NodeVar.attr arguments"},
        {"corr(a.x, b.x, c.x)", V, "corr() expects two positional NodeVar.attr arguments"},
        {"corr(a.x, 1)", V, "corr(): arguments must be NodeVar.attr"},
        {"cov(a.x, true.y)", V, "cov(): arguments must reference node variables"},
        {"corr(k = 1)", I, "corr() does not accept named arguments"},
        {"cov(a.x, a.nope)", I, "missing attr 'nope'"},
    };
    for (const auto& c : cases) {
        const Outcome got = run(c.text);
        ASSERT_FALSE(got.value) << c.text << " gave " << *got.value;
        EXPECT_EQ(got.message, c.message) << c.text;
        EXPECT_EQ(got.kind, c.kind) << c.text;
    }
}

TEST(RuleContext, LocalsHideGlobalsWhichHideNodeThenEdgeVariables) {
    const BeliefGraph g;
    const std::vector<std::string_view> x{"x"};
    const std::vector<NodeId> node{NodeId{7}};
    const std::vector<EdgeId> edge{EdgeId{9}};
    const MatchBindings both{x, node, x, edge, nullptr};
    const MatchBindings edge_only{{}, {}, x, edge, nullptr};
    RuleLocals locals;
    locals.set("x", 0.5);
    locals.set("x", 1.0);  // a later let replaces the value
    const RuleLocals none;
    const RuleGlobals globals{{"x", 2.0}};
    const RuleGlobals no_globals;
    const auto x_in = [&](const MatchBindings& b, const RuleLocals& l, const RuleGlobals& gl) {
        return RuleExprContext(b, l, gl).resolve_var("x");
    };
    EXPECT_EQ(x_in(both, locals, globals), 1.0);
    EXPECT_EQ(x_in(both, none, globals), 2.0);
    EXPECT_EQ(x_in(both, none, no_globals), 7.0);
    EXPECT_EQ(x_in(edge_only, none, no_globals), 9.0);
    EXPECT_EQ(x_in(MatchBindings{}, none, no_globals), std::nullopt);
    // An inner scope (an exists pattern's variables) is looked at first.
    const std::vector<NodeId> other{NodeId{3}};
    const MatchBindings inner{x, other, {}, {}, &both};
    EXPECT_EQ(x_in(inner, none, no_globals), 3.0);
    EXPECT_EQ(inner.edge("x"), EdgeId{9});
}

}  // namespace
}  // namespace morvane::core::engine
