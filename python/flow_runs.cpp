#include "python/flow_runs.hpp"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "core/engine/flow_exec.hpp"
#include "python/args.hpp"
#include "python/context.hpp"
#include "python/evidence.hpp"
#include "python/program.hpp"
#include "python/runtime_evidence.hpp"

namespace py = pybind11;

namespace morvane::python {

namespace engine = core::engine;
using engine::FlowResult;

namespace {

constexpr const char* kRunFlowDoc =
    "run_flow(program, flow_name)\n--\n\n"
    "Run a flow using only program-defined evidence.\n\n"
    "Releases the GIL during execution.";

constexpr const char* kRunFlowWithContextDoc =
    "run_flow_with_context(program, flow_name, ctx)\n--\n\n"
    "Run a flow with a prior Context (chaining flows).\n\n"
    "Preserves exported graphs and metrics from the prior context.\n"
    "Releases the GIL during execution.";

constexpr const char* kRunFlowWithEvidenceDoc =
    "run_flow_with_evidence(program, flow_name, evidence, ctx=None)\n--\n\n"
    "Run a flow with runtime Evidence merged into program evidence for the same model.\n\n"
    "Optionally accepts a prior Context for chaining. Releases the GIL during execution.";

// Calls `run` (an engine run reading only C++ values) without the lock, then
// converts its result with the lock held. An engine error or panic unwinds
// through the release, which takes the lock back first.
template <typename Run>
PyContext run_unlocked(const Run& run) {
    FlowResult result = [&] {
        py::gil_scoped_release release;
        return run();
    }();
    return from_flow_result(std::move(result));
}

// The prepared program, shared for the run; `program` and `flow_name` are
// converted in parameter order. The flow name's text belongs to the
// argument, which the caller keeps alive for the whole call.
struct RunTarget {
    std::shared_ptr<const engine::PreparedProgram> program;
    std::string_view flow_name;
};

RunTarget run_target(py::handle program, py::handle flow_name) {
    const PyProgram& p = class_arg<PyProgram>("program", program, "Program");
    return {p.prepared, str_arg("flow_name", flow_name)};
}

PyContext run_flow(const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"run_flow()", {"program", "flow_name"}, 2};
    const auto [program_arg, name_arg] = bind_args<2>(sig, args, kwargs);
    const RunTarget target = run_target(program_arg, name_arg);
    return run_unlocked([&] { return engine::run_flow(*target.program, target.flow_name); });
}

PyContext run_flow_with_context(const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"run_flow_with_context()", {"program", "flow_name", "ctx"}, 3};
    const auto [program_arg, name_arg, ctx_arg] = bind_args<3>(sig, args, kwargs);
    const RunTarget target = run_target(program_arg, name_arg);
    const FlowResult prior = to_flow_result(class_arg<PyContext>("ctx", ctx_arg, "Context"));
    return run_unlocked(
        [&] { return engine::run_flow(*target.program, target.flow_name, &prior); });
}

PyContext run_flow_with_evidence(const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{
        "run_flow_with_evidence()", {"program", "flow_name", "evidence", "ctx"}, 3};
    const auto [program_arg, name_arg, evidence_arg, ctx_arg] = bind_args<4>(sig, args, kwargs);
    const RunTarget target = run_target(program_arg, name_arg);
    PyEvidence& evidence = class_arg<PyEvidence>("evidence", evidence_arg, "Evidence");
    const PyContext* context =
        absent(ctx_arg) ? nullptr : &class_arg<PyContext>("ctx", ctx_arg, "Context");

    std::optional<FlowResult> prior;
    if (context != nullptr) prior = to_flow_result(*context);
    // Taken and given back with the lock held: changes to the Evidence made
    // on other threads while the run goes on are refused.
    const PyEvidence::SharedBorrow borrow(evidence);
    const engine::EvidenceGraphBuilder builder =
        runtime_evidence_builder(evidence.model(), evidence.observations(), target.program);
    return run_unlocked([&] {
        return engine::run_flow_with_builder(*target.program, target.flow_name, builder,
                                             prior ? &*prior : nullptr);
    });
}

}  // namespace

void register_flow_runs(py::module_& module) {
    module.def("run_flow", &run_flow, kRunFlowDoc);
    module.def("run_flow_with_context", &run_flow_with_context, kRunFlowWithContextDoc);
    module.def("run_flow_with_evidence", &run_flow_with_evidence, kRunFlowWithEvidenceDoc);
}

}  // namespace morvane::python
