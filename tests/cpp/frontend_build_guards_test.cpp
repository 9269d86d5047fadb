// Builders handed a tree the grammar never makes: they fail with their guard
// texts instead of reading past the pairs they were given, and the
// expression builder treats a pair that is no expression as a broken
// invariant that no fallback may hide.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "frontend/parser/build_action.hpp"
#include "frontend/parser/build_belief_model.hpp"
#include "frontend/parser/build_evidence.hpp"
#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/build_flow.hpp"
#include "frontend/parser/build_metric.hpp"
#include "frontend/parser/build_pattern.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/support/panic.hpp"
#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

TEST(BuildGuards, PairsOfAnotherShapeFailWithTheGuardText) {
    const struct {
        Rule start;
        const char* text;
        std::function<void(const Pair&)> build;
        const char* error;
    } cases[] = {
        {Rule::choose_stmt, "choose edge T(A(a), B(b))", build_observe_stmt,
         "Invalid observe statement rule: choose_stmt"},
        {Rule::expr, "x", build_action_stmt, "Unknown action statement: expr"},
        {Rule::gaussian_param, "mean = 1", build_posterior_type, "Invalid posterior type"},
        {Rule::node_attr, "a.b", build_pattern_item, "Missing edge variable in pattern"},
        {Rule::edge_observe, "edge T(A(a), B(b))", build_node_ref,
         "Invalid node reference syntax"},
        {Rule::builder_step, "count()", build_metric_builder_expr, "Invalid metric builder start"},
        {Rule::infer_beliefs_tr, "infer_beliefs", build_select_model_expr,
         "select_model must contain at least one candidate graph"},
        {Rule::pipeline_expr, "g |> infer_beliefs", build_select_model_expr,
         "Missing model selection criterion in select_model"},
        {Rule::pipe_op, "|>", build_pipeline_expr, "Missing start graph in pipeline"},
    };
    for (const auto& c : cases) {
        const ParseResult parsed = CorventaParser::parse(c.start, c.text);
        ASSERT_TRUE(parsed) << c.text;
        const Pair pair = *parsed.tree().pairs().peek();
        try {
            c.build(pair);
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const FrontendError& error) {
            EXPECT_EQ(error.parse_text(), c.error) << c.text;
        }
    }
}

TEST(BuildGuards, ExpressionBuilderDoesNotHideABrokenInvariant) {
    const std::string text = "schema S { }";
    const ParseResult parsed = CorventaParser::parse(Rule::program, text);
    ASSERT_TRUE(parsed);
    const Pair schema = *parsed.tree().pairs().peek()->into_inner().peek();
    EXPECT_THROW(build_expr(schema), support::Panic);
}

}  // namespace
}  // namespace morvane::frontend::parser
