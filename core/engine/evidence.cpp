// Evidence graph construction (see evidence.hpp), in five steps over the
// observation list:
//   1. gather the node references of every observation;
//   2. create the nodes in sorted (node type, label) order, with their
//      attribute priors, names and correlations;
//   3. check every edge observation's type and plan the categories of the
//      competing groups;
//   4. create the edges in order of first mention and prepare every update;
//   5. apply the updates in their four passes.
// Node references and names are resolved once, in step 1, to small integers
// that the later steps index with; the texts themselves are only borrowed.
#include "core/engine/evidence.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "core/engine/errors.hpp"
#include "frontend/debug_text.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {
namespace {

namespace ast = frontend::ast;
using frontend::debug_text;
using support::fill;
using support::plain_number;

constexpr std::string_view kCorrPrefix = "corr_";
constexpr double kCorrelationTolerance = 1e-12;

// Values of parameters that a declaration leaves out.
constexpr double kDefaultPriorMean = 0.0;
constexpr double kDefaultPriorPrecision = 0.01;
constexpr double kDefaultObservationPrecision = 1.0;
constexpr double kDefaultExistencePrior = 0.5;
constexpr double kDefaultPseudoCount = 2.0;

// ---- Declarations: the first match by exact name -------------------------------

std::optional<double> find_param(const ast::PosteriorParams& params, std::string_view name) {
    for (const auto& [param, value] : params) {
        if (param == name) return value;
    }
    return std::nullopt;
}

const ast::NodeDef* find_node_def(const Schema& schema, std::string_view type) {
    for (const ast::NodeDef& node : schema.nodes) {
        if (node.name == type) return &node;
    }
    return nullptr;
}

const ast::NodeBeliefDecl* find_node_decl(const BeliefModel& model, std::string_view type) {
    for (const ast::NodeBeliefDecl& decl : model.nodes) {
        if (decl.node_type == type) return &decl;
    }
    return nullptr;
}

const EdgeBeliefDecl* find_edge_decl(const BeliefModel& model, std::string_view type) {
    for (const EdgeBeliefDecl& decl : model.edges) {
        if (decl.edge_type == type) return &decl;
    }
    return nullptr;
}

const ast::PosteriorType* find_attr_decl(const ast::NodeBeliefDecl& decl, std::string_view attr) {
    for (const auto& [name, posterior] : decl.attrs) {
        if (name == attr) return &posterior;
    }
    return nullptr;
}

bool schema_has_edge(std::span<const EdgeDef> edges, std::string_view type) {
    return std::any_of(edges.begin(), edges.end(),
                       [&](const EdgeDef& e) { return e.name == type; });
}

// The precision of an observation that gives none: the declaration's
// "observation_precision" when it is Gaussian, else 1.
double default_observation_precision(const ast::PosteriorType& posterior) {
    const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&posterior.node);
    if (!gaussian) return kDefaultObservationPrecision;
    return find_param(gaussian->params, "observation_precision")
        .value_or(kDefaultObservationPrecision);
}

GaussianPosterior gaussian_prior(const ast::PosteriorParams& params) {
    return GaussianPosterior{
        find_param(params, "prior_mean").value_or(kDefaultPriorMean),
        find_param(params, "prior_precision").value_or(kDefaultPriorPrecision)};
}

ExecError attr_not_declared(std::string_view attr, std::string_view type) {
    return ExecError::validation(
        fill("Attribute '{}' not declared for node type '{}' in belief model", attr, type));
}

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

// ---- Step 1: node references -------------------------------------------------

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
    const std::vector<std::string_view>& texts() const { return texts_; }

private:
    std::vector<std::string_view> texts_;
    std::unordered_map<std::string_view, uint32_t> numbers_;
    uint32_t last_ = UINT32_MAX;
};

// The distinct node references of a block, numbered in order of first sight,
// with the references of every observation (source and destination of an
// edge, the node of an attribute) in observation order. Node types and edge
// types are numbered on the way.
class NodeRefs {
public:
    struct Ref {
        uint32_t type;
        uint32_t label_start;  // the label's bytes in the arena
        uint32_t label_size;
    };

