// What a generated program declares, shared by the parts of the generator:
// node types with their attributes, edge types with their endpoints and
// posterior kind, and the names of evidence blocks and rules.
//
// Programs are generated coherently against it (patterns follow the
// declared endpoints, attributes belong to their node type), so that rules
// find matches and metrics read real values; deliberate departures are rare
// and declared as causes (fuzz_outcome.hpp) when the language answers them
// with an Internal error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::fuzz::flowgen {

struct NodeType {
    std::string name;
    std::vector<std::string> attrs;
};

struct EdgeType {
    std::string name;
    std::size_t src = 0;  // node type indexes
    std::size_t dst = 0;
    bool competing = false;
    bool weighted = false;
    // Competing edges: the length of the explicit prior (every group must
    // then have exactly that many destinations), 0 for a uniform prior.
    std::size_t explicit_k = 0;
    // Competing edges: the labels a destination may have; empty when the
    // model does not restrict them.
    std::vector<std::string> categories;
    // Some evidence block gives one node many edges of this type. Rules keep
    // such types out of joins and fixpoints, whose cost grows with the
    // product of the matches (and the run's time with it).
    bool hub = false;
};

struct Vocabulary {
    std::vector<NodeType> nodes;
    std::vector<EdgeType> edges;
    std::vector<std::string> evidences;
    std::vector<std::string> rules;
    // Every attribute name of every node type.
    std::vector<std::string> all_attrs;
    // Causes of Internal errors the program may meet (fuzz_outcome.hpp).
    uint32_t causes = 0;
};

// Node labels of evidence: identifiers and numbers ("010" is a label of
// its own, not 10).
inline const std::vector<std::string>& label_pool() {
    static const std::vector<std::string> labels = {"n0", "n1", "n2", "n3", "n4", "n5", "7", "010"};
    return labels;
}

inline bool is_numeric_label(const std::string& label) {
    return !label.empty() && label[0] >= '0' && label[0] <= '9';
}

}  // namespace morvane::fuzz::flowgen
