// The expression evaluator shared by rules, prune predicates and per-node
// metric expressions.
//
// Every expression of the language computes one double against a belief
// graph. What differs between the places that evaluate expressions (which
// variables exist, which functions may be called, what a bare field access
// means) is supplied by a context type; the tree walk, the arithmetic and
// comparison rules and their error texts are the same everywhere. The
// evaluator is a template over the context, so each context gets its own
// compiled evaluator and no call goes through a virtual table.
//
// Values: booleans are 1.0 and 0.0; any value other than 0.0 (NaN included)
// counts as true. `and` and `or` always evaluate both operands, left first.
// The first error ends the evaluation; errors are thrown as ExecError.
//
// Depth: the operators near the root, where the expressions of real programs
// live, are evaluated by plain recursion over a fixed number of levels; any
// subtree below that is walked on an explicit stack, so `1+1+...+1` of any
// length evaluates in bounded machine stack. A function call hands its
// arguments to the context, which typically evaluates them with this same
// evaluator; that nesting is bounded by the parser and runs through
// with_stack_room, so it is safe on small thread stacks too.
#pragma once

#include <algorithm>

#include <cmath>
#include <concepts>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"
#include "core/engine/graph_small_vector.hpp"
#include "core/engine/operator_walk.hpp"
#include "frontend/ast.hpp"
#include "frontend/support/stack_room.hpp"

