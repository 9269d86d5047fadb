// Rules: clauses, short forms, patterns and the action statements.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using ast::ActionStmt;
using ast::PatternItem;
using ast::VarianceSpec;
using testing::build_error;
using enum ast::BinaryOp;

ast::RuleDef rule_of(std::string_view body) {
    return parse_program("rule R on M { " + std::string(body) + " }").rules.at(0);
}

PatternItem pattern(std::string a, std::string e, std::string b) {
    return {{std::move(a), "A"}, {std::move(e), "T"}, {std::move(b), "B"}};
}

ActionStmt let(std::string name, double value) {
    return ActionStmt::Let{std::move(name), ast::number(value)};
}

ast::ExprAst gt_zero(std::string var) {
    return ast::binary(Gt, ast::var(std::move(var)), ast::number(0));
}

TEST(BuildRule, AllClauseKindsFeedOneRecord) {
    const ast::ProgramAst program = parse_program(R"(
        rule Close on Social {
            pattern (a:Person)-[e:KNOWS]->(b:Person)
            where E[a.x] > 0
            action { delete e }
            mode: fixpoint
        })");
    ast::RuleDef expected;
    expected.name = "Close";
    expected.on_model = "Social";
    expected.patterns = {{{"a", "Person"}, {"e", "KNOWS"}, {"b", "Person"}}};
    expected.where_expr = ast::binary(
        Gt, ast::call("E", {ast::positional(ast::field(ast::var("a"), "x"))}), ast::number(0));
    expected.actions = {ActionStmt::Delete{"e", std::nullopt}};
    expected.mode = "fixpoint";
    EXPECT_EQ(program.rules.at(0), expected);
}

TEST(BuildRule, EmptyBodyGivesAnEmptyRule) {
    EXPECT_EQ(rule_of(""), (ast::RuleDef{"R", "M", {}, {}, std::nullopt, std::nullopt}));
}

TEST(BuildRule, PatternsAndActionsAccumulateInSourceOrder) {
    // A where clause's block is taken where it stands among the others.
    const ast::RuleDef rule = rule_of(R"(
        pattern (a:A)-[e:T]->(b:B), (c:A)-[f:T]->(d:B)
        action { let one = 1 }
        where x => { let two = 2 }
        pattern (g:A)-[h:T]->(i:B)
        action { let three = 3 let four = 4 })");
    EXPECT_EQ(rule.patterns, (std::vector<PatternItem>{pattern("a", "e", "b"),
                                                       pattern("c", "f", "d"),
                                                       pattern("g", "h", "i")}));
    EXPECT_EQ(rule.actions, (std::vector<ActionStmt>{let("one", 1), let("two", 2),
                                                     let("three", 3), let("four", 4)}));
    EXPECT_EQ(rule.where_expr, ast::var("x"));
}

TEST(BuildRule, LaterModeAndWhereClausesWinSilently) {
    const ast::RuleDef rule = rule_of("mode: for_each where a > 0 where b > 0 mode: fixpoint");
    EXPECT_EQ(rule.mode, "fixpoint");
    EXPECT_EQ(rule.where_expr, gt_zero("b"));
    EXPECT_EQ(rule_of("mode: whatever").mode, "whatever");
    // A where clause after a one-line rule replaces the short form's where.
    EXPECT_EQ(rule_of("(a:A)-[e:T]->(b:B) where a > 0 => { } where b > 0").where_expr,
              gt_zero("b"));
}

TEST(BuildRule, OneLineRulesAddPatternWhereAndActions) {
    const ast::RuleDef rule = rule_of(R"(
        (a:A)-[e:T]->(b:B) => { let one = 1 }
        (c:A)-[f:T]->(d:B) where c > 0 => { let two = 2 })");
    EXPECT_EQ(rule.patterns, (std::vector<PatternItem>{pattern("a", "e", "b"),
                                                       pattern("c", "f", "d")}));
    EXPECT_EQ(rule.actions, (std::vector<ActionStmt>{let("one", 1), let("two", 2)}));
    EXPECT_EQ(rule.where_expr, gt_zero("c"));
}

TEST(BuildRule, NodeRuleIsOnePatternWithTheReservedEdge) {
    const ast::RuleDef rule = rule_of("for (n: Person) => { let one = 1 }");
    const PatternItem expected{{"n", "Person"}, {"__for_dummy", "__FOR_NODE__"}, {"n", "Person"}};
    EXPECT_EQ(rule.patterns, std::vector<PatternItem>{expected});
    EXPECT_EQ(rule.actions, std::vector<ActionStmt>{let("one", 1)});
    EXPECT_EQ(rule.where_expr, std::nullopt);
    EXPECT_EQ(rule_of("for (n: Person) where n > 0 => { }").where_expr, gt_zero("n"));
}

