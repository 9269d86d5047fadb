// The expression builder runs on two explicit stacks instead of recursing:
// a stack of tasks (pairs still to build, and nodes waiting for their
// children) and a stack of built values. Nesting in the source (parentheses,
// call arguments, existence tests, pipelines inside expressions) therefore
// costs heap, never machine stack, and a flat chain of a million operators
// costs one task at a time. Tasks run in source order, so values arrive on
// the value stack in the order the node that waits for them reads them.
//
// The fallback to 0.0 happens where a node can fail: an existence test whose
// pattern cannot be built, or a metric pipeline that its builder refuses.
// Such a node is replaced by Number(0.0), unless it is the very pair the
// caller handed in, whose failure is the caller's to see. Building a child
// expression never fails, so building children before or after the checks
// of their parent gives the same trees and the same errors.
#include "frontend/parser/build_expr.hpp"

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frontend/errors.hpp"
#include "frontend/parser/build_metric.hpp"
#include "frontend/parser/build_pattern.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::frontend::parser {

namespace {

using ast::BinaryOp;
using ast::ExprAst;
using ast::UnaryOp;

[[noreturn]] void broken_tree(std::string_view what, const Pair& pair) {
    support::panic(support::fill("expression builder: {} in {}", what, rule_name(pair.as_rule())));
}

Pair child_or_panic(Pairs& pairs, const Pair& parent) {
    const std::optional<Pair> child = pairs.next();
    if (!child) broken_tree("missing inner pair", parent);
    return *child;
}

bool is_binary_level(Rule rule) {
    return rule == Rule::or_expr || rule == Rule::and_expr || rule == Rule::cmp_expr ||
           rule == Rule::add_expr || rule == Rule::mul_expr;
}

bool is_operator(Rule rule) {
    return rule == Rule::op_or || rule == Rule::op_and || rule == Rule::op_cmp ||
           rule == Rule::op_add || rule == Rule::op_mul;
}

BinaryOp binary_op(const Pair& op) {
    const std::string_view text = op.as_str();
    if (text == "+") return BinaryOp::Add;
    if (text == "-") return BinaryOp::Sub;
    if (text == "*") return BinaryOp::Mul;
    if (text == "/") return BinaryOp::Div;
    if (text == "==") return BinaryOp::Eq;
    if (text == "!=") return BinaryOp::Ne;
    if (text == "<") return BinaryOp::Lt;
    if (text == "<=") return BinaryOp::Le;
    if (text == ">") return BinaryOp::Gt;
    if (text == ">=") return BinaryOp::Ge;
    if (text == "and") return BinaryOp::And;
    if (text == "or") return BinaryOp::Or;
    broken_tree("unknown operator", op);
}

UnaryOp unary_op(const Pair& op) {
    if (op.as_str() == "-") return UnaryOp::Neg;
    if (op.as_str() == "not") return UnaryOp::Not;
    broken_tree("unknown prefix operator", op);
}

// Most expression pairs hold a single operand and build to exactly what it
// builds to: `expr`, `paren_expr`, a binary level with one operand, a
// `unary_expr` without prefix operator, a `postfix` without suffixes. This
// walks down such a chain to the first pair that makes a node of its own.
// `descended` tells whether it moved: a failure below the given pair falls
// back to 0.0 like a failure at any nested position.
Pair innermost(Pair pair, bool& descended) {
    for (;;) {
        const Rule rule = pair.as_rule();
        std::optional<Pair> only;
        if (rule == Rule::expr || rule == Rule::paren_expr) {
            only = pair.into_inner().peek();
        } else if (is_binary_level(rule) || rule == Rule::postfix) {
            Pairs inner = pair.into_inner();
            only = inner.next();
            if (!inner.empty()) only.reset();
        } else if (rule == Rule::unary_expr) {
            only = pair.into_inner().peek();
            if (only && only->as_rule() == Rule::op_unary) only.reset();
        }
        if (!only) return pair;
        pair = *only;
        descended = true;
    }
}

// E[V.a] is the call E(V.a).
ExprAst build_e_bracket(const Pair& bracket) {
    Pairs parts = bracket.into_inner();
    const Pair target = child_or_panic(parts, bracket);
    const Pair attr = child_or_panic(parts, bracket);
    return ast::call("E", {ast::positional(ast::field(ast::var(std::string(target.as_str())),
                                                      std::string(attr.as_str())))});
}

// The Exists node of an existence test, without its where-expression, and
// the pair of that expression if one is written.
ExprAst exists_shell(const Pair& test, bool negated, std::optional<Pair>& where) {
    Pairs parts = test.into_inner();
    std::optional<Pair> pattern;
    while ((pattern = parts.next()) && pattern->as_rule() != Rule::pattern_item) {
    }
    if (!pattern) {
        detail::fail(negated ? "Missing pattern in not exists expression"
                             : "Missing pattern in exists expression");
    }
    where = detail::first_of(parts, Rule::expr);
    return ast::exists(build_pattern_item(*pattern), std::nullopt, negated);
}

class ExprBuilder {
public:
    // Builds the expression of `root`. With `root_may_fail`, a failure of
    // the root node itself is thrown instead of falling back.
    ExprAst run(const Pair& root, bool root_may_fail) {
        push(Task::Eval, root).root = root_may_fail;
        while (!tasks_.empty()) {
            Task task = std::move(tasks_.back());
            tasks_.pop_back();
            step(task);
        }
        return std::move(values_.back());
    }

private:
    struct Task {
        enum Kind : uint8_t {
            Eval,            // build `pair`, push its value
            FoldLevel,       // fold the operand just built into the level
            Wrap,            // apply the prefix operator `unary` to the top value
            Postfix,         // apply the suffixes left in `rest` to the top value
            CallArgs,        // build the arguments left in `rest`, then the call
            AttachWhere,     // the top value is the where-part of the Exists below
            FinishPipeline,  // the top `count` values are the steps of `pair`
        };
        Kind kind;
        bool root = false;
        UnaryOp unary = UnaryOp::Neg;
        std::optional<BinaryOp> pending;  // FoldLevel: operator waiting for its right operand
        uint32_t count = 0;
        Pair pair;
        Pairs rest;
    };

