// The parse tree: rule-tagged byte spans of the source text.
//
// A successful parse yields a ParseTree. Its pairs live in one flat buffer in
// preorder (a pair, then its inner pairs, then its next sibling), eight bytes
// a pair, so that a large source costs a small, allocation-free tree and the
// tree can be dropped in one step whatever its depth.
//
// Contract for readers:
//   - Pair and Pairs are small handles (views). Copying them, walking inner
//     pairs and reading spans never allocates. They stay valid as long as the
//     ParseTree they came from lives (moving the ParseTree keeps them valid)
//     and the source text it was parsed from stays alive and unchanged.
//   - Spans are byte offsets into the parsed text, start <= end, both on
//     character boundaries. as_str() is the text between them.
//   - Inner pairs are in source order, do not overlap and lie within their
//     parent's span. Silent rules leave no pair; what they matched belongs to
//     the nearest enclosing pair.
//   - Pairs is a range (begin/end) and also a cursor: next() takes the first
//     pair off the front, so a builder can hand one Pairs value from helper
//     to helper and continue after whatever the helper consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {

struct ByteSpan {
    uint32_t start = 0;
    uint32_t end = 0;
    bool operator==(const ByteSpan&) const = default;
};

namespace detail {

// One pair. `packed` holds the rule in its low 8 bits, then 12 bits of span
// length and 12 bits of descendant count. A pair whose length or descendant
// count does not fit marks both fields all-ones and keeps the full values in
// the overflow list, sorted by pair index.
struct PairRecord {
    uint32_t start;
    uint32_t packed;
};

struct PairOverflow {
    uint32_t index;
    uint32_t length;
    uint32_t descendants;
};

inline constexpr uint32_t kPackedFieldBits = 12;
inline constexpr uint32_t kPackedFieldMax = (1u << kPackedFieldBits) - 1;  // the escape value

struct TreeStore {
    std::string_view text;
    std::vector<PairRecord> records;
    std::vector<PairOverflow> overflow;
};

}  // namespace detail

class Pairs;

class Pair {
public:
    Rule as_rule() const { return rule_; }
    // The source text the pair matched.
    std::string_view as_str() const { return store_->text.substr(start_, end_ - start_); }
    uint32_t start() const { return start_; }
    uint32_t end() const { return end_; }
    ByteSpan as_span() const { return {start_, end_}; }
    // The inner pairs, in source order.
    Pairs into_inner() const;

private:
    friend class Pairs;
    Pair(const detail::TreeStore* store, uint32_t index);

    const detail::TreeStore* store_;
    uint32_t index_;
    uint32_t start_;
    uint32_t end_;
    uint32_t next_;  // index of the record after this pair's subtree
    Rule rule_;
};

// A sequence of sibling pairs in source order.
class Pairs {
public:
    class iterator {
    public:
        using value_type = Pair;
        using difference_type = std::ptrdiff_t;
        using reference = const Pair&;
        using pointer = const Pair*;
        using iterator_category = std::forward_iterator_tag;

        iterator() = default;
        const Pair& operator*() const { return *current_; }
        const Pair* operator->() const { return &*current_; }
        iterator& operator++();
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator& other) const { return index_ == other.index_; }

    private:
        friend class Pairs;
        iterator(const detail::TreeStore* store, uint32_t index, uint32_t end);

        const detail::TreeStore* store_ = nullptr;
        uint32_t index_ = 0;
        uint32_t end_ = 0;
        std::optional<Pair> current_;
    };

    Pairs() = default;

    iterator begin() const { return iterator(store_, first_, end_); }
    iterator end() const { return iterator(store_, end_, end_); }
    bool empty() const { return first_ == end_; }
    // Number of pairs; walks the sequence.
    size_t size() const;

    // The first pair, without consuming it.
    std::optional<Pair> peek() const;
    // Takes the first pair off the front.
    std::optional<Pair> next();
    // The last pair; walks the sequence.
    std::optional<Pair> last() const;

private:
    friend class Pair;
    friend class ParseTree;
    Pairs(const detail::TreeStore* store, uint32_t first, uint32_t end)
        : store_(store), first_(first), end_(end) {}

    const detail::TreeStore* store_ = nullptr;
    uint32_t first_ = 0;
    uint32_t end_ = 0;
};

// The result of a successful parse. Owns the pair buffer; refers to the
// source text without copying it.
class ParseTree {
public:
    explicit ParseTree(std::unique_ptr<detail::TreeStore> store);

    // The top-level pairs: for the start rule `program`, exactly one.
    Pairs pairs() const;
    std::string_view text() const { return store_->text; }
    // Number of pairs in the whole tree.
    size_t pair_count() const { return store_->records.size(); }
    // Bytes held by the pair buffer.
    size_t memory_bytes() const;

private:
    std::unique_ptr<detail::TreeStore> store_;
};

}  // namespace morvane::frontend::parser
