// Matching a rule's patterns against a belief graph.
//
// A rule lists patterns (src:S)-[e:T]->(dst:D); a match binds every node and
// edge variable of the patterns so that each pattern's edge runs from its
// source variable's node to its destination variable's node. Three forms:
//   - node-only: one pattern of the reserved type "__FOR_NODE__" (the rule
//     form `for (v: L)`): one match per base node of label S, in stored order;
//     no edge variable is bound;
//   - single pattern: one match per candidate edge, ascending by edge id;
//   - several patterns: a depth-first join of the patterns' candidates on
//     shared node variables, visiting the patterns in the order of the query
//     plan. A match binds each edge variable once, so patterns that repeat an
//     edge variable match nothing; different edge variables may bind one edge
//     and different node variables one node.
// Matches of several patterns are ordered by their edge ids: each match's ids
// sorted ascending, compared lexicographically; matches with equal lists keep
// the join's order.
//
// Variables are numbered once per rule (a slot per name, node and edge
// variables apart), and a match is a row of ids, one per slot. Names are
// looked up only where expressions ask for them (MatchBindings).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/engine/graph.hpp"
#include "core/engine/rule_candidates.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

// The variables of a rule's patterns, one slot per name in order of first
// appearance. Names point into the rule's patterns.
struct MatchVariables {
    std::vector<std::string_view> nodes;
    std::vector<std::string_view> edges;
};

// The variables one match binds, by name; a scope may extend an outer one
// (exists tests bind the variables of their own pattern on top of the
// match's). Lookups look at this scope first, then outwards. A view: the
// names and ids must outlive it.
struct MatchBindings {
    std::span<const std::string_view> node_names;
    std::span<const NodeId> node_ids;  // one per name
    std::span<const std::string_view> edge_names;
    std::span<const EdgeId> edge_ids;  // one per name
    const MatchBindings* outer = nullptr;

    std::optional<NodeId> node(std::string_view name) const {
        for (const MatchBindings* scope = this; scope != nullptr; scope = scope->outer) {
            for (std::size_t i = 0; i < scope->node_names.size(); ++i) {
                if (same_bytes(scope->node_names[i], name)) return scope->node_ids[i];
            }
        }
        return std::nullopt;
    }
    std::optional<EdgeId> edge(std::string_view name) const {
        for (const MatchBindings* scope = this; scope != nullptr; scope = scope->outer) {
            for (std::size_t i = 0; i < scope->edge_names.size(); ++i) {
                if (same_bytes(scope->edge_names[i], name)) return scope->edge_ids[i];
            }
        }
        return std::nullopt;
    }
};

// Every match of a rule's patterns, in match order.
class RuleMatches {
public:
    const MatchVariables& variables() const { return vars_; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Writes the ids match `i` binds: nodes[s] for node slot s, edges[s] for
    // edge slot s (the spans hold one entry per slot).
    void read(std::size_t i, std::span<NodeId> nodes, std::span<EdgeId> edges) const;

private:
    friend class MatchBuilder;

    // Where a slot's id comes from: the candidate a level of the join (or
    // the one level of the other forms) matched.
    struct SlotSource {
        uint32_t level;
        enum class End : uint8_t { Src, Dst, Edge } end;
    };

    // The end nodes of the edges a join's matches name, by edge id.
    class EdgeEnds {
    public:
        void build(std::span<const std::span<const EdgeMatchCandidate>> lists);
        const EdgeMatchCandidate& of(uint32_t edge) const {
            if (by_id_) return table_[edge];
            return *std::lower_bound(
                table_.begin(), table_.end(), edge,
                [](const EdgeMatchCandidate& c, uint32_t e) { return c.edge.value < e; });
        }

    private:
        bool by_id_ = true;  // table_[id]; else table_ sorted by id
        std::vector<EdgeMatchCandidate> table_;
    };

    MatchVariables vars_;
    std::vector<SlotSource> node_sources_, edge_sources_;
    // One level (node-only and single-pattern forms): match i is single_[i]
    // (the node-only form uses pseudo-candidates {0, node, node}).
    std::vector<EdgeMatchCandidate> single_;
    // A join of `levels_` levels: match i is the edge ids at
    // records_[i * levels_], one per level, with their ends in ends_.
    std::size_t levels_ = 1;
    std::unique_ptr<uint32_t[]> records_;
    EdgeEnds ends_;
    std::size_t count_ = 0;
};

// Every match of `patterns` in `graph`, in match order (see above). Fails
// with the first error of the candidates' checks ("missing src node",
// "missing dst node"); no pattern gives no match.
RuleMatches find_rule_matches(const BeliefGraph& graph,
                              std::span<const frontend::ast::PatternItem> patterns);

}  // namespace morvane::core::engine
