// Checks of rule expressions: where-clauses and the values of let, nudge
// and soft-update actions.
//
// Every variable must be bound by the rule's patterns or by an earlier let;
// attributes are read through functions (E[n.x], prob(...)), never by a bare
// field access; exists sub-queries stand only in where-clauses; and each
// built-in function the rule engine offers gets the argument shape it
// expects. A function the checks do not know is accepted as a name, and only
// its arguments are checked.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/validate/name_set.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {

// The names a rule expression may read.
struct RuleScope {
    NameSet node_vars;  // source and destination variables of the patterns
    NameSet edge_vars;  // edge variables of the patterns
    NameSet let_vars;   // let actions checked so far

    bool binds(std::string_view name) const {
        return let_vars.contains(name) || node_vars.contains(name) || edge_vars.contains(name);
    }
};

// Throws the first violation in `expr` at `site`. `allow_exists` admits
// exists sub-queries (in a where-clause); call arguments never admit them.
void validate_rule_expr(const ast::ExprAst& expr, const RuleScope& scope, bool allow_exists,
                        const Site& site);

}  // namespace morvane::frontend::validate
