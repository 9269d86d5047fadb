// Rule execution: modes, passes, where-clauses with exists, actions, the
// audit, fixpoint convergence and the untouched input on errors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/engine/rule_exec.hpp"
#include "frontend/parser/parse_program.hpp"
#include "tests/cpp/small_stack.hpp"

namespace morvane::core::engine {
namespace {

using frontend::ast::RuleDef;

RuleDef rule_of(const std::string& body) {
    return frontend::parser::parse_program("rule R on M { " + body + " }").rules.at(0);
}

// `n` Person nodes with score = (score, 1), the first pointing at the next
// by KNOWS edges (ids 0, 1, ...).
BeliefGraph chain(std::size_t n, double score = 0.0) {
    BeliefGraph g;
    for (std::size_t i = 0; i < n; ++i)
        g.add_node("Person", AttrMap{{"score", {score, 1}}});
    for (uint32_t i = 0; i + 1 < n; ++i)
        g.add_edge(NodeId{i}, NodeId{i + 1}, "KNOWS", 1, 1);
    g.ensure_owned();
    return g;
}

double score(const BeliefGraph& g, uint32_t node) {
    return g.expectation(NodeId{node}, "score");
}

ExecError error_of(const BeliefGraph& g, const RuleDef& rule, const RuleGlobals& globals = {}) {
    try {
        run_rule_with_globals_audit(g, rule, globals);
    } catch (const ExecError& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return ExecError::internal("");
}

TEST(RuleExec, ModesAndRefusals) {
    const BeliefGraph g = chain(2);
    const RuleOutcome plain = run_rule_with_globals_audit(g, rule_of("for (p: Person) => { }"), {});
    EXPECT_EQ(plain.audit.mode, "for_each");
    EXPECT_EQ(plain.audit.rule, "R");

    RuleDef bad_mode = rule_of("for (p: Person) => { } mode: ForEach");
    bad_mode.patterns.clear();  // the mode is checked first
    EXPECT_EQ(
        error_of(g, bad_mode),
        ExecError::validation("unknown rule mode: 'ForEach' (expected 'for_each' or 'fixpoint')"));
    for (const char* mode : {"for_each", "fixpoint"}) {
        RuleDef empty = rule_of(std::string("for (p: Person) => { } mode: ") + mode);
        empty.patterns.clear();
        EXPECT_EQ(error_of(g, empty), ExecError::validation("rule must have at least one pattern"));
    }
}

TEST(RuleExec, WhereClausesReadThePassStartActionsSeeEarlierChanges) {
    const BeliefGraph g = chain(3);
    BeliefGraph start = g.clone();
    start.non_bayesian_nudge(NodeId{0}, "score", {frontend::ast::VarianceSpec::Preserve{}}, 1.0);

    const RuleOutcome gated = run_rule_with_globals_audit(
        start,
        rule_of("(a:Person)-[k:KNOWS]->(b:Person) where E[a.score] > 0.5 => "
                "{ non_bayesian_nudge b.score to E[a.score] }"),
        {});
    EXPECT_EQ(gated.audit.matches, 1u);  // node 1 was still 0 when the pass began
    EXPECT_EQ(score(gated.graph, 1), 1.0);
    EXPECT_EQ(score(gated.graph, 2), 0.0);

    const RuleOutcome chained =
        run_rule_with_globals_audit(start,
                                    rule_of("(a:Person)-[k:KNOWS]->(b:Person) => "
                                            "{ non_bayesian_nudge b.score to E[a.score] + 1 }"),
                                    {});
    EXPECT_EQ(score(chained.graph, 1), 2.0);
    EXPECT_EQ(score(chained.graph, 2), 3.0);  // read node 1 as changed by the first match
    EXPECT_EQ(score(start, 2), 0.0);
}

TEST(RuleExec, AuditCountsKeptMatchesAndTheirActions) {
    // A NaN belief cannot be reached through the updates; this one is made
    // directly.
    BeliefGraph g = chain(2);
    g.add_node("Person", AttrMap{{"score", {std::numeric_limits<double>::quiet_NaN(), 1}}});
    g.ensure_owned();
    // Nodes 1 (score 0 < 1) and 2 (NaN, which holds) are kept.
    const RuleOutcome out = run_rule_with_globals_audit(
        g,
        rule_of("for (p: Person) where not (E[p.score] > -1) or E[p.score] == 0 and p > 0 => "
                "{ let x = 1; let y = x; let x = 2 }"),
        {});
    EXPECT_EQ(out.audit.matches, 2u);
    EXPECT_EQ(out.audit.actions_executed, 6u);

    const RuleOutcome none = run_rule_with_globals_audit(
        g, rule_of("for (p: Person) where E[p.score] > 5 => { p.score ~= 1 }"), {});
    EXPECT_EQ(none.audit.matches, 0u);
    EXPECT_EQ(none.audit.actions_executed, 0u);
    EXPECT_TRUE(none.graph.shares_base_with(g));
    EXPECT_EQ(none.graph.deltas().size(), g.deltas().size());
}

TEST(RuleExec, ActionsGoThroughThePosteriorUpdates) {
    const BeliefGraph g = chain(3);
    const RuleOutcome first = run_rule_with_globals_audit(
        g,
        rule_of("(a:Person)-[k:KNOWS]->(b:Person) where a == 0 => {"
                "  let v = 7; a.score ~= v; b.score ~= v precision = 2 count = 3;"
                "  delete k confidence = low }"),
        {});
    EXPECT_EQ(first.graph.get_node_attr_with_deltas(NodeId{0}, "score"),
              (GaussianPosterior{3.5, 2.0}));
    EXPECT_EQ(first.graph.get_node_attr_with_deltas(NodeId{1}, "score"),
              (GaussianPosterior{6.0, 7.0}));
    EXPECT_EQ(first.graph.prob_mean(EdgeId{0}), 1.0 / 1002.0);

    const RuleOutcome second = run_rule_with_globals_audit(
        g,
        rule_of("(a:Person)-[k:KNOWS]->(b:Person) where a == 1 => {"
                "  non_bayesian_nudge a.score to 4 variance = increase(factor = 0.25);"
                "  non_bayesian_nudge b.score to limit variance = decrease;"
                "  suppress k weight = 0.5 }"),
        RuleGlobals{{"limit", 9.0}});
    EXPECT_EQ(second.graph.get_node_attr_with_deltas(NodeId{1}, "score"),
              (GaussianPosterior{4.0, 0.25}));
    EXPECT_EQ(second.graph.get_node_attr_with_deltas(NodeId{2}, "score"),
              (GaussianPosterior{9.0, 2.0}));
    EXPECT_EQ(second.graph.prob_mean(EdgeId{1}), 1.0 / 2.5);
}

TEST(RuleExec, ActionErrors) {
    const BeliefGraph g = chain(2);
    const struct {
        const char* actions;
        ExecError error;
    } cases[] = {
        // The variable is resolved before the expression is evaluated.
        {"non_bayesian_nudge zz.score to 1 / 0", ExecError::internal("unknown node var 'zz'")},
        {"zz.score ~= 1 / 0", ExecError::internal("unknown node var 'zz'")},
        {"delete zz", ExecError::internal("unknown edge var 'zz'")},
        {"suppress zz", ExecError::internal("unknown edge var 'zz'")},
        {"suppress k weight = 0",
         ExecError::validation("suppress weight must be finite and > 0, got 0")},
        {"let x = exists (a:Person)-[k:KNOWS]->(b:Person)",
         ExecError::internal("Exists subqueries must be handled by RuleExprContext")},
        {"let x = 1; b.nope ~= x", ExecError::internal("missing attr 'nope'")},
    };
    for (const auto& c : cases) {
        const RuleDef rule =
            rule_of(std::string("(a:Person)-[k:KNOWS]->(b:Person) => { ") + c.actions + " }");
        EXPECT_EQ(error_of(g, rule), c.error) << c.actions;
    }
}

TEST(RuleExec, AnErrorInALaterMatchLeavesTheInputUnchanged) {
    BeliefGraph g = chain(4);
    g.insert_node(NodeData{SharedText("Person"), AttrMap{{"other", {0, 1}}}, NodeId{2}});
    g.non_bayesian_nudge(NodeId{0}, "score", {frontend::ast::VarianceSpec::Preserve{}}, 5.0);
    const std::size_t pending = g.deltas().size();
    const long holders = g.base_use_count();
    // The third match (a = node 2, replaced by a record without score) fails.
    const RuleDef rule = rule_of("(a:Person)-[k:KNOWS]->(b:Person) => { a.score ~= 1 }");
    EXPECT_EQ(error_of(g, rule), ExecError::internal("missing attr 'score'"));
    EXPECT_EQ(g.deltas().size(), pending);
    EXPECT_EQ(g.base_use_count(), holders);
    EXPECT_EQ(score(g, 0), 5.0);
    EXPECT_EQ(score(g, 1), 0.0);
    EXPECT_EQ(score(g, 3), 0.0);
}

// Persons L and M; L lives in city C (size 20), M knows L; N is alone.
BeliefGraph town() {
    BeliefGraph g;
    const NodeId l = g.add_node("Person", AttrMap{{"score", {0, 1}}});
    const NodeId m = g.add_node("Person", AttrMap{{"score", {0, 1}}});
    g.add_node("Person", AttrMap{{"score", {0, 1}}});
    const NodeId c = g.add_node("City", AttrMap{{"size", {20, 1}}});
    g.add_edge(l, c, "LIVES", 1, 1);  // 0
    g.add_edge(m, l, "KNOWS", 1, 1);  // 1
    g.ensure_owned();
    return g;
}

// The ids of the Person nodes a for_each rule with `where` keeps.
std::vector<uint32_t> kept_people(const std::string& where) {
    const BeliefGraph g = town();
    const RuleOutcome out = run_rule_with_globals_audit(
        g, rule_of("for (p: Person) where " + where + " => { non_bayesian_nudge p.score to 1 }"),
        {});
    std::vector<uint32_t> kept;
    for (uint32_t i = 0; i < 3; ++i) {
        if (score(out.graph, i) == 1.0) kept.push_back(i);
    }
    return kept;
}

TEST(RuleExec, ExistsTestsAgreeWithTheMatchesBindings) {
    using Ids = std::vector<uint32_t>;
    EXPECT_EQ(kept_people("exists (p:Person)-[l:LIVES]->(c:City)"), (Ids{0}));
    EXPECT_EQ(kept_people("not exists (p:Person)-[l:LIVES]->(c:City)"), (Ids{1, 2}));
    EXPECT_EQ(kept_people("exists (p:Person)-[l:LIVES]->(c:City) where E[c.size] > 30"), Ids{});
    EXPECT_EQ(kept_people("exists (p:Person)-[k:KNOWS]->(q:Person) where "
                          "exists (q:Person)-[l:LIVES]->(c:City) where E[c.size] > 10"),
              (Ids{1}));
    EXPECT_EQ(kept_people("exists (x:Person)-[l:LIVES]->(c:City) and p == 2"), (Ids{2}));

    // A negated test, whose inner where-clause is NaN and so holds.
    namespace ast = frontend::ast;
    const ast::PatternItem lives{{"p", "Person"}, {"l", "LIVES"}, {"c", "City"}};
    const std::optional<ast::ExprAst> negated = ast::exists(lives, ast::var("g"), true);
    const RuleGlobals nan{{"g", std::numeric_limits<double>::quiet_NaN()}};
    const std::string_view p[] = {"p"};
    const auto where_holds_for = [&](uint32_t person) {
        const NodeId id[] = {NodeId{person}};
        return evaluate_where_clause(negated, MatchBindings{p, id, {}, {}, nullptr}, nan, town());
    };
    EXPECT_FALSE(where_holds_for(0));
    EXPECT_TRUE(where_holds_for(1));

    // An edge variable bound by the match must be the same edge.
    const BeliefGraph g = town();
    const auto matches = [&](const std::string& rule) {
        return run_rule_with_globals_audit(g, rule_of(rule), {}).audit.matches;
    };
    EXPECT_EQ(matches("(a:Person)-[k:KNOWS]->(b:Person) where "
                      "exists (a:Person)-[k:KNOWS]->(x:Person) => { }"),
              1u);
    EXPECT_EQ(matches("(a:Person)-[k:KNOWS]->(b:Person) where "
                      "exists (x:Person)-[k:LIVES]->(c:City) => { }"),
              0u);
    // An exists inside a function's argument is not intercepted.
    EXPECT_EQ(error_of(g, rule_of("for (p: Person) where degree(p, min_prob = exists "
                                  "(p:Person)-[l:LIVES]->(c:City)) > 0 => { }")),
              ExecError::internal("Exists subqueries must be handled by RuleExprContext"));
}

TEST(RuleExec, WhereClausesReadGlobals) {
    const BeliefGraph g = chain(3);
    const RuleDef rule =
        rule_of("for (p: Person) where p < limit => { non_bayesian_nudge p.score to limit }");
    const RuleOutcome out = run_rule_with_globals_audit(g, rule, RuleGlobals{{"limit", 2.0}});
    EXPECT_EQ(out.audit.matches, 2u);
    EXPECT_EQ(score(out.graph, 1), 2.0);
    EXPECT_EQ(error_of(g, rule), ExecError::internal("unbound variable 'limit'"));
}

// ---- Fixpoint ----------------------------------------------------------------------------

constexpr const char* kRaiseToThree =
    "for (p: Person) where E[p.score] < 3 => { non_bayesian_nudge p.score to E[p.score] + 1 }";

TEST(RuleExec, FixpointRunsUntilNothingChangesWhateverIsPending) {
    // A pass that records 32 changes or fewer leaves them all pending; the
    // loop still sees them and goes on.
    for (const std::size_t people : {1u, 32u, 33u, 40u}) {
        const BeliefGraph g = chain(people);
        const RuleOutcome fix = run_rule_with_globals_audit(
            g, rule_of(std::string(kRaiseToThree) + " mode: fixpoint"), {});
        EXPECT_EQ(fix.audit.mode, "fixpoint");
        EXPECT_EQ(fix.audit.matches, 0u);  // the audit of the last pass, which found nothing
        for (uint32_t i = 0; i < people; ++i)
            EXPECT_EQ(score(fix.graph, i), 3.0) << people;

        const RuleOutcome once = run_rule_with_globals_audit(g, rule_of(kRaiseToThree), {});
        EXPECT_EQ(once.audit.matches, people);
        for (uint32_t i = 0; i < people; ++i)
            EXPECT_EQ(score(once.graph, i), 1.0) << people;
        EXPECT_EQ(score(g, 0), 0.0);
    }
}

TEST(RuleExec, FixpointEndsOrGivesUp) {
    const BeliefGraph g = chain(2, 2.0);
    // Actions that change nothing: one pass, whose audit is the result's.
    const RuleOutcome still = run_rule_with_globals_audit(
        g,
        rule_of("for (p: Person) => { non_bayesian_nudge p.score to E[p.score] } mode: fixpoint"),
        {});
    EXPECT_EQ(still.audit.matches, 2u);
    EXPECT_EQ(still.audit.actions_executed, 2u);

    RuleDef grow = rule_of(
        "for (p: Person) => { non_bayesian_nudge p.score to E[p.score] + 1 } mode: fixpoint");
    grow.name = "Grow";
    EXPECT_EQ(error_of(g, grow),
              ExecError::execution("Fixpoint rule 'Grow' did not converge after 1000 iterations"));
}

// ---- Depth ---------------------------------------------------------------------------------

TEST(RuleExec, DeepestNestingRunsOnASmallStack) {
    BeliefGraph g;
    g.add_node("P", AttrMap{{"s", {0, 1}}});
    g.add_edge(NodeId{0}, NodeId{0}, "T", 1, 1);
    std::string exists, degrees;
    for (int i = 0; i < 1198; ++i)
        exists += "exists (a:P)-[e:T]->(b:P) where ";
    for (int i = 0; i < 1089; ++i)
        degrees += "degree(a, min_prob = ";
    const RuleDef deep_exists =
        rule_of("(a:P)-[e:T]->(b:P) where " + exists + "true => { non_bayesian_nudge a.s to 5 }");
    const RuleDef deep_args = rule_of("(a:P)-[e:T]->(b:P) where " + degrees + "0" +
                                      std::string(1089, ')') + " >= 0 => { a.s ~= 1 }");
    uint64_t kept = 0;
    morvane::testing::run_on_stack_of(256 << 10, [&] {
        kept += run_rule_with_globals_audit(g, deep_exists, {}).audit.matches;
        kept += run_rule_with_globals_audit(g, deep_args, {}).audit.matches;
    });
    EXPECT_EQ(kept, 2u);
}

}  // namespace
}  // namespace morvane::core::engine
