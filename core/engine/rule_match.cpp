// The three forms of matching, the join of several patterns and the order of
// its matches (see rule_match.hpp).
//
// The join runs on an explicit stack of candidate ranges, one per pattern,
// so a rule of any number of patterns needs constant machine stack. Which
// variables are already bound when the join reaches a pattern depends only on
// the plan order, so it is settled before the join starts: a pattern whose
// source (or else destination) node is bound reads only the candidates of
// that node, in their ascending edge order, which is exactly the subsequence
// a scan of all its candidates would accept.
#include "core/engine/rule_match.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "core/engine/query_plan.hpp"

namespace morvane::core::engine {

using frontend::ast::PatternItem;

// ---- Bindings ----------------------------------------------------------------------------

namespace {

template <typename Id>
std::optional<Id> find_in(const MatchBindings* scope, std::string_view name,
                          std::span<const std::string_view> MatchBindings::*names,
                          std::span<const Id> MatchBindings::*ids) {
    for (; scope != nullptr; scope = scope->outer) {
        const std::span<const std::string_view> n = scope->*names;
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (n[i] == name) return (scope->*ids)[i];
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<NodeId> MatchBindings::node(std::string_view name) const {
    return find_in(this, name, &MatchBindings::node_names, &MatchBindings::node_ids);
}

std::optional<EdgeId> MatchBindings::edge(std::string_view name) const {
    return find_in(this, name, &MatchBindings::edge_names, &MatchBindings::edge_ids);
}

// ---- Reading a match ---------------------------------------------------------------------

void RuleMatches::read(std::size_t i, std::span<NodeId> nodes, std::span<EdgeId> edges) const {
    const std::size_t levels = levels_.size();
    const auto candidate = [&](uint32_t level) -> const EdgeMatchCandidate& {
        const std::size_t pos = levels == 1 ? i : records_[i * stride_ + levels + level];
        return levels_[level][pos];
    };
    for (std::size_t s = 0; s < node_sources_.size(); ++s) {
        const EdgeMatchCandidate& c = candidate(node_sources_[s].level);
        nodes[s] = node_sources_[s].end == SlotSource::End::Src ? c.src : c.dst;
    }
    for (std::size_t s = 0; s < edge_sources_.size(); ++s) {
        edges[s] = candidate(edge_sources_[s].level).edge;
    }
}

// ---- Building the matches ----------------------------------------------------------------

namespace {

uint32_t slot_of(std::vector<std::string_view>& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<uint32_t>(i);
    }
    names.push_back(name);
    return static_cast<uint32_t>(names.size() - 1);
}

// The slots of one pattern's three variables.
struct PatternSlots {
    uint32_t src, dst, edge;
};

// Stable sort of fixed-width records by their first `keys` numbers.
class RecordSorter {
public:
    RecordSorter(std::size_t stride, std::size_t keys) : stride_(stride), keys_(keys) {}

    void sort(std::vector<uint32_t>& records) const {
        const std::size_t count = records.size() / stride_;
        if (count < 2) return;
        uint32_t max_first = 0;
        for (std::size_t i = 0; i < count; ++i)
            max_first = std::max(max_first, records[i * stride_]);
        // The first key is an edge id; bucket by it when the buckets take no
        // more room than the records do.
        if (std::size_t{max_first} <= 4 * count + 65536) {
            bucket_sort(records, count, max_first);
        } else {
            general_sort(records, count);
        }
    }

private:
    // a < b on keys [from, keys_).
    bool less(const uint32_t* a, const uint32_t* b, std::size_t from) const {
        for (std::size_t k = from; k < keys_; ++k) {
            if (a[k] != b[k]) return a[k] < b[k];
        }
        return false;
    }

    void bucket_sort(std::vector<uint32_t>& records, std::size_t count, uint32_t max_first) const {
        std::vector<std::size_t> start(std::size_t{max_first} + 2, 0);
        for (std::size_t i = 0; i < count; ++i)
            ++start[std::size_t{records[i * stride_]} + 1];
        for (std::size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        std::vector<uint32_t> out(records.size());
        {
            std::vector<std::size_t> next(start.begin(), start.end() - 1);
            const std::size_t bytes = stride_ * sizeof(uint32_t);
            for (std::size_t i = 0; i < count; ++i) {
                const uint32_t* r = &records[i * stride_];
                std::memcpy(&out[next[*r]++ * stride_], r, bytes);
            }
        }
        if (keys_ > 1) {
            for (std::size_t b = 0; b + 1 < start.size(); ++b) {
                if (start[b + 1] - start[b] > 1) sort_run(out, start[b], start[b + 1]);
            }
        }
        records = std::move(out);
    }

    // Sorts records [lo, hi), which share their first key, by the other keys.
    void sort_run(std::vector<uint32_t>& records, std::size_t lo, std::size_t hi) const {
        uint32_t* base = records.data();
        if (hi - lo <= 32) {
            std::vector<uint32_t> held(stride_);
            const std::size_t bytes = stride_ * sizeof(uint32_t);
            for (std::size_t i = lo + 1; i < hi; ++i) {
                if (!less(base + i * stride_, base + (i - 1) * stride_, 1)) continue;
                std::memcpy(held.data(), base + i * stride_, bytes);
                std::size_t j = i;
                for (; j > lo && less(held.data(), base + (j - 1) * stride_, 1); --j) {
                    std::memcpy(base + j * stride_, base + (j - 1) * stride_, bytes);
                }
                std::memcpy(base + j * stride_, held.data(), bytes);
            }
            return;
        }
        permute(records, lo, hi, 1);
    }

    void general_sort(std::vector<uint32_t>& records, std::size_t count) const {
        permute(records, 0, count, 0);
    }

    // Stable sort of records [lo, hi) by keys [from, keys_) through an index.
    void permute(std::vector<uint32_t>& records, std::size_t lo, std::size_t hi,
                 std::size_t from) const {
        std::vector<std::size_t> order(hi - lo);
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = lo + i;
        const uint32_t* base = records.data();
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return less(base + a * stride_, base + b * stride_, from);
        });
        std::vector<uint32_t> sorted;
        sorted.reserve(order.size() * stride_);
        for (const std::size_t i : order) {
            sorted.insert(sorted.end(), base + i * stride_, base + (i + 1) * stride_);
        }
        std::copy(sorted.begin(), sorted.end(), records.begin() + lo * stride_);
    }

    std::size_t stride_;
    std::size_t keys_;
};

}  // namespace

class MatchBuilder {
public:
    using End = RuleMatches::SlotSource::End;

