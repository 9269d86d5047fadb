// The order in which a multi-pattern rule joins its patterns.
//
// The join binds the variables of one pattern after another, so a pattern
// that matches few edges is best visited early: every later pattern then only
// looks at the candidates that fit the nodes already bound. The estimate of a
// pattern's matches reads the graph's base alone (pending changes are not
// counted); the plan only orders the work, never what matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

struct PatternSelectivity {
    std::size_t index = 0;  // the pattern's position in the rule
    uint64_t estimated_matches = 0;
    double cost = 0.0;
};

struct QueryPlan {
    std::vector<std::size_t> order;                 // pattern positions by ascending cost
    std::vector<PatternSelectivity> selectivities;  // in the same order
};

// With E the base edges of the pattern's type, N the base nodes, S and D the
// base nodes of its source and destination labels: no match expected when
// E = 0, else max((S/N)(D/N) E, 1) truncated (the fraction counting as 0 when S
// or D is 0). The cost adds 0.001 per position, so that of two patterns with
// the same estimate the earlier one comes first.
QueryPlan plan_query(std::span<const frontend::ast::PatternItem> patterns,
                     const BeliefGraph& graph);

}  // namespace morvane::core::engine
