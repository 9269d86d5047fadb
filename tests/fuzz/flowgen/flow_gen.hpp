// Flows of a generated program: graphs, metrics, exports and imports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/flowgen/choices.hpp"
#include "tests/fuzz/flowgen/vocabulary.hpp"

namespace morvane::fuzz::flowgen {

// What a flow holds, for the tallies of the fuzz target.
enum FlowFeature : uint32_t {
    kRules = 1u << 0,
    kInference = 1u << 1,
    kPrune = 1u << 2,
    kSnapshot = 1u << 3,
    kSelectModel = 1u << 4,
    kFromGraph = 1u << 5,
    kImport = 1u << 6,
};

// What a flow leaves for the flows after it.
struct FlowSummary {
    std::string name;
    std::vector<std::string> graph_aliases;   // its exports and snapshots
    std::vector<std::string> metric_aliases;  // its metric exports
    uint32_t features = 0;
};

// "flow {name} on M { ... }": graphs from evidence, from an earlier flow's
// export or snapshot, by select_model, or by pipelines of the five
// transforms; metrics in every form (node pipelines with where, order_by,
// sum, avg, count and fold; the metric functions called directly;
// arithmetic over earlier and imported metrics); graph and metric exports;
// imports of earlier flows' metric exports. Causes of Internal errors the
// flow may meet are added to `v.causes`.
FlowSummary write_flow(std::string& out, Choices& c, Vocabulary& v, const std::string& name,
                       const std::vector<FlowSummary>& earlier);

}  // namespace morvane::fuzz::flowgen
