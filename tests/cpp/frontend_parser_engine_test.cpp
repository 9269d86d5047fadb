// The grammar engine on small grammars of its own: matching, skipping,
// pairs, error tracking, depth and malformed grammars.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/parser/peg.hpp"
#include "frontend/support/panic.hpp"
#include "frontend_parser_test_support.hpp"
#include "small_stack.hpp"

namespace morvane::frontend::parser::peg {
namespace {

using parser::testing::render;
using parser::testing::RuleNames;
using morvane::testing::repeat;

// A test grammar: rules are numbered in the order given.
struct TestGrammar {
    RuleNames names;
    Grammar grammar;

    TestGrammar(std::vector<RuleInfo> rules, std::string_view notation,
                uint32_t max_depth = Grammar::kDefaultMaxDepth)
        : names(names_of(rules)), grammar(rules, notation, max_depth) {}

    static RuleNames names_of(const std::vector<RuleInfo>& rules) {
        RuleNames names;
        for (const RuleInfo& rule : rules) names.push_back(rule.name);
        return names;
    }

    uint8_t id(std::string_view name) const {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return static_cast<uint8_t>(i);
        }
        ADD_FAILURE() << "no rule " << name;
        return 0;
    }

    // The tree, or "error L:C message".
    std::string parse(std::string_view start, std::string_view text) const {
        const ParseResult result = grammar.parse(id(start), text);
        if (!result) {
            const Error& error = result.error();
            return "error " + std::to_string(error.line_col().line) + ":" +
                   std::to_string(error.line_col().column) + " " + error.message();
        }
        return render(result.tree().pairs(), names);
    }
};

constexpr RuleKind N = RuleKind::Normal;
constexpr RuleKind A = RuleKind::Atomic;
constexpr RuleKind S = RuleKind::Silent;

struct Case {
    const char* start;
    const char* text;
    const char* expected;
};

void run_cases(const TestGrammar& g, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(g.parse(c.start, c.text), c.expected) << c.start << " on \"" << c.text << '"';
    }
}

TEST(PegEngine, MatchesTerminals) {
    const TestGrammar g({{"EOI", N},
                         {"escapes", N},
                         {"greek", N},
                         {"two", N},
                         {"at_start", N},
                         {"not_at_start", N},
                         {"keyword", A},
                         {"first_choice", N},
                         {"whole", N}},
                        R"(
escapes = "\"\\\t\r\n"
greek = "α".."ω"
two = ANY ~ ANY
at_start = SOI ~ "a"
not_at_start = "a" ~ SOI
keyword = "if" ~ !("a".."z")
first_choice = ("a" | "ab") ~ "c"
whole = "x" ~ EOI
)");
    run_cases(g, {
                     {"escapes", "\"\\\t\r\n", "escapes \"\"\\\t\r\n\""},
                     {"greek", "βx", "greek \"β\""},
                     {"greek", "a", "error 1:1 expected greek"},
                     {"greek", "", "error 1:1 expected greek"},
                     {"two", "ü!?", "two \"ü!\""},
                     {"two", "ü", "error 1:1 expected two"},
                     {"at_start", "a", "at_start \"a\""},
                     {"not_at_start", "a", "error 1:1 expected not_at_start"},
                     {"keyword", "if(", "keyword \"if\""},
                     {"keyword", "ifx", "error 1:1 expected keyword"},
                     // An ordered choice is final: "a" wins and "c" then fails.
                     {"first_choice", "abc", "error 1:1 expected first_choice"},
                     {"first_choice", "ac", "first_choice \"ac\""},
                     {"whole", "x", "whole > EOI \"\""},
                 });
}

// Skips run between sequence elements and before repetition steps after the
// first; what an absent optional or repeated element skipped stays consumed.
TEST(PegEngine, SkipsAndSpans) {
    const TestGrammar g({{"EOI", N},
                         {"WHITESPACE", S},
                         {"COMMENT", S},
                         {"item", N},
                         {"pair", N},
                         {"optional_tail", N},
                         {"several", N},
                         {"tight", A},
                         {"list", N}},
                        R"(
WHITESPACE = " "+
COMMENT = "#" ~ (!"\n" ~ ANY)* ~ "\n"
item = "i"
pair = item ~ item
optional_tail = item ~ "x"?
several = item+
tight = "a" ~ "b"
list = "[" ~ (item ~ ("," ~ item)*)? ~ "]"
)");
    run_cases(g, {
                     {"pair", "i #c\n  i", "pair [item \"i\", item \"i\"]"},
                     {"optional_tail", "i  ;", "optional_tail > item \"i\""},
                     {"tight", "a b", "error 1:1 expected tight"},
                     {"list", "[ i , i ]", "list [item \"i\", item \"i\"]"},
                     {"list", "[i,]", "error 1:4 expected item"},
                 });
    struct SpanCase {
        const char* start;
        const char* text;
        const char* span;
    };
    for (const SpanCase& c : std::vector<SpanCase>{
             {"optional_tail", "i  ;", "i  "},
             {"optional_tail", "i #c\n;", "i #c\n"},
             {"optional_tail", "i x ;", "i x"},
             {"several", "i  ;", "i  "},
             {"several", "i i  ;", "i i"},
             {"pair", "i i  ", "i i"},
         }) {
        const ParseResult result = g.grammar.parse(g.id(c.start), c.text);
        ASSERT_TRUE(result) << c.text;
        EXPECT_EQ(result.tree().pairs().peek()->as_str(), c.span) << c.start << " " << c.text;
    }
}

