// A set of names borrowed from the syntax tree.
//
// The validator's scopes and lookup sets hold views of names owned by the
// tree being checked, which outlives every check.
#pragma once

#include <string_view>
#include <unordered_set>

namespace morvane::frontend::validate {

class NameSet {
public:
    bool contains(std::string_view name) const { return names_.count(name) != 0; }
    // True when the name was not in the set before.
    bool insert(std::string_view name) { return names_.insert(name).second; }
    void erase(std::string_view name) { names_.erase(name); }
    bool empty() const { return names_.empty(); }

private:
    std::unordered_set<std::string_view> names_;
};

}  // namespace morvane::frontend::validate
