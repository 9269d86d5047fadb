// Throughput of the expression evaluator on the kind of expression rules and
// metrics evaluate once per match or per node: fifteen nodes of arithmetic
// and comparison over two variables,
//
//     (x + 1) * (y - 2) + x / 4 >= y * 3
//
// with a context that resolves x and y and has no functions.
#include <benchmark/benchmark.h>

#include <optional>
#include <span>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/engine/expr_eval.hpp"
#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {
namespace {

namespace ast = frontend::ast;

struct TwoVariables {
    double x = 0.0;
    double y = 0.0;

    std::optional<double> resolve_var(std::string_view name) const noexcept {
        if (name == "x") return x;
        if (name == "y") return y;
        return std::nullopt;
    }
    double eval_function(std::string_view, PositionalArgs, std::span<const CallArg>,
                         const BeliefGraph&) const {
        throw ExecError::internal("no functions");
    }
    static ExecError field_access_error(const ExprAst::Field&) {
        return ExecError::internal("no fields");
    }
};

ExprAst fifteen_nodes() {
    using ast::BinaryOp;
    const auto bin = [](BinaryOp op, ExprAst a, ExprAst b) {
        return ast::binary(op, std::move(a), std::move(b));
    };
    ExprAst lhs = bin(BinaryOp::Add,
                      bin(BinaryOp::Mul, bin(BinaryOp::Add, ast::var("x"), ast::number(1)),
                          bin(BinaryOp::Sub, ast::var("y"), ast::number(2))),
                      bin(BinaryOp::Div, ast::var("x"), ast::number(4)));
    ExprAst rhs = bin(BinaryOp::Mul, ast::var("y"), ast::number(3));
    return bin(BinaryOp::Ge, std::move(lhs), std::move(rhs));
}

void BM_EvalFifteenNodes(benchmark::State& state) {
    const ExprAst expr = fifteen_nodes();
    const BeliefGraph graph;
    TwoVariables ctx{2.0, 5.0};
    double sum = 0.0;
    for (auto _ : state) {
        sum += eval_expr_core(expr, graph, ctx);
        ctx.x += 1.0;  // a new binding per evaluation, as per match or node
        benchmark::DoNotOptimize(ctx);
    }
    benchmark::DoNotOptimize(sum);
    state.counters["evals_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EvalFifteenNodes);

}  // namespace
}  // namespace morvane::core::engine
