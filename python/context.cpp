#include "python/context.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "frontend/support/fill.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/graph_views.hpp"

namespace py = pybind11;

namespace morvane::python {

using core::engine::BeliefGraph;
using core::engine::FlowResult;
using core::engine::InferenceDiagnosticEvent;

namespace {

constexpr const char* kContextDoc =
    "Flow execution context with exported graphs, metrics, and inference diagnostics.";

constexpr const char* kDiagnosticsDoc =
    "Inference diagnostics from `infer_beliefs` transforms in this flow.\n\n"
    "Non-convergence is not an exception; inspect `converged` on each event.";

void set_item(py::dict& dict, const char* key, py::handle value) {
    if (PyDict_SetItemString(dict.ptr(), key, value.ptr()) < 0) throw py::error_already_set();
}

py::dict diagnostic_dict(const InferenceDiagnosticEvent& event) {
    py::dict d;
    set_item(d, "flow", make_str(event.flow));
    set_item(d, "graph", make_str(event.graph));
    set_item(d, "transform", make_str(event.transform));
    set_item(d, "algorithm", make_str(event.algorithm));
    set_item(d, "iterations_run", py::int_(event.iterations_run));
    set_item(d, "max_iterations", py::int_(event.max_iterations));
    set_item(d, "converged", py::bool_(event.converged));
    set_item(d, "final_max_message_delta", py::float_(event.final_max_message_delta));
    set_item(d, "variable_count", py::int_(event.variable_count));
    set_item(d, "connected_variable_count", py::int_(event.connected_variable_count));
    return d;
}

py::dict graphs_dict(const PyContext& self) {
    py::dict d;
    for (const auto& [alias, graph] : self.graphs)
        d[make_str(alias)] = graph;
    return d;
}

py::dict metrics_dict(const PyContext& self) {
    py::dict d;
    for (const auto& [name, value] : self.metrics)
        d[make_str(name)] = py::float_(value);
    return d;
}

py::list diagnostics_list(const PyContext& self) {
    py::list out(self.inference_diagnostics.size());
    for (size_t i = 0; i < self.inference_diagnostics.size(); ++i)
        out[i] = diagnostic_dict(self.inference_diagnostics[i]);
    return out;
}

std::string_view name_arg(const char* display_name, const py::args& args,
                          const py::kwargs& kwargs) {
    const Signature sig{display_name, {"name"}, 1};
    const auto [name] = bind_args<1>(sig, args, kwargs);
    return str_arg("name", name);
}

py::object get_graph(const PyContext& self, const py::args& args, const py::kwargs& kwargs) {
    const auto it = self.graphs.find(name_arg("Context.get_graph()", args, kwargs));
    return it == self.graphs.end() ? py::object(py::none()) : it->second;
}

py::object get_metric(const PyContext& self, const py::args& args, const py::kwargs& kwargs) {
    const auto it = self.metrics.find(name_arg("Context.get_metric()", args, kwargs));
    return it == self.metrics.end() ? py::object(py::none()) : py::object(py::float_(it->second));
}

std::string context_repr(const PyContext& self) {
    return support::cat("Context(graphs=", self.graphs.size(), ", metrics=", self.metrics.size(),
                        ", inference_diagnostics=", self.inference_diagnostics.size(), ")");
}

}  // namespace

PyContext from_flow_result(FlowResult result) {
    // Dropped first: an export that no longer shares its base with the
    // flow's own graphs is materialised in place instead of copied.
    result.graphs.clear();
    result.snapshots.clear();
    result.intervention_audit.clear();

    PyContext context;
    for (auto& [alias, graph] : result.exports)
        context.graphs.emplace(alias, make_belief_graph(std::move(graph)));
    context.metrics = std::move(result.metrics);
    for (const auto& [name, value] : result.metric_exports)
        context.metrics.insert_or_assign(name, value);
    context.inference_diagnostics = std::move(result.inference_diagnostics);
    return context;
}

FlowResult to_flow_result(const PyContext& context) {
    FlowResult prior;
    for (const auto& [alias, object] : context.graphs)
        prior.exports.emplace(alias, BeliefGraph(*object.cast<const PyBeliefGraph&>().graph));
    prior.metric_exports = context.metrics;
    return prior;
}

void register_context_class(py::module_& module) {
    py::class_<PyContext> cls(module, "Context", py::is_final(), kContextDoc);
    def_readonly(cls, "graphs", &graphs_dict);
    def_readonly(cls, "metrics", &metrics_dict);
    def_readonly(cls, "inference_diagnostics", &diagnostics_list, kDiagnosticsDoc);
    cls.def("get_graph", &get_graph,
            "get_graph($self, name)\n--\n\nGet a single exported graph by name");
    cls.def("get_metric", &get_metric,
            "get_metric($self, name)\n--\n\n"
            "Get a single computed (or export-aliased) metric by name");
    cls.def("__repr__", [](const PyContext& self) { return make_str(context_repr(self)); });
    disable_constructor(cls);
}

}  // namespace morvane::python
