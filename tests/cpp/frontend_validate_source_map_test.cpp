// The source map: which parse pairs are recorded for which tree position,
// and how byte ranges become lines and columns.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_error.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/validate/source_map.hpp"

namespace morvane::frontend::validate {
namespace {

using parser::CorventaParser;
using parser::ParseResult;
using parser::Rule;

// Keeps the parse alive beside the map built from it.
struct Mapped {
    ParseResult parsed;
    ValidationSourceMap map;
};

Mapped map_of(const std::string& source) {
    ParseResult parsed = CorventaParser::parse(Rule::program, source);
    if (!parsed) {
        ADD_FAILURE() << parsed.error().text();
        return {std::move(parsed), ValidationSourceMap(source)};
    }
    ValidationSourceMap map = collect_source_map(parsed.tree());
    return {std::move(parsed), std::move(map)};
}

// "l:c-l:c `covered text`", or "none".
std::string show(const std::string& source, const ValidationSourceMap& map,
                 std::optional<ByteSpan> bytes) {
    if (!bytes) return "none";
    const SourceSpan s = map.resolve(*bytes);
    return support::fill("{}:{}-{}:{} `{}`", s.start_line, s.start_col, s.end_line, s.end_col,
                         source.substr(bytes->start, bytes->end - bytes->start));
}

TEST(ValidateSourceMap, PositionsCountCharactersAndLineEnds) {
    // Each case: text, byte range, expected position.
    struct Case {
        std::string text;
        ByteSpan bytes;
        SourceSpan expected;
    };
    const std::vector<Case> cases = {
        {"abc", {0, 3}, {1, 1, 1, 4}},
        {"a\nbc", {2, 4}, {2, 1, 2, 3}},
        {"a\r\nbc", {3, 5}, {2, 1, 2, 3}},         // CR LF is one line end
        {"a\rbc", {2, 4}, {1, 3, 1, 5}},           // a lone CR is a column
        {"\xC3\xBC\xE2\x82\xAC" "ab", {5, 7}, {1, 3, 1, 5}},  // two bytes, three bytes: one column each
        {"x\ny\nz", {0, 5}, {1, 1, 3, 2}},
        {"x", {1, 1}, {1, 2, 1, 2}},
    };
    for (const Case& c : cases) {
        const ValidationSourceMap map(c.text);
        EXPECT_EQ(map.resolve(c.bytes), c.expected) << c.text;
        const parser::LineCol start = parser::line_col(c.text, c.bytes.start);
        const parser::LineCol end = parser::line_col(c.text, c.bytes.end);
        EXPECT_EQ(map.resolve(c.bytes), (SourceSpan{start.line, start.column, end.line, end.column}))
            << "agrees with parse-error positions: " << c.text;
    }
}

TEST(ValidateSourceMap, DeclarationsAreCountedPerKindInSourceOrder) {
    const std::string source =
        "schema S { node A { x: Real } edge E {} }\n"
        "belief_model M1 on S { }\n"
        "rule R1 on M1 { }\n"
        "  belief_model M2 on S {\n"
        "    node A { x ~ Gaussian(mean = 0) }\n"
        "  }  // trailing comment\n"
        "evidence V on M2 { }\n"
        "flow F on M2 { }\n";
    const Mapped m = map_of(source);
    ASSERT_EQ(m.map.belief_models.size(), 2u);
    EXPECT_EQ(show(source, m.map, m.map.belief_model(0)), "2:1-2:25 `belief_model M1 on S { }`");
    EXPECT_EQ(show(source, m.map, m.map.belief_model(1)),
              "4:3-6:4 `belief_model M2 on S {\n    node A { x ~ Gaussian(mean = 0) }\n  }`");
    EXPECT_EQ(show(source, m.map, m.map.evidence(0)), "7:1-7:21 `evidence V on M2 { }`");
    EXPECT_EQ(m.map.rules.size(), 1u);
    EXPECT_EQ(m.map.flows.size(), 1u);
    EXPECT_EQ(m.map.belief_model(2), std::nullopt);
    EXPECT_EQ(m.map.rule_action(0, 0), std::nullopt);
    EXPECT_EQ(m.map.rule_where(0), std::nullopt);
    EXPECT_EQ(m.map.flow_metric(1, 0), std::nullopt);
}

TEST(ValidateSourceMap, ActionsOfEveryBlockFormAreNumberedInSourceOrder) {
    const std::string source =
        "rule R on M {\n"
        "  (a:P)-[e:K]->(b:P) => { let x = 1; delete e }\n"
        "  where E[a.s] > 0 => { suppress e }\n"
        "  action { non_bayesian_nudge a.s to 1 variance = preserve;\n"
        "           a.s ~= 2 (precision = 1)\n"
        "  }\n"
        "  for (n: P) => { let y = 2 }\n"
        "}\n";
    const Mapped m = map_of(source);
    ASSERT_EQ(m.map.rules.size(), 1u);
    const std::vector<std::string> expected = {
        "2:27-2:37 `let x = 1;`",
        "2:38-2:47 `delete e `",  // no ";": the statement keeps the skip before the "}"
        "3:25-3:36 `suppress e `",
        "4:12-4:60 `non_bayesian_nudge a.s to 1 variance = preserve;`",
        "5:12-6:3 `a.s ~= 2 (precision = 1)\n  `",
        "7:19-7:29 `let y = 2 `",
    };
    ASSERT_EQ(m.map.rules[0].action_spans.size(), expected.size());
    for (size_t j = 0; j < expected.size(); ++j) {
        EXPECT_EQ(show(source, m.map, m.map.rule_action(0, j)), expected[j]) << "action " << j;
    }
    EXPECT_EQ(show(source, m.map, m.map.rule_where(0)), "3:9-3:20 `E[a.s] > 0 `");
}

TEST(ValidateSourceMap, WhereSpanIsTheExpressionTheRuleKeeps) {
    struct Case {
        const char* body;
        const char* where;
    };
    const std::vector<Case> cases = {
        // A later where clause replaces the earlier one.
        {"where 1 > 0\n where 2 > 0 action { }", "2:8-2:14 `2 > 0 `"},
        // A one-line form sets it only when the rule has none yet; the
        // builder refuses a second one, so the first stays.
        {"(a:P)-[e:K]->(b:P) where 3 > 0 => { }", "1:40-1:46 `3 > 0 `"},
        {"where 4 > 0 (a:P)-[e:K]->(b:P) => { }", "1:21-1:27 `4 > 0 `"},
        {"for (n: P) where 5 > 0 => { } where 6 > 0", "1:51-1:57 `6 > 0 `"},
    };
    for (const Case& c : cases) {
        const std::string source = std::string("rule R on M { ") + c.body + " }";
        const Mapped m = map_of(source);
        EXPECT_EQ(show(source, m.map, m.map.rule_where(0)), c.where) << c.body;
    }
}

TEST(ValidateSourceMap, MetricsAndPrunePredicatesOfAFlow) {
    const std::string source =
        "flow F on M {\n"
        "  graph g1 = base |> prune_edges K where weight(edge) < 0.1\n"
        "               |> infer_beliefs |> prune_edges L where prob(edge) < 0.5\n"
        "  metric m1 = nodes(P) |> count()\n"
        "  graph g2 = from_evidence ev\n"
        "  export g1 as \"out\"\n"
        "  metric m2 on g1 = m1 + 1\n"
        "  graph g3 = g1 |> prune_edges K where prob(edge) > 2\n"
        "  metric m3 = nodes(P) |> where x |> count() }\n";
    const Mapped m = map_of(source);
    ASSERT_EQ(m.map.flows.size(), 1u);
    const FlowSourceEntry& flow = m.map.flows[0];
    ASSERT_EQ(flow.prune_spans.size(), 3u);
    EXPECT_EQ(show(source, m.map, m.map.flow_prune(0, 0)),
              "2:42-3:16 `weight(edge) < 0.1\n               `");
    EXPECT_EQ(show(source, m.map, m.map.flow_prune(0, 1)), "3:56-4:3 `prob(edge) < 0.5\n  `");
    EXPECT_EQ(show(source, m.map, m.map.flow_prune(0, 2)), "8:40-9:3 `prob(edge) > 2\n  `");
    ASSERT_EQ(flow.metric_spans.size(), 3u);
    // A pipeline of one step keeps the skip after it (the grammar's "+").
    EXPECT_EQ(show(source, m.map, m.map.flow_metric(0, 0)), "4:15-5:3 `nodes(P) |> count()\n  `");
    EXPECT_EQ(show(source, m.map, m.map.flow_metric(0, 1)), "7:21-8:3 `m1 + 1\n  `");
    // With two steps it ends with the last one.
    EXPECT_EQ(show(source, m.map, m.map.flow_metric(0, 2)),
              "9:15-9:45 `nodes(P) |> where x |> count()`");
}

}  // namespace
}  // namespace morvane::frontend::validate
