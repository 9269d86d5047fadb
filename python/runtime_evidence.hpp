// Run-time observations joined to a program's evidence block.
//
// A run made with an Evidence object builds each evidence graph of its flow
// from the program's block; a block on the Evidence's belief model first
// takes the run-time observations after its own, under a name of its own.
// This file holds that merge; it touches no Python object, since runs call it
// without the interpreter lock.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "frontend/ast.hpp"

namespace morvane::python {

// When `block` is declared on `model` (exact bytes): a new block named
// "{block name}_merged_runtime" on the same model, holding the block's
// observations followed by `runtime`, with an empty body text. Otherwise
// none, and the block is used unchanged.
std::optional<frontend::ast::EvidenceDef> merge_runtime_observations(
    const frontend::ast::EvidenceDef& block, std::string_view model,
    std::span<const frontend::ast::ObserveStmt> runtime);

}  // namespace morvane::python
