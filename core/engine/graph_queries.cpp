// Numbers derived from posteriors (expectations, variances, correlations,
// existence probabilities, winners, entropies, degrees) and the rebuild of a
// graph from a subset of its edges.
//
// The floors below are part of what users see: Beta and Dirichlet parameters
// at 0.01 when turned into probabilities, precisions at 1e-6 when turned into
// variances, entropy terms below 1e-10 ignored. fmax ignores a NaN operand, so
// a NaN parameter reads as its floor.
#include <algorithm>
#include <cmath>
#include <string>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {

namespace {

constexpr double kParameterFloor = 0.01;
constexpr double kPrecisionFloor = 1e-6;
constexpr double kEntropyTermFloor = 1e-10;

ExecError missing_attr(std::string_view attr) {
    return ExecError::internal(support::fill("missing attr '{}'", attr));
}

// sum_j max(c_j, 0.01), in category order.
double floored_sum(const std::vector<double>& c) {
    double sum = 0.0;
    for (const double ci : c)
        sum += std::fmax(ci, kParameterFloor);
    return sum;
}

double floored_variance(double precision) {
    return 1.0 / std::fmax(precision, kPrecisionFloor);
}

}  // namespace

// ---- Posteriors -------------------------------------------------------------------------

std::vector<double> DirichletPosterior::mean_probabilities() const {
    const double sum = floored_sum(concentrations);
    std::vector<double> p;
    p.reserve(concentrations.size());
    for (const double ci : concentrations)
        p.push_back(std::fmax(ci, kParameterFloor) / sum);
    return p;
}

double DirichletPosterior::entropy() const {
    double h = -0.0;
    for (const double p : mean_probabilities()) {
        if (p > kEntropyTermFloor) h -= p * std::log(p);
    }
    return h;
}

double EdgePosterior::mean_probability(const CompetingGroups& groups) const {
    if (const Independent* b = independent()) {
        const double a = std::fmax(b->alpha, kParameterFloor);
        const double c = std::fmax(b->beta, kParameterFloor);
        return a / (a + c);
    }
    const Competing& choice = std::get<Competing>(value);
    const CompetingEdgeGroup* group = groups.find(choice.group);
    if (!group) throw ExecError::internal("missing competing group");
    const std::vector<double>& c = group->posterior.concentrations;
    if (choice.category >= c.size()) support::panic("Category index out of bounds");
    return std::fmax(c[choice.category], kParameterFloor) / floored_sum(c);
}

// ---- Node attributes ----------------------------------------------------------------------

double BeliefGraph::expectation(NodeId node, std::string_view attr) const {
    return require_attr(node, attr).value.mean;
}

double BeliefGraph::precision(NodeId node, std::string_view attr) const {
    return require_attr(node, attr).value.precision;
}

double BeliefGraph::variance(NodeId node, std::string_view attr) const {
    return floored_variance(require_attr(node, attr).value.precision);
}

double BeliefGraph::stddev(NodeId node, std::string_view attr) const {
    return std::sqrt(variance(node, attr));
}

double BeliefGraph::attr_correlation(NodeId node, std::string_view a, std::string_view b) const {
    if (!read_attr(node, a)) throw missing_attr(a);
    if (a == b) return 1.0;
    if (!read_attr(node, b)) throw missing_attr(b);
    return base_->attr_correlations.find(node, AttrCorrelations::pair_key(a, b)).value_or(0.0);
}

double BeliefGraph::attr_covariance(NodeId node, std::string_view a, std::string_view b) const {
    const double rho = attr_correlation(node, a, b);
    const double var_a = variance(node, a);
    const double var_b = variance(node, b);
    return rho * std::sqrt(var_a * var_b);
}

// ---- Edges ----------------------------------------------------------------------------------

double BeliefGraph::prob_mean(EdgeId edge) const {
    const auto posterior = get_edge_posterior_with_deltas(edge);
    if (!posterior) throw ExecError::internal("missing edge");
    return posterior->mean_probability(base_->competing_groups);
}

GaussianPosterior BeliefGraph::edge_weight_posterior(EdgeId edge) const {
    if (!this->edge(edge)) throw ExecError::internal("missing edge");
    const GaussianPosterior* weight = base_->edge_weights.find(edge);
    if (!weight) {
        throw ExecError::validation(support::fill(
            "edge {} does not declare a continuous weight posterior", debug_form(edge)));
    }
    return *weight;
}

double BeliefGraph::edge_weight_expectation(EdgeId edge) const {
    return edge_weight_posterior(edge).mean;
}

