// Choosing the best of several candidate graphs by an information criterion.
//
// A graph is scored from its edge beliefs alone: every independent edge is one
// Bernoulli parameter whose data are its two pseudo-counts, every competing
// group one categorical choice with K - 1 parameters whose data are its
// concentrations. The log-likelihood is that of the pseudo-counts at their own
// proportions, and the criterion (AIC or BIC) adds the penalty for the
// parameters. Lower scores are better.
//
// Scores of graphs are only comparable when the graphs rest on the same amount
// of evidence, so selection refuses candidates whose total pseudo-counts
// differ. Errors are thrown as ExecError.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

using frontend::ast::ModelSelectionCriterion;

struct EdgeModelScore {
    double log_likelihood = 0.0;
    double parameter_count = 0.0;        // a whole number
    double effective_sample_size = 0.0;  // the total pseudo-count
    double score = 0.0;                  // lower is better
};

// The score of `graph` under `criterion`, pending changes included; the graph
// is not changed. Internal "missing competing group {id} while scoring model"
// for a competing edge whose group the graph lacks.
EdgeModelScore score_graph_edges(const BeliefGraph& graph, ModelSelectionCriterion criterion);

struct ModelCandidate {
    std::string_view name;
    const BeliefGraph& graph;
};

struct SelectedModel {
    std::string name;
    EdgeModelScore score;
};

// The candidate with the lowest score; scores within 1e-12 of each other tie
// and the byte-wise smaller name wins a tie (the earlier candidate when the
// names are equal). Validation errors: an empty list; a candidate whose sample
// size is not above 1e-9; a candidate whose sample size differs from the
// first one's by more than max(|n0|, 1) * 1e-9. Scoring errors pass through.
SelectedModel select_best_graph(std::span<const ModelCandidate> candidates,
                                ModelSelectionCriterion criterion);

}  // namespace morvane::core::engine
