// The road of a flow run, shared by both entry paths (see flow_exec.hpp).
//
// Graph values are moved along the road and cloned only where a graph must
// live on in two places (a pipeline's start, a snapshot, an export, a graph
// taken from the prior): a clone shares its base, and a write to a graph
// whose base is shared copies the base first, so every spare clone kept
// alive across a stage would make that stage copy the whole graph. Rules and
// inference are handed the pipeline's graph, so that only a pipeline's first
// write copies the start graph's base.
#include "core/engine/flow_exec.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <variant>

#include "core/engine/errors.hpp"
#include "core/engine/evidence.hpp"
#include "core/engine/flow_plan.hpp"
#include "core/engine/flow_stages.hpp"
#include "core/metrics.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::core::engine {
namespace {

using ir::GraphExprIR;
using ir::TransformIR;
using metrics::MetricBindings;
using support::fill;

const ir::FlowIR& find_flow(const ir::ProgramIR& program, std::string_view name) {
    for (const ir::FlowIR& flow : program.flows) {
        if (flow.name == name) return flow;
    }
    throw ExecError::internal(fill("unknown flow '{}'", name));
}

ExecError unknown_evidence(std::string_view name) {
    return ExecError::internal(fill("unknown evidence '{}'", name));
}

FlowResult initialize_flow_result(const FlowResult* prior) {
    FlowResult result;
    if (prior != nullptr) result.metric_exports = prior->metric_exports;
    return result;
}

// The prior's exported metric values under the flow's local names. An alias
// the prior does not export is skipped; a later import of one local name
// replaces an earlier one.
MetricBindings import_metric_bindings(const ir::FlowIR& flow, const FlowResult* prior) {
    MetricBindings bindings;
    if (prior == nullptr) return bindings;
    for (const ir::MetricImportDefIR& import : flow.metric_imports) {
        const auto it = prior->metric_exports.find(import.source_alias);
        if (it != prior->metric_exports.end()) {
            bindings.insert_or_assign(import.local_name, it->second);
        }
    }
    return bindings;
}

// A clone of the prior's export of that alias, else of its snapshot.
BeliefGraph lookup_graph_from_prior(std::string_view alias, const FlowResult* prior) {
    if (prior != nullptr) {
        if (const auto it = prior->exports.find(alias); it != prior->exports.end()) {
            return it->second.clone();
        }
        if (const auto it = prior->snapshots.find(alias); it != prior->snapshots.end()) {
            return it->second.clone();
        }
    }
    throw ExecError::internal(
        fill("graph '{}' not found in prior flow exports or snapshots", alias));
}

BeliefGraph select_model_graph(const GraphExprIR::SelectModel& select,
                               const NameMap<BeliefGraph>& graphs) {
    std::vector<ModelCandidate> candidates;
    candidates.reserve(select.candidates.size());
    for (const std::string& name : select.candidates) {
        const auto it = graphs.find(name);
        if (it == graphs.end()) {
            throw ExecError::internal(
                fill("select_model candidate graph '{}' is not available", name));
        }
        candidates.push_back({name, it->second});
    }
    const std::string winner = select_flow_model(candidates, select.criterion);
    const auto it = graphs.find(winner);
    if (it == graphs.end()) {
        throw ExecError::internal("selected model graph missing after selection");
    }
    return it->second.clone();
}

// The graph's current edge ids split by type: stored edges, then edges
// inserted by pending changes (an id inserted again counts once, with its
// newest record).
struct EdgeClasses {
    std::vector<EdgeId> others;
    std::vector<EdgeId> candidates;  // of the given type
};

EdgeClasses classify_edges(const BeliefGraph& graph, std::string_view edge_type) {
    std::vector<const EdgeData*> inserted;
    for (const GraphDelta& delta : graph.deltas()) {
        if (const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&delta.change)) {
            std::erase_if(inserted, [&](const EdgeData* e) { return e->id == insert->id; });
            inserted.push_back(&insert->data);
        }
    }
    std::vector<EdgeId> inserted_ids;
    for (const EdgeData* e : inserted)
        inserted_ids.push_back(e->id);
    std::sort(inserted_ids.begin(), inserted_ids.end());

    EdgeClasses classes;
    const auto classify = [&](const EdgeData& e) {
        (e.edge_type == edge_type ? classes.candidates : classes.others).push_back(e.id);
    };
    const BeliefGraphInner& base = graph.base();
    for (std::size_t i = 0; i < base.edges.size(); ++i) {
        const EdgeData& e = base.edges[i];
        if (base.edge_index.find(e.id) != i) continue;  // a record its id was stored over
        if (!inserted_ids.empty() &&
            std::binary_search(inserted_ids.begin(), inserted_ids.end(), e.id)) {
            continue;
        }
        classify(e);
    }
    for (const EdgeData* e : inserted)
        classify(*e);
    return classes;
}

