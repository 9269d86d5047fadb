// Loopy belief propagation: configuration checks, the trivial graphs, the
// write-back, and agreement of the fast sweep with a step-by-step reference
// that computes every cavity from scratch.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/engine/belief_propagation.hpp"
#include "core/engine/errors.hpp"

namespace morvane::core::engine {
namespace {

const BeliefPropagationConfig kFlow{32, 0.35, 1e-5, 0.6};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Step-by-step reference -------------------------------------------------------------
// Every cavity is summed afresh from the incoming messages in neighbour order
// and the factor is applied through logsumexp, exactly as the scheme reads.

double logsumexp(double x, double y) {
    const double m = std::fmax(x, y);
    if (!std::isfinite(m)) return m;
    return m + std::log(std::exp(x - m) + std::exp(y - m));
}

double clamp_p(double v) { return v < 1e-6 ? 1e-6 : (v > 0.999999 ? 0.999999 : v); }

struct Reference {
    BeliefGraph graph;
    BeliefPropagationDiagnostics diagnostics;
    std::vector<double> deltas;  // the largest change of every sweep
};

Reference reference_propagation(const BeliefGraph& input, const BeliefPropagationConfig& config) {
    Reference out{input.clone(), {config.max_iterations, 0, 0.0, 0, 0, true}, {}};
    out.graph.ensure_owned();
    struct Var {
        EdgeId edge;
        std::string type;
        NodeId src, dst;
        double alpha, beta;
    };
    std::vector<Var> vars;
    for (const EdgeData& e : out.graph.edges()) {
        if (const auto* b = e.posterior.independent())
            vars.push_back({e.id, e.edge_type.str(), e.src, e.dst, b->alpha, b->beta});
    }
    std::sort(vars.begin(), vars.end(), [](const Var& a, const Var& b) { return a.edge < b.edge; });
    const std::size_t n = vars.size();
    out.diagnostics.variable_count = n;
    if (n < 2) return out;

    std::map<std::pair<std::string, uint32_t>, std::vector<std::size_t>> by_src, by_dst;
    for (std::size_t i = 0; i < n; ++i) {
        by_src[{vars[i].type, vars[i].src.value}].push_back(i);
        by_dst[{vars[i].type, vars[i].dst.value}].push_back(i);
    }
    std::vector<std::vector<std::size_t>> nb(n);
    for (const auto* groups : {&by_src, &by_dst}) {
        for (const auto& [key, members] : *groups) {
            for (const std::size_t a : members)
                for (const std::size_t b : members)
                    if (a != b) nb[a].push_back(b);
        }
    }
    for (auto& list : nb) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        out.diagnostics.connected_variable_count += list.empty() ? 0 : 1;
    }
    if (out.diagnostics.connected_variable_count == 0) return out;

