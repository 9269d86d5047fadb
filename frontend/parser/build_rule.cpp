#include "frontend/parser/build_rule.hpp"

#include <optional>
#include <string>
#include <utility>

#include "frontend/parser/build_action.hpp"
#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/build_pattern.hpp"
#include "frontend/parser/pair_helpers.hpp"

namespace morvane::frontend::parser {

namespace {

bool is_action_rule(Rule rule) {
    return rule == Rule::action_stmt || rule == Rule::let_stmt || rule == Rule::nbnudge_stmt ||
           rule == Rule::soft_update_stmt || rule == Rule::delete_stmt ||
           rule == Rule::suppress_stmt;
}

void add_pattern_clause(const Pair& clause, ast::RuleDef& rule) {
    for (const Pair& list : clause.into_inner()) {
        if (list.as_rule() != Rule::pattern_list) continue;
        for (const Pair& item : list.into_inner()) {
            if (item.as_rule() == Rule::pattern_item) {
                rule.patterns.push_back(build_pattern_item(item));
            }
        }
    }
}

// `where e [=> { ... }]`: the block's actions are taken as soon as it is
// met; the expression replaces any earlier where-expression.
void add_where_clause(const Pair& clause, ast::RuleDef& rule) {
    std::optional<ast::ExprAst> where;
    for (const Pair& child : clause.into_inner()) {
        if (child.as_rule() == Rule::expr) {
            where = build_expr(child);
        } else if (child.as_rule() == Rule::action_block) {
            collect_actions_from_block(child, rule.actions);
        }
    }
    if (!where) detail::fail("Missing where expression");
    rule.where_expr = std::move(where);
}

void add_mode_clause(const Pair& clause, ast::RuleDef& rule) {
    const std::optional<Pair> value = clause.into_inner().last();
    if (!value) detail::fail("Missing mode value");
    rule.mode = std::string(value->as_str());
}

// The where-expression of a short form, which may not replace one set
// before it.
void set_short_form_where(ast::RuleDef& rule, std::optional<ast::ExprAst> where,
                          const char* conflict) {
    if (!where) return;
    if (rule.where_expr) detail::fail(conflict);
    rule.where_expr = std::move(where);
}

// `(a:A)-[e:T]->(b:B) [where e] => { ... }`.
void add_sugar_rule(const Pair& sugar, ast::RuleDef& rule) {
    Pairs inner = sugar.into_inner();
    const std::optional<Pair> pattern = inner.next();
    if (!pattern) detail::fail("Missing pattern in sugar rule");
    rule.patterns.push_back(build_pattern_item(*pattern));

    std::optional<Pair> block;
    std::optional<ast::ExprAst> where;
    for (const Pair& child : inner) {
        if (child.as_rule() == Rule::action_block) {
            block = child;
        } else if (child.as_rule() == Rule::expr) {
            where = build_expr(child);
        }
    }
    set_short_form_where(rule, std::move(where), "Multiple where clauses not allowed in sugar rule");
    if (!block) detail::fail("Missing action block in sugar rule");
    collect_actions_from_block(*block, rule.actions);
}

// `for (v: L) [where e] => { ... }`.
void add_for_sugar(const Pair& sugar, ast::RuleDef& rule) {
    std::optional<std::string> var;
    std::optional<std::string> label;
    std::optional<Pair> block;
    std::optional<ast::ExprAst> where;
    for (const Pair& child : sugar.into_inner()) {
        switch (child.as_rule()) {
            case Rule::ident:
                if (!var) {
                    var = std::string(child.as_str());
                } else if (!label) {
                    label = std::string(child.as_str());
                }
                break;
            case Rule::label:
                if (!label) label = std::string(child.as_str());
                break;
            case Rule::expr:
                where = build_expr(child);
                break;
            case Rule::action_block:
                block = child;
                break;
            default:
                break;
        }
    }
    if (!var) detail::fail("Missing var in for()");
    if (!label) detail::fail("Missing label in for()");
    set_short_form_where(rule, std::move(where), "Multiple where clauses not allowed in rule");
    if (!block) detail::fail("Missing action block in for()");
    collect_actions_from_block(*block, rule.actions);
    ast::NodePattern node{std::move(*var), std::move(*label)};
    rule.patterns.push_back(ast::PatternItem{
        node, {std::string(ast::kForNodeEdgeVar), std::string(ast::kForNodeEdgeType)}, node});
}

void add_clause(const Pair& clause, ast::RuleDef& rule) {
    switch (clause.as_rule()) {
        case Rule::pattern_clause:
            add_pattern_clause(clause, rule);
            break;
        case Rule::where_clause:
            add_where_clause(clause, rule);
            break;
        case Rule::action_clause:
            for (const Pair& block : clause.into_inner()) {
                if (block.as_rule() == Rule::action_block) {
                    collect_actions_from_block(block, rule.actions);
                }
            }
            break;
        case Rule::mode_clause:
            add_mode_clause(clause, rule);
            break;
        case Rule::sugar_rule:
            add_sugar_rule(clause, rule);
            break;
        case Rule::for_sugar:
            add_for_sugar(clause, rule);
            break;
        default:
            break;
    }
}

}  // namespace

void collect_actions_from_block(const Pair& block, std::vector<ast::ActionStmt>& actions) {
    for (const Pair& stmt : block.into_inner()) {
        if (is_action_rule(stmt.as_rule())) actions.push_back(build_action_stmt(stmt));
    }
}

ast::RuleDef build_rule(const Pair& decl) {
    ast::RuleDef rule;
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (rule.name.empty()) {
                rule.name = std::string(child.as_str());
            } else if (rule.on_model.empty()) {
                rule.on_model = std::string(child.as_str());
            }
        } else if (child.as_rule() == Rule::rule_body) {
            for (const Pair& clause : child.into_inner()) add_clause(clause, rule);
        }
    }
    return rule;
}

}  // namespace morvane::frontend::parser