// Edge ids are stored in ascending order as a rule, so sorting them is
// mostly a check.
void sort_ascending(std::vector<EdgeId>& ids) {
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
}

// The ids of `a` and of the ascending `b` together, ascending.
std::vector<EdgeId> merge_ascending(std::vector<EdgeId>& a, const std::vector<EdgeId>& b) {
    sort_ascending(a);
    std::vector<EdgeId> merged(a.size() + b.size());
    std::merge(a.begin(), a.end(), b.begin(), b.end(), merged.begin());
    return merged;
}

// A new graph with every node of `working` and the edges of `kept`
// (ascending). `working` is materialised first when changes are pending, so
// the rebuild sees them; it is not otherwise changed.
BeliefGraph rebuild_pruned_graph(BeliefGraph& working, std::span<const EdgeId> kept) {
    if (!working.deltas().empty()) working.ensure_owned();
    return working.rebuild_with_edges(working.nodes(), kept);
}

// One run of one flow: the state the road builds up, and its steps.
// `evidence(name)` builds the graph of the evidence block `name`, or throws
// unknown_evidence.
template <FlowExprEvaluator Evaluator, typename Evidence>
class FlowRun {
public:
    FlowRun(const ir::ProgramIR& program, const ir::FlowIR& flow, const FlowResult* prior,
            Evaluator& evaluator, const Evidence& evidence)
        : program_(program),
          flow_(flow),
          prior_(prior),
          evaluator_(evaluator),
          evidence_(evidence) {}

    FlowResult run() {
        const std::vector<std::size_t> plan = build_graph_execution_plan(flow_);
        rules_ = build_rule_defs_index(program_.rules, flow_);
        result_ = initialize_flow_result(prior_);
        const MetricBindings imported = import_metric_bindings(flow_, prior_);
        globals_ = RuleGlobals(imported.begin(), imported.end());
        for (const std::size_t i : plan) {
            const ir::GraphDefIR& def = flow_.graphs[i];
            BeliefGraph graph = build_graph(def);
            result_.graphs.insert_or_assign(def.name, std::move(graph));
        }
        evaluate_metrics();
        handle_exports();
        return std::move(result_);
    }

private:
    BeliefGraph build_graph(const ir::GraphDefIR& def) {
        if (const auto* e = std::get_if<GraphExprIR::FromEvidence>(&def.expr.node)) {
            return evidence_(e->evidence);
        }
        if (const auto* g = std::get_if<GraphExprIR::FromGraph>(&def.expr.node)) {
            return lookup_graph_from_prior(g->alias, prior_);
        }
        if (const auto* s = std::get_if<GraphExprIR::SelectModel>(&def.expr.node)) {
            return select_model_graph(*s, result_.graphs);
        }
        return run_pipeline(def.name, std::get<GraphExprIR::Pipeline>(def.expr.node));
    }

    BeliefGraph run_pipeline(const std::string& graph_name, const GraphExprIR::Pipeline& pipeline) {
        const auto start = result_.graphs.find(pipeline.start);
        if (start == result_.graphs.end()) {
            throw ExecError::internal(fill("unknown start graph '{}'", pipeline.start));
        }
        BeliefGraph working = start->second.clone();
        for (std::size_t t = 0; t < pipeline.transforms.size(); ++t) {
            apply_transform(pipeline.transforms[t], working, graph_name, t);
        }
        return working;
    }

    void apply_transform(const TransformIR& transform, BeliefGraph& working,
                         const std::string& graph_name, std::size_t t) {
        if (const auto* a = std::get_if<TransformIR::ApplyRule>(&transform.node)) {
            apply_rule(*a, working, graph_name, t);
        } else if (const auto* s = std::get_if<TransformIR::ApplyRuleset>(&transform.node)) {
            apply_ruleset(*s, working, graph_name, t);
        } else if (std::holds_alternative<TransformIR::InferBeliefs>(transform.node)) {
            infer_beliefs(working, graph_name, t);
        } else if (const auto* k = std::get_if<TransformIR::Snapshot>(&transform.node)) {
            BeliefGraph kept = working.clone();
            kept.ensure_owned();
            result_.snapshots.insert_or_assign(k->name, std::move(kept));
        } else {
            prune_edges(std::get<TransformIR::PruneEdges>(transform.node), working, graph_name, t);
        }
    }

