// Validator behaviour that source text cannot show: trees no builder makes,
// checks without source positions, and expression chains far deeper than
// any stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frontend/errors.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/validate/declaration_checks.hpp"
#include "frontend/validate/validate.hpp"
#include "sample_program.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::PosteriorType;

// The text of the diagnostic `run` throws, or "ok".
std::string diagnostic_of(const std::function<void()>& run) {
    try {
        run();
        return "ok";
    } catch (const FrontendError& error) {
        EXPECT_EQ(error.kind(), FrontendError::Kind::Validation);
        return error.text();
    }
}

std::string validate_tree(const ast::ProgramAst& program) {
    return diagnostic_of([&] { validate_program_internal(program, nullptr); });
}

ast::ProgramAst program_with_edge(PosteriorType exist, std::optional<PosteriorType> weight) {
    ast::ProgramAst p;
    p.schemas.push_back({"S", {{"P", {{"x", "Real"}}}}, {{"K"}}});
    p.belief_models.push_back({"M", "S", {}, {{"K", std::move(exist), std::move(weight)}}, "{}"});
    return p;
}

PosteriorType categorical(ast::CategoricalPrior prior,
                          std::optional<std::vector<std::string>> categories) {
    return PosteriorType::Categorical{"source", std::move(prior), std::move(categories)};
}

TEST(ValidateChecks, ListsTheGrammarCannotLeaveEmpty) {
    EXPECT_EQ(validate_tree(program_with_edge(
                  categorical(ast::CategoricalPrior::Explicit{{}}, std::nullopt), std::nullopt)),
              "validation error [belief_model 'M']: CategoricalPosterior explicit prior array "
              "cannot be empty");
    EXPECT_EQ(validate_tree(program_with_edge(
                  categorical(ast::CategoricalPrior::Uniform{1.0}, std::vector<std::string>{}),
                  std::nullopt)),
              "validation error [belief_model 'M']: CategoricalPosterior 'categories' cannot be "
              "empty when provided");
}

TEST(ValidateChecks, EvidenceOnANonGaussianWeight) {
    // Belief models are checked first, so a program never reaches this
    // evidence check with such a weight; the check on its own still holds.
    ast::ProgramAst p = program_with_edge(PosteriorType::Bernoulli{{{"prior", 0.5}}},
                                          PosteriorType::Bernoulli{{{"prior", 0.5}}});
    p.evidences.push_back(
        {"V",
         "M",
         {ast::ObserveStmt::EdgeWeight{"K", "P", "a", "P", "b", 1.0, std::nullopt}},
         "{}"});
    EXPECT_EQ(diagnostic_of([&] { check_evidence(p, 0, nullptr); }),
              "validation error [evidence 'V']: Edge 'K.weight' must use GaussianPosterior, got "
              "Bernoulli { params: [(\"prior\", 0.5)] }");
    EXPECT_EQ(validate_tree(p),
              "validation error [belief_model 'M']: edge 'K.weight' must use GaussianPosterior, "
              "got Bernoulli { params: [(\"prior\", 0.5)] }");
}

TEST(ValidateChecks, WithoutPositionsDiagnosticsHaveNoSpan) {
    ast::ProgramAst p;
    p.belief_models.push_back({"M", "Nowhere", {}, {}, "{}"});
    const std::string expected =
        "validation error [belief_model 'M']: Belief model 'M' references unknown schema 'Nowhere'";
    EXPECT_EQ(validate_tree(p), expected);
    // A text that does not parse gives no positions, and every check still runs.
    EXPECT_EQ(diagnostic_of([&] { validate_program_with_source(p, "belief_model M on {"); }),
              expected);
    // Positions recorded for fewer declarations than the tree holds.
    EXPECT_EQ(diagnostic_of([&] { validate_program_with_source(p, "schema S { }"); }), expected);
}

TEST(ValidateChecks, ReusedParseTreeGivesTheSameDiagnostic) {
    const std::string source = "rule R on M {\n  where u > 0 => { }\n}";
    ast::ProgramAst p;
    p.rules.push_back({"R", "M", {}, {}, std::nullopt, ast::var("u")});
    const auto parsed = parser::CorventaParser::parse(parser::Rule::program, source);
    ASSERT_TRUE(parsed);
    const std::string expected =
        "validation error [rule 'R' where clause]: unknown variable 'u' (at 2:9-2:15)";
    EXPECT_EQ(diagnostic_of([&] { validate_program_with_source(p, source); }), expected);
    EXPECT_EQ(diagnostic_of([&] { validate_program_with_parse_tree(p, parsed.tree()); }), expected);
}