TEST(PegEngine, PairsOnlyFromWhatFinallyMatched) {
    const TestGrammar g({{"EOI", N},
                         {"inner", N},
                         {"retried", N},
                         {"token", A},
                         {"looking", N},
                         {"hidden", S},
                         {"group", N}},
                        R"(
inner = "i"
retried = inner ~ "x" | inner ~ "y"
token = inner ~ "z"
looking = !(inner ~ "x") ~ inner
hidden = inner ~ inner
group = hidden ~ hidden
)");
    run_cases(g, {
                     // The first alternative's pair is dropped with it.
                     {"retried", "iy", "retried > inner \"i\""},
                     // Atomic rules leave their own pair, nothing inside.
                     {"token", "iz", "token \"iz\""},
                     // Nothing inside a lookahead leaves a pair.
                     {"looking", "iy", "looking > inner \"i\""},
                     // Silent rules give their pairs to the caller, or to the
                     // top when they are the start rule.
                     {"group", "iiii",
                      "group [inner \"i\", inner \"i\", inner \"i\", inner \"i\"]"},
                     {"hidden", "ii", "inner \"i\", inner \"i\""},
                 });
}

TEST(PegEngine, TracksTheFurthestFailure) {
    const TestGrammar g({{"EOI", N},
                         {"a", N},
                         {"b", N},
                         {"one_entry", N},
                         {"two_entries", N},
                         {"literals_only", N},
                         {"further", N},
                         {"broke_off", N},
                         {"twice", N},
                         {"atomic_outer", A},
                         {"look_then", N},
                         {"silent_choice", S},
                         {"over_silent", N},
                         {"silent_literal", S},
                         {"ab", N}},
                        R"(
a = "x"
b = "y"
one_entry = a
two_entries = a | b
literals_only = "x"
further = a ~ b
broke_off = ab
twice = "q" ~ (b ~ "1" | a | b)
atomic_outer = a
look_then = !a ~ b
silent_choice = a | b
over_silent = silent_choice
silent_literal = "x"
ab = "x" ~ "y"
)");
    run_cases(g, {
                     // Exactly one entry made at the rule's start stands for it.
                     {"one_entry", "z", "error 1:1 expected a"},
                     // Two or more are replaced by the rule itself.
                     {"two_entries", "z", "error 1:1 expected two_entries"},
                     {"literals_only", "z", "error 1:1 expected literals_only"},
                     {"further", "xz", "error 1:2 expected b"},
                     // Recorded where the rule started, not where it broke off.
                     {"broke_off", "xz", "error 1:1 expected ab"},
                     // Listed once, ascending by rule value.
                     {"twice", "qz", "error 1:2 expected a or b"},
                     // Nothing inside an atomic rule or a lookahead is tracked.
                     {"atomic_outer", "z", "error 1:1 expected atomic_outer"},
                     {"look_then", "z", "error 1:1 expected b"},
                     {"over_silent", "z", "error 1:1 expected over_silent"},
                     // A silent start rule with nothing tracked below stands
                     // for itself.
                     {"silent_literal", "z", "error 1:1 expected silent_literal"},
                 });
}

TEST(PegEngine, RefusesNestingBeyondTheLimit) {
    const TestGrammar g({{"EOI", N}, {"nest", N}}, R"g(nest = "(" ~ nest ~ ")" | "x")g", 10);
    EXPECT_EQ(g.parse("nest", "(((x)))"), "nest > nest > nest > nest \"x\"");
    const std::string deep = std::string(12, '(') + "x" + std::string(12, ')');
    const ParseResult result = g.grammar.parse(g.id("nest"), deep);
    ASSERT_FALSE(result);
    const Error& error = result.error();
    EXPECT_EQ(error.kind(), Error::Kind::NestingTooDeep);
    EXPECT_TRUE(error.expected().empty());
    EXPECT_EQ(error.position(), 10u);
    EXPECT_EQ(error.text(),
              " --> 1:11\n  |\n1 | ((((((((((((x))))))))))))\n  |           ^---\n  |\n"
              "  = nesting too deep (more than 10 nested rules)");
}

