// Special members of ExprAst: deep copy, equality and teardown that loop
// along the left spine instead of recursing down it (see ast_spine.hpp).
#include "frontend/ast.hpp"

#include "frontend/ast_spine.hpp"

namespace morvane::frontend::ast {

ExprAst::ExprAst(const ExprAst& other) : node(Number{0.0}) { spine::convert_into(*this, other); }

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

ExprAst::~ExprAst() { spine::destroy_children(*this); }

bool operator==(const ExprAst& a, const ExprAst& b) { return spine::equal(a, b); }

std::string_view action_kind(const ActionStmt& action) {
    static constexpr std::string_view kNames[] = {"let", "non_bayesian_nudge", "soft_update",
                                                  "delete", "suppress"};
    return kNames[action.node.index()];
}

}  // namespace morvane::frontend::ast
