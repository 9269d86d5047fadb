// Loopy belief propagation over independent edges: the tables, the sweeps and
// the write-back.
//
// The propagation is the damped, synchronous, log-domain sum-product scheme,
// organised so that a sweep costs O(messages) rather than O(degree^2) per
// variable, with no logarithm or exponential per message:
//   - The pairwise factor sees a cavity only through its odds, so every
//     message written also stores, once, the odds of its floored components
//     (the exponential of the difference of their logarithms), in the
//     receiver's layout.
//   - A variable's total odds is its unary odds times every incoming odds; its
//     cavity towards one neighbour is the total divided by that neighbour's
//     odds. Totals keep a separate binary exponent, since a product of
//     thousands of odds leaves the double range.
//   - With cavity odds x and s = x / (1 + x), the normalised outgoing message
//     is q1 = s w+ + (1 - s) w-, q0 = s w- + (1 - s) w+, where
//     w+ = 1 / (1 + e^-2c) and w- = 1 / (1 + e^2c) are the normalised agree
//     and disagree weights: the two logsumexps and their normalisation in
//     closed form.
// These steps move results by rounding only; the clamps, floors, damping,
// renormalisation and change measure are applied to every message as written.
//
// Tables are flat arrays indexed by 32-bit message slots: slot offset[i] + k
// holds what variable i sends to its k-th neighbour. Messages are replaced in
// place; two buffers of incoming odds alternate between sweeps. Nothing is
// allocated inside a sweep.
#include "core/engine/belief_propagation.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/engine/errors.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::core::engine {