// An operand that ends in a postfix makes the enclosing postfix retry its
// suffix where the inner one failed: without a memo each level of nesting
// doubles the work. Memoising the suffix must change nothing but the time:
// trees, errors and the nesting limit stay exactly as they were.
TEST(PegEngine, MemoisingChangesOnlyTheTime) {
    const auto grammar = [](bool memoised, uint32_t max_depth) {
        return TestGrammar({{"EOI", N},
                            {"WHITESPACE", S},
                            {"COMMENT", S},
                            {"post", N},
                            {"operand", S},
                            {"suffix", N, memoised},
                            {"word", A},
                            {"whole", N}},
                           R"g(
WHITESPACE = " "+
COMMENT = "/*" ~ (!"*/" ~ ANY)* ~ "*/"
post = operand ~ suffix*
operand = "e" ~ post | word
suffix = "(" ~ post ~ ")"
word = "f"
whole = post ~ EOI
)g",
                           max_depth);
    };
    std::vector<std::string> texts;
    for (size_t k = 0; k <= 5; ++k) {
        const std::string open = repeat("ef(", k);
        const std::string close(k, ')');
        for (const char* inner : {"", "f", "f f", "f /* c */", "f /* c", "e"}) {
            texts.push_back(open + inner);
            texts.push_back(open + inner + close);
            texts.push_back(open + inner + close.substr(0, k / 2) + "]" + close.substr(k / 2));
        }
    }
    for (const uint32_t max_depth : {Grammar::kDefaultMaxDepth, 5u, 8u, 12u}) {
        const TestGrammar plain = grammar(false, max_depth);
        const TestGrammar memo = grammar(true, max_depth);
        for (const std::string& text : texts) {
            EXPECT_EQ(memo.parse("whole", text), plain.parse("whole", text)) << text;
        }
    }
    const TestGrammar memo = grammar(true, Grammar::kDefaultMaxDepth);
    EXPECT_EQ(memo.parse("whole", repeat("ef(", 100)), "error 1:301 expected word");
}

// A remembered failure stands for a run of its rule only with all the run's
// effects: the entries it adds to the expected list (two entries where one
// would stand for the enclosing rule), and the nesting it needs (a replay
// deeper down the stack than the first run may go too deep).
TEST(PegEngine, ReplayedFailuresHaveTheRunsEffects) {
    const auto grammar = [](bool memoised, uint32_t max_depth) {
        return TestGrammar({{"EOI", N},
                            {"twice", N},
                            {"deeper", N},
                            {"nest", N},
                            {"more", N},
                            {"tail", N, memoised}},
                           R"(
twice = tail ~ "1" | tail ~ "2"
deeper = tail ~ "1" | nest
nest = more
more = tail ~ "2"
tail = "x" ~ "z"
)",
                           max_depth);
    };
    for (const uint32_t max_depth : {Grammar::kDefaultMaxDepth, 3u}) {
        const TestGrammar plain = grammar(false, max_depth);
        const TestGrammar memo = grammar(true, max_depth);
        for (const char* start : {"twice", "deeper"}) {
            for (const char* text : {"y", "xy", "xz1", "xz2"}) {
                EXPECT_EQ(memo.parse(start, text), plain.parse(start, text))
                    << start << " " << text;
            }
        }
    }
}

TEST(PegEngine, RefusesMalformedGrammars) {
    struct Bad {
        std::vector<RuleInfo> rules;
        const char* notation;
        const char* message;
    };
    const std::vector<RuleInfo> two = {{"EOI", N}, {"a", N}};
    const std::vector<RuleInfo> three = {{"EOI", N}, {"a", N}, {"b", N}};
    const std::vector<Bad> cases = {
        {two, "a = b", "grammar notation: unknown rule 'b' at column 6 of: a = b"},
        {two, "a = \"x\"\na = \"y\"", "grammar: rule 'a' is written twice"},
        {three, "a = \"x\"", "grammar: rule 'b' is not written"},
        {two, "a = \"x\"\nEOI = \"y\"", "grammar: EOI is built in and cannot be written"},
        {two, "a = \"x\"?*", "grammar: rule 'a' repeats an element that can match nothing"},
        {three, "a = b? ~ \"x\"\nb = \"y\"? ~ a", "grammar: rule 'a' is left-recursive"},
        {two, "a = (\"x\"", "grammar notation: expected ')' at column 9 of: a = (\"x\""},
        {two, "a = \"x\".. \"yz\"",
         "grammar notation: a range bound must be one character at column 15 of: "
         "a = \"x\".. \"yz\""},
    };
    for (const Bad& bad : cases) {
        try {
            Grammar grammar(bad.rules, bad.notation);
            ADD_FAILURE() << "accepted: " << bad.notation;
        } catch (const support::Panic& panic) {
            EXPECT_EQ(panic.message(), bad.message);
        }
    }
}

}  // namespace
}  // namespace morvane::frontend::parser::peg
