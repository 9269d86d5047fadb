// Special members and tree conversions of ExprIR, all spine-iterative.
#include "ir/expr.hpp"

#include "frontend/ast_spine.hpp"

namespace morvane::ir {

namespace spine = frontend::ast::spine;

ExprIR::ExprIR(const ExprIR& other) : node(Number{0.0}) { spine::convert_into(*this, other); }

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

ExprIR::~ExprIR() { spine::destroy_children(*this); }

bool operator==(const ExprIR& a, const ExprIR& b) { return spine::equal(a, b); }

ExprIR ExprIR::from(const ast::ExprAst& expr) { return spine::convert<ExprIR>(expr); }

ast::ExprAst ExprIR::to_ast() const { return spine::convert<ast::ExprAst>(*this); }

CallArgIR CallArgIR::from(const ast::CallArg& arg) { return spine::convert_arg<CallArgIR>(arg); }

ast::CallArg CallArgIR::to_ast() const { return spine::convert_arg<ast::CallArg>(*this); }

}  // namespace morvane::ir
