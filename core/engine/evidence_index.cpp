// Indexing a block's observations (see evidence_index.hpp), in three steps:
//   1. one pass over the observations numbers every distinct node reference
//      and every distinct edge in order of first sight, with hash tables
//      whose slots keep short labels inline;
//   2. the references are sorted by (node type, label) bytes, which gives
//      the NodeIds, and edges and observations are renumbered;
//   3. the application order of the updates is computed with counting
//      sorts, which keep the written order among equal keys.
#include "core/engine/evidence_index.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/engine/flat_map.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {
namespace {

namespace ast = frontend::ast;
using ast::ObserveStmt;

// 0, 1, ..., n - 1.
std::vector<uint32_t> identity(std::size_t n) {
    std::vector<uint32_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint32_t>(i);
    return out;
}

// The rank of every name among `names` (distinct) in byte order.
std::vector<uint32_t> byte_order_ranks(const std::vector<std::string_view>& names) {
    std::vector<uint32_t> order = identity(names.size());
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return names[a] < names[b]; });
    std::vector<uint32_t> rank(names.size());
    for (uint32_t r = 0; r < order.size(); ++r)
        rank[order[r]] = r;
    return rank;
}

// `positions` reordered by ascending keys[position] (keys below key_count),
// equal keys keeping their order: a counting sort, linear in both sizes.
std::vector<uint32_t> stable_by_key(const std::vector<uint32_t>& positions,
                                    const std::vector<uint32_t>& keys, std::size_t key_count) {
    std::vector<uint32_t> start(key_count + 1, 0);
    for (const uint32_t p : positions)
        ++start[keys[p] + 1];
    for (std::size_t k = 1; k <= key_count; ++k)
        start[k] += start[k - 1];
    std::vector<uint32_t> out(positions.size());
    for (const uint32_t p : positions)
        out[start[keys[p]]++] = p;
    return out;
}

// The node references seen so far, by (node type, label), with open
// addressing. A slot holds the reference's hash and node type and, for a
// label of up to 15 bytes, the label itself: most lookups read one slot and
// nothing else, which matters once the table outgrows the caches.
class RefTable {
public:
    // The reference of (type, label), or `fresh` after entering it; the flag
    // tells which. `label_of(ref)` gives the label of an entered reference.
    template <typename LabelOf>
    std::pair<uint32_t, bool> find_or_add(uint32_t type, std::string_view label, uint32_t fresh,
                                          const LabelOf& label_of) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        const uint64_t hash = std::hash<std::string_view>()(label) ^ (type * 0x9e3779b97f4a7c15);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.ref == kEmpty) {
                slot.hash = hash;
                slot.ref = fresh;
                slot.type = type;
                slot.size = label.size() <= kInline ? static_cast<uint8_t>(label.size()) : kLong;
                if (slot.size != kLong) std::memcpy(slot.text, label.data(), label.size());
                ++count_;
                return {fresh, true};
            }
            if (slot.hash != hash || slot.type != type) continue;
            const bool equal = slot.size == kLong
                                   ? label.size() > kInline && label_of(slot.ref) == label
                                   : std::string_view(slot.text, slot.size) == label;
            if (equal) return {slot.ref, false};
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    static constexpr std::size_t kInline = 15;
    static constexpr uint8_t kLong = UINT8_MAX;  // the label lives elsewhere
    struct Slot {
        uint64_t hash = 0;
        uint32_t ref = kEmpty;
        uint32_t type = 0;
        uint8_t size = 0;
        char text[kInline] = {};
    };

    void grow() {
        std::vector<Slot> old(std::max<std::size_t>(16, slots_.size() * 2));
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.ref == kEmpty) continue;
            std::size_t i = slot.hash & mask;
            while (slots_[i].ref != kEmpty)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

// Texts numbered 0, 1, 2, ... in order of first sight. Meant for the few
// names of a program (node types, edge types, attributes), looked up once per
// observation: the last text found is checked first.
class TextNumbers {
public:
    uint32_t number(std::string_view text) {
        if (last_ < texts_.size() && texts_[last_] == text) return last_;
        const auto [slot, added] = numbers_.try_emplace(text, checked_id_value(texts_.size()));
        if (added) texts_.push_back(text);
        last_ = slot->second;
        return last_;
    }
    std::vector<std::string_view> take() { return std::move(texts_); }

private:
    std::vector<std::string_view> texts_;
    std::unordered_map<std::string_view, uint32_t> numbers_;
    uint32_t last_ = UINT32_MAX;
};

