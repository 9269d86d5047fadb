// Flows: graphs, transforms, model selection, metrics, exports and imports.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using ast::GraphExpr;
using ast::Transform;
using testing::build_error;
using enum ast::BinaryOp;

ast::FlowDef flow_of(std::string_view body) {
    return parse_program("flow F on M { " + std::string(body) + " }").flows.at(0);
}

TEST(BuildFlow, EmptyFlowHasEmptyLists) {
    EXPECT_EQ(flow_of(""), (ast::FlowDef{"F", "M", {}, {}, {}, {}, {}}));
}

TEST(BuildFlow, StatementsLandInTheirListsInSourceOrder) {
    const ast::FlowDef flow = flow_of(R"(
        import_metric m_prior as m0
        graph g = from_evidence ev
        metric a on g2 = 1
        export g as "out"
        graph g = from_graph "base"
        export_metric a as "a-prior"
        metric b = 2
        export g as "again"
        import_metric x as y)");
    const std::vector<ast::GraphDef> graphs{{"g", GraphExpr::FromEvidence{"ev"}},
                                            {"g", GraphExpr::FromGraph{"base"}}};
    EXPECT_EQ(flow.graphs, graphs);
    const std::vector<ast::MetricDef> metrics{{"a", "g2", ast::number(1)},
                                              {"b", std::nullopt, ast::number(2)}};
    EXPECT_EQ(flow.metrics, metrics);
    EXPECT_EQ(flow.exports, (std::vector<ast::ExportDef>{{"g", "out"}, {"g", "again"}}));
    EXPECT_EQ(flow.metric_exports, (std::vector<ast::MetricExportDef>{{"a", "a-prior"}}));
    EXPECT_EQ(flow.metric_imports,
              (std::vector<ast::MetricImportDef>{{"m_prior", "m0"}, {"x", "y"}}));
}

TEST(BuildFlow, PipelineKeepsItsTransformsInOrder) {
    const ast::FlowDef flow = flow_of(
        R"(graph g2 = g1 |> apply_rule r |> infer_beliefs |> snapshot "s1" )"
        R"(|> apply_ruleset { r1, r2, r1 } |> prune_edges T where prob(edge) < 0.1)");
    const GraphExpr expected = GraphExpr::Pipeline{
        "g1",
        {Transform::ApplyRule{"r"}, Transform::InferBeliefs{}, Transform::Snapshot{"s1"},
         Transform::ApplyRuleset{{"r1", "r2", "r1"}},
         Transform::PruneEdges{
             "T", ast::binary(Lt, ast::call("prob", {ast::positional(ast::var("edge"))}),
                              ast::number(0.1))}}};
    ASSERT_EQ(flow.graphs.size(), 1u);
    EXPECT_EQ(flow.graphs[0].name, "g2");
    EXPECT_EQ(flow.graphs[0].expr, expected);
    // A predicate that fails to build is the constant 0.0.
    const ast::FlowDef zero = flow_of("graph g = h |> prune_edges T where nodes(P) |> where x");
    EXPECT_EQ(std::get<GraphExpr::Pipeline>(zero.graphs[0].expr.node).transforms[0],
              Transform(Transform::PruneEdges{"T", ast::number(0.0)}));
}

TEST(BuildFlow, SelectModelKeepsCandidatesAndCriterion) {
    using enum ast::ModelSelectionCriterion;
    const ast::FlowDef flow = flow_of(
        "graph best = select_model { g1, g2 } by edge_bic "
        "graph one = select_model { g1, g1 } byedge_aic");
    EXPECT_EQ(flow.graphs[0].expr, GraphExpr(GraphExpr::SelectModel{{"g1", "g2"}, EdgeBic}));
    EXPECT_EQ(flow.graphs[1].expr, GraphExpr(GraphExpr::SelectModel{{"g1", "g1"}, EdgeAic}));
}

TEST(BuildFlow, WholePipelineValueReportsItsErrorsNestedOneFallsBack) {
    EXPECT_EQ(build_error("flow F on M { metric m = nodes(L) |> where E[node.x] > 0 }"),
              "Missing terminal aggregate in metric builder");
    EXPECT_EQ(flow_of("metric m = (nodes(L) |> where E[node.x] > 0) + 0").metrics.at(0).expr,
              ast::binary(Add, ast::number(0.0), ast::number(0.0)));
    const ast::ExprAst count = ast::call("count_nodes", {ast::named("label", ast::var("L"))});
    EXPECT_EQ(flow_of("metric m on g = nodes(L) |> count()").metrics.at(0),
              (ast::MetricDef{"m", "g", count}));
}

}  // namespace
}  // namespace morvane::frontend::parser
