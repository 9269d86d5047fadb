// Loopy belief propagation over independent edges: the tables, the sweeps and
// the write-back.
//
// The propagation is the plain damped, synchronous sum-product scheme, but a
// sweep is organised so that it costs O(messages) rather than O(degree^2) per
// variable:
//   - Only the difference between a message's two log components matters to
//     the next sweep (each pairwise factor sees the cavity through its log
//     odds), so every message written also stores the log odds of its floored
//     components, once, in the receiver's layout.
//   - A variable's cavity towards one neighbour is then its total (unary log
//     odds plus every incoming log odds) minus that neighbour's term.
//   - The outgoing message of a cavity with log odds x is, in closed form,
//     q1 = s(x) w+ + s(-x) w-, q0 = s(x) w- + s(-x) w+, with s the logistic
//     function and w+ = 1 / (1 + e^-2c), w- = 1 / (1 + e^2c) the normalised
//     agree and disagree weights. This is the normalised logsumexp of the
//     two-state factor up to rounding: one exponential per message instead of
//     five, and no rounding of the cavity against the coupling.
// Clamps, floors, damping, renormalisation and the change measure are applied
// to every message exactly as in the step-by-step scheme.
//
// Tables are flat arrays indexed by 32-bit message slots: slot
// offset[i] + k holds what variable i sends to its k-th neighbour. Two
// buffers of messages and of incoming log odds alternate between sweeps.
#include "core/engine/belief_propagation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/engine/errors.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {

namespace {

constexpr double kParameterFloor = 0.01;      // Beta parameters read or written
constexpr double kPseudoCountFloor = 0.02;    // their sum
constexpr double kProbabilityMin = 1e-6;      // clamp of unary, message and belief
constexpr double kProbabilityMax = 0.999999;  // probabilities
constexpr double kMessageLogFloor = 1e-6;     // message components before their log
constexpr double kInitialMessage = 0.5;
constexpr double kNormaliserFloor = 2.2250738585072014e-308;  // smallest normal double

// Clamp that lets NaN through.
double clamp_probability(double v) {
    return v < kProbabilityMin ? kProbabilityMin : (v > kProbabilityMax ? kProbabilityMax : v);
}

void check_config(const BeliefPropagationConfig& config) {
    if (config.max_iterations == 0)
        throw ExecError::validation("infer_beliefs: max_iterations must be > 0");
    if (!(config.damping >= 0.0 && config.damping < 1.0))
        throw ExecError::validation("infer_beliefs: damping must be in [0, 1)");
    if (!std::isfinite(config.convergence_tolerance) || config.convergence_tolerance <= 0.0)
        throw ExecError::validation("infer_beliefs: convergence_tolerance must be finite and > 0");
    if (!std::isfinite(config.coupling_strength))
        throw ExecError::validation("infer_beliefs: coupling_strength must be finite");
}

// ---- Variables --------------------------------------------------------------------------

// The independent edges in ascending id order, as parallel arrays. Edge
// types are replaced by small numbers that compare like the type names.
struct Variables {
    std::vector<EdgeId> edge;
    std::vector<double> alpha;
    std::vector<double> beta;
    std::vector<uint32_t> type;
    std::vector<uint32_t> src;
    std::vector<uint32_t> dst;

