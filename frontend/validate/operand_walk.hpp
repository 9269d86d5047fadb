// The walk shared by the expression checks.
//
// Expressions nest as deeply as the parser allows (calls in call arguments,
// sub-queries in where-clauses, pipelines in pipeline steps) and operator
// chains fold into spines as long as the source, so no check recurses: each
// keeps a stack of work still to do, and this loop runs down one operator
// spine, handing the right operands it passes to that stack. A checker pops
// its work newest first and pushes the parts of an operand (the arguments of
// a call, the where-clause of a sub-query) in reverse, so that everything is
// checked strictly left to right and the violation reported is always the
// first one written.
#pragma once

#include <variant>

#include "frontend/ast.hpp"

namespace morvane::frontend::validate {

// Runs down the operator spine from `root`: a Binary hands its right operand
// to `defer` and goes on into its left one, a Unary goes on into its
// operand, and any other node goes to `visit`, which returns an expression
// to go on into (a prune predicate walks through field targets this way) or
// nullptr to end the spine.
template <typename Visit, typename Defer>
void walk_spine(const ast::ExprAst& root, Visit&& visit, Defer&& defer) {
    using ast::ExprAst;
    const ExprAst* e = &root;
    while (e != nullptr) {
        if (const auto* b = std::get_if<ExprAst::Binary>(&e->node)) {
            defer(*b->right);
            e = b->left.get();
        } else if (const auto* u = std::get_if<ExprAst::Unary>(&e->node)) {
            e = u->expr.get();
        } else {
            e = visit(*e);
        }
    }
}

}  // namespace morvane::frontend::validate
