// The records of a belief graph: posteriors, nodes, edges, competing groups
// and the pending changes that a graph value records over its shared base.
//
// Records are plain values. The only invariants checked on construction are
// those of the Dirichlet posterior and of the competing group; breaking them
// is a programming error and ends the call with support::Panic.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/engine/graph_ids.hpp"
#include "core/engine/graph_small_vector.hpp"
#include "core/engine/graph_tables.hpp"

namespace morvane::core::engine {

// A Gaussian belief: node attributes and edge weights. `precision` is the
// inverse variance; readers floor it where they divide by it.
struct GaussianPosterior {
    double mean = 0.0;
    double precision = 0.0;
    friend bool operator==(const GaussianPosterior&, const GaussianPosterior&) = default;
};

// The shared choice of a competing group: one concentration per category.
class DirichletPosterior {
public:
    // Panics with "Dirichlet posterior requires at least one category" on an
    // empty list and with "All Dirichlet concentrations must be > 0" when an
    // entry is not greater than 0 (NaN included).
    explicit DirichletPosterior(std::vector<double> concentrations);

    // p_i = max(c_i, 0.01) / sum_j max(c_j, 0.01), summed in category order.
    std::vector<double> mean_probabilities() const;

    // -sum p_i ln p_i over the p_i > 1e-10, in category order, starting from
    // -0.0 (so one category gives -0.0).
    double entropy() const;

    // The conjugate update "category k was not chosen", defined for two
    // categories only: the other one gains one. Throws ExecError (Validation)
    // for k out of range or a group of other than two categories.
    void observe_unchosen(std::size_t k);

    // Written in place by the competing-group updates; every entry stays > 0.
    std::vector<double> concentrations;

    friend bool operator==(const DirichletPosterior&, const DirichletPosterior&) = default;
};

// The edges that leave one source node with one edge type and compete for a
// single choice; category i is the edge to categories[i].
class CompetingEdgeGroup {
public:
    // Panics unless `posterior` has exactly one concentration per category.
    // A destination listed twice keeps its later index.
    CompetingEdgeGroup(CompetingGroupId id, NodeId source, std::string edge_type,
                       std::vector<NodeId> categories, DirichletPosterior posterior);

    std::optional<std::size_t> get_category_index(NodeId node) const;

    CompetingGroupId id;
    NodeId source;
    std::string edge_type;
    // Fixed at construction: the category index is built from it.
    std::vector<NodeId> categories;
    DirichletPosterior posterior;

    friend bool operator==(const CompetingEdgeGroup&, const CompetingEdgeGroup&) = default;

private:
    // (destination, category) sorted by destination.
    std::vector<std::pair<NodeId, std::size_t>> category_index_;
};

// A graph's competing groups, iterated in ascending group id.
using CompetingGroups = IdMap<CompetingGroupId, CompetingEdgeGroup>;

// The existence belief of an edge.
struct EdgePosterior {
    // A Beta posterior: `alpha` counts presence, `beta` absence.
    struct Independent {
        double alpha = 0.0;
        double beta = 0.0;
        friend bool operator==(const Independent&, const Independent&) = default;
    };
    // Category `category` of group `group`; the probability mass lives there.
    struct Competing {
        CompetingGroupId group;
        std::size_t category = 0;
        friend bool operator==(const Competing&, const Competing&) = default;
    };

    std::variant<Independent, Competing> value;

    bool is_competing() const noexcept { return value.index() == 1; }
    const Independent* independent() const noexcept { return std::get_if<Independent>(&value); }
    Independent* independent() noexcept { return std::get_if<Independent>(&value); }
    const Competing* competing() const noexcept { return std::get_if<Competing>(&value); }

    // The mean existence probability, Beta and Dirichlet parameters floored
    // at 0.01. A competing posterior reads its group from `groups`: a missing
    // group throws ExecError (Internal "missing competing group"), a category
    // beyond the group's panics with "Category index out of bounds".
    double mean_probability(const CompetingGroups& groups) const;