    std::size_t size() const noexcept { return edge.size(); }
};

// Positions of the graph's independent edges in ascending id order.
std::vector<uint32_t> independent_edges_by_id(const std::vector<EdgeData>& edges) {
    std::vector<uint32_t> positions;
    positions.reserve(edges.size());
    for (std::size_t p = 0; p < edges.size(); ++p) {
        if (!edges[p].posterior.is_competing()) positions.push_back(checked_id_value(p));
    }
    const auto by_id = [&edges](uint32_t a, uint32_t b) { return edges[a].id < edges[b].id; };
    if (!std::is_sorted(positions.begin(), positions.end(), by_id))
        std::sort(positions.begin(), positions.end(), by_id);
    return positions;
}

Variables collect_variables(const std::vector<EdgeData>& edges) {
    const std::vector<uint32_t> positions = independent_edges_by_id(edges);
    Variables v;
    const std::size_t n = positions.size();
    v.edge.reserve(n);
    v.alpha.reserve(n);
    v.beta.reserve(n);
    v.type.reserve(n);
    v.src.reserve(n);
    v.dst.reserve(n);
    // Edges of one type usually share one text, so the last one is checked
    // before the table.
    std::unordered_map<std::string_view, uint32_t> type_numbers;
    const SharedText* last_type = nullptr;
    uint32_t last_number = 0;
    for (const uint32_t p : positions) {
        const EdgeData& e = edges[p];
        if (!last_type || !e.edge_type.shares_with(*last_type)) {
            const auto next = static_cast<uint32_t>(type_numbers.size());
            last_number = type_numbers.try_emplace(e.edge_type.view(), next).first->second;
            last_type = &e.edge_type;
        }
        const EdgePosterior::Independent& beta = *e.posterior.independent();
        v.edge.push_back(e.id);
        v.alpha.push_back(beta.alpha);
        v.beta.push_back(beta.beta);
        v.type.push_back(last_number);
        v.src.push_back(e.src.value);
        v.dst.push_back(e.dst.value);
    }
    return v;
}

// ---- Neighbourhoods ---------------------------------------------------------------------

// Stable reorder of `order` by key[order[..]], 16 bits per pass, low first.
void radix_sort_by(std::vector<uint32_t>& order, const std::vector<uint32_t>& key,
                   std::vector<uint32_t>& scratch) {
    uint32_t max_key = 0;
    for (const uint32_t k : key)
        max_key = std::max(max_key, k);
    scratch.resize(order.size());
    std::vector<uint32_t> start;
    for (unsigned shift = 0; shift < 32; shift += 16) {
        if (shift > 0 && (max_key >> shift) == 0) break;
        start.assign(std::min<std::size_t>(max_key >> shift, 0xFFFF) + 2, 0);
        for (const uint32_t v : order)
            ++start[((key[v] >> shift) & 0xFFFF) + 1];
        for (std::size_t d = 1; d < start.size(); ++d)
            start[d] += start[d - 1];
        for (const uint32_t v : order)
            scratch[start[(key[v] >> shift) & 0xFFFF]++] = v;
        order.swap(scratch);
    }
}

// The coupling groups under one endpoint (source or destination): variables
// of one type at one node. Each variable's group is a run of `order`, in
// ascending variable number; a variable alone at its endpoint gets an empty
// run.
struct Groups {
    std::vector<uint32_t> order;      // variables sorted by (node, type, number)
    std::vector<uint32_t> run_begin;  // per variable: its group in `order`
    std::vector<uint32_t> run_end;

    std::size_t size_of(uint32_t v) const noexcept { return run_end[v] - run_begin[v]; }
};

Groups group_by_endpoint(const std::vector<uint32_t>& node, const std::vector<uint32_t>& type,
                         std::vector<uint32_t>& scratch) {
    const auto n = static_cast<uint32_t>(node.size());
    Groups g;
    g.order.resize(n);
    for (uint32_t v = 0; v < n; ++v)
        g.order[v] = v;
    radix_sort_by(g.order, type, scratch);
    radix_sort_by(g.order, node, scratch);
    g.run_begin.assign(n, 0);
    g.run_end.assign(n, 0);
    for (uint32_t begin = 0; begin < n;) {
        const uint32_t first = g.order[begin];
        uint32_t end = begin + 1;
        while (end < n && node[g.order[end]] == node[first] && type[g.order[end]] == type[first])
            ++end;
        if (end - begin >= 2) {
            for (uint32_t r = begin; r < end; ++r) {
                g.run_begin[g.order[r]] = begin;
                g.run_end[g.order[r]] = end;
            }
        }
        begin = end;
    }
    return g;
}

// Message slots: offset[i] + k is the message from variable i to its k-th
// neighbour neighbour[offset[i] + k]; twin[slot] is the slot of the message
// travelling the other way.
struct Neighbourhoods {
    std::vector<uint32_t> offset;  // n + 1 entries
    std::vector<uint32_t> neighbour;
    std::vector<uint32_t> twin;

