// The flow's view of the stages it calls (see flow_stages.hpp): each call
// passes the flow's arguments on and reshapes the stage's result.
#include "core/engine/flow_stages.hpp"

#include "core/engine/belief_propagation.hpp"
#include "core/engine/evidence.hpp"
#include "core/engine/rule_exec.hpp"

namespace morvane::core::engine {
namespace {

// Every infer_beliefs transform of a flow runs with this configuration; the
// language has no way to change it.
constexpr BeliefPropagationConfig kFlowPropagation{32, 0.35, 1e-5, 0.6};

}  // namespace

std::string select_flow_model(std::span<const ModelCandidate> candidates,
                              frontend::ast::ModelSelectionCriterion criterion) {
    return select_best_graph(candidates, criterion).name;
}

namespace {

RuleApplication application(RuleOutcome outcome) {
    return {std::move(outcome.graph), std::move(outcome.audit.rule), std::move(outcome.audit.mode),
            outcome.audit.matches, outcome.audit.actions_executed};
}

BeliefInference inference(std::pair<BeliefGraph, BeliefPropagationDiagnostics> run) {
    auto& [inferred, d] = run;
    return {std::move(inferred),       d.iterations_run, d.max_iterations,          d.converged,
            d.final_max_message_delta, d.variable_count, d.connected_variable_count};
}

}  // namespace

RuleApplication apply_flow_rule(const BeliefGraph& graph, const frontend::ast::RuleDef& rule,
                                const RuleGlobals& globals) {
    return application(run_rule_with_globals_audit(graph, rule, globals));
}

RuleApplication apply_flow_rule(BeliefGraph&& graph, const frontend::ast::RuleDef& rule,
                                const RuleGlobals& globals) {
    return application(run_rule_with_globals_audit(std::move(graph), rule, globals));
}

BeliefInference infer_flow_beliefs(const BeliefGraph& graph) {
    return inference(run_loopy_belief_propagation_with_config_diagnostics(graph, kFlowPropagation));
}

BeliefInference infer_flow_beliefs(BeliefGraph&& graph) {
    return inference(
        run_loopy_belief_propagation_with_config_diagnostics(std::move(graph), kFlowPropagation));
}

}  // namespace morvane::core::engine
