// Validation of a built program against the source it came from.
//
// Checks belief models, evidence blocks, rules and flows, in that order and
// each in source order, and throws the first violation as a
// FrontendError::Validation whose diagnostic names its context and, when the
// source positions allow, its span.
#pragma once

#include <string_view>

#include "frontend/ast.hpp"

namespace morvane::frontend::validate {

// `source` must be the text `program` was built from. Throws FrontendError.
void validate_program_with_source(const ast::ProgramAst& program, std::string_view source);

}  // namespace morvane::frontend::validate
