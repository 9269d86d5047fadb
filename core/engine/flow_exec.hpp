// Running one flow of a program.
//
// A run takes the lowered and optimized program (prepared_program.hpp: made
// once per program and shared by its runs), orders the flow's graphs so that
// each comes after the graphs it reads (flow_plan.hpp), builds them one by
// one (from an evidence block, from a graph a prior run exported or kept as
// a snapshot, as the best of several candidates, or by a pipeline of
// transforms over a clone of another graph), then computes the metrics in
// declaration order, exports metrics and graphs, and returns everything in a
// FlowResult. The first failure ends the run and is thrown as ExecError; the
// partly filled result is dropped.
//
// Two entry paths share one implementation and differ only in where
// evidence graphs come from and how expressions are evaluated: run_flow and
// run_flow_ir build evidence graphs themselves and evaluate metrics and
// prune predicates through the per-run cache of flow_expr_cache.hpp;
// run_flow_with_builder gets each evidence graph from a callback and uses
// the generic evaluators. Results are the same on both.
//
// A run is single-threaded, reads the program and the prior without changing
// them and touches nothing else (a prepared program makes an evidence
// block's index once, under its own guard), so callers may run it without
// any lock of their own, several at a time. Graphs in the result share their immutable bases with the
// graphs they were cloned from (graph.hpp).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/flow_expr_cache.hpp"
#include "core/engine/graph.hpp"
#include "core/engine/prepared_program.hpp"
#include "frontend/ast.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {

// One rule application inside a flow.
struct InterventionAuditEvent {
    std::string flow;
    std::string graph;      // the graph whose pipeline applied the rule
    std::string transform;  // "apply_rule#{t}" or "apply_ruleset#{t}[{r}]"
    std::string rule;
    std::string mode;  // "for_each" or "fixpoint"
    std::size_t matches = 0;
    std::size_t actions_executed = 0;
};

// One infer_beliefs transform.
struct InferenceDiagnosticEvent {
    std::string flow;
    std::string graph;
    std::string transform;  // "infer_beliefs#{t}"
    std::string algorithm;  // "loopy_sum_product"
    std::size_t iterations_run = 0;
    std::size_t max_iterations = 0;
    bool converged = false;
    double final_max_message_delta = 0.0;
    std::size_t variable_count = 0;
    std::size_t connected_variable_count = 0;
};

// The maps of a FlowResult iterate in ascending byte order of their keys.
template <typename T>
using NameMap = std::map<std::string, T, std::less<>>;

// Everything one run produced; also the prior of a chained run, which reads
// its `exports` and `snapshots` (from_graph) and its `metric_exports` (metric
// imports; they also start the next result's metric_exports).
//
// The transform position t in a label counts the transforms of the
// optimized pipeline from 0; r counts the rules of a ruleset from 0.
struct FlowResult {
    // One event per rule application and per infer_beliefs, in execution order.
    std::vector<InterventionAuditEvent> intervention_audit;
    std::vector<InferenceDiagnosticEvent> inference_diagnostics;
    NameMap<BeliefGraph> graphs;     // every graph the flow built
    NameMap<BeliefGraph> exports;    // by export alias
    NameMap<double> metrics;         // every metric the flow computed
    NameMap<double> metric_exports;  // the prior's, then this flow's by alias
    NameMap<BeliefGraph> snapshots;  // by snapshot name (materialised)
};

// Builds the graph of one evidence block for run_flow_with_builder; may
// throw ExecError, which ends the run unchanged.
using EvidenceGraphBuilder = std::function<BeliefGraph(const frontend::ast::EvidenceDef&)>;

// Runs the flow named `flow_name` (the first of that name) of `program`,
// chained on `prior` when given. Throws ExecError.
FlowResult run_flow(const PreparedProgram& program, std::string_view flow_name,
                    const FlowResult* prior = nullptr);

// The same on a program prepared for this run alone.
FlowResult run_flow(const frontend::ast::ProgramAst& program, std::string_view flow_name,
                    const FlowResult* prior = nullptr);

// The same on an already lowered program, with a fresh backend.
FlowResult run_flow_ir(const ir::ProgramIR& program, std::string_view flow_name,
                       const FlowResult* prior = nullptr);

// The same on a given fresh backend, whose thresholds decide when the
// run's expressions are lowered.
FlowResult run_flow_ir(CraneliftJitExecutionBackend& backend, const ir::ProgramIR& program,
                       std::string_view flow_name, const FlowResult* prior = nullptr);

// The same with every evidence graph built by `builder`, which is called
// once per from_evidence graph, in plan order, with the program's block.
// No cache and no lock.
FlowResult run_flow_with_builder(const PreparedProgram& program, std::string_view flow_name,
                                 const EvidenceGraphBuilder& builder,
                                 const FlowResult* prior = nullptr);
FlowResult run_flow_with_builder(const frontend::ast::ProgramAst& program,
                                 std::string_view flow_name, const EvidenceGraphBuilder& builder,
                                 const FlowResult* prior = nullptr);

}  // namespace morvane::core::engine
