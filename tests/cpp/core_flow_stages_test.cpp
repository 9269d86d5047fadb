// The stages a flow calls inside its pipelines and graph definitions: rules
// and rulesets with their audit events, belief propagation with its
// diagnostics, the labels that name a transform by its place in the
// optimized pipeline, the variables rules can read, and model selection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine/belief_propagation.hpp"
#include "core/engine/flow_exec.hpp"
#include "core_flow_test_support.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {
namespace {

using namespace flow_test;

// Three people a, b, c (node ids 0, 1, 2) with x = 0.5, 0, 0, and T edges
// a->b (Beta(2, 1)), a->c (Beta(1, 2)) and b->c (Beta(2, 1)): a chain of
// coupled edges, as a->b and a->c share their source and a->c and b->c
// their destination.
constexpr std::string_view kPeople = R"(
schema S {
    node P { x: Real }
    edge T {}
}
belief_model M on S {
    node P { x ~ Gaussian(mean = 0, precision = 1) }
    edge T { exist ~ Bernoulli(prior = 0.5) }
}
evidence E on M {
    observe P["a"].x = 1;
    observe edge T(P["a"], P["b"]) present;
    observe edge T(P["a"], P["c"]) absent;
    observe edge T(P["b"], P["c"]) present;
}
evidence Other on M { observe P["z"].x = 1; }
rule Raise on M {
    for (n: P) => { non_bayesian_nudge n.x to E[n.x] + 1 variance = preserve; }
}
rule Raised on M {
    for (n: P) where E[n.x] >= 1 => {
        let y = E[n.x];
        non_bayesian_nudge n.x to y variance = preserve;
    }
}
rule Settle on M {
    for (n: P) where E[n.x] > 100 => { non_bayesian_nudge n.x to 0 variance = preserve; }
    mode: fixpoint
}
rule Climb on M {
    for (n: P) => { non_bayesian_nudge n.x to E[n.x] + 1 variance = preserve; }
    mode: fixpoint
}
rule AboveGlobal on M {
    for (n: P) where E[n.x] > x => { non_bayesian_nudge n.x to x variance = preserve; }
}
)";

ast::ProgramAst people_with(std::string_view flows) {
    return program_of(std::string(kPeople) + std::string(flows));
}

std::vector<std::string> audit_lines(const FlowResult& r) {
    std::vector<std::string> lines;
    for (const InterventionAuditEvent& e : r.intervention_audit) {
        lines.push_back(e.flow + " " + e.graph + " " + e.transform + " " + e.rule + " " + e.mode +
                        " " + std::to_string(e.matches) + " " + std::to_string(e.actions_executed));
    }
    return lines;
}

std::vector<std::string> inference_labels(const FlowResult& r) {
    std::vector<std::string> labels;
    for (const InferenceDiagnosticEvent& e : r.inference_diagnostics)
        labels.push_back(e.graph + " " + e.transform);
    return labels;
}

TEST(FlowStages, RulesetsChainTheirRulesAndEveryApplicationIsAudited) {
    const ast::ProgramAst program = people_with(R"(
        flow F on M {
            graph h = g
                |> apply_rule Raise
                |> apply_ruleset { Raise, Raised }
                |> apply_ruleset { Raised }
                |> apply_rule Settle
            graph g = from_evidence E
            graph k = g |> apply_ruleset { Raised, Raise }
        })");
    const FlowResult r = run_flow(program, "F");
    // Raised matches only where x >= 1: everywhere once Raise has run before
    // it, nowhere on the evidence graph itself. It has two actions. Events
    // follow the plan: k is planned in the first pass, h in the second.
    EXPECT_EQ(audit_lines(r), (std::vector<std::string>{
                                  "F k apply_ruleset#0[0] Raised for_each 0 0",
                                  "F k apply_ruleset#0[1] Raise for_each 3 3",
                                  "F h apply_rule#0 Raise for_each 3 3",
                                  "F h apply_ruleset#1[0] Raise for_each 3 3",
                                  "F h apply_ruleset#1[1] Raised for_each 3 6",
                                  "F h apply_rule#2 Raised for_each 3 6",
                                  "F h apply_rule#3 Settle fixpoint 0 0",
                              }));
    const BeliefGraph& h = r.graphs.at("h");
    EXPECT_EQ(h.expectation(NodeId{0}, "x"), 2.5);
    EXPECT_EQ(h.expectation(NodeId{2}, "x"), 2.0);
    EXPECT_EQ(r.graphs.at("g").expectation(NodeId{0}, "x"), 0.5);  // the start graph stays
    EXPECT_EQ(outcome_on(EntryPath::Builder, program, "F"), result_text(r));
}

