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

// Tables of a million rows are built here, so they are assembled with the C
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

// A table under construction, one Python list per column. pandas builds a
// frame from columns far faster than from one dict per row, and infers each
// column's dtype from the same values, so the frame is the one
// pandas.DataFrame(list of row dicts) gives: the same columns in the same
// order, dtypes and values (None among floats becomes NaN, as it does there).
class Table {
public:
    explicit Table(size_t rows) : rows_(rows) {}

    // Adds a column of `rows` unset values; set them all before frame().
    PyObject* add_column(py::object key) {
        keys_.push_back(std::move(key));
        columns_.push_back(py::list(rows_));
        return columns_.back().ptr();
    }

    // Stores `value` (a new reference, which this takes) at `row` of `column`.
    static void set(PyObject* column, size_t row, PyObject* value) {
        if (value == nullptr) throw py::error_already_set();
        PyList_SET_ITEM(column, static_cast<Py_ssize_t>(row), value);
    }
    static void set(PyObject* column, size_t row, py::handle value) {
        set(column, row, value.inc_ref().ptr());
    }
    static void set_float(PyObject* column, size_t row, double value) {
        set(column, row, PyFloat_FromDouble(value));
    }

    // The frame; a table without rows is made from an empty row list, which
    // gives a frame without columns.
    py::object frame(const py::object& data_frame) const {
        if (rows_ == 0) return data_frame(py::list());
        py::dict columns;
        for (size_t i = 0; i < keys_.size(); ++i)
            set_item(columns.ptr(), keys_[i], columns_[i]);
        return data_frame(columns);
    }

private:
    size_t rows_;
    std::vector<py::object> keys_;
    std::vector<py::list> columns_;
};

// "id", "label", then "{a}_mean" and "{a}_var" for every attribute name of
// the graph in byte order, None where a node lacks the attribute.
py::object node_frame(const BeliefGraph& graph, const py::object& data_frame, IdTextCache& ids,
                      TextCache& labels) {
    const std::vector<NodeData>& nodes = graph.nodes();
    Table table(nodes.size());
    PyObject* id_column = table.add_column(py::str("id"));
    PyObject* label_column = table.add_column(py::str("label"));
    for (size_t i = 0; i < nodes.size(); ++i) {
        Table::set(id_column, i, ids.get(nodes[i].id));
        Table::set(label_column, i, labels.get(nodes[i].label.view()));
    }
    const py::none none;
    for (const std::string_view name : attribute_names(nodes)) {
        AttrKeys keys = attr_keys(name);
        PyObject* means = table.add_column(std::move(keys.mean));
        PyObject* vars = table.add_column(std::move(keys.var));
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (const GaussianPosterior* posterior = nodes[i].attrs.find(name)) {
                Table::set_float(means, i, posterior->mean);
                Table::set_float(vars, i, raw_variance(*posterior));
            } else {
                Table::set(means, i, none);
                Table::set(vars, i, none);
            }
        }
    }
    return table.frame(data_frame);
}

// "src", "dst", "type", "prob", "forced_state".
py::object edge_frame(const BeliefGraph& graph, const py::object& data_frame, IdTextCache& ids,
                      TextCache& types) {
    const std::vector<EdgeData>& edges = graph.edges();
    Table table(edges.size());
    PyObject* src = table.add_column(py::str("src"));
    PyObject* dst = table.add_column(py::str("dst"));
    PyObject* type = table.add_column(py::str("type"));
    PyObject* prob = table.add_column(py::str("prob"));
    PyObject* state = table.add_column(py::str("forced_state"));
    const py::str absent("absent"), present("present");
    for (size_t i = 0; i < edges.size(); ++i) {
        const EdgeData& edge = edges[i];
        Table::set_float(prob, i, graph.prob_mean(edge.id));
        Table::set(src, i, ids.get(edge.src));
        Table::set(dst, i, ids.get(edge.dst));
        Table::set(type, i, types.get(edge.edge_type.view()));
        Table::set(state, i, forced_state_value(edge, absent, present));
    }
    return table.frame(data_frame);
}

}  // namespace

py::tuple to_pandas(const BeliefGraph& graph) {
    const py::object pandas =
        import_package("pandas", "pandas is not installed. Install with: uv pip install pandas");
    const py::object data_frame = pandas.attr("DataFrame");
    IdTextCache ids(graph.nodes().size());
    TextCache texts;
    py::object nodes_df = node_frame(graph, data_frame, ids, texts);
    py::object edges_df = edge_frame(graph, data_frame, ids, texts);
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
