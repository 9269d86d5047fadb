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

inline void render_pairs(std::string& out, const Pairs& pairs, const RuleNames& names = {});

// `names` gives the rule names of a test grammar; empty for the language's.
inline void render_pair(std::string& out, const Pair& pair, const RuleNames& names = {}) {
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

inline void render_pairs(std::string& out, const Pairs& pairs, const RuleNames& names) {
    bool first = true;
    for (const Pair& pair : pairs) {
        if (!first) out += ", ";
        first = false;
        render_pair(out, pair, names);
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

// The nth pair of `rule` in the tree of `text` parsed from `program`,
// rendered; or "error: " and the error text; or "none".
inline std::string subtree(std::string_view text, Rule rule, int nth = 0) {
    const ParseResult result = CorventaParser::parse(Rule::program, text);
    if (!result) return "error: " + result.error().text();
    const std::optional<Pair> pair = find_pair(result.tree(), rule, nth);
    if (!pair) return "none";
    std::string out;
    render_pair(out, *pair);
    return out;
}

// The text of the nth pair of `rule` when `text` parses from `program`.
inline std::string span_text(std::string_view text, Rule rule, int nth = 0) {
    const ParseResult result = CorventaParser::parse(Rule::program, text);
    if (!result) return "error: " + result.error().text();
    const std::optional<Pair> pair = find_pair(result.tree(), rule, nth);
    return pair ? std::string(pair->as_str()) : "none";
}

// A program that must fail where its '@' stands (the '@' is removed). With
// a message, the last line of the error must read "= " and the message.
struct ErrorAt {
    std::string marked;
    std::string message;
};

inline void expect_error_at(const ErrorAt& c) {
    std::string text = c.marked;
    const size_t at = text.find('@');
    ASSERT_NE(at, std::string::npos) << c.marked;
    text.erase(at, 1);
    const ParseResult result = CorventaParser::parse(Rule::program, text);
    if (result) {
        ADD_FAILURE() << "parsed: " << c.marked;
        return;
    }
    EXPECT_EQ(result.error().position(), at) << c.marked << "\n" << result.error().text();
    if (!c.message.empty()) {
        EXPECT_EQ(result.error().message(), c.message) << c.marked;
    }
}

inline bool parses(std::string_view text) {
    return CorventaParser::parse(Rule::program, text).ok();
}

}  // namespace morvane::frontend::parser::testing
