#include "python/graph_export.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "python/errors.hpp"
#include "python/graph_views.hpp"

namespace py = pybind11;

namespace morvane::python {

using core::engine::BeliefGraph;
using core::engine::EdgeData;
using core::engine::GaussianPosterior;
using core::engine::NodeData;
using core::engine::NodeId;

namespace {

// Tables of a million rows are built here, so rows are assembled with the C
// API directly and every text that repeats across rows (keys, labels, edge
// types, node ids) is made into a Python str once and shared by the rows.

py::object steal(PyObject* object) {
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(object);
}

void set_item(PyObject* dict, const py::handle& key, const py::handle& value) {
    if (PyDict_SetItem(dict, key.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

void set_float(PyObject* dict, const py::handle& key, double value) {
    set_item(dict, key, steal(PyFloat_FromDouble(value)));
}

// Imports `name`; any failure of an ordinary kind becomes the fixed
// RuntimeError `message`. An interrupt or exit request raised during the
// import is not a missing package and propagates as raised.
py::object import_package(const char* name, const char* message) {
    if (PyObject* package = PyImport_ImportModule(name)) return steal(package);
    if (PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, message);
    }
    throw py::error_already_set();
}

// One str per distinct text. Labels and edge types come in runs of one
// shared text, so the text of the previous call is checked first.
class TextCache {
public:
    py::handle get(std::string_view text) {
        if (last_str_ && text.data() == last_.data() && text.size() == last_.size()) {
            return last_str_;
        }
        auto it = texts_.find(text);
        if (it == texts_.end()) it = texts_.emplace(text, make_str(text)).first;
        last_ = text;
        last_str_ = it->second;
        return last_str_;
    }

private:
    std::unordered_map<std::string_view, py::object> texts_;
    std::string_view last_;
    py::handle last_str_;  // owned by texts_
};

// One str per node id of the graph's nodes; ids beyond them are made anew.
class IdTextCache {
public:
    explicit IdTextCache(size_t node_count) : texts_(node_count) {}

    py::object get(NodeId id) {
        if (id.value >= texts_.size()) return id_text(id.value);
        py::object& text = texts_[id.value];
        if (!text) text = id_text(id.value);
        return text;
    }

private:
    std::vector<py::object> texts_;
};

// The keys "{a}_mean" and "{a}_var" of an attribute name.
struct AttrKeys {
    py::object mean;
    py::object var;
};

AttrKeys attr_keys(std::string_view name) {
    std::string key(name);
    key += "_mean";
    py::object mean = make_str(key);
    key.resize(name.size());
    key += "_var";
    return {std::move(mean), make_str(key)};
}

class AttrKeyCache {
public:
    const AttrKeys& get(std::string_view name) {
        auto it = keys_.find(name);
        if (it == keys_.end()) it = keys_.emplace(name, attr_keys(name)).first;
        return it->second;
    }

private:
    std::unordered_map<std::string_view, AttrKeys> keys_;
};

// Every attribute name of the graph's nodes, once each, in byte order.
std::vector<std::string_view> attribute_names(const std::vector<NodeData>& nodes) {
    std::unordered_set<std::string_view> seen;
    for (const NodeData& node : nodes) {
        for (const auto& entry : node.attrs)
            seen.insert(entry.name.view());
    }
    std::vector<std::string_view> names(seen.begin(), seen.end());
    std::sort(names.begin(), names.end());
    return names;
}

py::object forced_state_value(const EdgeData& edge, const py::object& absent,
                              const py::object& present) {
    const auto state = forced_state(edge.posterior);
    if (!state) return py::none();
    return std::string_view(*state) == "absent" ? absent : present;
}

// The exported variance: 1 / precision as stored.
double raw_variance(const GaussianPosterior& posterior) {
    return 1.0 / posterior.precision;
}

py::list node_rows(const BeliefGraph& graph, IdTextCache& ids, TextCache& labels) {
    const std::vector<NodeData>& nodes = graph.nodes();
    const std::vector<std::string_view> names = attribute_names(nodes);
    std::vector<AttrKeys> keys;
    keys.reserve(names.size());
    for (const std::string_view name : names)
        keys.push_back(attr_keys(name));
    const py::str id_key("id"), label_key("label");
    const py::none none;

    py::list rows(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        const NodeData& node = nodes[i];
        py::object row = steal(PyDict_New());
        set_item(row.ptr(), id_key, ids.get(node.id));
        set_item(row.ptr(), label_key, labels.get(node.label.view()));
        for (size_t k = 0; k < names.size(); ++k) {
            if (const GaussianPosterior* posterior = node.attrs.find(names[k])) {
                set_float(row.ptr(), keys[k].mean, posterior->mean);
                set_float(row.ptr(), keys[k].var, raw_variance(*posterior));
            } else {
                set_item(row.ptr(), keys[k].mean, none);
                set_item(row.ptr(), keys[k].var, none);
            }
        }
        PyList_SET_ITEM(rows.ptr(), i, row.release().ptr());
    }
    return rows;
}

py::list edge_rows(const BeliefGraph& graph, IdTextCache& ids, TextCache& types) {
    const std::vector<EdgeData>& edges = graph.edges();
    const py::str src_key("src"), dst_key("dst"), type_key("type"), prob_key("prob"),
        state_key("forced_state"), absent("absent"), present("present");

    py::list rows(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) {
        const EdgeData& edge = edges[i];
        const double prob = graph.prob_mean(edge.id);
        py::object row = steal(PyDict_New());
        set_item(row.ptr(), src_key, ids.get(edge.src));
        set_item(row.ptr(), dst_key, ids.get(edge.dst));
        set_item(row.ptr(), type_key, types.get(edge.edge_type.view()));
        set_float(row.ptr(), prob_key, prob);
        set_item(row.ptr(), state_key, forced_state_value(edge, absent, present));
        PyList_SET_ITEM(rows.ptr(), i, row.release().ptr());
    }
    return rows;
}

}  // namespace

py::tuple to_pandas(const BeliefGraph& graph) {
    const py::object pandas =
        import_package("pandas", "pandas is not installed. Install with: uv pip install pandas");
    IdTextCache ids(graph.nodes().size());
    TextCache texts;
    const py::list nodes = node_rows(graph, ids, texts);
    const py::list edges = edge_rows(graph, ids, texts);
    const py::object data_frame = pandas.attr("DataFrame");
    py::object nodes_df = data_frame(nodes);
    py::object edges_df = data_frame(edges);
    return py::make_tuple(std::move(nodes_df), std::move(edges_df));
}

py::object to_networkx(const BeliefGraph& graph, double threshold) {
    const py::object networkx = import_package(
        "networkx", "networkx is not installed. Install with: uv pip install networkx");
    py::object nx_graph = networkx.attr("Graph")();
    const py::object add_node = nx_graph.attr("add_node");
    const py::object add_edge = nx_graph.attr("add_edge");

    IdTextCache ids(graph.nodes().size());
    TextCache texts;
    AttrKeyCache attr_keys;
    const py::str label_key("label"), type_key("type"), prob_key("prob"), state_key("forced_state"),
        absent("absent"), present("present");

    for (const NodeData& node : graph.nodes()) {
        py::object attrs = steal(PyDict_New());
        set_item(attrs.ptr(), label_key, texts.get(node.label.view()));
        for (const auto& entry : node.attrs) {
            const AttrKeys& keys = attr_keys.get(entry.name.view());
            set_float(attrs.ptr(), keys.mean, entry.posterior.mean);
            set_float(attrs.ptr(), keys.var, raw_variance(entry.posterior));
        }
        const py::tuple args = py::make_tuple(ids.get(node.id));
        steal(PyObject_Call(add_node.ptr(), args.ptr(), attrs.ptr()));
    }

    for (const EdgeData& edge : graph.edges()) {
        const double prob = graph.prob_mean(edge.id);
        if (prob < threshold) continue;
        py::object attrs = steal(PyDict_New());
        set_item(attrs.ptr(), type_key, texts.get(edge.edge_type.view()));
        set_float(attrs.ptr(), prob_key, prob);
        set_item(attrs.ptr(), state_key, forced_state_value(edge, absent, present));
        const py::tuple args = py::make_tuple(ids.get(edge.src), ids.get(edge.dst));
        steal(PyObject_Call(add_edge.ptr(), args.ptr(), attrs.ptr()));
    }
    return nx_graph;
}

}  // namespace morvane::python
