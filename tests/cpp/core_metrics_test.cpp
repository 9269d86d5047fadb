// Metrics: the top-level evaluator, the four node functions with their
// argument rules, the per-node function library, compensated sums, the fold
// order and deep nesting.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/metrics.hpp"
#include "tests/cpp/frontend_build_test_support.hpp"
#include "tests/cpp/small_stack.hpp"

namespace morvane::core::metrics {
namespace {

using engine::AttrMap;
using engine::CompetingEdgeGroup;
using engine::CompetingGroupId;
using engine::DirichletPosterior;
using engine::EdgeData;
using engine::EdgePosterior;
using engine::ExecErrorKind;
using engine::SharedText;
using frontend::parser::testing::metric_expr_of;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kBig = "1" + std::string(308, '0');  // 1e308; number tokens have no exponent

struct Outcome {
    std::optional<double> value;
    ExecErrorKind kind = ExecErrorKind::Validation;
    std::string message;
};

Outcome value(double v) {
    return {v, ExecErrorKind::Validation, {}};
}
Outcome validation(std::string m) {
    return {std::nullopt, ExecErrorKind::Validation, std::move(m)};
}
Outcome internal(std::string m) {
    return {std::nullopt, ExecErrorKind::Internal, std::move(m)};
}

template <typename F>
Outcome outcome_of(F&& evaluate) {
    try {
        return value(evaluate());
    } catch (const ExecError& e) {
        return {std::nullopt, e.kind, e.message};
    }
}

void expect_outcome(const Outcome& got, const Outcome& want, const std::string& text) {
    if (want.value) {
        ASSERT_TRUE(got.value) << text << " failed: " << got.message;
        if (std::isnan(*want.value)) {
            EXPECT_TRUE(std::isnan(*got.value)) << text;
        } else {
            // Quantiles come from a rational approximation.
            EXPECT_NEAR(*got.value, *want.value, 1e-8 * std::fmax(1.0, std::fabs(*want.value)))
                << text;
        }
    } else {
        ASSERT_FALSE(got.value) << text << " gave " << *got.value;
        EXPECT_EQ(got.kind, want.kind) << text;
        EXPECT_EQ(got.message, want.message) << text;
    }
}

// Persons 0, 1 and 3 (x = 1, 2, 3 with precision 4; level 1, NaN, 1; flag
// 0, NaN, 0; z finite but for person 1) and the city 2. ROUTE edges 0->1 (p 0.75), 0->3
// (p 0.25), 1->3 (p 0.5); person 3 chooses between persons 0 and 1 by a
// CHOICE group of equal concentrations.
BeliefGraph people_graph() {
    BeliefGraph g;
    const auto person = [&g](double x, double level, double z) {
        const double flag = std::isnan(level) ? kNaN : 0.0;
        return g.add_node(
            "Person",
            AttrMap{
                {"x", {x, 4.0}}, {"level", {level, 1.0}}, {"flag", {flag, 1.0}}, {"z", {z, 1.0}}});
    };
    const NodeId p0 = person(1.0, 1.0, 1.0);
    const NodeId p1 = person(2.0, kNaN, kInf);
    g.add_node("City", {});
    const NodeId p3 = person(3.0, 1.0, 1.0);
    g.add_edge(p0, p1, "ROUTE", 3.0, 1.0);
    g.add_edge(p0, p3, "ROUTE", 1.0, 3.0);
    g.add_edge(p1, p3, "ROUTE", 1.0, 1.0);
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0}, CompetingEdgeGroup(CompetingGroupId{0}, p3, "CHOICE", {p0, p1},
                                                DirichletPosterior({2.0, 2.0})));
    for (std::size_t k = 0; k < 2; ++k) {
        g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, k}},
                               SharedText("CHOICE"), engine::EdgeId{static_cast<uint32_t>(3 + k)},
                               p3, k == 0 ? p0 : p1});
    }
    g.ensure_owned();  // metric functions walk the stored nodes
    return g;
}

