// The walk over a metric expression, the argument checks of the four node
// pipeline builders and of the per-node functions.
//
// As in the rule checks, the walk keeps its work on a stack (see
// operand_walk.hpp): the operands still to check, each with its flags, and
// the one check that comes after a builder's arguments are checked (the
// min_prob of avg_degree). Nested calls and pipelines cost heap, never
// machine stack.
#include "frontend/validate/metric_expr_checks.hpp"

#include <vector>

#include "frontend/validate/call_args.hpp"
#include "frontend/validate/operand_walk.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::ExprAst;

constexpr MetricExprFlags kIdentPosition{false, false, true};
constexpr MetricExprFlags kNodeBound{true, false, false};
constexpr MetricExprFlags kNoFlags{false, false, false};
constexpr MetricExprFlags kFoldStep{true, true, false};

bool is_var_named(const ExprAst& e, std::string_view name) {
    const auto* v = std::get_if<ExprAst::Var>(&e.node);
    return v && v->name == name;
}

class MetricExprChecker {
public:
    MetricExprChecker(const NameSet& known_metrics, const Site& site)
        : known_(known_metrics), site_(site) {}

    void check(const ExprAst& root, MetricExprFlags flags) {
        walk(root, flags);
        while (!tasks_.empty()) {
            const Task task = tasks_.back();
            tasks_.pop_back();
            if (task.kind == Task::Kind::Walk) {
                walk(*task.expr, task.flags);
            } else if (!std::holds_alternative<ExprAst::Number>(task.expr->node)) {
                site_.fail("avg_degree: 'min_prob' must be numeric");
            }
        }
    }

private:
    struct Task {
        enum class Kind : uint8_t { Walk, MinProb };
        Kind kind;
        MetricExprFlags flags;  // Walk
        const ExprAst* expr;
    };

    void walk(const ExprAst& root, MetricExprFlags flags) {
        walk_spine(
            root,
            [&](const ExprAst& e) -> const ExprAst* {
                check_leaf(e, flags);
                return nullptr;
            },
            [&](const ExprAst& right) { later(right, flags); });
    }

    // Schedules `e`. Work is done newest first, so the parts of an operand
    // are scheduled last to first.
    void later(const ExprAst& e, MetricExprFlags flags) {
        tasks_.push_back(Task{Task::Kind::Walk, flags, &e});
    }

    void later_if(const ExprAst* e, MetricExprFlags flags) {
        if (e) later(*e, flags);
    }

    void check_leaf(const ExprAst& e, MetricExprFlags flags) {
        if (const auto* v = std::get_if<ExprAst::Var>(&e.node)) {
            check_var(v->name, flags);
        } else if (std::holds_alternative<ExprAst::Field>(e.node)) {
            site_.fail("bare field access not supported in metric; use E[node.attr]");
        } else if (const auto* c = std::get_if<ExprAst::Call>(&e.node)) {
            check_call(*c, flags);
        } else if (std::holds_alternative<ExprAst::Exists>(e.node)) {
            site_.fail("exists subqueries not supported in metric expressions");
        }
    }

    // The reserved names come before the metric names: a metric or import
    // called node or value cannot be read by name.
    void check_var(std::string_view name, MetricExprFlags flags) {
        if (flags.ident_position) return;
        if (name == "node") {
            site_.fail("bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)");
        }
        if (name == "value") {
            if (flags.value_bound) return;
            site_.fail("'value' is only valid inside fold_nodes step");
        }
        if (!known_.contains(name)) site_.fail("unknown metric variable '{}'", name);
    }

    void check_node_field_arg(const ExprAst& e) {
        if (const auto* f = std::get_if<ExprAst::Field>(&e.node)) {
            if (is_var_named(*f->target, "node")) return;
            site_.fail("metric node function requires node.attr with 'node' variable");
        }
        site_.fail("metric node function requires a field expression");
    }

    // A named argument wins over the positional one at the same index.
    static const ExprAst* pick(const SplitArgs& args, std::string_view name, size_t index) {
        if (const ExprAst* named = args.get(name)) return named;
        return args.position(index);
    }

    const ExprAst& require(const SplitArgs& args, std::string_view builder, std::string_view name,
                           size_t index) {
        const ExprAst* found = pick(args, name, index);
        if (!found) site_.fail("{}: missing '{}' argument", builder, name);
        return *found;
    }

