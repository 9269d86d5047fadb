// Evidence blocks: observe, choose and unchoose statements, node and edge
// groups.
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

std::string evidence(const std::string& body) { return "evidence E on M { " + body + " }"; }

const std::string kItems =
    "expected node_group, edge_group, observe_stmt, kw_choose_tok, or kw_unchoose_tok";

TEST(ParserEvidence, EveryStatementAndGroupForm) {
    const std::string text = evidence(
        "observe edge T(A[\"a\"], B(b)) present; "
        "observe edge T(A[\"a\"], B(2)) weight = 0.5 (precision = 4) "
        "observe A[\"a\"].x = -1.5 (precision = 2); "
        "choose edge T(A(a), B(-3)) unchoose edge T(A(a), B(\"c\")); "
        "A { a { x: 1, y: -2 (precision = 3) }, b {} } "
        "T(A -> B) { a -> b; a -/> c, \"q\"->007 }");
    EXPECT_EQ(
        subtree(text, Rule::evidence_body),
        "evidence_body [observe_stmt > observe_edge_stmt [kw_observe_tok \"observe\", edge_observe "
        "[kw_edge_tok \"edge\", ident \"T\", node_ref [ident \"A\", node_ref_bracket > string "
        "\"\"a\"\"], node_ref [ident \"B\", node_ref_call > node_label > ident \"b\"]], "
        "evidence_mode \"present\"], observe_stmt > observe_edge_weight_stmt [kw_observe_tok "
        "\"observe\", edge_observe [kw_edge_tok \"edge\", ident \"T\", node_ref [ident \"A\", "
        "node_ref_bracket > string \"\"a\"\"], node_ref [ident \"B\", node_ref_call > node_label > "
        "number \"2\"]], kw_weight_tok \"weight\", number \"0.5\", precision_annot [ident "
        "\"precision\", number \"4\"]], observe_stmt > observe_attr_stmt [kw_observe_tok "
        "\"observe\", attr_observe [node_ref [ident \"A\", node_ref_bracket > string \"\"a\"\"], "
        "ident \"x\", number \"-1.5\", precision_annot [ident \"precision\", number \"2\"]]], "
        "choose_stmt [kw_choose_tok \"choose\", edge_observe [kw_edge_tok \"edge\", ident \"T\", "
        "node_ref [ident \"A\", node_ref_call > node_label > ident \"a\"], node_ref [ident \"B\", "
        "node_ref_call > node_label > number \"-3\"]]], unchoose_stmt [kw_unchoose_tok "
        "\"unchoose\", edge_observe [kw_edge_tok \"edge\", ident \"T\", node_ref [ident \"A\", "
        "node_ref_call > node_label > ident \"a\"], node_ref [ident \"B\", node_ref_call > "
        "node_label > string \"\"c\"\"]]], node_group [ident \"A\", node_entry [node_label > ident "
        "\"a\", node_attr_kv [ident \"x\", number \"1\"], node_attr_kv [ident \"y\", number "
        "\"-2\", precision_annot [ident \"precision\", number \"3\"]]], node_entry > node_label > "
        "ident \"b\"], edge_group [ident \"T\", ident \"A\", ident \"B\", edge_entry [node_label > "
        "ident \"a\", edge_op \"->\", node_label > ident \"b\"], edge_entry [node_label > ident "
        "\"a\", edge_op \"-/>\", node_label > ident \"c\"], edge_entry [node_label > string "
        "\"\"q\"\", edge_op \"->\", node_label > number \"007\"]]]");
    EXPECT_EQ(subtree(evidence("A {} B { b {} } T(A -> B) {}"), Rule::evidence_body),
              "evidence_body [node_group > ident \"A\", node_group [ident \"B\", node_entry > "
              "node_label > ident \"b\"], edge_group [ident \"T\", ident \"A\", ident \"B\"]]");
    EXPECT_EQ(subtree(evidence(""), Rule::evidence_decl),
              "evidence_decl [kw_evidence_tok \"evidence\", ident \"E\", kw_on_tok \"on\", ident "
              "\"M\", evidence_body \"{  }\"]");
}

TEST(ParserEvidence, NamesThatSpellKeywordsOrModes) {
    for (const std::string& text : {
             evidence("observe { a { x: 1 } } choose { } unchoose(A -> B) { }"),
             evidence("observe edge[\"a\"].x = 1"),
             evidence("observe edge T(A(a), B(b)) presentX { }"),
             std::string("evidence evidence on on {}"),
             evidence("observe  A /* c */ [ \"a\" ] . x = 1 choose edge T(A(a),B(b))"),
         }) {
        EXPECT_TRUE(parses(text)) << text;
    }
}

TEST(ParserEvidence, RefusedForms) {
    const std::string head = "evidence E on M { ";
    const std::string edge = "observe edge T(A[\"a\"], B[\"b\"]) ";
    for (const ErrorAt& c : std::vector<ErrorAt>{
             {head + "observe A@.x = 1 }", "expected node_ref_bracket or node_ref_call"},
             {head + edge + "@maybe }", "expected evidence_mode or kw_weight_tok"},
             {head + "T(A -> B) { a -> b; @} }", "expected node_label"},
             {head + "T(A -> B) { a -> b, @} }", "expected node_label"},
             {head + "A { a {}, @} }", "expected node_label"},
             {head + "A { a { x: 1, @} } }", "expected ident"},
             {head + "observe A[@a].x = 1 }", "expected string"},
             {head + "@T(A -/> B) { a -> b } }", kItems},
             {head + edge + "present @(precision = 2) }",
              "expected ident, observe_stmt, kw_choose_tok, or kw_unchoose_tok"},
             {head + "observe A[\"a\"].x = 1 @+ 2 }", ""},
             {head + "observe A[\"a\"].x = @+1 }", "expected number"},
             {head + "observe A[\"a\"].x = 1@e5 }", ""},
             {head + edge + "present@ly }", ""},
         }) {
        expect_error_at(c);
    }
}

TEST(ParserEvidence, Spans) {
    const std::string text = evidence("observe A[\"a\"].x = 1  /* c */ observe A[\"a\"].y = 2;");
    EXPECT_EQ(span_text(text, Rule::observe_attr_stmt, 0), "observe A[\"a\"].x = 1  /* c */ ");
    EXPECT_EQ(span_text(text, Rule::observe_attr_stmt, 1), "observe A[\"a\"].y = 2;");
    EXPECT_EQ(span_text(text, Rule::attr_observe, 0), "A[\"a\"].x = 1  /* c */ ");
    EXPECT_EQ(span_text(text, Rule::evidence_body),
              "{ observe A[\"a\"].x = 1  /* c */ observe A[\"a\"].y = 2; }");
}

}  // namespace
}  // namespace morvane::frontend::parser
