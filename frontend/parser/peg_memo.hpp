// What the parsing machine has already worked out at a position.
//
// Backtracking can bring the machine back to a rule at a position where the
// rule already failed: an enclosing rule tries another alternative over the
// same text. Without a memory, each level of nesting doubles that work. The
// machine therefore records, for memoised rules, every failure per (rule
// body, position), with what the failed run left behind, and replays it when
// the rule is called there again. It also records where each skip that met a
// comment stopped, since every enclosing rule may skip the same comment.
//
// The table holds only what failed or was skipped, so a text that parses
// leaves few entries. A bitmap of the positions that hold any entry answers
// most lookups with one bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane::frontend::parser::peg {

struct MemoEntry {
    // Rule calls nested below the caller's depth while the call ran, at the
    // deepest point; a replay must fit in the depth still free.
    uint32_t depth_used = 0;
    // Building: pairs held at once beyond those held at the call, at most.
    uint32_t pairs_used = 0;
    // Tracking: when expected_run > 0, the call left the furthest failure at
    // `furthest` and appended there the entries of run expected_run - 1 of
    // the machine's remembered runs; otherwise it changed neither.
    uint32_t furthest = 0;
    uint32_t expected_run = 0;
    // Skips: where the skip stopped.
    uint32_t skip_end = 0;
};

class Memo {
public:
    // The key of skips; rule bodies are keyed by their code address.
    static constexpr uint32_t kSkip = 0xFFFFFFFFu;

    // Positions run from 0 to text_size.
    explicit Memo(uint32_t text_size) : text_size_(text_size) {}

    // The entry for `key` at `pos`, or null.
    const MemoEntry* find(uint32_t key, uint32_t pos) const {
        if (marked_.empty() || !((marked_[pos >> 6] >> (pos & 63)) & 1)) return nullptr;
        return find_slot(key, pos);
    }

    // The entry for `key` at `pos`, made empty if there was none.
    MemoEntry& insert(uint32_t key, uint32_t pos);

    size_t size() const { return count_; }

private:
    struct Slot {
        uint32_t pos;
        uint32_t key;
        MemoEntry entry;
    };
    static constexpr uint32_t kFree = 0xFFFFFFFEu;

    const MemoEntry* find_slot(uint32_t key, uint32_t pos) const;
    size_t home(uint32_t key, uint32_t pos) const;
    void grow();

    uint32_t text_size_;
    std::vector<uint64_t> marked_;  // one bit per position holding an entry
    std::vector<Slot> slots_;       // open addressing, a power of two, at most half full
    size_t count_ = 0;
};

}  // namespace morvane::frontend::parser::peg
