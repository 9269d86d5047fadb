// Special members of ExprAst: deep copy, equality and teardown that never
// recurse, whatever the depth of the expression (see ast_walk.hpp).
#include "frontend/ast.hpp"

#include "frontend/ast_walk.hpp"

namespace morvane::frontend::ast {

ExprAst::ExprAst(const ExprAst& other) : node(Number{0.0}) { walk::convert_into(*this, other); }

ExprAst& ExprAst::operator=(const ExprAst& other) {
    if (this != &other) *this = ExprAst(other);
    return *this;
}

ExprAst& ExprAst::operator=(ExprAst&& other) noexcept {
    // `other` may live inside this expression: take it out before the old
    // value is released.
    Node taken = std::move(other.node);
    node = std::move(taken);
    return *this;
}

ExprAst::~ExprAst() { walk::destroy_children(*this); }

bool operator==(const ExprAst& a, const ExprAst& b) { return walk::equal(a, b); }

std::string_view action_kind(const ActionStmt& action) {
    static constexpr std::string_view kNames[] = {"let", "non_bayesian_nudge", "soft_update",
                                                  "delete", "suppress"};
    return kNames[action.node.index()];
}

}  // namespace morvane::frontend::ast
