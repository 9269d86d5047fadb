#include "ir/optimize.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frontend/debug_text.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/validate/validate.hpp"
#include "tests/cpp/sample_program.hpp"

namespace morvane::ir {
namespace {

using namespace frontend::ast;
using frontend::debug_text;
using morvane::testing::add_chain;
using morvane::testing::kDeepChain;
using morvane::testing::kDeepShapes;
using morvane::testing::sample_pattern;
using morvane::testing::sample_program;
using enum BinaryOp;

constexpr UnaryOp Neg = UnaryOp::Neg;
constexpr UnaryOp Not = UnaryOp::Not;

// Folds a tree expression through the IR and back.
ExprAst fold(const ExprAst& e, const ConstantMap& constants = {}) {
    return fold_expr(ExprIR::from(e), constants).to_ast();
}

// Debug texts compare the sign of zero and NaN, which == does not.
TEST(FoldExpr, ConstantsAndWhatStays) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<ExprAst, ExprAst> cases[] = {
        // Arithmetic, comparison and logic over constants; Bool is 1.0 / 0.0.
        {binary(Add, number(1), binary(Mul, number(2), number(3))), number(7)},
        {binary(Gt, number(2), number(1)), boolean(true)},
        {binary(And, number(1), number(0)), boolean(false)},
        {binary(Add, boolean(true), number(1)), number(2)},
        {binary(Or, number(0), number(-1)), boolean(true)},
        {binary(Sub, number(0.3), binary(Add, number(0.1), number(0.2))),
         number(0.3 - (0.1 + 0.2))},
        {unary(Not, number(0)), boolean(true)},
        {unary(Not, number(0.5)), boolean(false)},
        {unary(Neg, boolean(true)), number(-1)},
        {unary(Neg, number(5)), number(-5)},
        {unary(Neg, number(0)), number(-0.0)},
        // Equality within 1e-12, exact ordering.
        {binary(Eq, number(1), number(1.0000000000001)), boolean(true)},
        {binary(Eq, number(1), number(1.00000000001)), boolean(false)},
        {binary(Ne, number(1), number(1.0000000000001)), boolean(false)},
        {binary(Lt, number(1), number(1.0000000000001)), boolean(true)},
        // Division: the guard leaves |b| < 1e-12 to run time.
        {binary(Div, binary(Add, number(1), number(1)), number(0)),
         binary(Div, number(2), number(0))},
        {binary(Div, var("x"), number(0)), binary(Div, var("x"), number(0))},
        {binary(Div, number(1), number(1e-13)), binary(Div, number(1), number(1e-13))},
        {binary(Div, number(1), number(-5e-13)), binary(Div, number(1), number(-5e-13))},
        {binary(Div, number(1), number(1e-12)), number(1e12)},
        {binary(Div, number(1), number(1e-11)), number(1e11)},
        // Non-finite results stay operations with folded operands.
        {binary(Mul, number(1e308), binary(Add, number(4), number(6))),
         binary(Mul, number(1e308), number(10))},
        {binary(Sub, number(inf), number(inf)), binary(Sub, number(inf), number(inf))},
        {binary(Add, number(nan), number(1)), binary(Add, number(nan), number(1))},
        {binary(Div, number(1), number(nan)), binary(Div, number(1), number(nan))},
        // NaN: ordering and tolerance tests are false, truth tests true.
        {binary(Eq, number(nan), number(nan)), boolean(false)},
        {binary(Ne, number(nan), number(1)), boolean(false)},
        {binary(Lt, number(nan), number(1)), boolean(false)},
        {binary(And, number(nan), number(1)), boolean(true)},
        {binary(Gt, number(inf), number(1)), boolean(true)},
        {unary(Not, number(nan)), boolean(false)},
        {unary(Neg, number(inf)), number(-inf)},
        // Double negation; nothing else is simplified.
        {unary(Neg, unary(Neg, var("x"))), var("x")},
        {unary(Neg, unary(Neg, number(2))), number(2)},
        {unary(Not, unary(Not, var("x"))), unary(Not, unary(Not, var("x")))},
        {unary(Neg, unary(Not, var("x"))), unary(Neg, unary(Not, var("x")))},
        {binary(Add, var("x"), number(0)), binary(Add, var("x"), number(0))},
        {binary(And, var("x"), boolean(false)), binary(And, var("x"), boolean(false))},
        // Calls are never evaluated; their arguments are folded in place.
        {call("f", {positional(binary(Add, number(1), number(1))),
                    named("k", binary(Mul, number(2), number(3)))}),
         call("f", {positional(number(2)), named("k", number(6))})},
        {call("abs", {positional(number(-1))}), call("abs", {positional(number(-1))})},
        {call("f", {positional(binary(Ge, number(1), number(1)))}),
         call("f", {positional(boolean(true))})},
        // ... except a comparison read as an event: its operands fold, it
        // stays (prob(1 >= 1) is 0.0 where 1 >= 1 is true).
        {call("prob", {positional(binary(Ge, number(1), binary(Add, number(0.5), number(0.5))))}),
         call("prob", {positional(binary(Ge, number(1), number(1)))})},
        {call("credible", {positional(binary(Lt, number(2), number(1))),
                           named("p", binary(Mul, number(0.5), number(1)))}),
         call("credible", {positional(binary(Lt, number(2), number(1))), named("p", number(0.5))})},
        {call("prob_correlated", {positional(binary(Gt, number(2), number(1))),
                                  named("rho", binary(Gt, number(2), number(1)))}),
         call("prob_correlated", {positional(binary(Gt, number(2), number(1))),
                                  named("rho", boolean(true))})},
        {field(binary(Add, number(1), number(1)), "a"), field(number(2), "a")},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(debug_text(fold(input)), debug_text(expected)) << debug_text(input);
    }
}

TEST(FoldExpr, ExistsTests) {
    const PatternItem p = sample_pattern("User", "likes", "Item");
    const ExprAst where = binary(Gt, call("prob", {positional(var("e"))}), number(0.5));
    const std::pair<ExprAst, ExprAst> cases[] = {
        {exists(p, boolean(false), false), boolean(false)},
        {exists(p, number(-0.0), true), boolean(true)},
        {unary(Not, exists(p, boolean(false), false)), boolean(true)},
        {exists(p, binary(Lt, number(1), number(2)), false), exists(p, std::nullopt, false)},
        {exists(p, number(std::nan("")), true), exists(p, std::nullopt, true)},
        {exists(p, std::nullopt, true), exists(p, std::nullopt, true)},
        {exists(p, binary(And, where, binary(Le, number(1), number(2))), false),
         exists(p, binary(And, where, boolean(true)), false)},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(fold(input), expected) << debug_text(input);
    }
}

TEST(FoldExpr, ConstantNamesAreReplacedWhereTheyAreReadAsMetrics) {
    const ConstantMap constants{{"a", 2.0}, {"node", 1.0}, {"value", 10.0}, {"Person", 3.0}};
    const PatternItem p = sample_pattern("User", "likes", "Item");
    const ExprAst e_x = call("E", {positional(field(var("node"), "x"))});
    const std::pair<ExprAst, ExprAst> replaced[] = {
        {binary(Mul, var("a"), number(3)), number(6)},
        {binary(Add, var("b"), var("a")), binary(Add, var("b"), number(2))},
        {call("f", {named("label", var("a"))}), call("f", {named("label", number(2))})},
        {call("sum_nodes", {positional(var("Person")), positional(var("a")), positional(var("a"))}),
         call("sum_nodes", {positional(var("Person")), positional(number(2)), positional(number(2))})},
        {call("fold_nodes", {named("label", var("L")), named("init", var("a")),
                             named("step", binary(Add, var("value"), var("a")))}),
         call("fold_nodes", {named("label", var("L")), named("init", number(2)),
                             named("step", binary(Add, var("value"), number(2)))})},
        {call("count_nodes", {positional(var("L")),
                              positional(call("degree", {positional(var("node")),
                                                         named("min_prob", var("a"))}))}),
         call("count_nodes", {positional(var("L")),
                              positional(call("degree", {positional(var("node")),
                                                         named("min_prob", number(2))}))})},
    };
    // Reserved names, labels, edge types, field targets, existence tests and
    // arguments no function reads keep their names.
    const ExprAst kept[] = {
        binary(Add, var("value"), var("node")),
        call("count_nodes", {positional(var("Person"))}),
        call("count_nodes", {named("label", var("Person")), positional(var("a"))}),
        call("avg_degree", {positional(var("Person")), positional(var("a"))}),
        call("fold_nodes", {named("label", var("L")), named("init", number(0)),
                            named("step", binary(Add, var("value"), number(1)))}),
        call("sum_nodes", {named("label", var("L")), named("contrib", e_x), positional(var("a"))}),
        call("sum_nodes", {named("label", var("L")),
                           named("contrib", call("entropy", {positional(var("node")),
                                                             positional(var("a"))}))}),
        call("winner", {positional(var("b")), positional(var("a"))}),
        field(var("a"), "x"),
        exists(p, var("a"), false),
    };
    for (const auto& [input, expected] : replaced) {
        EXPECT_EQ(fold(input, constants), expected) << debug_text(input);
    }
    for (const auto& input : kept) EXPECT_EQ(fold(input, constants), input) << debug_text(input);
}

TEST(FoldExpr, DeepExpressionsFoldWithoutRecursion) {
    EXPECT_EQ(fold(add_chain(kDeepChain)), number(kDeepChain + 1.0));
    // With a variable at the bottom nothing folds: each shape comes back as
    // it was.
    for (const auto& shape : kDeepShapes) {
        SCOPED_TRACE(shape.name);
        const ExprAst deep = shape.make(shape.depth);
        EXPECT_TRUE(fold(deep) == deep);
    }
}

// ---------------------------------------------------------------------------
// Program-level rewrites, on small hand-built programs.

FlowDef flow_with(std::string name, std::vector<Transform> transforms,
                  std::vector<MetricDef> metrics = {}) {
    FlowDef flow{std::move(name), "M", {}, std::move(metrics), {}, {}, {}};
    flow.graphs.push_back({"g0", GraphExpr::FromEvidence{"E"}});
    flow.graphs.push_back({"g", GraphExpr::Pipeline{"g0", std::move(transforms)}});
    return flow;
}

RuleDef rule_named(std::string name, std::optional<ExprAst> where = std::nullopt) {
    return {std::move(name), "M", {sample_pattern("User", "likes", "Item")}, {}, std::nullopt,
            std::move(where)};
}

const std::vector<TransformIR>& transforms_of(const FlowIR& flow) {
    return std::get<GraphExprIR::Pipeline>(flow.graphs.back().expr.node).transforms;
}

ExprIR lower(const ExprAst& e) { return ExprIR::from(e); }

TEST(OptimizeProgram, RewritesPipelines) {
    const ExprAst prob = call("prob", {positional(var("edge"))});
    ProgramAst program;
    program.flows.push_back(flow_with(
        "F", {
                 Transform::PruneEdges{"T", number(0)},
                 Transform::ApplyRule{"R"},
                 Transform::PruneEdges{"T", boolean(false)},
                 Transform::PruneEdges{"T", number(-0.0)},
                 Transform::PruneEdges{"T", number(1)},
                 Transform::PruneEdges{"T", number(std::nan(""))},
                 Transform::PruneEdges{"T", binary(Lt, prob, binary(Div, number(1), number(4)))},
                 Transform::PruneEdges{"T", binary(Div, number(1), number(0))},
                 Transform::ApplyRuleset{{"R"}},
                 Transform::ApplyRuleset{{"R", "S"}},
                 Transform::ApplyRuleset{{}},
                 Transform::Snapshot{"s"},
                 Transform::InferBeliefs{},
             }));
    const ProgramIR optimized = ProgramIR::from(program).optimized();

    const std::vector<TransformIR> expected = {
        TransformIR::ApplyRule{"R"},
        TransformIR::PruneEdges{"T", ExprIR::Bool{true}},
        TransformIR::PruneEdges{"T", ExprIR::Bool{true}},
        TransformIR::PruneEdges{"T", lower(binary(Lt, prob, number(0.25)))},
        TransformIR::PruneEdges{"T", lower(binary(Div, number(1), number(0)))},
        TransformIR::ApplyRule{"R"},
        TransformIR::ApplyRuleset{{"R", "S"}},
        TransformIR::Snapshot{"s"},
        TransformIR::InferBeliefs{},
    };
    EXPECT_EQ(transforms_of(optimized.flows[0]), expected);
    EXPECT_EQ(optimized.flows[0].graphs[0], ProgramIR::from(program).flows[0].graphs[0]);
}

TEST(OptimizeProgram, PropagatesConstantMetricsWithinOneFlow) {
    auto metric = [](std::string name, ExprAst e) -> MetricDef {
        return {std::move(name), std::nullopt, std::move(e)};
    };
    const ExprAst degree = call("avg_degree", {named("label", var("User"))});
    ProgramAst program;
    program.flows.push_back(flow_with("F", {},
                                      {
                                          metric("uses_later", binary(Add, var("a"), number(1))),
                                          metric("a", number(2)),
                                          metric("b", binary(Mul, var("a"), number(3))),
                                          metric("t", binary(Lt, var("b"), number(7))),
                                          metric("u", binary(Add, var("t"), var("t"))),
                                          metric("m", number(2)),
                                          metric("m", degree),
                                          metric("n", binary(Add, var("m"), number(1))),
                                          metric("imported", var("pm")),
                                      }));
    program.flows[0].metric_imports.push_back({"prior_m", "pm"});
    program.flows.push_back(flow_with("G", {}, {metric("c", binary(Mul, var("a"), number(3)))}));
    const ProgramIR optimized = ProgramIR::from(program).optimized();

    const ExprAst expected[] = {
        binary(Add, var("a"), number(1)),  // a later metric is not seen
        number(2),
        number(6),
        boolean(true),
        number(2),
        number(2),
        degree,
        binary(Add, var("m"), number(1)),  // the second m removed the constant
        var("pm"),                         // imports are not constants
    };
    const auto& metrics = optimized.flows[0].metrics;
    ASSERT_EQ(metrics.size(), std::size(expected));
    for (size_t i = 0; i < metrics.size(); ++i) {
        EXPECT_EQ(metrics[i].expr.to_ast(), expected[i]) << metrics[i].name;
    }
    EXPECT_EQ(optimized.flows[1].metrics[0].expr.to_ast(), binary(Mul, var("a"), number(3)));
    EXPECT_EQ(optimized.flows[0].metric_imports, ProgramIR::from(program).flows[0].metric_imports);
}

TEST(OptimizeProgram, ConstantMetricsLeaveNamesThatAreNotMetricReads) {
    // Valid programs in which a constant metric shares its name with a
    // reserved word or a label: the later metric must run as written.
    const std::string source = R"(
        schema S { node Person { x: Real } }
        belief_model M on S { node Person { x ~ Gaussian(mean = 0, precision = 1) } }
        flow F on M {
            metric value = 10
            metric f = nodes(Person) |> fold(init = 0, step = value + 1)
            metric Person = 2
            metric n = nodes(Person) |> count()
            metric node = 1
            metric s = nodes(Person) |> sum(by = E[node.x])
            metric t = Person + 10
        }
    )";
    const ProgramAst program = frontend::parser::parse_program(source);
    frontend::validate::validate_program_with_source(program, source);
    const ProgramIR lowered = ProgramIR::from(program);
    const auto& before = lowered.flows[0].metrics;
    const ProgramIR optimized = lowered.optimized();
    const auto& after = optimized.flows[0].metrics;
    ASSERT_EQ(after.size(), 7u);
    for (size_t i : {1, 3, 5}) EXPECT_EQ(after[i].expr, before[i].expr) << after[i].name;
    EXPECT_EQ(after[6].expr.to_ast(), number(12));  // read as metrics, so replaced
}

