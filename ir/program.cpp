// Lowering of a whole program: each list in order, each element by the
// lowering of its kind.
#include "ir/program.hpp"

#include <utility>

#include "ir/optimize.hpp"

namespace morvane::ir {

ProgramIR ProgramIR::from(const ast::ProgramAst& program) {
    ProgramIR out = from_without_observations(program);
    for (std::size_t i = 0; i < program.evidences.size(); ++i) {
        out.evidences[i] = EvidenceIR::from(program.evidences[i]);
    }
    return out;
}

ProgramIR ProgramIR::from_without_observations(const ast::ProgramAst& program) {
    ProgramIR out{program.schemas, program.belief_models, {}, {}, {}};
    out.evidences.reserve(program.evidences.size());
    for (const auto& e : program.evidences) {
        out.evidences.push_back(EvidenceIR{e.name, e.on_model, {}, {}});
    }
    out.rules.reserve(program.rules.size());
    for (const auto& r : program.rules) out.rules.push_back(RuleIR::from(r));
    out.flows.reserve(program.flows.size());
    for (const auto& f : program.flows) out.flows.push_back(FlowIR::from(f));
    return out;
}

ProgramIR ProgramIR::optimized() const& { return optimize_program(*this); }

ProgramIR ProgramIR::optimized() && { return optimize_program(std::move(*this)); }

}  // namespace morvane::ir
