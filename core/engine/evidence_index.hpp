// The index of an evidence block: which node and which edge each observation
// names, resolved from the names alone.
//
// Turning the names of a block's observations into NodeIds and EdgeIds is
// most of the work of building its graph, and none of it depends on the
// belief model or on the observed values: nodes are numbered in ascending
// byte order of (node type, label), edges (one per distinct edge type,
// source and destination) in order of first mention. A program makes the
// index of each block once and every run that builds the block's graph
// replays it (evidence.hpp); a block merged with run-time observations gets
// an index of its own for its run.
//
// The index borrows the texts of the observations it was made from (labels
// and names are string_views into them), so it must not outlive them. It
// holds no values: those are read from the observations when the graph is
// built. Making an index never fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/engine/graph_ids.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

// The observations of one construction: a block's own, then (for a block
// merged with run-time evidence) the ones added at run time. Numbered from 0
// across both, in that order.
class ObservationList {
public:
    ObservationList(std::span<const frontend::ast::ObserveStmt> own,
                    std::span<const frontend::ast::ObserveStmt> added = {})
        : own_(own), added_(added) {}

    std::size_t size() const noexcept { return own_.size() + added_.size(); }
    const frontend::ast::ObserveStmt& operator[](std::size_t i) const noexcept {
        return i < own_.size() ? own_[i] : added_[i - own_.size()];
    }
    // Calls fn(observation) for each, in order.
    template <typename Fn>
    void for_each(Fn&& fn) const {
        for (const auto& stmt : own_) fn(stmt);
        for (const auto& stmt : added_) fn(stmt);
    }

private:
    std::span<const frontend::ast::ObserveStmt> own_;
    std::span<const frontend::ast::ObserveStmt> added_;
};

// What an observation does, with an edge observation's mode.
enum class ObservationKind : uint8_t {
    Present,
    Absent,
    Chosen,
    Unchosen,
    ForcedChoice,
    EdgeWeight,
    Attribute,
};

struct EvidenceIndex {
    // Node types, edge types and attribute names, each distinct, in order of
    // first sight among the observations.
    std::vector<std::string_view> node_types;
    std::vector<std::string_view> edge_types;
    std::vector<std::string_view> attr_names;

    // The nodes in NodeId order: ascending node type, then label (bytes).
    // Nodes of one type are consecutive: `type_runs` lists each type with the
    // id of its first node, in that order.
    std::vector<std::string_view> node_labels;
    struct TypeRun {
        uint32_t type;  // index into node_types
        NodeId first;
    };
    std::vector<TypeRun> type_runs;

    // The edges in EdgeId order (first mention).
    struct Edge {
        uint32_t type;  // index into edge_types
        NodeId src;
        NodeId dst;
    };
    std::vector<Edge> edges;

    // Per observation, in order: its kind and, for an attribute, the index
    // of its attribute name (packed by `tag`); and the EdgeId (edge and
    // edge-weight observations) or the NodeId (attributes) it names.
    std::vector<uint32_t> tags;
    std::vector<uint32_t> targets;

    // The observations in the order their updates are applied: competing
    // choices in observation order, then present / absent by ascending
    // EdgeId, then edge weights by ascending EdgeId, then attributes by
    // ascending NodeId and attribute name (bytes); observations of one edge
    // or one node attribute keep their written order. The four passes end at
    // `choices_end`, `presence_end`, `weights_end` and the list's end.
    std::vector<uint32_t> apply_order;
    std::size_t choices_end = 0;
    std::size_t presence_end = 0;
    std::size_t weights_end = 0;

    static uint32_t tag(ObservationKind kind, uint32_t attr = 0);
    static ObservationKind kind_of(uint32_t tag) noexcept {
        return static_cast<ObservationKind>(tag & 7u);
    }
    static uint32_t attr_of(uint32_t tag) noexcept { return tag >> 3; }

    ObservationKind kind(std::size_t observation) const noexcept {
        return kind_of(tags[observation]);
    }
    std::size_t node_count() const noexcept { return node_labels.size(); }
};

// The index of `observations`; it borrows their texts.
EvidenceIndex index_evidence(const ObservationList& observations);

}  // namespace morvane::core::engine
