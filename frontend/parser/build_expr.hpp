// The expression builder: one expression pair to an ExprAst.
//
// It applies the language's expression desugarings: every binary level folds
// to the left (`a - b - c` is (a - b) - c), parentheses leave no node, a
// minus before a literal is the prefix operator (`-5` is Neg over 5),
// `E[V.a]` is the call E(V.a), a call suffix after anything but a bare name
// keeps its arguments under the empty name, and a metric pipeline inside an
// expression becomes its call form (build_metric.hpp).
//
// Failure policy: a sub-expression that cannot be built becomes Number(0.0)
// and building goes on without a message. Only a pair that itself is a
// metric pipeline or an existence test can make build_expr_result fail; any
// failure below another pair is absorbed at the nearest enclosing level.
//
// Deep input: a flat chain of operators or field accesses is folded in a
// loop, however long, and so is a chain of prefix operators; the builder
// recurses only into nested sub-expressions (parentheses, operands of higher
// levels, arguments, where-parts), whose depth the parser bounds.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError::Parse, only for a `metric_builder_expr`,
// `exists_expr` or `not_exists_expr` pair that fails to build. A pair of a
// rule that is no expression is a broken invariant (support::Panic).
ast::ExprAst build_expr_result(const Pair& pair);

// build_expr_result with any FrontendError replaced by Number(0.0).
ast::ExprAst build_expr(const Pair& pair);

}  // namespace morvane::frontend::parser