    explicit NodeRefs(std::span<const ObserveStmt> observations) {
        by_observation_.reserve(observations.size() * 2);
        for (const ObserveStmt& stmt : observations) {
            if (const auto* e = std::get_if<ObserveStmt::Edge>(&stmt.node)) {
                add_edge(e->edge_type, e->src_type, e->src_label, e->dst_type, e->dst_label);
            } else if (const auto* w = std::get_if<ObserveStmt::EdgeWeight>(&stmt.node)) {
                add_edge(w->edge_type, w->src_type, w->src_label, w->dst_type, w->dst_label);
            } else {
                const auto& a = std::get<ObserveStmt::Attribute>(stmt.node);
                add(a.node_type, a.node_label);
            }
        }
    }

    const std::vector<std::string_view>& types() const { return types_.texts(); }
    const std::vector<Ref>& refs() const { return refs_; }
    std::string_view label(const Ref& ref) const {
        return std::string_view(labels_).substr(ref.label_start, ref.label_size);
    }
    // The references of all observations, in order; each an index into refs().
    const std::vector<uint32_t>& by_observation() const { return by_observation_; }
    // The edge type of every edge and edge-weight observation, in order; each
    // an index into edge_types().
    const std::vector<uint32_t>& edge_type_by_observation() const { return edge_type_of_; }
    const std::vector<std::string_view>& edge_types() const { return edge_types_.texts(); }

    // Reference indices in ascending (node type, label) byte order. The sort
    // compares the first eight bytes of the labels as one number and reads
    // whole labels only where those are equal.
    std::vector<uint32_t> sorted() const {
        struct Key {
            uint32_t type_rank;
            uint32_t ref;
            uint64_t head;  // the label's first 8 bytes, big-endian, zero-padded
        };
        const std::vector<uint32_t> type_rank = byte_order_ranks(types());
        std::vector<Key> keys(refs_.size());
        for (uint32_t r = 0; r < refs_.size(); ++r) {
            const std::string_view text = label(refs_[r]);
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
            return label(refs_[x.ref]) < label(refs_[y.ref]);
        });
        std::vector<uint32_t> order(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            order[i] = keys[i].ref;
        return order;
    }

private:
    void add_edge(std::string_view edge_type, std::string_view src_type, std::string_view src_label,
                  std::string_view dst_type, std::string_view dst_label) {
        edge_type_of_.push_back(edge_types_.number(edge_type));
        add(src_type, src_label);
        add(dst_type, dst_label);
    }

    void add(std::string_view type, std::string_view label) {
        const uint32_t t = types_.number(type);
        const auto [ref, added] =
            index_.find_or_add(t, label, checked_id_value(refs_.size()),
                               [&](uint32_t r) { return this->label(refs_[r]); });
        if (added) {
            // The labels are copied together, so that sorting them stays within
            // a small arena instead of reaching into every observation.
            refs_.push_back(
                Ref{t, checked_id_value(labels_.size()), checked_id_value(label.size())});
            labels_ += label;
        }
        by_observation_.push_back(ref);
    }

    TextNumbers types_;
    TextNumbers edge_types_;
    std::vector<Ref> refs_;
    std::string labels_;
    RefTable index_;
    std::vector<uint32_t> by_observation_;
    std::vector<uint32_t> edge_type_of_;
};

// ---- Step 2: nodes ---------------------------------------------------------------

// What every node of one node type starts with. Nothing in it depends on the
// node's label, so it is made once per node type.
struct NodeTemplate {
    const ast::NodeBeliefDecl* decl = nullptr;
    AttrMap attrs;
    struct Correlation {
        std::string_view a;  // the byte-wise smaller name (equal for a self pair)
        std::string_view b;
        double value;
    };
    std::vector<Correlation> correlations;
};