TEST(FlowStages, InferBeliefsPropagatesTheWorkingGraphWithTheFlowConfiguration) {
    const ast::ProgramAst program = people_with(R"(
        flow F on M {
            graph g = from_evidence E
            graph h = g |> infer_beliefs |> snapshot "once" |> infer_beliefs
        })");
    const FlowResult r = run_flow(program, "F");

    const BeliefPropagationConfig config{32, 0.35, 1e-5, 0.6};
    const auto [once, first] =
        run_loopy_belief_propagation_with_config_diagnostics(r.graphs.at("g"), config);
    const auto [twice, second] = run_loopy_belief_propagation_with_config_diagnostics(once, config);
    EXPECT_EQ(graph_text(r.snapshots.at("once")), graph_text(once));
    EXPECT_EQ(graph_text(r.graphs.at("h")), graph_text(twice));

    ASSERT_EQ(r.inference_diagnostics.size(), 2u);
    const BeliefPropagationDiagnostics expected[] = {first, second};
    const char* labels[] = {"infer_beliefs#0", "infer_beliefs#2"};
    for (int i = 0; i < 2; ++i) {
        const InferenceDiagnosticEvent& e = r.inference_diagnostics[i];
        EXPECT_EQ(e.flow, "F");
        EXPECT_EQ(e.graph, "h");
        EXPECT_EQ(e.transform, labels[i]);
        EXPECT_EQ(e.algorithm, "loopy_sum_product");
        EXPECT_EQ(e.iterations_run, expected[i].iterations_run);
        EXPECT_EQ(e.max_iterations, 32u);
        EXPECT_EQ(e.converged, expected[i].converged);
        EXPECT_EQ(e.final_max_message_delta, expected[i].final_max_message_delta);
        EXPECT_EQ(e.variable_count, 3u);
        EXPECT_EQ(e.connected_variable_count, 3u);
    }
    EXPECT_TRUE(first.converged);
    EXPECT_GT(first.iterations_run, 1u);
}

TEST(FlowStages, LabelsCountTheTransformsOfTheOptimizedPipeline) {
    // The prunes whose predicates fold to false or zero are removed, and a
    // one-rule ruleset becomes an apply_rule.
    const ast::ProgramAst program = people_with(R"(
        flow F on M {
            graph g = from_evidence E
            graph h = g
                |> prune_edges T where false
                |> apply_ruleset { Raise }
                |> prune_edges T where 1 - 1
                |> infer_beliefs
                |> prune_edges T where prob(edge) < 0.5
        })");
    CraneliftJitExecutionBackend backend;
    const FlowResult r = run_flow_ir(backend, ir::ProgramIR::from(program), "F");
    EXPECT_EQ(audit_lines(r), (std::vector<std::string>{"F h apply_rule#0 Raise for_each 3 3"}));
    EXPECT_EQ(inference_labels(r), (std::vector<std::string>{"h infer_beliefs#1"}));
    // The remaining prune is cached under its optimized position.
    ASSERT_EQ(backend.state().prune_entries.size(), 1u);
    EXPECT_EQ(backend.state().prune_entries.begin()->first.position, 2u);
    EXPECT_EQ(outcome_on(EntryPath::Builder, program, "F"), result_text(r));
}

TEST(FlowStages, RuleFailuresEndTheRunWhenTheirTransformRuns) {
    const struct {
        const char* graph;
        const char* outcome;
    } cases[] = {
        {"g |> apply_rule Nope", "Internal: unknown rule 'Nope'"},
        {"g |> apply_ruleset { Raise, Nope }", "Internal: unknown rule 'Nope' in ruleset"},
        {"g |> apply_ruleset { Nope, Raise }", "Internal: unknown rule 'Nope' in ruleset"},
        // The first rule of a set runs before the second name is looked up.
        {"g |> apply_ruleset { AboveGlobal, Nope }", "Internal: unbound variable 'x'"},
        {"g |> apply_rule Climb",
         "Execution: Fixpoint rule 'Climb' did not converge after 1000 iterations"},
    };
    for (const auto& c : cases) {
        // `h` is planned last, after both evidence graphs.
        const ast::ProgramAst program =
            people_with(std::string("flow F on M { graph h = ") + c.graph +
                        " graph g = from_evidence E graph o = from_evidence Other }");
        std::vector<std::string> built;
        const EvidenceGraphBuilder builder = [&](const ast::EvidenceDef& block) {
            built.push_back(block.name);
            return build_graph_from_evidence(block, program);
        };
        const auto error = error_of([&] { run_flow_with_builder(program, "F", builder); });
        ASSERT_TRUE(error) << c.graph;
        EXPECT_EQ(std::string(kind_name(error->kind)) + ": " + error->message, c.outcome);
        EXPECT_EQ(built, (std::vector<std::string>{"E", "Other"})) << c.graph;
        EXPECT_EQ(outcome_on(EntryPath::Cached, program, "F"), c.outcome);
    }
}