// One distinct edge before the nodes are numbered: its ends are references.
struct EdgeKey {
    uint32_t type;
    uint32_t src;
    uint32_t dst;
    friend bool operator==(const EdgeKey&, const EdgeKey&) = default;
};
struct EdgeKeyHash {
    std::size_t operator()(const EdgeKey& key) const noexcept {
        // The finaliser of splitmix64: every input bit moves every output bit.
        uint64_t x = (uint64_t{key.src} << 32 | key.dst) ^ (uint64_t{key.type} * 0x9e3779b97f4a7c15);
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
        x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
        return static_cast<std::size_t>(x ^ (x >> 31));
    }
};

ObservationKind kind_of_mode(ast::EvidenceMode mode) {
    switch (mode) {
    case ast::EvidenceMode::Present: return ObservationKind::Present;
    case ast::EvidenceMode::Absent: return ObservationKind::Absent;
    case ast::EvidenceMode::Chosen: return ObservationKind::Chosen;
    case ast::EvidenceMode::Unchosen: return ObservationKind::Unchosen;
    case ast::EvidenceMode::ForcedChoice: return ObservationKind::ForcedChoice;
    }
    support::panic("unknown evidence mode");
}

// Step 1: references and edges numbered in order of first sight, and what
// every observation names in those numbers.
class FirstSight {
public:
    explicit FirstSight(const ObservationList& observations) {
        index_.tags.reserve(observations.size());
        index_.targets.reserve(observations.size());
        observations.for_each([&](const ObserveStmt& stmt) {
            if (const auto* e = std::get_if<ObserveStmt::Edge>(&stmt.node)) {
                add_edge(kind_of_mode(e->mode), *e);
            } else if (const auto* w = std::get_if<ObserveStmt::EdgeWeight>(&stmt.node)) {
                add_edge(ObservationKind::EdgeWeight, *w);
            } else {
                const auto& a = std::get<ObserveStmt::Attribute>(stmt.node);
                index_.tags.push_back(
                    EvidenceIndex::tag(ObservationKind::Attribute, attr_names_.number(a.attr)));
                index_.targets.push_back(ref(a.node_type, a.node_label));
            }
        });
    }

    // Step 2: NodeIds from the sorted references; edges and attribute
    // targets renumbered. Leaves the index with everything but the order of
    // application.
    EvidenceIndex finish() && {
        index_.node_types = node_types_.take();
        index_.edge_types = edge_types_.take();
        index_.attr_names = attr_names_.take();
        const std::vector<uint32_t> sorted = sorted_refs();
        std::vector<NodeId> node_of_ref(refs_.size());
        index_.node_labels.reserve(sorted.size());
        for (uint32_t id = 0; id < sorted.size(); ++id) {
            const Ref& r = refs_[sorted[id]];
            node_of_ref[sorted[id]] = NodeId{id};
            if (index_.type_runs.empty() || index_.type_runs.back().type != r.type) {
                index_.type_runs.push_back({r.type, NodeId{id}});
            }
            index_.node_labels.push_back(r.label);
        }
        index_.edges.reserve(edge_keys_.size());
        for (const EdgeKey& key : edge_keys_) {
            index_.edges.push_back({key.type, node_of_ref[key.src], node_of_ref[key.dst]});
        }
        for (std::size_t i = 0; i < index_.tags.size(); ++i) {
            if (index_.kind(i) == ObservationKind::Attribute) {
                index_.targets[i] = node_of_ref[index_.targets[i]].value;
            }
        }
        return std::move(index_);
    }

private:
    struct Ref {
        uint32_t type;
        std::string_view label;
    };

    template <typename Obs>
    void add_edge(ObservationKind kind, const Obs& obs) {
        const uint32_t type = edge_types_.number(obs.edge_type);
        const uint32_t src = ref(obs.src_type, obs.src_label);
        const uint32_t dst = ref(obs.dst_type, obs.dst_label);
        const uint32_t fresh = checked_id_value(edge_keys_.size());
        const auto [id, added] = edges_.try_emplace(EdgeKey{type, src, dst}, fresh);
        if (added) edge_keys_.push_back(EdgeKey{type, src, dst});
        index_.tags.push_back(EvidenceIndex::tag(kind));
        index_.targets.push_back(*id);
    }