    uint32_t degree(uint32_t i) const noexcept { return offset[i + 1] - offset[i]; }
};

// Upper bound of the message count (exact unless parallel edges share both
// groups). Past 32 bits the slots cannot be indexed: a broken invariant.
uint32_t message_capacity(const Groups& by_src, const Groups& by_dst) {
    uint64_t slots = 0;
    for (uint32_t v = 0; v < by_src.run_begin.size(); ++v) {
        const std::size_t s = by_src.size_of(v), d = by_dst.size_of(v);
        slots += (s ? s - 1 : 0) + (d ? d - 1 : 0);
    }
    if (slots > std::numeric_limits<uint32_t>::max())
        support::panic(support::cat("infer_beliefs: ", slots, " messages do not fit in 32 bits"));
    return static_cast<uint32_t>(slots);
}

// Each variable's neighbours: the union of its two groups without itself,
// ascending and without duplicates, by merging the two sorted runs.
void fill_neighbour_lists(const Groups& by_src, const Groups& by_dst, Neighbourhoods& nb) {
    const auto n = static_cast<uint32_t>(by_src.run_begin.size());
    nb.offset.assign(std::size_t{n} + 1, 0);
    nb.neighbour.resize(message_capacity(by_src, by_dst));
    uint32_t* out = nb.neighbour.data();
    uint32_t cursor = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t* s = by_src.order.data() + by_src.run_begin[i];
        const uint32_t* const s_end = by_src.order.data() + by_src.run_end[i];
        const uint32_t* d = by_dst.order.data() + by_dst.run_begin[i];
        const uint32_t* const d_end = by_dst.order.data() + by_dst.run_end[i];
        while (s != s_end || d != d_end) {
            uint32_t v;
            if (d == d_end || (s != s_end && *s < *d)) {
                v = *s++;
            } else if (s == s_end || *d < *s) {
                v = *d++;
            } else {
                v = *s++;
                ++d;
            }
            if (v != i) out[cursor++] = v;
        }
        nb.offset[i + 1] = cursor;
    }
    nb.neighbour.resize(cursor);
}

// The reverse index. Variables are visited in ascending order and every list
// is ascending, so the senders that name j arrive in the order of j's own
// list: a cursor per variable finds each twin without a search. A sender that
// does not sit under the cursor, or a list entry never reached, means the
// lists are not symmetric.
void index_twins(Neighbourhoods& nb) {
    const auto n = static_cast<uint32_t>(nb.offset.size() - 1);
    std::vector<uint32_t> cursor(nb.offset.begin(), nb.offset.end() - 1);
    nb.twin.resize(nb.neighbour.size());
    const auto broken = [] {
        return ExecError::internal(
            "infer_beliefs: inconsistent neighborhood graph while indexing reverse edges");
    };
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t slot = nb.offset[i]; slot < nb.offset[i + 1]; ++slot) {
            const uint32_t j = nb.neighbour[slot];
            uint32_t& at = cursor[j];
            if (at == nb.offset[j + 1] || nb.neighbour[at] != i) throw broken();
            nb.twin[slot] = at++;
        }
    }
    for (uint32_t j = 0; j < n; ++j) {
        if (cursor[j] != nb.offset[j + 1]) throw broken();
    }
}

// ---- Sweeps -----------------------------------------------------------------------------

struct Message {
    double absent;
    double present;
};

// The logistic function as a pair (s(x), s(-x)), each with full relative
// precision. NaN gives NaN.
struct Split {
    double up;
    double down;
};
inline Split logistic(double x) {
    const double e = std::exp(-std::fabs(x));
    const double big = 1.0 / (1.0 + e);
    const double small = e * big;
    return x >= 0.0 ? Split{big, small} : Split{small, big};
}

