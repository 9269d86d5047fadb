#include "frontend/parser/build_action.hpp"

#include <optional>
#include <string>
#include <utility>

#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser {

namespace {

using support::fill;

// A factor or a weight: the float parser's error text is the whole message.
double option_number(const Pair& pair) {
    const std::optional<double> value = detail::number_value(pair);
    if (!value) detail::fail(std::string(support::kInvalidFloatLiteral));
    return *value;
}

// `n.a`: the variable and the attribute, each failing with its own text.
void read_node_attr(const Pair& node_attr, std::optional<std::string>& var,
                    std::optional<std::string>& attr, const char* missing_var,
                    const char* missing_attr) {
    Pairs parts = node_attr.into_inner();
    const std::optional<Pair> var_pair = parts.next();
    if (!var_pair) detail::fail(missing_var);
    var = std::string(var_pair->as_str());
    const std::optional<Pair> attr_pair = parts.next();
    if (!attr_pair) detail::fail(missing_attr);
    attr = std::string(attr_pair->as_str());
}

ast::ActionStmt build_let(const Pair& stmt) {
    std::optional<std::string> name;
    std::optional<ast::ExprAst> expr;
    for (const Pair& child : stmt.into_inner()) {
        if (child.as_rule() == Rule::ident && !name) {
            name = std::string(child.as_str());
        } else if (child.as_rule() == Rule::expr) {
            expr = build_expr(child);
        }
    }
    if (!name) detail::fail("Missing variable name in let statement");
    if (!expr) detail::fail("Missing expression in let statement");
    return ast::ActionStmt::Let{std::move(*name), std::move(*expr)};
}

// `variance = preserve | increase[(factor = x)] | decrease[(factor = x)]`.
ast::VarianceSpec read_variance(const Pair& clause) {
    Pairs parts = clause.into_inner();
    if (const auto first = parts.peek(); first && first->as_rule() == Rule::kw_variance_tok) {
        parts.next();
    }
    const std::optional<Pair> kind = parts.next();
    if (!kind) detail::fail("Missing variance kind");
    std::optional<double> factor;
    if (kind->as_rule() == Rule::increase_clause || kind->as_rule() == Rule::decrease_clause) {
        if (const auto number = detail::first_of(kind->into_inner(), Rule::number)) {
            factor = option_number(*number);
        }
    }
    switch (kind->as_rule()) {
        case Rule::kw_preserve_tok:
            return ast::VarianceSpec::Preserve{};
        case Rule::increase_clause:
            return ast::VarianceSpec::Increase{factor};
        case Rule::decrease_clause:
            return ast::VarianceSpec::Decrease{factor};
        default:
            detail::fail("Missing variance kind");
    }
}

ast::ActionStmt build_nudge(const Pair& stmt) {
    std::optional<std::string> var;
    std::optional<std::string> attr;
    std::optional<ast::ExprAst> expr;
    std::optional<ast::VarianceSpec> variance;
    for (const Pair& child : stmt.into_inner()) {
        switch (child.as_rule()) {
            case Rule::node_attr:
                read_node_attr(child, var, attr, "Missing node variable in non_bayesian_nudge",
                               "Missing attribute in non_bayesian_nudge");
                break;
            case Rule::expr:
                expr = build_expr(child);
                break;
            case Rule::variance_clause:
                variance = read_variance(child);
                break;
            default:
                break;
        }
    }
    if (!var || !attr) detail::fail("Missing node attribute in non_bayesian_nudge");
    if (!expr) detail::fail("Missing expression in non_bayesian_nudge");
    return ast::ActionStmt::NonBayesianNudge{std::move(*var), std::move(*attr), std::move(*expr),
                                             std::move(variance)};
}

// `precision = p` or `count = c`, read from the argument's text. A comment
// inside the argument is part of that text and spoils it.
void read_soft_arg(const Pair& arg, std::optional<double>& precision,
                   std::optional<double>& count) {
    const std::string text = support::remove_white_space(arg.as_str());
    const std::string_view compact(text);
    if (compact.starts_with("precision=")) {
        const std::string_view rest = compact.substr(10);
        precision = support::parse_float(rest);
        if (!precision) {
            detail::fail(fill("Invalid precision value '{}': {}", rest,
                              support::kInvalidFloatLiteral));
        }
    } else if (compact.starts_with("count=")) {
        const std::string_view rest = compact.substr(6);
        count = support::parse_float(rest);
        if (!count) {
            detail::fail(
                fill("Invalid count value '{}': {}", rest, support::kInvalidFloatLiteral));
        }
    } else {
        detail::fail(fill("Unknown soft update argument '{}'", arg.as_str()));
    }
}

ast::ActionStmt build_soft_update(const Pair& stmt) {
    std::optional<std::string> var;
    std::optional<std::string> attr;
    std::optional<ast::ExprAst> expr;
    std::optional<double> precision;
    std::optional<double> count;
    for (const Pair& child : stmt.into_inner()) {
        switch (child.as_rule()) {
            case Rule::node_attr:
                read_node_attr(child, var, attr, "Missing node var in soft update",
                               "Missing attr in soft update");
                break;
            case Rule::expr:
                expr = build_expr(child);
                break;
            case Rule::soft_arg:
                read_soft_arg(child, precision, count);
                break;
            case Rule::soft_args:
                for (const Pair& arg : child.into_inner()) {
                    if (arg.as_rule() == Rule::soft_arg) read_soft_arg(arg, precision, count);
                }
                break;
            default:
                break;
        }
    }
    if (!var || !attr) detail::fail("Missing node attr in soft update");
    if (!expr) detail::fail("Missing expression in soft update");
    return ast::ActionStmt::SoftUpdate{std::move(*var), std::move(*attr), std::move(*expr),
                                       precision, count};
}

std::string confidence_word(const Pair& arg, const char* missing) {
    const std::optional<Pair> word = detail::first_of(arg.into_inner(), Rule::ident);
    if (!word) detail::fail(missing);
    return std::string(word->as_str());
}

ast::ActionStmt build_delete(const Pair& stmt) {
    std::optional<std::string> edge_var;
    std::optional<std::string> confidence;
    for (const Pair& child : stmt.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (!edge_var) {
                edge_var = std::string(child.as_str());
            } else if (!confidence) {
                confidence = std::string(child.as_str());
            }
        } else if (child.as_rule() == Rule::delete_arg) {
            confidence = confidence_word(child, "Missing confidence value in delete");
        } else if (child.as_rule() == Rule::delete_args) {
            for (const Pair& arg : child.into_inner()) {
                if (arg.as_rule() == Rule::delete_arg) {
                    confidence = confidence_word(arg, "Missing confidence value in delete()");
                }
            }
        }
    }
    if (!edge_var) detail::fail("Missing edge var in delete");
    return ast::ActionStmt::Delete{std::move(*edge_var), std::move(confidence)};
}