    // The required arguments are looked up first; then the arguments are
    // checked in the order listed, so pushed in reverse. Arguments beyond
    // those listed for a builder are not examined.
    bool check_builder(std::string_view name, const SplitArgs& args) {
        if (name == "count_nodes") {
            const ExprAst& label = require(args, name, "label", 0);
            later_if(pick(args, "where", 1), kNodeBound);
            later(label, kIdentPosition);
        } else if (name == "sum_nodes") {
            const ExprAst& label = require(args, name, "label", 0);
            const ExprAst& contrib = require(args, name, "contrib", 2);
            later(contrib, kNodeBound);
            later_if(pick(args, "where", 1), kNodeBound);
            later(label, kIdentPosition);
        } else if (name == "fold_nodes") {
            const ExprAst& label = require(args, name, "label", 0);
            const ExprAst& init = require(args, name, "init", 3);
            const ExprAst& step = require(args, name, "step", 4);
            later(step, kFoldStep);
            later(init, kNoFlags);
            later_if(pick(args, "order_by", 2), kNodeBound);
            later_if(pick(args, "where", 1), kNodeBound);
            later(label, kIdentPosition);
        } else if (name == "avg_degree") {
            const ExprAst& label = require(args, name, "label", 0);
            const ExprAst& edge_type = require(args, name, "edge_type", 1);
            if (const ExprAst* min_prob = args.get("min_prob")) {
                tasks_.push_back(Task{Task::Kind::MinProb, kNoFlags, min_prob});
            }
            later(edge_type, kIdentPosition);
            later(label, kIdentPosition);
        } else {
            return false;
        }
        return true;
    }

    // The functions evaluated once per node, inside a node pipeline.
    void check_node_function(std::string_view name, const SplitArgs& args, MetricExprFlags flags) {
        const size_t positional = args.positional_count();
        const auto p = [&args](size_t i) -> const ExprAst& { return *args.position(i); };
        if (name == "E" || name == "stddev" || name == "variance" || name == "effective_n") {
            if (args.named_count() != 0 || positional != 1) {
                site_.fail("{}[] expects one positional argument", name);
            }
            check_node_field_arg(p(0));
        } else if (name == "quantile" || name == "ci_lo" || name == "ci_hi") {
            if (positional != 2) site_.fail("{}(): requires node.attr and numeric p", name);
            check_node_field_arg(p(0));
            if (!std::holds_alternative<ExprAst::Number>(p(1).node)) {
                site_.fail("{}(): p must be numeric", name);
            }
        } else if (name == "degree") {
            if (positional == 0 || !is_var_named(p(0), "node")) {
                site_.fail("degree(): first argument must be 'node'");
            }
            MetricExprFlags rest = flags;
            rest.ident_position = false;
            for (size_t i = args.named_count(); i-- > 0;) later(args.named_value(i), rest);
            for (size_t i = positional; i-- > 1;) later(p(i), rest);
        } else if (name == "entropy") {
            if (positional < 2) site_.fail("entropy(): requires node and edge_type arguments");
            if (!is_var_named(p(0), "node")) {
                site_.fail("entropy(): first argument must be 'node' in metric expressions");
            }
            if (!std::holds_alternative<ExprAst::Var>(p(1).node)) {
                site_.fail("entropy(): edge_type must be an identifier");
            }
        } else {
            site_.fail("unsupported function '{}' in node metric expression", name);
        }
    }

    void check_call(const ExprAst::Call& call, MetricExprFlags flags) {
        const SplitArgs args(arg_stack_, call.args);
        if (check_builder(call.name, args)) return;
        if (flags.node_bound) {
            check_node_function(call.name, args, flags);
            return;
        }
        // Any other call, per-node functions included, is an ordinary
        // function here: only its arguments are checked, in order.
        for (size_t i = call.args.size(); i-- > 0;) {
            const ast::CallArg& arg = call.args[i];
            if (const auto* pos = std::get_if<ast::CallArg::Positional>(&arg.node)) {
                later(pos->value, flags);
            } else {
                later(std::get<ast::CallArg::Named>(arg.node).value, flags);
            }
        }
    }

    const NameSet& known_;
    const Site& site_;
    std::vector<Task> tasks_;
    ArgStack arg_stack_;
};

}  // namespace

void validate_metric_expr_scoped(const ast::ExprAst& expr, const NameSet& known_metrics,
                                 MetricExprFlags flags, const Site& site) {
    MetricExprChecker(known_metrics, site).check(expr, flags);
}

}  // namespace morvane::frontend::validate