// What one sweep needs besides the tables.
struct SweepConstants {
    double agree;     // 1 / (1 + e^-2c)
    double disagree;  // 1 / (1 + e^2c)
    double keep;      // 1 - damping
    double damping;
};

// Log odds of a message after flooring each component.
inline double floored_log_odds(const Message& m) {
    return std::log(std::fmax(m.present, kMessageLogFloor) /
                    std::fmax(m.absent, kMessageLogFloor));
}

// One synchronous sweep: reads `old` and `log_odds_in`, writes `out` and
// `log_odds_out`; returns the largest component change.
double sweep(const Neighbourhoods& nb, const std::vector<double>& unary_log_odds,
             const SweepConstants& k, const Message* old, const double* log_odds_in,
             Message* out, double* log_odds_out) {
    const uint32_t* const offset = nb.offset.data();
    const uint32_t* const twin = nb.twin.data();
    const auto n = static_cast<uint32_t>(unary_log_odds.size());
    double delta = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t begin = offset[i], end = offset[i + 1];
        if (begin == end) continue;
        double total = unary_log_odds[i];
        for (uint32_t slot = begin; slot < end; ++slot)
            total += log_odds_in[slot];
        for (uint32_t slot = begin; slot < end; ++slot) {
            const Split s = logistic(total - log_odds_in[slot]);
            const double q0 = clamp_probability(s.up * k.disagree + s.down * k.agree);
            const double q1 = clamp_probability(s.up * k.agree + s.down * k.disagree);
            const Message before = old[slot];
            const double r0 = k.keep * q0 + k.damping * before.absent;
            const double r1 = k.keep * q1 + k.damping * before.present;
            const double norm = std::fmax(r0 + r1, kNormaliserFloor);
            const Message after{r0 / norm, r1 / norm};
            out[slot] = after;
            delta = std::fmax(delta, std::fabs(after.absent - before.absent));
            delta = std::fmax(delta, std::fabs(after.present - before.present));
            log_odds_out[twin[slot]] = floored_log_odds(after);
        }
    }
    return delta;
}

struct SweepOutcome {
    std::size_t iterations = 0;
    double last_delta = 0.0;
    bool converged = false;
    std::vector<double> log_odds_in;  // incoming log odds after the last sweep
};

SweepOutcome propagate(const Neighbourhoods& nb, const std::vector<double>& unary_log_odds,
                       const BeliefPropagationConfig& config) {
    const double c = config.coupling_strength;
    const SweepConstants k{1.0 / (1.0 + std::exp(-2.0 * c)), 1.0 / (1.0 + std::exp(2.0 * c)),
                           1.0 - config.damping, config.damping};
    const std::size_t slots = nb.twin.size();
    const Message initial{kInitialMessage, kInitialMessage};
    std::vector<Message> messages[2] = {std::vector<Message>(slots, initial),
                                        std::vector<Message>(slots, initial)};
    const double initial_log_odds = floored_log_odds(initial);
    std::vector<double> log_odds[2] = {std::vector<double>(slots, initial_log_odds),
                                       std::vector<double>(slots, initial_log_odds)};
    SweepOutcome outcome;
    int read = 0;
    while (outcome.iterations < config.max_iterations) {
        outcome.last_delta = sweep(nb, unary_log_odds, k, messages[read].data(),
                                   log_odds[read].data(), messages[1 - read].data(),
                                   log_odds[1 - read].data());
        read = 1 - read;
        ++outcome.iterations;
        if (outcome.last_delta < config.convergence_tolerance) {
            outcome.converged = true;
            break;
        }
    }
    outcome.log_odds_in = std::move(log_odds[read]);
    return outcome;
}

// ---- Beliefs and write-back -------------------------------------------------------------

