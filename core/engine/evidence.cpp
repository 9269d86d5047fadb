// Evidence graph construction (see evidence.hpp). With the observations'
// names already resolved by an EvidenceIndex, the graph is built straight
// into a fresh base, every table sized up front:
//   1. the nodes, type by type in NodeId order, with their attribute priors,
//      names and correlations;
//   2. the edge declarations of the observed edge types, with the checks of
//      every edge observation's type and categorical destination;
//   3. the edges in order of first mention, with the weight-precision and
//      attribute-declaration checks of every observation, in written order;
//   4. the updates in the index's order of application.
// Nothing in a step depends on the next, and every check comes at the place
// of the observation it belongs to, so the first error is the one that the
// order of the steps and of the observations makes first.
#include "core/engine/evidence.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "core/engine/errors.hpp"
#include "core/engine/flat_map.hpp"
#include "core/engine/graph_update_steps.hpp"
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

// The prior of an edge type's continuous weight: none without a weight
// declaration, (prior_mean or 0, prior_precision or 0.01) for a Gaussian one.
std::optional<GaussianPosterior> edge_weight_prior_from_decl(const EdgeBeliefDecl& decl) {
    if (!decl.weight) return std::nullopt;
    const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&decl.weight->node);
    if (!gaussian) {
        throw ExecError::validation(fill("Edge '{}.weight' must use GaussianPosterior, got {}",
                                         decl.edge_type, debug_text(*decl.weight)));
    }
    return gaussian_prior(gaussian->params);
}

// ---- Step 1: nodes ---------------------------------------------------------------

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

// The correlations a node of the template stores: the checks a graph makes
// when a correlation is set (the same for every node of the type, so made
// for its first node, whose id the self-correlation message names), then
// the pairs that leave an entry, with their keys.
struct StoredCorrelation {
    std::string key;
    double value;
};

std::vector<StoredCorrelation> stored_correlations(const NodeTemplate& t, NodeId first) {
    std::vector<StoredCorrelation> stored;
    for (const NodeTemplate::Correlation& c : t.correlations) {
        if (c.a == c.b) {
            if (!(std::fabs(c.value - 1.0) < kCorrelationTolerance)) {
                throw ExecError::validation(fill("self-correlation for '{}.{}' must be 1, got {}",
                                                 first.value, c.a, plain_number(c.value)));
            }
            continue;
        }
        if (!(std::isfinite(c.value) && std::fabs(c.value) <= 1.0)) {
            throw ExecError::validation(
                fill("attribute correlation must be finite and in [-1, 1], got {}",
                     plain_number(c.value)));
        }
        if (!t.attrs.contains(c.a)) throw update_steps::missing_attr(c.a);
        if (!t.attrs.contains(c.b)) throw update_steps::missing_attr(c.b);
        std::string key = AttrCorrelations::pair_key(c.a, c.b);
        const auto same = [&](const StoredCorrelation& s) { return s.key == key; };
        std::erase_if(stored, same);
        if (std::fabs(c.value) >= kCorrelationTolerance) stored.push_back({std::move(key), c.value});
    }
    return stored;
}

// The declaration of every node type the block names (in the index's
// numbering), filled as the nodes are made.
using NodeDecls = std::vector<const ast::NodeBeliefDecl*>;

NodeDecls add_nodes(BeliefGraphInner& inner, const EvidenceIndex& index, const BeliefModel& model,
                    const Schema& schema) {
    NodeDecls decls(index.node_types.size(), nullptr);
    inner.nodes.reserve(index.node_count());
    std::size_t name_bytes = 0;
    for (const std::string_view label : index.node_labels)
        name_bytes += label.size();
    inner.node_names.reserve(index.node_count(), name_bytes);
    inner.node_index.reserve(index.node_count());
    for (std::size_t r = 0; r < index.type_runs.size(); ++r) {
        const EvidenceIndex::TypeRun& run = index.type_runs[r];
        const uint32_t end = r + 1 < index.type_runs.size()
                                 ? index.type_runs[r + 1].first.value
                                 : static_cast<uint32_t>(index.node_count());
        const std::string_view type = index.node_types[run.type];
        const NodeTemplate t = node_template(type, model, schema);
        const std::vector<StoredCorrelation> correlations = stored_correlations(t, run.first);
        decls[run.type] = t.decl;
        const SharedText label{std::string(type)};
        for (uint32_t id = run.first.value; id < end; ++id) {
            inner.append_node(NodeData{label, t.attrs, NodeId{id}});
            inner.node_names.insert_or_assign(NodeId{id}, index.node_labels[id]);
            for (const StoredCorrelation& c : correlations) {
                inner.attr_correlations.insert_or_assign(NodeId{id}, c.key, c.value);
            }
        }
    }
    return decls;
}

