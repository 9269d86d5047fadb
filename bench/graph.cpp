// Costs of the belief graph store that the engine pays constantly: cloning a
// graph, recording an attribute update, reading through pending changes, and
// the deep copy a shared base gets on its first write.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/engine/graph.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::core::engine {
namespace {

// A materialised graph of `nodes` nodes with two attributes each and `edges`
// independent edges of four types, with node names like evidence gives them.
BeliefGraph make_graph(uint32_t nodes, uint32_t edges) {
    BeliefGraph g;
    for (uint32_t i = 0; i < nodes; ++i) {
        g.add_node(i % 2 ? "Person" : "Company", AttrMap{{"score", {0, 1}}, {"risk", {1, 2}}});
    }
    const char* types[] = {"KNOWS", "WORKS_AT", "OWNS", "TRUSTS"};
    for (uint32_t e = 0; e < edges; ++e) {
        const uint32_t src = e % nodes;
        const uint32_t dst = (e * 7919u + 13u) % nodes;
        g.add_edge(NodeId{src}, NodeId{dst}, types[e % 4], 1, 1);
    }
    g.ensure_owned();
    for (uint32_t i = 0; i < nodes; ++i)
        g.set_node_name(NodeId{i}, support::cat("node", i));
    return g;
}

// Graphs are built once per shape and kept for every benchmark that uses it.
const BeliefGraph& cached_graph(uint32_t nodes, uint32_t edges) {
    static std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<BeliefGraph>> cache;
    auto& slot = cache[{nodes, edges}];
    if (!slot) slot = std::make_unique<BeliefGraph>(make_graph(nodes, edges));
    return *slot;
}

void BM_Clone(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    const BeliefGraph& g = cached_graph(nodes, nodes);
    for (auto _ : state) {
        BeliefGraph copy = g.clone();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_Clone)->Arg(1000)->Arg(1000000);

// Steady state of recording updates on distinct nodes: every 33rd update
// folds the 32 pending ones into the base, so the fold is amortised here.
void BM_RecordedAttrUpdate(benchmark::State& state) {
    BeliefGraph g = cached_graph(1000, 1000).clone();
    g.ensure_owned();
    uint32_t i = 0;
    for (auto _ : state) {
        g.observe_attr(NodeId{i}, "score", 1.0, 1.0);
        i = i == 999 ? 0 : i + 1;
    }
    benchmark::DoNotOptimize(g);
}
BENCHMARK(BM_RecordedAttrUpdate);

// Reads with a full pending list: 32 updates of nodes 0..31 are pending and
// the reads cycle over nodes 0..63, so every read scans all 32 changes.
void BM_LookupWith32Pending(benchmark::State& state) {
    BeliefGraph g = cached_graph(1000, 1000).clone();
    g.ensure_owned();
    for (uint32_t i = 0; i < 32; ++i)
        g.observe_attr(NodeId{i}, "score", 1.0, 1.0);
    uint32_t i = 0;
    double sum = 0;
    for (auto _ : state) {
        sum += g.get_node_attr_with_deltas(NodeId{i}, "risk")->mean;
        i = (i + 1) & 63;
    }
    benchmark::DoNotOptimize(sum);
    if (g.deltas().size() != 32) state.SkipWithError("pending list was folded");
}
BENCHMARK(BM_LookupWith32Pending);

// The copy a shared base gets on the first write of one of its holders.
void BM_DeepCopy(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    const auto edges = static_cast<uint32_t>(state.range(1));
    const BeliefGraph& g = cached_graph(nodes, edges);
    for (auto _ : state) {
        BeliefGraph copy = g.clone();
        copy.set_node_name(NodeId{0}, "first write");
        benchmark::DoNotOptimize(copy);
        state.PauseTiming();
        copy = BeliefGraph();  // release the copy outside the measurement
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (int64_t{nodes} + edges));
}
BENCHMARK(BM_DeepCopy)
    ->Args({10000, 100000})
    ->Args({50000, 500000})
    ->Args({100000, 1000000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::core::engine
