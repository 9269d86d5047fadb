// A hash map with open addressing, for the large working tables of graph
// construction (hundreds of thousands to millions of small keys).
//
// A node-based map costs two dependent memory reads per lookup (bucket, then
// node) and one allocation per entry; at these sizes each read is a cache
// miss. FlatMap keeps its entries in one array and probes linearly from the
// key's hash, so a lookup usually touches a single cache line, and growth is
// the only allocation. Entries cannot be erased. Iteration order is the
// array's, which depends on the hashes: callers must not let results depend
// on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace morvane::core::engine {

template <typename Key, typename Value, typename Hash>
class FlatMap {
public:
    Value* find(const Key& key) {
        if (count_ == 0) return nullptr;
        for (std::size_t i = Hash()(key) & mask();; i = (i + 1) & mask()) {
            Slot& slot = slots_[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.value;
        }
    }
    const Value* find(const Key& key) const { return const_cast<FlatMap*>(this)->find(key); }

    // The value under `key`, entered as `value` when the key is new; the flag
    // tells whether it was.
    std::pair<Value*, bool> try_emplace(const Key& key, Value value) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        for (std::size_t i = Hash()(key) & mask();; i = (i + 1) & mask()) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                slot = Slot{key, std::move(value), true};
                ++count_;
                return {&slot.value, true};
            }
            if (slot.key == key) return {&slot.value, false};
        }
    }

    // The value under `key`, default-constructed when the key is new.
    Value& operator[](const Key& key) { return *try_emplace(key, Value()).first; }

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }

    // Calls fn(key, value) for every entry, in no particular order.
    template <typename Fn>
    void for_each(Fn&& fn) {
        for (Slot& slot : slots_) {
            if (slot.used) fn(static_cast<const Key&>(slot.key), slot.value);
        }
    }

private:
    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };

    std::size_t mask() const noexcept { return slots_.size() - 1; }

    // Doubles the array (at least 16 slots), keeping it at most half full.
    void grow() {
        std::vector<Slot> old(std::max<std::size_t>(16, slots_.size() * 2));
        old.swap(slots_);
        for (Slot& slot : old) {
            if (!slot.used) continue;
            std::size_t i = Hash()(slot.key) & mask();
            while (slots_[i].used)
                i = (i + 1) & mask();
            slots_[i] = std::move(slot);
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace morvane::core::engine