TEST(Metrics, TopLevelExpressionsAndNodeFunctions) {
    const struct {
        std::string text;
        Outcome want;
    } cases[] = {
        // The top level: bindings, operators and their messages.
        {"m1 * 3", value(6.0)},
        {"-m1 + (not 0) + (true and 2)", value(0.0)},
        {"unknown + 1", validation("unknown metric variable 'unknown'")},
        {"1 / count_nodes(label = Missing)", validation("division by zero in metric expression")},
        {kBig + " * 10", validation("metric expression produced non-finite value: inf")},
        {"(1 / 0) + unknown", validation("division by zero in metric expression")},
        {"median(label = Person)", validation("unknown metric function 'median'")},
        {"node.x", validation("bare field access not supported in metric; use E[node.attr]")},
        // count_nodes; the filter may also stand second (a named one wins).
        {"count_nodes(label = Person)", value(3.0)},
        {"count_nodes(Person)", value(3.0)},
        {"count_nodes(label = Missing)", value(0.0)},
        {"count_nodes()", validation("missing 'label' argument")},
        {"count_nodes(label = 1)", validation("expected identifier-like argument")},
        {"count_nodes(label = Person, where = E[node.x] > 1)", value(2.0)},
        {"count_nodes(Person, E[node.x] > 1)", value(2.0)},
        {"count_nodes(Person, E[node.x] > 5, where = E[node.x] > 1)", value(2.0)},
        {"count_nodes(label = Person, where = E[node.flag])", value(1.0)},  // NaN selects
        {"count_nodes(label = Person, where = value)",
         validation("'value' is only valid inside fold_nodes step")},
        // sum_nodes.
        {"sum_nodes(label = Person, contrib = E[node.x])", value(6.0)},
        {"sum_nodes(Person, E[node.x] > 1, E[node.x])", value(5.0)},
        {"sum_nodes(label = Person, contrib = m1)", value(6.0)},
        {"sum_nodes(label = Person)", validation("sum_nodes: missing 'contrib' argument")},
        {"sum_nodes(label = Person, contrib = node)",
         validation("bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)")},
        {"sum_nodes(label = Person, contrib = value + 1)", internal("unbound variable 'value'")},
        {"sum_nodes(label = Person, contrib = node + 1)", internal("unbound variable 'node'")},
        {"sum_nodes(label = Person, contrib = E[node.x] / 0)", validation("division by zero")},
        // fold_nodes: node id order by default; keys ascending, ties by id, NaN last.
        {"fold_nodes(label = Person, init = 0, step = value * 10 + E[node.x])", value(123.0)},
        {"fold_nodes(label = Person, order_by = E[node.level], init = 0, "
         "step = value * 10 + E[node.x])",
         value(132.0)},
        {"fold_nodes(Person, E[node.x] > 1, 0 - E[node.x], 0, value * 10 + E[node.x])",
         value(32.0)},
        {"fold_nodes(Person, E[node.x] > 1, 0 - E[node.x], 0, value * 10 + E[node.x], "
         "order_by = E[node.x], where = E[node.x] < 3)",
         value(12.0)},
        {"fold_nodes(label = Missing, init = 7, step = value)", value(7.0)},
        {"fold_nodes(label = Person, init = count_nodes(label = Person) + m1, step = value + 1)",
         value(8.0)},
        {"fold_nodes(label = Person)", validation("fold_nodes: missing 'init' argument")},
        {"fold_nodes(label = Person, init = 0)", validation("fold_nodes: missing 'step' argument")},
        {"fold_nodes(label = Person, init = big, step = value)",
         validation("fold_nodes: init expression produced non-finite value: inf")},
        {"fold_nodes(label = Person, init = node, step = value)",
         validation("unknown metric variable 'node'")},
        {"fold_nodes(label = Person, init = 0, step = E[node.z])",
         validation(
             "fold_nodes: step expression produced non-finite value: inf for node NodeId(1)")},
        {"fold_nodes(label = Person, init = 1, step = value / 0.0000000000001)",
         validation("division by zero")},
        // A key error ends the call before init is evaluated.
        {"fold_nodes(label = Person, order_by = E[node.w], init = 1 / 0, step = value)",
         internal("missing attr 'w'")},
        // avg_degree.
        {"avg_degree(label = Person, edge_type = ROUTE)", value(1.0)},
        {"avg_degree(Person, ROUTE, min_prob = 0.5)", value(2.0 / 3.0)},
        {"avg_degree(label = Missing, edge_type = ROUTE)", value(0.0)},
        {"avg_degree(label = Person)", validation("avg_degree: missing 'edge_type' argument")},
        {"avg_degree(Person, 1)", validation("expected identifier-like argument")},
        {"avg_degree(Person, ROUTE, min_prob = m1)",
         validation("expected numeric literal for argument")},
    };
    const BeliefGraph graph = people_graph();
    const MetricRegistry registry = MetricRegistry::with_builtins();
    const MetricBindings bindings{{"m1", 2.0}, {"big", kInf}};
    for (const auto& c : cases) {
        const ExprAst expr = metric_expr_of(c.text);
        expect_outcome(
            outcome_of([&] { return eval_metric_expr(expr, graph, registry, bindings); }), c.want,
            c.text);
    }
}

