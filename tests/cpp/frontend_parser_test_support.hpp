// Helpers shared by the parser tests: a compact text form of parse trees.
//
// A pair without inner pairs is written `rule "text"`; a pair with one inner
// pair `rule > inner`; a pair with several `rule [a, b, c]`. So the chain
// expr > or_expr > ... reads as the language's documentation writes it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"

namespace morvane::frontend::parser::testing {

using RuleNames = std::vector<std::string_view>;

// `names` gives the rule names of a test grammar; empty for the language's.
inline void render_pairs(std::string& out, const Pairs& pairs, const RuleNames& names = {}) {
    bool first = true;
    for (const Pair& pair : pairs) {
        if (!first) out += ", ";
        first = false;
        out += names.empty() ? rule_name(pair.as_rule()) : names[rule_value(pair.as_rule())];
        const Pairs inner = pair.into_inner();
        const size_t count = inner.size();
        if (count == 0) {
            out += " \"";
            out += pair.as_str();
            out += '"';
        } else if (count == 1) {
            out += " > ";
            render_pairs(out, inner, names);
        } else {
            out += " [";
            render_pairs(out, inner, names);
            out += ']';
        }
    }
}

inline std::string render(const Pairs& pairs, const RuleNames& names = {}) {
    std::string out;
    render_pairs(out, pairs, names);
    return out;
}

// The tree of `text` from `start`, or "error: " and the error text.
inline std::string parse_to_text(Rule start, std::string_view text) {
    const ParseResult result = CorventaParser::parse(start, text);
    if (!result) return "error: " + result.error().text();
    return render(result.tree().pairs());
}

// The `nth` pair of rule `rule` in preorder, if there is one.
inline std::optional<Pair> find_pair(const Pairs& pairs, Rule rule, int& nth) {
    for (const Pair& pair : pairs) {
        if (pair.as_rule() == rule && nth-- == 0) return pair;
        if (auto found = find_pair(pair.into_inner(), rule, nth)) return found;
    }
    return std::nullopt;
}

inline std::optional<Pair> find_pair(const ParseTree& tree, Rule rule, int nth = 0) {
    return find_pair(tree.pairs(), rule, nth);
}

}  // namespace morvane::frontend::parser::testing
