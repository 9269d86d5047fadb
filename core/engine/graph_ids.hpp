// Ids of the belief graph and the shared immutable text its records carry.
//
// Node, edge and competing-group ids are distinct types over one unsigned
// 32-bit number, so that a node id can never be passed where an edge id is
// expected. Messages print them in their debug form, "NodeId(3)".
//
// Labels and edge types are repeated on every record of a graph and copied
// with every deep copy of a graph's base; SharedText makes such a copy one
// reference-count increment instead of a string copy.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <string_view>

namespace morvane::core::engine {

struct NodeId {
    uint32_t value = 0;
    friend auto operator<=>(NodeId, NodeId) = default;
};

struct EdgeId {
    uint32_t value = 0;
    friend auto operator<=>(EdgeId, EdgeId) = default;
};

struct CompetingGroupId {
    uint32_t value = 0;
    friend auto operator<=>(CompetingGroupId, CompetingGroupId) = default;
};

// "NodeId(3)", "EdgeId(0)", "CompetingGroupId(12)".
std::string debug_form(NodeId id);
std::string debug_form(EdgeId id);
std::string debug_form(CompetingGroupId id);

// Narrows a record count or position to an id. Past 2^32 - 1 the graph can
// no longer name its records, which ends the call abruptly (support::Panic).
uint32_t checked_id_value(std::size_t n);

// Equality of short names: most differ in length or in their first byte,
// which settles the comparison without a call to memcmp.
inline bool same_bytes(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && (a.empty() || (a[0] == b[0] && a == b));
}

// Immutable text shared by reference count; copying it never copies bytes.
// The count is atomic, so texts may be shared by graphs on different threads.
// A default-constructed SharedText is the empty text. One pointer wide: it
// sits in every node and edge record.
class SharedText {
public:
    SharedText() = default;
    explicit SharedText(std::string text);
    SharedText(const SharedText& other) noexcept : rep_(other.rep_) { retain(); }
    SharedText(SharedText&& other) noexcept : rep_(std::exchange(other.rep_, nullptr)) {}
    SharedText& operator=(const SharedText& other) noexcept {
        SharedText(other).swap(*this);
        return *this;
    }
    SharedText& operator=(SharedText&& other) noexcept {
        SharedText(std::move(other)).swap(*this);
        return *this;
    }
    ~SharedText() { release(); }

    std::string_view view() const noexcept { return rep_ ? std::string_view(rep_->text) : ""; }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }
    std::size_t size() const noexcept { return view().size(); }
    bool empty() const noexcept { return view().empty(); }

    // True when both hold the very same text object (not just equal bytes).
    bool shares_with(const SharedText& other) const noexcept { return rep_ == other.rep_; }

    friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
        return a.rep_ == b.rep_ || same_bytes(a.view(), b.view());
    }
    friend bool operator==(const SharedText& a, std::string_view b) noexcept {
        return same_bytes(a.view(), b);
    }
    friend auto operator<=>(const SharedText& a, const SharedText& b) noexcept {
        return a.view() <=> b.view();
    }

private:
    struct Rep {
        Rep(uint64_t count, std::string bytes) : holders(count), text(std::move(bytes)) {}
        std::atomic<uint64_t> holders;
        std::string text;
    };

    void swap(SharedText& other) noexcept { std::swap(rep_, other.rep_); }
    void retain() const noexcept {
        if (rep_) rep_->holders.fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept;

    Rep* rep_ = nullptr;
};

}  // namespace morvane::core::engine

template <>
struct std::hash<morvane::core::engine::NodeId> {
    std::size_t operator()(morvane::core::engine::NodeId id) const noexcept { return id.value; }
};
template <>
struct std::hash<morvane::core::engine::EdgeId> {
    std::size_t operator()(morvane::core::engine::EdgeId id) const noexcept { return id.value; }
};
template <>
struct std::hash<morvane::core::engine::CompetingGroupId> {
    std::size_t operator()(morvane::core::engine::CompetingGroupId id) const noexcept {
        return id.value;
    }
};
template <>
struct std::hash<morvane::core::engine::SharedText> {
    std::size_t operator()(const morvane::core::engine::SharedText& t) const noexcept {
        return std::hash<std::string_view>()(t.view());
    }
};
