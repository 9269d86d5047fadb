// The arguments of a call, split into positional and named ones.
//
// Built-in functions are checked by the shape of their arguments: how many
// positional ones, which names. A name written twice counts once, with the
// later value; the earlier value is never looked at. Named arguments keep
// the order in which each name first appears, so that when several of them
// are wrong the first one written is the one reported.
//
// The checks split the arguments of every call they meet, so the split lists
// live in one store per walk (ArgStack) rather than in each split: a split is
// a few indices into it, released when the split goes out of scope. That
// keeps the walk free of allocations once the store has grown.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::frontend::validate {

class ArgStack {
private:
    friend class SplitArgs;
    std::vector<const ast::ExprAst*> positional_;
    std::vector<std::pair<std::string_view, const ast::ExprAst*>> named_;
};

class SplitArgs {
public:
    // Splits `args` on top of `stack`. Splits must be released in the
    // reverse order of their making, as scopes do.
    SplitArgs(ArgStack& stack, const std::vector<ast::CallArg>& args);
    ~SplitArgs();
    SplitArgs(const SplitArgs&) = delete;
    SplitArgs& operator=(const SplitArgs&) = delete;

    // Positional arguments in source order.
    size_t positional_count() const { return positional_count_; }
    // The i-th positional argument, or null.
    const ast::ExprAst* position(size_t i) const {
        return i < positional_count_ ? stack_.positional_[positional_base_ + i] : nullptr;
    }

    // One entry per distinct name, in order of first appearance, each with
    // the value written last.
    size_t named_count() const { return named_count_; }
    std::string_view name(size_t i) const { return stack_.named_[named_base_ + i].first; }
    const ast::ExprAst& named_value(size_t i) const {
        return *stack_.named_[named_base_ + i].second;
    }
    // The value of a named argument, or null.
    const ast::ExprAst* get(std::string_view name) const;

private:
    ArgStack& stack_;
    uint32_t positional_base_;
    uint32_t positional_count_ = 0;
    uint32_t named_base_;
    uint32_t named_count_ = 0;
};

}  // namespace morvane::frontend::validate
