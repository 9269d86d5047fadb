// The copy-on-write store: the base, the pending changes, materialisation,
// insertion and the lookups that see pending changes.
#include "core/engine/graph.hpp"

#include <atomic>
#include <type_traits>
#include <utility>

namespace morvane::core::engine {

// ---- Base ---------------------------------------------------------------------

void BeliefGraphInner::append_node(NodeData node) {
    const NodeId id = node.id;
    node_index.assign(id, nodes.size());
    nodes.push_back(std::move(node));
}

void BeliefGraphInner::append_edge(EdgeData edge) {
    const EdgeId id = edge.id;
    edge_index.assign(id, edges.size());
    edges.push_back(std::move(edge));
}

namespace {

void apply_delta(BeliefGraphInner& base, GraphDelta& delta) {
    std::visit(
        [&base](auto& change) {
            using Change = std::decay_t<decltype(change)>;
            if constexpr (std::is_same_v<Change, GraphDelta::AttrUpdate>) {
                NodeData* node = base.find_node(change.node);
                GaussianPosterior* attr = node ? node->attrs.find(change.attr.view()) : nullptr;
                if (attr) *attr = GaussianPosterior{change.mean, change.precision};
            } else if constexpr (std::is_same_v<Change, GraphDelta::EdgePosteriorUpdate>) {
                EdgeData* edge = base.find_edge(change.edge);
                EdgePosterior::Independent* beta = edge ? edge->posterior.independent() : nullptr;
                if (beta) *beta = EdgePosterior::Independent{change.alpha, change.beta};
            } else if constexpr (std::is_same_v<Change, GraphDelta::NodeInsert>) {
                base.append_node(std::move(change.data));
            } else {
                base.append_edge(std::move(change.data));
            }
        },
        delta.change);
}

}  // namespace

// ---- Construction and materialisation -------------------------------------------

BeliefGraph::BeliefGraph() : base_(std::make_shared<BeliefGraphInner>()) {}

BeliefGraph::BeliefGraph(BeliefGraphInner&& base)
    : base_(std::make_shared<BeliefGraphInner>(std::move(base))) {}

void BeliefGraph::make_base_unique() {
    if (base_is_shared()) {
        base_ = std::make_shared<BeliefGraphInner>(*base_);
    } else {
        // use_count() is a relaxed read; order our writes after the reads made
        // through the references other threads have just released.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
}

void BeliefGraph::ensure_owned() {
    make_base_unique();
    if (deltas_.empty()) return;
    BeliefGraphInner& base = *base_;
    for (GraphDelta& delta : deltas_)
        apply_delta(base, delta);
    deltas_.clear();
    pending_nodes_.clear();
    pending_edges_.clear();
}

void BeliefGraph::apply_materialisation_rule() {
    if (deltas_.size() >= kMaxPendingChanges || base_is_shared()) ensure_owned();
}

void BeliefGraph::record(GraphDelta delta) {
    std::visit(
        [this](const auto& change) {
            using Change = std::decay_t<decltype(change)>;
            if constexpr (std::is_same_v<Change, GraphDelta::AttrUpdate>) {
                pending_nodes_.add(change.node.value);
            } else if constexpr (std::is_same_v<Change, GraphDelta::NodeInsert>) {
                pending_nodes_.add(change.id.value);
            } else if constexpr (std::is_same_v<Change, GraphDelta::EdgePosteriorUpdate>) {
                pending_edges_.add(change.edge.value);
            } else {
                pending_edges_.add(change.id.value);
            }
        },
        delta.change);
    deltas_.push_back(std::move(delta));
}

CompetingGroups& BeliefGraph::competing_groups_mut() {
    ensure_owned();
    return base_->competing_groups;
}

// ---- Creating nodes and edges -----------------------------------------------------

NodeId BeliefGraph::add_node(std::string label, AttrMap attrs) {
    apply_materialisation_rule();
    std::size_t pending = 0;
    for (const GraphDelta& d : deltas_) {
        pending += std::holds_alternative<GraphDelta::NodeInsert>(d.change) ? 1 : 0;
    }
    const NodeId id{checked_id_value(base_->nodes.size() + pending)};
    record(GraphDelta{
        GraphDelta::NodeInsert{id, NodeData{SharedText(std::move(label)), std::move(attrs), id}}});
    return id;
}

EdgeId BeliefGraph::add_edge(NodeId src, NodeId dst, std::string edge_type, double alpha,
                             double beta) {
    apply_materialisation_rule();
    std::size_t pending = 0;
    for (const GraphDelta& d : deltas_) {
        pending += std::holds_alternative<GraphDelta::EdgeInsert>(d.change) ? 1 : 0;
    }
    const EdgeId id{checked_id_value(base_->edges.size() + pending)};
    record(GraphDelta{
        GraphDelta::EdgeInsert{id, EdgeData{EdgePosterior{EdgePosterior::Independent{alpha, beta}},
                                            SharedText(std::move(edge_type)), id, src, dst}}});
    return id;
}

void BeliefGraph::insert_node(NodeData node) {
    apply_materialisation_rule();
    const NodeId id = node.id;
    record(GraphDelta{GraphDelta::NodeInsert{id, std::move(node)}});
}

void BeliefGraph::insert_edge(EdgeData edge) {
    apply_materialisation_rule();
    const EdgeId id = edge.id;
    record(GraphDelta{GraphDelta::EdgeInsert{id, std::move(edge)}});
}

void BeliefGraph::set_node_name(NodeId node, std::string name) {
    ensure_owned();
    base_->node_names.insert_or_assign(node, name);
}

// ---- Lookups ------------------------------------------------------------------------

const NodeData* BeliefGraph::node(NodeId id) const noexcept {
    if (!pending_nodes_.may_hold(id.value)) return base_->find_node(id);
    for (auto it = deltas_.end(); it != deltas_.begin();) {
        --it;
        if (const auto* insert = std::get_if<GraphDelta::NodeInsert>(&it->change)) {
            if (insert->id == id) return &insert->data;
        }
    }
    return base_->find_node(id);
}

const EdgeData* BeliefGraph::edge(EdgeId id) const noexcept {
    if (!pending_edges_.may_hold(id.value)) return base_->find_edge(id);
    for (auto it = deltas_.end(); it != deltas_.begin();) {
        --it;
        if (const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&it->change)) {
            if (insert->id == id) return &insert->data;
        }
    }
    return base_->find_edge(id);
}

std::optional<BeliefGraph::AttrRead> BeliefGraph::read_attr(NodeId node,
                                                            std::string_view attr) const {
    // One pass, newest first: the newest pending insertion of the node gives
    // its record, the newest pending update of the attribute its value.
    const NodeData* record = nullptr;
    const GraphDelta::AttrUpdate* update = nullptr;
    const bool pending = pending_nodes_.may_hold(node.value);
    for (auto it = deltas_.end(); pending && it != deltas_.begin() && !(record && update);) {
        --it;
        if (const auto* u = std::get_if<GraphDelta::AttrUpdate>(&it->change)) {
            if (!update && u->node == node && u->attr == attr) update = u;
        } else if (const auto* insert = std::get_if<GraphDelta::NodeInsert>(&it->change)) {
            if (!record && insert->id == node) record = &insert->data;
        }
    }
    if (!record) record = base_->find_node(node);
    if (!record) return std::nullopt;
    const AttrMap::Entry* entry = record->attrs.find_entry(attr);
    if (!entry) return std::nullopt;
    if (update) return AttrRead{&entry->name, GaussianPosterior{update->mean, update->precision}};
    return AttrRead{&entry->name, entry->posterior};
}

std::optional<GaussianPosterior> BeliefGraph::get_node_attr_with_deltas(
    NodeId node, std::string_view attr) const {
    const auto read = read_attr(node, attr);
    if (!read) return std::nullopt;
    return read->value;
}

std::optional<EdgePosterior> BeliefGraph::get_edge_posterior_with_deltas(EdgeId id) const {
    const EdgeData* record = edge(id);
    if (!record) return std::nullopt;
    if (record->posterior.is_competing() || !pending_edges_.may_hold(id.value)) {
        return record->posterior;
    }
    for (auto it = deltas_.end(); it != deltas_.begin();) {
        --it;
        if (const auto* u = std::get_if<GraphDelta::EdgePosteriorUpdate>(&it->change)) {
            if (u->edge == id) return EdgePosterior{EdgePosterior::Independent{u->alpha, u->beta}};
        }
    }
    return record->posterior;
}

const CompetingEdgeGroup* BeliefGraph::get_competing_group(NodeId node,
                                                           std::string_view edge_type) const {
    for (const GraphDelta& d : deltas_) {
        const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&d.change);
        if (!insert) continue;
        const EdgeData& e = insert->data;
        const auto* competing = e.posterior.competing();
        if (competing && e.src == node && e.edge_type == edge_type) {
            return base_->competing_groups.find(competing->group);
        }
    }
    for (const EdgeData& e : base_->edges) {
        if (e.src != node || e.edge_type != edge_type) continue;
        const auto* competing = e.posterior.competing();
        return competing ? base_->competing_groups.find(competing->group) : nullptr;
    }
    return nullptr;
}

std::optional<std::string_view> BeliefGraph::node_name(NodeId node) const {
    return base_->node_names.find(node);
}

EdgeData* BeliefGraph::edge_mut(EdgeId id) {
    ensure_owned();
    return base_->find_edge(id);
}

}  // namespace morvane::core::engine
