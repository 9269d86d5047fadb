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
#include <bit>
#include <memory>
#include <optional>
#include <utility>

#include "core/engine/query_plan.hpp"

namespace morvane::core::engine {

using frontend::ast::PatternItem;

// ---- Reading a match ---------------------------------------------------------------------

void RuleMatches::read(std::size_t i, std::span<NodeId> nodes, std::span<EdgeId> edges) const {
    if (!records_) {
        const EdgeMatchCandidate& c = single_[i];
        for (std::size_t s = 0; s < node_sources_.size(); ++s)
            nodes[s] = node_sources_[s].end == SlotSource::End::Src ? c.src : c.dst;
        for (std::size_t s = 0; s < edge_sources_.size(); ++s)
            edges[s] = c.edge;
        return;
    }
    const uint32_t* const record = &records_[i * levels_];
    for (std::size_t s = 0; s < node_sources_.size(); ++s) {
        const EdgeMatchCandidate& c = ends_.of(record[node_sources_[s].level]);
        nodes[s] = node_sources_[s].end == SlotSource::End::Src ? c.src : c.dst;
    }
    for (std::size_t s = 0; s < edge_sources_.size(); ++s) {
        edges[s] = EdgeId{record[edge_sources_[s].level]};
    }
}

void RuleMatches::EdgeEnds::build(std::span<const std::span<const EdgeMatchCandidate>> all_lists) {
    // Patterns of one type and labels share their candidate list: read it once.
    std::vector<std::span<const EdgeMatchCandidate>> lists;
    for (const auto& list : all_lists) {
        const bool seen = std::any_of(lists.begin(), lists.end(),
                                      [&](const auto& l) { return l.data() == list.data(); });
        if (!seen) lists.push_back(list);
    }
    uint32_t max_edge = 0;
    std::size_t total = 0;
    for (const auto& list : lists) {
        total += list.size();
        for (const EdgeMatchCandidate& c : list)
            max_edge = std::max(max_edge, c.edge.value);
    }
    by_id_ = std::size_t{max_edge} <= 4 * total + 65536;
    if (by_id_) {
        table_.resize(std::size_t{max_edge} + 1);
        for (const auto& list : lists) {
            for (const EdgeMatchCandidate& c : list)
                table_[c.edge.value] = c;
        }
        return;
    }
    for (const auto& list : lists)
        table_.insert(table_.end(), list.begin(), list.end());
    const auto by_edge = [](const auto& a, const auto& b) { return a.edge < b.edge; };
    std::sort(table_.begin(), table_.end(), by_edge);
    table_.erase(std::unique(table_.begin(), table_.end()), table_.end());
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
        for (const NodeData& n : graph.base().nodes) {
            if (n.label == std::string_view(pattern.src.label)) {
                m.single_.push_back({EdgeId{0}, n.id, n.id});
            }
        }
        m.count_ = m.single_.size();
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
        const std::span<const EdgeMatchCandidate> candidates = index.pattern_candidates(pattern);
        m.single_.assign(candidates.begin(), candidates.end());
        m.count_ = m.single_.size();
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
    std::span<const EdgeMatchCandidate> all;  // its candidates (grouped, with groups)
    std::optional<CandidateGroups> groups;    // present when an end node is bound before
    bool by_src = false;                      // groups keyed by the source (else destination)
    bool check_dst = false;                   // the destination is bound too
    // Which end of the level above gives this level's group key, if any.
    enum class Above : uint8_t { None, Src, Dst } key_from_above = Above::None;
};

// Calls sink(picks) for every match of the join, depth first, with picks[d]
// the candidate chosen at level d.
template <typename Sink>
void for_each_join_match(const std::vector<JoinLevel>& levels, std::size_t node_slots,
                         Sink&& sink) {
    constexpr std::ptrdiff_t kLookahead = 8;  // candidates whose next group is fetched early
    const std::size_t k = levels.size();
    std::vector<NodeId> nodes(node_slots);  // as bound by the levels above
    std::vector<const EdgeMatchCandidate*> cur(k), end(k), picks(k);
    const auto open = [&](std::size_t d) {
        const JoinLevel& level = levels[d];
        std::span<const EdgeMatchCandidate> range = level.all;
        if (level.groups) {
            range = level.groups->find(nodes[level.by_src ? level.slots.src : level.slots.dst]);
        }
        cur[d] = range.data();
        end[d] = range.data() + range.size();
    };
    std::size_t d = 0;
    open(0);
    for (;;) {
        const JoinLevel& level = levels[d];
        if (d + 1 == k) {
            const NodeId bound = level.check_dst ? nodes[level.slots.dst] : NodeId{};
            for (const EdgeMatchCandidate* c = cur[d]; c != end[d]; ++c) {
                if (level.check_dst && c->dst != bound) continue;
                picks[d] = c;
                sink(picks.data());
            }
        } else if (cur[d] != end[d]) {
            const EdgeMatchCandidate* c = cur[d]++;
            const JoinLevel& below = levels[d + 1];
            if (below.key_from_above != JoinLevel::Above::None && end[d] - c > kLookahead) {
                const EdgeMatchCandidate& ahead = c[kLookahead];
                below.groups->prefetch(below.key_from_above == JoinLevel::Above::Src ? ahead.src
                                                                                     : ahead.dst);
            }
            if (level.check_dst && c->dst != nodes[level.slots.dst]) continue;
            picks[d] = c;
            nodes[level.slots.src] = c->src;
            nodes[level.slots.dst] = c->dst;
            open(++d);
            continue;
        }
        if (d == 0) break;
        --d;
    }
}

// The matches of the join as records, in match order: each match's edge
// ids, one per level.
struct JoinRecords {
    std::unique_ptr<uint32_t[]> data;
    std::size_t count = 0;
};

// Records of joins of `K` patterns; K = 0 takes the number of patterns at
// run time. Joins of two patterns, the common case, get a fixed width, so
// that handling a record is a few moves rather than loops and calls.
//
// Records are ordered by their ids sorted ascending ("keys"), compared
// lexicographically.
template <std::size_t K>
class Records {
public:
    explicit Records(std::size_t patterns) : k_(K ? K : patterns) {}