// p = max(alpha, 0.01) / (max(alpha, 0.01) + max(beta, 0.01)), clamped.
double unary_probability(double alpha, double beta) {
    const double a = std::fmax(alpha, kParameterFloor);
    const double b = std::fmax(beta, kParameterFloor);
    return clamp_probability(a / (a + b));
}

// The posterior that keeps alpha + beta (floored) and takes probability p.
EdgePosterior::Independent revised_posterior(double alpha, double beta, double p) {
    const double n = std::fmax(
        std::fmax(alpha, kParameterFloor) + std::fmax(beta, kParameterFloor), kPseudoCountFloor);
    const double a1 = std::fmax(p * n, kParameterFloor);
    const double b1 = std::fmax((1.0 - p) * n, kParameterFloor);
    return {a1 * n / (a1 + b1), b1 * n / (a1 + b1)};
}

void write_back(BeliefGraph& graph, const Variables& v, const std::vector<double>& belief) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        EdgeData* edge = graph.edge_mut(v.edge[i]);
        if (!edge) {
            throw ExecError::internal(support::fill(
                "infer_beliefs: missing edge {} while writing posterior", debug_form(v.edge[i])));
        }
        EdgePosterior::Independent* posterior = edge->posterior.independent();
        if (!posterior) {
            throw ExecError::internal(
                support::fill("infer_beliefs: edge {} changed posterior type during execution",
                              debug_form(v.edge[i])));
        }
        *posterior = revised_posterior(v.alpha[i], v.beta[i], belief[i]);
    }
}

}  // namespace

std::pair<BeliefGraph, BeliefPropagationDiagnostics>
run_loopy_belief_propagation_with_config_diagnostics(const BeliefGraph& graph,
                                                     const BeliefPropagationConfig& config) {
    check_config(config);
    BeliefGraph copy = graph.clone();
    copy.ensure_owned();

    BeliefPropagationDiagnostics diagnostics;
    diagnostics.max_iterations = config.max_iterations;
    diagnostics.converged = true;

    const Variables v = collect_variables(copy.edges());
    const uint32_t n = checked_id_value(v.size());
    diagnostics.variable_count = n;
    if (n < 2) return {std::move(copy), diagnostics};

    Neighbourhoods nb;
    {
        std::vector<uint32_t> scratch;
        const Groups by_src = group_by_endpoint(v.src, v.type, scratch);
        const Groups by_dst = group_by_endpoint(v.dst, v.type, scratch);
        fill_neighbour_lists(by_src, by_dst, nb);
    }
    for (uint32_t i = 0; i < n; ++i)
        diagnostics.connected_variable_count += nb.degree(i) > 0 ? 1 : 0;
    if (diagnostics.connected_variable_count == 0) return {std::move(copy), diagnostics};
    index_twins(nb);
    nb.neighbour = {};  // the sweeps need only the twins

    std::vector<double> unary(n);   // p
    std::vector<double> log_odds(n);  // ln p - ln(1 - p)
    for (uint32_t i = 0; i < n; ++i) {
        unary[i] = unary_probability(v.alpha[i], v.beta[i]);
        log_odds[i] = std::log(unary[i]) - std::log(1.0 - unary[i]);
    }

    const SweepOutcome outcome = propagate(nb, log_odds, config);
    diagnostics.iterations_run = outcome.iterations;
    diagnostics.final_max_message_delta = outcome.last_delta;
    diagnostics.converged = outcome.converged;

    std::vector<double>& belief = unary;  // a variable without neighbours keeps p
    for (uint32_t i = 0; i < n; ++i) {
        if (nb.degree(i) == 0) continue;
        double x = log_odds[i];
        for (uint32_t slot = nb.offset[i]; slot < nb.offset[i + 1]; ++slot)
            x += outcome.log_odds_in[slot];
        belief[i] = clamp_probability(logistic(x).up);
    }
    write_back(copy, v, belief);
    return {std::move(copy), diagnostics};
}

}  // namespace morvane::core::engine
