// Candidate edges of patterns and their grouping by end node (see
// rule_candidates.hpp).
#include "core/engine/rule_candidates.hpp"

#include <algorithm>
#include <variant>

#include "core/engine/errors.hpp"

namespace morvane::core::engine {

// ---- Candidates of a type and of a pattern ------------------------------------------

EdgeCandidateIndex::EdgeCandidateIndex(const BeliefGraph& graph) : graph_(graph) {
    for (const GraphDelta& d : graph.deltas()) {
        if (const auto* insert = std::get_if<GraphDelta::NodeInsert>(&d.change)) {
            pending_nodes_.push_back(&insert->data);
        }
    }
    // Node ids are dense in graphs the engine makes; far larger ids are
    // looked up each time instead of memoised.
    memo_size_ = 2 * (graph.base().nodes.size() + pending_nodes_.size()) + 1024;
}

const NodeData* EdgeCandidateIndex::find_node(NodeId id) const {
    for (auto it = pending_nodes_.rbegin(); it != pending_nodes_.rend(); ++it) {
        if ((*it)->id == id) return *it;
    }
    return graph_.base().find_node(id);
}

EdgeCandidateIndex::LabelMemo& EdgeCandidateIndex::memo_for(std::string_view label) {
    for (LabelMemo& memo : labels_) {
        if (memo.label == label) return memo;
    }
    return labels_.emplace_back(LabelMemo{std::string(label), {}});
}

EdgeCandidateIndex::NodeLabel EdgeCandidateIndex::label_of(LabelMemo& memo, NodeId id) const {
    const std::size_t n = id.value;
    if (n < memo.of_node.size() && memo.of_node[n] != NodeLabel::Unknown) return memo.of_node[n];
    const NodeData* node = find_node(id);
    const NodeLabel label = !node                       ? NodeLabel::Missing
                            : node->label == memo.label ? NodeLabel::Matching
                                                        : NodeLabel::Other;
    if (n < memo_size_) {
        if (n >= memo.of_node.size()) memo.of_node.resize(memo_size_, NodeLabel::Unknown);
        memo.of_node[n] = label;
    }
    return label;
}

std::vector<EdgeMatchCandidate> EdgeCandidateIndex::collect(std::string_view type) const {
    // Pending insertions, and which of them are the latest record of their id.
    std::vector<const EdgeData*> pending;
    for (const GraphDelta& d : graph_.deltas()) {
        if (const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&d.change)) {
            pending.push_back(&insert->data);
        }
    }
    std::vector<uint32_t> pending_ids;
    for (const EdgeData* e : pending)
        pending_ids.push_back(e->id.value);
    std::sort(pending_ids.begin(), pending_ids.end());

    const BeliefGraphInner& base = graph_.base();
    // When every base record has an id of its own, none replaces another.
    const bool base_ids_unique = base.edge_index.size() == base.edges.size();
    std::vector<EdgeMatchCandidate> out;
    for (std::size_t i = 0; i < base.edges.size(); ++i) {
        const EdgeData& e = base.edges[i];
        if (e.edge_type != type) continue;
        if (!base_ids_unique && base.edge_index.find(e.id) != i) continue;
        if (!pending_ids.empty() &&
            std::binary_search(pending_ids.begin(), pending_ids.end(), e.id.value)) {
            continue;
        }
        out.push_back({e.id, e.src, e.dst});
    }
    for (std::size_t j = 0; j < pending.size(); ++j) {
        const EdgeData& e = *pending[j];
        if (e.edge_type != type) continue;
        const bool replaced =
            std::any_of(pending.begin() + static_cast<std::ptrdiff_t>(j) + 1, pending.end(),
                        [&e](const EdgeData* later) { return later->id == e.id; });
        if (!replaced) out.push_back({e.id, e.src, e.dst});
    }
    const auto by_edge = [](const EdgeMatchCandidate& a, const EdgeMatchCandidate& b) {
        return a.edge < b.edge;
    };
    if (!std::is_sorted(out.begin(), out.end(), by_edge)) {
        std::sort(out.begin(), out.end(), by_edge);
    }
    return out;
}

