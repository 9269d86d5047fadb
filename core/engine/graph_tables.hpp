// Id-keyed tables of a graph's base.
//
// Ids are handed out as 0, 1, 2, ... in creation order, so the tables of a
// base are nearly dense. Both tables exploit that instead of hashing:
//   - IdIndex maps an id to a record's position through a flat array indexed
//     by id. Ids far beyond the number of entries (possible only when a caller
//     inserts records under ids of its own choosing) go to a side map, so an
//     odd id never costs memory in proportion to its value.
//   - IdMap keeps its entries sorted by id in one vector. Iteration is in
//     ascending id order, lookups of dense ids are a single probe, and copying
//     the table is one allocation.
//   - NodeNames is an IdMap of texts whose bytes share one buffer: a name
//     costs its bytes and twelve more, instead of a string object each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/engine/graph_ids.hpp"

namespace morvane::core::engine {

// Position of the first of `entries` (sorted by id, mostly dense) whose id,
// as `id_of` reads it, is not below `id`: one probe for a dense id, else a
// binary search.
template <typename Entry, typename Id, typename IdOf>
std::size_t locate_by_id(const std::vector<Entry>& entries, Id id, IdOf id_of) noexcept {
    if (id.value < entries.size() && id_of(entries[id.value]) == id) return id.value;
    const auto it = std::lower_bound(entries.begin(), entries.end(), id,
                                     [&](const Entry& e, Id key) { return id_of(e) < key; });
    return static_cast<std::size_t>(it - entries.begin());
}

template <typename Id>
class IdIndex {
public:
    std::optional<std::size_t> find(Id id) const noexcept {
        if (id.value < dense_.size()) {
            const uint32_t pos = dense_[id.value];
            if (pos != kAbsent) return pos;
        }
        if (sparse_.empty()) return std::nullopt;
        const auto it = sparse_.find(id.value);
        if (it == sparse_.end()) return std::nullopt;
        return it->second;
    }

    // Enters (or replaces) the position of `id`.
    void assign(Id id, std::size_t position) {
        const uint32_t pos = checked_id_value(position);
        if (id.value >= dense_.size() && id.value <= dense_limit()) {
            dense_.resize(std::size_t{id.value} + 1, kAbsent);
        }
        if (id.value < dense_.size()) {
            if (dense_[id.value] == kAbsent) ++count_;
            dense_[id.value] = pos;
            if (!sparse_.empty() && sparse_.erase(id.value) > 0) --count_;
        } else if (sparse_.insert_or_assign(id.value, pos).second) {
            ++count_;
        }
    }

    std::size_t size() const noexcept { return count_; }
    // Room for the ids 0 .. n - 1 without growing.
    void reserve(std::size_t n) { dense_.reserve(n); }

    void clear() noexcept {
        dense_.clear();
        sparse_.clear();
        count_ = 0;
    }

private:
    static constexpr uint32_t kAbsent = UINT32_MAX;

    // The flat array grows to cover an id as long as it stays within a small
    // multiple of the number of entries.
    std::size_t dense_limit() const noexcept { return 2 * count_ + 1024; }

    std::vector<uint32_t> dense_;
    std::unordered_map<uint32_t, uint32_t> sparse_;
    std::size_t count_ = 0;
};

template <typename Id, typename V>
class IdMap {
public:
    using Entry = std::pair<Id, V>;
    using const_iterator = typename std::vector<Entry>::const_iterator;

    const V* find(Id id) const noexcept {
        const auto i = locate(id);
        return i < entries_.size() && entries_[i].first == id ? &entries_[i].second : nullptr;
    }
    V* find(Id id) noexcept {
        const auto i = locate(id);
        return i < entries_.size() && entries_[i].first == id ? &entries_[i].second : nullptr;
    }
    bool contains(Id id) const noexcept { return find(id) != nullptr; }

    // Stores `value` under `id`, replacing an earlier entry. Appending in
    // ascending id order, the usual case, is amortised constant time.
    V& insert_or_assign(Id id, V value) {
        if (entries_.empty() || entries_.back().first < id) {
            return entries_.emplace_back(id, std::move(value)).second;
        }
        const auto i = locate(id);
        if (entries_[i].first == id) {
            entries_[i].second = std::move(value);
            return entries_[i].second;
        }
        return entries_.emplace(entries_.begin() + i, id, std::move(value))->second;
    }

    bool erase(Id id) {
        const auto i = locate(id);
        if (i == entries_.size() || entries_[i].first != id) return false;
        entries_.erase(entries_.begin() + i);
        return true;
    }

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }
    void reserve(std::size_t n) { entries_.reserve(n); }

    friend bool operator==(const IdMap&, const IdMap&) = default;

private:
    // Position of the first entry whose id is not below `id`.
    std::size_t locate(Id id) const noexcept {
        return locate_by_id(entries_, id, [](const Entry& e) { return e.first; });
    }

    std::vector<Entry> entries_;
};

// Node id -> name, iterated in ascending id order as (id, name) pairs.
// Names are appended to one buffer; replacing a name leaves its old bytes
// behind (names are set once, by the evidence builder, as a rule).
class NodeNames {
public:
    std::optional<std::string_view> find(NodeId id) const noexcept {
        const auto i = locate(id);
        if (i == entries_.size() || !(entries_[i].id == id)) return std::nullopt;
        return text(entries_[i]);
    }

    // Stores `name` under `id`, replacing an earlier one. Appending in
    // ascending id order, the usual case, is amortised constant time.
    void insert_or_assign(NodeId id, std::string_view name) {
        const Entry entry{id, checked_id_value(bytes_.size()), checked_id_value(name.size())};
        const auto i = entries_.empty() || entries_.back().id < id ? entries_.size() : locate(id);
        bytes_ += name;
        if (i < entries_.size() && entries_[i].id == id) {
            entries_[i] = entry;
        } else {
            entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i), entry);
        }
    }

    // Room for `count` names of `bytes` bytes in all.
    void reserve(std::size_t count, std::size_t bytes) {
        entries_.reserve(count);
        bytes_.reserve(bytes);
    }

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }

    class const_iterator {
    public:
        using value_type = std::pair<NodeId, std::string_view>;
        const_iterator(const NodeNames* names, std::size_t i) : names_(names), i_(i) {}
        value_type operator*() const {
            const Entry& e = names_->entries_[i_];
            return {e.id, names_->text(e)};
        }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return i_ == other.i_; }

    private:
        const NodeNames* names_;
        std::size_t i_;
    };
    const_iterator begin() const noexcept { return {this, 0}; }
    const_iterator end() const noexcept { return {this, entries_.size()}; }

    // Equal when they name the same ids alike, however their bytes lie.
    friend bool operator==(const NodeNames& a, const NodeNames& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!(a.entries_[i].id == b.entries_[i].id) ||
                a.text(a.entries_[i]) != b.text(b.entries_[i])) {
                return false;
            }
        }
        return true;
    }

private:
    struct Entry {
        NodeId id;
        uint32_t start;  // in bytes_
        uint32_t size;
    };

    std::string_view text(const Entry& e) const noexcept {
        return std::string_view(bytes_).substr(e.start, e.size);
    }
    // Position of the first entry whose id is not below `id`.
    std::size_t locate(NodeId id) const noexcept {
        return locate_by_id(entries_, id, [](const Entry& e) { return e.id; });
    }

    std::vector<Entry> entries_;
    std::string bytes_;
};

}  // namespace morvane::core::engine
