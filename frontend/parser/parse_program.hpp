// The declaration walk: source text to syntax tree.
//
// parse_program parses the whole text from the rule `program` and hands each
// declaration pair to the builder of its kind, in source order. The first
// failure ends the walk: a syntax error or a construction error, both thrown
// as FrontendError::Parse with their complete text.
#pragma once

#include <string_view>

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError.
ast::ProgramAst parse_program(std::string_view source);

// The walk alone, over a successful parse from the rule `program`; the
// source is the tree's text. Throws FrontendError for a construction error.
ast::ProgramAst build_program(const ParseTree& tree);

}  // namespace morvane::frontend::parser