// ---- Step 2: edge declarations -------------------------------------------------------

// What the edges of one observed edge type are made with.
struct EdgeKind {
    const EdgeBeliefDecl* decl = nullptr;
    const ast::PosteriorType::Categorical* categorical = nullptr;  // a competing edge type
    SharedText name;
    bool schema_checked = false;
};

std::vector<EdgeKind> edge_kinds(const EvidenceIndex& index, const ObservationList& observations,
                                 const BeliefModel& model) {
    std::vector<EdgeKind> kinds(index.edge_types.size());
    bool check_observations = false;
    for (std::size_t t = 0; t < kinds.size(); ++t) {
        EdgeKind& kind = kinds[t];
        kind.name = SharedText(std::string(index.edge_types[t]));
        kind.decl = find_edge_decl(model, index.edge_types[t]);
        if (kind.decl) {
            kind.categorical = std::get_if<ast::PosteriorType::Categorical>(&kind.decl->exist.node);
        }
        check_observations |= !kind.decl || (kind.categorical && kind.categorical->categories);
    }
    if (!check_observations) return kinds;
    // An undeclared edge type fails at its first observation; a categorical
    // one with a list of categories at the first destination it does not
    // admit.
    for (std::size_t i = 0; i < observations.size(); ++i) {
        if (index.kind(i) == ObservationKind::Attribute) continue;
        const EvidenceIndex::Edge& edge = index.edges[index.targets[i]];
        const EdgeKind& kind = kinds[edge.type];
        if (!kind.decl) {
            throw ExecError::validation(fill("Edge type '{}' not declared in belief model '{}'",
                                             index.edge_types[edge.type], model.name));
        }
        if (!kind.categorical || !kind.categorical->categories) continue;
        const std::vector<std::string>& allowed = *kind.categorical->categories;
        const std::string_view destination = index.node_labels[edge.dst.value];
        if (std::find(allowed.begin(), allowed.end(), destination) == allowed.end()) {
            throw ExecError::validation(
                fill("Destination '{}' is not allowed for categorical edge '{}'; expected one of "
                     "{}",
                     destination, index.edge_types[edge.type], debug_text(allowed)));
        }
    }
    return kinds;
}

// ---- Step 3: edges ------------------------------------------------------------------

// (edge type, source): the key of a competing group.
struct SourceKey {
    uint32_t type;
    NodeId src;
    friend bool operator==(const SourceKey&, const SourceKey&) = default;
};
struct SourceKeyHash {
    std::size_t operator()(const SourceKey& key) const noexcept {
        uint64_t x = (uint64_t{key.type} << 32 | key.src.value) * 0x9e3779b97f4a7c15;
        return static_cast<std::size_t>(x ^ (x >> 29));
    }
};

// The destinations of the competing edges of every (edge type, source), in
// ascending NodeId order: the categories of its group. A group's categories
// are all destinations observed for it, and the index holds each distinct
// edge once.
class PlannedGroups {
public:
    PlannedGroups(const EvidenceIndex& index, const std::vector<EdgeKind>& kinds) {
        std::vector<EvidenceIndex::Edge> competing;
        for (const EvidenceIndex::Edge& e : index.edges) {
            if (kinds[e.type].categorical) competing.push_back(e);
        }
        std::sort(competing.begin(), competing.end(), [](const auto& x, const auto& y) {
            if (x.type != y.type) return x.type < y.type;
            if (x.src != y.src) return x.src < y.src;
            return x.dst < y.dst;
        });
        destinations_.reserve(competing.size());
        for (std::size_t i = 0; i < competing.size(); ++i) {
            const SourceKey key{competing[i].type, competing[i].src};
            if (i == 0 || !(key == SourceKey{competing[i - 1].type, competing[i - 1].src})) {
                ranges_.try_emplace(key, Range{static_cast<uint32_t>(destinations_.size()), 0});
            }
            ++ranges_.find(key)->count;
            destinations_.push_back(competing[i].dst);
        }
    }

