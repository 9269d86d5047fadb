// The functions run_flow, run_flow_with_context and run_flow_with_evidence.
//
// Each runs in three phases: with the interpreter lock held it takes its
// arguments and copies or shares whatever the engine reads (the program's
// tree, a prior built from a Context, the Evidence's observations); it
// releases the lock around the engine call alone, during which no Python
// object is touched; and with the lock taken back it turns the result into a
// new Context, or the error into its Python exception.
#pragma once

#include <pybind11/pybind11.h>

namespace morvane::python {

// run_flow, run_flow_with_context, run_flow_with_evidence, in that order.
void register_flow_runs(pybind11::module_& module);

}  // namespace morvane::python
