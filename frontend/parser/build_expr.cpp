#include "frontend/parser/build_expr.hpp"

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
// walks down such a chain to the first pair that makes a node of its own,
// which keeps the recursion to one frame per real nesting level. Building
// the result, falling back to 0.0, gives the same tree as building every
// wrapper in turn, since each of them falls back too.
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

ExprAst build_node(const Pair& pair);

// Builds a nested sub-expression; any failure becomes 0.0.
ExprAst build_operand(const Pair& pair) {
    bool descended = false;
    const Pair node = innermost(pair, descended);
    try {
        return build_node(node);
    } catch (const FrontendError&) {
        return ast::number(0.0);
    }
}

// operand (operator operand)*, folded to the left.
ExprAst build_binary_level(const Pair& level) {
    Pairs inner = level.into_inner();
    ExprAst acc = build_operand(child_or_panic(inner, level));
    while (std::optional<Pair> op = inner.next()) {
        if (!is_operator(op->as_rule())) continue;
        const BinaryOp binary = binary_op(*op);
        const Pair right = child_or_panic(inner, level);
        acc = ast::binary(binary, std::move(acc), build_operand(right));
    }
    return acc;
}

// A chain of prefix operators over one operand, built without recursing
// per operator: `- - x` is Neg(Neg(x)).
ExprAst build_prefixed(const Pair& unary) {
    std::vector<UnaryOp> ops;
    Pair current = unary;
    for (;;) {
        Pairs inner = current.into_inner();
        const Pair first = child_or_panic(inner, current);
        if (first.as_rule() != Rule::op_unary) {
            current = first;
            break;
        }
        ops.push_back(unary_op(first));
        current = child_or_panic(inner, current);
        if (current.as_rule() != Rule::unary_expr) break;
    }
    ExprAst result = build_operand(current);
    for (auto op = ops.rbegin(); op != ops.rend(); ++op) {
        result = ast::unary(*op, std::move(result));
    }
    return result;
}

std::vector<ast::CallArg> build_call_args(const Pair& suffix) {
    std::vector<ast::CallArg> args;
    for (const Pair& arg : suffix.into_inner()) {
        if (arg.as_rule() == Rule::named_arg) {
            Pairs parts = arg.into_inner();
            const Pair name = child_or_panic(parts, arg);
            const Pair value = child_or_panic(parts, arg);
            args.push_back(ast::named(std::string(name.as_str()), build_operand(value)));
        } else if (arg.as_rule() == Rule::expr) {
            args.push_back(ast::positional(build_operand(arg)));
        }
    }
    return args;
}

// base (field_access | call_suffix)*. A call keeps its callee only when the
// expression before it is a bare name.
ExprAst build_postfix(const Pair& postfix) {
    Pairs inner = postfix.into_inner();
    ExprAst acc = build_operand(child_or_panic(inner, postfix));
    for (const Pair& suffix : inner) {
        if (suffix.as_rule() == Rule::field_access) {
            Pairs parts = suffix.into_inner();
            const Pair name = child_or_panic(parts, suffix);
            acc = ast::field(std::move(acc), std::string(name.as_str()));
        } else if (suffix.as_rule() == Rule::call_suffix) {
            std::vector<ast::CallArg> args = build_call_args(suffix);
            std::string callee;
            if (auto* var = std::get_if<ExprAst::Var>(&acc.node)) callee = std::move(var->name);
            acc = ast::call(std::move(callee), std::move(args));
        }
    }
    return acc;
}

// E[V.a] is the call E(V.a).
ExprAst build_e_bracket(const Pair& bracket) {
    Pairs parts = bracket.into_inner();
    const Pair target = child_or_panic(parts, bracket);
    const Pair attr = child_or_panic(parts, bracket);
    return ast::call("E", {ast::positional(ast::field(ast::var(std::string(target.as_str())),
                                                      std::string(attr.as_str())))});
}

ExprAst build_exists(const Pair& test, bool negated) {
    Pairs parts = test.into_inner();
    std::optional<Pair> pattern;
    while ((pattern = parts.next()) && pattern->as_rule() != Rule::pattern_item) {
    }
    if (!pattern) {
        detail::fail(negated ? "Missing pattern in not exists expression"
                             : "Missing pattern in exists expression");
    }
    ast::PatternItem item = build_pattern_item(*pattern);
    std::optional<ExprAst> where;
    if (const std::optional<Pair> e = detail::first_of(parts, Rule::expr)) {
        where = build_operand(*e);
    }
    return ast::exists(std::move(item), std::move(where), negated);
}

ExprAst build_node(const Pair& pair) {
    const Rule rule = pair.as_rule();
    if (is_binary_level(rule)) return build_binary_level(pair);
    switch (rule) {
        case Rule::ident:
            return ast::var(std::string(pair.as_str()));
        case Rule::number:
            return ast::number(support::read_number_token(pair.as_str()));
        case Rule::kw_true_tok:
            return ast::boolean(true);
        case Rule::kw_false_tok:
            return ast::boolean(false);
        case Rule::unary_expr:
            return build_prefixed(pair);
        case Rule::postfix:
            return build_postfix(pair);
        case Rule::e_bracket:
            return build_e_bracket(pair);
        case Rule::exists_expr:
            return build_exists(pair, false);
        case Rule::not_exists_expr:
            return build_exists(pair, true);
        case Rule::metric_builder_expr:
            return build_metric_builder_expr(pair);
        case Rule::expr:
        case Rule::paren_expr:
            broken_tree("missing inner pair", pair);
        default:
            broken_tree("not an expression rule", pair);
    }
}

}  // namespace

ExprAst build_expr_result(const Pair& pair) {
    bool descended = false;
    const Pair node = innermost(pair, descended);
    if (!descended) return build_node(node);
    return build_operand(node);
}

ExprAst build_expr(const Pair& pair) {
    try {
        return build_expr_result(pair);
    } catch (const FrontendError&) {
        return ast::number(0.0);
    }
}

}  // namespace morvane::frontend::parser