    std::vector<std::vector<std::size_t>> rev(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (const std::size_t j : nb[i]) {
            const auto it = std::lower_bound(nb[j].begin(), nb[j].end(), i);
            rev[i].push_back(static_cast<std::size_t>(it - nb[j].begin()));
        }
    }
    std::vector<std::array<double, 2>> pot(n);
    std::vector<double> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = std::fmax(vars[i].alpha, 0.01), b = std::fmax(vars[i].beta, 0.01);
        p[i] = clamp_p(a / (a + b));
        pot[i] = {std::log(1.0 - p[i]), std::log(p[i])};
    }
    using Msgs = std::vector<std::vector<std::array<double, 2>>>;
    Msgs read(n), write(n);
    for (std::size_t i = 0; i < n; ++i) {
        read[i].assign(nb[i].size(), {0.5, 0.5});
        write[i].assign(nb[i].size(), {0.5, 0.5});
    }
    const double c = config.coupling_strength, d = config.damping;
    while (out.diagnostics.iterations_run < config.max_iterations) {
        double delta = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < nb[i].size(); ++k) {
                double a0 = pot[i][0], a1 = pot[i][1];
                for (std::size_t m = 0; m < nb[i].size(); ++m) {
                    if (m == k) continue;
                    const auto& in = read[nb[i][m]][rev[i][m]];
                    a0 += std::log(std::fmax(in[0], 1e-6));
                    a1 += std::log(std::fmax(in[1], 1e-6));
                }
                const double l0 = logsumexp(a0 + c, a1 - c), l1 = logsumexp(a0 - c, a1 + c);
                const double z = logsumexp(l0, l1);
                const double q0 = clamp_p(std::exp(l0 - z)), q1 = clamp_p(std::exp(l1 - z));
                const auto old = read[i][k];
                const double r0 = (1 - d) * q0 + d * old[0], r1 = (1 - d) * q1 + d * old[1];
                const double s = std::fmax(r0 + r1, 2.2250738585072014e-308);
                write[i][k] = {r0 / s, r1 / s};
                delta = std::fmax(delta, std::fabs(write[i][k][0] - old[0]));
                delta = std::fmax(delta, std::fabs(write[i][k][1] - old[1]));
            }
        }
        std::swap(read, write);
        ++out.diagnostics.iterations_run;
        out.deltas.push_back(delta);
        out.diagnostics.final_max_message_delta = delta;
        out.diagnostics.converged = delta < config.convergence_tolerance;
        if (out.diagnostics.converged) break;
    }
    for (std::size_t i = 0; i < n; ++i) {
        double belief = p[i];
        if (!nb[i].empty()) {
            double b0 = pot[i][0], b1 = pot[i][1];
            for (std::size_t m = 0; m < nb[i].size(); ++m) {
                const auto& in = read[nb[i][m]][rev[i][m]];
                b0 += std::log(std::fmax(in[0], 1e-6));
                b1 += std::log(std::fmax(in[1], 1e-6));
            }
            belief = clamp_p(std::exp(b1 - logsumexp(b0, b1)));
        }
        const double total = std::fmax(
            std::fmax(vars[i].alpha, 0.01) + std::fmax(vars[i].beta, 0.01), 0.02);
        const double a1 = std::fmax(belief * total, 0.01);
        const double b1 = std::fmax((1 - belief) * total, 0.01);
        *out.graph.edge_mut(vars[i].edge)->posterior.independent() = {
            a1 * total / (a1 + b1), b1 * total / (a1 + b1)};
    }
    return out;
}

// ---- Graphs -----------------------------------------------------------------------------

EdgePosterior::Independent beta_of(const BeliefGraph& g, uint32_t edge) {
    return *g.base().find_edge(EdgeId{edge})->posterior.independent();
}

double prob_of(const BeliefGraph& g, uint32_t edge) {
    const auto b = beta_of(g, edge);
    return b.alpha / (b.alpha + b.beta);
}

BeliefGraph nodes(uint32_t count) {
    BeliefGraph g;
    for (uint32_t i = 0; i < count; ++i)
        g.add_node("N", {});
    return g;
}

// Varied priors, from confident absent to confident present.
std::pair<double, double> prior(uint32_t i) {
    return {0.3 + (i * 37 % 19) * 0.7, 0.2 + (i * 53 % 23) * 0.5};
}

// Variables coupled in a path: edges 2m and 2m+1 share source m, edges 2m+1
// and 2m+2 share destination m+1.
BeliefGraph chain(uint32_t length) {
    BeliefGraph g = nodes(length + 2);
    for (uint32_t e = 0; e < length; ++e) {
        const auto [a, b] = prior(e);
        g.add_edge(NodeId{e / 2}, NodeId{(e + 1) / 2 + length / 2 + 1}, "T", a, b);
    }
    return g;
}

// One hub with `k` edges of one type: a clique of k variables.
BeliefGraph star(uint32_t k) {
    BeliefGraph g = nodes(k + 1);
    for (uint32_t e = 0; e < k; ++e) {
        const auto [a, b] = prior(e);
        g.add_edge(NodeId{0}, NodeId{e + 1}, "T", a, b);
    }
    return g;
}

// Every node sends one edge to each of its next two nodes on a ring: loops
// of coupled groups in both directions.
BeliefGraph ring(uint32_t size) {
    BeliefGraph g = nodes(size);
    for (uint32_t i = 0; i < size; ++i) {
        for (uint32_t step = 1; step <= 2; ++step) {
            const auto [a, b] = prior(2 * i + step);
            g.add_edge(NodeId{i}, NodeId{(i + step) % size}, "T", a, b);
        }
    }
    return g;
}

