// The class Context: the outcome of one flow run, and the prior of the next.
//
// A Context holds the run's exported graphs as BeliefGraph objects made once,
// so every access hands out those same objects; its metrics (computed ones,
// with metric exports winning on a shared name); and the diagnostics of its
// belief propagation transforms. The maps iterate in ascending byte order of
// their names, so `graphs` and `metrics` list alphabetically.
//
// Everything here runs with the interpreter lock held.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "core/engine/flow_exec.hpp"

namespace morvane::python {

struct PyContext {
    core::engine::NameMap<pybind11::object> graphs;  // BeliefGraph objects by export alias
    core::engine::NameMap<double> metrics;
    std::vector<core::engine::InferenceDiagnosticEvent> inference_diagnostics;
};

// The Context of a finished run: every export materialised and wrapped in a
// new BeliefGraph object; metrics merged with the metric exports. The run's
// internal graphs, snapshots and audit are dropped.
PyContext from_flow_result(core::engine::FlowResult result);

// The prior for a chained run: a copy of every graph (sharing its base) as an
// export under its alias, and the metrics as metric exports.
core::engine::FlowResult to_flow_result(const PyContext& context);

// class Context
void register_context_class(pybind11::module_& module);

}  // namespace morvane::python
