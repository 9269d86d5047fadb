// Helpers of the flow tests: programs from source text, errors as values, the
// outcome of a run on each entry path, and a flow result written out in full
// (every number with all its digits), so that two results compare as texts
// and a difference shows where it lies.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

#include "core/engine/evidence.hpp"
#include "core/engine/flow_exec.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/parser/parse_program.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine::flow_test {

namespace ast = frontend::ast;

// The program built from `source`, without validation.
inline ast::ProgramAst program_of(std::string_view source) {
    try {
        return frontend::parser::parse_program(source);
    } catch (const frontend::FrontendError& e) {
        ADD_FAILURE() << e.parse_text();
        return {};
    }
}

// The program compiled as users compile it: parsed and validated.
inline ast::ProgramAst compiled(std::string_view source) {
    try {
        return parse_and_validate(source);
    } catch (const ExecError& e) {
        ADD_FAILURE() << e.message;
        return {};
    }
}

template <typename F>
std::optional<ExecError> error_of(F&& call) {
    try {
        call();
    } catch (const ExecError& e) {
        return e;
    }
    return std::nullopt;
}

inline std::string digits(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// Everything a graph holds once materialised.
inline std::string graph_text(const BeliefGraph& graph) {
    BeliefGraph g = graph.clone();
    g.ensure_owned();
    std::ostringstream out;
    for (const NodeData& n : g.nodes()) {
        out << "  node " << n.id.value << ' ' << n.label.view() << ' '
            << g.node_name(n.id).value_or("-");
        for (const auto& a : n.attrs) {
            out << ' ' << a.name.view() << '=' << digits(a.posterior.mean) << '/'
                << digits(a.posterior.precision);
        }
        out << '\n';
    }
    for (const EdgeData& e : g.edges()) {
        out << "  edge " << e.id.value << ' ' << e.edge_type.view() << ' ' << e.src.value << "->"
            << e.dst.value;
        if (const auto* b = e.posterior.independent()) {
            out << " beta(" << digits(b->alpha) << ", " << digits(b->beta) << ')';
        } else {
            out << " category " << e.posterior.competing()->category << " of "
                << e.posterior.competing()->group.value;
        }
        out << '\n';
    }
    for (const auto& [id, group] : g.competing_groups()) {
        out << "  group " << id.value;
        for (const double c : group.posterior.concentrations)
            out << ' ' << digits(c);
        out << '\n';
    }
    for (const auto& [id, w] : g.base().edge_weights)
        out << "  weight " << id.value << ' ' << digits(w.mean) << '/' << digits(w.precision)
            << '\n';
    for (const auto& c : g.base().attr_correlations) {
        out << "  correlation " << c.node.value << ' ' << c.pair_key << ' ' << digits(c.correlation)
            << '\n';
    }
    return out.str();
}

// Everything a result holds: events, then the maps in their order.
inline std::string result_text(const FlowResult& r) {
    std::ostringstream out;
    for (const InterventionAuditEvent& e : r.intervention_audit) {
        out << "audit " << e.flow << ' ' << e.graph << ' ' << e.transform << ' ' << e.rule << ' '
            << e.mode << ' ' << e.matches << ' ' << e.actions_executed << '\n';
    }
    for (const InferenceDiagnosticEvent& e : r.inference_diagnostics) {
        out << "inference " << e.flow << ' ' << e.graph << ' ' << e.transform << ' ' << e.algorithm
            << ' ' << e.iterations_run << '/' << e.max_iterations
            << (e.converged ? " converged " : " open ") << digits(e.final_max_message_delta) << ' '
            << e.variable_count << '/' << e.connected_variable_count << '\n';
    }
    const auto graphs = [&out](const char* what, const NameMap<BeliefGraph>& map) {
        for (const auto& [name, g] : map)
            out << what << ' ' << name << '\n' << graph_text(g);
    };
    graphs("graph", r.graphs);
    graphs("export", r.exports);
    graphs("snapshot", r.snapshots);
    for (const auto& [name, v] : r.metrics)
        out << "metric " << name << " = " << digits(v) << '\n';
    for (const auto& [name, v] : r.metric_exports)
        out << "metric export " << name << " = " << digits(v) << '\n';
    return out.str();
}

// The two entry paths: run_flow, and run_flow_with_builder with a builder
// that builds each block from the program as the binding's builder does.
enum class EntryPath { Cached, Builder };

inline FlowResult run_on(EntryPath path, const ast::ProgramAst& program, std::string_view flow,
                         const FlowResult* prior = nullptr) {
    if (path == EntryPath::Cached) return run_flow(program, flow, prior);
    const EvidenceGraphBuilder builder = [&program](const ast::EvidenceDef& block) {
        return build_graph_from_evidence(block, program);
    };
    return run_flow_with_builder(program, flow, builder, prior);
}

// The result as text, or the error as "Kind: message".
inline std::string outcome_on(EntryPath path, const ast::ProgramAst& program, std::string_view flow,
                              const FlowResult* prior = nullptr) {
    try {
        return result_text(run_on(path, program, flow, prior));
    } catch (const ExecError& e) {
        return std::string(kind_name(e.kind)) + ": " + e.message;
    }
}

}  // namespace morvane::core::engine::flow_test
