// Costs of flow runs: a prune predicate over a million candidate edges
// through the lowered-expression cache against the generic evaluator, and
// whole prune transforms and metric stages of a run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/engine/flow_exec.hpp"
#include "frontend/parser/parse_program.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {
namespace {

// `nodes` nodes labelled Person with a score, and `edges` KNOWS edges of
// probabilities 0.1 to 0.9.
BeliefGraph make_graph(uint32_t nodes, uint32_t edges) {
    BeliefGraph g;
    for (uint32_t i = 0; i < nodes; ++i) {
        g.add_node("Person", AttrMap{{"score", {double(i % 100), 1.0}}});
    }
    for (uint32_t e = 0; e < edges; ++e) {
        const double alpha = 1.0 + e % 9;
        g.add_edge(NodeId{e % nodes}, NodeId{(e * 7919u + 13u) % nodes}, "KNOWS", alpha,
                   10.0 - alpha);
    }
    g.ensure_owned();
    return g;
}

const BeliefGraph& million_edges() {
    static const BeliefGraph graph = make_graph(100000, 1000000);
    return graph;
}

const ir::ExprIR& predicate() {
    static const ir::ExprIR expr =
        ir::ExprIR::from(frontend::parser::parse_program("rule R on M { where prob(edge) < 0.3 }")
                             .rules[0]
                             .where_expr.value());
    return expr;
}

// One prune predicate evaluated for every edge of the graph.
template <typename Evaluator>
void evaluate_all(benchmark::State& state, Evaluator& evaluator) {
    const BeliefGraph& graph = million_edges();
    const ir::ExprIR& expr = predicate();
    double dropped = 0;
    for (const EdgeData& e : graph.edges()) {
        dropped += evaluator.eval_prune_predicate("F", "g", 0, expr, graph, e.id) != 0.0 ? 1 : 0;
    }
    state.counters["dropped"] = dropped;
}

void BM_PrunePredicateCached(benchmark::State& state) {
    million_edges();
    for (auto _ : state) {
        CraneliftJitExecutionBackend backend;
        CraneliftExprEvaluator evaluator = backend.lock();
        evaluate_all(state, evaluator);
    }
}
BENCHMARK(BM_PrunePredicateCached)->Unit(benchmark::kMillisecond);

void BM_PrunePredicateDirect(benchmark::State& state) {
    million_edges();
    for (auto _ : state) {
        DirectExprEvaluator evaluator;
        evaluate_all(state, evaluator);
    }
}
BENCHMARK(BM_PrunePredicateDirect)->Unit(benchmark::kMillisecond);

// A whole run: a graph from the prior, one prune transform and three metrics.
void BM_PruneAndMetricsRun(benchmark::State& state) {
    FlowResult prior;
    prior.exports.insert_or_assign("g", million_edges().clone());
    const frontend::ast::ProgramAst program = frontend::parser::parse_program(R"(
        flow F on M {
            graph g = from_graph "g"
            graph pruned = g |> prune_edges KNOWS where prob(edge) < 0.3
            metric people = nodes(Person) |> count()
            metric degree = avg_degree(Person, KNOWS, min_prob = 0.5)
            metric score = nodes(Person) |> where E[node.score] > 50 |> sum(by = E[node.score])
        })");
    for (auto _ : state) {
        FlowResult result = run_flow(program, "F", &prior);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_PruneAndMetricsRun)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::core::engine
