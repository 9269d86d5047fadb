#include "python/runtime_evidence.hpp"

#include <utility>

#include "core/engine/evidence.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::python {

namespace ast = frontend::ast;

std::optional<ast::EvidenceDef> merge_runtime_observations(
    const ast::EvidenceDef& block, std::string_view model,
    std::span<const ast::ObserveStmt> runtime) {
    if (block.on_model != model) return std::nullopt;
    ast::EvidenceDef merged;
    merged.name = support::fill("{}_merged_runtime", block.name);
    merged.on_model = block.on_model;
    merged.observations.reserve(block.observations.size() + runtime.size());
    merged.observations.insert(merged.observations.end(), block.observations.begin(),
                               block.observations.end());
    merged.observations.insert(merged.observations.end(), runtime.begin(), runtime.end());
    return merged;
}

core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<ast::ObserveStmt> observations,
    std::shared_ptr<const ast::ProgramAst> program) {
    return [model = std::move(model), observations = std::move(observations),
            program = std::move(program)](const ast::EvidenceDef& block) {
        if (auto merged = merge_runtime_observations(block, model, observations)) {
            return core::engine::build_graph_from_evidence(*merged, *program);
        }
        return core::engine::build_graph_from_evidence(block, *program);
    };
}

}  // namespace morvane::python
