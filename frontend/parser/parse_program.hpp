// The declaration walk: source text to syntax tree.
//
// parse_program parses the whole text from the rule `program` and hands each
// declaration pair to the builder of its kind, in source order. The first
// failure ends the walk: a syntax error or a construction error, both thrown
// as FrontendError::Parse with their complete text.
#pragma once

#include <string_view>

#include "frontend/ast.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError.
ast::ProgramAst parse_program(std::string_view source);

}  // namespace morvane::frontend::parser