    std::size_t k() const { return K ? K : k_; }

    void write(const EdgeMatchCandidate* const* picks, uint32_t* r) const {
        for (std::size_t j = 0; j < k(); ++j)
            r[j] = picks[j]->edge.value;
    }

    void copy(const uint32_t* from, uint32_t* to) const { std::copy_n(from, k(), to); }

    uint32_t smallest(const uint32_t* r) const {
        if constexpr (K == 2) return std::min(r[0], r[1]);
        return *std::min_element(r, r + k());
    }

    // The ids of `r` ascending.
    void keys(const uint32_t* r, uint32_t* out) const {
        if constexpr (K == 2) {
            out[0] = std::min(r[0], r[1]);
            out[1] = std::max(r[0], r[1]);
        } else {
            std::copy_n(r, k(), out);
            std::sort(out, out + k());
        }
    }

    // Stable sort of the records [lo, hi) of `base` by their keys from
    // position `from` on.
    void sort(uint32_t* base, std::size_t lo, std::size_t hi, std::size_t from) {
        const std::size_t n = hi - lo, k = this->k();
        if constexpr (K == 2) {
            if (n <= 32) {  // in place: keys of two ids are cheap to recompute
                const auto key = [from](const uint32_t* r) {
                    const uint64_t lo_id = std::min(r[0], r[1]), hi_id = std::max(r[0], r[1]);
                    return from == 0 ? lo_id << 32 | hi_id : hi_id;
                };
                for (std::size_t i = lo + 1; i < hi; ++i) {
                    const uint32_t held[2] = {base[2 * i], base[2 * i + 1]};
                    const uint64_t held_key = key(held);
                    std::size_t j = i;
                    for (; j > lo && held_key < key(base + 2 * (j - 1)); --j)
                        copy(base + 2 * (j - 1), base + 2 * j);
                    copy(held, base + 2 * j);
                }
                return;
            }
        }
        keys_.resize(n * k);
        order_.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            keys(base + (lo + i) * k, &keys_[i * k]);
            order_[i] = i;
        }
        const auto less = [&](std::size_t a, std::size_t b) {
            const uint32_t* ka = keys_.data() + a * k;
            const uint32_t* kb = keys_.data() + b * k;
            return std::lexicographical_compare(ka + from, ka + k, kb + from, kb + k);
        };
        if (n <= 32) {
            for (std::size_t i = 1; i < n; ++i) {
                const std::size_t held = order_[i];
                std::size_t j = i;
                for (; j > 0 && less(held, order_[j - 1]); --j)
                    order_[j] = order_[j - 1];
                order_[j] = held;
            }
        } else {
            std::stable_sort(order_.begin(), order_.end(), less);
        }
        sorted_.resize(n * k);
        for (std::size_t i = 0; i < n; ++i)
            copy(base + (lo + order_[i]) * k, &sorted_[i * k]);
        std::copy(sorted_.begin(), sorted_.end(), base + lo * k);
    }

private:
    std::size_t k_;
    std::vector<uint32_t> keys_;
    std::vector<std::size_t> order_;
    std::vector<uint32_t> sorted_;
};