    std::vector<NodeId> categories(const SourceKey& key) const {
        const Range* range = ranges_.find(key);
        if (!range) support::panic("competing edge without planned categories");
        const auto first = destinations_.begin() + range->start;
        return std::vector<NodeId>(first, first + range->count);
    }

private:
    struct Range {
        uint32_t start;
        uint32_t count;
    };
    FlatMap<SourceKey, Range, SourceKeyHash> ranges_;
    std::vector<NodeId> destinations_;
};

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

// Makes the edges in EdgeId order as the observations first mention them,
// with the competing groups they need.
class EdgeMaker {
public:
    EdgeMaker(BeliefGraphInner& inner, const EvidenceIndex& index, std::vector<EdgeKind>& kinds,
              const Schema& schema)
        : inner_(inner), index_(index), kinds_(kinds), schema_(schema), planned_(index, kinds) {
        inner_.edges.reserve(index.edges.size());
        inner_.edge_index.reserve(index.edges.size());
    }

    // The edge `id` (the next one) with its prior, and its weight prior.
    void make(EdgeId id) {
        const EvidenceIndex::Edge& e = index_.edges[id.value];
        EdgeKind& kind = kinds_[e.type];
        const EdgeBeliefDecl& decl = *kind.decl;
        if (!kind.schema_checked) {
            if (!schema_has_edge(schema_.edges, decl.edge_type)) {
                throw ExecError::validation(
                    fill("Edge type '{}' not found in schema", decl.edge_type));
            }
            kind.schema_checked = true;
        }
        if (const auto* bernoulli = std::get_if<ast::PosteriorType::Bernoulli>(&decl.exist.node)) {
            const double p =
                find_param(bernoulli->params, "prior").value_or(kDefaultExistencePrior);
            const double n =
                find_param(bernoulli->params, "pseudo_count").value_or(kDefaultPseudoCount);
            inner_.append_edge(EdgeData{EdgePosterior{EdgePosterior::Independent{p * n, (1.0 - p) * n}},
                                        kind.name, id, e.src, e.dst});
        } else if (kind.categorical) {
            const EdgePosterior::Competing choice = join_group(e, kind);
            inner_.append_edge(EdgeData{EdgePosterior{choice}, kind.name, id, e.src, e.dst});
        } else {
            throw ExecError::validation(
                fill("Edge posterior type not supported: {}", debug_text(decl.exist)));
        }
        if (const auto weight = edge_weight_prior_from_decl(decl)) {
            if (!(std::isfinite(weight->mean) && std::isfinite(weight->precision) &&
                  weight->precision > 0.0)) {
                throw ExecError::validation(fill(
                    "edge weight prior must have finite mean and positive finite precision, got "
                    "mean={} precision={}",
                    plain_number(weight->mean), plain_number(weight->precision)));
            }
            inner_.edge_weights.insert_or_assign(id, *weight);
        }
    }

private:
    // The category of the edge's destination in the group of (source, edge
    // type), creating the group on first need; group ids count groups in
    // that order.
    EdgePosterior::Competing join_group(const EvidenceIndex::Edge& e, const EdgeKind& kind) {
        const ast::PosteriorType::Categorical& categorical = *kind.categorical;
        if (categorical.group_by != "source") {
            throw ExecError::validation(
                fill("CategoricalPosterior with group_by='{}' not yet supported (only 'source')",
                     categorical.group_by));
        }
        const SourceKey key{e.type, e.src};
        const auto [slot, added] =
            groups_.try_emplace(key, CompetingGroupId{checked_id_value(groups_.size())});
        const CompetingGroupId id = *slot;
        const CompetingEdgeGroup* group = inner_.competing_groups.find(id);
        if (!group) {
            std::vector<NodeId> categories = planned_.categories(key);
            std::vector<double> prior = group_prior(categorical.prior, categories.size());
            group = &inner_.competing_groups.insert_or_assign(
                id, CompetingEdgeGroup(id, e.src, kind.name.str(), std::move(categories),
                                       DirichletPosterior(std::move(prior))));
        }
        const std::optional<std::size_t> category = group->get_category_index(e.dst);
        if (!category) {
            support::panic(fill("destination {} is not a category of competing group {}",
                                debug_form(e.dst), debug_form(id)));
        }
        return EdgePosterior::Competing{id, *category};
    }

