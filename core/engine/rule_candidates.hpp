// The edges a graph pattern may match, for rule matching and exists tests.
//
// A pattern (src:S)-[e:T]->(dst:D) can only match an edge of type T whose end
// nodes carry the labels S and D. Matching sees the graph as its readers do:
// every edge record of the base and every pending insertion, a later record
// of an id replacing an earlier one (pending changes of an edge's posterior
// do not matter here). Candidates always come in ascending edge id; that order
// is the order of matches and of exists tests, so it is part of what users see.
//
// Everything here only reads the graph and keeps pointers into it: use it
// while the graph is not written.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

// One edge a pattern may match.
struct EdgeMatchCandidate {
    EdgeId edge;
    NodeId src;
    NodeId dst;
    friend bool operator==(const EdgeMatchCandidate&, const EdgeMatchCandidate&) = default;
};

// The graph's edges grouped by type. A type's group is collected on its first
// request (one scan of the edges) and kept for the life of the index.
class EdgeCandidateIndex {
public:
    explicit EdgeCandidateIndex(const BeliefGraph& graph);

    // Every edge of `type`, ascending by id; empty for a type no edge has.
    std::span<const EdgeMatchCandidate> of_type(std::string_view type);

    // The edges that `pattern` may match, ascending by id: the edges of its
    // type, only self-loops when its two node variables are one name, and
    // only those whose end nodes carry the pattern's labels (exact text).
    // Checks the candidates in order, the source node before the destination
    // node; a node that does not exist fails with Internal "missing src node"
    // or "missing dst node".
    std::vector<EdgeMatchCandidate> pattern_candidates(const frontend::ast::PatternItem& pattern);

private:
    // The node record readers see under `id`, or nullptr.
    const NodeData* find_node(NodeId id) const;
    std::vector<EdgeMatchCandidate> collect(std::string_view type) const;

    const BeliefGraph& graph_;
    std::vector<const NodeData*> pending_nodes_;  // pending insertions, oldest first
    std::vector<std::pair<std::string, std::vector<EdgeMatchCandidate>>> groups_;
};

// Candidates grouped by their source or destination node, each group keeping
// ascending edge id: the candidates of a pattern whose end node is already
// bound are one lookup away.
class CandidateGroups {
public:
    enum class Key { Src, Dst };

    CandidateGroups(std::span<const EdgeMatchCandidate> candidates, Key key);

    // The candidates whose key node is `node`, ascending by edge id. The span
    // points into all().
    std::span<const EdgeMatchCandidate> find(NodeId node) const;
    // Every candidate, grouped.
    std::span<const EdgeMatchCandidate> all() const { return grouped_; }
    // Hands the grouped candidates over; the groups are unusable afterwards.
    std::vector<EdgeMatchCandidate> take_all() && { return std::move(grouped_); }

private:
    uint32_t key_of(const EdgeMatchCandidate& c) const {
        return key_ == Key::Src ? c.src.value : c.dst.value;
    }

    Key key_;
    std::vector<EdgeMatchCandidate> grouped_;
    // Dense keys: the group of node n is grouped_[offsets_[n], offsets_[n+1]).
    // Sparse keys leave it empty, and groups are found by binary search.
    std::vector<uint32_t> offsets_;
};

}  // namespace morvane::core::engine