TEST(Metrics, PerNodeFunctions) {
    const double z975 = 1.959963984540054;  // the standard normal 97.5% quantile
    const struct {
        std::string text;
        Outcome want;
    } cases[] = {
        {"E[node.x]", value(1.0)},
        {"stddev(node.x)", value(0.5)},
        {"variance(node.x)", value(0.25)},
        {"effective_n(node.x)", value(4.0)},
        {"quantile(node.x, 0.5)", value(1.0)},
        {"quantile(node.x, 0.975)", value(1.0 + 0.5 * z975)},
        {"quantile(node.x, 0.01)", value(1.0 - 0.5 * 2.3263478740408408)},  // lower tail
        {"quantile(node.x, 0.999)", value(1.0 + 0.5 * 3.090232306167813)},  // upper tail
        {"ci_lo(node.x, 0.95)", value(1.0 - 0.5 * z975)},
        {"ci_hi(node.x, 0.95)", value(1.0 + 0.5 * z975)},
        {"degree(node)", value(2.0)},
        {"degree(node, min_prob = 0.5)", value(1.0)},
        {"degree(node, min_prob = 0.1, min_prob = 0.9)", value(2.0)},
        {"entropy(node, ROUTE)", value(0.0)},
        {"value * 2", value(10.0)},
        {"m1", value(2.0)},
        {"E(x = node.x)", validation("E[] does not accept named arguments")},
        {"E(node.x, node.z)", validation("E[] expects one positional argument")},
        {"E(node)", validation("E[] requires a field expression")},
        {"E[other.x]", validation("E[] requires node.attr with 'node' variable")},
        {"E[node.missing]", internal("missing attr 'missing'")},
        {"stddev(x = node.x)", validation("stddev() does not accept named arguments")},
        {"variance()", validation("variance() expects one positional argument")},
        {"variance(other.x)", validation("variance() requires node.attr with 'node' variable")},
        {"effective_n(x = node.x)", validation("effective_n(): expects one positional argument")},
        {"effective_n(node)", validation("effective_n(): requires a field expression")},
        {"quantile(node.x)", validation("quantile(): requires node.attr and p")},
        {"quantile(node.x, m1)", validation("quantile(): second argument must be numeric p")},
        {"quantile(node.x, 1)", validation("quantile(): p must be in (0,1)")},
        {"quantile(node, 0.5)",
         validation("quantile(): first argument must be a field expression")},
        {"quantile(other.x, 0.5)", validation("quantile(): first argument must be node.attr")},
        {"ci_lo(node.x, 0.5, 1)", validation("ci_lo/ci_hi(): requires node.attr and p")},
        {"ci_hi(node.x, m1)", validation("ci_lo/ci_hi(): p must be numeric")},
        {"ci_hi(node.x, 0)", validation("ci_lo/ci_hi(): p must be in (0,1)")},
        {"ci_lo(node, 0.5)", validation("ci_lo/ci_hi(): first arg must be field expr")},
        {"ci_lo(other.x, 0.5)", validation("ci_lo/ci_hi(): first arg must be node.attr")},
        {"degree()", validation("degree(): missing node argument")},
        {"degree(other)", validation("degree(): first argument must be 'node'")},
        {"degree(other, min_prob = 1 / 0)", validation("division by zero")},
        {"entropy(node)", validation("entropy(): requires node and edge_type arguments")},
        {"entropy(other, ROUTE)",
         validation("entropy(): first argument must be 'node' in metric expressions")},
        {"entropy(node, 1)", validation("entropy(): edge_type must be an identifier")},
        {"median(node.x)", validation("unsupported function 'median' in node metric expression")},
        {"node.x", validation("bare field access not supported in metric; use E[node.attr]")},
    };
    const BeliefGraph graph = people_graph();
    const MetricBindings bindings{{"m1", 2.0}};
    for (const auto& c : cases) {
        const ExprAst expr = metric_expr_of(c.text);
        expect_outcome(
            outcome_of([&] { return eval_node_expr(expr, graph, NodeId{0}, bindings, 5.0); }),
            c.want, c.text);
    }
    // Entropy of the group of two equal categories.
    const ExprAst entropy = metric_expr_of("entropy(node, CHOICE)");
    EXPECT_DOUBLE_EQ(eval_node_expr(entropy, graph, NodeId{3}, bindings, std::nullopt),
                     std::log(2.0));
}

// Node graphs of `count` nodes labelled L, nothing else.
BeliefGraph nodes_graph(int count) {
    BeliefGraph g;
    for (int i = 0; i < count; ++i)
        g.add_node("L", {});
    g.ensure_owned();
    return g;
}

double sum_of(std::string_view contrib, const BeliefGraph& graph) {
    const ExprAst expr =
        metric_expr_of("sum_nodes(label = L, contrib = " + std::string(contrib) + ")");
    return eval_metric_expr(expr, graph, MetricRegistry::with_builtins(), {});
}

