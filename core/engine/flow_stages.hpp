// The engine stages a flow run calls: building a graph from an evidence
// block, choosing among candidate graphs, applying a rule and propagating
// beliefs.
//
// Each stage is seen here through the one call the flow executor makes of
// it, with a result shaped for the flow: the new graph, and the fields the
// flow copies into its events. The executor depends on these four calls
// (and the candidate type of model selection) only.
//
// All four throw ExecError; the input graphs are never changed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/engine/graph.hpp"
#include "core/engine/model_selection.hpp"
#include "core/engine/rule_expr_context.hpp"
#include "frontend/ast.hpp"
#include "ir/evidence.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {

// The name of the candidate with the best (lowest) score; candidates in the
// order the select_model expression names them.
std::string select_flow_model(std::span<const ModelCandidate> candidates,
                              frontend::ast::ModelSelectionCriterion criterion);

// One rule applied to a graph.
struct RuleApplication {
    BeliefGraph graph;
    std::string rule;                  // the rule's name
    std::string mode;                  // "for_each" or "fixpoint"
    std::size_t matches = 0;           // of the last pass
    std::size_t actions_executed = 0;  // matches times actions, saturating
};

// Runs `rule` over `graph`; the rule reads `globals` (the flow's imported
// metric values) besides its own variables.
RuleApplication apply_flow_rule(const BeliefGraph& graph, const frontend::ast::RuleDef& rule,
                                const RuleGlobals& globals);
// The same on a graph the caller gives up, so that a for_each pass whose
// input no other graph holds writes into its base instead of a copy.
RuleApplication apply_flow_rule(BeliefGraph&& graph, const frontend::ast::RuleDef& rule,
                                const RuleGlobals& globals);

// Loopy belief propagation with the fixed configuration of flows.
struct BeliefInference {
    BeliefGraph graph;
    std::size_t iterations_run = 0;
    std::size_t max_iterations = 0;
    bool converged = false;
    double final_max_message_delta = 0.0;
    std::size_t variable_count = 0;
    std::size_t connected_variable_count = 0;
};

BeliefInference infer_flow_beliefs(const BeliefGraph& graph);
// The same on a graph the caller gives up (see apply_flow_rule).
BeliefInference infer_flow_beliefs(BeliefGraph&& graph);

}  // namespace morvane::core::engine
