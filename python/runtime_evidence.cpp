#include "python/runtime_evidence.hpp"

#include <utility>

#include "core/engine/evidence.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::python {

namespace ast = frontend::ast;

namespace {

bool merges(const ast::EvidenceDef& block, std::string_view model) {
    return block.on_model == model;
}

std::string merged_name(const ast::EvidenceDef& block) {
    return support::fill("{}_merged_runtime", block.name);
}

}  // namespace

std::optional<ast::EvidenceDef> merge_runtime_observations(
    const ast::EvidenceDef& block, std::string_view model,
    std::span<const ast::ObserveStmt> runtime) {
    if (!merges(block, model)) return std::nullopt;
    ast::EvidenceDef merged;
    merged.name = merged_name(block);
    merged.on_model = block.on_model;
    merged.observations.reserve(block.observations.size() + runtime.size());
    merged.observations.insert(merged.observations.end(), block.observations.begin(),
                               block.observations.end());
    merged.observations.insert(merged.observations.end(), runtime.begin(), runtime.end());
    return merged;
}

core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<ast::ObserveStmt> observations,
    std::shared_ptr<const core::engine::PreparedProgram> program) {
    namespace engine = core::engine;
    return [model = std::move(model), observations = std::move(observations),
            program = std::move(program)](const ast::EvidenceDef& block) {
        if (!merges(block, model)) return program->build_evidence_graph(block);
        const ast::ProgramAst& tree = program->ast();
        const engine::EvidenceContext context = engine::resolve_evidence_context(
            merged_name(block), block.on_model, tree.belief_models, tree.schemas);
        const engine::ObservationList merged(block.observations, observations);
        return engine::build_graph_from_index(engine::index_evidence(merged), merged,
                                              context.model, context.schema);
    };
}

core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<ast::ObserveStmt> observations,
    std::shared_ptr<const ast::ProgramAst> program) {
    return runtime_evidence_builder(
        std::move(model), std::move(observations),
        std::make_shared<const core::engine::PreparedProgram>(std::move(program)));
}

}  // namespace morvane::python
