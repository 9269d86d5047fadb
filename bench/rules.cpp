// Rules over a large graph: enumerating the matches of a two-pattern path
// join, and a whole for_each pass with a where-clause and a soft update.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>

#include "core/engine/rule_exec.hpp"
#include "core/engine/rule_match.hpp"
#include "frontend/parser/parse_program.hpp"

namespace morvane::core::engine {
namespace {

constexpr uint32_t kNodes = 100000;
constexpr uint32_t kEdges = 1000000;

// kNodes P nodes with a score spread over [0, 1), and kEdges T edges: node i
// is the source of edges i, i + kNodes, ... (ten each), their destinations
// scattered, so a path of two edges has about 10 x 10 continuations per node.
// Nodes share the text of their attribute name, as a builder that takes the
// names from the schema gives them.
const BeliefGraph& large_graph() {
    static const BeliefGraph graph = [] {
        BeliefGraph g;
        const SharedText score_name("score");
        for (uint32_t i = 0; i < kNodes; ++i) {
            const double score = static_cast<double>((i * 2654435761u) % 1000u) / 1000.0;
            AttrMap attrs;
            attrs.insert_or_assign(score_name, GaussianPosterior{score, 1.0});
            g.add_node("P", std::move(attrs));
        }
        for (uint32_t e = 0; e < kEdges; ++e) {
            g.add_edge(NodeId{e % kNodes}, NodeId{(e * 7919u + 13u) % kNodes}, "T", 1.0, 1.0);
        }
        g.ensure_owned();
        return g;
    }();
    return graph;
}

frontend::ast::RuleDef rule_of(const std::string& body) {
    return frontend::parser::parse_program("rule R on M { " + body + " }").rules.at(0);
}

void BM_PathJoinMatches(benchmark::State& state) {
    const BeliefGraph& g = large_graph();
    const auto rule = rule_of("pattern (a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P)");
    int64_t matches = 0;
    for (auto _ : state) {
        const RuleMatches m = find_rule_matches(g, rule.patterns);
        matches += static_cast<int64_t>(m.size());
        benchmark::DoNotOptimize(m);
    }
    state.counters["matches/s"] =
        benchmark::Counter(static_cast<double>(matches), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PathJoinMatches)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ForEachPass(benchmark::State& state) {
    const BeliefGraph& g = large_graph();
    const auto rule =
        rule_of("(a:P)-[e:T]->(b:P) where E[a.score] > 0.5 => { b.score ~= E[a.score] }");
    int64_t kept = 0;
    for (auto _ : state) {
        RuleOutcome out = run_rule_with_globals_audit(g, rule, {});
        kept += static_cast<int64_t>(out.audit.matches);
        state.PauseTiming();
        out.graph = BeliefGraph();  // release the pass's copy outside the measurement
        state.ResumeTiming();
    }
    state.counters["kept/s"] =
        benchmark::Counter(static_cast<double>(kept), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ForEachPass)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace morvane::core::engine
