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
// Depth: operator chains are walked on an explicit stack, so `1+1+...+1` of
// any length evaluates in constant machine stack. A function call hands its
// arguments to the context, which typically evaluates them with this same
// evaluator; that nesting is bounded by the parser and runs through
// with_stack_room, so it is safe on small thread stacks too.
#pragma once

#include <concepts>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"
#include "core/engine/graph_small_vector.hpp"
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

// One binary operator on two computed operands. Div fails with Validation
// "division by zero" when |b| < 1e-12; Add, Sub, Mul and Div fail with
// Validation "binary operation produced non-finite value: {a} {Op} {b}" on an
// infinite or NaN result. Comparisons and logic give 0.0 or 1.0 and never
// fail; == is |a-b| < 1e-12 and != is |a-b| >= 1e-12 (both 0.0 with a NaN).
double eval_binary_op(BinaryOp op, double a, double b);

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
    return support::with_stack_room([&] {
        return ctx.eval_function(call.name, pos, std::span<const CallArg>(call.args), graph);
    });
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

}  // namespace detail

// The value of `expr` against `graph` in `ctx`.
template <ExprContext C>
double eval_expr_core(const ExprAst& expr, const BeliefGraph& graph, const C& ctx) {
    const auto is_operator = [](const ExprAst& e) {
        return std::holds_alternative<ExprAst::Unary>(e.node) ||
               std::holds_alternative<ExprAst::Binary>(e.node);
    };
    if (!is_operator(expr)) return detail::eval_leaf(expr, graph, ctx);

    // Post-order walk: an operator is pushed once to schedule its operands
    // (left on top, so it runs first) and once more to combine their values.
    struct Task {
        const ExprAst* expr;
        bool combine;
    };
    SmallVector<Task, 32> tasks;
    SmallVector<double, 16> values;
    tasks.push_back({&expr, false});
    while (!tasks.empty()) {
        const Task task = tasks.back();
        tasks.pop_back();
        const ExprAst& e = *task.expr;
        if (const auto* u = std::get_if<ExprAst::Unary>(&e.node)) {
            if (task.combine) {
                values.back() = eval_unary_op(u->op, values.back());
            } else {
                tasks.push_back({&e, true});
                tasks.push_back({u->expr.get(), false});
            }
        } else if (const auto* b = std::get_if<ExprAst::Binary>(&e.node)) {
            if (task.combine) {
                const double rhs = values.back();
                values.pop_back();
                values.back() = eval_binary_op(b->op, values.back(), rhs);
            } else {
                tasks.push_back({&e, true});
                tasks.push_back({b->right.get(), false});
                tasks.push_back({b->left.get(), false});
            }
        } else {
            values.push_back(detail::eval_leaf(e, graph, ctx));
        }
    }
    return values.back();
}

}  // namespace morvane::core::engine
