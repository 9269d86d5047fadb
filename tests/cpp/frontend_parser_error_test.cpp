// Positions and the six-line text of parse errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_error.hpp"

namespace morvane::frontend::parser {
namespace {

constexpr const char* kAfterDecl =
    "expected EOI, kw_schema_tok, kw_belief_model_tok, kw_evidence_tok, kw_rule_tok, or "
    "kw_flow_tok";

TEST(ParserLineCol, CountsLinesByLineFeedAndColumnsByCharacter) {
    struct Case {
        const char* text;
        size_t offset;
        LineCol expected;
    };
    const std::vector<Case> cases = {
        {"", 0, {1, 1}},
        {"abc", 3, {1, 4}},
        {"a\nb", 2, {2, 1}},
        {"a\r\nb", 3, {2, 1}},       // CR LF ends one line
        {"a\r\nb", 2, {1, 3}},       // the CR itself is still on line 1
        {"a\rb", 2, {1, 3}},         // a lone CR is one column
        {"\t\tx", 2, {1, 3}},        // a tab is one column
        {"ü€😀x", 9, {1, 4}},  // 2, 3 and 4 bytes, one column each
        {"x\n\n\n\n\n\n\n\n\n\n\ny", 12, {12, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(line_col(c.text, c.offset), c.expected) << '"' << c.text << "\" @" << c.offset;
    }
}

struct ErrorCase {
    std::string text;
    std::string expected;
};

void expect_errors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        const ParseResult result = CorventaParser::parse(Rule::program, c.text);
        ASSERT_FALSE(result) << c.text;
        EXPECT_EQ(result.error().text(), c.expected) << c.text;
    }
}

TEST(ParserErrorText, SixLinesAtTheFurthestFailure) {
    const std::string after_decl = std::string("  = ") + kAfterDecl;
    expect_errors({
        {"hello", " --> 1:1\n  |\n1 | hello\n  | ^---\n  |\n  = expected program"},
        {"\nhello", " --> 2:1\n  |\n2 | hello\n  | ^---\n  |\n" + after_decl},
        {"// note\nhello", " --> 2:1\n  |\n2 | hello\n  | ^---\n  |\n" + after_decl},
        {"schema A {}\nfoo", " --> 2:1\n  |\n2 | foo\n  | ^---\n  |\n" + after_decl},
        {"schema", " --> 1:7\n  |\n1 | schema\n  |       ^---\n  |\n  = expected ident"},
        {"schema A {\n  node X {\n    a: Real\n  }\n",
         " --> 5:1\n  |\n5 | \n  | ^---\n  |\n  = expected kw_node_tok or kw_edge_tok"},
        {"schema A {\n  node X {\n    a: Real\n  }",
         " --> 4:4\n  |\n4 |   }\n  |    ^---\n  |\n  = expected kw_node_tok or kw_edge_tok"},
        {"schema A { node X { a: } }",
         " --> 1:24\n  |\n1 | schema A { node X { a: } }\n  |                        ^---\n  |\n"
         "  = expected ident"},
        {"schema A { node X { a Real } }",
         " --> 1:21\n  |\n1 | schema A { node X { a Real } }\n  |                     ^---\n  |\n"
         "  = expected attr_decl"},
        {"schema A {\n\tnodes X {}\n}",
         " --> 2:2\n  |\n2 | \tnodes X {}\n  | \t^---\n  |\n"
         "  = expected kw_node_tok or kw_edge_tok"},
        {"/* ü */ foo", " --> 1:9\n  |\n1 | /* ü */ foo\n  |         ^---\n  |\n" + after_decl},
        {"schema A {} /* open",
         " --> 1:13\n  |\n1 | schema A {} /* open\n  |             ^---\n  |\n" + after_decl},
    });
}

// Line ends, lone carriage returns, tabs and wide characters before the
// error position; and a line number of two digits widening the gutter.
TEST(ParserErrorText, ShownLineAndUnderline) {
    expect_errors({
        {"schema A {\r\n  node X {\r\n    a: \r\n  }\r\n}\r\n",
         " --> 4:3\n  |\n4 |   }\n  |   ^---\n  |\n  = expected ident"},
        // The lone CR counts as a column but is not shown, so the caret
        // stands one place to the right.
        {"schema A {\r\tnode X { a: }\r}",
         " --> 1:25\n  |\n1 | schema A {\tnode X { a: }}\n  | " + std::string(10, ' ') + "\t" +
             std::string(13, ' ') + "^---\n  |\n  = expected ident"},
        {"schema é", " --> 1:8\n  |\n1 | schema é\n  |        ^---\n  |\n  = expected ident"},
        {"schema \"ü€\" {}",
         " --> 1:8\n  |\n1 | schema \"ü€\" {}\n  |        ^---\n  |\n  = expected ident"},
        {"/* ü€😀 */\t\tbad",
         " --> 1:12\n  |\n1 | /* ü€😀 */\t\tbad\n  |          \t\t^---\n  |\n" +
             std::string("  = ") + kAfterDecl},
        {std::string(11, '\n') + "schema A {\n  nodes X {}\n}",
         "  --> 13:3\n   |\n13 |   nodes X {}\n   |   ^---\n   |\n"
         "   = expected kw_node_tok or kw_edge_tok"},
    });
}

TEST(ParserErrorText, ExpectedListOfOneTwoAndMoreRules) {
    const std::vector<std::string_view> names = {"a", "b", "c", "d"};
    const auto a = static_cast<Rule>(0);
    const auto b = static_cast<Rule>(1);
    const auto c = static_cast<Rule>(2);
    const auto d = static_cast<Rule>(3);
    EXPECT_EQ(expected_message({a}, names), "expected a");
    EXPECT_EQ(expected_message({a, b}, names), "expected a or b");
    EXPECT_EQ(expected_message({a, b, c}, names), "expected a, b, or c");
    EXPECT_EQ(expected_message({a, b, c, d}, names), "expected a, b, c, or d");
}

TEST(ParserErrorText, ErrorValueCarriesItsParts) {
    const ParseResult result = CorventaParser::parse(Rule::program, "schema A {}\r\n  ; x");
    ASSERT_FALSE(result);
    const Error& error = result.error();
    EXPECT_EQ(error.kind(), Error::Kind::ParsingError);
    EXPECT_EQ(error.position(), 15u);
    EXPECT_EQ(error.line_col(), (LineCol{2, 3}));
    EXPECT_EQ(error.line(), "  ; x");
    EXPECT_EQ(error.message(), kAfterDecl);
    const std::vector<Rule> expected = {Rule::EOI,         Rule::kw_schema_tok,
                                        Rule::kw_belief_model_tok, Rule::kw_evidence_tok,
                                        Rule::kw_rule_tok, Rule::kw_flow_tok};
    EXPECT_EQ(error.expected(), expected);
}

}  // namespace
}  // namespace morvane::frontend::parser
