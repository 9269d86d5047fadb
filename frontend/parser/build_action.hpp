// The action builder: one action statement to an ActionStmt.
//
// Names and numbers are copied as written; nothing is resolved. A part
// written twice keeps the later value. Soft-update arguments are literals of
// the grammar that leave no pair, so they are recognised from the
// argument's text with all white space removed ("precision=", "count=").
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// An `action_stmt` pair, or directly one of `let_stmt`, `nbnudge_stmt`,
// `soft_update_stmt`, `delete_stmt`, `suppress_stmt`. Throws
// FrontendError::Parse; an expression that fails to build becomes 0.0.
ast::ActionStmt build_action_stmt(const Pair& pair);

}  // namespace morvane::frontend::parser