    friend bool operator==(const EdgePosterior&, const EdgePosterior&) = default;
};

// A node's attributes in insertion order (the order the evidence builder
// gives them, the schema's); the first one is kept inside the map itself. Names are shared texts so that a recorded update
// of an attribute shares its name instead of copying it.
class AttrMap {
public:
    struct Entry {
        SharedText name;
        GaussianPosterior posterior;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    AttrMap() = default;
    AttrMap(std::initializer_list<std::pair<std::string_view, GaussianPosterior>> entries);

    const Entry* find_entry(std::string_view name) const noexcept {
        for (const Entry& e : entries_) {
            if (e.name == name) return &e;
        }
        return nullptr;
    }
    const GaussianPosterior* find(std::string_view name) const noexcept {
        const Entry* e = find_entry(name);
        return e ? &e->posterior : nullptr;
    }
    GaussianPosterior* find(std::string_view name) noexcept {
        const Entry* e = find_entry(name);
        return e ? &entries_[static_cast<std::size_t>(e - entries_.data())].posterior : nullptr;
    }
    bool contains(std::string_view name) const noexcept { return find_entry(name) != nullptr; }
    // The place of `name` in insertion order, if present.
    std::optional<std::size_t> position(std::string_view name) const noexcept;
    // The posterior at a place below size().
    GaussianPosterior& posterior_at(std::size_t position) noexcept {
        return entries_[position].posterior;
    }

    // A new name goes to the end; an existing one keeps its place.
    void insert_or_assign(SharedText name, GaussianPosterior posterior);
    void insert_or_assign(std::string name, GaussianPosterior posterior) {
        insert_or_assign(SharedText(std::move(name)), posterior);
    }

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    const Entry* begin() const noexcept { return entries_.begin(); }
    const Entry* end() const noexcept { return entries_.end(); }

    friend bool operator==(const AttrMap& a, const AttrMap& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    // Most node types carry one attribute: it lives inside the record.
    SmallVector<Entry, 1> entries_;
};

struct NodeData {
    SharedText label;  // the node type
    AttrMap attrs;
    NodeId id;
    friend bool operator==(const NodeData&, const NodeData&) = default;
};

struct EdgeData {
    EdgePosterior posterior;
    SharedText edge_type;
    EdgeId id;
    NodeId src;
    NodeId dst;
    friend bool operator==(const EdgeData&, const EdgeData&) = default;
};

// One pending change of a graph value, folded into the base on
// materialisation.
struct GraphDelta {
    // The attribute's posterior becomes (mean, precision).
    struct AttrUpdate {
        NodeId node;
        SharedText attr;
        double mean = 0.0;
        double precision = 0.0;
    };
    // The edge's independent posterior becomes (alpha, beta).
    struct EdgePosteriorUpdate {
        EdgeId edge;
        double alpha = 0.0;
        double beta = 0.0;
    };
    struct NodeInsert {
        NodeId id;  // equals data.id
        NodeData data;
    };
    struct EdgeInsert {
        EdgeId id;  // equals data.id
        EdgeData data;
    };

    std::variant<AttrUpdate, EdgePosteriorUpdate, NodeInsert, EdgeInsert> change;
};

// Correlations between two attributes of one node, keyed by (node, "a|b")
// with the byte-wise smaller name on the left. A pair without an entry has
// correlation 0. Entries are kept sorted by (node, key).
class AttrCorrelations {
public:
    struct Entry {
        NodeId node;
        std::string pair_key;
        double correlation = 0.0;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // "a|b" with the byte-wise smaller name first (a proper prefix first).
    static std::string pair_key(std::string_view a, std::string_view b);

    std::optional<double> find(NodeId node, std::string_view key) const noexcept;
    void insert_or_assign(NodeId node, std::string key, double correlation);
    bool erase(NodeId node, std::string_view key);

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    std::vector<Entry>::const_iterator begin() const noexcept { return entries_.begin(); }
    std::vector<Entry>::const_iterator end() const noexcept { return entries_.end(); }

    friend bool operator==(const AttrCorrelations&, const AttrCorrelations&) = default;

private:
    std::vector<Entry>::const_iterator locate(NodeId node, std::string_view key) const noexcept;

    std::vector<Entry> entries_;
};

}  // namespace morvane::core::engine
