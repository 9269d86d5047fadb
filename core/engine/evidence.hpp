// Evidence graphs: an evidence block, together with the belief model it names
// and the schema that model is declared on, becomes a new belief graph.
//
// This is the only place where the engine makes nodes and edges out of
// observations, so the shape of every evidence graph is fixed here:
//   - one node per distinct (node type, label), with NodeIds 0, 1, 2, ... in
//     ascending byte order of (node type, label), whatever the order of the
//     observations; every node carries all attributes of its schema type;
//   - one edge per distinct (source, destination, edge type) that an edge or
//     edge-weight observation names, with EdgeIds in order of first mention;
//   - one competing group per (source, edge type) of a categorical edge type,
//     with CompetingGroupIds in the order in which a group is first needed;
//     its categories are all destinations observed for it, ascending.
// The observations then update the posteriors in four passes, whatever their
// place in the block: competing choices (chosen, unchosen, forced choice) in
// written order; present/absent by ascending edge id; edge weights by
// ascending edge id; attributes by ascending node id and then attribute name
// (bytes). Observations of one edge, or of one node attribute, keep their
// written order.
//
// Evidence supplied at run time never passes the validator, so every check is
// made here again, in this module's own words. Errors are thrown as ExecError:
// this module's checks are Validation errors, errors of the graph store keep
// their own category, and the first error ends the construction. The result
// is materialised (no pending changes).
//
// The names of the observations are resolved by an EvidenceIndex
// (evidence_index.hpp), which a caller may make once and replay: a program
// indexes each of its blocks once for all its runs.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/engine/evidence_index.hpp"
#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"
#include "ir/evidence.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {

using frontend::ast::BeliefModel;
using frontend::ast::EdgeBeliefDecl;
using frontend::ast::EdgeDef;
using frontend::ast::EvidenceDef;
using frontend::ast::ObserveStmt;
using frontend::ast::ProgramAst;
using frontend::ast::Schema;

// The graph of `evidence`, with the belief model it names looked up in
// `program` (see resolve_evidence_context).
BeliefGraph build_graph_from_evidence(const EvidenceDef& evidence, const ProgramAst& program);

// The same for a lowered block and program.
BeliefGraph build_graph_from_evidence_ir(const ir::EvidenceIR& evidence,
                                         const ir::ProgramIR& program);

// The belief model and schema an evidence block builds on, both borrowed
// from the lists passed in.
struct EvidenceContext {
    const BeliefModel& model;
    const Schema& schema;
};

// The first belief model named `model_name` and the first schema named by
// its `on_schema`. Validation "Evidence '{}' references unknown belief model
// '{}'" or "Belief model '{}' references unknown schema '{}'".
EvidenceContext resolve_evidence_context(std::string_view evidence_name,
                                         std::string_view model_name,
                                         std::span<const BeliefModel> models,
                                         std::span<const Schema> schemas);

// The graph of `observations` on `model` and its `schema`. No message names
// the evidence block.
BeliefGraph build_graph_from_evidence_with_context(std::span<const ObserveStmt> observations,
                                                   const BeliefModel& model, const Schema& schema);

// The same for observations whose index is `index` (made from these very
// observations).
BeliefGraph build_graph_from_index(const EvidenceIndex& index, const ObservationList& observations,
                                   const BeliefModel& model, const Schema& schema);

}  // namespace morvane::core::engine
