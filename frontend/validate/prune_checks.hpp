// Checks of prune_edges predicates.
//
// A predicate is evaluated once per edge, which it sees as the reserved
// variable `edge`, and may read the edge only through prob(edge) and
// weight(edge). Only the shape of those two calls is checked here: other
// names, field accesses and sub-queries pass, and fail (if at all) when the
// flow runs.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {

// Throws the first malformed prob or weight call in `predicate` at `site`.
void walk_expr(const ast::ExprAst& predicate, const Site& site);

}  // namespace morvane::frontend::validate
