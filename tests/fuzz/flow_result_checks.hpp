// Checks of flow results for the flow fuzz target: whether two results are
// the same, and whether a result's graphs hold only sound values.
#pragma once

#include <string>

#include "core/engine/flow_exec.hpp"

namespace morvane::fuzz {

// The first difference between `a` and `b`, described; empty when they are
// the same: the events field by field, every graph (materialised) node by
// node, edge by edge and group by group, and the metrics. Numbers compare
// bit for bit, so -0.0 differs from 0.0 and a NaN equals only the same NaN.
std::string result_difference(const core::engine::FlowResult& a,
                              const core::engine::FlowResult& b);

// The first unsound value among the graphs, exports and snapshots of `r`,
// described; empty when there is none. Unsound: a mean, precision, Beta
// parameter, concentration, edge weight or correlation that is not finite;
// an edge probability that is not finite; an edge whose ends are not nodes
// of the graph; a competing edge whose group or category is missing.
std::string graph_defect(const core::engine::FlowResult& r);

}  // namespace morvane::fuzz
