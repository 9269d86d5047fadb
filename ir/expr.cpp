// Special members and tree conversions of ExprIR; none of them recurses
// (see frontend/ast_walk.hpp).
#include "ir/expr.hpp"

#include "frontend/ast_walk.hpp"

namespace morvane::ir {

namespace walk = frontend::ast::walk;

ExprIR::ExprIR(const ExprIR& other) : node(Number{0.0}) { walk::convert_into(*this, other); }

ExprIR& ExprIR::operator=(const ExprIR& other) {
    if (this != &other) *this = ExprIR(other);
    return *this;
}

ExprIR& ExprIR::operator=(ExprIR&& other) noexcept {
    // `other` may live inside this expression: take it out first.
    Node taken = std::move(other.node);
    node = std::move(taken);
    return *this;
}

ExprIR::~ExprIR() { walk::destroy_children(*this); }

bool operator==(const ExprIR& a, const ExprIR& b) { return walk::equal(a, b); }

ExprIR ExprIR::from(const ast::ExprAst& expr) { return walk::convert<ExprIR>(expr); }

ast::ExprAst ExprIR::to_ast() const { return walk::convert<ast::ExprAst>(*this); }

CallArgIR CallArgIR::from(const ast::CallArg& arg) { return walk::convert_arg<CallArgIR>(arg); }

ast::CallArg CallArgIR::to_ast() const { return walk::convert_arg<ast::CallArg>(*this); }

}  // namespace morvane::ir
