// The operators of the expression evaluator, and the prune predicates'
// context (see expr_eval.hpp and prune_expr_context.hpp).
#include "core/engine/expr_eval.hpp"

#include <cmath>
#include <string>

#include "core/engine/prune_expr_context.hpp"
#include "frontend/debug_text.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"

namespace morvane::core::engine {
namespace detail {

void fail_non_finite(BinaryOp op, double a, double b) {
    std::string message = "binary operation produced non-finite value: ";
    support::append_plain_number(message, a);
    message += ' ';
    frontend::append_debug(message, op);
    message += ' ';
    support::append_plain_number(message, b);
    throw ExecError::validation(std::move(message));
}

void fail_division_by_zero() {
    throw ExecError::validation("division by zero");
}

}  // namespace detail

ExecError unbound_variable_error(std::string_view name) {
    return ExecError::internal(support::fill("unbound variable '{}'", name));
}

ExecError exists_not_handled_error() {
    return ExecError::internal("Exists subqueries must be handled by RuleExprContext");
}

// ---------------------------------------------------------------------------
// Prune predicates.

double PruneExprContext::eval_function(std::string_view name, PositionalArgs positional,
                                       std::span<const CallArg> args,
                                       const BeliefGraph& graph) const {
    const bool is_prob = name == "prob";
    if (!is_prob && name != "weight") {
        throw ExecError::validation(
            support::fill("unsupported function '{}' in prune predicate", name));
    }
    if (!args.empty() && std::holds_alternative<CallArg::Named>(args.front().node)) {
        throw ExecError::validation(support::fill("{}() does not accept named arguments", name));
    }
    if (positional.size() != 1) {
        throw ExecError::validation(
            support::fill("{}(): expected single positional argument", name));
    }
    const auto* var = std::get_if<ExprAst::Var>(&positional.front()->node);
    if (var == nullptr || var->name != "edge") {
        throw ExecError::validation(
            support::fill("{}(): argument must be 'edge' in prune predicate", name));
    }
    return is_prob ? graph.prob_mean(edge) : graph.edge_weight_expectation(edge);
}

ExecError PruneExprContext::field_access_error(const ExprAst::Field&) {
    return ExecError::validation("field access not allowed in prune predicate");
}

}  // namespace morvane::core::engine
