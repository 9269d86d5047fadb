// The arguments of a call, split into positional and named ones.
//
// Built-in functions are checked by the shape of their arguments: how many
// positional ones, which names. A name written twice counts once, with the
// later value; the earlier value is never looked at. Named arguments keep
// the order in which each name first appears, so that when several of them
// are wrong the first one written is the one reported.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::frontend::validate {

class SplitArgs {
public:
    explicit SplitArgs(const std::vector<ast::CallArg>& args);

    // Positional arguments in source order.
    const std::vector<const ast::ExprAst*>& positional() const { return positional_; }
    // The i-th positional argument, or null.
    const ast::ExprAst* position(size_t i) const {
        return i < positional_.size() ? positional_[i] : nullptr;
    }

    // (name, value) per distinct name, in order of first appearance, each
    // with the value written last.
    const std::vector<std::pair<std::string_view, const ast::ExprAst*>>& named() const {
        return named_;
    }
    // The value of a named argument, or null.
    const ast::ExprAst* get(std::string_view name) const;

private:
    std::vector<const ast::ExprAst*> positional_;
    std::vector<std::pair<std::string_view, const ast::ExprAst*>> named_;
};

}  // namespace morvane::frontend::validate
