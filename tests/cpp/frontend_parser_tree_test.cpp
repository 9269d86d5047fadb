// The parse tree's handles: walking, cursors, large pairs and ownership.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"

namespace morvane::frontend::parser {
namespace {

std::vector<Rule> rules_of(const Pairs& pairs) {
    std::vector<Rule> rules;
    for (const Pair& pair : pairs) rules.push_back(pair.as_rule());
    return rules;
}

TEST(ParserTree, PairsIsARangeAndACursor) {
    const std::string text = "schema A {} flow f on m {} schema B {}";
    const ParseResult result = CorventaParser::parse(Rule::program, text);
    ASSERT_TRUE(result);
    Pairs decls = result.tree().pairs().peek()->into_inner();
    EXPECT_EQ(decls.size(), 4u);
    EXPECT_EQ(rules_of(decls), (std::vector<Rule>{Rule::schema_decl, Rule::flow_decl,
                                                  Rule::schema_decl, Rule::EOI}));
    EXPECT_EQ(decls.last()->as_rule(), Rule::EOI);
    EXPECT_EQ(decls.peek()->as_str(), "schema A {}");
    EXPECT_EQ(decls.next()->as_str(), "schema A {}");
    EXPECT_EQ(decls.next()->as_str(), "flow f on m {}");
    EXPECT_EQ(decls.size(), 2u);
    Pairs inner = decls.next()->into_inner();
    EXPECT_EQ(inner.next()->as_rule(), Rule::kw_schema_tok);
    EXPECT_EQ(inner.next()->as_str(), "B");
    const Pair body = *inner.next();
    EXPECT_EQ(body.as_span(), (ByteSpan{36, 38}));
    EXPECT_TRUE(body.into_inner().empty());
    EXPECT_FALSE(inner.next());
    EXPECT_EQ(decls.next()->as_rule(), Rule::EOI);
    EXPECT_FALSE(decls.next());
    EXPECT_FALSE(decls.peek());
    EXPECT_FALSE(decls.last());
}

// Pairs longer than 4 KiB or with more than 4095 pairs below them are kept
// apart from the packed records; they must read back the same.
TEST(ParserTree, LargePairsReadBackWhole) {
    std::string text = "schema Big { node N {";
    const int attributes = 5000;
    for (int i = 0; i < attributes; ++i) text += " a" + std::to_string(i) + ": Real;";
    text += " } edge E {} }\nschema Small {}";
    const ParseResult result = CorventaParser::parse(Rule::program, text);
    ASSERT_TRUE(result);
    Pairs decls = result.tree().pairs().peek()->into_inner();
    const Pair big = *decls.next();
    EXPECT_EQ(big.as_str(), text.substr(0, text.find('\n')));
    Pairs parts = big.into_inner();
    parts.next();
    parts.next();
    const Pair block = *parts.next();
    Pairs members = block.into_inner();
    const Pair node = *members.next();
    EXPECT_EQ(node.into_inner().size(), 2u + attributes);
    EXPECT_EQ(node.into_inner().last()->as_str(), "a4999: Real;");
    EXPECT_EQ(members.next()->as_str(), "edge E {}");
    EXPECT_EQ(decls.next()->as_str(), "schema Small {}");
    // program; Big's four; the node's three; three per attribute; the
    // edge's three; Small's four; EOI.
    EXPECT_EQ(result.tree().pair_count(), 1u + 4u + 3u + 3u * attributes + 3u + 4u + 1u);
}

TEST(ParserTree, HandlesOutliveMovesOfTheTree) {
    const std::string text = "schema A { node X { a: Real } }";
    ParseResult result = CorventaParser::parse(Rule::program, text);
    ASSERT_TRUE(result);
    const Pair program = *result.tree().pairs().peek();
    ParseTree tree = std::move(result).tree();
    ParseTree moved = std::move(tree);
    EXPECT_EQ(program.as_str(), text);
    EXPECT_EQ(program.into_inner().peek()->as_rule(), Rule::schema_decl);
    EXPECT_EQ(moved.pairs().peek()->as_span(), program.as_span());
    EXPECT_EQ(moved.text(), text);
}

}  // namespace
}  // namespace morvane::frontend::parser
