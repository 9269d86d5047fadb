#include "ir/program.hpp"

#include <gtest/gtest.h>

#include "tests/cpp/sample_program.hpp"

namespace morvane::ir {
namespace {

using morvane::testing::kDeepShapes;
using morvane::testing::sample_expr;
using morvane::testing::sample_program;

TEST(Lowering, RoundTripsEveryRuleAndEvidenceVariant) {
    const ast::ProgramAst program = sample_program();
    const ProgramIR ir = ProgramIR::from(program);

    EXPECT_EQ(ir.schemas, program.schemas);
    EXPECT_EQ(ir.belief_models, program.belief_models);
    ASSERT_EQ(ir.evidences.size(), program.evidences.size());
    for (size_t i = 0; i < ir.evidences.size(); ++i) {
        EXPECT_EQ(ir.evidences[i].to_ast(), program.evidences[i]);
    }
    ASSERT_EQ(ir.rules.size(), program.rules.size());
    for (size_t i = 0; i < ir.rules.size(); ++i) {
        EXPECT_EQ(ir.rules[i].to_ast(), program.rules[i]);
    }
    EXPECT_EQ(ExprIR::from(sample_expr()).to_ast(), sample_expr());
    EXPECT_EQ(program, sample_program());  // the tree is only read
}

TEST(Lowering, GroupsNodeReferences) {
    const ast::ObserveStmt cases[] = {
        ast::ObserveStmt::Edge{"T", "A", "a", "B", "b", ast::EvidenceMode::Unchosen},
        ast::ObserveStmt::EdgeWeight{"T", "A", "a", "B", "b", 0.5, std::nullopt},
        ast::ObserveStmt::Attribute{"A", "a", "x", 1.0, 2.0},
    };
    const ObserveStmtIR expected[] = {
        ObserveStmtIR::Edge{"T", {"A", "a"}, {"B", "b"}, ast::EvidenceMode::Unchosen},
        ObserveStmtIR::EdgeWeight{"T", {"A", "a"}, {"B", "b"}, 0.5, std::nullopt},
        ObserveStmtIR::Attribute{{"A", "a"}, "x", 1.0, 2.0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ObserveStmtIR lowered = ObserveStmtIR::from(cases[i]);
        EXPECT_EQ(lowered, expected[i]);
        EXPECT_EQ(lowered.to_ast(), cases[i]);
    }
}

TEST(Lowering, FlowsMirrorTheTree) {
    using enum ast::BinaryOp;
    const ProgramIR ir = ProgramIR::from(sample_program());
    ASSERT_EQ(ir.flows.size(), 2u);
    const auto prob = ExprIR::Call{"prob", {CallArgIR::Positional{ExprIR::Var{"edge"}}}};
    const FlowIR expected{
        "F",
        "M",
        {{"g0", GraphExprIR::FromEvidence{"E"}},
         {"g1", GraphExprIR::FromGraph{"prior graph"}},
         {"g2", GraphExprIR::Pipeline{
                    "g0",
                    {TransformIR::ApplyRule{"R"}, TransformIR::ApplyRuleset{{"R", "N", "R"}},
                     TransformIR::Snapshot{"snap"}, TransformIR::InferBeliefs{},
                     TransformIR::PruneEdges{
                         "likes", ExprIR::Binary{Lt, Box<ExprIR>(prob),
                                                 Box<ExprIR>(ExprIR::Number{0.5})}}}}},
         {"best", GraphExprIR::SelectModel{{"g2", "g0"}, ast::ModelSelectionCriterion::EdgeBic}}},
        {{"m", std::nullopt, ExprIR::Number{2.0}},
         {"c", std::string("g2"),
          ExprIR::Call{"count_nodes", {CallArgIR::Named{"label", ExprIR::Var{"User"}}}}}},
        {{"g2", "out"}},
        {{"m", "m_out"}},
        {{"prior_m", "pm"}}};
    EXPECT_EQ(ir.flows[0], expected);
    EXPECT_EQ(ir.flows[1], (FlowIR{"Bare", "M", {}, {}, {}, {}, {}}));
}

TEST(Lowering, CopiesAreIndependent) {
    const ast::ProgramAst program = sample_program();
    ProgramIR ir = ProgramIR::from(program);
    const ProgramIR copy = ir;
    EXPECT_EQ(copy, ir);

    ir.schemas[0].nodes[0].attrs.clear();
    ir.belief_models[0].body_src.clear();
    std::get<ObserveStmtIR::Edge>(ir.evidences[0].observations[0].node).src.label = "zed";
    ir.rules[0].patterns[0].src.var = "q";
    std::get<ExprIR::Binary>(ir.rules[0].where_expr->node).op = ast::BinaryOp::And;
    EXPECT_EQ(program, sample_program());
    EXPECT_EQ(copy, ProgramIR::from(program));
}

TEST(Lowering, DeepExpressionsRoundTripWithoutRecursion) {
    for (const auto& shape : kDeepShapes) {
        SCOPED_TRACE(shape.name);
        std::optional<ExprIR> lowered = ExprIR::from(shape.make(shape.depth));
        const ast::ExprAst back = lowered->to_ast();
        lowered.reset();
        EXPECT_TRUE(back == shape.make(shape.depth));
    }
}

}  // namespace
}  // namespace morvane::ir
