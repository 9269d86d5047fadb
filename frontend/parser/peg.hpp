// A parsing-expression grammar engine.
//
// A Grammar is built once from a rule table (names and kinds, indexed by rule
// value) and the rule bodies written in the notation of peg_notation.hpp. It
// then parses any text from any of its rules:
//
//   - Sequences skip whitespace and comments (the grammar's WHITESPACE and
//     COMMENT rules) between their elements, and repetitions before every
//     step after the first, except in atomic context. A skip is
//     WHITESPACE*, then (COMMENT WHITESPACE*)*.
//   - Choices are ordered and never re-entered; repetitions are greedy; a
//     failing element gives back everything it consumed and every pair it
//     made.
//   - Normal and atomic rules leave pairs, silent rules do not; nothing
//     leaves a pair inside an atomic rule or a lookahead. The bodies of
//     WHITESPACE and COMMENT always run in atomic context.
//   - On failure the error names the rules expected at the furthest position
//     where a tracked rule (a normal or atomic rule called outside atomic
//     context and lookahead) started and failed; the enclosing rule replaces
//     the entries made at its own start unless exactly one was made.
//
// Rule calls may nest at most `max_depth` deep; deeper input is refused with
// an Error of kind NestingTooDeep at the call that went too deep, so no input
// can exhaust memory or the machine stack (the engine does not recurse).
//
// Backtracking can make a rule run again where it already failed. The engine
// remembers the failures of the rules marked memoised, and every skip over a
// comment, per position, so that a grammar whose re-tried rules are marked
// parses in time linear in the text. Memoising changes no tree and no error.
//
// Parsing is deterministic and touches no shared mutable state: one Grammar
// may serve parses on several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "frontend/parser/parse_error.hpp"
#include "frontend/parser/parse_tree.hpp"
#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {

// Either the tree of a successful parse or its error.
class ParseResult {
public:
    ParseResult(ParseTree tree) : value_(std::move(tree)) {}
    ParseResult(Error error) : value_(std::move(error)) {}

    bool ok() const { return value_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const ParseTree& tree() const& { return std::get<ParseTree>(value_); }
    ParseTree&& tree() && { return std::get<ParseTree>(std::move(value_)); }
    // Only when !ok().
    const Error& error() const { return std::get<Error>(value_); }

private:
    std::variant<ParseTree, Error> value_;
};

namespace peg {

struct RuleInfo {
    std::string_view name;
    RuleKind kind;
    // The engine remembers where the rule failed, so that backtracking over
    // the same text never runs it there again (see peg_machine.hpp). Worth
    // it for rules that enclosing rules can try again at the same position
    // after a costly failure; it changes no result.
    bool memoised = false;
};

struct Program;

class Grammar {
public:
    // Rule calls nested deeper than this are refused.
    static constexpr uint32_t kDefaultMaxDepth = 12000;

    // `rules` gives every rule its value (its index), name and kind; at most
    // 256 rules. A rule named EOI is built in (it matches the end of the text)
    // and must not be written; every other rule must be written exactly once.
    // A malformed grammar (unknown names, repetitions of what can match
    // nothing, left recursion) is a broken invariant: support::panic.
    Grammar(std::vector<RuleInfo> rules, std::string_view notation,
            uint32_t max_depth = kDefaultMaxDepth);
    ~Grammar();
    Grammar(Grammar&&) noexcept;
    Grammar& operator=(Grammar&&) noexcept;

    // Runs rule `start` over `text` from offset 0. Success does not require
    // the whole text to be consumed. The tree refers to `text`.
    ParseResult parse(uint8_t start, std::string_view text) const;

    size_t rule_count() const { return names_.size(); }
    uint32_t max_depth() const { return max_depth_; }

private:
    std::vector<std::string_view> names_;
    std::unique_ptr<const Program> program_;
    uint32_t max_depth_;
};

}  // namespace peg
}  // namespace morvane::frontend::parser
