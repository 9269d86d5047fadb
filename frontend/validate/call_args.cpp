#include "frontend/validate/call_args.hpp"

#include <unordered_map>

namespace morvane::frontend::validate {
namespace {

// Calls hold a handful of arguments; past this many names a hash index keeps
// a generated call with thousands of them linear.
constexpr size_t kLinearNameLimit = 16;

}  // namespace

SplitArgs::SplitArgs(ArgStack& stack, const std::vector<ast::CallArg>& args)
    : stack_(stack),
      positional_base_(static_cast<uint32_t>(stack.positional_.size())),
      named_base_(static_cast<uint32_t>(stack.named_.size())) {
    auto& named = stack_.named_;
    std::unordered_map<std::string_view, size_t> index;
    for (const ast::CallArg& arg : args) {
        if (const auto* p = std::get_if<ast::CallArg::Positional>(&arg.node)) {
            stack_.positional_.push_back(&p->value);
            continue;
        }
        const auto& n = std::get<ast::CallArg::Named>(arg.node);
        const std::string_view name = n.name;
        if (named.size() - named_base_ < kLinearNameLimit) {
            bool replaced = false;
            for (size_t i = named_base_; i < named.size(); ++i) {
                if (named[i].first == name) {
                    named[i].second = &n.value;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) named.emplace_back(name, &n.value);
            if (named.size() - named_base_ == kLinearNameLimit) {
                for (size_t i = named_base_; i < named.size(); ++i)
                    index.emplace(named[i].first, i);
            }
            continue;
        }
        const auto [slot, inserted] = index.emplace(name, named.size());
        if (inserted) {
            named.emplace_back(name, &n.value);
        } else {
            named[slot->second].second = &n.value;
        }
    }
    positional_count_ = static_cast<uint32_t>(stack_.positional_.size() - positional_base_);
    named_count_ = static_cast<uint32_t>(named.size() - named_base_);
}

SplitArgs::~SplitArgs() {
    stack_.positional_.resize(positional_base_);
    stack_.named_.resize(named_base_);
}

const ast::ExprAst* SplitArgs::get(std::string_view name) const {
    for (size_t i = 0; i < named_count_; ++i) {
        if (this->name(i) == name) return &named_value(i);
    }
    return nullptr;
}

}  // namespace morvane::frontend::validate
