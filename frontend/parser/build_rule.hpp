// The rule builder: one `rule_decl` pair to a RuleDef.
//
// A rule body is a sequence of clauses in any order and number; all of them
// feed one record. Patterns and actions accumulate in source order. The
// where-expression and the mode hold one value each: a later mode clause
// wins and a where clause overwrites silently, while the two short forms,
// `pattern where e => { ... }` and `for (v: L) where e => { ... }`, refuse to
// overwrite a where-expression set before them. The node form stands for
// one pattern whose two ends are (v, L) and whose edge is the reserved
// ast::kForNodeEdgeVar / ast::kForNodeEdgeType.
#pragma once

#include <vector>

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Throws FrontendError::Parse with the first construction error; a
// where-expression that fails to build becomes 0.0.
ast::RuleDef build_rule(const Pair& decl);

// Appends one action per statement of an `action_block`, in order. Throws
// the first statement's FrontendError.
void collect_actions_from_block(const Pair& block, std::vector<ast::ActionStmt>& actions);

}  // namespace morvane::frontend::parser
