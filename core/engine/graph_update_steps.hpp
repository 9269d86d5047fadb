// The arithmetic and the checks of the posterior updates, apart from where
// their values are read and written.
//
// BeliefGraph's updates (graph.hpp) read the current value through pending
// changes and record or write the new one; the evidence builder applies the
// same updates straight to the records of a graph it is making. Both go
// through these steps, so the numbers, the order of the checks and every
// error text are the same on both roads.
//
// Each step throws ExecError with the text of the update it belongs to and
// changes nothing when it throws.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/engine/graph_ids.hpp"
#include "core/engine/graph_records.hpp"

namespace morvane::frontend::ast {
struct VarianceSpec;
}

namespace morvane::core::engine::update_steps {

// Internal "missing attr '{}'", "missing edge".
ExecError missing_attr(std::string_view attr);
ExecError missing_edge();

// Conjugate update of `current` by an observation of precision max(p, 1e-12).
GaussianPosterior observe_attr(GaussianPosterior current, double value, double precision,
                               NodeId node, std::string_view attr);
// The same with precision max(max(p, 1e-12) * max(count, 1), 1e-12).
GaussianPosterior soft_update(GaussianPosterior current, double value, double precision,
                              double count, NodeId node, std::string_view attr);
// The mean becomes `value`; the precision is kept or scaled (graph.hpp).
GaussianPosterior nudge(GaussianPosterior current, const frontend::ast::VarianceSpec& variance,
                        double value, NodeId node, std::string_view attr);

// The Beta posterior of an independent edge after a present or absent
// observation; Validation for a competing edge.
EdgePosterior::Independent observe_edge(const EdgePosterior& current, bool present, EdgeId edge);

// The edge's category `k` gains one (chosen); the other category of a binary
// group gains one (unchosen); every category becomes 1 and `k` 1e6 (forced).
// `k` beyond the group panics for chosen and forced, and is a Validation
// error for unchosen, as is a group of other than two categories.
void observe_chosen(DirichletPosterior& group, std::size_t k, EdgeId edge);
void observe_unchosen(DirichletPosterior& group, std::size_t k, EdgeId edge);
void observe_forced_choice(DirichletPosterior& group, std::size_t k);

// Validation unless an edge-weight observation's precision is finite and > 0.
void check_weight_precision(double precision);
// Conjugate update of an edge's weight posterior (precision already checked).
GaussianPosterior observe_weight(GaussianPosterior current, double value, double precision,
                                 EdgeId edge);
// Validation "edge {} does not declare a continuous weight posterior".
ExecError no_weight_posterior(EdgeId edge);

}  // namespace morvane::core::engine::update_steps
