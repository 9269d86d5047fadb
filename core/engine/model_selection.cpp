// Edge-based information criteria and the choice among candidate graphs (see
// model_selection.hpp).
#include "core/engine/model_selection.hpp"

#include <cmath>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/engine/errors.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"

namespace morvane::core::engine {
namespace {

constexpr double kPseudoCountFloor = 1e-9;
constexpr double kProbabilityLow = 1e-12;
constexpr double kProbabilityHigh = 0.999999999999;
constexpr double kScoreTieTolerance = 1e-12;
constexpr double kMinSampleSize = 1e-9;
constexpr double kSampleSizeTolerance = 1e-9;

double clamp_probability(double p) {
    return p < kProbabilityLow ? kProbabilityLow : (p > kProbabilityHigh ? kProbabilityHigh : p);
}

struct Tally {
    double ll = 0.0;
    double k = 0.0;
    double n = 0.0;
};

void add_independent(Tally& t, const EdgePosterior::Independent& beta) {
    const double a = std::fmax(beta.alpha, kPseudoCountFloor);
    const double b = std::fmax(beta.beta, kPseudoCountFloor);
    const double p = clamp_probability(a / (a + b));
    const double q = clamp_probability(1.0 - p);
    t.ll += a * std::log(p) + b * std::log(q);
    t.k += 1.0;
    t.n += a + b;
}

void add_group(Tally& t, const DirichletPosterior& dirichlet) {
    const std::vector<double>& c = dirichlet.concentrations;
    double total = 0.0;
    for (const double ci : c)
        total += std::fmax(ci, kPseudoCountFloor);
    double ll = 0.0;
    for (const double ci : c) {
        const double floored = std::fmax(ci, kPseudoCountFloor);
        ll += floored * std::log(clamp_probability(floored / total));
    }
    t.ll += ll;
    t.k += static_cast<double>(c.size()) - 1.0;
    t.n += total;
}

EdgeModelScore score_base(const BeliefGraphInner& base, ModelSelectionCriterion criterion) {
    Tally t;
    std::unordered_set<uint32_t> seen;  // groups already counted
    for (const EdgeData& edge : base.edges) {
        if (const auto* beta = edge.posterior.independent()) {
            add_independent(t, *beta);
            continue;
        }
        const CompetingGroupId group = edge.posterior.competing()->group;
        if (!seen.insert(group.value).second) continue;
        const CompetingEdgeGroup* found = base.competing_groups.find(group);
        if (!found) {
            throw ExecError::internal(
                support::fill("missing competing group {} while scoring model", debug_form(group)));
        }
        add_group(t, found->posterior);
    }
    const double penalty =
        criterion == ModelSelectionCriterion::EdgeAic ? 2.0 : std::log(std::fmax(t.n, 1.0));
    return EdgeModelScore{t.ll, t.k, t.n, t.k * penalty - 2.0 * t.ll};
}

}  // namespace

EdgeModelScore score_graph_edges(const BeliefGraph& graph, ModelSelectionCriterion criterion) {
    // A graph without pending changes is its base; only pending changes need
    // a materialised copy.
    if (graph.deltas().empty()) return score_base(graph.base(), criterion);
    BeliefGraph copy = graph.clone();
    copy.ensure_owned();
    return score_base(copy.base(), criterion);
}

SelectedModel select_best_graph(std::span<const ModelCandidate> candidates,
                                ModelSelectionCriterion criterion) {
    if (candidates.empty()) {
        throw ExecError::validation("select_model: candidate list must not be empty");
    }
    std::vector<EdgeModelScore> scores;
    scores.reserve(candidates.size());
    for (const ModelCandidate& c : candidates) {
        scores.push_back(score_graph_edges(c.graph, criterion));
    }

    for (const EdgeModelScore& s : scores) {
        if (!(s.effective_sample_size > kMinSampleSize)) {
            throw ExecError::validation(
                "select_model: all candidates must have positive effective sample size");
        }
    }
    const double reference = scores.front().effective_sample_size;
    const double tolerance = std::fmax(std::fabs(reference), 1.0) * kSampleSizeTolerance;
    for (std::size_t i = 1; i < scores.size(); ++i) {
        const double n = scores[i].effective_sample_size;
        if (std::fabs(n - reference) > tolerance) {
            throw ExecError::validation(support::fill(
                "select_model: candidates must share effective sample size; '{}' has n={} vs "
                "reference n={}",
                candidates[i].name, support::fixed6_number(n), support::fixed6_number(reference)));
        }
    }

    std::size_t best = 0;
    for (std::size_t i = 1; i < scores.size(); ++i) {
        const double s = scores[i].score;
        const double b = scores[best].score;
        const bool ties = std::fabs(s - b) <= kScoreTieTolerance;
        if (s < b - kScoreTieTolerance || (ties && candidates[i].name < candidates[best].name)) {
            best = i;
        }
    }
    return SelectedModel{std::string(candidates[best].name), scores[best]};
}

}  // namespace morvane::core::engine
