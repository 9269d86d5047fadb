// The walk over a rule expression and the argument shapes of the rule
// engine's built-in functions.
//
// Operator chains fold into trees as deep as the chain is long, so the walk
// never recurses along an operator's left operand: it runs down that spine
// in a loop, keeping the right operands still to be checked on a stack, and
// recurses only into call arguments and sub-queries, whose nesting the
// parser bounds. Checks still run strictly left to right, so the violation
// reported is always the first one written.
#include "frontend/validate/rule_expr_checks.hpp"

#include <string>
#include <vector>

#include "frontend/support/fill.hpp"
#include "frontend/validate/call_args.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::BinaryOp;
using ast::ExprAst;
using support::fill;

bool is_comparison(BinaryOp op) {
    return op == BinaryOp::Lt || op == BinaryOp::Le || op == BinaryOp::Gt || op == BinaryOp::Ge;
}

const ExprAst::Var* as_var(const ExprAst& e) { return std::get_if<ExprAst::Var>(&e.node); }

class RuleExprChecker {
public:
    RuleExprChecker(const RuleScope& scope, const Site& site) : scope_(scope), site_(site) {}

    void check(const ExprAst& root, bool allow_exists) {
        const size_t base = pending_.size();
        const ExprAst* e = &root;
        for (;;) {
            if (const auto* b = std::get_if<ExprAst::Binary>(&e->node)) {
                pending_.push_back(b->right.get());
                e = b->left.get();
                continue;
            }
            if (const auto* u = std::get_if<ExprAst::Unary>(&e->node)) {
                e = u->expr.get();
                continue;
            }
            check_leaf(*e, allow_exists);
            if (pending_.size() == base) return;
            e = pending_.back();
            pending_.pop_back();
        }
    }

private:
    void check_leaf(const ExprAst& e, bool allow_exists) {
        if (const auto* v = as_var(e)) {
            if (!scope_.binds(v->name)) site_.fail(fill("unknown variable '{}'", v->name));
        } else if (std::holds_alternative<ExprAst::Field>(e.node)) {
            site_.fail(
                "Bare field access in rule expression is not allowed; use E[NodeVar.attr] or "
                "prob(...)");
        } else if (const auto* c = std::get_if<ExprAst::Call>(&e.node)) {
            check_call(*c);
        } else if (const auto* x = std::get_if<ExprAst::Exists>(&e.node)) {
            check_exists(*x, allow_exists);
        }
    }

    // The sub-query binds its pattern's variables for its own where-clause
    // only; the rule's scope is left as it was.
    void check_exists(const ExprAst::Exists& x, bool allow_exists) {
        if (!allow_exists) site_.fail("exists subqueries are only allowed in rule where clauses");
        if (!x.where_expr) return;
        RuleScope inner = scope_;
        inner.node_vars.insert(x.pattern->src.var);
        inner.node_vars.insert(x.pattern->dst.var);
        inner.edge_vars.insert(x.pattern->edge.var);
        RuleExprChecker(inner, site_).check(**x.where_expr, true);
    }

    void check_arg(const ExprAst& e) { check(e, false); }

    bool is_node_field(const ExprAst& e) const {
        const auto* f = std::get_if<ExprAst::Field>(&e.node);
        if (!f) return false;
        const auto* target = as_var(*f->target);
        return target && scope_.node_vars.contains(target->name);
    }

    bool is_edge_var(const ExprAst& e) const {
        const auto* v = as_var(e);
        return v && scope_.edge_vars.contains(v->name);
    }

    bool is_node_var(const ExprAst& e) const {
        const auto* v = as_var(e);
        return v && scope_.node_vars.contains(v->name);
    }

    void check_node_field_expr(const ExprAst& e, std::string_view label) {
        if (is_node_field(e)) return;
        if (std::holds_alternative<ExprAst::Field>(e.node)) {
            site_.fail(fill("{}: must be NodeVar.attr", label));
        }
        site_.fail(fill("{}: must be a field access expression", label));
    }

    void check_node_field_arg(std::string_view label, const SplitArgs& args) {
        if (!args.named().empty() || args.positional().size() != 1) {
            site_.fail(fill("{}: expected single positional argument", label));
        }
        check_node_field_expr(*args.position(0), label);
    }

    // One side of a comparison inside prob, credible or prob_correlated.
    void check_prob_operand(const ExprAst& e) {
        if (std::holds_alternative<ExprAst::Number>(e.node) || is_node_field(e)) return;
        if (std::holds_alternative<ExprAst::Field>(e.node)) {
            site_.fail("prob(): comparison must reference node variables");
        }
        site_.fail("prob(): only supports node.attr or numeric in comparisons");
    }

    // The event of prob or credible: an edge variable or a comparison of
    // node attributes and literals.
    void check_event(const ExprAst& e, std::string_view other_binary, std::string_view other) {
        if (is_edge_var(e)) return;
        if (const auto* b = std::get_if<ExprAst::Binary>(&e.node)) {
            if (!is_comparison(b->op)) site_.fail(other_binary);
            check_prob_operand(*b->left);
            check_prob_operand(*b->right);
            return;
        }
        site_.fail(other);
    }

