// Expressions and their desugarings, metric pipelines, and deep input.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frontend_build_test_support.hpp"
#include "small_stack.hpp"

namespace morvane::frontend::parser {
namespace {

using ast::ExprAst;
using testing::build_error;
using testing::metric_expr_of;
using testing::where_expr_of;
using enum ast::BinaryOp;
using enum ast::UnaryOp;

ExprAst num(double v) { return ast::number(v); }
ExprAst v(std::string name) { return ast::var(std::move(name)); }
ExprAst e_of(std::string target, std::string attr) {
    return ast::call("E", {ast::positional(ast::field(v(std::move(target)), std::move(attr)))});
}
ast::PatternItem lem() { return {{"a", "L"}, {"e", "T"}, {"b", "M"}}; }

struct ExprCase {
    const char* text;
    ExprAst expected;
};

TEST(BuildExpr, OperatorsFoldToTheLeftWithTheGrammarsPrecedence) {
    const ExprCase cases[] = {
        {"1 - 2 - 3", ast::binary(Sub, ast::binary(Sub, num(1), num(2)), num(3))},
        {"8 / 4 / 2", ast::binary(Div, ast::binary(Div, num(8), num(4)), num(2))},
        {"a * b + c", ast::binary(Add, ast::binary(Mul, v("a"), v("b")), v("c"))},
        {"a or b or c", ast::binary(Or, ast::binary(Or, v("a"), v("b")), v("c"))},
        {"a or b and c", ast::binary(Or, v("a"), ast::binary(And, v("b"), v("c")))},
        {"a and b or c", ast::binary(Or, ast::binary(And, v("a"), v("b")), v("c"))},
        {"a or b and c < d + e * f",
         ast::binary(Or, v("a"),
                     ast::binary(And, v("b"),
                                 ast::binary(Lt, v("c"),
                                             ast::binary(Add, v("d"),
                                                         ast::binary(Mul, v("e"), v("f"))))))},
        {"not a and b", ast::binary(And, ast::unary(Not, v("a")), v("b"))},
        {"not a == b", ast::binary(Eq, ast::unary(Not, v("a")), v("b"))},
        {"-a * b", ast::binary(Mul, ast::unary(Neg, v("a")), v("b"))},
        {"2 - -3", ast::binary(Sub, num(2), ast::unary(Neg, num(3)))},
    };
    for (const auto& c : cases) EXPECT_EQ(where_expr_of(c.text), c.expected) << c.text;
}

TEST(BuildExpr, EveryOperatorTextMapsToItsOperator) {
    const std::pair<const char*, ast::BinaryOp> ops[] = {
        {"+", Add}, {"-", Sub}, {"*", Mul},  {"/", Div},  {"==", Eq},  {"!=", Ne},
        {"<", Lt},  {"<=", Le}, {">", Gt},   {">=", Ge},  {"and", And}, {"or", Or},
    };
    for (const auto& [text, op] : ops) {
        EXPECT_EQ(where_expr_of(std::string("x ") + text + " y"), ast::binary(op, v("x"), v("y")))
            << text;
    }
}

TEST(BuildExpr, OperandsAndDesugarings) {
    const ExprCase cases[] = {
        {"(x)", v("x")},
        {"((1 + 2))", ast::binary(Add, num(1), num(2))},
        {"-5", ast::unary(Neg, num(5))},
        {"- - x", ast::unary(Neg, ast::unary(Neg, v("x")))},
        {"not not -x", ast::unary(Not, ast::unary(Not, ast::unary(Neg, v("x"))))},
        {"-0", ast::unary(Neg, num(0))},
        {"007.50", num(7.5)},
        {"true", ast::boolean(true)},
        {"false", ast::boolean(false)},
        {"truex", v("truex")},
        {"E[n.score]", e_of("n", "score")},
        {"E [ n . score ]", e_of("n", "score")},
        {"E(n.score)", e_of("n", "score")},
        {"E", v("E")},
        {"prob(e)", ast::call("prob", {ast::positional(v("e"))})},
        {"f()", ast::call("f", {})},
        {"f(x, k = 2, y == 1)",
         ast::call("f", {ast::positional(v("x")), ast::named("k", num(2)),
                         ast::positional(ast::binary(Eq, v("y"), num(1)))})},
        {"f(x, k = 2).y",
         ast::field(ast::call("f", {ast::positional(v("x")), ast::named("k", num(2))}), "y")},
        {"x.y.z", ast::field(ast::field(v("x"), "y"), "z")},
        {"3.x", ast::field(num(3), "x")},
        {"true.x", ast::field(ast::boolean(true), "x")},
        // A call suffix after anything but a bare name loses its callee.
        {"a.b(1)", ast::call("", {ast::positional(num(1))})},
        {"f(1)(2)", ast::call("", {ast::positional(num(2))})},
        {"(g)(1)", ast::call("g", {ast::positional(num(1))})},
        {"E[n.x](1)", ast::call("", {ast::positional(num(1))})},
        {"g(x).h(y)", ast::call("", {ast::positional(v("y"))})},
        {"-f(x).y", ast::unary(Neg, ast::field(ast::call("f", {ast::positional(v("x"))}), "y"))},
    };
    for (const auto& c : cases) EXPECT_EQ(where_expr_of(c.text), c.expected) << c.text;
}

TEST(BuildExpr, ExistenceTests) {
    const ExprCase cases[] = {
        {"exists (a:L)-[e:T]->(b:M) where prob(e) > 0.5",
         ast::exists(lem(), ast::binary(Gt, ast::call("prob", {ast::positional(v("e"))}), num(0.5)),
                     false)},
        {"exists (a:L)-[e:T]->(b:M)", ast::exists(lem(), std::nullopt, false)},
        // "not exists" is the prefix operator over a plain existence test.
        {"not exists (a:L)-[e:T]->(b:M)",
         ast::unary(Not, ast::exists(lem(), std::nullopt, false))},
        // Without where, an "and" after the pattern combines the test.
        {"exists (a:L)-[e:T]->(b:M) and x",
         ast::binary(And, ast::exists(lem(), std::nullopt, false), v("x"))},
        {"exists (a:L)-[e:T]->(b:M) where x and y",
         ast::exists(lem(), ast::binary(And, v("x"), v("y")), false)},
        {"(exists (a:L)-[e:T]->(b:M) where x) and y",
         ast::binary(And, ast::exists(lem(), v("x"), false), v("y"))},
        // A failing where-part falls back to 0.0 inside the test.
        {"exists (a:L)-[e:T]->(b:M) where nodes(P) |> where q",
         ast::exists(lem(), num(0.0), false)},
    };
    for (const auto& c : cases) EXPECT_EQ(where_expr_of(c.text), c.expected) << c.text;
}

TEST(BuildExpr, PipelineInsideAnExpressionFallsBackToZero) {
    const ExprCase cases[] = {
        {"(nodes(Person) |> where E[node.age] > 30) + 1", ast::binary(Add, num(0), num(1))},
        {"1 + nodes(P) |> order_by(x) |> count()", ast::binary(Add, num(1), num(0))},
        {"f(nodes(P) |> fold(init = 0), k = nodes(P) |> count())",
         ast::call("f", {ast::positional(num(0)),
                         ast::named("k", ast::call("count_nodes",
                                                   {ast::named("label", v("P"))}))})},
        {"(nodes(P) |> where x).y", ast::field(num(0), "y")},
    };
    for (const auto& c : cases) EXPECT_EQ(metric_expr_of(c.text), c.expected) << c.text;
}

TEST(BuildMetricPipeline, StepsBecomeCallsWithNamedArguments) {
    const auto label = [] { return ast::named("label", v("Person")); };
    const ExprCase cases[] = {
        {"nodes(Person) |> count()", ast::call("count_nodes", {label()})},
        {"nodes(Person) |> where E[node.age] > 30 |> sum(by = E[node.income])",
         ast::call("sum_nodes",
                   {label(), ast::named("where", ast::binary(Gt, e_of("node", "age"), num(30))),
                    ast::named("contrib", e_of("node", "income"))})},
        // The last where and the last aggregate count, wherever they stand.
        {"nodes(Person) |> where a |> where b |> count()",
         ast::call("count_nodes", {label(), ast::named("where", v("b"))})},
        {"nodes(Person) |> count() |> where b",
         ast::call("count_nodes", {label(), ast::named("where", v("b"))})},
        {"nodes(Person) |> sum(by = x) |> count()", ast::call("count_nodes", {label()})},
        {"nodes(Person) |> avg(by = x)",
         ast::binary(Div, ast::call("sum_nodes", {label(), ast::named("contrib", v("x"))}),
                     ast::call("count_nodes", {label()}))},
        {"nodes(Person) |> where w |> avg(by = x)",
         ast::binary(Div,
                     ast::call("sum_nodes", {label(), ast::named("where", v("w")),
                                             ast::named("contrib", v("x"))}),
                     ast::call("count_nodes", {label(), ast::named("where", v("w"))}))},
        {"nodes(Person) |> order_by(E[node.age]) |> fold(init = 0, step = value + 1)",
         ast::call("fold_nodes", {label(), ast::named("order_by", e_of("node", "age")),
                                  ast::named("init", num(0)),
                                  ast::named("step", ast::binary(Add, v("value"), num(1)))})},
        // The fold's own order_by wins over the step before it.
        {"nodes(Person) |> where w |> order_by(a) |> fold(step = s, order_by = k, init = 0)",
         ast::call("fold_nodes", {label(), ast::named("where", v("w")),
                                  ast::named("order_by", v("k")), ast::named("init", num(0)),
                                  ast::named("step", v("s"))})},
        // An order_by step after the fold passes the check but is not used.
        {"nodes(Person) |> fold(init = 0, step = s) |> order_by(a)",
         ast::call("fold_nodes",
                   {label(), ast::named("init", num(0)), ast::named("step", v("s"))})},
        {"nodes(Person) |> fold(init = 0, init = 1, step = s)",
         ast::call("fold_nodes",
                   {label(), ast::named("init", num(1)), ast::named("step", v("s"))})},
        // Argument names read from the text with its white space removed; a
        // comment inside the name spoils only that argument.
        {"nodes(Person) |> fold( init\t=\n0 , step /* s */ = t, step =s )",
         ast::call("fold_nodes",
                   {label(), ast::named("init", num(0)), ast::named("step", v("s"))})},
    };
    for (const auto& c : cases) EXPECT_EQ(metric_expr_of(c.text), c.expected) << c.text;
}

TEST(BuildMetricPipeline, ErrorsOfAWholeMetricValueEndCompilation) {
    const struct {
        const char* value;
        const char* error;
    } cases[] = {
        {"nodes(P) |> where x > 1", "Missing terminal aggregate in metric builder"},
        {"nodes(P) |> order_by(x) |> count()",
         "order_by() is only valid with fold() in metric builder pipelines"},
        // The order_by check comes before the aggregate check.
        {"nodes(P) |> order_by(x)",
         "order_by() is only valid with fold() in metric builder pipelines"},
        {"nodes(P) |> fold(init = 0, step = s) |> sum(by = x) |> order_by(k)",
         "order_by() is only valid with fold() in metric builder pipelines"},
        {"nodes(P) |> fold(step = value + 1)", "Missing init in fold()"},
        {"nodes(P) |> fold(init = 0)", "Missing step in fold()"},
        {"nodes(P) |> fold(init /* zero */ = 0, step = value)", "Missing init in fold()"},
        // A fold's own errors arise when its step is read, before the
        // checks made at the end of the pipeline.
        {"nodes(P) |> order_by(x) |> fold(init = 0) |> count()", "Missing step in fold()"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(build_error("flow F on M { metric m = " + std::string(c.value) + " }"), c.error)
            << c.value;
    }
}

// Depth of the left spine (Binary.left, Field.target) below `e`.
size_t spine_depth(const ExprAst& e, const ExprAst** bottom) {
    size_t depth = 0;
    const ExprAst* node = &e;
    for (;;) {
        if (auto* b = std::get_if<ExprAst::Binary>(&node->node)) {
            node = b->left.get();
        } else if (auto* f = std::get_if<ExprAst::Field>(&node->node)) {
            node = f->target.get();
        } else {
            break;
        }
        ++depth;
    }
    *bottom = node;
    return depth;
}

TEST(BuildExprDeep, LongFlatChainsBuildWithoutRecursing) {
    constexpr size_t kOperands = 200'000;
    for (const char* op : {" + ", "*", " or ", " and "}) {
        std::string text = "x";
        for (size_t i = 1; i < kOperands; ++i) (text += op) += "x";
        const ExprAst e = metric_expr_of(text);
        const ExprAst* bottom = nullptr;
        EXPECT_EQ(spine_depth(e, &bottom), kOperands - 1) << op;
        EXPECT_EQ(*bottom, v("x"));
        const ExprAst copy = e;  // copies, compares and frees iteratively too
        EXPECT_EQ(copy, e);
    }
    std::string fields = "x";
    for (size_t i = 0; i < kOperands; ++i) fields += ".a";
    const ExprAst e = where_expr_of(fields);
    const ExprAst* bottom = nullptr;
    EXPECT_EQ(spine_depth(e, &bottom), kOperands);
    EXPECT_EQ(*bottom, v("x"));
}

// Runs `body` on a thread with a 64 KiB stack, where a builder that
// recursed per level of nesting would crash long before the parser's limit.
void run_on_small_stack(const std::function<void()>& body) {
    morvane::testing::run_on_stack_of(64 * 1024, body);
}

using morvane::testing::repeat;

TEST(BuildExprDeep, NestingAsDeepAsTheParserAcceptsBuildsOnASmallStack) {
    constexpr size_t kLevels = 900;  // every form below parses at this depth
    ExprAst sum = num(1);
    ExprAst calls = v("x");
    ExprAst named = v("x");
    ExprAst tests = v("x");
    ExprAst negations = v("x");
    for (size_t i = 0; i < kLevels; ++i) {
        sum = ast::binary(Add, num(1), std::move(sum));
        calls = ast::call("f", {ast::positional(std::move(calls))});
        named = ast::call("f", {ast::named("k", std::move(named))});
        tests = ast::exists(lem(), std::move(tests), false);
        negations = ast::unary(i % 2 ? Not : Neg, std::move(negations));
    }
    const struct {
        std::string text;
        const ExprAst& expected;
    } cases[] = {
        {repeat("(1 + ", kLevels) + "1" + repeat(")", kLevels), sum},
        {repeat("f(", kLevels) + "x" + repeat(")", kLevels), calls},
        {repeat("f(k = ", kLevels) + "x" + repeat(")", kLevels), named},
        {repeat("exists (a:L)-[e:T]->(b:M) where ", kLevels) + "x", tests},
        {repeat("not -", kLevels / 2) + "x", negations},
    };
    for (const auto& c : cases) {
        std::optional<ExprAst> built;
        run_on_small_stack([&] { built = metric_expr_of(c.text); });
        ASSERT_TRUE(built) << c.text.substr(0, 20);
        EXPECT_EQ(*built, c.expected) << c.text.substr(0, 20);
    }
    // Pipelines nested in where steps: the innermost one takes every
    // count() step, so each enclosing one lacks an aggregate and falls back.
    const std::string pipelines = "0 + " + repeat("nodes(P) |> where ", kLevels) + "x" +
                                  repeat(" |> count()", kLevels);
    std::optional<ExprAst> built;
    run_on_small_stack([&] { built = metric_expr_of(pipelines); });
    ASSERT_TRUE(built);
    EXPECT_EQ(*built, ast::binary(Add, num(0), num(0)));
}

}  // namespace
}  // namespace morvane::frontend::parser
