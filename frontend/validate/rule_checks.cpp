// Rules: the mode word, then the where-expression, then each action in
// order. A let binds its name for the actions after it only; the
// where-expression, checked first, never sees let names.
#include "frontend/validate/declaration_checks.hpp"
#include "frontend/validate/rule_expr_checks.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {
namespace {


void check_action(const ast::ActionStmt& action, RuleScope& scope, const Site& site) {
    if (const auto* let = std::get_if<ast::ActionStmt::Let>(&action.node)) {
        validate_rule_expr(let->expr, scope, false, site);
        if (scope.binds(let->name)) {
            site.fail("let variable '{}' shadows an existing binding", let->name);
        }
        scope.bind_let_var(let->name);
    } else if (const auto* nudge = std::get_if<ast::ActionStmt::NonBayesianNudge>(&action.node)) {
        if (!scope.is_node_var(nudge->node_var)) {
            site.fail("unknown node variable '{}'", nudge->node_var);
        }
        validate_rule_expr(nudge->expr, scope, false, site);
    } else if (const auto* soft = std::get_if<ast::ActionStmt::SoftUpdate>(&action.node)) {
        if (!scope.is_node_var(soft->node_var)) {
            site.fail("unknown node variable '{}'", soft->node_var);
        }
        validate_rule_expr(soft->expr, scope, false, site);
    } else if (const auto* del = std::get_if<ast::ActionStmt::Delete>(&action.node)) {
        if (!scope.is_edge_var(del->edge_var)) {
            site.fail("unknown edge variable '{}'", del->edge_var);
        }
    } else {
        const auto& suppress = std::get<ast::ActionStmt::Suppress>(action.node);
        if (!scope.is_edge_var(suppress.edge_var)) {
            site.fail("unknown edge variable '{}'", suppress.edge_var);
        }
    }
}

}  // namespace

void check_rule(const ast::RuleDef& rule, size_t index, const ValidationSourceMap* map) {
    if (rule.mode && *rule.mode != "for_each" && *rule.mode != "fixpoint") {
        Site::rule_where(rule.name).fail(
            "Rule '{}' has unknown mode '{}' (expected 'for_each' or 'fixpoint')", rule.name,
            *rule.mode);
    }
    RuleScope scope;
    for (const ast::PatternItem& pattern : rule.patterns) scope.bind_pattern(pattern);
    if (rule.where_expr) {
        Site site = Site::rule_where(rule.name);
        site.at(map, map ? map->rule_where(index) : std::nullopt);
        validate_rule_expr(*rule.where_expr, scope, true, site);
    }
    for (size_t j = 0; j < rule.actions.size(); ++j) {
        const ast::ActionStmt& action = rule.actions[j];
        Site site = Site::rule_action(rule.name, ast::action_kind(action));
        site.at(map, map ? map->rule_action(index, j) : std::nullopt);
        check_action(action, scope, site);
    }
}

}  // namespace morvane::frontend::validate
