// Evidence blocks: the belief model they observe, and each edge observation
// against how the model declares that edge. An independent edge is observed
// present or absent; a competing edge (a categorical existence posterior)
// is chosen, unchosen or forced.
#include <cmath>

#include "frontend/debug_text.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/validate/declaration_checks.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::EvidenceMode;
using support::fill;

const ast::BeliefModel* find_model(const ast::ProgramAst& program, std::string_view name) {
    for (const ast::BeliefModel& model : program.belief_models) {
        if (model.name == name) return &model;
    }
    return nullptr;
}

const ast::EdgeBeliefDecl* find_edge_block(const ast::BeliefModel& model, std::string_view type) {
    for (const ast::EdgeBeliefDecl& block : model.edges) {
        if (block.edge_type == type) return &block;
    }
    return nullptr;
}

// An edge type the model does not declare may be observed with any mode.
void check_edge(const ast::BeliefModel& model, const ast::ObserveStmt::Edge& edge,
                const Site& site) {
    const ast::EdgeBeliefDecl* block = find_edge_block(model, edge.edge_type);
    if (!block) return;
    const bool competing = std::holds_alternative<ast::PosteriorType::Categorical>(block->exist.node);
    const EvidenceMode mode = edge.mode;
    if (!competing && mode != EvidenceMode::Present && mode != EvidenceMode::Absent) {
        site.fail(fill("Edge '{}' is independent; use 'present' or 'absent', not '{}'",
                       edge.edge_type, evidence_mode_name(mode)));
    }
    if (competing && mode != EvidenceMode::Chosen && mode != EvidenceMode::Unchosen &&
        mode != EvidenceMode::ForcedChoice) {
        site.fail(fill("Edge '{}' has competing posterior; use 'chosen', 'unchosen', or "
                       "'forced_choice', not '{}'",
                       edge.edge_type, evidence_mode_name(mode)));
    }
}

void check_edge_weight(const ast::BeliefModel& model, const ast::ObserveStmt::EdgeWeight& edge,
                       const Site& site) {
    const ast::EdgeBeliefDecl* block = find_edge_block(model, edge.edge_type);
    if (!block) {
        site.fail(
            fill("Edge '{}' is not declared in belief model '{}'", edge.edge_type, model.name));
    }
    if (!block->weight) {
        site.fail(fill("Edge '{}' does not declare a weight posterior but evidence observes weight",
                       edge.edge_type));
    }
    if (!std::holds_alternative<ast::PosteriorType::Gaussian>(block->weight->node)) {
        site.fail(fill("Edge '{}.weight' must use GaussianPosterior, got {}", edge.edge_type,
                       debug_text(*block->weight)));
    }
    if (edge.precision && !(std::isfinite(*edge.precision) && *edge.precision > 0)) {
        site.fail(fill("Edge weight precision must be finite and > 0, got {}",
                       support::plain_number(*edge.precision)));
    }
}

}  // namespace

void check_evidence(const ast::ProgramAst& program, size_t index, const ValidationSourceMap* map) {
    const ast::EvidenceDef& evidence = program.evidences[index];
    Site site = Site::evidence(evidence.name);
    site.at(map, map ? map->evidence(index) : std::nullopt);

    const ast::BeliefModel* model = find_model(program, evidence.on_model);
    if (!model) {
        site.fail(fill("Evidence '{}' references unknown belief model '{}'", evidence.name,
                       evidence.on_model));
    }
    for (const ast::ObserveStmt& observation : evidence.observations) {
        if (const auto* edge = std::get_if<ast::ObserveStmt::Edge>(&observation.node)) {
            check_edge(*model, *edge, site);
        } else if (const auto* weight = std::get_if<ast::ObserveStmt::EdgeWeight>(&observation.node)) {
            check_edge_weight(*model, *weight, site);
        }
    }
}

}  // namespace morvane::frontend::validate
