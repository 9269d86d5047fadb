// The walk over a rule expression and the argument shapes of the rule
// engine's built-in functions.
//
// The walk keeps its work on a stack (see operand_walk.hpp): the operands
// still to check, the scope extensions of sub-queries to undo, and the two
// checks of a built-in that come after its arguments are checked (the event
// of credible and of prob_correlated). Nesting therefore costs heap, never
// machine stack, and time in proportion to the expression.
#include "frontend/validate/rule_expr_checks.hpp"

#include <string>
#include <vector>

#include "frontend/validate/call_args.hpp"
#include "frontend/validate/operand_walk.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::BinaryOp;
using ast::ExprAst;

bool is_comparison(BinaryOp op) {
    return op == BinaryOp::Lt || op == BinaryOp::Le || op == BinaryOp::Gt || op == BinaryOp::Ge;
}

const ExprAst::Var* as_var(const ExprAst& e) {
    return std::get_if<ExprAst::Var>(&e.node);
}

bool is_builtin(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "E",      "stddev",   "variance",        "effective_n", "cov",
        "corr",   "quantile", "ci_lo",           "ci_hi",       "prob",
        "weight", "credible", "prob_correlated", "degree",      "entropy",
        "winner"};
    for (std::string_view builtin : kNames) {
        if (name == builtin) return true;
    }
    return false;
}

class RuleExprChecker {
public:
    RuleExprChecker(RuleScope& scope, const Site& site) : scope_(scope), site_(site) {}

    void check(const ExprAst& root, bool allow_exists) {
        // A violation ends the walk with sub-query names still bound; the
        // scope is handed back as it came.
        struct Restore {
            RuleScope& scope;
            size_t mark;
            ~Restore() { scope.undo(mark); }
        } restore{scope_, scope_.mark()};
        walk(root, allow_exists);
        while (!tasks_.empty()) {
            const Task task = tasks_.back();
            tasks_.pop_back();
            switch (task.kind) {
                case Task::Kind::Walk: walk(*task.expr, task.allow_exists); break;
                case Task::Kind::Unbind: scope_.undo(task.mark); break;
                case Task::Kind::CredibleEvent:
                    check_event(*task.expr,
                                "credible(): only supports comparisons like credible(A > B)",
                                "credible(): argument must be an edge variable or comparison "
                                "expression");
                    break;
                case Task::Kind::CorrelatedEvent: check_correlated_event(*task.expr); break;
            }
        }
    }

private:
    struct Task {
        enum class Kind : uint8_t { Walk, Unbind, CredibleEvent, CorrelatedEvent };
        Kind kind;
        bool allow_exists;    // Walk
        const ExprAst* expr;  // Walk and the events
        size_t mark;          // Unbind: the scope to go back to
    };

    void walk(const ExprAst& root, bool allow_exists) {
        walk_spine(
            root,
            [&](const ExprAst& e) -> const ExprAst* {
                check_leaf(e, allow_exists);
                return nullptr;
            },
            [&](const ExprAst& right) { later(right, allow_exists); });
    }

    // Schedules `e`. Work is done newest first, so the parts of an operand
    // are scheduled last to first.
    void later(const ExprAst& e, bool allow_exists) {
        tasks_.push_back(Task{Task::Kind::Walk, allow_exists, &e, 0});
    }

