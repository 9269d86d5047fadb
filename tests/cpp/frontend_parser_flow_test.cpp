// Flows: graph statements, pipelines of transforms, metrics, exports and
// imports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend_parser_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::ErrorAt;
using testing::expect_error_at;
using testing::parses;
using testing::span_text;
using testing::subtree;

std::string flow(const std::string& body) { return "flow f on m { " + body + " }"; }

std::string operand(const std::string& leaf) {
    return "expr > or_expr > and_expr > cmp_expr > add_expr > mul_expr > unary_expr > postfix > " +
           leaf;
}

const std::string kStatements =
    "expected kw_graph_tok, kw_metric_tok, kw_export_tok, kw_export_metric_tok, or "
    "kw_import_metric_tok";

TEST(ParserFlows, StatementsAndGraphExpressions) {
    struct Case {
        std::string text;
        Rule find;
        std::string tree;
    };
    const std::vector<Case> cases = {
        {"flow f on m { }", Rule::flow_decl,
         "flow_decl [kw_flow_tok \"flow\", ident \"f\", kw_on_tok \"on\", ident \"m\", flow_body "
         "\"\"]"},
        {flow("graph g = from_evidence ev"), Rule::graph_stmt,
         "graph_stmt [kw_graph_tok \"graph\", ident \"g\", graph_expr > from_evidence_expr "
         "[kw_from_evidence_tok \"from_evidence\", ident \"ev\"]]"},
        {flow("graph g = from_graph \"prior\""), Rule::graph_expr,
         "graph_expr > from_graph_expr [kw_from_graph_tok \"from_graph\", string \"\"prior\"\"]"},
        {flow("graph g = select_model { g1, g2 } by edge_bic"), Rule::graph_expr,
         "graph_expr > select_model_expr [kw_select_model_tok \"select_model\", ident \"g1\", "
         "ident \"g2\", model_selection_criterion > kw_edge_bic_tok \"edge_bic\"]"},
        {flow("graph g = select_model { g1 } byedge_aic"), Rule::model_selection_criterion,
         "model_selection_criterion > kw_edge_aic_tok \"edge_aic\""},
        {flow("graph g = g1 |> apply_rule r1 |> apply_ruleset { r2, r3 } |> snapshot \"s\" |> "
              "infer_beliefs |> prune_edges T where weight(edge) < 0.1"),
         Rule::pipeline_expr,
         "pipeline_expr [ident \"g1\", pipe_op \"|>\", apply_rule_tr [kw_apply_rule_tok "
         "\"apply_rule\", ident \"r1\"], pipe_op \"|>\", apply_ruleset_tr [kw_apply_ruleset_tok "
         "\"apply_ruleset\", ident \"r2\", ident \"r3\"], pipe_op \"|>\", snapshot_tr "
         "[kw_snapshot_tok \"snapshot\", string \"\"s\"\"], pipe_op \"|>\", infer_beliefs_tr > "
         "kw_infer_beliefs_tok \"infer_beliefs\", pipe_op \"|>\", prune_edges_tr "
         "[kw_prune_edges_tok \"prune_edges\", ident \"T\", kw_where_tok \"where\", expr > or_expr "
         "> and_expr > cmp_expr [add_expr > mul_expr > unary_expr > postfix [ident \"weight\", "
         "call_suffix > " +
             operand("ident \"edge\"") +
             "], op_cmp \"<\", add_expr > mul_expr > unary_expr > postfix > number \"0.1\"]]]"},
        // A failed keyword form gives way to a pipeline starting at that name.
        {flow("graph g = from_evidence |> infer_beliefs"), Rule::graph_expr,
         "graph_expr > pipeline_expr [ident \"from_evidence\", pipe_op \"|>\", infer_beliefs_tr > "
         "kw_infer_beliefs_tok \"infer_beliefs\"]"},
        {flow("metric m on g1 = nodes(P) |> count()"), Rule::metric_stmt,
         "metric_stmt [kw_metric_tok \"metric\", ident \"m\", kw_on_tok \"on\", ident \"g1\", "
         "metric_builder_expr [builder_start [kw_nodes_tok \"nodes\", label \"P\"], pipe_op "
         "\"|>\", builder_step > builder_count > kw_count_tok \"count\"]]"},
        {flow("metric on = 1"), Rule::metric_stmt,
         "metric_stmt [kw_metric_tok \"metric\", ident \"on\", " + operand("number \"1\"") + "]"},
        {flow("metric m = nodes(P)"), Rule::metric_stmt,
         "metric_stmt [kw_metric_tok \"metric\", ident \"m\", expr > or_expr > and_expr > "
         "cmp_expr > add_expr > mul_expr > unary_expr > postfix [ident \"nodes\", call_suffix > " +
             operand("ident \"P\"") + "]]"},
        {flow("export g as \"out\" export_metric m as \"x\" import_metric x as y"),
         Rule::flow_body,
         "flow_body [export_stmt [kw_export_tok \"export\", ident \"g\", kw_as_tok \"as\", string "
         "\"\"out\"\"], metric_export_stmt [kw_export_metric_tok \"export_metric\", ident \"m\", "
         "kw_as_tok \"as\", string \"\"x\"\"], metric_import_stmt [kw_import_metric_tok "
         "\"import_metric\", ident \"x\", kw_as_tok \"as\", ident \"y\"]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(subtree(c.text, c.find), c.tree) << c.text;
    for (const char* body :
         {"graph g2 = g1|>infer_beliefs", "graph g = g1 /* c */ |> // c\n infer_beliefs",
          "metric m = (nodes(P) |> count()) + 1", "metric m = 1 + nodes(P) |> count()",
          "graph on = metric |> apply_rule from_evidence"}) {
        EXPECT_TRUE(parses(flow(body))) << body;
    }
}

TEST(ParserFlows, RefusedForms) {
    const std::string head = "flow f on m { ";
    for (const ErrorAt& c : std::vector<ErrorAt>{
             {head + "graph g = from_evidence ev@; }", kStatements},
             {head + "graph g = g1 |> infer_beliefs@; }",
              "expected pipe_op, kw_graph_tok, kw_metric_tok, kw_export_tok, "
              "kw_export_metric_tok, or kw_import_metric_tok"},
             {head + "graph g = from_evidence ev@", kStatements},
             {head + "graph g2 = g1 @}", ""},
             {head + "graph g2 = g1 @| > infer_beliefs }", ""},
             {head + "graph g = from_evidence ev @|> infer_beliefs }", ""},
             {head + "graph g = g1 |> infer_beliefs@() }", ""},
             {head + "graph g = g1 |> apply_rule r1 @r2 }", ""},
             {head + "graph g = g1 |> snapshot @s1 }", "expected string"},
             // The keyword's name is also a possible start graph.
             {head + "graph g = from_graph @alias }", "expected string or pipe_op"},
             {head + "graph g = g1 |> apply_ruleset { @} }", "expected ident"},
             {head + "graph g = g1 |> apply_ruleset { r1, @} }", "expected ident"},
             {head + "graph g = select_model { @} by edge_aic }", "expected ident"},
             {head + "graph g = select_model { g1, g2, @} by edge_bic }", "expected ident"},
             {head + "metric m = nodes(P) |> count() @+ 1 }", ""},
             {head + "metric m = nodes(@\"P\") |> count() }", ""},
             // The on clause is given back, but its name failed further on.
             {head + "metric m on @= 1 }", "expected ident"},
             {head + "import_metric @\"x\" as y }", "expected ident"},
         }) {
        expect_error_at(c);
    }
}

// A pipeline with one step keeps the skip after it; with more it ends at
// its last step. The body itself ends at its last statement.
TEST(ParserFlows, Spans) {
    const std::string one = flow("graph g = g1 |> infer_beliefs // c\n  export g as \"x\"");
    EXPECT_EQ(span_text(one, Rule::graph_stmt), "graph g = g1 |> infer_beliefs // c\n  ");
    EXPECT_EQ(span_text(one, Rule::pipeline_expr), "g1 |> infer_beliefs // c\n  ");
    const std::string two = flow("graph g = g1 |> infer_beliefs |> snapshot \"s\"  ");
    EXPECT_EQ(span_text(two, Rule::graph_stmt), "graph g = g1 |> infer_beliefs |> snapshot \"s\"");
    EXPECT_EQ(span_text(two, Rule::flow_body), "graph g = g1 |> infer_beliefs |> snapshot \"s\"");
    const std::string prune = flow("graph g = g1 |> prune_edges T where x > 1 // c\n");
    EXPECT_EQ(span_text(prune, Rule::prune_edges_tr), "prune_edges T where x > 1 // c\n ");
    // A metric pipeline of one step, likewise.
    EXPECT_EQ(span_text(flow("metric m = nodes(P) |> count()  "), Rule::metric_stmt),
              "metric m = nodes(P) |> count()   ");
    EXPECT_EQ(span_text(flow("metric m = nodes(P) |> where x |> count()  "), Rule::metric_stmt),
              "metric m = nodes(P) |> where x |> count()");
}

}  // namespace
}  // namespace morvane::frontend::parser