std::span<const EdgeMatchCandidate> EdgeCandidateIndex::of_type(std::string_view type) {
    for (const auto& [name, group] : types_) {
        if (name == type) return group;
    }
    return types_.emplace_back(std::string(type), collect(type)).second;
}

std::vector<EdgeMatchCandidate> EdgeCandidateIndex::select(
    const frontend::ast::PatternItem& pattern) {
    const std::span<const EdgeMatchCandidate> edges = of_type(pattern.edge.ty);
    const bool self_loops_only = pattern.src.var == pattern.dst.var;
    LabelMemo& src_label = memo_for(pattern.src.label);
    LabelMemo& dst_label = memo_for(pattern.dst.label);
    std::vector<EdgeMatchCandidate> out;
    for (const EdgeMatchCandidate& c : edges) {
        if (self_loops_only && c.src != c.dst) continue;
        const NodeLabel src = label_of(src_label, c.src);
        if (src == NodeLabel::Missing) throw ExecError::internal("missing src node");
        const NodeLabel dst = label_of(dst_label, c.dst);
        if (dst == NodeLabel::Missing) throw ExecError::internal("missing dst node");
        if (src == NodeLabel::Matching && dst == NodeLabel::Matching) out.push_back(c);
    }
    return out;
}

std::span<const EdgeMatchCandidate> EdgeCandidateIndex::pattern_candidates(
    const frontend::ast::PatternItem& pattern) {
    const bool self_loops_only = pattern.src.var == pattern.dst.var;
    for (const PatternEntry& e : patterns_) {
        if (e.type == pattern.edge.ty && e.src_label == pattern.src.label &&
            e.dst_label == pattern.dst.label && e.self_loops_only == self_loops_only) {
            return e.candidates;
        }
    }
    std::vector<EdgeMatchCandidate> candidates = select(pattern);
    return patterns_
        .emplace_back(PatternEntry{pattern.edge.ty, pattern.src.label, pattern.dst.label,
                                   self_loops_only, std::move(candidates)})
        .candidates;
}

// ---- Groups by end node -----------------------------------------------------------------

CandidateGroups::CandidateGroups(std::span<const EdgeMatchCandidate> candidates, Key key)
    : key_(key) {
    uint32_t max_key = 0;
    for (const EdgeMatchCandidate& c : candidates)
        max_key = std::max(max_key, key_of(c));
    // Node ids are dense in graphs made by the engine; an id far beyond the
    // number of candidates would make the offset table wasteful.
    const bool dense = std::size_t{max_key} <= 2 * candidates.size() + 65536;
    if (!dense) {
        grouped_.assign(candidates.begin(), candidates.end());
        std::stable_sort(grouped_.begin(), grouped_.end(),
                         [this](const auto& a, const auto& b) { return key_of(a) < key_of(b); });
        return;
    }
    offsets_.assign(std::size_t{max_key} + 2, 0);
    for (const EdgeMatchCandidate& c : candidates)
        ++offsets_[std::size_t{key_of(c)} + 1];
    for (std::size_t i = 1; i < offsets_.size(); ++i)
        offsets_[i] += offsets_[i - 1];
    grouped_.resize(candidates.size());
    std::vector<uint32_t> next(offsets_.begin(), offsets_.end() - 1);
    for (const EdgeMatchCandidate& c : candidates)
        grouped_[next[key_of(c)]++] = c;
}

std::span<const EdgeMatchCandidate> CandidateGroups::find(NodeId node) const {
    const std::span<const EdgeMatchCandidate> all(grouped_);
    if (!offsets_.empty()) {
        const std::size_t n = node.value;
        if (n + 1 >= offsets_.size()) return {};
        return all.subspan(offsets_[n], offsets_[n + 1] - offsets_[n]);
    }
    const auto first =
        std::lower_bound(grouped_.begin(), grouped_.end(), node.value,
                         [this](const EdgeMatchCandidate& c, uint32_t v) { return key_of(c) < v; });
    const auto last =
        std::upper_bound(first, grouped_.end(), node.value,
                         [this](uint32_t v, const EdgeMatchCandidate& c) { return v < key_of(c); });
    return all.subspan(static_cast<std::size_t>(first - grouped_.begin()),
                       static_cast<std::size_t>(last - first));
}

}  // namespace morvane::core::engine
