#include "core/engine/prepared_program.hpp"

#include <utility>

#include "core/engine/evidence.hpp"

namespace morvane::core::engine {

PreparedProgram::PreparedProgram(std::shared_ptr<const frontend::ast::ProgramAst> program)
    : ast_(std::move(program)),
      optimized_(ir::ProgramIR::from_without_observations(*ast_).optimized()),
      indexes_(std::make_unique<IndexSlot[]>(ast_->evidences.size())) {
    for (std::size_t i = 0; i < ast_->evidences.size(); ++i) {
        blocks_by_name_.insert_or_assign(ast_->evidences[i].name, i);
    }
}

const frontend::ast::EvidenceDef* PreparedProgram::find_evidence(std::string_view name) const {
    const auto it = blocks_by_name_.find(name);
    return it == blocks_by_name_.end() ? nullptr : &ast_->evidences[it->second];
}

const EvidenceIndex& PreparedProgram::index_of(const frontend::ast::EvidenceDef& block) const {
    IndexSlot& slot = indexes_[static_cast<std::size_t>(&block - ast_->evidences.data())];
    std::call_once(slot.made,
                   [&] { slot.index = index_evidence(ObservationList(block.observations)); });
    return *slot.index;
}

BeliefGraph PreparedProgram::build_evidence_graph(const frontend::ast::EvidenceDef& block) const {
    const EvidenceContext context = resolve_evidence_context(
        block.name, block.on_model, ast_->belief_models, ast_->schemas);
    return build_graph_from_index(index_of(block), ObservationList(block.observations),
                                  context.model, context.schema);
}

}  // namespace morvane::core::engine
