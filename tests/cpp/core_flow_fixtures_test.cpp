// The example programs under tests/fixtures/programs run end to end: every
// flow on both entry paths, the two-stage forecast chained through the first
// stage's result, and the supply chain plan against numbers worked out by
// hand from its source.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core_flow_test_support.hpp"

namespace morvane::core::engine {
namespace {

using namespace flow_test;

std::string read_fixture(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ast::ProgramAst fixture(std::string_view name) {
    return compiled(
        read_fixture(std::string(MORVANE_FIXTURES_DIR) + "/programs/" + std::string(name)));
}

TEST(FlowFixtures, EveryFlowRunsAlikeOnBothEntryPaths) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(MORVANE_FIXTURES_DIR) + "/programs")) {
        if (entry.path().extension() == ".mv") paths.push_back(entry.path());
    }
    ASSERT_GE(paths.size(), 4u);
    for (const auto& path : paths) {
        const ast::ProgramAst program = compiled(read_fixture(path));
        ASSERT_FALSE(program.flows.empty()) << path;
        // Each flow runs on the result of the flow before it, as a later
        // stage runs on an earlier one.
        FlowResult prior;
        for (const ast::FlowDef& flow : program.flows) {
            const std::string builder = outcome_on(EntryPath::Builder, program, flow.name, &prior);
            try {
                FlowResult result = run_flow(program, flow.name, &prior);
                EXPECT_EQ(builder, result_text(result)) << path << " " << flow.name;
                EXPECT_FALSE(result.graphs.empty()) << path << " " << flow.name;
                prior = std::move(result);
            } catch (const ExecError& e) {
                ADD_FAILURE() << path << " " << flow.name << ": " << e.message;
            }
        }
    }
}

TEST(FlowFixtures, TheSecondForecastStageRunsOnTheFirst) {
    const ast::ProgramAst program = fixture("chained_forecast.mv");
    const FlowResult first = run_flow(program, "Stage1");
    const std::string first_text = result_text(first);
    const FlowResult second = run_flow(program, "Stage2", &first);

    // The second stage starts from the first's export, shared, not copied.
    EXPECT_TRUE(second.graphs.at("prior").shares_base_with(first.exports.at("stage1")));
    EXPECT_EQ(graph_text(second.graphs.at("prior")), graph_text(first.graphs.at("grown")));
    EXPECT_EQ(second.snapshots.size(), 1u);
    EXPECT_TRUE(second.snapshots.at("grown_twice").deltas().empty());
    // Imports read the first stage's exports; its exports carry over.
    const double previous = first.metrics.at("demand");
    EXPECT_EQ(second.metrics.at("change"), (second.metrics.at("demand") - previous) / previous);
    EXPECT_EQ(second.metrics.at("per_store"), second.metrics.at("demand") / 3.0);
    EXPECT_EQ(second.metric_exports,
              (NameMap<double>{{"demand_change", second.metrics.at("change")},
                               {"store_count", 3.0},
                               {"total_demand", previous}}));
    EXPECT_EQ(result_text(first), first_text);  // the prior is left as it was

    // Without the first stage there is nothing to start from.
    EXPECT_EQ(outcome_on(EntryPath::Cached, program, "Stage2"),
              "Internal: graph 'stage1' not found in prior flow exports or snapshots");
}

// Probability of an edge of a graph (pending changes included).
double prob(const FlowResult& r, const char* graph, uint32_t edge) {
    return r.graphs.at(graph).prob_mean(EdgeId{edge});
}