TEST(OptimizeProgram, FoldsAndKeepsOnlyAppliedRules) {
    // Expressions are folded with no constants, even where a flow declares
    // a constant metric of the name used.
    RuleDef folded = rule_named("Folded", binary(And, binary(Lt, number(1), number(2)), var("m")));
    folded.mode = "fixpoint";
    folded.actions = {
        ActionStmt::Let{"t", binary(Mul, number(2), number(3))},
        ActionStmt::NonBayesianNudge{"a", "s", binary(Add, var("m"), number(0)),
                                     VarianceSpec::Increase{2.0}},
        ActionStmt::SoftUpdate{"b", "s", unary(Neg, unary(Neg, var("y"))), 1.0, std::nullopt},
        ActionStmt::Delete{"e", std::string("low")},
        ActionStmt::Suppress{"e", 0.5},
    };
    RuleDef expected = folded;
    expected.where_expr = binary(And, boolean(true), var("m"));
    std::get<ActionStmt::Let>(expected.actions[0].node).expr = number(6);
    std::get<ActionStmt::SoftUpdate>(expected.actions[2].node).expr = var("y");

    ProgramAst program = sample_program();
    program.rules = {rule_named("Unused"), folded, rule_named("Elsewhere"), rule_named("Single"),
                     rule_named("InSet")};
    program.flows = {
        flow_with("F", {Transform::ApplyRule{"Folded"}}, {{"m", std::nullopt, number(1)}}),
        flow_with("Other", {Transform::ApplyRuleset{{"InSet", "Elsewhere"}}}),
        flow_with("Third", {Transform::ApplyRuleset{{"Single"}}}),
    };
    const ProgramAst before = program;
    const ProgramIR lowered = ProgramIR::from(program);
    const ProgramIR optimized = lowered.optimized();

    std::vector<std::string> kept;
    for (const auto& rule : optimized.rules) kept.push_back(rule.name);
    EXPECT_EQ(kept, (std::vector<std::string>{"Folded", "Elsewhere", "Single", "InSet"}));
    EXPECT_EQ(optimized.rules[0].to_ast(), expected);

    // Declarations other than rules and flows pass unchanged; the inputs
    // are only read.
    EXPECT_EQ(optimized.schemas, lowered.schemas);
    EXPECT_EQ(optimized.belief_models, lowered.belief_models);
    EXPECT_EQ(optimized.evidences, lowered.evidences);
    EXPECT_EQ(program, before);
    EXPECT_EQ(lowered, ProgramIR::from(program));
    // A lowered program used up by optimizing gives the same copy.
    EXPECT_EQ(ProgramIR::from(program).optimized(), optimized);
}

TEST(OptimizeProgram, NoFlowAppliesAnyRule) {
    ProgramAst program = sample_program();
    program.flows.clear();
    EXPECT_TRUE(ProgramIR::from(program).optimized().rules.empty());
}

}  // namespace
}  // namespace morvane::ir
