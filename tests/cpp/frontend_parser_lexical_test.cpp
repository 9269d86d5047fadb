// Tokens, whitespace, comments and keywords, each from the rule that reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend_parser_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::parse_to_text;

struct Case {
    Rule start;
    std::string text;
    std::string expected;  // the tree, or "error: " and the error text
};

void run_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(parse_to_text(c.start, c.text), c.expected)
            << rule_name(c.start) << " on \"" << c.text << '"';
    }
}

// The error text for a failure at column `col` of a one-line text.
std::string error_at(const std::string& line, int col, const std::string& message) {
    return "error:  --> 1:" + std::to_string(col) + "\n  |\n1 | " + line + "\n  | " +
           std::string(col - 1, ' ') + "^---\n  |\n  = " + message;
}

TEST(ParserTokens, EachTokenTakesAsMuchAsMatches) {
    run_cases({
        {Rule::ident, "abc_1x", "ident \"abc_1x\""},
        {Rule::ident, "_", "ident \"_\""},
        {Rule::ident, "_1 x", "ident \"_1\""},
        {Rule::ident, "where", "ident \"where\""},
        {Rule::ident, "1a", error_at("1a", 1, "expected ident")},
        {Rule::ident, "éa", error_at("éa", 1, "expected ident")},
        {Rule::ident, "aé", "ident \"a\""},
        {Rule::label, "Person", "label \"Person\""},
        {Rule::number, "12.50", "number \"12.50\""},
        {Rule::number, "1.5.2", "number \"1.5\""},
        {Rule::number, "1.", "number \"1\""},
        {Rule::number, "1e5", "number \"1\""},
        {Rule::number, "007", "number \"007\""},
        {Rule::number, "-3.25", "number \"-3.25\""},
        {Rule::number, ".5", error_at(".5", 1, "expected number")},
        {Rule::number, "- 5", error_at("- 5", 1, "expected number")},
        {Rule::number, "+5", error_at("+5", 1, "expected number")},
        // The escaped quote is one item: the string runs on.
        {Rule::string, "\"a\\\"b\" x", "string \"\"a\\\"b\"\""},
        {Rule::string, "\"a\\\\\" x", "string \"\"a\\\\\"\""},
        {Rule::string, "\"a\\nb // c\n\tü\"", "string \"\"a\\nb // c\n\tü\"\""},
        {Rule::string, "\"abc\\\"", error_at("\"abc\\\"", 1, "expected string")},
    });
}

TEST(ParserTokens, WhitespaceAndCommentsSeparateTokens) {
    const std::string after_decl =
        "expected EOI, kw_schema_tok, kw_belief_model_tok, kw_evidence_tok, kw_rule_tok, or "
        "kw_flow_tok";
    run_cases({
        {Rule::program, "", "program > EOI \"\""},
        {Rule::program, " \t\r\n// c\n/* \" */ ", "program > EOI \"\""},
        {Rule::program, "schema/* c */A {}",
         "program [schema_decl [kw_schema_tok \"schema\", ident \"A\", block_schema \"{}\"], EOI "
         "\"\"]"},
        {Rule::program, "schema A {} // last line",
         "program [schema_decl [kw_schema_tok \"schema\", ident \"A\", block_schema \"{}\"], EOI "
         "\"\"]"},
        // Block comments do not nest.
        {Rule::program, "schema A {} /* a /* b */ c */",
         error_at("schema A {} /* a /* b */ c */", 26, after_decl)},
        // Form feed, vertical tab and no-break space are not whitespace.
        {Rule::program, "schema\fA {}", error_at("schema\fA {}", 7, "expected ident")},
        {Rule::program, "schema\vA {}", error_at("schema\vA {}", 7, "expected ident")},
        {Rule::program, "schema\u00a0A {}", error_at("schema\u00a0A {}", 7, "expected ident")},
    });
    const ParseResult result = CorventaParser::parse(Rule::program, "  // c\n");
    ASSERT_TRUE(result);
    const Pair program = *result.tree().pairs().peek();
    EXPECT_EQ(program.as_span(), (ByteSpan{0, 7}));
    EXPECT_EQ(program.into_inner().peek()->as_span(), (ByteSpan{7, 7}));
}

