// What the module registers, in registration order: the functions compile,
// run_flow, run_flow_with_context, run_flow_with_evidence, then the classes
// Program, Context, BeliefGraph, Evidence, NodeView, EdgeView, CompetingGroup.
#pragma once

#include <pybind11/pybind11.h>

namespace morvane::python {

void register_module_contents(pybind11::module_& module);

}  // namespace morvane::python