// The correlations the declaration of `type` declares, each pair once.
std::vector<NodeTemplate::Correlation> declared_correlations(std::string_view type,
                                                             const ast::NodeBeliefDecl& decl,
                                                             const BeliefModel& model) {
    std::vector<NodeTemplate::Correlation> pairs;
    for (const auto& [attr, posterior] : decl.attrs) {
        const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&posterior.node);
        if (!gaussian) continue;
        for (const auto& [param, r] : gaussian->params) {
            if (!param.starts_with(kCorrPrefix)) continue;
            const std::string_view target = std::string_view(param).substr(kCorrPrefix.size());
            if (target.empty()) {
                throw ExecError::validation(fill(
                    "Invalid Gaussian correlation parameter '{}' on '{}.{}' in belief model '{}'",
                    param, type, attr, model.name));
            }
            if (!find_attr_decl(decl, target)) {
                throw ExecError::validation(
                    fill("Correlation parameter '{}.{} = {}' references unknown attribute '{}' in "
                         "belief model '{}'",
                         type, param, plain_number(r), target, model.name));
            }
            if (!std::isfinite(r) || std::fabs(r) > 1.0) {
                throw ExecError::validation(
                    fill("Correlation '{}.{}' must be finite and in [-1, 1], got {}", type, param,
                         plain_number(r)));
            }
            if (target == attr && std::fabs(r - 1.0) > kCorrelationTolerance) {
                throw ExecError::validation(
                    fill("Self-correlation '{}.{}' must be exactly 1, got {}", type, attr,
                         plain_number(r)));
            }
            const std::string_view first = std::min<std::string_view>(attr, target);
            const std::string_view second = std::max<std::string_view>(attr, target);
            const auto same = [&](const NodeTemplate::Correlation& c) {
                return c.a == first && c.b == second;
            };
            const auto known = std::find_if(pairs.begin(), pairs.end(), same);
            if (known == pairs.end()) {
                pairs.push_back({first, second, r});
                continue;
            }
            if (std::fabs(known->value - r) > kCorrelationTolerance) {
                throw ExecError::validation(
                    fill("Conflicting correlation declarations for '{}.{}' and '{}.{}' in belief "
                         "model '{}': {} vs {}",
                         type, first, type, second, model.name, plain_number(known->value),
                         plain_number(r)));
            }
            known->value = r;
        }
    }
    return pairs;
}

NodeTemplate node_template(std::string_view type, const BeliefModel& model, const Schema& schema) {
    const ast::NodeDef* def = find_node_def(schema, type);
    if (!def) {
        throw ExecError::validation(
            fill("Node type '{}' not found in schema '{}'", type, schema.name));
    }
    NodeTemplate t;
    t.decl = find_node_decl(model, type);
    if (!t.decl) {
        throw ExecError::validation(
            fill("Node type '{}' not declared in belief model '{}'", type, model.name));
    }
    t.correlations = declared_correlations(type, *t.decl, model);
    for (const ast::AttrDef& attr : def->attrs) {
        const ast::PosteriorType* posterior = find_attr_decl(*t.decl, attr.name);
        if (!posterior) throw attr_not_declared(attr.name, type);
        const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&posterior->node);
        if (!gaussian) {
            throw ExecError::validation(
                fill("Node attributes must use GaussianPosterior, got {}", debug_text(*posterior)));
        }
        t.attrs.insert_or_assign(attr.name, gaussian_prior(gaussian->params));
    }
    return t;
}

// Creates one node per reference in sorted order. Returns the NodeId of every
// reference and the declaration of every node type.
struct CreatedNodes {
    std::vector<NodeId> of_ref;
    std::vector<const ast::NodeBeliefDecl*> decl_of_type;
};

CreatedNodes create_nodes(BeliefGraph& graph, const NodeRefs& refs, const BeliefModel& model,
                          const Schema& schema) {
    CreatedNodes out{std::vector<NodeId>(refs.refs().size()),
                     std::vector<const ast::NodeBeliefDecl*>(refs.types().size(), nullptr)};
    NodeTemplate current;
    uint32_t current_type = UINT32_MAX;
    // Sorted order keeps every node type's references together.
    for (const uint32_t r : refs.sorted()) {
        const NodeRefs::Ref& ref = refs.refs()[r];
        if (ref.type != current_type) {
            current = node_template(refs.types()[ref.type], model, schema);
            current_type = ref.type;
            out.decl_of_type[ref.type] = current.decl;
        }
        const NodeId id = graph.add_node(std::string(refs.types()[ref.type]), current.attrs);
        graph.set_node_name(id, std::string(refs.label(ref)));
        for (const NodeTemplate::Correlation& c : current.correlations) {
            graph.set_attr_correlation(id, c.a, c.b, c.value);
        }
        out.of_ref[r] = id;
    }
    return out;
}

// ---- Step 3: edge declarations and planned categories ----------------------------

