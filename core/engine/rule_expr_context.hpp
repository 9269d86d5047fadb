// The expression context of rules: where-clauses and action expressions.
//
// A name in a rule expression is, in this order of precedence, a value bound
// by an earlier `let` of the same match, a value imported from an earlier run
// (the rule's globals), a node variable of the match (its id as a number) or
// an edge variable of the match (likewise). Attributes and edges are read
// through the rule function library: E, variance, stddev, effective_n, weight,
// prob, credible, prob_correlated, quantile, ci_lo, ci_hi, degree, winner,
// entropy, cov and corr. Every function checks its arguments itself, whatever
// the validator accepted, and fails with an ExecError whose text and category
// users see.
//
// The context borrows everything it reads and lives for one evaluation.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "core/engine/errors.hpp"
#include "core/engine/expr_eval.hpp"
#include "core/engine/graph.hpp"
#include "core/engine/graph_small_vector.hpp"
#include "core/engine/rule_match.hpp"

namespace morvane::core::engine {

// Values visible to every expression of a rule by name: the metric values a
// flow imports from an earlier run, under their local names.
using RuleGlobals = std::map<std::string, double, std::less<>>;

// The values `let` actions bound for the current match. Names point into the
// rule's actions.
class RuleLocals {
public:
    std::optional<double> find(std::string_view name) const;
    // Binds `name`, replacing an earlier value of the same name.
    void set(std::string_view name, double value);

private:
    SmallVector<std::pair<std::string_view, double>, 8> entries_;
};

class RuleExprContext {
public:
    RuleExprContext(const MatchBindings& bindings, const RuleLocals& locals,
                    const RuleGlobals& globals)
        : bindings_(bindings), locals_(locals), globals_(globals) {}

    // Locals, then globals, then node variables, then edge variables.
    std::optional<double> resolve_var(std::string_view name) const;
    // A function of the rule library; Internal "unknown function '{}'" for
    // any other name.
    double eval_function(std::string_view name, PositionalArgs positional,
                         std::span<const CallArg> args, const BeliefGraph& graph) const;
    // Internal "bare field access not supported; use E[Node.attr]: {}" with the
    // debug text of the field's target.
    static ExecError field_access_error(const ExprAst::Field& field);

    // Internal "unknown node var '{}'" / "unknown edge var '{}'" when the match
    // does not bind the name.
    NodeId resolve_node_var(std::string_view name) const;
    EdgeId resolve_edge_var(std::string_view name) const;

    const MatchBindings& bindings() const { return bindings_; }
    const RuleLocals& locals() const { return locals_; }
    const RuleGlobals& globals() const { return globals_; }

private:
    const MatchBindings& bindings_;
    const RuleLocals& locals_;
    const RuleGlobals& globals_;
};

}  // namespace morvane::core::engine
