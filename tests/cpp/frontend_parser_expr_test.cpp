// Expressions, graph patterns and metric pipelines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend_parser_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::ErrorAt;
using testing::expect_error_at;
using testing::parse_to_text;
using testing::parses;

// The chains every operand sits under.
const std::string kToAdd = "expr > or_expr > and_expr > cmp_expr > add_expr";
const std::string kToMul = kToAdd + " > mul_expr";
const std::string kToUnary = kToMul + " > unary_expr";
const std::string kToPostfix = kToUnary + " > postfix";

std::string operand(const std::string& leaf) { return kToPostfix + " > " + leaf; }
std::string mul_operand(const std::string& leaf) {
    return "mul_expr > unary_expr > postfix > " + leaf;
}
std::string cmp_operand(const std::string& leaf) {
    return "cmp_expr > add_expr > " + mul_operand(leaf);
}
std::string and_operand(const std::string& leaf) { return "and_expr > " + cmp_operand(leaf); }

const std::string kPattern =
    "pattern_item [ident \"a\", label \"L\", ident \"e\", ident \"T\", ident \"b\", label \"M\"]";

// Inside a metric of a flow, so that the whole text must parse.
std::string metric(const std::string& expression) {
    return "flow f on m { metric x = " + expression + " }";
}

TEST(ParserExpressions, TreesOfTheLevels) {
    struct Case {
        const char* text;
        std::string tree;
    };
    const std::vector<Case> cases = {
        {"a + b * c", kToAdd + " [" + mul_operand("ident \"a\"") +
                          ", op_add \"+\", mul_expr [unary_expr > postfix > ident \"b\", op_mul "
                          "\"*\", unary_expr > postfix > ident \"c\"]]"},
        {"-5", kToUnary + " [op_unary \"-\", unary_expr > postfix > number \"5\"]"},
        {"not x", kToUnary + " [op_unary > kw_not_tok \"not\", unary_expr > postfix > ident \"x\"]"},
        {"f(a, n = 2).y", kToPostfix + " [ident \"f\", call_suffix [" + operand("ident \"a\"") +
                              ", named_arg [ident \"n\", " + operand("number \"2\"") +
                              "]], field_access > ident \"y\"]"},
        {"E[N.a]", operand("e_bracket [ident \"N\", ident \"a\"]")},
        {"E [ N . a ]", operand("e_bracket [ident \"N\", ident \"a\"]")},
        {"exists (a:L)-[e:T]->(b:M) where b.x > 0",
         operand("exists_expr [kw_exists_tok \"exists\", " + kPattern +
                 ", kw_where_tok \"where\", expr > or_expr > and_expr > cmp_expr [add_expr > "
                 "mul_expr > unary_expr > postfix [ident \"b\", field_access > ident \"x\"], "
                 "op_cmp \">\", add_expr > " +
                 mul_operand("number \"0\"") + "]]")},
        {"exists (a:L)-[e:T]->(b:M)",
         operand("exists_expr [kw_exists_tok \"exists\", " + kPattern + "]")},
        // "not" is the prefix operator before an existence test.
        {"not exists (a:L)-[e:T]->(b:M)",
         kToUnary + " [op_unary > kw_not_tok \"not\", unary_expr > postfix > exists_expr "
                    "[kw_exists_tok \"exists\", " +
             kPattern + "]]"},
        {"a - b - c", kToAdd + " [" + mul_operand("ident \"a\"") + ", op_add \"-\", " +
                          mul_operand("ident \"b\"") + ", op_add \"-\", " +
                          mul_operand("ident \"c\"") + "]"},
        {"a / b / c", kToMul + " [unary_expr > postfix > ident \"a\", op_mul \"/\", unary_expr > "
                               "postfix > ident \"b\", op_mul \"/\", unary_expr > postfix > ident "
                               "\"c\"]"},
        {"a or b and c", "expr > or_expr [" + and_operand("ident \"a\"") +
                             ", op_or > kw_or_tok \"or\", and_expr [" + cmp_operand("ident \"b\"") +
                             ", op_and > kw_and_tok \"and\", " + cmp_operand("ident \"c\"") + "]]"},
        {"a and b or c", "expr > or_expr [and_expr [" + cmp_operand("ident \"a\"") +
                             ", op_and > kw_and_tok \"and\", " + cmp_operand("ident \"b\"") +
                             "], op_or > kw_or_tok \"or\", " + and_operand("ident \"c\"") + "]"},
        {"a <= b", "expr > or_expr > and_expr > cmp_expr [add_expr > " +
                       mul_operand("ident \"a\"") + ", op_cmp \"<=\", add_expr > " +
                       mul_operand("ident \"b\"") + "]"},
        {"not a == b", "expr > or_expr > and_expr > cmp_expr [add_expr > mul_expr > unary_expr "
                       "[op_unary > kw_not_tok \"not\", unary_expr > postfix > ident \"a\"], "
                       "op_cmp \"==\", add_expr > " +
                           mul_operand("ident \"b\"") + "]"},
        {"2 - -3", kToAdd + " [" + mul_operand("number \"2\"") +
                       ", op_add \"-\", mul_expr > unary_expr [op_unary \"-\", unary_expr > "
                       "postfix > number \"3\"]]"},
        {"--5", kToUnary + " [op_unary \"-\", unary_expr [op_unary \"-\", unary_expr > postfix > "
                           "number \"5\"]]"},
        {"- 5", kToUnary + " [op_unary \"-\", unary_expr > postfix > number \"5\"]"},
        {"f()", kToPostfix + " [ident \"f\", call_suffix \"()\"]"},
        {"f\n(a)", kToPostfix + " [ident \"f\", call_suffix > " + operand("ident \"a\"") + "]"},
        {"g(x).h(y)", kToPostfix + " [ident \"g\", call_suffix > " + operand("ident \"x\"") +
                          ", field_access > ident \"h\", call_suffix > " + operand("ident \"y\"") +
                          "]"},
        {"5.x", kToPostfix + " [number \"5\", field_access > ident \"x\"]"},
        {"true.x", kToPostfix + " [kw_true_tok \"true\", field_access > ident \"x\"]"},
        {"false", operand("kw_false_tok \"false\"")},
        {"truex", operand("ident \"truex\"")},
        {"True", operand("ident \"True\"")},
        {"note", operand("ident \"note\"")},
        {"E", operand("ident \"E\"")},
        {"E + 1", kToAdd + " [" + mul_operand("ident \"E\"") + ", op_add \"+\", " +
                      mul_operand("number \"1\"") + "]"},
        {"n == 2", "expr > or_expr > and_expr > cmp_expr [add_expr > " +
                       mul_operand("ident \"n\"") + ", op_cmp \"==\", add_expr > " +
                       mul_operand("number \"2\"") + "]"},
        {"nodes(A)",
         kToPostfix + " [ident \"nodes\", call_suffix > " + operand("ident \"A\"") + "]"},
        {"1 + nodes(A) |> count()",
         kToAdd + " [" + mul_operand("number \"1\"") +
             ", op_add \"+\", mul_expr > unary_expr > postfix > metric_builder_expr "
             "[builder_start [kw_nodes_tok \"nodes\", label \"A\"], pipe_op \"|>\", builder_step > "
             "builder_count > kw_count_tok \"count\"]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_to_text(Rule::expr, c.text), c.tree) << c.text;
    EXPECT_EQ(parse_to_text(Rule::expr, "a /* c */ + b"), parse_to_text(Rule::expr, "a + b"));
}

TEST(ParserExpressions, WhatTheLevelsRefuse) {
    for (const char* text : {"(a < b) < c", "a < b and b < c", "f (a)", "-(5)", "x.y.z",
                             "f(a)(b)", "exists (a:L)-[e:T]->(b:M) where b.x > 0 and a.y > 1"}) {
        EXPECT_TRUE(parses(metric(text))) << text;
    }
    const std::string head = "flow f on m { metric x = ";
    for (const ErrorAt& c : std::vector<ErrorAt>{
             {head + "a < b @< c }", ""},
             {head + "a == b @== c }", ""},
             {head + "a < @= b }", "expected unary_expr"},
             // The expectation form fails as a whole; the error is where
             // the variable E could have gone on.
             {head + "E@[N] }", ""},
             {head + "E@[N.a.b] }", ""},
             {head + "f(a,@) }", "expected ident or unary_expr"},
             {head + "(a + @) }", "expected unary_expr"},
             {head + "5@(1) }", ""},
             {"rule r on m { action { let x = @; } }", "expected unary_expr"},
         }) {
        expect_error_at(c);
    }
}

TEST(ParserExpressions, TheWherePartTakesAWholeExpression) {
    const std::string text = "flow f on m { metric x = exists (a:L)-[e:T]->(b:M) where b.x > 0 "
                             "and a.y > 1 }";
    // One and_expr inside the where-part; the outer expression has none.
    EXPECT_EQ(testing::span_text(text, Rule::and_expr, 1), "b.x > 0 and a.y > 1 ");
    EXPECT_EQ(testing::span_text(text, Rule::and_expr, 0),
              "exists (a:L)-[e:T]->(b:M) where b.x > 0 and a.y > 1 ");
}

// An expression ends after the skip that its last optional or repeated part
// began, unless that part matched: then it ends at its last token.
TEST(ParserExpressions, Spans) {
    const std::string rule_text = "rule r on m { where x > 1\n  => { } }";
    EXPECT_EQ(testing::span_text(rule_text, Rule::expr), "x > 1\n  ");
    const std::string flow_text = "flow f on m { metric x = q or p and z < y + x * a.b }";
    EXPECT_EQ(testing::span_text(flow_text, Rule::expr), "q or p and z < y + x * a.b");
}

TEST(ParserMetricPipelines, StepsAndArguments) {
    EXPECT_EQ(
        testing::subtree("flow f on m { metric x = nodes(P) |> where a > 1 |> sum(by = E[n.v]) |> "
                         "fold(step = s, init = 0, order_by = k) |> order_by(k) }",
                         Rule::metric_builder_expr),
        "metric_builder_expr [builder_start [kw_nodes_tok \"nodes\", label \"P\"], pipe_op "
        "\"|>\", builder_step > builder_where [kw_where_tok \"where\", expr > or_expr > and_expr "
        "> cmp_expr [add_expr > " +
            mul_operand("ident \"a\"") + ", op_cmp \">\", add_expr > " +
            mul_operand("number \"1\"") +
            "]], pipe_op \"|>\", builder_step > builder_sum [kw_sum_tok \"sum\", " +
            operand("e_bracket [ident \"n\", ident \"v\"]") +
            "], pipe_op \"|>\", builder_step > builder_fold [kw_fold_tok \"fold\", fold_args "
            "[fold_arg > " +
            operand("ident \"s\"") + ", fold_arg > " + operand("number \"0\"") + ", fold_arg > " +
            operand("ident \"k\"") +
            "]], pipe_op \"|>\", builder_step > builder_order [kw_order_by_tok \"order_by\", " +
            operand("ident \"k\"") + "]]");
    EXPECT_EQ(testing::span_text("flow f on m { metric x = nodes(P) |> fold(init = 0, step = s) }",
                                 Rule::fold_arg, 1),
              "step = s");
    for (const char* text :
         {"nodes(P) |> where x > 1", "nodes(P) |> fold(step = s, init = 0)",
          "nodes(P) |> fold(init = 0)", "nodes(P) |> sum( by = x )", "nodes(P) |> avg(by = x)",
          "nodes(P) |> where a > 1 |> where b > 2 |> count()", "nodes(P) |> sum(by = x) |> count()",
          "nodes ( P ) |>count( )"}) {
        EXPECT_TRUE(parses(metric(text))) << text;
    }
    for (const char* text : {"nodes(P) |> fold()", "nodes(P) |> fold(init = 0, step = s,)",
                             "nodes(P) |> sum(x)", "nodes(P) |> count(1)", "nodes(P) |> count",
                             "nodes(P) | > count()", "nodes(\"P\") |> count()"}) {
        EXPECT_FALSE(parses(metric(text))) << text;
    }
}

}  // namespace
}  // namespace morvane::frontend::parser