// A program whose single checked expression is `expr`, at `where`.
ast::ProgramAst with_expression(const std::string& where, ast::ExprAst expr) {
    ast::ProgramAst p;
    if (where == "rule") {
        p.rules.push_back(
            {"R", "M", {{{"a", "P"}, {"e", "K"}, {"b", "P"}}}, {}, std::nullopt, std::move(expr)});
        return p;
    }
    ast::FlowDef flow{"F", "M", {}, {}, {}, {}, {}};
    if (where == "metric") {
        flow.metrics.push_back({"m", std::nullopt, std::move(expr)});
    } else {
        flow.graphs.push_back({"g", ast::GraphExpr::Pipeline{
                                        "a", {ast::Transform::PruneEdges{"K", std::move(expr)}}}});
    }
    p.flows.push_back(std::move(flow));
    return p;
}

TEST(ValidateChecks, DeepOperatorAndFieldChainsAreWalkedWithoutRecursion) {
    using testing::add_chain;
    using testing::kDeepChain;
    // The violation sits at the far end of the chain, so the whole spine is
    // walked; the leftmost operand comes first in the walk.
    const auto bad_call = [] { return ast::call("weight", {ast::positional(ast::var("x"))}); };
    struct Case {
        std::string where;
        std::function<ast::ExprAst()> make;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"rule", [] { return add_chain(kDeepChain, ast::var("u")); },
         "validation error [rule 'R' where clause]: unknown variable 'u'"},
        {"rule",
         [] {
             return ast::binary(ast::BinaryOp::Add, add_chain(kDeepChain, ast::var("a")),
                                ast::var("u"));
         },
         "validation error [rule 'R' where clause]: unknown variable 'u'"},
        {"metric", [] { return add_chain(kDeepChain, ast::var("u")); },
         "validation error [flow 'F' metric 'm']: unknown metric variable 'u'"},
        {"prune", [&] { return add_chain(kDeepChain, bad_call()); },
         "validation error [flow 'F' graph 'g' prune_edges K predicate]: weight(): argument must "
         "be 'edge' in prune_edges predicate"},
        {"prune",
         [&] {
             ast::ExprAst e = bad_call();
             for (size_t i = 0; i < kDeepChain; ++i)
                 e = ast::field(std::move(e), "f");
             return e;
         },
         "validation error [flow 'F' graph 'g' prune_edges K predicate]: weight(): argument must "
         "be 'edge' in prune_edges predicate"},
        {"rule", [] { return add_chain(kDeepChain); }, "ok"},
    };
    for (const Case& c : cases) {
        const ast::ProgramAst p = with_expression(c.where, c.make());
        EXPECT_EQ(validate_tree(p), c.expected) << c.where;
    }
}


// Sub-queries extend the rule's scope and undo the extension, so checking
// n nested sub-queries, each binding names of its own, takes time linear
// in n: four times the nesting takes about four times as long, not sixteen.
TEST(ValidateChecks, NestedSubQueriesTakeLinearTime) {
    const auto nested = [](size_t levels) {
        std::optional<ast::ExprAst> where = ast::boolean(true);
        for (size_t i = levels; i-- > 0;) {
            const std::string n = std::to_string(i);
            where = ast::exists({{"s" + n, "P"}, {"e" + n, "K"}, {"d" + n, "P"}},
                                std::move(where), false);
        }
        return with_expression("rule", std::move(*where));
    };
    const auto seconds = [](const ast::ProgramAst& p) {
        double best = 1e9;
        for (int run = 0; run < 5; ++run) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(validate_tree(p), "ok");
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        return best;
    };
    const double shallow = seconds(nested(300));
    const double deep = seconds(nested(1200));
    EXPECT_LT(deep, 8 * shallow) << shallow << " s for 300 levels, " << deep << " s for 1200";
}

}  // namespace
}  // namespace morvane::frontend::validate