    Task& push(Task::Kind kind, const Pair& pair, Pairs rest = {}) {
        tasks_.push_back(Task{kind, false, UnaryOp::Neg, std::nullopt, 0, pair, rest});
        return tasks_.back();
    }

    ExprAst pop_value() {
        ExprAst value = std::move(values_.back());
        values_.pop_back();
        return value;
    }

    void step(Task& task) {
        switch (task.kind) {
            case Task::Eval:
                eval(task);
                break;
            case Task::FoldLevel:
                fold_level(task);
                break;
            case Task::Wrap:
                values_.back() = ast::unary(task.unary, std::move(values_.back()));
                break;
            case Task::Postfix:
                postfix(task);
                break;
            case Task::CallArgs:
                call_args(task);
                break;
            case Task::AttachWhere: {
                ExprAst where = pop_value();
                std::get<ExprAst::Exists>(values_.back().node).where_expr.emplace(std::move(where));
                break;
            }
            case Task::FinishPipeline:
                finish_pipeline(task);
                break;
        }
    }

    // A node that cannot be built: 0.0 in its place, or the error itself
    // for the caller's own pair. Called from the handler of that error.
    void failed(bool root) {
        if (root) throw;
        values_.push_back(ast::number(0.0));
    }

    void eval(const Task& task) {
        bool descended = false;
        const Pair pair = innermost(task.pair, descended);
        const bool root = task.root && !descended;
        const Rule rule = pair.as_rule();
        if (is_binary_level(rule)) {
            Pairs inner = pair.into_inner();
            const Pair first = child_or_panic(inner, pair);
            push(Task::FoldLevel, pair, inner);
            push(Task::Eval, first);
            return;
        }
        switch (rule) {
            case Rule::ident:
                values_.push_back(ast::var(std::string(pair.as_str())));
                break;
            case Rule::number:
                values_.push_back(ast::number(support::read_number_token(pair.as_str())));
                break;
            case Rule::kw_true_tok:
                values_.push_back(ast::boolean(true));
                break;
            case Rule::kw_false_tok:
                values_.push_back(ast::boolean(false));
                break;
            case Rule::e_bracket:
                values_.push_back(build_e_bracket(pair));
                break;
            case Rule::unary_expr:
                eval_prefixed(pair);
                break;
            case Rule::postfix: {
                Pairs inner = pair.into_inner();
                const Pair base = child_or_panic(inner, pair);
                push(Task::Postfix, pair, inner);
                push(Task::Eval, base);
                break;
            }
            case Rule::exists_expr:
            case Rule::not_exists_expr:
                eval_exists(pair, rule == Rule::not_exists_expr, root);
                break;
            case Rule::metric_builder_expr: {
                const std::vector<Pair> exprs = metric_pipeline_exprs(pair);
                Task& finish = push(Task::FinishPipeline, pair);
                finish.root = root;
                finish.count = static_cast<uint32_t>(exprs.size());
                for (auto e = exprs.rbegin(); e != exprs.rend(); ++e) push(Task::Eval, *e);
                break;
            }
            case Rule::expr:
            case Rule::paren_expr:
                broken_tree("missing inner pair", pair);
            default:
                broken_tree("not an expression rule", pair);
        }
    }

