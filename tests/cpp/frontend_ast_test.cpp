#include "frontend/ast.hpp"

#include <gtest/gtest.h>

#include "tests/cpp/sample_program.hpp"

namespace morvane::frontend::ast {
namespace {

using morvane::testing::add_chain;
using morvane::testing::kDeepChain;
using morvane::testing::kDeepShapes;
using morvane::testing::sample_expr;
using morvane::testing::sample_pattern;
using morvane::testing::sample_program;

static_assert(sizeof(EvidenceMode) == 1 && sizeof(UnaryOp) == 1 && sizeof(BinaryOp) == 1 &&
              sizeof(ModelSelectionCriterion) == 1);
static_assert(static_cast<int>(EvidenceMode::ForcedChoice) == 4);
static_assert(static_cast<int>(UnaryOp::Not) == 1);
static_assert(static_cast<int>(BinaryOp::Div) == 3 && static_cast<int>(BinaryOp::Or) == 11);
static_assert(static_cast<int>(ModelSelectionCriterion::EdgeBic) == 1);

TEST(ExprAst, DeepCopyOwnsEveryChild) {
    std::optional<ExprAst> original = sample_expr();
    ExprAst copy = *original;
    EXPECT_EQ(copy, *original);

    // Changing the copy deep inside does not show in the original.
    auto& top = std::get<ExprAst::Binary>(copy.node);
    auto& test = std::get<ExprAst::Exists>(std::get<ExprAst::Unary>(top.left->node).expr->node);
    auto& where = std::get<ExprAst::Binary>((*test.where_expr)->node);
    std::get<ExprAst::Call>(where.left->node).args.pop_back();
    EXPECT_NE(copy, *original);

    // Dropping the original leaves the copy intact.
    ExprAst again = *original;
    original.reset();
    std::get<ExprAst::Call>(where.left->node).args.push_back(positional(call("", {})));
    EXPECT_EQ(copy, again);
}

TEST(ExprAst, EqualityComparesEveryField) {
    using enum BinaryOp;
    const ExprAst base = binary(Add, field(var("n"), "a"), call("f", {positional(number(1.0))}));
    const ExprAst different[] = {
        binary(Sub, field(var("n"), "a"), call("f", {positional(number(1.0))})),
        binary(Add, field(var("m"), "a"), call("f", {positional(number(1.0))})),
        binary(Add, field(var("n"), "b"), call("f", {positional(number(1.0))})),
        binary(Add, field(var("n"), "a"), call("g", {positional(number(1.0))})),
        binary(Add, field(var("n"), "a"), call("f", {positional(number(2.0))})),
        binary(Add, field(var("n"), "a"), call("f", {named("", number(1.0))})),
        binary(Add, field(var("n"), "a"), call("f", {})),
        binary(Add, var("n"), call("f", {positional(number(1.0))})),
    };
    for (const auto& e : different) EXPECT_NE(base, e);

    const PatternItem p = sample_pattern("User", "likes", "Item");
    const ExprAst test = exists(p, boolean(true), false);
    EXPECT_NE(test, exists(p, boolean(true), true));
    EXPECT_NE(test, exists(p, std::nullopt, false));
    EXPECT_NE(test, exists(p, boolean(false), false));
    EXPECT_NE(test, exists(sample_pattern("User", "likes", "User"), boolean(true), false));
    EXPECT_EQ(number(0.0), number(-0.0));  // numbers compare as numbers
    EXPECT_NE(boolean(true), number(1.0));
}

TEST(Tree, OptionalsTellAbsentFromWritten) {
    EXPECT_NE(VarianceSpec(VarianceSpec::Increase{std::nullopt}), VarianceSpec::Increase{1.0});
    EXPECT_NE(VarianceSpec(VarianceSpec::Increase{2.0}), VarianceSpec::Decrease{2.0});
    const ObserveStmt unweighted = ObserveStmt::Attribute{"U", "a", "x", 1.0, std::nullopt};
    const ObserveStmt zero = ObserveStmt::Attribute{"U", "a", "x", 1.0, 0.0};
    EXPECT_NE(unweighted, zero);
    const PosteriorType none = PosteriorType::Categorical{"source", CategoricalPrior::Uniform{1.0},
                                                          std::nullopt};
    const PosteriorType empty = PosteriorType::Categorical{"source", CategoricalPrior::Uniform{1.0},
                                                           std::vector<std::string>{}};
    EXPECT_NE(none, empty);
}

TEST(Tree, ProgramCopyIsIndependent) {
    const ProgramAst program = sample_program();
    ProgramAst copy = program;
    EXPECT_EQ(copy, program);

    // Merging run-time evidence extends a copy of a block's observations.
    std::vector<ObserveStmt> merged = program.evidences[0].observations;
    merged.push_back(
        ObserveStmt::Edge{"likes", "User", "carol", "Item", "z", EvidenceMode::Absent});
    EXPECT_EQ(program.evidences[0].observations.size() + 1, merged.size());
    EXPECT_EQ(program, sample_program());

    std::get<ActionStmt::Let>(copy.rules[0].actions[0].node).expr = number(0.0);
    copy.flows[0].metrics[1].on_graph.reset();
    EXPECT_NE(copy, program);
    EXPECT_EQ(program, sample_program());
}

TEST(Tree, ActionKindWords) {
    const std::pair<ActionStmt, std::string_view> cases[] = {
        {ActionStmt::Let{"x", number(1.0)}, "let"},
        {ActionStmt::NonBayesianNudge{"n", "a", number(1.0), std::nullopt}, "non_bayesian_nudge"},
        {ActionStmt::SoftUpdate{"n", "a", number(1.0), std::nullopt, std::nullopt}, "soft_update"},
        {ActionStmt::Delete{"e", std::nullopt}, "delete"},
        {ActionStmt::Suppress{"e", std::nullopt}, "suppress"},
    };
    for (const auto& [action, word] : cases) EXPECT_EQ(action_kind(action), word);
}

// Copy, equality, assignment and destruction of expressions far deeper than
// any stack could hold as recursion, nested through every kind of child.
TEST(ExprAst, DeepExpressionsNeverRecurse) {
    for (const auto& shape : kDeepShapes) {
        SCOPED_TRACE(shape.name);
        ExprAst copy = number(0.0);
        {
            const ExprAst deep = shape.make(shape.depth);
            copy = deep;
            EXPECT_TRUE(copy == deep);
        }
        EXPECT_FALSE(copy == shape.make(shape.depth - 1));
    }
    // A difference at the very bottom is found.
    EXPECT_NE(add_chain(kDeepChain, number(1.0)), add_chain(kDeepChain, number(2.0)));
}

// Every node is as large as the largest variant; keep the bulky pattern out
// of line so that long chains stay affordable.
static_assert(sizeof(ExprAst) <= 64);

TEST(ExprAst, AssignsOwnSubtree) {
    using enum BinaryOp;
    ExprAst e = binary(Mul, binary(Add, var("x"), number(1.0)), var("y"));
    e = *std::get<ExprAst::Binary>(e.node).left;
    EXPECT_EQ(e, binary(Add, var("x"), number(1.0)));
    e = std::move(*std::get<ExprAst::Binary>(e.node).right);
    EXPECT_EQ(e, number(1.0));

    ExprAst chain = add_chain(kDeepChain);
    chain = std::move(*std::get<ExprAst::Binary>(chain.node).left);
    EXPECT_EQ(chain, add_chain(kDeepChain - 1));
}

}  // namespace
}  // namespace morvane::frontend::ast
