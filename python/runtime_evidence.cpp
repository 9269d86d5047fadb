#include "python/runtime_evidence.hpp"

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

}  // namespace morvane::python
