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
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/engine/graph_ids.hpp"

namespace morvane::core::engine {

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
        if (id.value < entries_.size() && entries_[id.value].first == id) return id.value;
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                                         [](const Entry& e, Id key) { return e.first < key; });
        return static_cast<std::size_t>(it - entries_.begin());
    }

    std::vector<Entry> entries_;
};

}  // namespace morvane::core::engine
