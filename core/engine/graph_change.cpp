// The change measure of fixpoint rules (see graph_change.hpp).
//
// A pass leaves its last changes pending, so a measure of the bases alone
// would miss them (and stop a fixpoint whose pass made 32 changes or fewer
// after one pass, whatever those changes were). Each graph is therefore read
// through a FoldedGraph: its base, plus the records and values its pending
// changes would write on materialisation, found by replaying the changes in
// order against a small index of the records they add.
#include "core/engine/graph_change.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine/errors.hpp"

namespace morvane::core::engine {
namespace {

class FoldedGraph {
public:
    explicit FoldedGraph(const BeliefGraph& graph) : base_(graph.base()) {
        for (const GraphDelta& d : graph.deltas())
            replay(d);
        const auto by_pos = [](const auto& x, const auto& y) { return x.pos < y.pos; };
        std::stable_sort(attr_updates_.begin(), attr_updates_.end(), by_pos);
        std::stable_sort(edge_updates_.begin(), edge_updates_.end(), by_pos);
    }

    std::size_t node_count() const { return base_.nodes.size() + added_nodes_.size(); }
    std::size_t edge_count() const { return base_.edges.size() + added_edges_.size(); }

    const NodeData& node(std::size_t pos) const {
        return pos < base_.nodes.size() ? base_.nodes[pos]
                                        : *added_nodes_[pos - base_.nodes.size()];
    }
    const EdgeData& edge(std::size_t pos) const {
        return pos < base_.edges.size() ? base_.edges[pos]
                                        : *added_edges_[pos - base_.edges.size()];
    }

    // The mean of the attribute `entry` of the node record at `pos`.
    double attr_mean(std::size_t pos, const AttrMap::Entry& entry) const {
        double mean = entry.posterior.mean;
        for (const AttrUpdate& u : updates_at(attr_updates_, pos)) {
            if (u.attr == entry.name.view()) mean = u.mean;  // the latest update wins
        }
        return mean;
    }

    // The mean existence probability of the edge record at `pos`, or 0 when
    // it cannot be computed.
    double edge_probability(std::size_t pos) const {
        EdgePosterior posterior = edge(pos).posterior;
        for (const EdgeUpdate& u : updates_at(edge_updates_, pos))
            posterior.value = u.value;
        try {
            return posterior.mean_probability(base_.competing_groups);
        } catch (const ExecError&) {
            return 0.0;
        }
    }

private:
    struct AttrUpdate {
        std::size_t pos;
        std::string_view attr;
        double mean;
    };
    struct EdgeUpdate {
        std::size_t pos;
        EdgePosterior::Independent value;
    };
    // Positions of the records pending insertions add, by id (latest last).
    using AddedIndex = std::vector<std::pair<uint32_t, std::size_t>>;

    template <typename Update>
    static std::span<const Update> updates_at(const std::vector<Update>& updates, std::size_t pos) {
        const auto lo = std::lower_bound(updates.begin(), updates.end(), pos,
                                         [](const Update& u, std::size_t p) { return u.pos < p; });
        auto hi = lo;
        while (hi != updates.end() && hi->pos == pos)
            ++hi;
        return {lo, hi};
    }

    template <typename Index>
    static std::optional<std::size_t> position(const AddedIndex& added, const Index& index,
                                               uint32_t id, auto typed_id) {
        for (auto it = added.rbegin(); it != added.rend(); ++it) {
            if (it->first == id) return it->second;
        }
        return index.find(typed_id);
    }

    // What materialisation does with one change, in order.
    void replay(const GraphDelta& delta) {
        if (const auto* insert = std::get_if<GraphDelta::NodeInsert>(&delta.change)) {
            added_node_index_.emplace_back(insert->data.id.value, node_count());
            added_nodes_.push_back(&insert->data);
        } else if (const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&delta.change)) {
            added_edge_index_.emplace_back(insert->data.id.value, edge_count());
            added_edges_.push_back(&insert->data);
        } else if (const auto* u = std::get_if<GraphDelta::AttrUpdate>(&delta.change)) {
            const auto pos = position(added_node_index_, base_.node_index, u->node.value, u->node);
            if (pos && node(*pos).attrs.contains(u->attr.view())) {
                attr_updates_.push_back({*pos, u->attr.view(), u->mean});
            }
        } else {
            const auto& e = std::get<GraphDelta::EdgePosteriorUpdate>(delta.change);
            const auto pos = position(added_edge_index_, base_.edge_index, e.edge.value, e.edge);
            if (pos && !edge(*pos).posterior.is_competing()) {
                edge_updates_.push_back({*pos, {e.alpha, e.beta}});
            }
        }
    }

    const BeliefGraphInner& base_;
    std::vector<const NodeData*> added_nodes_;
    std::vector<const EdgeData*> added_edges_;
    AddedIndex added_node_index_, added_edge_index_;
    std::vector<AttrUpdate> attr_updates_;  // by position, in change order within one
    std::vector<EdgeUpdate> edge_updates_;
};

}  // namespace

double compute_max_change(const BeliefGraph& a_graph, const BeliefGraph& b_graph) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const FoldedGraph a(a_graph), b(b_graph);
    double change = 0.0;
    const std::size_t nodes = std::min(a.node_count(), b.node_count());
    for (std::size_t pos = 0; pos < nodes; ++pos) {
        const NodeData& na = a.node(pos);
        const NodeData& nb = b.node(pos);
        if (na.id != nb.id) return kInf;
        for (const AttrMap::Entry& ea : na.attrs) {
            const AttrMap::Entry* eb = nb.attrs.find_entry(ea.name.view());
            if (!eb) continue;
            change = std::fmax(change, std::fabs(a.attr_mean(pos, ea) - b.attr_mean(pos, *eb)));
        }
    }
    const std::size_t edges = std::min(a.edge_count(), b.edge_count());
    for (std::size_t pos = 0; pos < edges; ++pos) {
        if (a.edge(pos).id != b.edge(pos).id) return kInf;
        change = std::fmax(change, std::fabs(a.edge_probability(pos) - b.edge_probability(pos)));
    }
    return change;
}

}  // namespace morvane::core::engine
