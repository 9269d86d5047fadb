// The schema builder: one `schema_decl` pair to a Schema.
//
// Node and edge declarations may be interleaved; each list keeps its own
// source order. Names and attribute type words are copied as written and
// nothing is checked beyond the presence of the children read.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError::Parse ("Missing edge name", "Missing attribute
// name", "Missing attribute type") for tree shapes the grammar never makes.
ast::Schema build_schema(const Pair& decl);

}  // namespace morvane::frontend::parser
