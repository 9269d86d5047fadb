// The flow builder: one `flow_decl` pair to a FlowDef.
//
// A flow body mixes graph, metric, export, metric-export and metric-import
// statements in any order; each kind lands in its own list in source order.
// Names are stored as written and resolved later; string literals lose their
// surrounding quotes. A metric whose whole value is a metric pipeline
// reports the pipeline's errors; any other expression that fails to build
// becomes 0.0.
#pragma once

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Each throws FrontendError::Parse with the first construction error.
ast::FlowDef build_flow(const Pair& decl);

// A `pipeline_expr` pair: start graph and transforms (GraphExpr::Pipeline).
ast::GraphExpr build_pipeline_expr(const Pair& pipeline);

// A `select_model_expr` pair: candidates and criterion (GraphExpr::SelectModel).
ast::GraphExpr build_select_model_expr(const Pair& select);

}  // namespace morvane::frontend::parser
