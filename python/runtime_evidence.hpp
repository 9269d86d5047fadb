// Run-time observations joined to a program's evidence block.
//
// A run made with an Evidence object builds each evidence graph of its flow
// from the program's block; a block on the Evidence's belief model first
// takes the run-time observations after its own, under a name of its own.
// This file holds that merge and the builder a run calls with each block; it
// touches no Python object, since runs call it without the interpreter lock.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/flow_exec.hpp"
#include "frontend/ast.hpp"

namespace morvane::python {

// When `block` is declared on `model` (exact bytes): a new block named
// "{block name}_merged_runtime" on the same model, holding the block's
// observations followed by `runtime`, with an empty body text. Otherwise
// none, and the block is used unchanged.
std::optional<frontend::ast::EvidenceDef> merge_runtime_observations(
    const frontend::ast::EvidenceDef& block, std::string_view model,
    std::span<const frontend::ast::ObserveStmt> runtime);

// The evidence graph builder of a run: it owns `model` and `observations`
// (copies taken when the run starts) and builds each block it is given,
// merged as above, from `program`, the compiled tree of the Program the run
// was made from. Errors of the graph construction end the run.
core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<frontend::ast::ObserveStmt> observations,
    std::shared_ptr<const frontend::ast::ProgramAst> program);

}  // namespace morvane::python