    // `- not - x`: one Wrap task per operator, outermost pushed first, so
    // they apply innermost first once the operand is built.
    void eval_prefixed(const Pair& unary) {
        Pair current = unary;
        for (;;) {
            Pairs inner = current.into_inner();
            const Pair first = child_or_panic(inner, current);
            if (first.as_rule() != Rule::op_unary) {
                current = first;
                break;
            }
            push(Task::Wrap, first).unary = unary_op(first);
            current = child_or_panic(inner, current);
            if (current.as_rule() != Rule::unary_expr) break;
        }
        push(Task::Eval, current);
    }

    void eval_exists(const Pair& test, bool negated, bool root) {
        std::optional<Pair> where;
        try {
            values_.push_back(exists_shell(test, negated, where));
        } catch (const FrontendError&) {
            failed(root);
            return;
        }
        if (where) {
            push(Task::AttachWhere, test);
            push(Task::Eval, *where);
        }
    }

    // operand (operator operand)*, folded to the left: the accumulator is
    // the value below the operand just built.
    void fold_level(Task& task) {
        if (task.pending) {
            ExprAst right = pop_value();
            ExprAst left = pop_value();
            values_.push_back(ast::binary(*task.pending, std::move(left), std::move(right)));
        }
        while (std::optional<Pair> op = task.rest.next()) {
            if (!is_operator(op->as_rule())) continue;
            task.pending = binary_op(*op);
            const Pair right = child_or_panic(task.rest, task.pair);
            tasks_.push_back(task);
            push(Task::Eval, right);
            return;
        }
    }

    // base (field_access | call_suffix)*; the base is the top value.
    void postfix(Task& task) {
        while (std::optional<Pair> suffix = task.rest.next()) {
            if (suffix->as_rule() == Rule::field_access) {
                Pairs parts = suffix->into_inner();
                const Pair name = child_or_panic(parts, *suffix);
                values_.back() = ast::field(std::move(values_.back()), std::string(name.as_str()));
            } else if (suffix->as_rule() == Rule::call_suffix) {
                tasks_.push_back(task);
                push(Task::CallArgs, *suffix, suffix->into_inner());
                return;
            }
        }
    }

    // Builds the value of each argument in turn; when none is left, makes
    // the call. Its callee is kept only when the expression before the
    // suffix is a bare name.
    void call_args(Task& task) {
        while (std::optional<Pair> arg = task.rest.next()) {
            std::optional<Pair> value;
            if (arg->as_rule() == Rule::named_arg) {
                Pairs parts = arg->into_inner();
                child_or_panic(parts, *arg);
                value = child_or_panic(parts, *arg);
            } else if (arg->as_rule() == Rule::expr) {
                value = arg;
            } else {
                continue;
            }
            ++task.count;
            tasks_.push_back(task);
            push(Task::Eval, *value);
            return;
        }
        std::vector<ast::CallArg> args;
        args.reserve(task.count);
        auto built = values_.end() - task.count;
        for (const Pair& arg : task.pair.into_inner()) {
            if (arg.as_rule() == Rule::named_arg) {
                const Pair name = *arg.into_inner().peek();
                args.push_back(ast::named(std::string(name.as_str()), std::move(*built++)));
            } else if (arg.as_rule() == Rule::expr) {
                args.push_back(ast::positional(std::move(*built++)));
            }
        }
        values_.erase(values_.end() - task.count, values_.end());
        std::string callee;
        if (auto* var = std::get_if<ExprAst::Var>(&values_.back().node)) {
            callee = std::move(var->name);
        }
        values_.back() = ast::call(std::move(callee), std::move(args));
    }

    void finish_pipeline(const Task& task) {
        const auto first = values_.end() - task.count;
        std::vector<ExprAst> steps(std::make_move_iterator(first),
                                   std::make_move_iterator(values_.end()));
        values_.erase(first, values_.end());
        try {
            values_.push_back(assemble_metric_pipeline(task.pair, std::move(steps)));
        } catch (const FrontendError&) {
            failed(task.root);
        }
    }

    std::vector<Task> tasks_;
    std::vector<ExprAst> values_;
};

}  // namespace

ExprAst build_expr_result(const Pair& pair) { return ExprBuilder().run(pair, true); }

ExprAst build_expr(const Pair& pair) {
    try {
        return ExprBuilder().run(pair, true);
    } catch (const FrontendError&) {
        return ast::number(0.0);
    }
}

}  // namespace morvane::frontend::parser
