// The checks of each declaration kind.
//
// validate_program_internal (validate.hpp) runs them in a fixed order:
// every belief model, then every evidence block, then every rule, then
// every flow, each list in source order, and stops at the first violation.
// Names the builders left as text are resolved here by exact, case-sensitive
// lookup, the first declaration of a name winning. `index` is the
// declaration's position in its list, which is also its entry in the source
// map (null when positions are unknown).
#pragma once

#include <cstddef>

#include "frontend/ast.hpp"
#include "frontend/validate/source_map.hpp"

namespace morvane::frontend::validate {

// Schema references, attribute posteriors and their parameters,
// correlations, edge posteriors, repeated declarations.
void check_belief_model(const ast::ProgramAst& program, size_t index,
                        const ValidationSourceMap* map);

// The belief model named, and each edge observation against the edge's
// posterior family.
void check_evidence(const ast::ProgramAst& program, size_t index, const ValidationSourceMap* map);

// The mode word, the where-expression and every action against the rule's
// variables.
void check_rule(const ast::RuleDef& rule, size_t index, const ValidationSourceMap* map);

// Prune predicates, select_model candidates, metric targets and metric
// expressions.
void check_flow(const ast::FlowDef& flow, size_t index, const ValidationSourceMap* map);

}  // namespace morvane::frontend::validate
