// Small readers over parse-tree pairs that every declaration builder shares.
//
// The builders walk pairs by rule and copy texts out of them. The tree they
// get from the grammar always has the children they look for, but a builder
// must still fail cleanly on a tree that lacks one, so each lookup takes the
// text of the error to throw. Every error here is FrontendError::Parse.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "frontend/parser/parse_tree.hpp"
#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {

// Takes pairs off the front of `pairs` up to and including the first `ident`
// and returns its text. Pairs of other rules are consumed and dropped, so the
// caller continues after the found pair. Throws FrontendError::Parse with
// `error` when no `ident` remains.
std::string extract_ident(Pairs& pairs, std::string_view error);

// The same for the first `string` pair; the result is unquote_string of its
// text.
std::string extract_string(Pairs& pairs, std::string_view error);

// `text` without the whole run of double quotes at its start and the whole
// run at its end. No escape processing: `"a\""` gives `a\` and `""` gives
// the empty text.
std::string unquote_string(std::string_view text);

// A copy of the source text covered by `pair`. `source` must be the very
// text that was parsed: the pair's span indexes into it.
std::string block_src(const Pair& pair, std::string_view source);

namespace detail {

// Throws FrontendError::Parse holding `text`.
[[noreturn]] void fail(std::string text);

// The first pair of `rule` among `pairs`, without consuming anything.
std::optional<Pair> first_of(const Pairs& pairs, Rule rule);

// The value of a pair that holds a number. A `number` token is read as the
// nearest double (it always is a valid token); any other text through the
// general float syntax, giving nothing when it is not a number.
std::optional<double> number_value(const Pair& pair);

// number_value, or FrontendError::Parse "Invalid number: ..." with the float
// parser's error text.
double number_or_fail(const Pair& pair);

// "[rule, rule, ...]": the debug names of the rules of `pairs`.
std::string rule_list_text(const Pairs& pairs);

}  // namespace detail

}  // namespace morvane::frontend::parser
