// Checks of metric expressions.
//
// A metric reads the metrics computed before it and the imported ones by
// name. Inside a node pipeline (count_nodes, sum_nodes, fold_nodes, as the
// builders write `nodes(L) |> ...`) it is evaluated once per node and sees
// that node as the reserved variable `node`, reached through the per-node
// functions E[node.x], degree(node, ...) and their kin; in a fold step it
// also sees the accumulator `value`. Where a name is expected (the label of
// a pipeline, an edge type) any variable is taken as a plain name.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/validate/name_set.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {

struct MetricExprFlags {
    bool node_bound = false;      // evaluated per node: node functions allowed
    bool value_bound = false;     // the fold accumulator `value` may be read
    bool ident_position = false;  // a plain name is expected
};

// Throws the first violation in `expr` at `site`. `known_metrics` holds the
// names the expression may read.
void validate_metric_expr_scoped(const ast::ExprAst& expr, const NameSet& known_metrics,
                                 MetricExprFlags flags, const Site& site);

}  // namespace morvane::frontend::validate
