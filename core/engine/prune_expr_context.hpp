// The expression context of prune_edges predicates.
//
// A predicate decides the fate of one edge at a time. It may use numbers,
// booleans, operators and the two functions prob(edge) and weight(edge); it
// has no variables, so `edge` means something only as the argument of those
// two functions.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/engine/expr_eval.hpp"

namespace morvane::core::engine {

struct PruneExprContext {
    EdgeId edge;  // the edge under test

    std::optional<double> resolve_var(std::string_view) const noexcept { return std::nullopt; }
    // prob(edge): the edge's mean existence probability; weight(edge): the
    // mean of its weight posterior. Every misuse is a Validation error.
    double eval_function(std::string_view name, PositionalArgs positional,
                         std::span<const CallArg> args, const BeliefGraph& graph) const;
    // Validation "field access not allowed in prune predicate".
    static ExecError field_access_error(const ExprAst::Field& field);
};

}  // namespace morvane::core::engine
