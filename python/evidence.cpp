#include "python/evidence.hpp"

#include <array>
#include <utility>

#include "python/args.hpp"
#include "python/errors.hpp"

namespace py = pybind11;

namespace morvane::python {

namespace ast = frontend::ast;

void PyEvidence::check_not_borrowed() const {
    if (shared_borrows_ == 0) return;
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    throw py::error_already_set();
}

void PyEvidence::add(ast::ObserveStmt observation) {
    check_not_borrowed();
    observations_.push_back(std::move(observation));
}

void PyEvidence::clear() {
    check_not_borrowed();
    observations_.clear();
}

namespace {

constexpr const char* kEvidenceDoc =
    "Evidence(name, model)\n--\n\nRuntime Evidence builder from Python";

std::string text_arg(const char* name, py::handle value) {
    return std::string(str_arg(name, value));
}

// The five texts that name an edge, in parameter order: source node type,
// source label, edge type, destination node type, destination label.
template <size_t N>
ast::ObserveStmt::Edge edge_observation(const std::array<py::handle, N>& a,
                                        ast::EvidenceMode mode) {
    static_assert(N >= 5);
    ast::ObserveStmt::Edge edge;
    edge.src_type = text_arg("node_type", a[0]);
    edge.src_label = text_arg("src_id", a[1]);
    edge.edge_type = text_arg("edge_type", a[2]);
    edge.dst_type = text_arg("dst_type", a[3]);
    edge.dst_label = text_arg("dst_id", a[4]);
    edge.mode = mode;
    return edge;
}

// observe_edge_chosen, observe_edge_unchosen, observe_edge_forced_choice
template <ast::EvidenceMode mode>
void def_competing_observation(py::class_<PyEvidence>& cls, const char* name,
                               const char* display_name, const char* doc) {
    cls.def(
        name,
        [display_name](PyEvidence& self, const py::args& args, const py::kwargs& kwargs) {
            const Signature sig{
                display_name, {"node_type", "src_id", "edge_type", "dst_type", "dst_id"}, 5};
            const auto a = bind_args<5>(sig, args, kwargs);
            self.check_not_borrowed();
            self.add(edge_observation(a, mode));
        },
        doc);
}

PyEvidence construct(const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"Evidence.__new__()", {"name", "model"}, 2};
    const auto [name, model] = bind_args<2>(sig, args, kwargs);
    std::string name_text = text_arg("name", name);
    return PyEvidence(std::move(name_text), text_arg("model", model));
}

void observe_edge(PyEvidence& self, const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{
        "Evidence.observe_edge()",
        {"node_type", "src_id", "edge_type", "dst_type", "dst_id", "present"},
        6};
    const auto a = bind_args<6>(sig, args, kwargs);
    self.check_not_borrowed();
    // Every argument is converted, in order, before the observation is made.
    ast::ObserveStmt::Edge edge = edge_observation(a, ast::EvidenceMode::Present);
    edge.mode = bool_arg("present", a[5]) ? ast::EvidenceMode::Present : ast::EvidenceMode::Absent;
    self.add(std::move(edge));
}

void observe_numeric(PyEvidence& self, const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{
        "Evidence.observe_numeric()", {"node_type", "node_id", "attr", "value"}, 4};
    const auto a = bind_args<4>(sig, args, kwargs);
    self.check_not_borrowed();
    ast::ObserveStmt::Attribute attribute;
    attribute.node_type = text_arg("node_type", a[0]);
    attribute.node_label = text_arg("node_id", a[1]);
    attribute.attr = text_arg("attr", a[2]);
    attribute.value = float_arg("value", a[3]);
    self.add(std::move(attribute));
}

}  // namespace

void register_evidence_class(py::module_& module) {
    py::class_<PyEvidence> cls(module, "Evidence", py::is_final(), kEvidenceDoc);
    cls.def(py::init(&construct), "__init__(self, name, model)\n--\n\n");
    construct_in_new(cls);
    def_readonly(cls, "name", [](const PyEvidence& self) { return make_str(self.name()); });
    def_readonly(cls, "model", [](const PyEvidence& self) { return make_str(self.model()); });
    cls.def("observe_edge", &observe_edge,
            "observe_edge($self, node_type, src_id, edge_type, dst_type, dst_id, present)\n--\n\n"
            "Observe independent edge presence/absence");
    def_competing_observation<ast::EvidenceMode::Chosen>(
        cls, "observe_edge_chosen", "Evidence.observe_edge_chosen()",
        "observe_edge_chosen($self, node_type, src_id, edge_type, dst_type, dst_id)\n--\n\n"
        "Observe a chosen competing edge category");
    def_competing_observation<ast::EvidenceMode::Unchosen>(
        cls, "observe_edge_unchosen", "Evidence.observe_edge_unchosen()",
        "observe_edge_unchosen($self, node_type, src_id, edge_type, dst_type, dst_id)\n--\n\n"
        "Observe an unchosen competing edge category");
    def_competing_observation<ast::EvidenceMode::ForcedChoice>(
        cls, "observe_edge_forced_choice", "Evidence.observe_edge_forced_choice()",
        "observe_edge_forced_choice($self, node_type, src_id, edge_type, dst_type, dst_id)\n"
        "--\n\nForce a deterministic competing edge choice");
    cls.def("observe_numeric", &observe_numeric,
            "observe_numeric($self, node_type, node_id, attr, value)\n--\n\n"
            "Observe a numeric node attribute value");
    cls.def(
        "clear",
        [](PyEvidence& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("Evidence.clear()", args, kwargs);
            self.clear();
        },
        "clear($self)\n--\n\nClear all observations");
}

}  // namespace morvane::python
