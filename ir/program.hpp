// A whole program in the intermediate representation.
//
// A flow run works from the optimized copy of the lowered program. Schemas
// and belief models are kept as tree values (independent deep copies).
#pragma once

#include <vector>

#include "frontend/ast.hpp"
#include "ir/evidence.hpp"
#include "ir/flow.hpp"
#include "ir/rule.hpp"

namespace morvane::ir {

struct ProgramIR {
    std::vector<ast::Schema> schemas;
    std::vector<ast::BeliefModel> belief_models;
    std::vector<EvidenceIR> evidences;
    std::vector<RuleIR> rules;
    std::vector<FlowIR> flows;
    bool operator==(const ProgramIR&) const = default;

    // Lowers every declaration, in order; the tree is only read.
    static ProgramIR from(const ast::ProgramAst& program);
    // The same, except that evidence blocks keep only their names and belief
    // models: for runs that read the observations from the tree itself.
    static ProgramIR from_without_observations(const ast::ProgramAst& program);

    // The optimized copy (see ir/optimize.hpp); this program is unchanged.
    ProgramIR optimized() const&;
    // The same from a program that is used up by it.
    ProgramIR optimized() &&;
};

}  // namespace morvane::ir
