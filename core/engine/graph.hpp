// The belief graph: the one value every engine stage passes along.
//
// Graphs are copied far more often than they are changed (every transform
// starts from a copy, snapshots and exports keep copies), so a BeliefGraph is
// split in two:
//   - a base (BeliefGraphInner) shared between copies through an atomic
//     reference count and never written while another graph holds it;
//   - a short list of pending changes that belongs to this graph value alone.
// A copy shares the base and copies the pending list, so its cost does not
// depend on the size of the graph. Reads look at the pending changes before
// the base. Attribute updates, independent-edge updates and insertions are
// recorded as pending changes; every other write materialises the graph
// first (ensure_owned: take a private deep copy of a shared base, then fold
// the pending changes into it) and writes into the base.
//
// Materialisation rule: a recorded change first materialises the graph when
// kMaxPendingChanges or more are pending or when the base is shared. Whether
// the base is shared is read from its reference count, so the count must be
// exact: pass graphs by reference, move them where possible, and never hold a
// spare copy of a graph across a write, or that write copies the base.
//
// Copy construction is explicit (clone(), or BeliefGraph(other)), so that a
// graph passed or returned by value by mistake, a stray copy that would
// change what the next write does, does not compile. Assigning one graph to
// another copies it the way clone() does.
//
// Pointers and views returned by the lookups (node, edge, get_competing_group,
// node_name, competing_groups_mut, edge_mut, base() and the listings) point
// into the pending list or the base and are invalidated by any write to this
// graph: copy what you need before writing.
//
// Errors are thrown as ExecError values; broken invariants as support::Panic.
// A moved-from graph may only be assigned to or destroyed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/engine/graph_ids.hpp"
#include "core/engine/graph_records.hpp"
#include "core/engine/graph_small_vector.hpp"
#include "core/engine/graph_tables.hpp"

// The variance clause of a nudge, as the rule's action carries it.
namespace morvane::frontend::ast {
struct VarianceSpec;
}

namespace morvane::core::engine {

// The materialised part of a graph, shared between graph values.
//
// Store order: nodes and edges in insertion order (ids 0, 1, 2, ... as long
// as the graph was not rebuilt from a subset of its edges); competing groups
// in ascending group id. The indexes hold exactly the ids of the two lists.
struct BeliefGraphInner {
    std::vector<NodeData> nodes;
    std::vector<EdgeData> edges;
    CompetingGroups competing_groups;
    AttrCorrelations attr_correlations;
    NodeNames node_names;                           // instance names from evidence
    IdMap<EdgeId, GaussianPosterior> edge_weights;  // edges with a continuous weight
    IdIndex<NodeId> node_index;                     // id -> position in `nodes`
    IdIndex<EdgeId> edge_index;                     // id -> position in `edges`

    const NodeData* find_node(NodeId id) const noexcept {
        const auto pos = node_index.find(id);
        return pos ? &nodes[*pos] : nullptr;
    }
    NodeData* find_node(NodeId id) noexcept {
        const auto pos = node_index.find(id);
        return pos ? &nodes[*pos] : nullptr;
    }
    const EdgeData* find_edge(EdgeId id) const noexcept {
        const auto pos = edge_index.find(id);
        return pos ? &edges[*pos] : nullptr;
    }
    EdgeData* find_edge(EdgeId id) noexcept {
        const auto pos = edge_index.find(id);
        return pos ? &edges[*pos] : nullptr;
    }

    // Append a record and index it under its own id.
    void append_node(NodeData node);
    void append_edge(EdgeData edge);
};

// Key of adjacency_outgoing_by_type: (source node, edge type). Lookups may
// use SourceAndTypeView to avoid building a SharedText.
struct SourceAndType {
    NodeId source;
    SharedText edge_type;
};
struct SourceAndTypeView {
    NodeId source;
    std::string_view edge_type;
};
struct SourceAndTypeHash {
    using is_transparent = void;
    std::size_t operator()(const SourceAndTypeView& key) const noexcept;
    std::size_t operator()(const SourceAndType& key) const noexcept {
        return (*this)(SourceAndTypeView{key.source, key.edge_type.view()});
    }
};
struct SourceAndTypeEqual {
    using is_transparent = void;
    static SourceAndTypeView view(const SourceAndType& k) noexcept {
        return {k.source, k.edge_type.view()};
    }
    static SourceAndTypeView view(const SourceAndTypeView& k) noexcept { return k; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const noexcept {
        const SourceAndTypeView x = view(a), y = view(b);
        return x.source == y.source && x.edge_type == y.edge_type;
    }
};
// (source, edge type) -> ids of its outgoing edges, ascending. Iteration
// order is unspecified.
using OutgoingEdgesByType =
    std::unordered_map<SourceAndType, std::vector<EdgeId>, SourceAndTypeHash, SourceAndTypeEqual>;

class BeliefGraph {
public:
    static constexpr std::size_t kInlineChanges = 4;
    static constexpr std::size_t kMaxPendingChanges = 32;
    using DeltaList = SmallVector<GraphDelta, kInlineChanges>;

