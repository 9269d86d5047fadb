// The walk shared by the expression checks.
//
// Operator chains can be as long as the source (`a + a + ... + a` folds into
// a left spine of Binary nodes), so the checks never recurse down them: this
// loop runs along each spine and keeps the right operands on a scratch stack.
// Only what a visitor does with an operand (the arguments of a call, the
// where-expression of an existence test) may start another walk; the
// parser's nesting limit bounds that depth.
#pragma once

#include <cstddef>
#include <variant>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::frontend::validate {

// Visits, left to right, every operand of the operator tree under `root`:
// each sub-expression that is not a Binary or Unary. `visit(operand)` returns
// an expression to walk on into in place of the operand (a prune predicate
// walks through field targets this way), or nullptr. `pending` is scratch
// space that nested walks share; it is left as it was found.
template <typename Visit>
void for_each_operand(const ast::ExprAst& root, std::vector<const ast::ExprAst*>& pending,
                      Visit&& visit) {
    using ast::ExprAst;
    const size_t base = pending.size();
    const ExprAst* e = &root;
    for (;;) {
        if (const auto* b = std::get_if<ExprAst::Binary>(&e->node)) {
            pending.push_back(b->right.get());
            e = b->left.get();
            continue;
        }
        if (const auto* u = std::get_if<ExprAst::Unary>(&e->node)) {
            e = u->expr.get();
            continue;
        }
        if (const ExprAst* inner = visit(*e)) {
            e = inner;
            continue;
        }
        if (pending.size() == base) return;
        e = pending.back();
        pending.pop_back();
    }
}

}  // namespace morvane::frontend::validate
