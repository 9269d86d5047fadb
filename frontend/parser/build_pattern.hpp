// The pattern item builder: `(a:A)-[e:T]->(b:B)` to a PatternItem.
//
// Shared by rule patterns and by existence tests inside expressions. The six
// inner pairs are copied by position, whatever their rules; nothing is
// resolved or checked.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError::Parse ("Missing source variable in pattern", ...)
// when the pair holds fewer than six inner pairs.
ast::PatternItem build_pattern_item(const Pair& pattern);

}  // namespace morvane::frontend::parser