// Two types at one hub, a parallel pair (neighbours once), and a competing
// edge in the middle of the coupled ones.
BeliefGraph mixed() {
    BeliefGraph g = nodes(5);
    g.add_edge(NodeId{0}, NodeId{1}, "T", 4, 1);
    g.add_edge(NodeId{0}, NodeId{1}, "T", 1, 3);
    g.add_edge(NodeId{0}, NodeId{2}, "U", 2, 2);
    g.add_edge(NodeId{0}, NodeId{3}, "T", 1, 6);
    g.add_edge(NodeId{0}, NodeId{4}, "U", 7, 1);
    g.add_edge(NodeId{3}, NodeId{4}, "T", 1, 1);  // alone at both ends
    g.ensure_owned();
    g.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0}, CompetingEdgeGroup(CompetingGroupId{0}, NodeId{0}, "R", {NodeId{2}},
                                                DirichletPosterior({3})));
    g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, 0}},
                           SharedText("R"), EdgeId{6}, NodeId{0}, NodeId{2}});
    g.add_edge(NodeId{0}, NodeId{3}, "T", 2, 5);
    return g;
}

// Parameters at and beyond the floors: tiny, huge, NaN, and infinite on both
// sides (a NaN probability that passes the clamps and is contained by the
// floors of the receivers), plus an uncoupled edge clamped at the top.
BeliefGraph floors() {
    BeliefGraph g = nodes(8);
    const std::pair<double, double> params[] = {{0.001, 0.001}, {kNaN, 3}, {2, 1e12},
                                                {kInf, kInf},   {3, 1},    {1, 0.5}};
    uint32_t dst = 1;
    for (const auto& [a, b] : params)
        g.add_edge(NodeId{0}, NodeId{dst++}, "T", a, b);
    g.add_edge(NodeId{7}, NodeId{1}, "T", 1, 2);  // shares a destination with edge 0
    g.add_edge(NodeId{0}, NodeId{7}, "U", 1e9, 0.001);
    return g;
}

// Node ids beyond 16 bits, some equal in their low 16 bits: 5, 65541 and
// 131077 are three different sources.
BeliefGraph far_ids() {
    BeliefGraph g;
    const uint32_t sources[] = {5, 65541, 131077};
    const uint32_t destinations[] = {7, 65543, 4000000000u};
    for (uint32_t e = 0; e < 12; ++e) {
        const auto [a, b] = prior(e);
        g.add_edge(NodeId{sources[e % 3]}, NodeId{destinations[e / 3 % 3]}, e < 9 ? "T" : "U",
                   a, b);
    }
    return g;
}

std::pair<BeliefGraph, BeliefPropagationDiagnostics> run(
    const BeliefGraph& g, const BeliefPropagationConfig& config = kFlow) {
    return run_loopy_belief_propagation_with_config_diagnostics(g, config);
}

// ---- Configuration ----------------------------------------------------------------------

TEST(BeliefPropagation, ConfigurationErrorsInFieldOrder) {
    struct Case {
        BeliefPropagationConfig config;
        const char* text;
    };
    const char* const iterations = "infer_beliefs: max_iterations must be > 0";
    const char* const damping = "infer_beliefs: damping must be in [0, 1)";
    const char* const tolerance = "infer_beliefs: convergence_tolerance must be finite and > 0";
    const char* const coupling = "infer_beliefs: coupling_strength must be finite";
    const Case cases[] = {
        {{0, 1.0, 0.0, kNaN}, iterations},  {{1, 1.0, 0.0, kNaN}, damping},
        {{1, -1e-300, 1, 0}, damping},      {{1, kNaN, 1, 0}, damping},
        {{1, 0.5, 0.0, kNaN}, tolerance},   {{1, 0.5, -1, 0}, tolerance},
        {{1, 0.5, kInf, 0}, tolerance},     {{1, 0.5, kNaN, 0}, tolerance},
        {{1, 0.5, 1e-5, kInf}, coupling},   {{1, 0.5, 1e-5, -kInf}, coupling},
        {{1, 0.5, 1e-5, kNaN}, coupling},
    };
    const BeliefGraph g = star(3);
    for (const Case& c : cases) {
        try {
            run(g, c.config);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ExecError& e) {
            EXPECT_EQ(e.kind, ExecErrorKind::Validation);
            EXPECT_EQ(e.message, c.text);
        }
    }
    // The edges of the ranges are accepted.
    for (const BeliefPropagationConfig ok : {BeliefPropagationConfig{1, 0.0, 1e-300, 0.0},
                                             BeliefPropagationConfig{1, 0.999999, 1e300, -5}})
        EXPECT_NO_THROW(run(g, ok));
}

