// Decoding of the flat pair buffer.
#include "frontend/parser/parse_tree.hpp"

#include <algorithm>

#include "frontend/support/panic.hpp"

namespace morvane::frontend::parser {

Pair::Pair(const detail::TreeStore* store, uint32_t index) : store_(store), index_(index) {
    const detail::PairRecord record = store->records[index];
    rule_ = static_cast<Rule>(record.packed & 0xFFu);
    uint32_t length = (record.packed >> 8) & detail::kPackedFieldMax;
    uint32_t descendants = record.packed >> (8 + detail::kPackedFieldBits);
    if (length == detail::kPackedFieldMax) {
        const auto& overflow = store->overflow;
        const auto found = std::lower_bound(
            overflow.begin(), overflow.end(), index,
            [](const detail::PairOverflow& entry, uint32_t wanted) { return entry.index < wanted; });
        if (found == overflow.end() || found->index != index) {
            support::panic("parse tree: missing overflow entry");
        }
        length = found->length;
        descendants = found->descendants;
    }
    start_ = record.start;
    end_ = record.start + length;
    next_ = index + 1 + descendants;
}

Pairs Pair::into_inner() const { return Pairs(store_, index_ + 1, next_); }

Pairs::iterator::iterator(const detail::TreeStore* store, uint32_t index, uint32_t end)
    : store_(store), index_(index), end_(end) {
    if (index_ < end_) current_ = Pair(store_, index_);
}

Pairs::iterator& Pairs::iterator::operator++() {
    index_ = current_->next_;
    if (index_ < end_) {
        current_ = Pair(store_, index_);
    } else {
        current_.reset();
    }
    return *this;
}

size_t Pairs::size() const {
    size_t count = 0;
    for (auto it = begin(); it != end(); ++it) ++count;
    return count;
}

std::optional<Pair> Pairs::peek() const {
    if (empty()) return std::nullopt;
    return Pair(store_, first_);
}

std::optional<Pair> Pairs::next() {
    if (empty()) return std::nullopt;
    Pair pair(store_, first_);
    first_ = pair.next_;
    return pair;
}

std::optional<Pair> Pairs::last() const {
    std::optional<Pair> result;
    for (const Pair& pair : *this) result = pair;
    return result;
}

ParseTree::ParseTree(std::unique_ptr<detail::TreeStore> store) : store_(std::move(store)) {}

Pairs ParseTree::pairs() const {
    return Pairs(store_.get(), 0, static_cast<uint32_t>(store_->records.size()));
}

size_t ParseTree::memory_bytes() const {
    return store_->records.capacity() * sizeof(detail::PairRecord) +
           store_->overflow.capacity() * sizeof(detail::PairOverflow);
}

}  // namespace morvane::frontend::parser
