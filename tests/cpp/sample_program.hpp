// A hand-built program that holds every variant of the syntax tree at least
// once, with present and absent options side by side; shared by the tree,
// debug-text and IR tests.
#pragma once

#include <ostream>

#include "frontend/ast.hpp"
#include "frontend/debug_text.hpp"

// Failed expectations show expressions in their debug text.
namespace morvane::frontend::ast {
inline void PrintTo(const ExprAst& e, std::ostream* os) { *os << frontend::debug_text(e); }
}  // namespace morvane::frontend::ast

namespace morvane::testing {

namespace ast = frontend::ast;

inline ast::PatternItem sample_pattern(std::string src, std::string edge_ty, std::string dst) {
    return {{"a", std::move(src)}, {"e", std::move(edge_ty)}, {"b", std::move(dst)}};
}

// Every expression variant, nested: a Binary inside a Call argument inside
// the where-clause of an Exists, under a Unary, beside a Field chain.
inline ast::ExprAst sample_expr() {
    using enum ast::BinaryOp;
    auto score = ast::field(ast::field(ast::var("n"), "profile"), "score");
    auto call = ast::call("f", {ast::positional(ast::binary(Add, ast::var("x"), ast::number(1.5))),
                                ast::named("k", ast::boolean(false)),
                                ast::positional(ast::call("", {}))});
    auto where = ast::binary(Gt, std::move(call), ast::unary(ast::UnaryOp::Neg, ast::number(-0.0)));
    auto test = ast::exists(sample_pattern("User", "likes", "Item"), std::move(where), true);
    auto bare = ast::exists(sample_pattern("User", "owns", "Item"), std::nullopt, false);
    return ast::binary(Or, ast::unary(ast::UnaryOp::Not, std::move(test)),
                       ast::binary(And, ast::binary(Le, std::move(score), ast::number(1e20)),
                                   std::move(bare)));
}

// Long chains as the parser's left fold builds them: `first + 1 + ... + 1`
// with `depth` operators, and `x.a.a...` with `depth` accesses.
inline ast::ExprAst add_chain(size_t depth, ast::ExprAst first = ast::number(1.0)) {
    ast::ExprAst e = std::move(first);
    for (size_t i = 0; i < depth; ++i) {
        e = ast::binary(ast::BinaryOp::Add, std::move(e), ast::number(1.0));
    }
    return e;
}
inline ast::ExprAst field_chain(size_t depth) {
    ast::ExprAst e = ast::var("x");
    for (size_t i = 0; i < depth; ++i) e = ast::field(std::move(e), "a");
    return e;
}

// Deep enough that any recursion over it would overflow the stack. The
// sanitizer build, whose frames are larger and whose allocations are slower,
// uses a fifth of the depth: still several times what its stack can hold.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr size_t kDeepChain = 200'000;
#else
inline constexpr size_t kDeepChain = 1'000'000;
#endif

// Expressions nested deeply through every kind of child, none of which may
// be walked by recursion. The parser bounds most of these shapes, but the
// walkers do not rely on it. Each shape wraps a single Var("x") `depth`
// times in the same way.
struct DeepShape {
    const char* name;
    size_t depth;
    ast::ExprAst (*make)(size_t depth);
};
inline const DeepShape kDeepShapes[] = {
    {"x + 1 + 1 ...", kDeepChain, [](size_t n) { return add_chain(n, ast::var("x")); }},
    {"x.a.a ...", kDeepChain, field_chain},
    {"1 - (1 - (... x))", kDeepChain,
     [](size_t n) {
         ast::ExprAst e = ast::var("x");
         for (size_t i = 0; i < n; ++i) {
             e = ast::binary(ast::BinaryOp::Sub, ast::number(1.0), std::move(e));
         }
         return e;
     }},
    {"not not ... x", kDeepChain,
     [](size_t n) {
         ast::ExprAst e = ast::var("x");
         for (size_t i = 0; i < n; ++i) e = ast::unary(ast::UnaryOp::Not, std::move(e));
         return e;
     }},
    {"f(k = f(k = ... x))", kDeepChain,
     [](size_t n) {
         ast::ExprAst e = ast::var("x");
         for (size_t i = 0; i < n; ++i) {
             std::vector<ast::CallArg> args;
             args.push_back(ast::named("k", std::move(e)));
             e = ast::call("f", std::move(args));
         }
         return e;
     }},
    // Patterns are bulky; a quarter of the depth still overflows any stack.
    {"exists ... where exists ... where x", kDeepChain / 4,
     [](size_t n) {
         ast::ExprAst e = ast::var("x");
         for (size_t i = 0; i < n; ++i) {
             e = ast::exists({{"a", "A"}, {"e", "T"}, {"b", "B"}}, std::move(e), false);
         }
         return e;
     }},
};

inline ast::ProgramAst sample_program() {
    using ast::PosteriorType;
    using ast::ObserveStmt;
    using ast::ActionStmt;
    using ast::Transform;
    using ast::GraphExpr;
    using ast::CategoricalPrior;
    using ast::VarianceSpec;
    using enum ast::EvidenceMode;
    using enum ast::BinaryOp;

    ast::ProgramAst p;
    p.schemas.push_back({"S",
                         {{"User", {{"score", "Real"}, {"age", "Int"}}}, {"Item", {}}},
                         {{"likes"}, {"owns"}}});
    p.schemas.push_back({"Empty", {}, {}});

    const PosteriorType gaussian =
        PosteriorType::Gaussian{{{"prior_mean", 0.0}, {"prior_precision", 1.0}}};
    p.belief_models.push_back(
        {"M",
         "S",
         {{"User", {{"score", gaussian}, {"score", PosteriorType::Gaussian{{}}}}}},
         {{"likes", PosteriorType::Bernoulli{{{"prior", 0.5}}}, std::nullopt},
          {"owns",
           PosteriorType::Categorical{"source", CategoricalPrior::Uniform{1.0}, std::nullopt},
           gaussian},
          {"picks",
           PosteriorType::Categorical{"source", CategoricalPrior::Explicit{{2.0, 0.5}},
                                      std::vector<std::string>{"a", "b"}},
           std::nullopt}},
         "{ /* body */ }"});

    p.evidences.push_back(
        {"E",
         "M",
         {ObserveStmt::Edge{"likes", "User", "alice", "Item", "x y", Present},
          ObserveStmt::Edge{"picks", "User", "bob", "Item", "z", ForcedChoice},
          ObserveStmt::EdgeWeight{"owns", "User", "alice", "Item", "z", 0.25, std::nullopt},
          ObserveStmt::EdgeWeight{"owns", "User", "bob", "Item", "z", -1.0, 0.0},
          ObserveStmt::Attribute{"User", "alice", "score", 3.0, 2.0},
          ObserveStmt::Attribute{"User", "bob", "score", 1e-7, std::nullopt}},
         "{\n  likes(User:alice, Item:\"x y\") present\n}"});
    p.evidences.push_back({"Empty", "M", {}, "{}"});

    auto nudge = [](std::optional<VarianceSpec> variance) -> ActionStmt {
        return ActionStmt::NonBayesianNudge{"a", "score", ast::var("t"), std::move(variance)};
    };
    ast::RuleDef full{"R",
                      "M",
                      {sample_pattern("User", "likes", "Item"),
                       sample_pattern("Item", "owns", "User")},
                      {ActionStmt::Let{"t", ast::binary(Mul, ast::var("x"), ast::number(2.0))},
                       nudge(std::nullopt),
                       nudge(VarianceSpec::Preserve{}),
                       nudge(VarianceSpec::Increase{std::nullopt}),
                       nudge(VarianceSpec::Decrease{0.5}),
                       ActionStmt::SoftUpdate{"b", "score", ast::number(2.0), 4.0, std::nullopt},
                       ActionStmt::SoftUpdate{"b", "score", ast::number(2.0), std::nullopt, 3.0},
                       ActionStmt::Delete{"e", std::nullopt},
                       ActionStmt::Delete{"e", std::string("high")},
                       ActionStmt::Suppress{"e", std::nullopt},
                       ActionStmt::Suppress{"e", 0.75}},
                      std::string("fixpoint"),
                      sample_expr()};
    p.rules.push_back(std::move(full));
    // A node-only rule without mode and without where-clause.
    p.rules.push_back({"N",
                       "M",
                       {{{"v", "User"},
                         {std::string(ast::kForNodeEdgeVar), std::string(ast::kForNodeEdgeType)},
                         {"v", "User"}}},
                       {},
                       std::nullopt,
                       std::nullopt});

    ast::FlowDef flow{"F", "M", {}, {}, {}, {}, {}};
    flow.graphs.push_back({"g0", GraphExpr::FromEvidence{"E"}});
    flow.graphs.push_back({"g1", GraphExpr::FromGraph{"prior graph"}});
    auto prob_below = ast::binary(Lt, ast::call("prob", {ast::positional(ast::var("edge"))}),
                                  ast::number(0.5));
    std::vector<Transform> steps{Transform::ApplyRule{"R"},
                                 Transform::ApplyRuleset{{"R", "N", "R"}},
                                 Transform::Snapshot{"snap"}, Transform::InferBeliefs{},
                                 Transform::PruneEdges{"likes", std::move(prob_below)}};
    flow.graphs.push_back({"g2", GraphExpr::Pipeline{"g0", std::move(steps)}});
    flow.graphs.push_back(
        {"best", GraphExpr::SelectModel{{"g2", "g0"}, ast::ModelSelectionCriterion::EdgeBic}});
    flow.metrics.push_back({"m", std::nullopt, ast::number(2.0)});
    flow.metrics.push_back(
        {"c", std::string("g2"),
         ast::call("count_nodes", {ast::named("label", ast::var("User"))})});
    flow.exports.push_back({"g2", "out"});
    flow.metric_exports.push_back({"m", "m_out"});
    flow.metric_imports.push_back({"prior_m", "pm"});
    p.flows.push_back(std::move(flow));
    p.flows.push_back({"Bare", "M", {}, {}, {}, {}, {}});
    return p;
}

}  // namespace morvane::testing