// ---- Graphs without coupling ------------------------------------------------------------

TEST(BeliefPropagation, UncoupledGraphsComeBackMaterialisedAndUnchanged) {
    BeliefGraph none = nodes(2);
    BeliefGraph one = nodes(2);
    one.add_edge(NodeId{0}, NodeId{1}, "T", 2, 3);
    BeliefGraph two_types = nodes(3);  // one source, different types
    two_types.add_edge(NodeId{0}, NodeId{1}, "T", 2, 3);
    two_types.add_edge(NodeId{0}, NodeId{2}, "U", 4, 1);
    BeliefGraph path = nodes(3);  // a->b and b->c meet at b, in and out
    path.add_edge(NodeId{0}, NodeId{1}, "T", 2, 3);
    path.add_edge(NodeId{1}, NodeId{2}, "T", 4, 1);
    struct Case {
        const BeliefGraph* graph;
        std::size_t variables;
    };
    for (const Case& c : {Case{&none, 0}, Case{&one, 1}, Case{&two_types, 2}, Case{&path, 2}}) {
        const auto [result, diagnostics] = run(*c.graph);
        EXPECT_EQ(diagnostics, (BeliefPropagationDiagnostics{32, 0, 0.0, c.variables, 0, true}));
        EXPECT_TRUE(result.deltas().empty());
        EXPECT_EQ(result.base_use_count(), 1);
        ASSERT_EQ(result.edges().size(), c.variables);
        for (uint32_t e = 0; e < c.variables; ++e)
            EXPECT_EQ(result.edges()[e], *c.graph->edge(EdgeId{e}));
        EXPECT_FALSE(c.graph->deltas().empty());  // the input keeps its pending changes
    }
}

// ---- Propagation ------------------------------------------------------------------------

TEST(BeliefPropagation, CoupledPairMovesTowardsAgreementAndKeepsItsPseudoCount) {
    BeliefGraph g = nodes(3);
    g.add_edge(NodeId{0}, NodeId{1}, "T", 8, 1);
    g.add_edge(NodeId{0}, NodeId{2}, "T", 1, 9);
    g.ensure_owned();
    g.observe_edge(EdgeId{0}, true);  // pending: Beta(9, 1) as read
    const BeliefGraph before = g.clone();

    const auto [result, diagnostics] = run(g);
    EXPECT_EQ(diagnostics.variable_count, 2u);
    EXPECT_EQ(diagnostics.connected_variable_count, 2u);
    EXPECT_TRUE(diagnostics.converged);
    EXPECT_GT(diagnostics.iterations_run, 0u);
    EXPECT_LT(diagnostics.final_max_message_delta, 1e-5);
    EXPECT_LT(prob_of(result, 0), 0.9);
    EXPECT_GT(prob_of(result, 1), 0.1);
    for (uint32_t e = 0; e < 2; ++e) {
        const auto b = beta_of(result, e);
        EXPECT_NEAR(b.alpha + b.beta, 10.0, 1e-12);
    }
    // The input, its base and its pending change are untouched.
    EXPECT_EQ(beta_of(g, 0).alpha, 8.0);
    EXPECT_EQ(g.get_edge_posterior_with_deltas(EdgeId{0}),
              before.get_edge_posterior_with_deltas(EdgeId{0}));
    EXPECT_TRUE(g.shares_base_with(before));
    EXPECT_FALSE(result.shares_base_with(g));

    // A negative coupling pushes them apart instead.
    const auto [apart, _] = run(g, {32, 0.35, 1e-5, -0.6});
    EXPECT_GT(prob_of(apart, 0), 0.9);
    EXPECT_LT(prob_of(apart, 1), 0.1);
}