    static RuleMatches node_only(const BeliefGraph& graph, const PatternItem& pattern) {
        RuleMatches m;
        m.vars_.nodes.push_back(pattern.src.var);
        m.node_sources_.push_back({0, End::Src});
        if (pattern.dst.var != pattern.src.var) {
            m.vars_.nodes.push_back(pattern.dst.var);
            m.node_sources_.push_back({0, End::Dst});
        }
        std::vector<EdgeMatchCandidate>& nodes = m.levels_.emplace_back();
        for (const NodeData& n : graph.base().nodes) {
            if (n.label == std::string_view(pattern.src.label)) nodes.push_back({EdgeId{0}, n.id, n.id});
        }
        m.count_ = nodes.size();
        return m;
    }

    static RuleMatches single(const BeliefGraph& graph, const PatternItem& pattern) {
        RuleMatches m;
        const PatternSlots slots = number(m, pattern);
        m.node_sources_.resize(m.vars_.nodes.size());
        m.node_sources_[slots.src] = {0, End::Src};
        if (slots.dst != slots.src) m.node_sources_[slots.dst] = {0, End::Dst};
        m.edge_sources_.push_back({0, End::Edge});
        EdgeCandidateIndex index(graph);
        m.levels_.push_back(index.pattern_candidates(pattern));
        m.count_ = m.levels_[0].size();
        return m;
    }

    static RuleMatches joined(const BeliefGraph& graph, std::span<const PatternItem> patterns);

private:
    static PatternSlots number(RuleMatches& m, const PatternItem& p) {
        const uint32_t src = slot_of(m.vars_.nodes, p.src.var);
        const uint32_t dst = slot_of(m.vars_.nodes, p.dst.var);
        return {src, dst, slot_of(m.vars_.edges, p.edge.var)};
    }
};

namespace {

// One pattern of the join, in plan order.
struct JoinLevel {
    PatternSlots slots;
    std::span<const EdgeMatchCandidate> all;
    std::optional<CandidateGroups> groups;  // present when an end node is bound before
    bool by_src = false;                    // groups keyed by the source (else destination)
    bool check_dst = false;                 // the destination is bound too
};

// Enumerates the join depth first and appends one record per match: the
// sorted edge ids, then each level's candidate position.
class Join {
public:
    Join(const std::vector<JoinLevel>& levels, std::size_t node_slots)
        : levels_(levels),
          nodes_(node_slots),
          cur_(levels.size()),
          end_(levels.size()),
          picks_(levels.size()) {}

    std::vector<uint32_t> run() {
        const std::size_t k = levels_.size();
        std::size_t d = 0;
        open(0);
        for (;;) {
            if (d + 1 == k) {
                emit_all(d);
                --d;
                continue;
            }
            if (cur_[d] == end_[d]) {
                if (d == 0) break;
                --d;
                continue;
            }
            const EdgeMatchCandidate& c = *cur_[d]++;
            const JoinLevel& level = levels_[d];
            if (level.check_dst && c.dst != nodes_[level.slots.dst]) continue;
            nodes_[level.slots.src] = c.src;
            nodes_[level.slots.dst] = c.dst;
            open(++d);
        }
        return std::move(records_);
    }

private:
    void open(std::size_t d) {
        const JoinLevel& level = levels_[d];
        std::span<const EdgeMatchCandidate> range = level.all;
        if (level.groups) {
            range = level.groups->find(nodes_[level.by_src ? level.slots.src : level.slots.dst]);
        }
        cur_[d] = range.data();
        end_[d] = range.data() + range.size();
    }