    BeliefGraphInner& inner_;
    const EvidenceIndex& index_;
    std::vector<EdgeKind>& kinds_;
    const Schema& schema_;
    PlannedGroups planned_;
    FlatMap<SourceKey, CompetingGroupId, SourceKeyHash> groups_;
};

// The declaration of an attribute of a node type as observations use it:
// its place in the nodes' attribute maps (none when the schema lacks it)
// and the precision of an observation that gives none.
struct AttrSlot {
    bool declared = false;
    std::optional<std::size_t> position;
    double default_precision = kDefaultObservationPrecision;
};

// (attribute name, node type), both in the index's numbering.
struct AttrKey {
    uint32_t attr;
    uint32_t type;
    friend bool operator==(const AttrKey&, const AttrKey&) = default;
};
struct AttrKeyHash {
    std::size_t operator()(const AttrKey& key) const noexcept {
        const uint64_t x = (uint64_t{key.attr} << 32 | key.type) * 0x9e3779b97f4a7c15;
        return static_cast<std::size_t>(x ^ (x >> 29));
    }
};

class AttrSlots {
public:
    AttrSlots(const EvidenceIndex& index, const NodeDecls& decls, const BeliefGraphInner& inner)
        : index_(index), decls_(decls), inner_(inner) {}

    const AttrSlot& slot(NodeId node, uint32_t attr) {
        const auto& runs = index_.type_runs;
        const bool in_run = run_ < runs.size() && !(node < runs[run_].first) &&
                            (run_ + 1 == runs.size() || node < runs[run_ + 1].first);
        if (!in_run) {
            const auto next = std::upper_bound(
                index_.type_runs.begin(), index_.type_runs.end(), node,
                [](NodeId id, const EvidenceIndex::TypeRun& r) { return id < r.first; });
            run_ = static_cast<std::size_t>(next - index_.type_runs.begin()) - 1;
        }
        const EvidenceIndex::TypeRun& run = index_.type_runs[run_];
        const auto [entry, added] =
            slots_.try_emplace(AttrKey{attr, run.type}, AttrSlot{});
        if (added) {
            const std::string_view name = index_.attr_names[attr];
            if (const ast::PosteriorType* posterior = find_attr_decl(*decls_[run.type], name)) {
                entry->declared = true;
                entry->default_precision = default_observation_precision(*posterior);
                entry->position = inner_.nodes[run.first.value].attrs.position(name);
            }
        }
        return *entry;
    }

private:
    const EvidenceIndex& index_;
    const NodeDecls& decls_;
    const BeliefGraphInner& inner_;
    std::size_t run_ = SIZE_MAX;  // the type run of the last node asked about
    FlatMap<AttrKey, AttrSlot, AttrKeyHash> slots_;
};

// Makes every edge at its first mention and checks every edge-weight and
// attribute observation, in written order.
void add_edges(BeliefGraphInner& inner, const EvidenceIndex& index,
               const ObservationList& observations, std::vector<EdgeKind>& kinds,
               const Schema& schema, AttrSlots& attrs) {
    EdgeMaker maker(inner, index, kinds, schema);
    uint32_t next_edge = 0;
    for (std::size_t i = 0; i < observations.size(); ++i) {
        const ObservationKind kind = index.kind(i);
        if (kind == ObservationKind::Attribute) {
            const NodeId node{index.targets[i]};
            if (!attrs.slot(node, EvidenceIndex::attr_of(index.tags[i])).declared) {
                const auto& obs = std::get<ObserveStmt::Attribute>(observations[i].node);
                throw attr_not_declared(obs.attr, obs.node_type);
            }
            continue;
        }
        const uint32_t edge = index.targets[i];
        if (edge == next_edge) maker.make(EdgeId{next_edge++});
        if (kind != ObservationKind::EdgeWeight) continue;
        const EdgeBeliefDecl& decl = *kinds[index.edges[edge].type].decl;
        const auto& obs = std::get<ObserveStmt::EdgeWeight>(observations[i].node);
        if (!decl.weight && !obs.precision) {
            throw ExecError::validation(
                fill("Edge '{}' does not declare weight posterior but evidence observes weight",
                     obs.edge_type));
        }
    }
}

// ---- Step 4: updates -------------------------------------------------------------------