TEST(FlowStages, RulesReadTheImportedMetricValuesOnly) {
    // AboveGlobal caps x at the global x: with x = 0.25 it matches a alone.
    const ast::ProgramAst program = people_with(R"(
        flow Imported on M {
            import_metric limit as x
            graph g = from_evidence E
            graph h = g |> apply_rule AboveGlobal
            metric x = 5
            metric y = x * 2
        }
        flow OwnMetric on M {
            graph g = from_evidence E
            graph h = g |> apply_rule AboveGlobal
            metric x = 5
        })");
    FlowResult prior;
    prior.metric_exports = {{"limit", 0.25}};
    const FlowResult r = run_flow(program, "Imported", &prior);
    EXPECT_EQ(audit_lines(r),
              (std::vector<std::string>{"Imported h apply_rule#0 AboveGlobal for_each 1 1"}));
    EXPECT_EQ(r.graphs.at("h").expectation(NodeId{0}, "x"), 0.25);
    // The flow's own metric shadows the import for later metrics only.
    EXPECT_EQ(r.metrics.at("y"), 10.0);

    // Without the prior's export the import is skipped; the flow's own
    // metrics are never visible to rules.
    FlowResult without;
    without.metric_exports = {{"other", 1.0}};
    for (const EntryPath path : {EntryPath::Cached, EntryPath::Builder}) {
        EXPECT_EQ(outcome_on(path, program, "Imported", &without),
                  "Internal: unbound variable 'x'");
        EXPECT_EQ(outcome_on(path, program, "OwnMetric", &prior), "Internal: unbound variable 'x'");
    }
}

// One independent edge 0 -> 1 of type T with Beta(alpha, beta).
BeliefGraph one_edge(double alpha, double beta) {
    BeliefGraph g;
    g.add_node("P", AttrMap{{"x", {0.0, 1.0}}});
    g.add_node("P", AttrMap{{"x", {0.0, 1.0}}});
    g.add_edge(NodeId{0}, NodeId{1}, "T", alpha, beta);
    g.ensure_owned();
    return g;
}

TEST(FlowStages, SelectModelTakesTheBestCandidateOfTheFlow) {
    // Equal sample sizes (2); Beta(1.5, 0.5) fits its own counts better than
    // Beta(1, 1), and two equal scores go to the smaller name.
    FlowResult prior;
    prior.exports.insert_or_assign("flat", one_edge(1.0, 1.0));
    prior.exports.insert_or_assign("level", one_edge(1.0, 1.0));
    prior.exports.insert_or_assign("sharp", one_edge(1.5, 0.5));
    prior.exports.insert_or_assign("wide", one_edge(5.0, 5.0));
    prior.exports.insert_or_assign("empty", BeliefGraph());
    const ast::ProgramAst program = program_of(R"(
        flow F on M {
            graph best = select_model { flat, sharp } by edge_aic
            graph tie = select_model { level, flat } by edge_bic
            graph flat = from_graph "flat"
            graph level = from_graph "level"
            graph sharp = from_graph "sharp"
        })");
    const FlowResult r = run_flow(program, "F", &prior);
    EXPECT_TRUE(r.graphs.at("best").shares_base_with(r.graphs.at("sharp")));
    EXPECT_TRUE(r.graphs.at("tie").shares_base_with(r.graphs.at("flat")));
    EXPECT_EQ(outcome_on(EntryPath::Builder, program, "F", &prior), result_text(r));

    const struct {
        const char* graphs;
        const char* outcome;
    } cases[] = {
        {"graph a = from_graph \"flat\" graph b = from_graph \"wide\" "
         "graph m = select_model { a, b } by edge_bic",
         "Validation: select_model: candidates must share effective sample size; 'b' has "
         "n=10.000000 vs reference n=2.000000"},
        {"graph a = from_graph \"empty\" graph m = select_model { a } by edge_aic",
         "Validation: select_model: all candidates must have positive effective sample size"},
    };
    for (const auto& c : cases) {
        const ast::ProgramAst failing = program_of(std::string("flow F on M { ") + c.graphs + " }");
        EXPECT_EQ(outcome_on(EntryPath::Cached, failing, "F", &prior), c.outcome);
    }
}

}  // namespace
}  // namespace morvane::core::engine
