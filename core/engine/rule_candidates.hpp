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
#include <cstdint>
#include <deque>
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

// The graph's edges grouped by type, and the candidates of patterns. Both
// are collected on first request (one scan of the edges per type) and kept
// for the life of the index, which must not outlive the graph.
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
    // or "missing dst node". The span lives as long as the index.
    std::span<const EdgeMatchCandidate> pattern_candidates(
        const frontend::ast::PatternItem& pattern);

private:
    // What a node id is to a label check.
    enum class NodeLabel : uint8_t { Unknown, Missing, Other, Matching };
    struct LabelMemo {
        std::string label;
        std::vector<NodeLabel> of_node;  // by node id, for ids below its size
    };
    struct PatternEntry {
        std::string type, src_label, dst_label;
        bool self_loops_only;
        std::vector<EdgeMatchCandidate> candidates;
    };

    // The node record readers see under `id`, or nullptr.
    const NodeData* find_node(NodeId id) const;
    NodeLabel label_of(LabelMemo& memo, NodeId id) const;
    LabelMemo& memo_for(std::string_view label);
    std::vector<EdgeMatchCandidate> collect(std::string_view type) const;
    std::vector<EdgeMatchCandidate> select(const frontend::ast::PatternItem& pattern);

    const BeliefGraph& graph_;
    std::vector<const NodeData*> pending_nodes_;  // pending insertions, oldest first
    std::size_t memo_size_ = 0;                   // node ids below it are memoised
    std::vector<std::pair<std::string, std::vector<EdgeMatchCandidate>>> types_;
    std::deque<LabelMemo> labels_;  // deques: entries stay put as others are added
    std::deque<PatternEntry> patterns_;
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
    // Asks the processor to start loading the group of `node`: a join that
    // knows which groups it will read next hides the memory latency.
    void prefetch(NodeId node) const { __builtin_prefetch(find(node).data()); }
    // Every candidate, grouped.
    std::span<const EdgeMatchCandidate> all() const { return grouped_; }

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
