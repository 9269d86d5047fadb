// Result comparison and soundness checks for the flow fuzz target. Graphs
// are compared and checked materialised, so that two graphs holding the
// same beliefs compare equal however their changes are stored.
#include "tests/fuzz/flow_result_checks.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "core/engine/errors.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::fuzz {
namespace {

using core::engine::BeliefGraph;
using core::engine::EdgeData;
using core::engine::FlowResult;
using core::engine::NameMap;
using core::engine::NodeData;

bool same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

std::string digits(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string numbers(double a, double b) { return digits(a) + " vs " + digits(b); }

BeliefGraph materialised(const BeliefGraph& graph) {
    BeliefGraph copy = graph.clone();
    copy.ensure_owned();
    return copy;
}

std::string node_difference(const BeliefGraph& ga, const BeliefGraph& gb, const NodeData& a,
                            const NodeData& b) {
    const std::string at = "node " + std::to_string(a.id.value);
    if (a.id != b.id) return at + ": id differs";
    if (a.label != b.label) return at + ": label differs";
    if (ga.node_name(a.id) != gb.node_name(b.id)) return at + ": name differs";
    if (a.attrs.size() != b.attrs.size()) return at + ": attribute count differs";
    auto ia = a.attrs.begin();
    for (auto ib = b.attrs.begin(); ib != b.attrs.end(); ++ia, ++ib) {
        const std::string attr = at + " attribute '" + ia->name.str() + "'";
        if (ia->name != ib->name) return attr + ": name differs";
        if (!same(ia->posterior.mean, ib->posterior.mean)) {
            return attr + " mean " + numbers(ia->posterior.mean, ib->posterior.mean);
        }
        if (!same(ia->posterior.precision, ib->posterior.precision)) {
            return attr + " precision " + numbers(ia->posterior.precision, ib->posterior.precision);
        }
    }
    return {};
}

std::string edge_difference(const EdgeData& a, const EdgeData& b) {
    const std::string at = "edge " + std::to_string(a.id.value);
    if (a.id != b.id || a.src != b.src || a.dst != b.dst) return at + ": id or ends differ";
    if (a.edge_type != b.edge_type) return at + ": type differs";
    const auto* ia = a.posterior.independent();
    const auto* ib = b.posterior.independent();
    if ((ia == nullptr) != (ib == nullptr)) return at + ": kind differs";
    if (ia != nullptr) {
        if (!same(ia->alpha, ib->alpha)) return at + " alpha " + numbers(ia->alpha, ib->alpha);
        if (!same(ia->beta, ib->beta)) return at + " beta " + numbers(ia->beta, ib->beta);
    } else if (!(*a.posterior.competing() == *b.posterior.competing())) {
        return at + ": group or category differs";
    }
    return {};
}

std::string graph_difference(const BeliefGraph& graph_a, const BeliefGraph& graph_b) {
    const BeliefGraph a = materialised(graph_a);
    const BeliefGraph b = materialised(graph_b);
    if (a.nodes().size() != b.nodes().size()) return "node count differs";
    for (std::size_t i = 0; i < a.nodes().size(); ++i) {
        std::string d = node_difference(a, b, a.nodes()[i], b.nodes()[i]);
        if (!d.empty()) return d;
    }
    if (a.edges().size() != b.edges().size()) return "edge count differs";
    for (std::size_t i = 0; i < a.edges().size(); ++i) {
        std::string d = edge_difference(a.edges()[i], b.edges()[i]);
        if (!d.empty()) return d;
    }
    if (a.competing_groups().size() != b.competing_groups().size()) return "group count differs";
    auto ga = a.competing_groups().begin();
    for (auto gb = b.competing_groups().begin(); gb != b.competing_groups().end(); ++ga, ++gb) {
        const std::string at = "group " + std::to_string(ga->first.value);
        if (ga->first != gb->first || ga->second.source != gb->second.source ||
            ga->second.edge_type != gb->second.edge_type ||
            ga->second.categories != gb->second.categories) {
            return at + ": id, source, type or categories differ";
        }
        const auto& ca = ga->second.posterior.concentrations;
        const auto& cb = gb->second.posterior.concentrations;
        if (ca.size() != cb.size()) return at + ": category count differs";
        for (std::size_t k = 0; k < ca.size(); ++k) {
            if (!same(ca[k], cb[k])) {
                return at + " concentration " + std::to_string(k) + " " + numbers(ca[k], cb[k]);
            }
        }
    }
    const auto& wa = a.base().edge_weights;
    const auto& wb = b.base().edge_weights;
    if (wa.size() != wb.size()) return "edge weight count differs";
    auto ea = wa.begin();
    for (auto eb = wb.begin(); eb != wb.end(); ++ea, ++eb) {
        if (ea->first != eb->first || !same(ea->second.mean, eb->second.mean) ||
            !same(ea->second.precision, eb->second.precision)) {
            return "weight of edge " + std::to_string(ea->first.value) + " differs";
        }
    }
    const auto& ra = a.base().attr_correlations;
    const auto& rb = b.base().attr_correlations;
    if (ra.size() != rb.size()) return "correlation count differs";
    auto xa = ra.begin();
    for (auto xb = rb.begin(); xb != rb.end(); ++xa, ++xb) {
        if (xa->node != xb->node || xa->pair_key != xb->pair_key ||
            !same(xa->correlation, xb->correlation)) {
            return "correlation of node " + std::to_string(xa->node.value) + " differs";
        }
    }
    return {};
}

std::string graphs_difference(const char* what, const NameMap<BeliefGraph>& a,
                              const NameMap<BeliefGraph>& b) {
    if (a.size() != b.size()) return std::string(what) + ": count differs";
    auto ia = a.begin();
    for (auto ib = b.begin(); ib != b.end(); ++ia, ++ib) {
        const std::string at = std::string(what) + " '" + ia->first + "'";
        if (ia->first != ib->first) return at + ": names differ";
        std::string d = graph_difference(ia->second, ib->second);
        if (!d.empty()) return at + ": " + d;
    }
    return {};
}

std::string values_difference(const char* what, const NameMap<double>& a,
                              const NameMap<double>& b) {
    if (a.size() != b.size()) return std::string(what) + ": count differs";
    auto ia = a.begin();
    for (auto ib = b.begin(); ib != b.end(); ++ia, ++ib) {
        if (ia->first != ib->first) return std::string(what) + ": names differ";
        if (!same(ia->second, ib->second)) {
            return std::string(what) + " '" + ia->first + "' " + numbers(ia->second, ib->second);
        }
    }
    return {};
}

// ---- Soundness ----------------------------------------------------------------------

std::optional<std::string> non_finite(std::string_view what, double v) {
    if (std::isfinite(v)) return std::nullopt;
    return std::string(what) + " is " + digits(v);
}

std::string graph_defect(const BeliefGraph& graph) {
    const BeliefGraph g = materialised(graph);
    for (const NodeData& n : g.nodes()) {
        for (const auto& attr : n.attrs) {
            const std::string at =
                "node " + std::to_string(n.id.value) + " attribute '" + attr.name.str() + "'";
            if (auto bad = non_finite(at + " mean", attr.posterior.mean)) return *bad;
            if (auto bad = non_finite(at + " precision", attr.posterior.precision)) return *bad;
        }
    }
    for (const EdgeData& e : g.edges()) {
        const std::string at = "edge " + std::to_string(e.id.value);
        if (g.node(e.src) == nullptr || g.node(e.dst) == nullptr) return at + ": an end is missing";
        if (const auto* beta = e.posterior.independent()) {
            if (auto bad = non_finite(at + " alpha", beta->alpha)) return *bad;
            if (auto bad = non_finite(at + " beta", beta->beta)) return *bad;
        } else {
            const auto* choice = e.posterior.competing();
            const auto* group = g.competing_groups().find(choice->group);
            if (group == nullptr) return at + ": its group is missing";
            if (choice->category >= group->categories.size()) return at + ": category out of range";
        }
        try {
            if (auto bad = non_finite(at + " probability",
                                      e.posterior.mean_probability(g.competing_groups()))) {
                return *bad;
            }
        } catch (const core::engine::ExecError& error) {
            return at + " probability: " + error.message;
        } catch (const support::Panic& panic) {
            return at + " probability: " + panic.message();
        }
    }
    for (const auto& [id, group] : g.competing_groups()) {
        for (const double c : group.posterior.concentrations) {
            if (auto bad = non_finite("group " + std::to_string(id.value) + " concentration", c)) {
                return *bad;
            }
            if (!(c > 0.0)) {
                return "group " + std::to_string(id.value) + " concentration " + digits(c);
            }
        }
    }
    for (const auto& [id, w] : g.base().edge_weights) {
        const std::string at = "weight of edge " + std::to_string(id.value);
        if (auto bad = non_finite(at + " mean", w.mean)) return *bad;
        if (auto bad = non_finite(at + " precision", w.precision)) return *bad;
    }
    for (const auto& c : g.base().attr_correlations) {
        if (!(std::fabs(c.correlation) <= 1.0)) {
            return "correlation of node " + std::to_string(c.node.value) + " is " +
                   digits(c.correlation);
        }
    }
    return {};
}

std::string graphs_defect(const char* what, const NameMap<BeliefGraph>& graphs) {
    for (const auto& [name, graph] : graphs) {
        std::string d = graph_defect(graph);
        if (!d.empty()) return std::string(what) + " '" + name + "': " + d;
    }
    return {};
}

}  // namespace

std::string result_difference(const FlowResult& a, const FlowResult& b) {
    if (a.intervention_audit.size() != b.intervention_audit.size()) return "audit length differs";
    for (std::size_t i = 0; i < a.intervention_audit.size(); ++i) {
        const auto& x = a.intervention_audit[i];
        const auto& y = b.intervention_audit[i];
        if (x.flow != y.flow || x.graph != y.graph || x.transform != y.transform ||
            x.rule != y.rule || x.mode != y.mode || x.matches != y.matches ||
            x.actions_executed != y.actions_executed) {
            return "audit event " + std::to_string(i) + " (" + x.transform + ") differs";
        }
    }
    if (a.inference_diagnostics.size() != b.inference_diagnostics.size()) {
        return "inference diagnostics length differs";
    }
    for (std::size_t i = 0; i < a.inference_diagnostics.size(); ++i) {
        const auto& x = a.inference_diagnostics[i];
        const auto& y = b.inference_diagnostics[i];
        if (x.flow != y.flow || x.graph != y.graph || x.transform != y.transform ||
            x.algorithm != y.algorithm || x.iterations_run != y.iterations_run ||
            x.max_iterations != y.max_iterations || x.converged != y.converged ||
            !same(x.final_max_message_delta, y.final_max_message_delta) ||
            x.variable_count != y.variable_count ||
            x.connected_variable_count != y.connected_variable_count) {
            return "inference diagnostic " + std::to_string(i) + " (" + x.transform + ") differs";
        }
    }
    for (std::string d : {graphs_difference("graph", a.graphs, b.graphs),
                          graphs_difference("export", a.exports, b.exports),
                          graphs_difference("snapshot", a.snapshots, b.snapshots),
                          values_difference("metric", a.metrics, b.metrics),
                          values_difference("metric export", a.metric_exports, b.metric_exports)}) {
        if (!d.empty()) return d;
    }
    return {};
}

std::string graph_defect(const FlowResult& r) {
    for (std::string d : {graphs_defect("graph", r.graphs), graphs_defect("export", r.exports),
                          graphs_defect("snapshot", r.snapshots)}) {
        if (!d.empty()) return d;
    }
    return {};
}

}  // namespace morvane::fuzz