// The edge declaration of every edge and edge-weight observation, in order,
// and the planned categories of every competing (source, edge type).
struct EdgePlan {
    std::vector<const EdgeBeliefDecl*> decls;
    PlannedCategories categories;
};

EdgePlan plan_edges(std::span<const ObserveStmt> observations, const NodeRefs& refs,
                    const std::vector<NodeId>& node_of_ref, const BeliefModel& model) {
    EdgePlan plan;
    plan.decls.reserve(refs.edge_type_by_observation().size());
    // The declaration of each edge type, looked up when first needed.
    std::vector<const EdgeBeliefDecl*> decl_of_type(refs.edge_types().size(), nullptr);
    std::size_t ref_cursor = 0;
    const auto plan_one = [&](const auto& obs) {
        const NodeId src = node_of_ref[refs.by_observation()[ref_cursor]];
        const NodeId dst = node_of_ref[refs.by_observation()[ref_cursor + 1]];
        ref_cursor += 2;
        const EdgeBeliefDecl*& decl =
            decl_of_type[refs.edge_type_by_observation()[plan.decls.size()]];
        if (!decl) decl = find_edge_decl(model, obs.edge_type);
        if (!decl) {
            throw ExecError::validation(fill("Edge type '{}' not declared in belief model '{}'",
                                             obs.edge_type, model.name));
        }
        plan.decls.push_back(decl);
        const auto* categorical = std::get_if<ast::PosteriorType::Categorical>(&decl->exist.node);
        if (!categorical) return;
        if (const auto& allowed = categorical->categories) {
            if (std::find(allowed->begin(), allowed->end(), obs.dst_label) == allowed->end()) {
                throw ExecError::validation(
                    fill("Destination '{}' is not allowed for categorical edge '{}'; expected one "
                         "of {}",
                         obs.dst_label, obs.edge_type, debug_text(*allowed)));
            }
        }
        plan.categories[EvidenceSourceKey{decl, src}].push_back(dst);
    };
    for (const ObserveStmt& stmt : observations) {
        if (const auto* e = std::get_if<ObserveStmt::Edge>(&stmt.node)) {
            plan_one(*e);
        } else if (const auto* w = std::get_if<ObserveStmt::EdgeWeight>(&stmt.node)) {
            plan_one(*w);
        } else {
            ref_cursor += 1;
        }
    }
    plan.categories.for_each([](const EvidenceSourceKey&, std::vector<NodeId>& destinations) {
        std::sort(destinations.begin(), destinations.end());
        destinations.erase(std::unique(destinations.begin(), destinations.end()),
                           destinations.end());
    });
    return plan;
}

// ---- Step 4: edges and prepared updates ----------------------------------------------

struct EdgeUpdate {
    EdgeId edge;
    ast::EvidenceMode mode;
};
struct WeightUpdate {
    EdgeId edge;
    double value;
    double precision;
};
struct AttrUpdate {
    NodeId node;
    uint32_t attr;  // index into Prepared::attr_names
    double value;
    double precision;
};

// The updates of step 5, each list in observation order.
struct Prepared {
    std::vector<EdgeUpdate> choices;   // chosen, unchosen, forced choice
    std::vector<EdgeUpdate> presence;  // present, absent
    std::vector<WeightUpdate> weights;
    std::vector<AttrUpdate> attrs;
    std::vector<std::string_view> attr_names;  // distinct, in order of first sight
    std::size_t edge_count = 0;
};

class Preparer {
public:
    Preparer(BeliefGraph& graph, const Schema& schema, const NodeRefs& refs,
             const CreatedNodes& nodes, const EdgePlan& plan)
        : graph_(graph), schema_(schema), refs_(refs), nodes_(nodes), plan_(plan) {}

    Prepared run(std::span<const ObserveStmt> observations) {
        for (const ObserveStmt& stmt : observations) {
            if (const auto* e = std::get_if<ObserveStmt::Edge>(&stmt.node)) {
                const EdgeId id = edge_of(*plan_.decls[edge_obs_++]);
                const bool presence =
                    e->mode == ast::EvidenceMode::Present || e->mode == ast::EvidenceMode::Absent;
                (presence ? out_.presence : out_.choices).push_back(EdgeUpdate{id, e->mode});
            } else if (const auto* w = std::get_if<ObserveStmt::EdgeWeight>(&stmt.node)) {
                const EdgeBeliefDecl& decl = *plan_.decls[edge_obs_++];
                const EdgeId id = edge_of(decl);
                out_.weights.push_back(WeightUpdate{id, w->value, weight_precision(*w, decl)});
            } else {
                prepare_attr(std::get<ObserveStmt::Attribute>(stmt.node));
            }
        }
        out_.edge_count = edges_.size();
        out_.attr_names = attr_names_.texts();
        return std::move(out_);
    }

private:
    NodeId next_node() { return nodes_.of_ref[refs_.by_observation()[ref_cursor_++]]; }