    // Emits every match that completes the levels above `d` with a candidate
    // of level d.
    void emit_all(std::size_t d) {
        const JoinLevel& level = levels_[d];
        const std::size_t k = levels_.size();
        const std::size_t stride = 2 * k;
        // The candidates chosen above: cur_ has moved one past each of them.
        const EdgeMatchCandidate** picks = picks_.data();
        for (std::size_t j = 0; j < d; ++j)
            picks[j] = cur_[j] - 1;
        const NodeId bound_dst = level.check_dst ? nodes_[level.slots.dst] : NodeId{};
        for (const EdgeMatchCandidate* c = cur_[d]; c != end_[d]; ++c) {
            if (level.check_dst && c->dst != bound_dst) continue;
            picks[d] = c;
            const std::size_t at = records_.size();
            records_.resize(at + stride);
            uint32_t* r = records_.data() + at;
            for (std::size_t j = 0; j < k; ++j) {
                r[j] = picks[j]->edge.value;
                r[k + j] = static_cast<uint32_t>(picks[j] - levels_[j].all.data());
            }
            std::sort(r, r + k);
        }
        cur_[d] = end_[d];
    }

    const std::vector<JoinLevel>& levels_;
    std::vector<NodeId> nodes_;  // by node slot, as bound by the levels above
    std::vector<const EdgeMatchCandidate*> cur_, end_;
    std::vector<const EdgeMatchCandidate*> picks_;
    std::vector<uint32_t> records_;
};

}  // namespace

RuleMatches MatchBuilder::joined(const BeliefGraph& graph, std::span<const PatternItem> patterns) {
    RuleMatches m;
    std::vector<PatternSlots> slots;
    for (const PatternItem& p : patterns)
        slots.push_back(number(m, p));

    const QueryPlan plan = plan_query(patterns, graph);
    EdgeCandidateIndex index(graph);
    std::vector<std::vector<EdgeMatchCandidate>> candidates;
    for (const std::size_t i : plan.order)
        candidates.push_back(index.pattern_candidates(patterns[i]));

    // Settle, level by level, which variables are bound before it.
    const std::size_t k = patterns.size();
    std::vector<bool> node_bound(m.vars_.nodes.size(), false);
    std::vector<bool> edge_bound(m.vars_.edges.size(), false);
    m.node_sources_.resize(m.vars_.nodes.size());
    m.edge_sources_.resize(m.vars_.edges.size());
    std::vector<JoinLevel> levels(k);
    bool repeated_edge_var = false;
    for (std::size_t d = 0; d < k; ++d) {
        const PatternSlots s = slots[plan.order[d]];
        JoinLevel& level = levels[d];
        level.slots = s;
        repeated_edge_var = repeated_edge_var || edge_bound[s.edge];
        if (node_bound[s.src]) {
            level.groups.emplace(candidates[d], CandidateGroups::Key::Src);
            level.by_src = true;
            level.check_dst = node_bound[s.dst] && s.dst != s.src;
        } else if (node_bound[s.dst]) {
            level.groups.emplace(candidates[d], CandidateGroups::Key::Dst);
        }
        level.all = level.groups ? level.groups->all() : std::span(candidates[d]);
        const uint32_t at = static_cast<uint32_t>(d);
        if (!node_bound[s.src]) m.node_sources_[s.src] = {at, End::Src};
        if (!node_bound[s.dst] && s.dst != s.src) m.node_sources_[s.dst] = {at, End::Dst};
        if (!edge_bound[s.edge]) m.edge_sources_[s.edge] = {at, End::Edge};
        node_bound[s.src] = node_bound[s.dst] = true;
        edge_bound[s.edge] = true;
    }
    // An edge variable belongs to one pattern: repeating it matches nothing.
    if (repeated_edge_var) return m;

    std::vector<uint32_t> records = Join(levels, m.vars_.nodes.size()).run();
    RecordSorter(2 * k, k).sort(records);

    for (std::size_t d = 0; d < k; ++d) {
        m.levels_.push_back(levels[d].groups ? std::move(*levels[d].groups).take_all()
                                             : std::move(candidates[d]));
    }
    m.stride_ = 2 * k;
    m.count_ = records.size() / m.stride_;
    m.records_ = std::move(records);
    return m;
}

RuleMatches find_rule_matches(const BeliefGraph& graph, std::span<const PatternItem> patterns) {
    if (patterns.empty()) return RuleMatches();
    if (patterns.size() > 1) return MatchBuilder::joined(graph, patterns);
    if (patterns[0].edge.ty == frontend::ast::kForNodeEdgeType) {
        return MatchBuilder::node_only(graph, patterns[0]);
    }
    return MatchBuilder::single(graph, patterns[0]);
}

}  // namespace morvane::core::engine