TEST(BeliefPropagation, FloorsAndTheCompetingEdge) {
    BeliefGraph g = mixed();
    g.add_edge(NodeId{0}, NodeId{2}, "U", 0.001, 0.001);  // edge 8, coupled with edges 2 and 4
    const auto [result, diagnostics] = run(g);
    EXPECT_EQ(diagnostics.variable_count, 8u);
    EXPECT_EQ(diagnostics.connected_variable_count, 7u);  // all but edge 5 (3->4, alone)
    const auto floored = beta_of(result, 8);
    EXPECT_NEAR(floored.alpha + floored.beta, 0.02, 1e-15);
    EXPECT_EQ(beta_of(result, 5), (EdgePosterior::Independent{1, 1}));
    // The competing edge and its group stay as they were.
    EXPECT_EQ(result.base().find_edge(EdgeId{6})->posterior.competing()->group,
              CompetingGroupId{0});
    EXPECT_EQ(result.competing_groups().find(CompetingGroupId{0})->posterior.concentrations,
              std::vector<double>{3});
}

TEST(BeliefPropagation, ZeroCouplingKeepsTheUnaryProbabilities) {
    const BeliefGraph g = star(5);
    const auto [result, diagnostics] = run(g, {32, 0.35, 1e-5, 0.0});
    EXPECT_TRUE(diagnostics.converged);
    for (uint32_t e = 0; e < 5; ++e) {
        const auto [a, b] = prior(e);
        EXPECT_NEAR(prob_of(result, e), a / (a + b), 1e-12);
        EXPECT_NEAR(beta_of(result, e).alpha + beta_of(result, e).beta, a + b, 1e-12);
    }
}

// Pseudo counts near the largest double: the revision keeps a finite total
// even where alpha * total overflows; a total beyond the largest double has
// no finite revision, and the propagation fails instead of writing one.
TEST(BeliefPropagation, PseudoCountsNearTheLargestDouble) {
    constexpr double kMax = std::numeric_limits<double>::max();
    const std::pair<double, double> finite[] = {
        {1e307, 9e307}, {0.1 * kMax, 0.8 * kMax}, {0.45 * kMax, 0.45 * kMax}, {kMax, 1}};
    for (const auto& [alpha, beta] : finite) {
        SCOPED_TRACE(alpha);
        BeliefGraph g = nodes(3);
        g.add_edge(NodeId{0}, NodeId{1}, "T", alpha, beta);
        g.add_edge(NodeId{0}, NodeId{2}, "T", 2, 1);  // coupled: same source and type
        const auto [result, diagnostics] = run(g);
        EXPECT_EQ(diagnostics.connected_variable_count, 2u);
        const auto b = beta_of(result, 0);
        ASSERT_TRUE(std::isfinite(b.alpha) && std::isfinite(b.beta)) << b.alpha << " " << b.beta;
        EXPECT_NEAR(b.alpha / (alpha + beta) + b.beta / (alpha + beta), 1.0, 1e-12);  // total kept
        EXPECT_GT(prob_of(result, 0), 0.0);
        EXPECT_LT(prob_of(result, 0), 1.0);
    }
    BeliefGraph overflowing = nodes(3);
    overflowing.add_edge(NodeId{0}, NodeId{1}, "T", 0.6 * kMax, 0.6 * kMax);
    overflowing.add_edge(NodeId{0}, NodeId{2}, "T", 2, 1);
    try {
        run(overflowing);
        ADD_FAILURE() << "propagation wrote a non-finite posterior";
    } catch (const ExecError& e) {
        EXPECT_EQ(e.kind, ExecErrorKind::Validation);
        EXPECT_EQ(e.message,
                  "infer_beliefs: update produced non-finite value: NaN for edge EdgeId(0)");
    }
}

TEST(BeliefPropagation, ExhaustedSweepsAreNotConverged) {
    const auto [result, diagnostics] = run(star(4), {32, 0.99, 1e-5, 0.6});
    EXPECT_FALSE(diagnostics.converged);
    EXPECT_EQ(diagnostics.iterations_run, 32u);
    EXPECT_GE(diagnostics.final_max_message_delta, 1e-5);
}

// ---- Agreement with the step-by-step reference -------------------------------------------