double weight_number(const Pair& arg, const char* missing) {
    const std::optional<Pair> number = detail::first_of(arg.into_inner(), Rule::number);
    if (!number) detail::fail(missing);
    return option_number(*number);
}

ast::ActionStmt build_suppress(const Pair& stmt) {
    std::optional<std::string> edge_var;
    std::optional<double> weight;
    for (const Pair& child : stmt.into_inner()) {
        switch (child.as_rule()) {
            case Rule::ident:
                if (!edge_var) edge_var = std::string(child.as_str());
                break;
            case Rule::suppress_arg:
                weight = weight_number(child, "Missing weight value in suppress");
                break;
            case Rule::suppress_args:
                for (const Pair& arg : child.into_inner()) {
                    if (arg.as_rule() == Rule::suppress_arg) {
                        weight = weight_number(arg, "Missing weight value in suppress()");
                    }
                }
                break;
            case Rule::number:
                if (!weight) weight = option_number(child);
                break;
            default:
                break;
        }
    }
    if (!edge_var) detail::fail("Missing edge var in suppress");
    return ast::ActionStmt::Suppress{std::move(*edge_var), weight};
}

}  // namespace

ast::ActionStmt build_action_stmt(const Pair& pair) {
    Pair stmt = pair;
    if (pair.as_rule() == Rule::action_stmt) {
        const std::optional<Pair> inner = pair.into_inner().peek();
        if (!inner) detail::fail("Empty action statement");
        stmt = *inner;
    }
    switch (stmt.as_rule()) {
        case Rule::let_stmt:
            return build_let(stmt);
        case Rule::nbnudge_stmt:
            return build_nudge(stmt);
        case Rule::soft_update_stmt:
            return build_soft_update(stmt);
        case Rule::delete_stmt:
            return build_delete(stmt);
        case Rule::suppress_stmt:
            return build_suppress(stmt);
        default:
            detail::fail(fill("Unknown action statement: {}", rule_name(stmt.as_rule())));
    }
}

}  // namespace morvane::frontend::parser
