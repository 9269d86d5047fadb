// Costs of flow runs: a prune predicate over a million candidate edges
// through the lowered-expression cache against the generic evaluator, whole
// prune transforms and metric stages of a run, and a whole flow over
// generated evidence against its stages run alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/engine/belief_propagation.hpp"
#include "core/engine/evidence.hpp"
#include "core/engine/flow_exec.hpp"
#include "core/engine/rule_exec.hpp"
#include "frontend/parser/parse_program.hpp"
#include "ir/program.hpp"
#include "thread_seconds.hpp"

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

// ---------------------------------------------------------------------------
// A whole flow over generated evidence.
//
// `nodes` P nodes n0, n1, ... each observed with a score, and ten edges from
// every node i to i + 1 ... i + 10 (mod nodes), each observed once present
// or absent: type U for the tenth edge of every tenth node, T for the rest.
// Edges of one source, and of one destination, are coupled in propagation;
// the structure is the same around every node, so propagation needs as many
// sweeps at every size. The rule joins each U edge with the nine T edges
// that continue it.

constexpr const char* kFlowProgram = R"(
schema S { node P { score: Real } edge T {} edge U {} }
belief_model M on S {
    node P { score ~ Gaussian(mean = 0.5, precision = 1) }
    edge T { exist ~ Bernoulli(prior = 0.5) }
    edge U { exist ~ Bernoulli(prior = 0.5) }
}
rule Lift on M {
    pattern (a:P)-[u:U]->(b:P), (b:P)-[t:T]->(c:P)
    where E[a.score] > E[c.score]
    action { c.score ~= E[a.score] precision = 0.5 }
}
flow F on M {
    graph g = from_evidence Big
    graph h = g |> apply_rule Lift |> infer_beliefs |> prune_edges T where prob(edge) < 0.4
    metric people = nodes(P) |> count()
    metric high = nodes(P) |> where E[node.score] > 0.5 |> sum(by = E[node.score])
    metric degree = avg_degree(P, T, min_prob = 0.5)
    export h as "out"
}
)";

frontend::ast::EvidenceDef generated_evidence(uint32_t nodes) {
    using frontend::ast::EvidenceMode;
    using frontend::ast::ObserveStmt;
    frontend::ast::EvidenceDef evidence{"Big", "M", {}, ""};
    evidence.observations.reserve(std::size_t{nodes} * 11);
    const auto label = [nodes](uint32_t i) {
        std::string text = "n";
        text += std::to_string(i % nodes);
        return text;
    };
    for (uint32_t i = 0; i < nodes; ++i) {
        const double score = static_cast<double>((i * 2654435761u) % 1000u) / 1000.0;
        evidence.observations.emplace_back(
            ObserveStmt::Attribute{"P", label(i), "score", score, std::nullopt});
        for (uint32_t k = 1; k <= 10; ++k) {
            const bool sparse = k == 10 && i % 10 == 0;
            const bool present = ((i * 31u + k * 17u) % 10u) < 6u;
            evidence.observations.emplace_back(
                ObserveStmt::Edge{sparse ? "U" : "T", "P", label(i), "P", label(i + k),
                                  present ? EvidenceMode::Present : EvidenceMode::Absent});
        }
    }
    return evidence;
}

frontend::ast::ProgramAst generated_flow_program(uint32_t nodes) {
    frontend::ast::ProgramAst program = frontend::parser::parse_program(kFlowProgram);
    program.evidences.push_back(generated_evidence(nodes));
    return program;
}

using bench::thread_seconds;

// Seconds of each stage of the flow when the stages are called one after
// the other without the executor, in the order the run takes them. Like the
// run, they release the program and the graphs they replace as they go; the
// graphs a run returns are released after the clock stops in both.
struct StageSeconds {
    double lower = 0, evidence = 0, rule = 0, infer = 0, prune = 0, metrics = 0, exports = 0;
    double total() const { return lower + evidence + rule + infer + prune + metrics + exports; }
};

