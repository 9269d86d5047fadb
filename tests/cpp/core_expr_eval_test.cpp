#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <variant>

#include "core/engine/expr_eval.hpp"
#include "core/engine/prune_expr_context.hpp"
#include "tests/cpp/frontend_build_test_support.hpp"
#include "tests/cpp/small_stack.hpp"

namespace morvane::core::engine {
namespace {

using frontend::parser::testing::where_expr_of;

// Variables from a table; sum(...) adds its positional arguments, evaluated
// with this same context, and counts the named ones it was handed.
struct TableContext {
    std::map<std::string, double, std::less<>> vars;

    std::optional<double> resolve_var(std::string_view name) const {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    }
    double eval_function(std::string_view name, PositionalArgs positional,
                         std::span<const CallArg> args, const BeliefGraph& graph) const {
        if (name != "sum") throw ExecError::internal("no function " + std::string(name));
        double total = 0.0;
        for (const ExprAst* arg : positional) total += eval_expr_core(*arg, graph, *this);
        return total + 1000.0 * static_cast<double>(args.size() - positional.size());
    }
    static ExecError field_access_error(const ExprAst::Field&) {
        return ExecError::internal("field");
    }
};

struct Outcome {
    std::optional<double> value;
    ExecErrorKind kind = ExecErrorKind::Internal;
    std::string message;
};

template <typename C>
Outcome evaluate(const ExprAst& e, const BeliefGraph& g, const C& ctx) {
    try {
        return {eval_expr_core(e, g, ctx), ExecErrorKind::Internal, {}};
    } catch (const ExecError& error) {
        return {std::nullopt, error.kind, error.message};
    }
}

Outcome value(double v) { return {v, ExecErrorKind::Internal, {}}; }
Outcome validation(std::string m) { return {std::nullopt, ExecErrorKind::Validation, m}; }
Outcome internal(std::string m) { return {std::nullopt, ExecErrorKind::Internal, m}; }

void expect_outcome(const Outcome& got, const Outcome& want, const std::string& text) {
    if (want.value) {
        ASSERT_TRUE(got.value) << text << " failed: " << got.message;
        if (std::isnan(*want.value)) {
            EXPECT_TRUE(std::isnan(*got.value)) << text;
        } else {
            EXPECT_EQ(*got.value, *want.value) << text;
            EXPECT_EQ(std::signbit(*got.value), std::signbit(*want.value)) << text;
        }
    } else {
        ASSERT_FALSE(got.value) << text << " gave " << *got.value;
        EXPECT_EQ(got.kind, want.kind) << text;
        EXPECT_EQ(got.message, want.message) << text;
    }
}

TEST(ExprEval, OperatorsAndTheirErrors) {
    const std::string kBig = "1" + std::string(308, '0');  // 1e308 (number tokens have no exponent)
    const struct {
        std::string text;
        Outcome want;
    } cases[] = {
        {"0.1 + 0.2 == 0.3", value(1.0)},
        {"1 == 1 + 0.00000000001", value(0.0)},
        {"1 != 1 + 0.0000000000001", value(0.0)},
        {"1 / 0.0000000000001", validation("division by zero")},
        {"1 / (0 - 0.0000000000005)", validation("division by zero")},
        {"1 / 0.000000000001", value(1e12)},
        {kBig + " * 10", validation("binary operation produced non-finite value: 1" +
                                  std::string(308, '0') + " Mul 10")},
        {"0 and (1 / 0)", validation("division by zero")},
        {"1 or (1 / 0)", validation("division by zero")},
        {"not 0.5", value(0.0)},
        {"not 0", value(1.0)},
        {"-0", value(-0.0)},
        {"-0 == 0", value(1.0)},
        {"2 and 3", value(1.0)},
        {"0 or -1", value(1.0)},
        {"x * 2 - y", value(3.0)},
        {"true + false", value(1.0)},
        {"3 < 3", value(0.0)},
        {"3 <= 3", value(1.0)},
        {"4 > 3 and 3 >= 3", value(1.0)},
        {"missing + 1", internal("unbound variable 'missing'")},
        {"(1 / 0) + missing", validation("division by zero")},
        {"sum(x, y, 1 + 1)", value(5.0)},
        {"sum(x, k = 1)", value(1002.0)},
        {"sum(sum(sum(x)))", value(2.0)},
        {"a.b", internal("field")},
        {"exists (a:L)-[e:T]->(b:L)", internal("Exists subqueries must be handled by RuleExprContext")},
    };
    const TableContext ctx{{{"x", 2.0}, {"y", 1.0}}};
    const BeliefGraph graph;
    for (const auto& c : cases) {
        try {
            expect_outcome(evaluate(where_expr_of(c.text), graph, ctx), c.want, c.text);
        } catch (const frontend::FrontendError& e) {
            ADD_FAILURE() << c.text << ": " << e.parse_text();
        }
    }
}

TEST(ExprEval, BinaryOpHandlesNaNAsWritten) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(eval_binary_op(BinaryOp::Eq, nan, 1.0), 0.0);
    EXPECT_EQ(eval_binary_op(BinaryOp::Ne, nan, 1.0), 0.0);
    EXPECT_EQ(eval_binary_op(BinaryOp::And, nan, 1.0), 1.0);
    EXPECT_EQ(eval_binary_op(BinaryOp::Lt, nan, 1.0), 0.0);
    try {
        eval_binary_op(BinaryOp::Div, 1.0, nan);  // a NaN divisor passes the guard
        FAIL();
    } catch (const ExecError& e) {
        EXPECT_EQ(e.message, "binary operation produced non-finite value: 1 Div NaN");
    }
}

TEST(ExprEval, PrunePredicates) {
    BeliefGraph graph;
    const NodeId a = graph.add_node("L", {});
    const NodeId b = graph.add_node("L", {});
    const EdgeId e = graph.add_edge(a, b, "T", 1.0, 3.0);
    graph.set_edge_weight_prior(e, 2.5, 1.0);
    const struct {
        const char* text;
        Outcome want;
    } cases[] = {
        {"prob(edge) < 0.5", value(1.0)},
        {"prob(edge) + weight(edge)", value(2.75)},
        {"prob(e)", validation("prob(): argument must be 'edge' in prune predicate")},
        {"weight()", validation("weight(): expected single positional argument")},
        {"prob(edge, edge)", validation("prob(): expected single positional argument")},
        {"prob(x = edge)", validation("prob() does not accept named arguments")},
        {"degree(edge)", validation("unsupported function 'degree' in prune predicate")},
        {"E[edge.x]", validation("unsupported function 'E' in prune predicate")},
        {"edge", internal("unbound variable 'edge'")},
        {"edge.x > 1", validation("field access not allowed in prune predicate")},
    };
    const PruneExprContext ctx{e};
    for (const auto& c : cases) expect_outcome(evaluate(where_expr_of(c.text), graph, ctx), c.want, c.text);
    expect_outcome(evaluate(where_expr_of("prob(edge)"), graph, PruneExprContext{EdgeId{7}}),
                   internal("missing edge"), "prob of an absent edge");
}

TEST(ExprEval, DeepTreesOnASmallStack) {
    // A flat chain folds into a tree as deep as it is long; nested calls
    // recurse through the context.
    const ExprAst chain = where_expr_of(morvane::testing::repeat("1 + ", 200000) + "1");
    const ExprAst calls = where_expr_of(morvane::testing::repeat("sum(", 1000) + "x" +
                                        std::string(1000, ')'));
    const TableContext ctx{{{"x", 2.0}}};
    const BeliefGraph graph;
    double chain_value = 0, calls_value = 0;
    morvane::testing::run_on_stack_of(size_t{256} << 10, [&] {
        chain_value = eval_expr_core(chain, graph, ctx);
        calls_value = eval_expr_core(calls, graph, ctx);
    });
    EXPECT_EQ(chain_value, 200001.0);
    EXPECT_EQ(calls_value, 2.0);
}

}  // namespace
}  // namespace morvane::core::engine