std::size_t BeliefGraph::degree_outgoing(NodeId node, double threshold) const {
    // Ids of the node's outgoing edges. Every id counts by the source of its
    // latest record: a pending insertion replaces the base's record, and of
    // two base records under one id the indexed (later) one holds.
    std::vector<EdgeId> ids;
    const std::vector<EdgeData>& edges = base_->edges;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const EdgeData& e = edges[i];
        if (e.src != node || edge_replaced_by_pending(e.id)) continue;
        if (base_->edge_index.find(e.id) == i) ids.push_back(e.id);
    }
    for (const GraphDelta& d : deltas_) {
        const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&d.change);
        if (insert && insert->data.src == node && this->edge(insert->id) == &insert->data) {
            ids.push_back(insert->id);
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

    std::size_t count = 0;
    for (const EdgeId id : ids) {
        const auto posterior = get_edge_posterior_with_deltas(id);
        if (!posterior) continue;
        double p = 0.0;
        try {
            p = posterior->mean_probability(base_->competing_groups);
        } catch (const ExecError&) {
            p = 0.0;
        }
        if (threshold <= p) ++count;
    }
    return count;
}

bool BeliefGraph::edge_replaced_by_pending(EdgeId id) const noexcept {
    if (!pending_edges_.may_hold(id.value)) return false;
    for (const GraphDelta& d : deltas_) {
        const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&d.change);
        if (insert && insert->id == id) return true;
    }
    return false;
}

OutgoingEdgesByType BeliefGraph::adjacency_outgoing_by_type() const {
    OutgoingEdgesByType out;
    const auto add = [&out](const EdgeData& e) {
        auto it = out.find(SourceAndTypeView{e.src, e.edge_type.view()});
        if (it == out.end())
            it = out.emplace(SourceAndType{e.src, e.edge_type}, std::vector<EdgeId>{}).first;
        it->second.push_back(e.id);
    };
    for (const EdgeData& e : base_->edges)
        add(e);
    for (const GraphDelta& d : deltas_) {
        const auto* insert = std::get_if<GraphDelta::EdgeInsert>(&d.change);
        if (insert && !base_->edge_index.find(insert->id)) add(insert->data);
    }
    for (auto& [key, ids] : out)
        std::sort(ids.begin(), ids.end());
    return out;
}

std::size_t SourceAndTypeHash::operator()(const SourceAndTypeView& key) const noexcept {
    const std::size_t h = std::hash<std::string_view>()(key.edge_type);
    return h ^ (std::size_t{key.source.value} * 0x9e3779b97f4a7c15ULL);
}

// ---- Competing groups ---------------------------------------------------------------------

std::optional<NodeId> BeliefGraph::winner(NodeId node, std::string_view edge_type,
                                          double epsilon) const {
    const CompetingEdgeGroup* group = get_competing_group(node, edge_type);
    if (!group || group->posterior.concentrations.empty()) return std::nullopt;
    const std::vector<double> p = group->posterior.mean_probabilities();
    std::size_t best = 0;
    for (std::size_t i = 1; i < p.size(); ++i) {
        if (!(p[best] > p[i])) best = i;
    }
    std::size_t close = 0;
    for (const double pi : p) {
        if (std::fabs(pi - p[best]) < epsilon) ++close;
    }
    if (close >= 2) return std::nullopt;
    return group->categories[best];
}

// ---- Rebuild --------------------------------------------------------------------------------

BeliefGraph BeliefGraph::rebuild_with_edges(std::span<const NodeData> nodes,
                                            std::span<const EdgeId> keep) const {
    BeliefGraph result;
    BeliefGraphInner& out = *result.base_;
    // The new graph is private and has nothing pending, so its records go
    // straight into its base; that is what recording them and materialising
    // would give.
    out.nodes.reserve(nodes.size());
    for (const NodeData& n : nodes)
        out.append_node(n);
    out.edges.reserve(keep.size());
    for (const EdgeId id : keep) {
        const EdgeData* e = edge(id);
        if (!e) throw ExecError::internal("missing edge during rebuild");
        out.append_edge(*e);
    }

    const BeliefGraphInner& in = *base_;
    for (const auto& c : in.attr_correlations) {
        if (out.node_index.find(c.node))
            out.attr_correlations.insert_or_assign(c.node, c.pair_key, c.correlation);
    }
    for (const auto& [id, name] : in.node_names) {
        if (out.node_index.find(id)) out.node_names.insert_or_assign(id, name);
    }
    for (const EdgeId id : keep) {
        if (const GaussianPosterior* w = in.edge_weights.find(id)) {
            out.edge_weights.insert_or_assign(id, *w);
        }
    }
    out.competing_groups = in.competing_groups;
    return result;
}

}  // namespace morvane::core::engine
