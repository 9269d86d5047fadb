#include "python/graph_views.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "core/engine/errors.hpp"
#include "frontend/support/fill.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/graph_export.hpp"

namespace py = pybind11;

namespace morvane::python {

using core::engine::BeliefGraph;
using core::engine::CompetingEdgeGroup;
using core::engine::EdgeData;
using core::engine::EdgePosterior;
using core::engine::ExecError;
using core::engine::NodeData;
using core::engine::NodeId;

namespace {

// Read-time thresholds of forced_state.
constexpr double kParameterFloor = 0.01;
constexpr double kPinningCount = 1e6;
constexpr double kAbsentBelow = 0.001;
constexpr double kPresentAbove = 0.999;

constexpr double kDefaultEpsilon = 0.01;

constexpr const char* kBeliefGraphDoc = "BeliefGraph wrapper for inspection and export.";
constexpr const char* kNodeViewDoc = "Read-only node view.";
constexpr const char* kEdgeViewDoc = "Read-only edge view.";
constexpr const char* kCompetingGroupDoc = "Competing edges group view.";

py::object none_or_str(std::optional<std::string_view> text) {
    return text ? py::object(make_str(*text)) : py::object(py::none());
}

py::list id_texts(const std::vector<NodeId>& ids) {
    py::list out(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        out[i] = id_text(ids[i].value);
    return out;
}

py::list floats(const std::vector<double>& values) {
    py::list out(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        out[i] = py::float_(values[i]);
    return out;
}

// The optional text filter of a listing: none when left out or None.
std::optional<std::string_view> filter_arg(const Signature& sig, const char* param,
                                           const py::args& args, const py::kwargs& kwargs) {
    const auto [value] = bind_args<1>(sig, args, kwargs);
    if (absent(value)) return std::nullopt;
    return str_arg(param, value);
}

// A list of one new view per record that passes `keep`, in store order.
template <typename Record, typename Keep, typename MakeView>
py::list list_views(const std::vector<Record>& records, Keep keep, MakeView make_view) {
    size_t count = 0;
    for (const Record& r : records)
        count += keep(r) ? 1 : 0;
    py::list out(count);
    size_t i = 0;
    for (const Record& r : records) {
        if (keep(r)) PyList_SET_ITEM(out.ptr(), i++, py::cast(make_view(r)).release().ptr());
    }
    return out;
}

py::list list_nodes(const PyBeliefGraph& self, const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"BeliefGraph.nodes()", {"label"}, 0};
    const auto label = filter_arg(sig, "label", args, kwargs);
    return list_views(
        self.graph->nodes(), [&](const NodeData& n) { return !label || n.label == *label; },
        [&](const NodeData& n) {
            return PyNodeView{self.graph, n.label, n.id};
        });
}

py::list list_edges(const PyBeliefGraph& self, const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"BeliefGraph.edges()", {"edge_type"}, 0};
    const auto type = filter_arg(sig, "edge_type", args, kwargs);
    return list_views(
        self.graph->edges(), [&](const EdgeData& e) { return !type || e.edge_type == *type; },
        [&](const EdgeData& e) {
            return PyEdgeView{self.graph, e.edge_type, e.id, e.src, e.dst};
        });
}

py::list list_groups(const PyBeliefGraph& self, const py::args& args, const py::kwargs& kwargs) {
    static const Signature sig{"BeliefGraph.competing_groups()", {"edge_type"}, 0};
    const auto type = filter_arg(sig, "edge_type", args, kwargs);
    py::list out;
    for (const auto& [id, group] : self.graph->competing_groups()) {
        if (type && group.edge_type != *type) continue;
        out.append(py::cast(PyCompetingGroup{self.graph, group.source, group.edge_type,
                                             group.categories, group.posterior.mean_probabilities(),
                                             group.posterior.entropy()}));
    }
    return out;
}

// ---- NodeView ------------------------------------------------------------------------------

[[noreturn]] void throw_missing_attr(std::string_view attr) {
    PyErr_SetObject(PyExc_RuntimeError, make_str(support::fill("missing attr '{}'", attr)).ptr());
    throw py::error_already_set();
}

std::string_view attr_arg(const char* display_name, const py::args& args,
                          const py::kwargs& kwargs) {
    const Signature sig{display_name, {"attr"}, 1};
    const auto [attr] = bind_args<1>(sig, args, kwargs);
    return str_arg("attr", attr);
}

// An attribute query of the engine; its only failure, a missing node or
// attribute, is raised as a plain RuntimeError.
double attr_query(const PyNodeView& self, std::string_view attr,
                  double (BeliefGraph::*query)(NodeId, std::string_view) const) {
    try {
        return ((*self.graph).*query)(self.id, attr);
    } catch (const ExecError&) {
        throw_missing_attr(attr);
    }
}

std::string node_repr(const PyNodeView& self) {
    return support::cat("NodeView(id=", self.id.value, ", label=", self.label.view(), ")");
}

// ---- EdgeView ------------------------------------------------------------------------------

const EdgePosterior* edge_posterior(const PyEdgeView& self) {
    const EdgeData* edge = self.graph->edge(self.id);
    return edge ? &edge->posterior : nullptr;
}

std::string edge_repr(const PyEdgeView& self) {
    return support::cat("EdgeView(id=", self.id.value, ", src=", self.src.value,
                        ", dst=", self.dst.value, ", type=", self.edge_type.view(), ")");
}

// ---- CompetingGroup ------------------------------------------------------------------------

py::object group_winner(const PyCompetingGroup& self, const py::args& args,
                        const py::kwargs& kwargs) {
    static const Signature sig{"CompetingGroup.winner()", {"epsilon"}, 0};
    const auto [epsilon_arg] = bind_args<1>(sig, args, kwargs);
    const double epsilon =
        absent(epsilon_arg) ? kDefaultEpsilon : float_arg("epsilon", epsilon_arg);
    const auto winner = self.graph->winner(self.source_node, self.edge_type, epsilon);
    return winner ? py::object(id_text(winner->value)) : py::object(py::none());
}

std::string group_repr(const PyCompetingGroup& self) {
    return support::cat("CompetingGroup(source=", self.source_node.value, ", type=", self.edge_type,
                        ", categories=", self.categories.size(), ")");
}

template <typename T>
void def_repr(py::class_<T>& cls, std::string (*repr)(const T&)) {
    cls.def("__repr__", [repr](const T& self) { return make_str(repr(self)); });
}

}  // namespace

py::str id_text(uint32_t id) {
    char buf[10];
    const auto end = std::to_chars(buf, buf + sizeof buf, id).ptr;
    return make_str({buf, static_cast<size_t>(end - buf)});
}

std::optional<const char*> forced_state(const EdgePosterior& posterior) {
    const EdgePosterior::Independent* beta = posterior.independent();
    if (!beta) return std::nullopt;
    const double a = std::fmax(beta->alpha, kParameterFloor);
    const double b = std::fmax(beta->beta, kParameterFloor);
    const double m = a / (a + b);
    if (beta->beta >= kPinningCount && m <= kAbsentBelow) return "absent";
    if (beta->alpha >= kPinningCount && m >= kPresentAbove) return "present";
    return std::nullopt;
}

py::object make_belief_graph(BeliefGraph graph) {
    graph.ensure_owned();
    return py::cast(PyBeliefGraph{std::make_shared<const BeliefGraph>(std::move(graph))});
}

void register_belief_graph_class(py::module_& module) {
    py::class_<PyBeliefGraph> cls(module, "BeliefGraph", py::is_final(), kBeliefGraphDoc);
    cls.def("nodes", &list_nodes,
            "nodes($self, label=None)\n--\n\nIterate nodes, optionally filtered by label.");
    cls.def("edges", &list_edges,
            "edges($self, edge_type=None)\n--\n\nIterate edges, optionally filtered by edge type.");
    cls.def("competing_groups", &list_groups,
            "competing_groups($self, edge_type=None)\n--\n\n"
            "Iterate competing edge groups, optionally filtered by edge type.");
    cls.def(
        "to_pandas",
        [](const PyBeliefGraph& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("BeliefGraph.to_pandas()", args, kwargs);
            return to_pandas(*self.graph);
        },
        "to_pandas($self)\n--\n\nExport to pandas DataFrames: (nodes_df, edges_df)");
    cls.def(
        "to_networkx",
        [](const PyBeliefGraph& self, const py::args& args, const py::kwargs& kwargs) {
            static const Signature sig{"BeliefGraph.to_networkx()", {"threshold"}, 0};
            const auto [threshold] = bind_args<1>(sig, args, kwargs);
            return to_networkx(*self.graph,
                               absent(threshold) ? 0.0 : float_arg("threshold", threshold));
        },
        "to_networkx($self, threshold=None)\n--\n\n"
        "Export to NetworkX Graph, filtering edges by probability threshold");
    cls.def("__repr__", [](const PyBeliefGraph&) { return "BeliefGraph(<opaque>)"; });
    disable_constructor(cls);
}

void register_view_classes(py::module_& module) {
    py::class_<PyNodeView> node(module, "NodeView", py::is_final(), kNodeViewDoc);
    def_readonly(node, "label", [](const PyNodeView& self) { return make_str(self.label.view()); });
    def_readonly(node, "id", [](const PyNodeView& self) { return id_text(self.id.value); });
    def_readonly(
        node, "name",
        [](const PyNodeView& self) { return none_or_str(self.graph->node_name(self.id)); },
        "Human-readable instance name from evidence (e.g. \"Alice\"), if set.");
    node.def(
        "E",
        [](const PyNodeView& self, const py::args& args, const py::kwargs& kwargs) {
            return attr_query(self, attr_arg("NodeView.E()", args, kwargs),
                              &BeliefGraph::expectation);
        },
        "E($self, attr)\n--\n\nExpected value of attribute.");
    node.def(
        "Var",
        [](const PyNodeView& self, const py::args& args, const py::kwargs& kwargs) {
            return attr_query(self, attr_arg("NodeView.Var()", args, kwargs),
                              &BeliefGraph::variance);
        },
        "Var($self, attr)\n--\n\nVariance (1/precision) of attribute.");
    node.def(
        "has_attr",
        [](const PyNodeView& self, const py::args& args, const py::kwargs& kwargs) {
            const std::string_view attr = attr_arg("NodeView.has_attr()", args, kwargs);
            return self.graph->get_node_attr_with_deltas(self.id, attr).has_value();
        },
        "has_attr($self, attr)\n--\n\nWhether attribute exists.");
    def_repr(node, &node_repr);
    disable_constructor(node);

    py::class_<PyEdgeView> edge(module, "EdgeView", py::is_final(), kEdgeViewDoc);
    def_readonly(edge, "src", [](const PyEdgeView& self) { return id_text(self.src.value); });
    def_readonly(edge, "dst", [](const PyEdgeView& self) { return id_text(self.dst.value); });
    def_readonly(
        edge, "src_name",
        [](const PyEdgeView& self) { return none_or_str(self.graph->node_name(self.src)); },
        "Instance name of the source node from evidence (e.g. \"Alice\"), if set.");
    def_readonly(
        edge, "dst_name",
        [](const PyEdgeView& self) { return none_or_str(self.graph->node_name(self.dst)); },
        "Instance name of the destination node from evidence, if set.");
    def_readonly(edge, "prob",
                 [](const PyEdgeView& self) { return self.graph->prob_mean(self.id); });
    def_readonly(edge, "forced_state", [](const PyEdgeView& self) {
        const EdgePosterior* posterior = edge_posterior(self);
        const auto state = posterior ? forced_state(*posterior) : std::nullopt;
        return state ? py::object(py::str(*state)) : py::object(py::none());
    });
    edge.def(
        "is_competing",
        [](const PyEdgeView& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("EdgeView.is_competing()", args, kwargs);
            const EdgePosterior* posterior = edge_posterior(self);
            return posterior && posterior->is_competing();
        },
        "is_competing($self)\n--\n\n");
    edge.def(
        "is_independent",
        [](const PyEdgeView& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("EdgeView.is_independent()", args, kwargs);
            const EdgePosterior* posterior = edge_posterior(self);
            return posterior && !posterior->is_competing();
        },
        "is_independent($self)\n--\n\n");
    def_readonly(edge, "type",
                 [](const PyEdgeView& self) { return make_str(self.edge_type.view()); });
    def_repr(edge, &edge_repr);
    disable_constructor(edge);

    py::class_<PyCompetingGroup> group(module, "CompetingGroup", py::is_final(),
                                       kCompetingGroupDoc);
    def_readonly(group, "source_node",
                 [](const PyCompetingGroup& self) { return id_text(self.source_node.value); });
    def_readonly(group, "edge_type",
                 [](const PyCompetingGroup& self) { return make_str(self.edge_type); });
    def_readonly(group, "categories",
                 [](const PyCompetingGroup& self) { return id_texts(self.categories); });
    def_readonly(group, "probabilities",
                 [](const PyCompetingGroup& self) { return floats(self.probabilities); });
    def_readonly(group, "entropy", [](const PyCompetingGroup& self) { return self.entropy; });
    group.def("winner", &group_winner,
              "winner($self, epsilon=None)\n--\n\n"
              "Winner category by max probability; None if tied within epsilon");
    group.def(
        "prob_vector",
        [](const PyCompetingGroup& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("CompetingGroup.prob_vector()", args, kwargs);
            return floats(self.probabilities);
        },
        "prob_vector($self)\n--\n\n");
    def_repr(group, &group_repr);
    disable_constructor(group);
}

}  // namespace morvane::python
