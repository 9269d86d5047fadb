// Construction of the graph records and their small tables.
#include "core/engine/graph_records.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {

SharedText::SharedText(std::string text)
    : rep_(std::make_unique<Rep>(1, std::move(text)).release()) {}

void SharedText::release() noexcept {
    if (rep_ && rep_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::unique_ptr<Rep> last(rep_);
    }
    rep_ = nullptr;
}

std::string debug_form(NodeId id) {
    return support::cat("NodeId(", id.value, ")");
}
std::string debug_form(EdgeId id) {
    return support::cat("EdgeId(", id.value, ")");
}
std::string debug_form(CompetingGroupId id) {
    return support::cat("CompetingGroupId(", id.value, ")");
}

uint32_t checked_id_value(std::size_t n) {
    if (n > std::numeric_limits<uint32_t>::max()) {
        support::panic(support::cat("graph id ", n, " does not fit in 32 bits"));
    }
    return static_cast<uint32_t>(n);
}

DirichletPosterior::DirichletPosterior(std::vector<double> values)
    : concentrations(std::move(values)) {
    if (concentrations.empty())
        support::panic("Dirichlet posterior requires at least one category");
    for (const double c : concentrations) {
        if (!(c > 0.0)) support::panic("All Dirichlet concentrations must be > 0");
    }
}

CompetingEdgeGroup::CompetingEdgeGroup(CompetingGroupId group_id, NodeId source_node,
                                       std::string type, std::vector<NodeId> category_nodes,
                                       DirichletPosterior dirichlet)
    : id(group_id),
      source(source_node),
      edge_type(std::move(type)),
      categories(std::move(category_nodes)),
      posterior(std::move(dirichlet)) {
    const std::size_t k = categories.size();
    const std::size_t dims = posterior.concentrations.size();
    if (k != dims) {
        support::panic(support::cat(
            "assertion `left == right` failed: Number of categories must match posterior "
            "dimensions\n  left: ",
            k, "\n right: ", dims));
    }
    category_index_.reserve(k);
    for (std::size_t i = 0; i < k; ++i)
        category_index_.emplace_back(categories[i], i);
    // Sort by destination keeping category order within one destination, then
    // keep the last (highest) index of every destination.
    std::stable_sort(category_index_.begin(), category_index_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t out = 0;
    for (std::size_t i = 0; i < category_index_.size(); ++i) {
        if (i + 1 < category_index_.size() &&
            category_index_[i + 1].first == category_index_[i].first) {
            continue;
        }
        category_index_[out++] = category_index_[i];
    }
    category_index_.resize(out);
}

std::optional<std::size_t> CompetingEdgeGroup::get_category_index(NodeId node) const {
    const auto it = std::lower_bound(category_index_.begin(), category_index_.end(), node,
                                     [](const auto& e, NodeId key) { return e.first < key; });
    if (it == category_index_.end() || it->first != node) return std::nullopt;
    return it->second;
}

AttrMap::AttrMap(std::initializer_list<std::pair<std::string_view, GaussianPosterior>> entries) {
    entries_.reserve(entries.size());
    for (const auto& [name, posterior] : entries) {
        insert_or_assign(SharedText(std::string(name)), posterior);
    }
}

std::optional<std::size_t> AttrMap::position(std::string_view name) const noexcept {
    const Entry* e = find_entry(name);
    if (!e) return std::nullopt;
    return static_cast<std::size_t>(e - entries_.data());
}

void AttrMap::insert_or_assign(SharedText name, GaussianPosterior posterior) {
    if (GaussianPosterior* existing = find(name.view())) {
        *existing = posterior;
        return;
    }
    entries_.push_back(Entry{std::move(name), posterior});
}

std::string AttrCorrelations::pair_key(std::string_view a, std::string_view b) {
    if (b < a) std::swap(a, b);
    std::string key;
    key.reserve(a.size() + b.size() + 1);
    key.append(a).append("|").append(b);
    return key;
}

namespace {

bool entry_before(const AttrCorrelations::Entry& e, NodeId node, std::string_view key) {
    return e.node < node || (e.node == node && std::string_view(e.pair_key) < key);
}

}  // namespace

std::vector<AttrCorrelations::Entry>::const_iterator AttrCorrelations::locate(
    NodeId node, std::string_view key) const noexcept {
    return std::lower_bound(entries_.begin(), entries_.end(), node,
                            [key](const Entry& e, NodeId n) { return entry_before(e, n, key); });
}

std::optional<double> AttrCorrelations::find(NodeId node, std::string_view key) const noexcept {
    const auto it = locate(node, key);
    if (it == entries_.end() || it->node != node || it->pair_key != key) return std::nullopt;
    return it->correlation;
}

void AttrCorrelations::insert_or_assign(NodeId node, std::string key, double correlation) {
    if (entries_.empty() || entry_before(entries_.back(), node, key)) {
        entries_.push_back(Entry{node, std::move(key), correlation});
        return;
    }
    const auto it = locate(node, key);
    const auto pos = entries_.begin() + (it - entries_.cbegin());
    if (pos != entries_.end() && pos->node == node && pos->pair_key == key) {
        pos->correlation = correlation;
        return;
    }
    entries_.insert(pos, Entry{node, std::move(key), correlation});
}

bool AttrCorrelations::erase(NodeId node, std::string_view key) {
    const auto it = locate(node, key);
    if (it == entries_.end() || it->node != node || it->pair_key != key) return false;
    entries_.erase(it);
    return true;
}

}  // namespace morvane::core::engine
