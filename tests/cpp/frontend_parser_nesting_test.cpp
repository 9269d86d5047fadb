// Deep and long input: nesting is bounded by a clean error, repetition is a
// loop, and neither touches the machine stack. Every parse here runs on a
// thread with a 256 KiB stack, where a parser that recursed per level of
// input would crash.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "frontend/parser/corventa_parser.hpp"
#include "small_stack.hpp"

namespace morvane::frontend::parser {
namespace {

void run_on_small_stack(const std::function<void()>& body) {
    morvane::testing::run_on_stack_of(256 * 1024, body);
}

using morvane::testing::repeat;

std::string metric(const std::string& expression) {
    return "flow f on m { metric x = " + expression + " }";
}

TEST(ParserNesting, AThousandLevelsParse) {
    run_on_small_stack([] {
        const size_t n = 1000;
        for (const std::string& text : {
                 metric(repeat("(", n) + "1" + repeat(")", n)),
                 metric(repeat("f(", n) + "x" + repeat(")", n)),
                 metric(repeat("-", n) + "x"),
                 "rule r on m { where " + repeat("(", n) + "x" + repeat(")", n) + " }",
                 "rule r on m { where " + repeat("not ", n) + "x }",
             }) {
            const ParseResult result = CorventaParser::parse(Rule::program, text);
            EXPECT_TRUE(result) << text.substr(0, 60) << (result ? "" : result.error().text());
        }
        const std::string braces = repeat("{", 3000) + repeat("}", 3000);
        EXPECT_TRUE(CorventaParser::parse(Rule::block, braces));
    });
}

TEST(ParserNesting, FarDeeperInputIsRefusedCleanly) {
    run_on_small_stack([] {
        const size_t n = 100000;
        for (const std::string& text : {
                 metric(repeat("(", n) + "1" + repeat(")", n)),
                 metric(repeat("f(", n) + "x" + repeat(")", n)),
                 metric(repeat("- ", n) + "x"),
                 metric(repeat("exists (a:L)-[e:T]->(b:M) where ", n) + "x"),
                 "rule r on m { where " + repeat("not ", n) + "x }",
             }) {
            const ParseResult result = CorventaParser::parse(Rule::program, text);
            ASSERT_FALSE(result) << text.substr(0, 60);
            const Error& error = result.error();
            EXPECT_EQ(error.kind(), Error::Kind::NestingTooDeep);
            EXPECT_TRUE(error.expected().empty());
            EXPECT_GT(error.position(), 10u);
            EXPECT_LT(error.position(), text.size() / 2);
            const std::string& message = error.text();
            const std::string first_line = " --> 1:" + std::to_string(error.position() + 1);
            EXPECT_TRUE(message.starts_with(first_line + "\n")) << message.substr(0, 20);
            EXPECT_TRUE(message.ends_with(
                "\n  |\n  = nesting too deep (more than 12000 nested rules)"));
        }
        const ParseResult braces =
            CorventaParser::parse(Rule::block, repeat("{", n) + repeat("}", n));
        ASSERT_FALSE(braces);
        EXPECT_EQ(braces.error().kind(), Error::Kind::NestingTooDeep);
    });
}

// The limit counts rule calls, ten to a level of parentheses: 1,198 levels
// fit in a metric, the next one does not. The error points at the call that went too deep.
TEST(ParserNesting, TheLimitIsExact) {
    run_on_small_stack([] {
        const auto parens = [](size_t n) { return metric(repeat("(", n) + "1" + repeat(")", n)); };
        EXPECT_TRUE(CorventaParser::parse(Rule::program, parens(1198)));
        const ParseResult result = CorventaParser::parse(Rule::program, parens(1199));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind(), Error::Kind::NestingTooDeep);
        EXPECT_EQ(result.error().position(), 25u + 1199u);
    });
}

TEST(ParserNesting, LongFlatRepetitionsAreLoops) {
    run_on_small_stack([] {
        const size_t n = 200000;
        const auto chain = [&](std::string first, std::string_view unit) {
            return metric(first.append(repeat(unit, n)));
        };
        for (const std::string& text : {
                 chain("1", " + 1"),
                 chain("a", " and a"),
                 chain("x", ".a"),
                 chain("f", "(1)"),
                 repeat("schema A { node N { a: R } }\n", n / 10),
                 "evidence e on m { " + repeat("observe N[\"a\"].x = 1; ", n / 10) + "}",
                 "// " + repeat("comment ", n) + "\n" + repeat("/* c */ ", n),
             }) {
            const ParseResult result = CorventaParser::parse(Rule::program, text);
            EXPECT_TRUE(result) << text.substr(0, 40) << (result ? "" : result.error().text());
        }
    });
}

}  // namespace
}  // namespace morvane::frontend::parser