namespace morvane::core::engine {

using frontend::ast::BinaryOp;
using frontend::ast::CallArg;
using frontend::ast::ExprAst;
using frontend::ast::UnaryOp;

// Absolute tolerance of == and != and of the division guard.
inline constexpr double kExprTolerance = 1e-12;

// The positional arguments of a call in source order, named ones left out.
using PositionalArgs = std::span<const ExprAst* const>;

// What the evaluator asks of its caller.
//   resolve_var(name): the variable's value, or nothing for an unknown name
//       (the evaluator then fails with "unbound variable '{}'").
//   eval_function(name, positional, args, graph): the value of a call, given
//       its positional arguments and its complete argument list (positional
//       and named, in source order) and the graph the whole expression is
//       evaluated against. The context evaluates the argument trees itself.
//   field_access_error(field): the error of a bare `target.field`, which is
//       only meaningful as a function argument.
template <typename C>
concept ExprContext = requires(const C& ctx, std::string_view name, PositionalArgs positional,
                               std::span<const CallArg> args, const BeliefGraph& graph,
                               const ExprAst::Field& field) {
    { ctx.resolve_var(name) } -> std::same_as<std::optional<double>>;
    { ctx.eval_function(name, positional, args, graph) } -> std::same_as<double>;
    { C::field_access_error(field) } -> std::same_as<ExecError>;
};

namespace detail {
[[noreturn]] void fail_non_finite(BinaryOp op, double a, double b);
[[noreturn]] void fail_division_by_zero();

inline double checked_arithmetic(BinaryOp op, double a, double b, double result) {
    if (!std::isfinite(result)) [[unlikely]]
        fail_non_finite(op, a, b);
    return result;
}
}  // namespace detail

// One binary operator on two computed operands. Div fails with Validation
// "division by zero" when |b| < 1e-12; Add, Sub, Mul and Div fail with
// Validation "binary operation produced non-finite value: {a} {Op} {b}" on an
// infinite or NaN result. Comparisons and logic give 0.0 or 1.0 and never
// fail; == is |a-b| < 1e-12 and != is |a-b| >= 1e-12 (both 0.0 with a NaN).
// Inline: it is the innermost step of every evaluation.
inline double eval_binary_op(BinaryOp op, double a, double b) {
    switch (op) {
        case BinaryOp::Add:
            return detail::checked_arithmetic(op, a, b, a + b);
        case BinaryOp::Sub:
            return detail::checked_arithmetic(op, a, b, a - b);
        case BinaryOp::Mul:
            return detail::checked_arithmetic(op, a, b, a * b);
        case BinaryOp::Div:
            if (std::fabs(b) < kExprTolerance) [[unlikely]]
                detail::fail_division_by_zero();
            return detail::checked_arithmetic(op, a, b, a / b);
        case BinaryOp::Eq:
            return std::fabs(a - b) < kExprTolerance ? 1.0 : 0.0;
        case BinaryOp::Ne:
            return std::fabs(a - b) >= kExprTolerance ? 1.0 : 0.0;
        case BinaryOp::Lt:
            return a < b ? 1.0 : 0.0;
        case BinaryOp::Le:
            return a <= b ? 1.0 : 0.0;
        case BinaryOp::Gt:
            return a > b ? 1.0 : 0.0;
        case BinaryOp::Ge:
            return a >= b ? 1.0 : 0.0;
        case BinaryOp::And:
            return a != 0.0 && b != 0.0 ? 1.0 : 0.0;
        case BinaryOp::Or:
            return a != 0.0 || b != 0.0 ? 1.0 : 0.0;
    }
    return 0.0;  // every operator is handled above
}

// -v (so 0.0 becomes -0.0) or `not v` (1.0 exactly when v == 0.0).
inline double eval_unary_op(UnaryOp op, double v) noexcept {
    return op == UnaryOp::Neg ? -v : (v == 0.0 ? 1.0 : 0.0);
}

// Internal "unbound variable '{}'".
ExecError unbound_variable_error(std::string_view name);
// Internal "Exists subqueries must be handled by RuleExprContext".
ExecError exists_not_handled_error();

namespace detail {

// Calls the context with the call's positional arguments gathered.
template <ExprContext C>
double eval_call(const ExprAst::Call& call, const BeliefGraph& graph, const C& ctx) {
    SmallVector<const ExprAst*, 8> positional;
    for (const CallArg& arg : call.args) {
        if (const auto* p = std::get_if<CallArg::Positional>(&arg.node)) {
            positional.push_back(&p->value);
        }
    }
    const PositionalArgs pos(positional.begin(), positional.size());
    const auto run = [&] {
        return ctx.eval_function(call.name, pos, std::span<const CallArg>(call.args), graph);
    };
    // A function whose arguments are all numbers, names or fields of names
    // evaluates no subexpression, so it cannot recurse: no need to look at
    // the stack.
    const bool flat = std::all_of(call.args.begin(), call.args.end(), [](const CallArg& arg) {
        const ExprAst& value = std::visit([](const auto& a) -> const ExprAst& { return a.value; },
                                          arg.node);
        if (const auto* field = std::get_if<ExprAst::Field>(&value.node)) {
            return std::holds_alternative<ExprAst::Var>(field->target->node);
        }
        return value.node.index() <= 2;  // Number, Bool, Var
    });
    return flat ? run() : support::with_stack_room(run);
}

// The value of a node that has no operand subexpressions.
template <ExprContext C>
double eval_leaf(const ExprAst& expr, const BeliefGraph& graph, const C& ctx) {
    switch (expr.node.index()) {
        case 0:
            return std::get<ExprAst::Number>(expr.node).value;
        case 1:
            return std::get<ExprAst::Bool>(expr.node).value ? 1.0 : 0.0;
        case 2: {
            const std::string& name = std::get<ExprAst::Var>(expr.node).name;
            if (std::optional<double> v = ctx.resolve_var(name)) return *v;
            throw unbound_variable_error(name);
        }
        case 3:
            throw C::field_access_error(std::get<ExprAst::Field>(expr.node));
        case 4:
            return eval_call(std::get<ExprAst::Call>(expr.node), graph, ctx);
        default:  // Exists; operators never come here
            throw exists_not_handled_error();
    }
}

// The operators of `expr` on an explicit stack: any depth costs heap, not
// machine stack.
template <ExprContext C>
double eval_walk(const ExprAst& expr, const BeliefGraph& graph, const C& ctx) {
    return *walk_operators<double>(
        expr,
        [&](const ExprAst& leaf) -> std::optional<double> { return eval_leaf(leaf, graph, ctx); },
        eval_unary_op, eval_binary_op);
}

// Operators this many levels deep or less are evaluated by direct recursion
// (a few dozen bytes of stack per level); deeper subtrees go to eval_walk.
inline constexpr int kDirectLevels = 24;

template <ExprContext C>
double eval_direct(const ExprAst& expr, const BeliefGraph& graph, const C& ctx, int levels) {
    if (const auto* b = std::get_if<ExprAst::Binary>(&expr.node)) {
        if (levels == 0) return eval_walk(expr, graph, ctx);
        const double lhs = eval_direct(*b->left, graph, ctx, levels - 1);
        const double rhs = eval_direct(*b->right, graph, ctx, levels - 1);
        return eval_binary_op(b->op, lhs, rhs);
    }
    if (const auto* u = std::get_if<ExprAst::Unary>(&expr.node)) {
        if (levels == 0) return eval_walk(expr, graph, ctx);
        return eval_unary_op(u->op, eval_direct(*u->expr, graph, ctx, levels - 1));
    }
    return eval_leaf(expr, graph, ctx);
}

}  // namespace detail

// The value of `expr` against `graph` in `ctx`.
template <ExprContext C>
double eval_expr_core(const ExprAst& expr, const BeliefGraph& graph, const C& ctx) {
    return detail::eval_direct(expr, graph, ctx, detail::kDirectLevels);
}

}  // namespace morvane::core::engine
