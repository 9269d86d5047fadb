// The classes BeliefGraph, NodeView, EdgeView and CompetingGroup.
//
// A BeliefGraph object wraps one materialised engine graph behind a shared
// read-only reference. Its listings hand out small views that name one node,
// edge or group and share that same graph, so a view outlives the objects it
// came from and every query on it answers the same on every call. Ids reach
// Python as decimal strings.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <vector>

#include "core/engine/graph.hpp"

namespace morvane::python {

using SharedGraph = std::shared_ptr<const core::engine::BeliefGraph>;

struct PyBeliefGraph {
    SharedGraph graph;  // materialised: no pending changes
};

struct PyNodeView {
    SharedGraph graph;
    core::engine::SharedText label;
    core::engine::NodeId id;
};

struct PyEdgeView {
    SharedGraph graph;
    core::engine::SharedText edge_type;
    core::engine::EdgeId id;
    core::engine::NodeId src;
    core::engine::NodeId dst;
};

struct PyCompetingGroup {
    SharedGraph graph;
    core::engine::NodeId source_node;
    std::string edge_type;
    std::vector<core::engine::NodeId> categories;
    std::vector<double> probabilities;  // taken when the view is made
    double entropy = 0.0;               // likewise
};

// Materialises `graph` and wraps it in a new Python BeliefGraph object.
pybind11::object make_belief_graph(core::engine::BeliefGraph graph);

// "absent" or "present" for an independent edge whose Beta posterior is
// pinned near 0 or 1 by a very large pseudo-count, otherwise none.
std::optional<const char*> forced_state(const core::engine::EdgePosterior& posterior);

// The decimal text of an id, as Python sees every id.
pybind11::str id_text(uint32_t id);

// class BeliefGraph (with its exports), class NodeView, class EdgeView,
// class CompetingGroup
void register_belief_graph_class(pybind11::module_& module);
void register_view_classes(pybind11::module_& module);

}  // namespace morvane::python