// Dense edge ids. Writing every match straight to its place would scatter
// writes all over the result, which memory punishes; instead a counting pass
// of the join sizes about a thousand partitions by the high bits of the
// smallest edge id, a second pass streams each match into its partition (in
// join order), and each partition, small enough to stay in cache, is sorted
// on its own: by the low bits of the smallest id, then by the other ids.
template <std::size_t K>
JoinRecords bucketed_join(const std::vector<JoinLevel>& levels, std::size_t node_slots,
                          uint32_t max_edge) {
    constexpr unsigned kPartitionBits = 10;
    Records<K> rec(levels.size());
    const std::size_t k = rec.k();
    const unsigned id_bits = static_cast<unsigned>(std::bit_width(max_edge));
    const unsigned shift = id_bits > kPartitionBits ? id_bits - kPartitionBits : 0;
    std::vector<uint32_t> r(k);

    std::vector<std::size_t> start((std::size_t{max_edge} >> shift) + 2, 0);
    for_each_join_match(levels, node_slots, [&](const EdgeMatchCandidate* const* picks) {
        rec.write(picks, r.data());
        ++start[(rec.smallest(r.data()) >> shift) + 1];
    });
    for (std::size_t p = 1; p < start.size(); ++p)
        start[p] += start[p - 1];
    const std::size_t count = start.back();

    auto data = std::make_unique_for_overwrite<uint32_t[]>(count * k);
    uint32_t* const records = data.get();
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for_each_join_match(levels, node_slots, [&](const EdgeMatchCandidate* const* picks) {
            rec.write(picks, r.data());
            rec.copy(r.data(), records + next[rec.smallest(r.data()) >> shift]++ * k);
        });
    }

    // Each partition: a stable counting sort by the low bits of the smallest
    // id, then the runs of one smallest id by the other ids. A partition with
    // fewer records than the counting table has entries is sorted by
    // comparison instead, so that wide id ranges cost no more than the data.
    const uint32_t low_mask = (uint32_t{1} << shift) - 1;
    std::vector<std::size_t> low(std::size_t{low_mask} + 2);
    std::vector<uint32_t> scratch, smallest;
    for (std::size_t p = 0; p + 1 < start.size(); ++p) {
        const std::size_t n = start[p + 1] - start[p];
        if (n < 2) continue;
        uint32_t* part = records + start[p] * k;
        if (n < low.size()) {
            rec.sort(part, 0, n, 0);
            continue;
        }
        smallest.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            smallest[i] = rec.smallest(part + i * k);
        if (shift > 0) {
            std::fill(low.begin(), low.end(), 0);
            for (std::size_t i = 0; i < n; ++i)
                ++low[(smallest[i] & low_mask) + 1];
            for (std::size_t b = 1; b < low.size(); ++b)
                low[b] += low[b - 1];
            scratch.resize(n * k);
            for (std::size_t i = 0; i < n; ++i)
                rec.copy(part + i * k, &scratch[low[smallest[i] & low_mask]++ * k]);
            std::copy(scratch.begin(), scratch.end(), part);
            for (std::size_t i = 0; i < n; ++i)
                smallest[i] = rec.smallest(part + i * k);
        }
        std::size_t run = 0;
        for (std::size_t i = 1; i <= n; ++i) {
            if (i == n || smallest[i] != smallest[run]) {
                if (i - run > 1) rec.sort(part, run, i, 1);
                run = i;
            }
        }
    }
    return {std::move(data), count};
}

