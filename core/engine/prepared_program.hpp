// A compiled program together with what every run of it needs and no run
// changes, made once instead of at every run:
//   - the lowered and optimized program; its evidence blocks keep only their
//     names, since runs read observations from the tree itself;
//   - the evidence blocks by name;
//   - the index of each evidence block (evidence_index.hpp), made when a run
//     first builds the block's graph.
//
// A program never changes once compiled, so all of this is shared
// read-only by every run of it, on any thread and at the same time; the one
// thing made after construction, a block's index, is made once under
// std::call_once. Nothing here can fail: lowering, optimizing and indexing
// report no errors (a run's errors come from its own steps, every run).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "core/engine/evidence_index.hpp"
#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {

class PreparedProgram {
public:
    explicit PreparedProgram(std::shared_ptr<const frontend::ast::ProgramAst> program);
    PreparedProgram(const PreparedProgram&) = delete;
    PreparedProgram& operator=(const PreparedProgram&) = delete;

    const frontend::ast::ProgramAst& ast() const noexcept { return *ast_; }
    const ir::ProgramIR& optimized() const noexcept { return optimized_; }

    // The evidence block named `name` (of two with one name, the later), or
    // nullptr.
    const frontend::ast::EvidenceDef* find_evidence(std::string_view name) const;

    // The graph of `block`, one of ast().evidences, on the belief model it
    // names. Throws the ExecError of the construction (evidence.hpp).
    BeliefGraph build_evidence_graph(const frontend::ast::EvidenceDef& block) const;

private:
    const EvidenceIndex& index_of(const frontend::ast::EvidenceDef& block) const;

    struct IndexSlot {
        std::once_flag made;
        std::optional<EvidenceIndex> index;
    };

    std::shared_ptr<const frontend::ast::ProgramAst> ast_;
    ir::ProgramIR optimized_;
    std::map<std::string_view, std::size_t, std::less<>> blocks_by_name_;
    std::unique_ptr<IndexSlot[]> indexes_;  // one per block of ast().evidences
};

}  // namespace morvane::core::engine
