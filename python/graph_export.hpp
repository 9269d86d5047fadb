// BeliefGraph.to_pandas and BeliefGraph.to_networkx.
//
// pandas and networkx are not dependencies of the module: each export imports
// its package by name when called and raises a fixed RuntimeError when the
// import fails. Both read a materialised graph with the interpreter lock held.
//
// Exported variances are 1 / precision as stored, with no floor (unlike
// NodeView.Var): a precision of 0 exports inf.
#pragma once

#include <pybind11/pybind11.h>

#include "core/engine/graph.hpp"

namespace morvane::python {

// (nodes_df, edges_df). Node rows in store order with "id", "label", then
// "{a}_mean" and "{a}_var" for every attribute name of the graph in byte
// order (None where the node lacks it); edge rows in store order with "src",
// "dst", "type", "prob", "forced_state". Each frame is the one
// pandas.DataFrame gives for the list of these rows as dicts; it is built
// from columns, which is much faster.
pybind11::tuple to_pandas(const core::engine::BeliefGraph& graph);

// An undirected networkx.Graph: every node with "label" and its own
// attributes' "{a}_mean" and "{a}_var" in its attribute order; every edge
// whose probability is not below `threshold` with "type", "prob",
// "forced_state".
pybind11::object to_networkx(const core::engine::BeliefGraph& graph, double threshold);

}  // namespace morvane::python
