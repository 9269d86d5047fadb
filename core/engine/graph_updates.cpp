// Posterior updates: conjugate updates of attributes, edges, edge weights and
// competing groups, the rule actions that move beliefs without a Bayesian
// justification, and attribute correlations.
//
// Every update checks everything before it writes, so a failing update leaves
// the graph's content as it was (a materialisation made on the way changes
// only how the content is stored). Floors use fmax, which ignores a NaN
// operand: a NaN precision is treated as the floor.
//
// A belief never becomes non-finite: finite inputs can still overflow (two
// observations of precision 1e308) or meet as inf / inf, and a NaN or an
// infinite value observed at run time would otherwise be carried along
// silently. Every update whose new mean, precision or count is not finite
// fails with Validation "{update}: update produced non-finite value: {}
// for node {} attribute '{}'" (or "for edge {}", for edge weights "for edge
// {} attribute 'weight'"), and nothing is written.
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>

#include "core/engine/errors.hpp"
#include "core/engine/graph.hpp"
#include "core/engine/graph_update_steps.hpp"
#include "frontend/ast.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {

namespace {

constexpr double kObservationPrecisionFloor = 1e-12;
constexpr double kPriorPrecisionFloor = 1e-6;
constexpr double kSoftUpdateCountFloor = 1.0;
constexpr double kNudgedPrecisionFloor = 1e-6;
constexpr double kCorrelationTolerance = 1e-12;

constexpr double kDeleteDefault = 1e6;
constexpr double kDeleteLow = 1e3;
constexpr double kDeleteHigh = 1e9;
constexpr double kSuppressDefault = 10.0;
constexpr double kForcedChoice = 1e6;

// The conjugate Gaussian step shared by attributes and edge weights, with the
// observation precision already floored.
GaussianPosterior gaussian_step(GaussianPosterior prior, double value, double obs_precision) {
    const double precision = obs_precision + std::fmax(prior.precision, kPriorPrecisionFloor);
    const double mean = prior.mean + (value - prior.mean) * (obs_precision / precision);
    return GaussianPosterior{mean, precision};
}

std::string ascii_lower(std::string_view word) {
    std::string out(word);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The first non-finite value among `values`, if any.
std::optional<double> first_non_finite(std::initializer_list<double> values) {
    for (const double v : values) {
        if (!std::isfinite(v)) return v;
    }
    return std::nullopt;
}

GaussianPosterior checked_attr(std::string_view update, NodeId node, std::string_view attr,
                               GaussianPosterior value) {
    if (const auto bad = first_non_finite({value.mean, value.precision})) {
        throw ExecError::validation(support::fill(
            "{}: update produced non-finite value: {} for node {} attribute '{}'", update,
            support::plain_number(*bad), debug_form(node), attr));
    }
    return value;
}

void check_finite_edge(std::string_view update, EdgeId edge, std::initializer_list<double> values,
                       std::string_view attr = {}) {
    const auto bad = first_non_finite(values);
    if (!bad) return;
    std::string message = support::fill("{}: update produced non-finite value: {} for edge {}",
                                        update, support::plain_number(*bad), debug_form(edge));
    if (!attr.empty()) message += support::fill(" attribute '{}'", attr);
    throw ExecError::validation(std::move(message));
}

}  // namespace

// ---- The steps -------------------------------------------------------------------------

namespace update_steps {

ExecError missing_attr(std::string_view attr) {
    return ExecError::internal(support::fill("missing attr '{}'", attr));
}

ExecError missing_edge() {
    return ExecError::internal("missing edge");
}

ExecError no_weight_posterior(EdgeId edge) {
    return ExecError::validation(
        support::fill("edge {} does not declare a continuous weight posterior", debug_form(edge)));
}

GaussianPosterior observe_attr(GaussianPosterior current, double value, double precision,
                               NodeId node, std::string_view attr) {
    const double obs = std::fmax(precision, kObservationPrecisionFloor);
    return checked_attr("observe_attr", node, attr, gaussian_step(current, value, obs));
}

GaussianPosterior soft_update(GaussianPosterior current, double value, double precision,
                              double count, NodeId node, std::string_view attr) {
    const double obs = std::fmax(
        std::fmax(precision, kObservationPrecisionFloor) * std::fmax(count, kSoftUpdateCountFloor),
        kObservationPrecisionFloor);
    return checked_attr("soft_update", node, attr, gaussian_step(current, value, obs));
}

GaussianPosterior nudge(GaussianPosterior current, const frontend::ast::VarianceSpec& variance,
                        double value, NodeId node, std::string_view attr) {
    using Variance = frontend::ast::VarianceSpec;
    double precision = current.precision;
    if (const auto* increase = std::get_if<Variance::Increase>(&variance.node)) {
        precision = std::fmax(precision * increase->factor.value_or(0.5), kNudgedPrecisionFloor);
    } else if (const auto* decrease = std::get_if<Variance::Decrease>(&variance.node)) {
        precision = std::fmax(precision * decrease->factor.value_or(2.0), kNudgedPrecisionFloor);
    }  // Preserve keeps the precision as it is, without a floor.
    return checked_attr("non_bayesian_nudge", node, attr, GaussianPosterior{value, precision});
}

EdgePosterior::Independent observe_edge(const EdgePosterior& current, bool present, EdgeId edge) {
    const auto* independent = current.independent();
    if (!independent) {
        throw ExecError::validation(
            "observe() only valid for independent edges; use observe_chosen for competing edges");
    }
    EdgePosterior::Independent beta = *independent;
    if (present) {
        beta.alpha = beta.alpha + 1.0;
    } else {
        beta.beta = beta.beta + 1.0;
    }
    check_finite_edge("observe_edge", edge, {beta.alpha, beta.beta});
    return beta;
}

void observe_chosen(DirichletPosterior& group, std::size_t k, EdgeId edge) {
    std::vector<double>& c = group.concentrations;
    if (k >= c.size()) support::panic("Category index out of bounds");
    check_finite_edge("observe_edge_chosen", edge, {c[k] + 1.0});
    c[k] = c[k] + 1.0;
}

void observe_unchosen(DirichletPosterior& group, std::size_t k, EdgeId edge) {
    // Only the other category of a binary group changes, by one.
    if (k < 2 && group.concentrations.size() == 2) {
        check_finite_edge("observe_edge_unchosen", edge, {group.concentrations[1 - k] + 1.0});
    }
    group.observe_unchosen(k);
}

void observe_forced_choice(DirichletPosterior& group, std::size_t k) {
    std::vector<double>& c = group.concentrations;
    if (k >= c.size()) support::panic("Category index out of bounds");
    for (double& ci : c)
        ci = 1.0;
    c[k] = kForcedChoice;
}

void check_weight_precision(double precision) {
    if (!(std::isfinite(precision) && precision > 0.0)) {
        throw ExecError::validation(
            support::fill("edge weight observation precision must be finite and > 0, got {}",
                          support::plain_number(precision)));
    }
}

GaussianPosterior observe_weight(GaussianPosterior current, double value, double precision,
                                 EdgeId edge) {
    const GaussianPosterior updated =
        gaussian_step(current, value, std::fmax(precision, kObservationPrecisionFloor));
    check_finite_edge("observe_edge_weight", edge, {updated.mean, updated.precision}, "weight");
    return updated;
}

}  // namespace update_steps

namespace {
using update_steps::missing_attr;
using update_steps::missing_edge;
using update_steps::no_weight_posterior;
}  // namespace

// ---- Reading and recording through the graph ------------------------------------------

BeliefGraph::AttrRead BeliefGraph::require_attr(NodeId node, std::string_view attr) const {
    auto read = read_attr(node, attr);
    if (!read) throw missing_attr(attr);
    return *read;
}

void BeliefGraph::record_attr(NodeId node, const AttrRead& read, GaussianPosterior value) {
    // Share the record's name; copy it out before the pending list can grow,
    // since the record may live in that list.
    SharedText name = *read.name;
    record(GraphDelta{GraphDelta::AttrUpdate{node, std::move(name), value.mean, value.precision}});
}

EdgePosterior::Independent BeliefGraph::require_independent(
    EdgeId edge, std::string_view competing_error) const {
    const auto posterior = get_edge_posterior_with_deltas(edge);
    if (!posterior) throw missing_edge();
    const auto* independent = posterior->independent();
    if (!independent) throw ExecError::validation(std::string(competing_error));
    return *independent;
}

std::pair<DirichletPosterior*, std::size_t> BeliefGraph::require_competing(
    EdgeId edge, std::string_view independent_error) {
    apply_materialisation_rule();
    const EdgeData* record = this->edge(edge);
    if (!record) throw missing_edge();
    const auto* competing = record->posterior.competing();
    if (!competing) throw ExecError::validation(std::string(independent_error));
    const EdgePosterior::Competing choice = *competing;  // `record` dies with ensure_owned
    ensure_owned();
    CompetingEdgeGroup* group = base_->competing_groups.find(choice.group);
    if (!group) throw ExecError::internal("missing competing group");
    return {&group->posterior, choice.category};
}

// ---- Node attributes ------------------------------------------------------------------

void BeliefGraph::observe_attr(NodeId node, std::string_view attr, double value, double precision) {
    apply_materialisation_rule();
    const AttrRead read = require_attr(node, attr);
    record_attr(node, read, update_steps::observe_attr(read.value, value, precision, node, attr));
}

void BeliefGraph::soft_update(NodeId node, std::string_view attr, double value, double precision,
                              double count) {
    apply_materialisation_rule();
    const AttrRead read = require_attr(node, attr);
    record_attr(node, read,
                update_steps::soft_update(read.value, value, precision, count, node, attr));
}

void BeliefGraph::non_bayesian_nudge(NodeId node, std::string_view attr,
                                     const frontend::ast::VarianceSpec& variance, double value) {
    apply_materialisation_rule();
    const AttrRead read = require_attr(node, attr);
    record_attr(node, read, update_steps::nudge(read.value, variance, value, node, attr));
}

// ---- Independent edges ------------------------------------------------------------------

void BeliefGraph::observe_edge(EdgeId edge, bool present) {
    apply_materialisation_rule();
    const auto posterior = get_edge_posterior_with_deltas(edge);
    if (!posterior) throw missing_edge();
    const auto beta = update_steps::observe_edge(*posterior, present, edge);
    record(GraphDelta{GraphDelta::EdgePosteriorUpdate{edge, beta.alpha, beta.beta}});
}

void BeliefGraph::delete_edge(EdgeId edge, std::optional<std::string_view> confidence) {
    apply_materialisation_rule();
    double amount = kDeleteDefault;
    if (confidence) {
        const std::string word = ascii_lower(*confidence);
        if (word == "low") {
            amount = kDeleteLow;
        } else if (word == "high") {
            amount = kDeleteHigh;
        } else {
            throw ExecError::validation(
                support::fill("delete confidence must be 'low' or 'high', got '{}'", word));
        }
    }
    auto beta = require_independent(edge, "delete: only supported for independent edges");
    check_finite_edge("delete_edge", edge, {beta.alpha, beta.beta + amount});
    record(GraphDelta{GraphDelta::EdgePosteriorUpdate{edge, beta.alpha, beta.beta + amount}});
}

void BeliefGraph::suppress_edge(EdgeId edge, std::optional<double> weight) {
    apply_materialisation_rule();
    if (weight && !(std::isfinite(*weight) && *weight > 0.0)) {
        throw ExecError::validation(support::fill("suppress weight must be finite and > 0, got {}",
                                                  support::plain_number(*weight)));
    }
    const double amount = weight.value_or(kSuppressDefault);
    auto beta = require_independent(edge, "suppress: only supported for independent edges");
    check_finite_edge("suppress_edge", edge, {beta.alpha, beta.beta + amount});
    record(GraphDelta{GraphDelta::EdgePosteriorUpdate{edge, beta.alpha, beta.beta + amount}});
}

// ---- Competing groups -------------------------------------------------------------------

void BeliefGraph::observe_edge_chosen(EdgeId edge) {
    const auto [dirichlet, k] =
        require_competing(edge, "observe_edge_chosen() only valid for competing edges");
    update_steps::observe_chosen(*dirichlet, k, edge);
}

void BeliefGraph::observe_edge_unchosen(EdgeId edge) {
    const auto [dirichlet, k] =
        require_competing(edge, "observe_edge_unchosen() only valid for competing edges");
    update_steps::observe_unchosen(*dirichlet, k, edge);
}

void BeliefGraph::observe_edge_forced_choice(EdgeId edge) {
    const auto [dirichlet, k] =
        require_competing(edge, "observe_edge_forced_choice() only valid for competing edges");
    update_steps::observe_forced_choice(*dirichlet, k);
}

void DirichletPosterior::observe_unchosen(std::size_t k) {
    if (k >= concentrations.size()) {
        throw ExecError::validation("Category index out of bounds");
    }
    if (concentrations.size() != 2) {
        throw ExecError::validation(
            "observe_unchosen is only conjugate for binary categorical groups; use "
            "observe_chosen with an explicit chosen category for K>2");
    }
    double& other = concentrations[1 - k];
    other = other + 1.0;
}

// ---- Edge weights -------------------------------------------------------------------------

void BeliefGraph::observe_edge_weight(EdgeId edge, double value, double precision) {
    update_steps::check_weight_precision(precision);
    if (!this->edge(edge)) throw missing_edge();
    ensure_owned();
    GaussianPosterior* weight = base_->edge_weights.find(edge);
    if (!weight) throw no_weight_posterior(edge);
    *weight = update_steps::observe_weight(*weight, value, precision, edge);
}

void BeliefGraph::set_edge_weight_prior(EdgeId edge, double mean, double precision) {
    if (!this->edge(edge)) throw missing_edge();
    if (!(std::isfinite(mean) && std::isfinite(precision) && precision > 0.0)) {
        throw ExecError::validation(support::fill(
            "edge weight prior must have finite mean and positive finite precision, got mean={} "
            "precision={}",
            support::plain_number(mean), support::plain_number(precision)));
    }
    ensure_owned();
    base_->edge_weights.insert_or_assign(edge, GaussianPosterior{mean, precision});
}

// ---- Attribute correlations -----------------------------------------------------------------

void BeliefGraph::set_attr_correlation(NodeId node, std::string_view a, std::string_view b,
                                       double rho) {
    if (a == b) {
        if (!(std::fabs(rho - 1.0) < kCorrelationTolerance)) {
            throw ExecError::validation(
                support::fill("self-correlation for '{}.{}' must be 1, got {}", node.value, a,
                              support::plain_number(rho)));
        }
        return;
    }
    if (!(std::isfinite(rho) && std::fabs(rho) <= 1.0)) {
        throw ExecError::validation(
            support::fill("attribute correlation must be finite and in [-1, 1], got {}",
                          support::plain_number(rho)));
    }
    if (!read_attr(node, a)) throw missing_attr(a);
    if (!read_attr(node, b)) throw missing_attr(b);
    ensure_owned();
    std::string key = AttrCorrelations::pair_key(a, b);
    if (std::fabs(rho) < kCorrelationTolerance) {
        base_->attr_correlations.erase(node, key);
    } else {
        base_->attr_correlations.insert_or_assign(node, std::move(key), rho);
    }
}

}  // namespace morvane::core::engine
