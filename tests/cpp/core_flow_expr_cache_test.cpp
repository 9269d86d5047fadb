// The lowered-expression cache: the program form, what lowers and what does
// not, and values and errors that never differ from the generic evaluators.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <variant>

#include "core/engine/flow_expr_cache.hpp"
#include "core/engine/prune_expr_context.hpp"
#include "tests/cpp/frontend_build_test_support.hpp"

namespace morvane::core::engine {
namespace {

using frontend::parser::testing::metric_expr_of;
using frontend::parser::testing::where_expr_of;

// A value, or the error's category and text.
struct Outcome {
    std::optional<double> value;
    ExecErrorKind kind = ExecErrorKind::Internal;
    std::string message;
    bool operator==(const Outcome&) const = default;
};

template <typename F>
Outcome outcome_of(F&& evaluate) {
    try {
        return {evaluate(), ExecErrorKind::Internal, {}};
    } catch (const ExecError& e) {
        return {std::nullopt, e.kind, e.message};
    }
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (o.value) return os << *o.value;
    return os << kind_name(o.kind) << ": " << o.message;
}

TEST(FlowExprCache, LoweringIsPostOrderOverFreshSlots) {
    CraneliftMetricProgram metric;
    const ir::ExprIR sum = ir::ExprIR::from(metric_expr_of("a + 2 * -b"));
    ASSERT_EQ(CraneliftMetricCompiler::lower(metric, sum), SlotIndex{5});
    EXPECT_EQ(metric.result, 5u);
    EXPECT_EQ(metric.slots, 6u);
    ASSERT_EQ(metric.ops.size(), 6u);
    EXPECT_EQ(std::get<LoweredVar>(metric.ops[0]).name, "a");
    EXPECT_EQ(std::get<LoweredConst>(metric.ops[1]).value, 2.0);
    EXPECT_EQ(std::get<LoweredVar>(metric.ops[2]).name, "b");
    EXPECT_EQ(std::get<LoweredUnary>(metric.ops[3]).src, 2u);
    const auto& mul = std::get<LoweredBinary>(metric.ops[4]);
    EXPECT_EQ(std::make_pair(mul.lhs, mul.rhs), std::make_pair(SlotIndex{1}, SlotIndex{3}));
    const auto& add = std::get<LoweredBinary>(metric.ops[5]);
    EXPECT_EQ(std::make_tuple(add.dst, add.lhs, add.rhs), std::make_tuple(5u, 0u, 4u));

    // What each program form supports.
    for (const char* text : {"count_nodes(label = L)", "1 + node.x"}) {
        CraneliftMetricProgram p;
        EXPECT_FALSE(CraneliftMetricCompiler::lower(p, ir::ExprIR::from(metric_expr_of(text))))
            << text;
    }
    for (const auto& [text, lowers] :
         {std::pair{"prob(edge) < 0.3 or true", true}, std::pair{"weight(edge) < 1", false},
          std::pair{"prob(x = edge) < 1", false}, std::pair{"prob(edge, edge) < 1", false},
          std::pair{"prob(e) < 1", false}, std::pair{"x < 1", false}}) {
        CraneliftPruneProgram p;
        EXPECT_EQ(
            CraneliftPruneCompiler::lower(p, ir::ExprIR::from(where_expr_of(text))).has_value(),
            lowers)
            << text;
    }
}

TEST(FlowExprCache, MetricsGiveTheGenericValuesAndErrors) {
    const std::string big = "1" + std::string(308, '0');
    const std::string cases[] = {
        "m * 3 - 1",  "-m == -2",           "not m or false",
        "m / 0",      "m / 0.000000000001", "missing + 1",
        big + " * m", "(m - 2) * 7",        "count_nodes(label = L) + m",
    };
    BeliefGraph graph;
    graph.add_node("L", {});
    graph.ensure_owned();
    const metrics::MetricRegistry registry = metrics::MetricRegistry::with_builtins();
    const metrics::MetricBindings bindings{{"m", 2.0}};
    CraneliftJitExecutionBackend backend(1, 1);  // lower on first use
    CraneliftExprEvaluator cached = backend.lock();
    for (const std::string& text : cases) {
        const ExprAst tree = metric_expr_of(text);
        const ir::ExprIR expr = ir::ExprIR::from(tree);
        const Outcome want =
            outcome_of([&] { return metrics::eval_metric_expr(tree, graph, registry, bindings); });
        for (int use = 0; use < 2; ++use) {  // lowering, then the stored program
            EXPECT_EQ(outcome_of([&] {
                          return cached.eval_metric_expr("F", text, expr, graph, registry,
                                                         bindings);
                      }),
                      want)
                << text;
        }
    }
    const auto& entries = backend.state().metric_entries;
    const auto entry = [&](const std::string& text) -> const auto& {
        return entries.at(MetricExprKey{"F", text});
    };
    EXPECT_TRUE(entry("m * 3 - 1").program.has_value());
    EXPECT_EQ(entry("m * 3 - 1").hits, 2u);
    EXPECT_TRUE(entry("m / 0").program.has_value());  // lowered, then every run fell back
    EXPECT_TRUE(entry("count_nodes(label = L) + m").unsupported);
}

// Nodes 0..9 labelled L; T edges i -> i+1 (mod 10) with probabilities from
// 0.1 to 0.9 but never 0.5, and weight means (i % 4) / 2; except that edges
// from `odd_from` on have probability 0.5.
BeliefGraph edge_graph(int t_edges, int odd_from) {
    BeliefGraph g;
    for (int i = 0; i < 10; ++i)
        g.add_node("L", {});
    for (int i = 0; i < t_edges; ++i) {
        const int tenths = 1 + i % 8;
        const double alpha = i >= odd_from ? 5.0 : tenths + (tenths >= 5 ? 1.0 : 0.0);
        const EdgeId e =
            g.add_edge(NodeId{static_cast<uint32_t>(i % 10)},
                       NodeId{static_cast<uint32_t>((i + 1) % 10)}, "T", alpha, 10.0 - alpha);
        g.set_edge_weight_prior(e, (i % 4) * 0.5, 1.0);
    }
    g.ensure_owned();
    return g;
}

TEST(FlowExprCache, PrunePredicatesGiveTheGenericValuesAndErrors) {
    const struct {
        const char* text;
        bool lowered;
    } cases[] = {
        {"prob(edge) < 0.3", true},
        {"weight(edge) < 1.0", false},
        {"1 / (prob(edge) - 0.5)", true},  // fails at edge 150 only, past the threshold
        {"prob(edge) * 0 - (prob(edge) > 0.8)", true},
    };
    const BeliefGraph graph = edge_graph(200, 150);
    for (const auto& c : cases) {
        const ExprAst tree = where_expr_of(c.text);
        const ir::ExprIR predicate = ir::ExprIR::from(tree);
        CraneliftJitExecutionBackend backend;
        CraneliftExprEvaluator cached = backend.lock();
        for (uint32_t id = 0; id < 201; ++id) {  // edge 200 does not exist
            const EdgeId edge{id};
            const Outcome want =
                outcome_of([&] { return eval_expr_core(tree, graph, PruneExprContext{edge}); });
            ASSERT_EQ(outcome_of([&] {
                          return cached.eval_prune_predicate("F", "g", 0, predicate, graph, edge);
                      }),
                      want)
                << c.text << " on edge " << id;
        }
        const auto& entry = backend.state().prune_entries.at(PruneExprKey{"F", "g", 0});
        EXPECT_EQ(entry.hits, 201u);
        EXPECT_EQ(entry.program.has_value(), c.lowered) << c.text;
        EXPECT_EQ(entry.unsupported, !c.lowered) << c.text;
    }
}

}  // namespace
}  // namespace morvane::core::engine
