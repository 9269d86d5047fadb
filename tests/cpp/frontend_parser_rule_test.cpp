// Rule declarations: clauses, one-line and node-iteration forms, actions.
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

std::string rule(const std::string& body) { return "rule R on M { " + body + " }"; }
std::string actions(const std::string& statements) {
    return rule("action { " + statements + " }");
}

std::string operand(const std::string& leaf) {
    return "expr > or_expr > and_expr > cmp_expr > add_expr > mul_expr > unary_expr > postfix > " +
           leaf;
}

const std::string kPattern =
    "pattern_item [ident \"a\", label \"L\", ident \"e\", ident \"T\", ident \"b\", label \"M\"]";
const std::string kClauses =
    "expected pattern_item, kw_for_tok, kw_pattern_tok, kw_where_tok, kw_action_tok, or "
    "kw_mode_tok";

TEST(ParserRuleDecls, ClausesAndForms) {
    struct Case {
        std::string text;
        Rule find;
        std::string tree;
    };
    const std::vector<Case> cases = {
        {"rule R on M {}", Rule::rule_decl,
         "rule_decl [kw_rule_tok \"rule\", ident \"R\", kw_on_tok \"on\", ident \"M\", rule_body "
         "\"\"]"},
        {rule("pattern (a : L) - /* c */ [ e:T ] -> ( b:M )"), Rule::pattern_clause,
         "pattern_clause [kw_pattern_tok \"pattern\", pattern_list > " + kPattern + "]"},
        {rule("(a:L)-[e:T]->(b:M) where x => { }"), Rule::sugar_rule,
         "sugar_rule [" + kPattern + ", kw_where_tok \"where\", " + operand("ident \"x\"") +
             ", action_block \"{ }\"]"},
        {rule("(a:L)-[e:T]->(b:M) => {}"), Rule::sugar_rule,
         "sugar_rule [" + kPattern + ", action_block \"{}\"]"},
        {rule("for (n: Node) => {}"), Rule::for_sugar,
         "for_sugar [kw_for_tok \"for\", ident \"n\", label \"Node\", action_block \"{}\"]"},
        {rule("where x => { delete e }"), Rule::where_clause,
         "where_clause [kw_where_tok \"where\", " + operand("ident \"x\"") +
             ", action_block > action_stmt > delete_stmt [kw_delete_tok \"delete\", ident \"e\"]]"},
        {rule("mode : fixpoint"), Rule::mode_clause,
         "mode_clause [kw_mode_tok \"mode\", ident \"fixpoint\"]"},
        {actions("let let = 1"), Rule::let_stmt,
         "let_stmt [kw_let_tok \"let\", ident \"let\", " + operand("number \"1\"") + "]"},
        {actions("delete.x ~= 1"), Rule::soft_update_stmt,
         "soft_update_stmt [node_attr [ident \"delete\", ident \"x\"], " +
             operand("number \"1\"") + "]"},
        {actions("non_bayesian_nudge n.v to 0.5"), Rule::nbnudge_stmt,
         "nbnudge_stmt [kw_non_bayesian_nudge_tok \"non_bayesian_nudge\", node_attr [ident \"n\", "
         "ident \"v\"], kw_to_tok \"to\", " +
             operand("number \"0.5\"") + "]"},
        {actions("non_bayesian_nudge n.v to 1 variance = preserve"), Rule::variance_clause,
         "variance_clause [kw_variance_tok \"variance\", kw_preserve_tok \"preserve\"]"},
        {actions("non_bayesian_nudge n.v to 1 variance = decrease(factor = 2)"),
         Rule::variance_clause,
         "variance_clause [kw_variance_tok \"variance\", decrease_clause [kw_decrease_tok "
         "\"decrease\", number \"2\"]]"},
        {actions("non_bayesian_nudge n.v to 1 variance = increase;"), Rule::variance_clause,
         "variance_clause [kw_variance_tok \"variance\", increase_clause > kw_increase_tok "
         "\"increase\"]"},
        // Settings in parentheses after a number are the statement's own...
        {actions("n.v ~= 0.8 (precision = 4, count = 2)"), Rule::soft_update_stmt,
         "soft_update_stmt [node_attr [ident \"n\", ident \"v\"], " + operand("number \"0.8\"") +
             ", soft_args [soft_arg > number \"4\", soft_arg > number \"2\"]]"},
        // ...but after a name they call it.
        {actions("n.v ~= x (precision = 4)"), Rule::soft_update_stmt,
         "soft_update_stmt [node_attr [ident \"n\", ident \"v\"], expr > or_expr > and_expr > "
         "cmp_expr > add_expr > mul_expr > unary_expr > postfix [ident \"x\", call_suffix > "
         "named_arg [ident \"precision\", " +
             operand("number \"4\"") + "]]]"},
        {actions("n.v ~= x precision = 4 count = 2"), Rule::soft_update_stmt,
         "soft_update_stmt [node_attr [ident \"n\", ident \"v\"], " + operand("ident \"x\"") +
             ", soft_arg > number \"4\", soft_arg > number \"2\"]"},
        {actions("n.v ~= 0.8 (precision = 4) count = 2"), Rule::soft_update_stmt,
         "soft_update_stmt [node_attr [ident \"n\", ident \"v\"], " + operand("number \"0.8\"") +
             ", soft_args > soft_arg > number \"4\", soft_arg > number \"2\"]"},
        {actions("n.v ~= x ()"), Rule::postfix, "postfix [ident \"x\", call_suffix \"()\"]"},
        {actions("delete e confidence = high"), Rule::delete_stmt,
         "delete_stmt [kw_delete_tok \"delete\", ident \"e\", delete_arg > ident \"high\"]"},
        {actions("delete e (confidence = high);"), Rule::delete_stmt,
         "delete_stmt [kw_delete_tok \"delete\", ident \"e\", delete_args > delete_arg > ident "
         "\"high\"]"},
        {actions("suppress e weight = 3"), Rule::suppress_stmt,
         "suppress_stmt [kw_suppress_tok \"suppress\", ident \"e\", suppress_arg > number \"3\"]"},
        {actions("suppress e (weight = 3)"), Rule::suppress_stmt,
         "suppress_stmt [kw_suppress_tok \"suppress\", ident \"e\", suppress_args > suppress_arg > "
         "number \"3\"]"},
        {actions("let x = 1 let y = 2; delete e"), Rule::action_block,
         "action_block [action_stmt > let_stmt [kw_let_tok \"let\", ident \"x\", " +
             operand("number \"1\"") +
             "], action_stmt > let_stmt [kw_let_tok \"let\", ident \"y\", " +
             operand("number \"2\"") +
             "], action_stmt > delete_stmt [kw_delete_tok \"delete\", ident \"e\"]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(subtree(c.text, c.find), c.tree) << c.text;
    // Clauses in any order and number, comments between them.
    const ParseResult result = CorventaParser::parse(
        Rule::program, rule("mode: m action {} pattern (a:L)-[e:T]->(b:M), (a:L)-[e:T]->(b:M) "
                            "/* c */ action {} where x where y pattern (a:L)-[e:T]->(b:M) /* end */"));
    ASSERT_TRUE(result);
    std::vector<Rule> clauses;
    for (const Pair& clause : testing::find_pair(result.tree(), Rule::rule_body)->into_inner()) {
        clauses.push_back(clause.as_rule());
    }
    EXPECT_EQ(clauses, (std::vector<Rule>{Rule::mode_clause, Rule::action_clause,
                                          Rule::pattern_clause, Rule::action_clause,
                                          Rule::where_clause, Rule::where_clause,
                                          Rule::pattern_clause}));
}

TEST(ParserRuleDecls, RefusedForms) {
    const std::string head = "rule R on M { ";
    const std::string act = head + "action { ";
    for (const ErrorAt& c : std::vector<ErrorAt>{
             {head + "@foo }", kClauses},
             {head + "mode: m@; }", kClauses},
             {head + "@(a:L)-[e:T]- >(b:M) => {} }", kClauses},
             // The mode clause failed after its keyword: it names itself.
             {head + "@mode = fixpoint }",
              "expected pattern_item, mode_clause, kw_for_tok, kw_pattern_tok, kw_where_tok, or "
              "kw_action_tok"},
             {head + "mode: @\"fixpoint\" }", "expected ident"},
             {act + "@foo } }", "expected action_stmt"},
             {act + "let x = 1;@; } }", "expected action_stmt"},
             {head + "(a:L)-[e:T]->(b:M) @{ } }", "expected kw_where_tok"},
             {head + "for (n: N) @{ } }", "expected kw_where_tok"},
             {act + "non_bayesian_nudge n.v to 1 variance = @Preserve } }",
              "expected kw_preserve_tok, kw_increase_tok, or kw_decrease_tok"},
             {act + "non_bayesian_nudge n.v to 1 variance = increase(factor = @x) } }",
              "expected number"},
             {act + "non_bayesian_nudge n.v to 1 variance = increase @( ) } }", ""},
             {head + "(a:@\"L\")-[e:T]->(b:M) => {} }", "expected label"},
             {head + "(@\"a\":L)-[e:T]->(b:M) => {} }", "expected ident"},
             {act + "delete e confidence = @\"high\" } }", "expected ident"},
             {head + "where x => @mode: m }", "expected action_block"},
             {head + "pattern (a:L)-[e:T]->(b:M), @}", "expected pattern_item"},
             {act + "n.v ~= 0.8 (@) } }", "expected soft_arg"},
             {act + "delete e (@) } }", "expected delete_arg"},
             {act + "suppress e @(weight = 3, weight = 4) } }",
              "expected action_stmt, suppress_args, or suppress_arg"},
         }) {
        expect_error_at(c);
    }
}

// Statements and clauses that end in an absent optional part take the
// whitespace and comments after them; with the part present they end at it.
TEST(ParserRuleDecls, Spans) {
    const std::string statements = actions("let x = 1 // c\n    let y = 2;  delete e");
    EXPECT_EQ(span_text(statements, Rule::let_stmt, 0), "let x = 1 // c\n    ");
    EXPECT_EQ(span_text(statements, Rule::action_stmt, 0), "let x = 1 // c\n    ");
    EXPECT_EQ(span_text(statements, Rule::let_stmt, 1), "let y = 2;");
    EXPECT_EQ(span_text(statements, Rule::delete_stmt), "delete e ");
    EXPECT_EQ(span_text(rule("where x > 0 action {}"), Rule::where_clause), "where x > 0 ");
    EXPECT_EQ(span_text(rule("pattern (a:L)-[e:T]->(b:M) mode: m"), Rule::pattern_list),
              "(a:L)-[e:T]->(b:M) ");
    EXPECT_EQ(span_text(rule("pattern (a:L)-[e:T]->(b:M), (a:L)-[e:T]->(b:M) mode: m"),
                        Rule::pattern_list),
              "(a:L)-[e:T]->(b:M), (a:L)-[e:T]->(b:M)");
    EXPECT_EQ(span_text(actions("non_bayesian_nudge n.v to 1 variance = increase"),
                        Rule::increase_clause),
              "increase ");
    EXPECT_EQ(span_text(actions("n.v ~= 1 precision /* c */ = 2"), Rule::soft_arg),
              "precision /* c */ = 2");
    const std::string empty = "rule R on M {  }";
    const ParseResult result = CorventaParser::parse(Rule::program, empty);
    ASSERT_TRUE(result);
    EXPECT_EQ(testing::find_pair(result.tree(), Rule::rule_body)->as_span(), (ByteSpan{15, 15}));
}

}  // namespace
}  // namespace morvane::frontend::parser