DirichletPosterior& competing_group(BeliefGraphInner& inner, const EdgeData& edge,
                                    std::string_view independent_error, std::size_t& category) {
    const auto* competing = edge.posterior.competing();
    if (!competing) throw ExecError::validation(std::string(independent_error));
    CompetingEdgeGroup* group = inner.competing_groups.find(competing->group);
    if (!group) throw ExecError::internal("missing competing group");
    category = competing->category;
    return group->posterior;
}

void apply_choice(BeliefGraphInner& inner, ObservationKind kind, EdgeId id) {
    const EdgeData& edge = inner.edges[id.value];
    std::size_t k = 0;
    if (kind == ObservationKind::Chosen) {
        DirichletPosterior& group = competing_group(
            inner, edge, "observe_edge_chosen() only valid for competing edges", k);
        update_steps::observe_chosen(group, k, id);
    } else if (kind == ObservationKind::Unchosen) {
        DirichletPosterior& group = competing_group(
            inner, edge, "observe_edge_unchosen() only valid for competing edges", k);
        update_steps::observe_unchosen(group, k, id);
    } else {
        DirichletPosterior& group = competing_group(
            inner, edge, "observe_edge_forced_choice() only valid for competing edges", k);
        update_steps::observe_forced_choice(group, k);
    }
}

void apply_updates(BeliefGraphInner& inner, const EvidenceIndex& index,
                   const ObservationList& observations, const std::vector<EdgeKind>& kinds,
                   AttrSlots& attrs) {
    const std::vector<uint32_t>& order = index.apply_order;
    for (std::size_t k = 0; k < index.choices_end; ++k) {
        const uint32_t i = order[k];
        apply_choice(inner, index.kind(i), EdgeId{index.targets[i]});
    }
    for (std::size_t k = index.choices_end; k < index.presence_end; ++k) {
        const uint32_t i = order[k];
        const EdgeId id{index.targets[i]};
        EdgePosterior& posterior = inner.edges[id.value].posterior;
        posterior.value = update_steps::observe_edge(
            posterior, index.kind(i) == ObservationKind::Present, id);
    }
    for (std::size_t k = index.presence_end; k < index.weights_end; ++k) {
        const uint32_t i = order[k];
        const EdgeId id{index.targets[i]};
        const auto& obs = std::get<ObserveStmt::EdgeWeight>(observations[i].node);
        const EdgeBeliefDecl& decl = *kinds[index.edges[id.value].type].decl;
        const double precision =
            obs.precision ? *obs.precision : default_observation_precision(*decl.weight);
        update_steps::check_weight_precision(precision);
        GaussianPosterior* weight = inner.edge_weights.find(id);
        if (!weight) throw update_steps::no_weight_posterior(id);
        *weight = update_steps::observe_weight(*weight, obs.value, precision, id);
    }
    for (std::size_t k = index.weights_end; k < order.size(); ++k) {
        const uint32_t i = order[k];
        const NodeId node{index.targets[i]};
        const auto& obs = std::get<ObserveStmt::Attribute>(observations[i].node);
        const AttrSlot& slot = attrs.slot(node, EvidenceIndex::attr_of(index.tags[i]));
        if (!slot.position) throw update_steps::missing_attr(obs.attr);
        const double precision = obs.precision ? *obs.precision : slot.default_precision;
        GaussianPosterior& value = inner.nodes[node.value].attrs.posterior_at(*slot.position);
        value = update_steps::observe_attr(value, obs.value, precision, node, obs.attr);
    }
}

}  // namespace

// ---- Public operations -------------------------------------------------------------------

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

BeliefGraph build_graph_from_index(const EvidenceIndex& index, const ObservationList& observations,
                                   const BeliefModel& model, const Schema& schema) {
    BeliefGraphInner inner;
    const NodeDecls decls = add_nodes(inner, index, model, schema);
    std::vector<EdgeKind> kinds = edge_kinds(index, observations, model);
    AttrSlots attrs(index, decls, inner);
    add_edges(inner, index, observations, kinds, schema, attrs);
    apply_updates(inner, index, observations, kinds, attrs);
    return BeliefGraph(std::move(inner));
}

BeliefGraph build_graph_from_evidence_with_context(std::span<const ObserveStmt> observations,
                                                   const BeliefModel& model, const Schema& schema) {
    const ObservationList list(observations);
    return build_graph_from_index(index_evidence(list), list, model, schema);
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
