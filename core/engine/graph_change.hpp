// How far two graphs lie apart: the convergence measure of fixpoint rules.
#pragma once

#include "core/engine/graph.hpp"

namespace morvane::core::engine {

// The largest change between `a` and `b`, both read as their readers see
// them (every pending change applied, as materialisation would apply it;
// neither graph is materialised):
//   - nodes, position by position over the shorter list: +inf as soon as the
//     ids at a position differ; otherwise |mean in a - mean in b| of every
//     attribute the two records share by name (precisions are not compared);
//   - edges likewise: +inf on different ids, otherwise |p_a - p_b| of the
//     mean existence probabilities (one that cannot be computed counts as 0).
// Records beyond the shorter list are not compared; a NaN difference is
// ignored; two graphs without a difference give 0.
double compute_max_change(const BeliefGraph& a, const BeliefGraph& b);

}  // namespace morvane::core::engine