TEST(BuildRule, ShortFormsRefuseToReplaceAWhereExpression) {
    const struct {
        const char* body;
        const char* error;
    } cases[] = {
        {"where a > 0 (a:A)-[e:T]->(b:B) where b > 0 => { }",
         "Multiple where clauses not allowed in sugar rule"},
        {"(a:A)-[e:T]->(b:B) where a > 0 => { } (c:A)-[f:T]->(d:B) where b > 0 => { }",
         "Multiple where clauses not allowed in sugar rule"},
        {"for (n: A) where n > 0 => { } (a:A)-[e:T]->(b:B) where b > 0 => { }",
         "Multiple where clauses not allowed in sugar rule"},
        {"where a > 0 for (n: A) where n > 0 => { }", "Multiple where clauses not allowed in rule"},
        // A short form without where conflicts with nothing.
        {"where a > 0 (a:A)-[e:T]->(b:B) => { } for (n: A) => { }", "<compiled>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(build_error("rule R on M { " + std::string(c.body) + " }"), c.error) << c.body;
    }
}

TEST(BuildRule, WhereThatFailsToBuildBecomesZero) {
    EXPECT_EQ(rule_of("where (nodes(P) |> where x > 1)").where_expr, ast::number(0.0));
}

TEST(BuildPattern, CopiesTheSixNamesByPosition) {
    const ast::RuleDef rule = rule_of(
        "pattern (n:Person)-[e:likes]->(n:PERSON), ( src : X ) - [ edge : Y ] -> ( dst : Z )");
    EXPECT_EQ(rule.patterns,
              (std::vector<PatternItem>{{{"n", "Person"}, {"e", "likes"}, {"n", "PERSON"}},
                                        {{"src", "X"}, {"edge", "Y"}, {"dst", "Z"}}}));
}

TEST(BuildAction, StatementsWithTheirOptions) {
    using Variance = std::optional<VarianceSpec>;
    const struct {
        const char* stmt;
        ActionStmt expected;
    } cases[] = {
        {"let d = E[b.x] - E[a.x]",
         ActionStmt::Let{"d", ast::binary(Sub, ast::call("E", {ast::positional(ast::field(
                                                                 ast::var("b"), "x"))}),
                                           ast::call("E", {ast::positional(ast::field(
                                                              ast::var("a"), "x"))}))}},
        {"non_bayesian_nudge a.x to 5",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5), std::nullopt}},
        {"non_bayesian_nudge a.x to 5 variance = preserve;",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5),
                                      Variance(VarianceSpec::Preserve{})}},
        {"non_bayesian_nudge a.x to 5 variance = increase(factor = 2)",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5),
                                      Variance(VarianceSpec::Increase{2.0})}},
        {"non_bayesian_nudge a.x to 5 variance = increase",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5),
                                      Variance(VarianceSpec::Increase{std::nullopt})}},
        {"non_bayesian_nudge a.x to 5 variance = decrease",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5),
                                      Variance(VarianceSpec::Decrease{std::nullopt})}},
        {"non_bayesian_nudge a.x to 5 variance = decrease(factor = 0.25)",
         ActionStmt::NonBayesianNudge{"a", "x", ast::number(5),
                                      Variance(VarianceSpec::Decrease{0.25})}},
        {"a.x ~= 3", ActionStmt::SoftUpdate{"a", "x", ast::number(3), std::nullopt, std::nullopt}},
        {"a.x ~= 3 (precision = 2.5, count = 4)",
         ActionStmt::SoftUpdate{"a", "x", ast::number(3), 2.5, 4.0}},
        {"a.x ~= 3 precision = 2.5 count = 4;",
         ActionStmt::SoftUpdate{"a", "x", ast::number(3), 2.5, 4.0}},
        {"a.x ~= 3 (precision = 1, count = 2) precision = 3",
         ActionStmt::SoftUpdate{"a", "x", ast::number(3), 3.0, 2.0}},
        // Comments elsewhere in the statement do not touch the arguments.
        {"a.x ~= 3 /* c */ (count = 2 /* after */)",
         ActionStmt::SoftUpdate{"a", "x", ast::number(3), std::nullopt, 2.0}},
        {"delete e", ActionStmt::Delete{"e", std::nullopt}},
        {"delete e confidence = high", ActionStmt::Delete{"e", "high"}},
        {"delete e (confidence = Low);", ActionStmt::Delete{"e", "Low"}},
        {"suppress e", ActionStmt::Suppress{"e", std::nullopt}},
        {"suppress e weight = 0.2", ActionStmt::Suppress{"e", 0.2}},
        {"suppress e (weight = 0.2);", ActionStmt::Suppress{"e", 0.2}},
        // An expression that fails to build is kept as 0.0.
        {"let x = nodes(P) |> where y", ActionStmt::Let{"x", ast::number(0.0)}},
    };
    for (const auto& c : cases) {
        const ast::RuleDef rule = rule_of("action { " + std::string(c.stmt) + " }");
        ASSERT_EQ(rule.actions.size(), 1u) << c.stmt;
        EXPECT_EQ(rule.actions[0], c.expected) << c.stmt;
    }
}

TEST(BuildAction, SoftUpdateArgumentSpoiledByACommentFails) {
    const struct {
        const char* stmt;
        const char* error;
    } cases[] = {
        {"a.x ~= 1 precision /* note */ = 2",
         "Unknown soft update argument 'precision /* note */ = 2'"},
        {"a.x ~= 1 precision = /* note */ 2",
         "Invalid precision value '/*note*/2': invalid float literal"},
        {"a.x ~= 1 (count = // line\n 2)", "Invalid count value '//line2': invalid float literal"},
        // Every Unicode white space character goes, not only ASCII ones
        // (here a no-break space and an ideographic space).
        {"a.x ~= 1 precision = /* a\u00a0b\u3000c */ 2",
         "Invalid precision value '/*abc*/2': invalid float literal"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(build_error("rule R on M { action { " + std::string(c.stmt) + " } }"), c.error)
            << c.stmt;
    }
}

}  // namespace
}  // namespace morvane::frontend::parser
