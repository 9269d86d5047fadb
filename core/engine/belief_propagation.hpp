// Loopy belief propagation over a graph's independent edges.
//
// Every independent edge is a binary variable (absent / present) whose own
// Beta posterior is its prior evidence. Edges of one type that leave the same
// node, or enter the same node, are coupled pairwise: factor e^c when both
// agree and e^-c otherwise, so a positive coupling c pulls a group towards
// all present or all absent. The model is solved approximately by damped,
// synchronous sum-product propagation in the log domain, and each edge's
// marginal is written back into its Beta posterior without changing the
// posterior's total pseudo-count. Competing edges and node attributes are
// left untouched.
#pragma once

#include <cstddef>
#include <utility>

#include "core/engine/graph.hpp"

namespace morvane::core::engine {

struct BeliefPropagationConfig {
    std::size_t max_iterations = 0;     // sweeps at most; must be > 0
    double damping = 0.0;               // weight of the previous message, in [0, 1)
    double convergence_tolerance = 0.0; // finite and > 0
    double coupling_strength = 0.0;     // c of the pairwise factor; finite, any sign

    friend bool operator==(const BeliefPropagationConfig&,
                           const BeliefPropagationConfig&) = default;
};

struct BeliefPropagationDiagnostics {
    std::size_t max_iterations = 0;        // the configured limit
    std::size_t iterations_run = 0;        // sweeps performed
    double final_max_message_delta = 0.0;  // largest message change of the last sweep
    std::size_t variable_count = 0;        // independent edges
    std::size_t connected_variable_count = 0;  // variables with at least one neighbour
    bool converged = false;

    friend bool operator==(const BeliefPropagationDiagnostics&,
                           const BeliefPropagationDiagnostics&) = default;
};

// Runs propagation on a materialised copy of `graph` and returns that copy,
// with every independent edge's posterior revised, and the diagnostics. The
// input graph is not changed.
//
// Throws ExecError: Validation for a configuration outside the ranges above
// (checked in field order, before any work); Validation "infer_beliefs:
// update produced non-finite value: {} for edge {}" when an edge's finite
// alpha and beta sum beyond the largest double, so that no finite posterior
// keeps their total; Internal when one of the construction's own
// invariants breaks.
//
// Cost: setup linear in the number of messages (k(k-1) per group of k coupled
// edges); each sweep linear in the number of messages; nothing allocated per
// sweep.
std::pair<BeliefGraph, BeliefPropagationDiagnostics>
run_loopy_belief_propagation_with_config_diagnostics(const BeliefGraph& graph,
                                                     const BeliefPropagationConfig& config);
// The same on a graph the caller gives up: when no other graph holds its
// base, the result is written into that base instead of a copy.
std::pair<BeliefGraph, BeliefPropagationDiagnostics>
run_loopy_belief_propagation_with_config_diagnostics(BeliefGraph&& graph,
                                                     const BeliefPropagationConfig& config);

}  // namespace morvane::core::engine