TEST(Metrics, SumsAreCompensatedAndFinite) {
    EXPECT_EQ(sum_of("0.1", nodes_graph(10)), 1.0);  // plain addition gives 0.9999999999999999
    EXPECT_EQ(sum_of("0.1", nodes_graph(0)), 0.0);
    // A total past the range of doubles is refused: inf after two
    // contributions of 1e308, NaN after three (the compensation is inf).
    for (const auto& [count, shown] : {std::pair{2, "inf"}, std::pair{3, "NaN"}}) {
        const Outcome got = outcome_of([&] { return sum_of(kBig, nodes_graph(count)); });
        expect_outcome(
            got, validation(std::string("metric expression produced non-finite value: ") + shown),
            std::to_string(count));
    }
}

TEST(Metrics, AvgDegreeReadsPendingEdgesAndFailsInNodeOrder) {
    const ExprAst degree = metric_expr_of("avg_degree(L, T)");
    const auto run = [&](const BeliefGraph& g) {
        return outcome_of(
            [&] { return eval_metric_expr(degree, g, MetricRegistry::with_builtins(), {}); });
    };
    // Edges still pending count; edges of unlabelled sources do not.
    BeliefGraph g = nodes_graph(2);
    const NodeId other = g.add_node("M", {});
    g.ensure_owned();
    g.add_edge(NodeId{0}, NodeId{1}, "T", 1.0, 1.0);
    g.add_edge(NodeId{1}, NodeId{0}, "T", 1.0, 1.0);
    g.add_edge(other, NodeId{0}, "T", 1.0, 1.0);
    ASSERT_FALSE(g.deltas().empty());
    expect_outcome(run(g), value(1.0), "pending");

    // Stored first, the edge of node 1 has a category its group lacks (a
    // broken invariant); the edge of node 0 names a group the graph lacks.
    // Node order meets the missing group first.
    BeliefGraph broken = nodes_graph(2);
    broken.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0}, CompetingEdgeGroup(CompetingGroupId{0}, NodeId{1}, "T", {NodeId{0}},
                                                DirichletPosterior({1.0})));
    broken.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, 5}},
                                SharedText("T"), engine::EdgeId{0}, NodeId{1}, NodeId{0}});
    broken.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{9}, 0}},
                                SharedText("T"), engine::EdgeId{1}, NodeId{0}, NodeId{1}});
    broken.ensure_owned();
    expect_outcome(run(broken), internal("missing competing group"), "broken");
}

TEST(Metrics, RegistryReplacesAndArgumentsKeepTheLaterName) {
    struct Constant final : MetricFn {
        double eval(const BeliefGraph&, const MetricArgs& args,
                    const MetricBindings&) const override {
            return static_cast<double>(args.positional.size()) +
                   std::get<ExprAst::Number>(args.named_arg("k")->node).value;
        }
    };
    MetricRegistry registry = MetricRegistry::with_builtins();
    registry.register_function("count_nodes", std::make_shared<const Constant>());
    const ExprAst expr = metric_expr_of("count_nodes(1, k = 10, 2, k = 20)");
    EXPECT_EQ(eval_metric_expr(expr, BeliefGraph(), registry, {}), 22.0);
}

TEST(Metrics, DeepExpressionsOnASmallStack) {
    // A long chain at the top level and in a per-node expression, and fold
    // inits nested through the evaluator.
    const ExprAst chain = metric_expr_of(morvane::testing::repeat("m + ", 100000) + "m");
    const ExprAst node_chain = metric_expr_of(
        "sum_nodes(label = L, contrib = " + morvane::testing::repeat("E[node.x] + ", 50000) + "0)");
    std::string folds = "1";
    for (int i = 0; i < 300; ++i)
        folds = "fold_nodes(label = L, init = " + folds + ", step = value + 1)";
    const ExprAst nested = metric_expr_of(folds);

    BeliefGraph graph;
    graph.add_node("L", AttrMap{{"x", {1.0, 1.0}}});
    graph.ensure_owned();
    const MetricRegistry registry = MetricRegistry::with_builtins();
    const MetricBindings bindings{{"m", 1.0}};
    double values[3] = {};
    morvane::testing::run_on_stack_of(std::size_t{256} << 10, [&] {
        values[0] = eval_metric_expr(chain, graph, registry, bindings);
        values[1] = eval_metric_expr(node_chain, graph, registry, bindings);
        values[2] = eval_metric_expr(nested, graph, registry, bindings);
    });
    EXPECT_EQ(values[0], 100001.0);
    EXPECT_EQ(values[1], 50000.0);
    EXPECT_EQ(values[2], 301.0);
}

}  // namespace
}  // namespace morvane::core::metrics
