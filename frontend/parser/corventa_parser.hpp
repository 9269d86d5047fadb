// The parser of the language.
//
//   ParseResult result = CorventaParser::parse(Rule::program, source);
//   if (!result) throw FrontendError::parse(result.error().text());
//   Pair program = *result.tree().pairs().peek();
//   for (Pair decl : program.into_inner()) { ... }
//
// A parse from `program` yields exactly one `program` pair spanning the
// whole text; its inner pairs are the declarations in source order, then
// one EOI pair. Any rule may be the start rule: a silent start rule yields
// the pairs of what it matched as top-level pairs, and success never
// requires the whole text to be consumed (only `program` ends with EOI).
//
// The tree refers to `text`, which must outlive it. Parsing is
// deterministic: the same text always gives the same tree or the same
// error. Rule calls nest at most kMaxDepth deep (about 1,200 levels of
// parentheses); deeper input fails with Error::Kind::NestingTooDeep. Parse
// time is linear in the text, whatever backtracking it takes. Parses may
// run on several threads at once.
#pragma once

#include <cstdint>
#include <string_view>

#include "frontend/parser/parse_error.hpp"
#include "frontend/parser/parse_tree.hpp"
#include "frontend/parser/peg.hpp"
#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {

class CorventaParser {
public:
    static constexpr uint32_t kMaxDepth = peg::Grammar::kDefaultMaxDepth;

    static ParseResult parse(Rule start, std::string_view text);
};

}  // namespace morvane::frontend::parser