// Sparse edge ids: every match's record, then one stable sort of them all.
JoinRecords sorted_join(const std::vector<JoinLevel>& levels, std::size_t node_slots) {
    Records<0> rec(levels.size());
    const std::size_t k = rec.k();
    std::vector<uint32_t> all;
    for_each_join_match(levels, node_slots, [&](const EdgeMatchCandidate* const* picks) {
        const std::size_t at = all.size();
        all.resize(at + k);
        rec.write(picks, &all[at]);
    });
    const std::size_t count = all.size() / k;
    auto data = std::make_unique_for_overwrite<uint32_t[]>(all.size());
    std::copy(all.begin(), all.end(), data.get());
    if (count > 1) rec.sort(data.get(), 0, count, 0);
    return {std::move(data), count};
}

JoinRecords ordered_join(const std::vector<JoinLevel>& levels, std::size_t node_slots) {
    uint32_t max_edge = 0;
    std::size_t candidates = 0;
    for (const JoinLevel& level : levels) {
        candidates += level.all.size();
        for (const EdgeMatchCandidate& c : level.all)
            max_edge = std::max(max_edge, c.edge.value);
    }
    // Partitions by edge id when their table is not much larger than the
    // candidates themselves.
    if (std::size_t{max_edge} > 4 * candidates + 65536) return sorted_join(levels, node_slots);
    if (levels.size() == 2) return bucketed_join<2>(levels, node_slots, max_edge);
    return bucketed_join<0>(levels, node_slots, max_edge);
}

}  // namespace

RuleMatches MatchBuilder::joined(const BeliefGraph& graph, std::span<const PatternItem> patterns) {
    RuleMatches m;
    std::vector<PatternSlots> slots;
    for (const PatternItem& p : patterns)
        slots.push_back(number(m, p));

    const QueryPlan plan = plan_query(patterns, graph);
    EdgeCandidateIndex index(graph);
    std::vector<std::span<const EdgeMatchCandidate>> candidates;
    for (const std::size_t i : plan.order)
        candidates.push_back(index.pattern_candidates(patterns[i]));

    // An edge variable belongs to one pattern: repeating it matches nothing.
    const std::size_t k = patterns.size();
    if (m.vars_.edges.size() < k) return m;

    // Settle, level by level, which variables are bound before it.
    std::vector<bool> node_bound(m.vars_.nodes.size(), false);
    m.node_sources_.resize(m.vars_.nodes.size());
    m.edge_sources_.resize(k);
    std::vector<JoinLevel> levels(k);
    for (std::size_t d = 0; d < k; ++d) {
        const PatternSlots s = slots[plan.order[d]];
        JoinLevel& level = levels[d];
        level.slots = s;
        if (node_bound[s.src]) {
            level.groups.emplace(candidates[d], CandidateGroups::Key::Src);
            level.by_src = true;
            level.check_dst = node_bound[s.dst] && s.dst != s.src;
        } else if (node_bound[s.dst]) {
            level.groups.emplace(candidates[d], CandidateGroups::Key::Dst);
        }
        level.all = level.groups ? level.groups->all() : candidates[d];
        if (level.groups && d > 0) {
            const uint32_t key = level.by_src ? s.src : s.dst;
            const PatternSlots above = levels[d - 1].slots;
            if (above.src == key) {
                level.key_from_above = JoinLevel::Above::Src;
            } else if (above.dst == key) {
                level.key_from_above = JoinLevel::Above::Dst;
            }
        }
        const uint32_t at = static_cast<uint32_t>(d);
        if (!node_bound[s.src]) m.node_sources_[s.src] = {at, End::Src};
        if (!node_bound[s.dst] && s.dst != s.src) m.node_sources_[s.dst] = {at, End::Dst};
        m.edge_sources_[s.edge] = {at, End::Edge};
        node_bound[s.src] = node_bound[s.dst] = true;
    }

    JoinRecords records = ordered_join(levels, m.vars_.nodes.size());
    m.ends_.build(candidates);
    m.levels_ = k;
    m.records_ = std::move(records.data);
    m.count_ = records.count;
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