    void check_rest(const SplitArgs& args, size_t from) {
        for (size_t i = from; i < args.positional().size(); ++i) check_arg(*args.position(i));
        for (const auto& [name, value] : args.named()) check_arg(*value);
    }

    void check_call(const ExprAst::Call& call) {
        const std::string_view name = call.name;
        const SplitArgs args(call.args);
        const auto& p = args.positional();
        const bool no_named = args.named().empty();

        if (name == "E") {
            check_node_field_arg("E[]", args);
        } else if (name == "stddev" || name == "variance" || name == "effective_n") {
            check_node_field_arg(fill("{}()", name), args);
        } else if (name == "cov" || name == "corr") {
            if (!no_named || p.size() != 2) {
                site_.fail(fill("{}(): expected two positional NodeVar.attr arguments", name));
            }
            check_node_field_expr(*p[0], name);
            check_node_field_expr(*p[1], name);
        } else if (name == "quantile" || name == "ci_lo" || name == "ci_hi") {
            if (!no_named || p.size() != 2) {
                site_.fail(fill("{}(): expected field and numeric p", name));
            }
            check_node_field_expr(*p[0], name);
            if (!std::holds_alternative<ExprAst::Number>(p[1]->node)) {
                site_.fail(fill("{}(): p must be numeric", name));
            }
        } else if (name == "prob") {
            if (!no_named || p.size() != 1) site_.fail("prob(): expected single positional argument");
            check_event(*p[0], "prob(): only supports comparisons like prob(A > B)",
                        "prob(): argument must be an edge variable");
        } else if (name == "weight") {
            if (!no_named || p.size() != 1) {
                site_.fail("weight(): expected single positional edge variable argument");
            }
            if (!is_edge_var(*p[0])) site_.fail("weight(): argument must be an edge variable");
        } else if (name == "credible") {
            check_credible(args);
        } else if (name == "prob_correlated") {
            check_prob_correlated(args);
        } else if (name == "degree") {
            if (p.empty()) site_.fail("degree(): missing node argument");
            if (!is_node_var(*p[0])) site_.fail("degree(): first argument must be a node variable");
            check_rest(args, 1);
        } else if (name == "entropy" || name == "winner") {
            if (p.size() < 2) site_.fail(fill("{}(): requires node and edge_type arguments", name));
            if (!is_node_var(*p[0])) {
                site_.fail(fill("{}(): first argument must be a node variable", name));
            }
            if (!as_var(*p[1])) site_.fail(fill("{}(): edge_type must be an identifier", name));
            check_rest(args, 2);
        } else {
            for (const ast::CallArg& arg : call.args) {
                if (const auto* pos = std::get_if<ast::CallArg::Positional>(&arg.node)) {
                    check_arg(pos->value);
                } else {
                    check_arg(std::get<ast::CallArg::Named>(arg.node).value);
                }
            }
        }
    }

    void check_credible(const SplitArgs& args) {
        if (args.positional().size() != 1) {
            site_.fail("credible(): expected single positional event argument");
        }
        for (const auto& [name, value] : args.named()) {
            if (name != "p" && name != "rho") {
                site_.fail(fill("credible(): unknown named argument '{}'; expected p or rho", name));
            }
        }
        if (const ExprAst* p = args.get("p")) check_arg(*p);
        if (const ExprAst* rho = args.get("rho")) check_arg(*rho);
        check_event(*args.position(0), "credible(): only supports comparisons like credible(A > B)",
                    "credible(): argument must be an edge variable or comparison expression");
    }

    void check_prob_correlated(const SplitArgs& args) {
        if (args.positional().size() != 1) {
            site_.fail("prob_correlated(): expected single positional comparison argument");
        }
        for (const auto& [name, value] : args.named()) {
            if (name != "rho") {
                site_.fail(
                    fill("prob_correlated(): unknown named argument '{}'; expected rho", name));
            }
        }
        if (const ExprAst* rho = args.get("rho")) check_arg(*rho);
        const ExprAst& event = *args.position(0);
        const auto* b = std::get_if<ExprAst::Binary>(&event.node);
        if (!b) site_.fail("prob_correlated(): argument must be a comparison expression");
        if (!is_comparison(b->op)) {
            site_.fail("prob_correlated(): only supports comparisons like prob_correlated(A > B)");
        }
        check_prob_operand(*b->left);
        check_prob_operand(*b->right);
    }

    const RuleScope& scope_;
    const Site& site_;
    // Right operands of the spines being walked, innermost last.
    std::vector<const ExprAst*> pending_;
};

}  // namespace

void validate_rule_expr(const ast::ExprAst& expr, const RuleScope& scope, bool allow_exists,
                        const Site& site) {
    RuleExprChecker(scope, site).check(expr, allow_exists);
}

}  // namespace morvane::frontend::validate