    // ---- Construction and copying -------------------------------------------

    // No pending changes over a new, empty base.
    BeliefGraph();
    // No pending changes over `base`, made elsewhere (the evidence builder
    // fills a base directly); its indexes must hold exactly its records.
    explicit BeliefGraph(BeliefGraphInner&& base);

    // A copy of every pending change over the same base (whose count goes up
    // by one). Constant cost in the size of the base.
    explicit BeliefGraph(const BeliefGraph& other) = default;
    BeliefGraph& operator=(const BeliefGraph& other) = default;
    BeliefGraph(BeliefGraph&& other) noexcept = default;
    BeliefGraph& operator=(BeliefGraph&& other) noexcept = default;
    BeliefGraph clone() const { return BeliefGraph(*this); }

    // Materialises the graph: a shared base is replaced by a deep copy (the
    // other holders keep the old one), then the pending changes are applied
    // to it oldest first. Afterwards no change is pending and this graph holds
    // its base alone. Updates of absent nodes, attributes or edges, and edge
    // updates of competing edges, are dropped without notice.
    void ensure_owned();

    // ---- Sharing, for stages that reason about it ---------------------------

    // The materialised part alone (pending changes not applied).
    const BeliefGraphInner& base() const noexcept { return *base_; }
    // Pending changes, oldest first.
    std::span<const GraphDelta> deltas() const noexcept { return {deltas_.data(), deltas_.size()}; }
    // True when both graph values hold the very same base.
    bool shares_base_with(const BeliefGraph& other) const noexcept { return base_ == other.base_; }
    // How many graph values hold this graph's base (1: held alone).
    long base_use_count() const noexcept { return base_.use_count(); }

    // ---- Views of the base (materialise first to see pending changes) -------

    const std::vector<NodeData>& nodes() const noexcept { return base_->nodes; }
    const std::vector<EdgeData>& edges() const noexcept { return base_->edges; }
    const CompetingGroups& competing_groups() const noexcept { return base_->competing_groups; }
    // Materialises, then gives write access to the group table. A group's
    // `categories` must not be changed after construction.
    CompetingGroups& competing_groups_mut();

    // ---- Creating nodes and edges (recorded; ids are not checked) -----------

    // The new id is the base's node count plus the pending node insertions.
    NodeId add_node(std::string label, AttrMap attrs);
    // A new independent edge; the id is counted like add_node's.
    EdgeId add_edge(NodeId src, NodeId dst, std::string edge_type, double alpha, double beta);
    // Records the given record under its own id.
    void insert_node(NodeData node);
    void insert_edge(EdgeData edge);
    // Materialises, then stores the node's instance name (replacing one).
    void set_node_name(NodeId node, std::string name);

    // ---- Lookups that see pending changes -----------------------------------

    // The record as inserted: pending attribute and posterior updates are not
    // folded in (read values through the *_with_deltas lookups).
    const NodeData* node(NodeId id) const noexcept;
    const EdgeData* edge(EdgeId id) const noexcept;
    std::optional<GaussianPosterior> get_node_attr_with_deltas(NodeId node,
                                                               std::string_view attr) const;
    std::optional<EdgePosterior> get_edge_posterior_with_deltas(EdgeId edge) const;
    // The competing group of (node, edge type), judged by the first edge of
    // that source and type (pending competing insertions first); nullptr when
    // there is none or the edges are independent.
    const CompetingEdgeGroup* get_competing_group(NodeId node, std::string_view edge_type) const;

    // ---- Lookups of the base alone ------------------------------------------

    std::optional<std::string_view> node_name(NodeId node) const;
    // Materialises, then gives write access to the edge. Only its posterior
    // may be changed.
    EdgeData* edge_mut(EdgeId id);

    // ---- Posterior updates (graph_updates.cpp) -------------------------------
    // Each throws ExecError; on error the content is unchanged. "Recorded"
    // updates append a pending change, the others write into the base. An
    // update whose new mean, precision or count would not be finite fails
    // with Validation "{update}: update produced non-finite value: {} for
    // node {} attribute '{}'" (for an edge: "for edge {}", and " attribute
    // 'weight'" for its weight).

