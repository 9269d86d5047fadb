// Reader of the grammar notation.
//
// A grammar is written one rule per line, `name = body`, in the notation the
// language's grammar is documented in:
//
//   "text"       a literal, with the escapes \" \\ \t \r \n
//   "a".."z"     one character in a code-point range
//   ANY, SOI     any one character; the start of the text
//   name         a call of another rule (EOI is built in)
//   e?  e*  e+   postfix operators, binding tightest
//   !e           negative lookahead, applying to the one element after it
//   a ~ b        sequence
//   a | b        ordered choice, binding loosest
//   ( ... )      grouping
//
// Blank lines and lines starting with "//" are ignored. Every malformed
// line is a broken invariant of the program, reported by support::panic.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::frontend::parser::peg {

struct Expr {
    // End is the body of the built-in rule EOI; the notation cannot write it.
    enum class Kind : uint8_t {
        Literal, Range, Any, Soi, End, Call, Seq, Choice, Opt, Star, Plus, Not
    };

    Expr() = default;
    explicit Expr(Kind k) : kind(k) {}

    Kind kind = Kind::Literal;
    std::string literal;       // Literal: the bytes to match
    char32_t low = 0;          // Range
    char32_t high = 0;         // Range
    uint8_t rule = 0;          // Call: the called rule
    std::vector<Expr> items;   // Seq, Choice: two or more; Opt, Star, Plus, Not: one
};

struct Definition {
    uint8_t rule;
    Expr body;
};

// Reads every `name = body` line of `notation`. `lookup` maps a rule name to
// its value, or nullopt for an unknown name.
std::vector<Definition> read_notation(
    std::string_view notation,
    const std::function<std::optional<uint8_t>(std::string_view)>& lookup);

}  // namespace morvane::frontend::parser::peg