// Every keyword token matches its word as a whole word only, and its alias
// leaves the token's pair.
TEST(ParserKeywords, WholeWordsCaseSensitiveWithAliases) {
    size_t tokens = 0;
    for (size_t value = 0; value < kRuleCount; ++value) {
        const auto token = static_cast<Rule>(value);
        const std::string name(rule_name(token));
        if (!name.starts_with("kw_") || !name.ends_with("_tok")) continue;
        ++tokens;
        const std::string word = name.substr(3, name.size() - 7);
        const std::string pair = name + " \"" + word + "\"";
        EXPECT_EQ(parse_to_text(token, word), pair);
        EXPECT_EQ(parse_to_text(token, word + "(x"), pair);
        EXPECT_EQ(parse_to_text(token, word + "é"), pair);
        for (const char* tail : {"x", "Z", "0", "_"}) {
            EXPECT_EQ(parse_to_text(token, word + tail),
                      error_at(word + tail, 1, "expected " + name));
        }
        std::string upper = word;
        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
        EXPECT_EQ(parse_to_text(token, upper), error_at(upper, 1, "expected " + name));

        size_t alias = 0;
        while (alias < kRuleCount && rule_name(static_cast<Rule>(alias)) != "KW_" + word) ++alias;
        ASSERT_LT(alias, kRuleCount) << word;
        EXPECT_EQ(parse_to_text(static_cast<Rule>(alias), word), pair);
        // An error names the token, never the silent alias.
        EXPECT_EQ(parse_to_text(static_cast<Rule>(alias), word + "_"),
                  error_at(word + "_", 1, "expected " + name));
    }
    EXPECT_EQ(tokens, 54u);
}

TEST(ParserKeywords, KeywordsAreNotReserved) {
    run_cases({
        {Rule::program, "schemaA {}", error_at("schemaA {}", 1, "expected program")},
        {Rule::program, "schema rule { node edge { a: b } }",
         "program [schema_decl [kw_schema_tok \"schema\", ident \"rule\", block_schema > node_decl "
         "[kw_node_tok \"node\", ident \"edge\", attr_decl [ident \"a\", ident \"b\"]]], EOI \"\"]"},
        {Rule::expr, "not(x)",
         "expr > or_expr > and_expr > cmp_expr > add_expr > mul_expr > unary_expr [op_unary > "
         "kw_not_tok \"not\", unary_expr > postfix > paren_expr > expr > or_expr > and_expr > "
         "cmp_expr > add_expr > mul_expr > unary_expr > postfix > ident \"x\"]"},
        {Rule::expr, "nothing",
         "expr > or_expr > and_expr > cmp_expr > add_expr > mul_expr > unary_expr > postfix > "
         "ident \"nothing\""},
    });
}

// Any rule may start a parse: silent ones give the pairs of what they
// matched, and the text need not be consumed to its end.
TEST(ParserStartRules, AnyRuleMayStart) {
    run_cases({
        {Rule::decl, "schema A {}",
         "schema_decl [kw_schema_tok \"schema\", ident \"A\", block_schema \"{}\"]"},
        {Rule::boolean, "true", "kw_true_tok \"true\""},
        {Rule::ident, "abc def", "ident \"abc\""},
        {Rule::primary, "7", "primary > number \"7\""},
        {Rule::observe_target, "P[\"a\"].x = 1",
         "observe_target > attr_observe [node_ref [ident \"P\", node_ref_bracket > string "
         "\"\"a\"\"], ident \"x\", number \"1\"]"},
        // A brace in a comment is skipped with it; one in a string counts.
        {Rule::block, "{ a { b } \"{\" } /* } */ }", "block [block \"{ b }\", block \"{\" }\"]"},
    });
}

}  // namespace
}  // namespace morvane::frontend::parser
