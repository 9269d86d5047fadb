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
#include "core/engine/prepared_program.hpp"
#include "frontend/ast.hpp"

namespace morvane::python {

// When `block` is declared on `model` (exact bytes): the block a run builds
// in its place, named "{block name}_merged_runtime", on the same model,
// holding the block's observations followed by `runtime`, with an empty body
// text. Otherwise none, and the block is used unchanged. (The builder below
// builds this block's graph without writing the block out.)
std::optional<frontend::ast::EvidenceDef> merge_runtime_observations(
    const frontend::ast::EvidenceDef& block, std::string_view model,
    std::span<const frontend::ast::ObserveStmt> runtime);

// The evidence graph builder of a run: it owns `model` and `observations`
// (copies taken when the run starts) and builds each block it is given,
// merged as above, on the belief models of `program`, the prepared program
// the run was made from. A block left unchanged is built through the
// program's index of it. Errors of the graph construction end the run.
core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<frontend::ast::ObserveStmt> observations,
    std::shared_ptr<const core::engine::PreparedProgram> program);

// The same for a compiled tree, prepared for the builder's own use.
core::engine::EvidenceGraphBuilder runtime_evidence_builder(
    std::string model, std::vector<frontend::ast::ObserveStmt> observations,
    std::shared_ptr<const frontend::ast::ProgramAst> program);

}  // namespace morvane::python