    void record_rule(RuleApplication& applied, const std::string& graph_name,
                     std::string transform) {
        result_.intervention_audit.push_back(InterventionAuditEvent{
            flow_.name, graph_name, std::move(transform), std::move(applied.rule),
            std::move(applied.mode), applied.matches, applied.actions_executed});
    }

    void apply_rule(const TransformIR::ApplyRule& apply, BeliefGraph& working,
                    const std::string& graph_name, std::size_t t) {
        const auto rule = rules_.find(apply.rule);
        if (rule == rules_.end()) throw ExecError::internal(fill("unknown rule '{}'", apply.rule));
        RuleApplication applied = apply_flow_rule(std::move(working), rule->second, globals_);
        record_rule(applied, graph_name, support::cat("apply_rule#", t));
        working = std::move(applied.graph);
    }

    // Each rule of the set runs on the graph the rules before it produced.
    void apply_ruleset(const TransformIR::ApplyRuleset& ruleset, BeliefGraph& working,
                       const std::string& graph_name, std::size_t t) {
        BeliefGraph current = std::move(working);
        for (std::size_t r = 0; r < ruleset.rules.size(); ++r) {
            const auto rule = rules_.find(ruleset.rules[r]);
            if (rule == rules_.end()) {
                throw ExecError::internal(fill("unknown rule '{}' in ruleset", ruleset.rules[r]));
            }
            RuleApplication applied = apply_flow_rule(std::move(current), rule->second, globals_);
            record_rule(applied, graph_name, support::cat("apply_ruleset#", t, "[", r, "]"));
            current = std::move(applied.graph);
        }
        working = std::move(current);
    }

    void infer_beliefs(BeliefGraph& working, const std::string& graph_name, std::size_t t) {
        BeliefInference inferred = infer_flow_beliefs(std::move(working));
        result_.inference_diagnostics.push_back(InferenceDiagnosticEvent{
            flow_.name, graph_name, support::cat("infer_beliefs#", t), "loopy_sum_product",
            inferred.iterations_run, inferred.max_iterations, inferred.converged,
            inferred.final_max_message_delta, inferred.variable_count,
            inferred.connected_variable_count});
        working = std::move(inferred.graph);
    }

    // Drops the edges of the transform's type for which the predicate is not
    // exactly 0.0 (NaN drops); every node and every other edge stays.
    void prune_edges(const TransformIR::PruneEdges& prune, BeliefGraph& working,
                     const std::string& graph_name, std::size_t t) {
        EdgeClasses classes = classify_edges(working, prune.edge_type);
        sort_ascending(classes.candidates);
        std::vector<EdgeId> kept_candidates;
        kept_candidates.reserve(classes.candidates.size());
        for (const EdgeId edge : classes.candidates) {
            const double value = evaluator_.eval_prune_predicate(flow_.name, graph_name, t,
                                                                 prune.predicate, working, edge);
            if (value == 0.0) kept_candidates.push_back(edge);
        }
        const std::vector<EdgeId> kept = merge_ascending(classes.others, kept_candidates);
        BeliefGraph pruned = rebuild_pruned_graph(working, kept);
        working = std::move(pruned);
    }

    // Metrics in declaration order, each seeing the imports and the metrics
    // before it; then the metric exports.
    void evaluate_metrics() {
        if (flow_.metrics.empty() && flow_.metric_exports.empty() && flow_.metric_imports.empty()) {
            return;
        }
        if (flow_.graphs.empty()) {
            throw ExecError::internal("no graphs defined for metric evaluation");
        }
        const std::string& default_target = flow_.graphs.back().name;
        const metrics::MetricRegistry registry = metrics::MetricRegistry::with_builtins();
        MetricBindings bindings = import_metric_bindings(flow_, prior_);
        for (const ir::MetricDefIR& metric : flow_.metrics) {
            const std::string& target = metric.on_graph ? *metric.on_graph : default_target;
            const auto graph = result_.graphs.find(target);
            if (graph == result_.graphs.end()) {
                throw ExecError::internal(
                    fill("metric '{}' target graph '{}' missing", metric.name, target));
            }
            const double value = evaluator_.eval_metric_expr(flow_.name, metric.name, metric.expr,
                                                             graph->second, registry, bindings);
            result_.metrics.insert_or_assign(metric.name, value);
            bindings.insert_or_assign(metric.name, value);
        }
        for (const ir::MetricExportDefIR& exported : flow_.metric_exports) {
            const auto metric = result_.metrics.find(exported.metric);
            if (metric == result_.metrics.end()) {
                throw ExecError::internal(
                    fill("unknown metric '{}' in export_metric", exported.metric));
            }
            result_.metric_exports.insert_or_assign(exported.alias, metric->second);
        }
    }