    EdgeId edge_of(const EdgeBeliefDecl& decl) {
        const NodeId src = next_node();
        const NodeId dst = next_node();
        return create_edge_with_posterior(graph_, edges_, groups_, EvidenceEdgeKey{&decl, src, dst},
                                          schema_.edges, plan_.categories);
    }

    static double weight_precision(const ObserveStmt::EdgeWeight& obs, const EdgeBeliefDecl& decl) {
        if (obs.precision) return *obs.precision;
        if (!decl.weight) {
            throw ExecError::validation(
                fill("Edge '{}' does not declare weight posterior but evidence observes weight",
                     obs.edge_type));
        }
        return default_observation_precision(*decl.weight);
    }

    void prepare_attr(const ObserveStmt::Attribute& obs) {
        const uint32_t ref = refs_.by_observation()[ref_cursor_++];
        const NodeId node = nodes_.of_ref[ref];
        const ast::NodeBeliefDecl& decl = *nodes_.decl_of_type[refs_.refs()[ref].type];
        const ast::PosteriorType* posterior = find_attr_decl(decl, obs.attr);
        if (!posterior) throw attr_not_declared(obs.attr, obs.node_type);
        const double precision =
            obs.precision ? *obs.precision : default_observation_precision(*posterior);
        out_.attrs.push_back(AttrUpdate{node, attr_names_.number(obs.attr), obs.value, precision});
    }

    BeliefGraph& graph_;
    const Schema& schema_;
    const NodeRefs& refs_;
    const CreatedNodes& nodes_;
    const EdgePlan& plan_;
    EvidenceEdgeTable edges_;
    EvidenceGroupTable groups_;
    TextNumbers attr_names_;
    std::size_t ref_cursor_ = 0;
    std::size_t edge_obs_ = 0;
    Prepared out_;
};

// ---- Step 5: application -------------------------------------------------------------

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

template <typename Update>
std::vector<uint32_t> by_edge(const std::vector<Update>& updates, std::size_t edge_count) {
    std::vector<uint32_t> keys(updates.size());
    for (std::size_t i = 0; i < updates.size(); ++i)
        keys[i] = updates[i].edge.value;
    return stable_by_key(identity(updates.size()), keys, edge_count);
}

// Attribute updates by ascending node id, then attribute name in byte order.
std::vector<uint32_t> by_node_and_attr(const Prepared& p, std::size_t node_count) {
    const std::vector<uint32_t> rank = byte_order_ranks(p.attr_names);
    std::vector<uint32_t> names(p.attrs.size()), nodes(p.attrs.size());
    for (std::size_t i = 0; i < p.attrs.size(); ++i) {
        names[i] = rank[p.attrs[i].attr];
        nodes[i] = p.attrs[i].node.value;
    }
    const std::vector<uint32_t> by_attr =
        stable_by_key(identity(p.attrs.size()), names, rank.size());
    return stable_by_key(by_attr, nodes, node_count);
}

void apply(BeliefGraph& graph, const Prepared& p, std::size_t node_count) {
    for (const EdgeUpdate& u : p.choices) {
        if (u.mode == ast::EvidenceMode::Chosen) {
            graph.observe_edge_chosen(u.edge);
        } else if (u.mode == ast::EvidenceMode::Unchosen) {
            graph.observe_edge_unchosen(u.edge);
        } else {
            graph.observe_edge_forced_choice(u.edge);
        }
    }
    for (const uint32_t i : by_edge(p.presence, p.edge_count)) {
        graph.observe_edge(p.presence[i].edge, p.presence[i].mode == ast::EvidenceMode::Present);
    }
    for (const uint32_t i : by_edge(p.weights, p.edge_count)) {
        const WeightUpdate& u = p.weights[i];
        graph.observe_edge_weight(u.edge, u.value, u.precision);
    }
    for (const uint32_t i : by_node_and_attr(p, node_count)) {
        const AttrUpdate& u = p.attrs[i];
        graph.observe_attr(u.node, p.attr_names[u.attr], u.value, u.precision);
    }
}