TEST(FlowFixtures, SupplyChainPlanMatchesTheNumbersWorkedOutByHand) {
    const FlowResult r = run_flow(fixture("supply_chain.mv"), "Plan");

    // Nodes by (type, label): Plant east 0, north 1, south 2; Supplier acme 3,
    // globex 4, initech 5. Edges by first mention: five sources_from, two
    // backs_up, then the ships_to routes 7 acme->north, 8 globex->north,
    // 9 acme->south, 10 initech->east. A route starts at Beta(1.4, 0.6)
    // (prior 0.7, two pseudo-counts); 8 is observed absent (Beta(1.4, 1.6)),
    // 9 and 10 present (Beta(2.4, 0.6)).
    //
    // ReviewCheapSuppliers matches globex (cost 38) with route 8 and adds
    // 2 + 1000 to its beta per pass. A pass changes the route's probability
    // by 1.4 * 1002 / ((3 + 1002 (k-1)) (3 + 1002 k)), first below 1e-6 at
    // pass k = 38 (38 * 37 * 1002^2 > 1.4e9 > 37 * 36 * 1002^2), so the
    // fixpoint stops after 38 passes: Beta(1.4, 1.6 + 38 * 1002) = Beta(1.4,
    // 38077.6). The other rules match nothing: globex's reliability is
    // 0.8 - 0.1 / 11 > 0.75, and every plant's choice has entropy at most
    // H(5/6, 1/6) = 0.4506 < 0.5.
    EXPECT_EQ(result_text(r).find("audit Plan reviewed apply_ruleset#0[0] ReviewCheapSuppliers "
                                  "fixpoint 1 2\naudit Plan reviewed apply_ruleset#0[1] "
                                  "AvoidUnreliable for_each 0 0\naudit Plan reviewed "
                                  "apply_ruleset#0[2] RiskFromChoice for_each 0 0\n"),
              0u);
    const double deleted = 1.4 / (1.4 + 38077.6);
    EXPECT_NEAR(r.snapshots.at("after_rules").prob_mean(EdgeId{8}), deleted, 1e-15);

    // Propagation couples the routes leaving acme (7, 9) and those entering
    // north (7, 8): the chain 8 - 7 - 9, with 10 on its own. On a chain the
    // fixed point is the exact marginal of the pairwise model with unary
    // p8 = 1.4 / 38079, p7 = 0.7, p9 = 0.8 and factor e^0.6 for equal states,
    // e^-0.6 for unequal ones; summing over the eight joint states gives
    // P7 = 0.5782699, P8 = 7.525146e-5 and P9 = 0.7682261, which propagation
    // reaches within its message tolerance of 1e-5. Route 10 keeps 0.8.
    EXPECT_NEAR(prob(r, "propagated", 7), 0.5782699, 1e-5);
    EXPECT_NEAR(prob(r, "propagated", 8), 7.525146e-5, 1e-8);
    EXPECT_NEAR(prob(r, "propagated", 9), 0.7682261, 1e-5);
    EXPECT_NEAR(prob(r, "propagated", 10), 0.8, 1e-12);
    const InferenceDiagnosticEvent& inference = r.inference_diagnostics.at(0);
    EXPECT_EQ(inference.variable_count, 4u);
    EXPECT_EQ(inference.connected_variable_count, 3u);
    EXPECT_TRUE(inference.converged);

    // Propagation pulls every route of the chain away from its own
    // proportions, so with the same parameters and sample size the graph
    // before it scores better under both criteria.
    EXPECT_TRUE(r.graphs.at("chosen").shares_base_with(r.graphs.at("reviewed")));
    EXPECT_TRUE(r.graphs.at("simplest").shares_base_with(r.graphs.at("reviewed")));

    // The prune drops route 8 alone: 10 of 11 edges stay.
    const BeliefGraph& routes = r.exports.at("plan");
    EXPECT_EQ(routes.edges().size(), 10u);
    EXPECT_EQ(routes.edge(EdgeId{8}), nullptr);
    EXPECT_EQ(routes.nodes().size(), 6u);

    // Risks: 0.2 by prior, south observed at 0.4 with precision 1 against the
    // prior's 25: 0.2 + 0.2 / 26. Folded in ascending risk (east, north,
    // south).
    EXPECT_EQ(r.metrics.at("riskiest"), (0.2 + 0.2) + (0.2 + 0.2 * (1.0 / 26.0)));
    EXPECT_EQ(r.metrics.at("plants"), 3.0);
}

}  // namespace
}  // namespace morvane::core::engine