    void handle_exports() {
        for (const ir::ExportDefIR& exported : flow_.exports) {
            const auto graph = result_.graphs.find(exported.graph);
            if (graph == result_.graphs.end()) {
                throw ExecError::internal(fill("unknown graph '{}' in export", exported.graph));
            }
            result_.exports.insert_or_assign(exported.alias, graph->second.clone());
        }
    }

    const ir::ProgramIR& program_;
    const ir::FlowIR& flow_;
    const FlowResult* prior_;
    Evaluator& evaluator_;
    const Evidence& evidence_;
    RuleIndex rules_;
    RuleGlobals globals_;  // what rules read: the imported metric values
    FlowResult result_;
};

template <FlowExprEvaluator Evaluator, typename Evidence>
FlowResult run_road(const ir::ProgramIR& optimized, std::string_view flow_name,
                    const FlowResult* prior, Evaluator& evaluator, const Evidence& evidence) {
    const ir::FlowIR& flow = find_flow(optimized, flow_name);
    return FlowRun<Evaluator, Evidence>(optimized, flow, prior, evaluator, evidence).run();
}

// The run_flow path on the optimized program: the backend's lock is taken
// once the program is optimized and held to the end of the run.
template <typename Evidence>
FlowResult run_optimized(CraneliftJitExecutionBackend& backend, const ir::ProgramIR& optimized,
                         std::string_view flow_name, const FlowResult* prior,
                         const Evidence& evidence) {
    CraneliftExprEvaluator evaluator = backend.lock();
    return run_road(optimized, flow_name, prior, evaluator, evidence);
}

// Builds a block of a prepared program through `build(block)`.
template <typename Build>
auto prepared_evidence(const PreparedProgram& program, const Build& build) {
    return [&program, &build](std::string_view name) {
        const frontend::ast::EvidenceDef* block = program.find_evidence(name);
        if (block == nullptr) throw unknown_evidence(name);
        return build(*block);
    };
}

// A non-owning handle on a program the caller keeps alive.
std::shared_ptr<const frontend::ast::ProgramAst> borrowed(
    const frontend::ast::ProgramAst& program) {
    return std::shared_ptr<const frontend::ast::ProgramAst>(
        std::shared_ptr<const frontend::ast::ProgramAst>(), &program);
}

}  // namespace

FlowResult run_flow(const PreparedProgram& program, std::string_view flow_name,
                    const FlowResult* prior) {
    CraneliftJitExecutionBackend backend;
    const auto build = [&program](const frontend::ast::EvidenceDef& block) {
        return program.build_evidence_graph(block);
    };
    return run_optimized(backend, program.optimized(), flow_name, prior,
                         prepared_evidence(program, build));
}

FlowResult run_flow(const frontend::ast::ProgramAst& program, std::string_view flow_name,
                    const FlowResult* prior) {
    return run_flow(PreparedProgram(borrowed(program)), flow_name, prior);
}

FlowResult run_flow_ir(const ir::ProgramIR& program, std::string_view flow_name,
                       const FlowResult* prior) {
    CraneliftJitExecutionBackend backend;
    return run_flow_ir(backend, program, flow_name, prior);
}

FlowResult run_flow_ir(CraneliftJitExecutionBackend& backend, const ir::ProgramIR& program,
                       std::string_view flow_name, const FlowResult* prior) {
    const ir::ProgramIR optimized = program.optimized();
    // Evidence blocks by name; of two blocks with one name the later counts.
    std::map<std::string_view, const ir::EvidenceIR*, std::less<>> blocks;
    for (const ir::EvidenceIR& block : optimized.evidences) {
        blocks.insert_or_assign(block.name, &block);
    }
    const auto evidence = [&](std::string_view name) {
        const auto it = blocks.find(name);
        if (it == blocks.end()) throw unknown_evidence(name);
        return build_graph_from_evidence_ir(*it->second, optimized);
    };
    return run_optimized(backend, optimized, flow_name, prior, evidence);
}

FlowResult run_flow_with_builder(const PreparedProgram& program, std::string_view flow_name,
                                 const EvidenceGraphBuilder& builder, const FlowResult* prior) {
    DirectExprEvaluator evaluator;
    return run_road(program.optimized(), flow_name, prior, evaluator,
                    prepared_evidence(program, builder));
}

FlowResult run_flow_with_builder(const frontend::ast::ProgramAst& program,
                                 std::string_view flow_name, const EvidenceGraphBuilder& builder,
                                 const FlowResult* prior) {
    return run_flow_with_builder(PreparedProgram(borrowed(program)), flow_name, builder, prior);
}

}  // namespace morvane::core::engine
