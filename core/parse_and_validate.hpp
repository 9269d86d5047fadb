// The compile entry: source text to a validated syntax tree.
#pragma once

#include <string_view>

#include "frontend/ast.hpp"

namespace morvane::core {

// Parses, builds and validates `source`. Throws engine::ExecError: a syntax
// or construction error in the Parse category, a failed check in the
// Validation category.
frontend::ast::ProgramAst parse_and_validate(std::string_view source);

}  // namespace morvane::core