// ---- Edge creation ---------------------------------------------------------------------

// The Dirichlet prior of a new group of `k` categories. A uniform share is
// pseudo_count / k; when a positive pseudo count underflows to a share of 0
// (a subnormal one spread over several categories) the share is the
// smallest positive double instead, since a concentration must stay > 0
// (every reader floors it at 0.01 or more anyway).
std::vector<double> group_prior(const ast::CategoricalPrior& prior, std::size_t k) {
    if (const auto* uniform = std::get_if<ast::CategoricalPrior::Uniform>(&prior.node)) {
        double share = uniform->pseudo_count / static_cast<double>(k);
        if (share == 0.0 && uniform->pseudo_count > 0.0) {
            share = std::numeric_limits<double>::denorm_min();
        }
        return std::vector<double>(k, share);
    }
    const auto& given = std::get<ast::CategoricalPrior::Explicit>(prior.node).concentrations;
    if (given.size() != k) {
        throw ExecError::validation(
            fill("Explicit CategoricalPrior must match fixed category count (got {}, expected {})",
                 given.size(), k));
    }
    return given;
}

// The category of `key`'s destination in the group of (source, edge type),
// creating the group on first need.
EdgePosterior::Competing join_group(BeliefGraph& graph, EvidenceGroupTable& groups,
                                    const EvidenceEdgeKey& key,
                                    const ast::PosteriorType::Categorical& categorical,
                                    const PlannedCategories& planned) {
    if (categorical.group_by != "source") {
        throw ExecError::validation(
            fill("CategoricalPosterior with group_by='{}' not yet supported (only 'source')",
                 categorical.group_by));
    }
    const std::string& edge_type = key.decl->edge_type;
    const EvidenceSourceKey group_key{key.decl, key.src};
    const CompetingGroupId id =
        *groups.try_emplace(group_key, CompetingGroupId{checked_id_value(groups.size())}).first;
    CompetingGroups& table = graph.competing_groups_mut();
    const CompetingEdgeGroup* group = table.find(id);
    if (!group) {
        const std::vector<NodeId>* plan = planned.find(group_key);
        std::vector<NodeId> categories = plan ? *plan : std::vector<NodeId>{key.dst};
        std::sort(categories.begin(), categories.end());
        categories.erase(std::unique(categories.begin(), categories.end()), categories.end());
        std::vector<double> prior = group_prior(categorical.prior, categories.size());
        group = &table.insert_or_assign(
            id, CompetingEdgeGroup(id, key.src, edge_type, std::move(categories),
                                   DirichletPosterior(std::move(prior))));
    }
    const std::optional<std::size_t> category = group->get_category_index(key.dst);
    if (!category) {
        support::panic(fill("destination {} is not a category of competing group {}",
                            debug_form(key.dst), debug_form(id)));
    }
    return EdgePosterior::Competing{id, *category};
}

}  // namespace

// ---- Public operations -------------------------------------------------------------------

namespace {
// The finaliser of splitmix64: every input bit moves every output bit.
std::size_t mix(uint64_t x) noexcept {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
    x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
    return static_cast<std::size_t>(x ^ (x >> 31));
}
}  // namespace

std::size_t EvidenceKeyHash::operator()(const EvidenceEdgeKey& key) const noexcept {
    const uint64_t ends = (uint64_t{key.src.value} << 32) | key.dst.value;
    return mix(ends ^ mix(reinterpret_cast<uintptr_t>(key.decl)));
}

std::size_t EvidenceKeyHash::operator()(const EvidenceSourceKey& key) const noexcept {
    return mix(uint64_t{key.src.value} ^ mix(reinterpret_cast<uintptr_t>(key.decl)));
}

std::optional<GaussianPosterior> edge_weight_prior_from_decl(const EdgeBeliefDecl& decl) {
    if (!decl.weight) return std::nullopt;
    const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&decl.weight->node);
    if (!gaussian) {
        throw ExecError::validation(fill("Edge '{}.weight' must use GaussianPosterior, got {}",
                                         decl.edge_type, debug_text(*decl.weight)));
    }
    return gaussian_prior(gaussian->params);
}