    uint32_t ref(std::string_view type, std::string_view label) {
        const uint32_t t = node_types_.number(type);
        const auto [r, added] =
            ref_table_.find_or_add(t, label, checked_id_value(refs_.size()),
                                   [&](uint32_t known) { return refs_[known].label; });
        if (added) refs_.push_back(Ref{t, label});
        return r;
    }

    // Reference numbers in ascending (node type, label) byte order. The sort
    // compares the first eight bytes of the labels as one number and reads
    // whole labels only where those are equal.
    std::vector<uint32_t> sorted_refs() const {
        struct Key {
            uint32_t type_rank;
            uint32_t ref;
            uint64_t head;  // the label's first 8 bytes, big-endian, zero-padded
        };
        const std::vector<uint32_t> type_rank = byte_order_ranks(index_.node_types);
        std::vector<Key> keys(refs_.size());
        for (uint32_t r = 0; r < refs_.size(); ++r) {
            const std::string_view text = refs_[r].label;
            uint64_t head = 0;
            for (std::size_t i = 0; i < 8; ++i) {
                const auto byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
                head = (head << 8) | byte;
            }
            keys[r] = Key{type_rank[refs_[r].type], r, head};
        }
        std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
            if (x.type_rank != y.type_rank) return x.type_rank < y.type_rank;
            if (x.head != y.head) return x.head < y.head;
            return refs_[x.ref].label < refs_[y.ref].label;
        });
        std::vector<uint32_t> order(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            order[i] = keys[i].ref;
        return order;
    }

    TextNumbers node_types_;
    TextNumbers edge_types_;
    TextNumbers attr_names_;
    std::vector<Ref> refs_;
    RefTable ref_table_;
    FlatMap<EdgeKey, uint32_t, EdgeKeyHash> edges_;
    std::vector<EdgeKey> edge_keys_;
    EvidenceIndex index_;
};

// Step 3: the order in which the updates are applied.
void order_updates(EvidenceIndex& index) {
    std::vector<uint32_t> choices, presence, weights, attrs;
    for (uint32_t i = 0; i < index.tags.size(); ++i) {
        switch (index.kind(i)) {
        case ObservationKind::Present:
        case ObservationKind::Absent: presence.push_back(i); break;
        case ObservationKind::Chosen:
        case ObservationKind::Unchosen:
        case ObservationKind::ForcedChoice: choices.push_back(i); break;
        case ObservationKind::EdgeWeight: weights.push_back(i); break;
        case ObservationKind::Attribute: attrs.push_back(i); break;
        }
    }
    // Present / absent and edge weights by EdgeId; attributes by attribute
    // name, then (stably) by NodeId.
    presence = stable_by_key(presence, index.targets, index.edges.size());
    weights = stable_by_key(weights, index.targets, index.edges.size());
    const std::vector<uint32_t> name_rank = byte_order_ranks(index.attr_names);
    std::vector<uint32_t> name_keys(index.tags.size(), 0);
    for (const uint32_t i : attrs)
        name_keys[i] = name_rank[EvidenceIndex::attr_of(index.tags[i])];
    attrs = stable_by_key(attrs, name_keys, name_rank.size());
    attrs = stable_by_key(attrs, index.targets, index.node_count());

    index.apply_order.reserve(index.tags.size());
    index.apply_order.insert(index.apply_order.end(), choices.begin(), choices.end());
    index.choices_end = index.apply_order.size();
    index.apply_order.insert(index.apply_order.end(), presence.begin(), presence.end());
    index.presence_end = index.apply_order.size();
    index.apply_order.insert(index.apply_order.end(), weights.begin(), weights.end());
    index.weights_end = index.apply_order.size();
    index.apply_order.insert(index.apply_order.end(), attrs.begin(), attrs.end());
}

}  // namespace

uint32_t EvidenceIndex::tag(ObservationKind kind, uint32_t attr) {
    if (attr > (UINT32_MAX >> 3)) support::panic("too many attribute names in one evidence block");
    return attr << 3 | static_cast<uint32_t>(kind);
}

EvidenceIndex index_evidence(const ObservationList& observations) {
    EvidenceIndex index = FirstSight(observations).finish();
    order_updates(index);
    return index;
}

}  // namespace morvane::core::engine
