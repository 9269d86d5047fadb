#include "python/registry.hpp"

#include "python/errors.hpp"
#include "python/evidence.hpp"
#include "python/graph_views.hpp"
#include "python/program.hpp"

namespace morvane::python {

void register_module_contents(pybind11::module_& module) {
    register_error_translation();

    // Functions. The three flow runs follow compile here once the flow
    // executor is part of the engine.
    register_compile(module);

    // Classes. Context follows Program here, with the flow runs.
    register_program_class(module);
    register_belief_graph_class(module);
    register_evidence_class(module);
    register_view_classes(module);
}

}  // namespace morvane::python