EdgeId create_edge_with_posterior(BeliefGraph& graph, EvidenceEdgeTable& edges,
                                  EvidenceGroupTable& groups, const EvidenceEdgeKey& key,
                                  std::span<const EdgeDef> schema_edges,
                                  const PlannedCategories& planned) {
    if (const EdgeId* known = edges.find(key)) return *known;
    const EdgeBeliefDecl& decl = *key.decl;
    const std::string& edge_type = decl.edge_type;
    if (!schema_has_edge(schema_edges, edge_type)) {
        throw ExecError::validation(fill("Edge type '{}' not found in schema", edge_type));
    }
    EdgeId id;
    if (const auto* bernoulli = std::get_if<ast::PosteriorType::Bernoulli>(&decl.exist.node)) {
        const double p = find_param(bernoulli->params, "prior").value_or(kDefaultExistencePrior);
        const double n =
            find_param(bernoulli->params, "pseudo_count").value_or(kDefaultPseudoCount);
        id = graph.add_edge(key.src, key.dst, edge_type, p * n, (1.0 - p) * n);
    } else if (const auto* categorical =
                   std::get_if<ast::PosteriorType::Categorical>(&decl.exist.node)) {
        const EdgePosterior::Competing choice =
            join_group(graph, groups, key, *categorical, planned);
        id = EdgeId{checked_id_value(graph.edges().size())};  // materialised by join_group
        graph.insert_edge(
            EdgeData{EdgePosterior{choice}, SharedText(edge_type), id, key.src, key.dst});
    } else {
        throw ExecError::validation(
            fill("Edge posterior type not supported: {}", debug_text(decl.exist)));
    }
    if (const auto weight = edge_weight_prior_from_decl(decl)) {
        graph.set_edge_weight_prior(id, weight->mean, weight->precision);
    }
    edges.try_emplace(key, id);
    return id;
}

EvidenceContext resolve_evidence_context(std::string_view evidence_name,
                                         std::string_view model_name,
                                         std::span<const BeliefModel> models,
                                         std::span<const Schema> schemas) {
    const auto model = std::find_if(models.begin(), models.end(),
                                    [&](const BeliefModel& m) { return m.name == model_name; });
    if (model == models.end()) {
        throw ExecError::validation(
            fill("Evidence '{}' references unknown belief model '{}'", evidence_name, model_name));
    }
    const auto schema = std::find_if(schemas.begin(), schemas.end(),
                                     [&](const Schema& s) { return s.name == model->on_schema; });
    if (schema == schemas.end()) {
        throw ExecError::validation(fill("Belief model '{}' references unknown schema '{}'",
                                         model->name, model->on_schema));
    }
    return EvidenceContext{*model, *schema};
}

BeliefGraph build_graph_from_evidence_with_context(std::span<const ObserveStmt> observations,
                                                   const BeliefModel& model, const Schema& schema) {
    BeliefGraph graph;
    const NodeRefs refs(observations);
    const CreatedNodes nodes = create_nodes(graph, refs, model, schema);
    const EdgePlan plan = plan_edges(observations, refs, nodes.of_ref, model);
    const Prepared prepared = Preparer(graph, schema, refs, nodes, plan).run(observations);
    apply(graph, prepared, nodes.of_ref.size());
    graph.ensure_owned();
    return graph;
}

BeliefGraph build_graph_from_evidence(const EvidenceDef& evidence, const ProgramAst& program) {
    const EvidenceContext context = resolve_evidence_context(
        evidence.name, evidence.on_model, program.belief_models, program.schemas);
    return build_graph_from_evidence_with_context(evidence.observations, context.model,
                                                  context.schema);
}

BeliefGraph build_graph_from_evidence_ir(const ir::EvidenceIR& evidence,
                                         const ir::ProgramIR& program) {
    const EvidenceDef block = evidence.to_ast();
    const EvidenceContext context = resolve_evidence_context(
        block.name, block.on_model, program.belief_models, program.schemas);
    return build_graph_from_evidence_with_context(block.observations, context.model,
                                                  context.schema);
}

}  // namespace morvane::core::engine
