#include "python/registry.hpp"

#include "python/context.hpp"
#include "python/errors.hpp"
#include "python/evidence.hpp"
#include "python/flow_runs.hpp"
#include "python/graph_views.hpp"
#include "python/program.hpp"

namespace morvane::python {

void register_module_contents(pybind11::module_& module) {
    register_error_translation();

    // Functions.
    register_compile(module);
    register_flow_runs(module);

    // Classes.
    register_program_class(module);
    register_context_class(module);
    register_belief_graph_class(module);
    register_evidence_class(module);
    register_view_classes(module);
}

}  // namespace morvane::python
