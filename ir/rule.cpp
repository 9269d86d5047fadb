// Lowering of rules and actions and their conversion back, field by field.
#include "ir/rule.hpp"

#include "frontend/support/overloaded.hpp"

namespace morvane::ir {

using support::Overloaded;

ActionIR ActionIR::from(const ast::ActionStmt& action) {
    using A = ast::ActionStmt;
    return std::visit(
        Overloaded{
            [](const A::Let& x) -> ActionIR { return Let{x.name, ExprIR::from(x.expr)}; },
            [](const A::NonBayesianNudge& x) -> ActionIR {
                return NonBayesianNudge{x.node_var, x.attr, ExprIR::from(x.expr), x.variance};
            },
            [](const A::SoftUpdate& x) -> ActionIR {
                return SoftUpdate{x.node_var, x.attr, ExprIR::from(x.expr), x.precision, x.count};
            },
            [](const A::Delete& x) -> ActionIR { return Delete{x.edge_var, x.confidence}; },
            [](const A::Suppress& x) -> ActionIR { return Suppress{x.edge_var, x.weight}; },
        },
        action.node);
}

ast::ActionStmt ActionIR::to_ast() const {
    using A = ast::ActionStmt;
    return std::visit(
        Overloaded{
            [](const Let& x) -> A { return A::Let{x.name, x.expr.to_ast()}; },
            [](const NonBayesianNudge& x) -> A {
                return A::NonBayesianNudge{x.node_var, x.attr, x.expr.to_ast(), x.variance};
            },
            [](const SoftUpdate& x) -> A {
                return A::SoftUpdate{x.node_var, x.attr, x.expr.to_ast(), x.precision, x.count};
            },
            [](const Delete& x) -> A { return A::Delete{x.edge_var, x.confidence}; },
            [](const Suppress& x) -> A { return A::Suppress{x.edge_var, x.weight}; },
        },
        node);
}

RuleIR RuleIR::from(const ast::RuleDef& rule) {
    RuleIR out{rule.name, rule.on_model, rule.patterns, {}, rule.mode, std::nullopt};
    out.actions.reserve(rule.actions.size());
    for (const auto& action : rule.actions) out.actions.push_back(ActionIR::from(action));
    if (rule.where_expr) out.where_expr = ExprIR::from(*rule.where_expr);
    return out;
}

ast::RuleDef RuleIR::to_ast() const {
    ast::RuleDef out{name, on_model, patterns, {}, mode, std::nullopt};
    out.actions.reserve(actions.size());
    for (const auto& action : actions) out.actions.push_back(action.to_ast());
    if (where_expr) out.where_expr = where_expr->to_ast();
    return out;
}

}  // namespace morvane::ir