bool close(double fast, double reference, double relative) {
    if (std::isnan(fast) || std::isnan(reference)) return std::isnan(fast) && std::isnan(reference);
    if (fast == reference) return true;  // infinities
    const double scale = std::fmax(std::fabs(fast), std::fabs(reference));
    return std::fabs(fast - reference) <= relative * scale;
}

TEST(BeliefPropagation, FastSweepAgreesWithTheStepByStepReference) {
    const std::pair<const char*, std::function<BeliefGraph()>> graphs[] = {
        {"chain", [] { return chain(9); }},  {"star", [] { return star(7); }},
        {"ring", [] { return ring(12); }},   {"mixed", mixed},
        {"floors", floors},
        {"far ids", far_ids},
        {"big star", [] { return star(50); }},  // products of more than 32 odds
    };
    const std::pair<const char*, BeliefPropagationConfig> configs[] = {
        {"flow", kFlow},
        {"repelling", {32, 0.35, 1e-5, -0.6}},
        {"zero coupling", {32, 0.35, 1e-5, 0.0}},
        {"strong, undamped", {40, 0.0, 1e-8, 2.5}},
        {"strong repelling", {40, 0.5, 1e-8, -3.0}},
        {"very strong", {40, 0.35, 1e-8, 8.0}},
        {"not converging", {6, 0.9, 1e-9, 0.6}},
    };
    std::size_t converged = 0, exhausted = 0;
    for (const auto& [graph_name, make] : graphs) {
        const BeliefGraph g = make();
        for (const auto& [config_name, config] : configs) {
            SCOPED_TRACE(std::string(graph_name) + ", " + config_name);
            const Reference ref = reference_propagation(g, config);
            // Rounding moves every change by far less than this margin; a case
            // whose change comes closer to the tolerance could stop one sweep
            // earlier or later in either computation and must be replaced.
            for (const double delta : ref.deltas)
                ASSERT_GT(std::fabs(delta / config.convergence_tolerance - 1), 1e-6);

            const auto [fast, diagnostics] = run(g, config);
            EXPECT_EQ(diagnostics.iterations_run, ref.diagnostics.iterations_run);
            EXPECT_EQ(diagnostics.converged, ref.diagnostics.converged);
            EXPECT_EQ(diagnostics.variable_count, ref.diagnostics.variable_count);
            EXPECT_EQ(diagnostics.connected_variable_count,
                      ref.diagnostics.connected_variable_count);
            EXPECT_NEAR(diagnostics.final_max_message_delta,
                        ref.diagnostics.final_max_message_delta, 1e-13);
            // beta = (1 - P) n magnifies the last-bit rounding of a marginal P
            // near 1 by up to 1 / (1 - P); keep such marginals out of the table
            // unless they sit at the clamp.
            for (const EdgeData& e : ref.graph.edges()) {
                const auto* b = e.posterior.independent();
                const double p = b ? b->alpha / (b->alpha + b->beta) : 0.0;
                ASSERT_TRUE(!(1 - p < 1e-4) || std::fabs(p - 0.999999) < 1e-12) << p;
            }
            ASSERT_EQ(fast.edges().size(), ref.graph.edges().size());
            for (std::size_t e = 0; e < fast.edges().size(); ++e) {
                SCOPED_TRACE(e);
                EXPECT_EQ(fast.edges()[e].posterior.is_competing(),
                          ref.graph.edges()[e].posterior.is_competing());
                const auto* a = fast.edges()[e].posterior.independent();
                const auto* b = ref.graph.edges()[e].posterior.independent();
                if (!a || !b) continue;
                EXPECT_PRED3(close, a->alpha, b->alpha, 1e-9);
                EXPECT_PRED3(close, a->beta, b->beta, 1e-9);
                EXPECT_PRED3(close, a->alpha / (a->alpha + a->beta),
                             b->alpha / (b->alpha + b->beta), 1e-9);
            }
            (ref.diagnostics.converged ? converged : exhausted) += 1;
        }
    }
    // The table exercises both outcomes.
    EXPECT_GT(converged, 10u);
    EXPECT_GT(exhausted, 5u);
}

}  // namespace
}  // namespace morvane::core::engine