namespace {

constexpr double kParameterFloor = 0.01;      // Beta parameters read or written
constexpr double kPseudoCountFloor = 0.02;    // their sum
constexpr double kProbabilityMin = 1e-6;      // clamp of unary, message and belief
constexpr double kProbabilityMax = 0.999999;  // probabilities
constexpr double kMessageLogFloor = 1e-6;     // message components, before their log odds
constexpr double kInitialMessage = 0.5;
constexpr double kNormaliserFloor = 2.2250738585072014e-308;  // smallest normal double

// std::fmax(v, floor) for a floor that is never NaN (so a NaN v gives the
// floor), written out: in a sweep the library call costs a fifth of the time.
inline double at_least(double v, double floor) { return v > floor ? v : floor; }

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
// types are replaced by small numbers, equal exactly when the names are.
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
    // Consecutive edges mostly have one type, so the last one is checked
    // before the table.
    std::unordered_map<std::string_view, uint32_t> type_numbers;
    const SharedText* last_type = nullptr;
    uint32_t last_number = 0;
    for (const uint32_t p : positions) {
        const EdgeData& e = edges[p];
        if (!last_type || !(e.edge_type == *last_type)) {
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

// The neighbour lists of all variables (the reverse index is built apart).
Neighbourhoods build_neighbourhoods(const Variables& v) {
    std::vector<uint32_t> scratch;
    const Groups by_src = group_by_endpoint(v.src, v.type, scratch);
    const Groups by_dst = group_by_endpoint(v.dst, v.type, scratch);
    Neighbourhoods nb;
    fill_neighbour_lists(by_src, by_dst, nb);
    return nb;
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

// Odds of a message after flooring each component; in [1e-6, 1e6], and 1
// for a NaN message.
inline double floored_odds(const Message& m) {
    return at_least(m.present, kMessageLogFloor) / at_least(m.absent, kMessageLogFloor);
}

// A product of odds as mantissa * 2^exponent: the product of a variable's
// incoming odds can leave the double range long before its logarithm loses
// precision.
struct WideOdds {
    double mantissa;
    int64_t exponent;
};

// Every factor lies within 2^-20 .. 2^20, so 32 of them keep a mantissa in
// [1, 2) far from overflow and underflow.
constexpr uint32_t kFactorsPerNormalisation = 32;

// Moves the mantissa's binary exponent into the exponent, leaving a
// mantissa in [1, 2). A NaN mantissa stays as it is.
inline void normalise(WideOdds& w) {
    constexpr uint64_t kExponentBits = uint64_t{0x7FF} << 52;
    const uint64_t bits = std::bit_cast<uint64_t>(w.mantissa);
    const auto biased = static_cast<int64_t>((bits & kExponentBits) >> 52);
    if (biased == 0x7FF) return;
    w.exponent += biased - 1023;
    w.mantissa = std::bit_cast<double>((bits & ~kExponentBits) | (uint64_t{1023} << 52));
}

// The product of `odds` and the incoming odds in [begin, end).
inline WideOdds total_odds(double odds, const double* odds_in, uint32_t begin, uint32_t end) {
    WideOdds w{odds, 0};
    uint32_t pending = 0;
    for (uint32_t slot = begin; slot < end; ++slot) {
        w.mantissa *= odds_in[slot];
        if (++pending == kFactorsPerNormalisation) {
            normalise(w);
            pending = 0;
        }
    }
    normalise(w);
    return w;
}

// The mantissa scaled by 2^exponent, the exponent limited to +-900: beyond
// that, odds of 2^900 or 2^-900 give probabilities that are 1 or 0 to well
// below the clamps, with room left to divide by one message's odds.
inline double scaled_mantissa(const WideOdds& w) {
    const int64_t e = w.exponent < -900 ? -900 : (w.exponent > 900 ? 900 : w.exponent);
    return w.mantissa * std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
}

// What one sweep needs besides the tables.
struct SweepConstants {
    double agree;     // 1 / (1 + e^-2c)
    double disagree;  // 1 / (1 + e^2c)
    double keep;      // 1 - damping
    double damping;
};

// One synchronous sweep: reads `odds_in`, replaces every message by its
// successor (a message is read, for its damping, only by the step that
// replaces it, so one buffer serves both) and writes `odds_out`; returns the
// largest component change.
double sweep(const Neighbourhoods& nb, const std::vector<double>& unary_odds,
             const SweepConstants& k, Message* messages, const double* odds_in,
             double* odds_out) {
    const uint32_t* const offset = nb.offset.data();
    const uint32_t* const twin = nb.twin.data();
    const auto n = static_cast<uint32_t>(unary_odds.size());
    double delta = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t begin = offset[i], end = offset[i + 1];
        if (begin == end) continue;
        // Cavity odds towards the neighbour at `slot`: total / odds_in[slot].
        const double total = scaled_mantissa(total_odds(unary_odds[i], odds_in, begin, end));
        for (uint32_t slot = begin; slot < end; ++slot) {
            // P(i present | cavity) = total / (odds_in + total), and its complement.
            const double inv = 1.0 / (odds_in[slot] + total);
            const double up = total * inv, down = odds_in[slot] * inv;
            const double q0 = clamp_probability(up * k.disagree + down * k.agree);
            const double q1 = clamp_probability(up * k.agree + down * k.disagree);
            const Message before = messages[slot];
            const double r0 = k.keep * q0 + k.damping * before.absent;
            const double r1 = k.keep * q1 + k.damping * before.present;
            const double norm = at_least(r0 + r1, kNormaliserFloor);
            const Message after{r0 / norm, r1 / norm};
            messages[slot] = after;
            delta = at_least(std::fabs(after.absent - before.absent), delta);
            delta = at_least(std::fabs(after.present - before.present), delta);
            odds_out[twin[slot]] = floored_odds(after);
        }
    }
    return delta;
}

struct SweepOutcome {
    std::size_t iterations = 0;
    double last_delta = 0.0;
    bool converged = false;
    std::vector<double> odds_in;  // incoming odds after the last sweep
};

SweepOutcome propagate(const Neighbourhoods& nb, const std::vector<double>& unary_odds,
                       const BeliefPropagationConfig& config) {
    const double c = config.coupling_strength;
    const SweepConstants k{1.0 / (1.0 + std::exp(-2.0 * c)), 1.0 / (1.0 + std::exp(2.0 * c)),
                           1.0 - config.damping, config.damping};
    const std::size_t slots = nb.twin.size();
    const Message initial{kInitialMessage, kInitialMessage};
    std::vector<Message> messages(slots, initial);
    std::vector<double> odds[2] = {std::vector<double>(slots, floored_odds(initial)),
                                   std::vector<double>(slots, floored_odds(initial))};
    SweepOutcome outcome;
    int read = 0;
    while (outcome.iterations < config.max_iterations) {
        outcome.last_delta =
            sweep(nb, unary_odds, k, messages.data(), odds[read].data(), odds[1 - read].data());
        read = 1 - read;
        ++outcome.iterations;
        if (outcome.last_delta < config.convergence_tolerance) {
            outcome.converged = true;
            break;
        }
    }
    outcome.odds_in = std::move(odds[read]);
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
// For n near the largest double, a1 * n overflows where the result does
// not; the same value is then computed as a1 * (n / (a1 + b1)), halved
// first so that the sum cannot overflow either. Only an n that is itself
// not finite leaves a non-finite result (see write_back).
EdgePosterior::Independent revised_posterior(double alpha, double beta, double p) {
    const double n = std::fmax(
        std::fmax(alpha, kParameterFloor) + std::fmax(beta, kParameterFloor), kPseudoCountFloor);
    const double a1 = std::fmax(p * n, kParameterFloor);
    const double b1 = std::fmax((1.0 - p) * n, kParameterFloor);
    EdgePosterior::Independent revised{a1 * n / (a1 + b1), b1 * n / (a1 + b1)};
    if (!std::isfinite(revised.alpha) || !std::isfinite(revised.beta)) {
        const double scale = (0.5 * n) / (0.5 * a1 + 0.5 * b1);
        revised = {a1 * scale, b1 * scale};
    }
    return revised;
}

// Each variable's marginal P(present): from its unary odds and the latest
// incoming odds, or its unary probability when it has no neighbours.
std::vector<double> marginals(const Neighbourhoods& nb, const std::vector<double>& unary,
                              const std::vector<double>& unary_odds,
                              const std::vector<double>& odds_in) {
    std::vector<double> belief(unary);
    for (uint32_t i = 0; i < belief.size(); ++i) {
        if (nb.degree(i) == 0) continue;
        const double x = scaled_mantissa(
            total_odds(unary_odds[i], odds_in.data(), nb.offset[i], nb.offset[i + 1]));
        belief[i] = clamp_probability(x / (1.0 + x));
    }
    return belief;
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
        const EdgePosterior::Independent revised =
            revised_posterior(v.alpha[i], v.beta[i], belief[i]);
        // Finite parameters whose sum overflows have no finite revision: the
        // run fails as an overflowing update does (graph_updates.cpp).
        if (std::isfinite(v.alpha[i]) && std::isfinite(v.beta[i])) {
            for (const double value : {revised.alpha, revised.beta}) {
                if (std::isfinite(value)) continue;
                throw ExecError::validation(support::fill(
                    "infer_beliefs: update produced non-finite value: {} for edge {}",
                    support::plain_number(value), debug_form(v.edge[i])));
            }
        }
        *posterior = revised;
    }
}

}  // namespace

std::pair<BeliefGraph, BeliefPropagationDiagnostics>
run_loopy_belief_propagation_with_config_diagnostics(const BeliefGraph& graph,
                                                     const BeliefPropagationConfig& config) {
    check_config(config);
    return run_loopy_belief_propagation_with_config_diagnostics(graph.clone(), config);
}

std::pair<BeliefGraph, BeliefPropagationDiagnostics>
run_loopy_belief_propagation_with_config_diagnostics(BeliefGraph&& graph,
                                                     const BeliefPropagationConfig& config) {
    check_config(config);
    BeliefGraph copy = std::move(graph);
    copy.ensure_owned();

    BeliefPropagationDiagnostics diagnostics;
    diagnostics.max_iterations = config.max_iterations;
    diagnostics.converged = true;

    const Variables v = collect_variables(copy.edges());
    const uint32_t n = checked_id_value(v.size());
    diagnostics.variable_count = n;
    if (n < 2) return {std::move(copy), diagnostics};

    Neighbourhoods nb = build_neighbourhoods(v);
    for (uint32_t i = 0; i < n; ++i)
        diagnostics.connected_variable_count += nb.degree(i) > 0 ? 1 : 0;
    if (diagnostics.connected_variable_count == 0) return {std::move(copy), diagnostics};
    index_twins(nb);
    nb.neighbour = {};  // the sweeps need only the twins

    std::vector<double> unary(n);  // p
    std::vector<double> odds(n);   // p / (1 - p)
    for (uint32_t i = 0; i < n; ++i) {
        unary[i] = unary_probability(v.alpha[i], v.beta[i]);
        odds[i] = unary[i] / (1.0 - unary[i]);
    }
    const SweepOutcome outcome = propagate(nb, odds, config);
    diagnostics.iterations_run = outcome.iterations;
    diagnostics.final_max_message_delta = outcome.last_delta;
    diagnostics.converged = outcome.converged;

    const std::vector<double> belief = marginals(nb, unary, odds, outcome.odds_in);
    write_back(copy, v, belief);
    return {std::move(copy), diagnostics};
}

}  // namespace morvane::core::engine
