// Throughput of loopy belief propagation, in messages per second: a message
// is one entry of a variable's neighbour list, computed once per sweep.
//
// Graphs:
//   (a) 1M edges in groups of 4 sharing a (type, source) and groups of 4
//       sharing a (type, destination); "local" keeps a destination group
//       within 16 consecutive edges, "scattered" spreads it over the graph;
//   (b) one hub with 2,000 edges of one type (a clique of 2,000 variables);
//   (c) a 1,000 x 1,000 torus where each node sends one edge right and one
//       down, so every node has 2 outgoing and 2 incoming edges of one type.
// BM_Call times the whole call with the flow's configuration (copy, tables,
// sweeps until convergence, write-back). BM_Sweep times one sweep alone, as
// the difference between calls that run 1 and 1 + k sweeps; its rows at
// growing sizes show that a sweep costs time in proportion to its messages.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "core/engine/belief_propagation.hpp"
#include "thread_seconds.hpp"

namespace morvane::core::engine {
namespace {

enum Shape : int64_t { kGroupsLocal, kGroupsScattered, kHub, kTorus };

// Priors between Beta(1, 10) and Beta(10, 1).
void add_edge(BeliefGraph& g, uint32_t src, uint32_t dst, uint32_t e) {
    g.add_edge(NodeId{src}, NodeId{dst}, "LINK", 1.0 + (e * 7u) % 10u, 1.0 + (e * 13u) % 10u);
}

BeliefGraph with_nodes(uint32_t count) {
    BeliefGraph g;
    for (uint32_t i = 0; i < count; ++i)
        g.add_node("N", {});
    return g;
}

// Edge e leaves source e / 4; destination groups take one edge from each of
// four source groups. Sources are nodes [0, edges/4), destinations follow.
BeliefGraph groups_of_four(uint32_t edges, bool scattered) {
    const uint32_t groups = edges / 4;
    std::vector<uint32_t> slot(edges);
    if (scattered) {
        // Edge 4s + lane goes to a random group, order[s + lane * groups / 4]:
        // each group gets one edge per lane, from four different sources.
        std::vector<uint32_t> order(groups);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), std::mt19937(12345));
        for (uint32_t s = 0; s < groups; ++s) {
            for (uint32_t lane = 0; lane < 4; ++lane)
                slot[4 * s + lane] = order[(s + lane * (groups / 4)) % groups];
        }
    } else {
        // e = 16q + 4a + b goes to group (b, q): sources 4q .. 4q + 3.
        for (uint32_t e = 0; e < edges; ++e)
            slot[e] = (e % 4) * (groups / 4) + e / 16;
    }
    BeliefGraph g = with_nodes(2 * groups);
    for (uint32_t e = 0; e < edges; ++e)
        add_edge(g, e / 4, groups + slot[e], e);
    g.ensure_owned();
    return g;
}

BeliefGraph hub(uint32_t edges) {
    BeliefGraph g = with_nodes(edges + 1);
    for (uint32_t e = 0; e < edges; ++e)
        add_edge(g, 0, e + 1, e);
    g.ensure_owned();
    return g;
}

BeliefGraph torus(uint32_t side) {
    BeliefGraph g = with_nodes(side * side);
    uint32_t e = 0;
    for (uint32_t r = 0; r < side; ++r) {
        for (uint32_t c = 0; c < side; ++c) {
            add_edge(g, r * side + c, r * side + (c + 1) % side, e++);
            add_edge(g, r * side + c, ((r + 1) % side) * side + c, e++);
        }
    }
    g.ensure_owned();
    return g;
}

// Messages per sweep: every variable sends to each of its neighbours.
uint64_t messages_per_sweep(Shape shape, uint32_t size) {
    switch (shape) {
        case kGroupsLocal:
        case kGroupsScattered:
            return uint64_t{size} * 6;  // 3 + 3 neighbours
        case kHub:
            return uint64_t{size} * (size - 1);
        case kTorus:
            return uint64_t{size} * size * 2 * 2;  // 2 edges, 1 + 1 neighbours
    }
    return 0;
}

BeliefGraph make_graph(Shape shape, uint32_t size) {
    switch (shape) {
        case kGroupsLocal:
            return groups_of_four(size, false);
        case kGroupsScattered:
            return groups_of_four(size, true);
        case kHub:
            return hub(size);
        case kTorus:
            return torus(size);
    }
    return BeliefGraph();
}

// Graphs are built once per shape and size.
const BeliefGraph& cached_graph(Shape shape, uint32_t size) {
    static std::map<std::pair<Shape, uint32_t>, std::unique_ptr<BeliefGraph>> cache;
    auto& slot = cache[{shape, size}];
    if (!slot) slot = std::make_unique<BeliefGraph>(make_graph(shape, size));
    return *slot;
}

const BeliefPropagationConfig kFlow{32, 0.35, 1e-5, 0.6};

void BM_Call(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    const auto size = static_cast<uint32_t>(state.range(1));
    const BeliefGraph& g = cached_graph(shape, size);
    uint64_t messages = 0;
    std::size_t sweeps = 0;
    for (auto _ : state) {
        auto result = run_loopy_belief_propagation_with_config_diagnostics(g, kFlow);
        sweeps = result.second.iterations_run;
        messages += messages_per_sweep(shape, size) * sweeps;
        state.PauseTiming();
        result.first = BeliefGraph();  // release the result outside the measurement
        state.ResumeTiming();
    }
    state.counters["sweeps"] = static_cast<double>(sweeps);
    state.counters["messages/s"] =
        benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
}

using bench::thread_seconds;

double seconds_of_call(const BeliefGraph& g, std::size_t sweeps) {
    // A tolerance no change falls below: exactly `sweeps` sweeps run.
    const BeliefPropagationConfig config{sweeps, 0.35, 1e-300, 0.6};
    const double start = thread_seconds();
    auto result = run_loopy_belief_propagation_with_config_diagnostics(g, config);
    const double stop = thread_seconds();
    benchmark::DoNotOptimize(result);
    return stop - start;
}

void BM_Sweep(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    const auto size = static_cast<uint32_t>(state.range(1));
    const BeliefGraph& g = cached_graph(shape, size);
    constexpr std::size_t kExtra = 8;
    for (auto _ : state) {
        const double one = seconds_of_call(g, 1);
        const double more = seconds_of_call(g, 1 + kExtra);
        state.SetIterationTime(std::max(more - one, 0.0) / kExtra);
    }
    state.counters["messages"] = static_cast<double>(messages_per_sweep(shape, size));
    state.counters["messages/s"] = benchmark::Counter(
        static_cast<double>(messages_per_sweep(shape, size) * state.iterations()),
        benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Call)
    ->ArgNames({"shape", "size"})
    ->Args({kGroupsLocal, 1000000})
    ->Args({kGroupsScattered, 1000000})
    ->Args({kHub, 2000})
    ->Args({kTorus, 1000})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Sweep)
    ->ArgNames({"shape", "size"})
    ->Args({kGroupsLocal, 62500})
    ->Args({kGroupsLocal, 250000})
    ->Args({kGroupsLocal, 1000000})
    ->Args({kGroupsScattered, 1000000})
    ->Args({kHub, 250})
    ->Args({kHub, 500})
    ->Args({kHub, 1000})
    ->Args({kHub, 2000})
    ->Args({kTorus, 250})
    ->Args({kTorus, 500})
    ->Args({kTorus, 1000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::core::engine