StageSeconds run_stages_alone(const frontend::ast::ProgramAst& program) {
    StageSeconds s;
    double t = thread_seconds();
    const auto lap = [&t](double& into) {
        const double now = thread_seconds();
        into += now - t;
        t = now;
    };
    auto lowered = std::make_unique<ir::ProgramIR>(ir::ProgramIR::from(program).optimized());
    const ir::ProgramIR& optimized = *lowered;
    const ir::FlowIR& flow = optimized.flows.at(0);
    lap(s.lower);

    const BeliefGraph g = build_graph_from_evidence_ir(optimized.evidences.at(0), optimized);
    lap(s.evidence);

    const frontend::ast::RuleDef rule = optimized.rules.at(0).to_ast();
    BeliefGraph working = run_rule_with_globals_audit(g, rule, {}).graph;
    lap(s.rule);

    working = run_loopy_belief_propagation_with_config_diagnostics(
                  working, BeliefPropagationConfig{32, 0.35, 1e-5, 0.6})
                  .first;
    lap(s.infer);

    const auto& pipeline = std::get<ir::GraphExprIR::Pipeline>(flow.graphs.at(1).expr.node);
    const auto& prune = std::get<ir::TransformIR::PruneEdges>(pipeline.transforms.at(2).node);
    CraneliftJitExecutionBackend backend;
    CraneliftExprEvaluator evaluator = backend.lock();
    std::vector<EdgeId> kept;
    for (const EdgeData& e : working.edges()) {
        if (e.edge_type != prune.edge_type ||
            evaluator.eval_prune_predicate("F", "h", 2, prune.predicate, working, e.id) == 0.0) {
            kept.push_back(e.id);
        }
    }
    working = working.rebuild_with_edges(working.nodes(), kept);
    lap(s.prune);

    const metrics::MetricRegistry registry = metrics::MetricRegistry::with_builtins();
    metrics::MetricBindings bindings;
    for (const ir::MetricDefIR& metric : flow.metrics) {
        bindings.insert_or_assign(
            metric.name,
            evaluator.eval_metric_expr("F", metric.name, metric.expr, working, registry, bindings));
    }
    lap(s.metrics);

    const BeliefGraph exported = working.clone();
    benchmark::DoNotOptimize(exported);
    lap(s.exports);

    lowered.reset();
    lap(s.lower);
    return s;
}

// Each iteration runs the stages alone, then the whole flow; the iteration
// time is the whole run's CPU time. "overhead" is what the run costs beyond
// the stages, as a fraction of the stages. The two sizes differ tenfold; the
// medians of three repetitions give their ratio.
void BM_FlowOverGeneratedEvidence(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    const frontend::ast::ProgramAst program = generated_flow_program(nodes);
    StageSeconds stages;
    double run = 0.0;
    for (auto _ : state) {
        const StageSeconds s = run_stages_alone(program);
        const double start = thread_seconds();
        FlowResult result = run_flow(program, "F");
        const double seconds = thread_seconds() - start;
        benchmark::DoNotOptimize(result);
        state.SetIterationTime(seconds);
        stages.lower += s.lower;
        stages.evidence += s.evidence;
        stages.rule += s.rule;
        stages.infer += s.infer;
        stages.prune += s.prune;
        stages.metrics += s.metrics;
        stages.exports += s.exports;
        run += seconds;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["edges"] = 10.0 * nodes;
    state.counters["lower_s"] = stages.lower / n;
    state.counters["evidence_s"] = stages.evidence / n;
    state.counters["rule_s"] = stages.rule / n;
    state.counters["infer_s"] = stages.infer / n;
    state.counters["prune_s"] = stages.prune / n;
    state.counters["metrics_s"] = stages.metrics / n;
    state.counters["export_s"] = stages.exports / n;
    state.counters["stages_s"] = stages.total() / n;
    state.counters["run_s"] = run / n;
    state.counters["overhead"] = run / stages.total() - 1.0;
}
BENCHMARK(BM_FlowOverGeneratedEvidence)
    ->ArgName("nodes")
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::core::engine
