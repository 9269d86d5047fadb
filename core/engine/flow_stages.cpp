// The flow's view of the stages it calls (see flow_stages.hpp).
//
// Evidence graph construction, model selection, rule execution and belief
// propagation are not part of the engine yet; until they are, each call
// fails with an Internal error naming the missing stage.
#include "core/engine/flow_stages.hpp"

namespace morvane::core::engine {
namespace {

[[noreturn]] void not_available(std::string_view stage) {
    throw ExecError::internal(std::string(stage) + " is not available yet");
}

}  // namespace

BeliefGraph build_flow_evidence_graph(const ir::EvidenceIR&, const ir::ProgramIR&) {
    not_available("evidence graph construction");
}

std::string select_flow_model(std::span<const ModelCandidate>,
                              frontend::ast::ModelSelectionCriterion) {
    not_available("model selection");
}

RuleApplication apply_flow_rule(const BeliefGraph&, const frontend::ast::RuleDef&,
                                const metrics::MetricBindings&) {
    not_available("rule execution");
}

BeliefInference infer_flow_beliefs(const BeliefGraph&) {
    not_available("belief propagation");
}

}  // namespace morvane::core::engine
