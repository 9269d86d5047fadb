// The metric pipeline builder: `nodes(L) |> step |> ...` to its call form.
//
// A pipeline has no node of its own in the tree. It becomes a call of the
// metric functions with named arguments, absent optional ones left out:
//
//   count()            count_nodes(label, [where])
//   sum(by = e)        sum_nodes(label, [where], contrib = e)
//   avg(by = e)        sum_nodes(label, [where], contrib = e)
//                        / count_nodes(label, [where])
//   fold(init, step)   fold_nodes(label, [where], [order_by], init, step)
//
// `label` is passed as a variable named by the label. The steps only fill a
// state and the call is made at the end, so the last `where`, the last
// `order_by(...)` and the last aggregate step count, wherever they stand.
// Fold arguments are told apart by the start of their text with all white
// space removed ("init=", "step=", "order_by="); an argument that starts
// with none of them is dropped.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// A `metric_builder_expr` pair. Throws FrontendError::Parse, for example
// "Missing terminal aggregate in metric builder", "order_by() is only valid
// with fold() in metric builder pipelines", "Missing init in fold()",
// "Missing step in fold()". Step expressions that fail to build become 0.0.
ast::ExprAst build_metric_builder_expr(const Pair& pipeline);

}  // namespace morvane::frontend::parser