    // Recorded. Conjugate Gaussian update with an observation of precision p.
    void observe_attr(NodeId node, std::string_view attr, double value, double precision);
    // Recorded. Like observe_attr with precision max(p, 1e-12) * max(count, 1).
    void soft_update(NodeId node, std::string_view attr, double value, double precision,
                     double count);
    // Recorded. The mean becomes `value`; the precision is kept (Preserve) or
    // multiplied by the clause's factor, by default 0.5 (Increase) and 2.0
    // (Decrease), and floored at 1e-6.
    void non_bayesian_nudge(NodeId node, std::string_view attr,
                            const frontend::ast::VarianceSpec& variance, double value);
    // Recorded. alpha + 1 when present, beta + 1 otherwise.
    void observe_edge(EdgeId edge, bool present);
    // Recorded. beta + 1e6, or 1e3 for "low" and 1e9 for "high" (ASCII case
    // ignored).
    void delete_edge(EdgeId edge, std::optional<std::string_view> confidence);
    // Recorded. beta + weight (10 when none); the weight must be finite, > 0.
    void suppress_edge(EdgeId edge, std::optional<double> weight);
    // In place: the edge's category gains one.
    void observe_edge_chosen(EdgeId edge);
    // In place: DirichletPosterior::observe_unchosen of the edge's category.
    void observe_edge_unchosen(EdgeId edge);
    // In place: every concentration 1, the edge's category 1e6.
    void observe_edge_forced_choice(EdgeId edge);
    // In place: conjugate update of the edge's weight posterior.
    void observe_edge_weight(EdgeId edge, double value, double precision);
    // In place: the edge's weight posterior becomes (mean, precision).
    void set_edge_weight_prior(EdgeId edge, double mean, double precision);
    // In place: stores (or, for |rho| < 1e-12, removes) the correlation of
    // two attributes of one node. A self pair only checks rho == 1.
    void set_attr_correlation(NodeId node, std::string_view a, std::string_view b, double rho);

    // ---- Queries (graph_queries.cpp) -----------------------------------------
    // Attribute queries throw Internal "missing attr '{}'".

    double expectation(NodeId node, std::string_view attr) const;
    double precision(NodeId node, std::string_view attr) const;
    // 1 / max(precision, 1e-6).
    double variance(NodeId node, std::string_view attr) const;
    double stddev(NodeId node, std::string_view attr) const;
    // 1 for a == b; the stored value of the pair, else 0.
    double attr_correlation(NodeId node, std::string_view a, std::string_view b) const;
    double attr_covariance(NodeId node, std::string_view a, std::string_view b) const;

    // Mean existence probability; Internal "missing edge" when absent.
    double prob_mean(EdgeId edge) const;
    // Internal "missing edge"; Validation when the edge has no weight posterior.
    GaussianPosterior edge_weight_posterior(EdgeId edge) const;
    double edge_weight_expectation(EdgeId edge) const;

    // Outgoing edges of `node` (any type) whose probability p satisfies
    // threshold <= p; an unreadable probability counts as 0. Never throws.
    std::size_t degree_outgoing(NodeId node, double threshold) const;
    // Every edge, pending insertions included, under (source, type).
    OutgoingEdgesByType adjacency_outgoing_by_type() const;
    // The destination of the most probable category of the (node, edge type)
    // group, or none when there is no group or another category lies within
    // epsilon of it. Among equal maxima the last wins.
    std::optional<NodeId> winner(NodeId node, std::string_view edge_type, double epsilon) const;

    // A new graph with `nodes` and the edges of `keep` (in that order, ids
    // kept, so edge ids may have gaps), with the names, correlations and
    // weights that belong to them and all competing groups. Internal "missing
    // edge during rebuild" for an id this graph does not have.
    BeliefGraph rebuild_with_edges(std::span<const NodeData> nodes,
                                   std::span<const EdgeId> keep) const;

private:
    struct AttrRead {
        const SharedText* name;  // the attribute's name in its node record
        GaussianPosterior value;
    };

    // Materialises when the pending list is full or the base is shared.
    void apply_materialisation_rule();
    bool base_is_shared() const noexcept { return base_.use_count() > 1; }
    // Replaces a shared base by a deep copy; a base held alone is kept.
    void make_base_unique();
    void record(GraphDelta delta);
    // True when a pending insertion carries this edge id.
    bool edge_replaced_by_pending(EdgeId id) const noexcept;

    std::optional<AttrRead> read_attr(NodeId node, std::string_view attr) const;
    // Reads the attribute or throws Internal "missing attr '{}'".
    AttrRead require_attr(NodeId node, std::string_view attr) const;
    void record_attr(NodeId node, const AttrRead& read, GaussianPosterior value);
    // Reads an independent edge for a recorded update; `competing_error` is
    // the Validation text for a competing edge.
    EdgePosterior::Independent require_independent(EdgeId edge,
                                                   std::string_view competing_error) const;
    // The group and category of a competing edge for an in-place update;
    // materialises the graph.
    std::pair<DirichletPosterior*, std::size_t> require_competing(
        EdgeId edge, std::string_view independent_error);

    // The ids the pending changes name, hashed to one bit each (the id modulo
    // 256): a lookup whose bit is clear needs no scan of the list. Bits are
    // set as changes are recorded and cleared with the list.
    class PendingIds {
    public:
        void add(uint32_t id) noexcept { bits_[(id >> 6) & 3] |= uint64_t{1} << (id & 63); }
        bool may_hold(uint32_t id) const noexcept {
            return (bits_[(id >> 6) & 3] >> (id & 63)) & 1;
        }
        void clear() noexcept { bits_ = {}; }

    private:
        std::array<uint64_t, 4> bits_{};
    };

    DeltaList deltas_;
    PendingIds pending_nodes_;  // of NodeInsert and AttrUpdate changes
    PendingIds pending_edges_;  // of EdgeInsert and EdgePosteriorUpdate changes
    std::shared_ptr<BeliefGraphInner> base_;
};

}  // namespace morvane::core::engine
