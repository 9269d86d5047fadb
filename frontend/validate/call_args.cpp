#include "frontend/validate/call_args.hpp"

#include <unordered_map>

namespace morvane::frontend::validate {
namespace {

// Calls hold a handful of arguments; past this many names a hash index keeps
// a generated call with thousands of them linear.
constexpr size_t kLinearNameLimit = 16;

}  // namespace

SplitArgs::SplitArgs(const std::vector<ast::CallArg>& args) {
    std::unordered_map<std::string_view, size_t> index;
    for (const ast::CallArg& arg : args) {
        if (const auto* p = std::get_if<ast::CallArg::Positional>(&arg.node)) {
            positional_.push_back(&p->value);
            continue;
        }
        const auto& n = std::get<ast::CallArg::Named>(arg.node);
        const std::string_view name = n.name;
        if (named_.size() < kLinearNameLimit) {
            bool replaced = false;
            for (auto& [seen, value] : named_) {
                if (seen == name) {
                    value = &n.value;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) named_.emplace_back(name, &n.value);
            if (named_.size() == kLinearNameLimit) {
                for (size_t i = 0; i < named_.size(); ++i) index.emplace(named_[i].first, i);
            }
            continue;
        }
        const auto [slot, inserted] = index.emplace(name, named_.size());
        if (inserted) {
            named_.emplace_back(name, &n.value);
        } else {
            named_[slot->second].second = &n.value;
        }
    }
}

const ast::ExprAst* SplitArgs::get(std::string_view name) const {
    for (const auto& [seen, value] : named_) {
        if (seen == name) return value;
    }
    return nullptr;
}

}  // namespace morvane::frontend::validate