    void check_leaf(const ExprAst& e, bool allow_exists) {
        if (const auto* v = as_var(e)) {
            if (!scope_.binds(v->name)) site_.fail("unknown variable '{}'", v->name);
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
    // only: the scope is extended now and taken back once that is checked.
    void check_exists(const ExprAst::Exists& x, bool allow_exists) {
        if (!allow_exists) site_.fail("exists subqueries are only allowed in rule where clauses");
        if (!x.where_expr) return;
        tasks_.push_back(Task{Task::Kind::Unbind, false, nullptr, scope_.mark()});
        scope_.bind_pattern(*x.pattern);
        later(**x.where_expr, true);
    }

    // Arguments never admit sub-queries.
    void check_arg_later(const ExprAst& e) { later(e, false); }

    bool is_node_field(const ExprAst& e) const {
        const auto* f = std::get_if<ExprAst::Field>(&e.node);
        if (!f) return false;
        const auto* target = as_var(*f->target);
        return target && scope_.is_node_var(target->name);
    }

    bool is_edge_var(const ExprAst& e) const {
        const auto* v = as_var(e);
        return v && scope_.is_edge_var(v->name);
    }

    bool is_node_var(const ExprAst& e) const {
        const auto* v = as_var(e);
        return v && scope_.is_node_var(v->name);
    }

    // Messages name the function by a label: the name and a suffix, as in
    // "E[]", "stddev()" or plain "cov".
    void check_node_field_expr(const ExprAst& e, std::string_view name, std::string_view suffix) {
        if (is_node_field(e)) return;
        if (std::holds_alternative<ExprAst::Field>(e.node)) {
            site_.fail("{}{}: must be NodeVar.attr", name, suffix);
        }
        site_.fail("{}{}: must be a field access expression", name, suffix);
    }

    void check_node_field_arg(std::string_view name, std::string_view suffix,
                              const SplitArgs& args) {
        if (args.named_count() != 0 || args.positional_count() != 1) {
            site_.fail("{}{}: expected single positional argument", name, suffix);
        }
        check_node_field_expr(*args.position(0), name, suffix);
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

    // Positional arguments from `from` on, then the named ones, in order.
    void check_rest_later(const SplitArgs& args, size_t from) {
        for (size_t i = args.named_count(); i-- > 0;) check_arg_later(args.named_value(i));
        for (size_t i = args.positional_count(); i-- > from;) check_arg_later(*args.position(i));
    }

    // A call of a function the checks do not know has only its arguments
    // checked.
    void check_call(const ExprAst::Call& call) {
        if (check_builtin(call)) return;
        for (size_t i = call.args.size(); i-- > 0;) {
            const ast::CallArg& arg = call.args[i];
            if (const auto* pos = std::get_if<ast::CallArg::Positional>(&arg.node)) {
                check_arg_later(pos->value);
            } else {
                check_arg_later(std::get<ast::CallArg::Named>(arg.node).value);
            }
        }
    }

    // The argument shapes of the rule engine's functions; false for any
    // other name.
    bool check_builtin(const ExprAst::Call& call) {
        const std::string_view name = call.name;
        if (!is_builtin(name)) return false;
        const SplitArgs args(arg_stack_, call.args);
        const size_t positional = args.positional_count();
        const bool no_named = args.named_count() == 0;
        const auto p = [&args](size_t i) -> const ExprAst& { return *args.position(i); };

        if (name == "E") {
            check_node_field_arg(name, "[]", args);
        } else if (name == "stddev" || name == "variance" || name == "effective_n") {
            check_node_field_arg(name, "()", args);
        } else if (name == "cov" || name == "corr") {
            if (!no_named || positional != 2) {
                site_.fail("{}(): expected two positional NodeVar.attr arguments", name);
            }
            check_node_field_expr(p(0), name, "");
            check_node_field_expr(p(1), name, "");
        } else if (name == "quantile" || name == "ci_lo" || name == "ci_hi") {
            if (!no_named || positional != 2)
                site_.fail("{}(): expected field and numeric p", name);
            check_node_field_expr(p(0), name, "");
            if (!std::holds_alternative<ExprAst::Number>(p(1).node)) {
                site_.fail("{}(): p must be numeric", name);
            }
        } else if (name == "prob") {
            if (!no_named || positional != 1) {
                site_.fail("prob(): expected single positional argument");
            }
            check_event(p(0), "prob(): only supports comparisons like prob(A > B)",
                        "prob(): argument must be an edge variable");
        } else if (name == "weight") {
            if (!no_named || positional != 1) {
                site_.fail("weight(): expected single positional edge variable argument");
            }
            if (!is_edge_var(p(0))) site_.fail("weight(): argument must be an edge variable");
        } else if (name == "credible") {
            check_credible(args);
        } else if (name == "prob_correlated") {
            check_prob_correlated(args);
        } else if (name == "degree") {
            if (positional == 0) site_.fail("degree(): missing node argument");
            if (!is_node_var(p(0))) site_.fail("degree(): first argument must be a node variable");
            check_rest_later(args, 1);
        } else if (name == "entropy" || name == "winner") {
            if (positional < 2) site_.fail("{}(): requires node and edge_type arguments", name);
            if (!is_node_var(p(0))) {
                site_.fail("{}(): first argument must be a node variable", name);
            }
            if (!as_var(p(1))) site_.fail("{}(): edge_type must be an identifier", name);
            check_rest_later(args, 2);
        }
        return true;
    }

    // The named arguments are checked first, then the values of p and rho,
    // then the event.
    void check_credible(const SplitArgs& args) {
        if (args.positional_count() != 1) {
            site_.fail("credible(): expected single positional event argument");
        }
        for (size_t i = 0; i < args.named_count(); ++i) {
            const std::string_view name = args.name(i);
            if (name != "p" && name != "rho") {
                site_.fail("credible(): unknown named argument '{}'; expected p or rho", name);
            }
        }
        tasks_.push_back(Task{Task::Kind::CredibleEvent, false, args.position(0), 0});
        if (const ExprAst* rho = args.get("rho")) check_arg_later(*rho);
        if (const ExprAst* p = args.get("p")) check_arg_later(*p);
    }

    void check_prob_correlated(const SplitArgs& args) {
        if (args.positional_count() != 1) {
            site_.fail("prob_correlated(): expected single positional comparison argument");
        }
        for (size_t i = 0; i < args.named_count(); ++i) {
            const std::string_view name = args.name(i);
            if (name != "rho") {
                site_.fail("prob_correlated(): unknown named argument '{}'; expected rho", name);
            }
        }
        tasks_.push_back(Task{Task::Kind::CorrelatedEvent, false, args.position(0), 0});
        if (const ExprAst* rho = args.get("rho")) check_arg_later(*rho);
    }

    void check_correlated_event(const ExprAst& event) {
        const auto* b = std::get_if<ExprAst::Binary>(&event.node);
        if (!b) site_.fail("prob_correlated(): argument must be a comparison expression");
        if (!is_comparison(b->op)) {
            site_.fail("prob_correlated(): only supports comparisons like prob_correlated(A > B)");
        }
        check_prob_operand(*b->left);
        check_prob_operand(*b->right);
    }

    RuleScope& scope_;
    const Site& site_;
    std::vector<Task> tasks_;
    ArgStack arg_stack_;
};

}  // namespace

void RuleScope::bind_pattern(const ast::PatternItem& pattern) {
    bind_node_var(pattern.src.var);
    bind_node_var(pattern.dst.var);
    bind_edge_var(pattern.edge.var);
}

void RuleScope::undo(size_t mark) {
    while (added_.size() > mark) {
        names_of(added_.back().first).erase(added_.back().second);
        added_.pop_back();
    }
}

void validate_rule_expr(const ast::ExprAst& expr, RuleScope& scope, bool allow_exists,
                        const Site& site) {
    RuleExprChecker(scope, site).check(expr, allow_exists);
}

}  // namespace morvane::frontend::validate
