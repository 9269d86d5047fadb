// Belief models and their posterior types.
#include <gtest/gtest.h>

#include <string>

#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::build_error;

std::string model_with_posterior(std::string_view posterior) {
    return "belief_model M on S { node N { x ~ " + std::string(posterior) + " } }";
}

TEST(BuildPosterior, FamiliesParametersAndCategoricalParts) {
    const struct {
        const char* posterior;
        const char* debug;
    } cases[] = {
        {"Gaussian(mean = 0, precision = 1)",
         R"(Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 1.0)] })"},
        {"GaussianPosterior(mean = 0, precision = 1)",
         R"(Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 1.0)] })"},
        {"Bernoulli(weight = 2)", R"(Bernoulli { params: [("pseudo_count", 2.0)] })"},
        {"BernoulliPosterior(prior = 0.5)", R"(Bernoulli { params: [("prior", 0.5)] })"},
        // Each rename belongs to its own family; other names pass as written.
        {"Gaussian(weight = 2)", R"(Gaussian { params: [("weight", 2.0)] })"},
        {"Bernoulli(mean = 1, precision = 3)",
         R"(Bernoulli { params: [("mean", 1.0), ("precision", 3.0)] })"},
        {"Gaussian(Mean = 1, mu = -1.5)", R"(Gaussian { params: [("Mean", 1.0), ("mu", -1.5)] })"},
        {"Gaussian(mean = 1, mean = 2)",
         R"(Gaussian { params: [("prior_mean", 1.0), ("prior_mean", 2.0)] })"},
        {"Gaussian(mean = 007.50)", R"(Gaussian { params: [("prior_mean", 7.5)] })"},
        {"Categorical(group_by = source, pseudo_count = 3)",
         R"(Categorical { group_by: "source", prior: Uniform { pseudo_count: 3.0 }, categories: None })"},
        {R"(CategoricalPosterior(group_by = "source", pseudo_count = 3))",
         R"(Categorical { group_by: "source", prior: Uniform { pseudo_count: 3.0 }, categories: None })"},
        // pseudo_count and an explicit prior share one slot: the later wins.
        {"Categorical(prior = [1, 2], pseudo_count = 5, group_by = source)",
         R"(Categorical { group_by: "source", prior: Uniform { pseudo_count: 5.0 }, categories: None })"},
        {"Categorical(pseudo_count = 5, prior = [1, 2.5], group_by = source)",
         R"(Categorical { group_by: "source", prior: Explicit { concentrations: [1.0, 2.5] }, categories: None })"},
        // The word uniform, in any spelling, and value forms without meaning
        // leave the prior as it was.
        {R"(Categorical(pseudo_count = 2, prior = uniform, prior = "uniform", prior = 4, prior = ["a"], group_by = g))",
         R"(Categorical { group_by: "g", prior: Uniform { pseudo_count: 2.0 }, categories: None })"},
        {R"(Categorical(group_by = target, group_by = "other", pseudo_count = 1))",
         R"(Categorical { group_by: "other", prior: Uniform { pseudo_count: 1.0 }, categories: None })"},
        {R"(Categorical(group_by = s, pseudo_count = 1, categories = ["x"], categories = ["a", "b\""]))",
         R"(Categorical { group_by: "s", prior: Uniform { pseudo_count: 1.0 }, categories: Some(["a", "b\\"]) })"},
    };
    for (const auto& c : cases) {
        const ast::ProgramAst program = parse_program(model_with_posterior(c.posterior));
        EXPECT_EQ(debug_text(program.belief_models[0].nodes[0].attrs[0].second), c.debug)
            << c.posterior;
    }
}

TEST(BuildPosterior, CategoricalShapeErrorsEndCompilation) {
    const struct {
        const char* posterior;
        const char* error;
    } cases[] = {
        {"Categorical(group_by = source, prior = uniform)", "Missing prior parameter"},
        {R"(Categorical(group_by = source, prior = "uniform"))", "Missing prior parameter"},
        {"Categorical(group_by = source, prior = 3)", "Missing prior parameter"},
        {"Categorical(pseudo_count = 1)", "Missing group_by parameter"},
        {"Categorical(prior = [1])", "Missing group_by parameter"},
        {"Categorical(group_by = 1, pseudo_count = 1)",
         "group_by parameter must be a string or identifier"},
        {"Categorical(group_by = [1], pseudo_count = 1)",
         "group_by parameter must be a string or identifier"},
        {R"(Categorical(group_by = ["a"], pseudo_count = 1))",
         "group_by parameter must be a string or identifier"},
        {"Categorical(group_by = uniform, pseudo_count = 1)", "Invalid group_by value: uniform"},
        {"Categorical(group_by = s, prior = flat)",
         "Unknown prior identifier: flat (expected 'uniform' or array)"},
        {R"(Categorical(group_by = s, prior = "fl\"at"))",
         R"(Unknown prior string: fl\"at (expected 'uniform'))"},
        {"Categorical(group_by = s, pseudo_count = uniform)",
         "pseudo_count parameter must be a number"},
        {"Categorical(group_by = s, pseudo_count = [1])",
         "pseudo_count parameter must be a number"},
        {"Categorical(group_by = s, pseudo_count = 1, categories = [1])",
         "categories parameter must be an array of strings"},
        {"Categorical(group_by = s, pseudo_count = 1, categories = a)",
         "categories parameter must be an array of strings"},
        {"Categorical(group_by = s, pseudo_count = 1, alpha = 1)",
         "Unknown categorical parameter: alpha"},
        // Parameters are judged in source order.
        {"Categorical(alpha = 1, group_by = 1)", "Unknown categorical parameter: alpha"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(build_error(model_with_posterior(c.posterior)), c.error) << c.posterior;
    }
}

TEST(BuildBeliefModel, NodeAndEdgeDeclarations) {
    const ast::ProgramAst program = parse_program(R"(
        belief_model Model on Schema {
            edge T { exist ~ Bernoulli(weight = 1); exist ~ Bernoulli(weight = 2) }
            node A { x ~ Gaussian(mean = 1); x ~ Gaussian(mean = 2) }
            edge U { weight ~ Gaussian(mean = 3) exist ~ Bernoulli(weight = 4) }
            node A { }
        })");
    using ast::PosteriorType;
    const auto gaussian = [](double mean) {
        return PosteriorType(PosteriorType::Gaussian{{{"prior_mean", mean}}});
    };
    const auto bernoulli = [](double weight) {
        return PosteriorType(PosteriorType::Bernoulli{{{"pseudo_count", weight}}});
    };
    ASSERT_EQ(program.belief_models.size(), 1u);
    const ast::BeliefModel& model = program.belief_models[0];
    EXPECT_EQ(model.name, "Model");
    EXPECT_EQ(model.on_schema, "Schema");
    const std::vector<ast::NodeBeliefDecl> nodes{{"A", {{"x", gaussian(1)}, {"x", gaussian(2)}}},
                                                 {"A", {}}};
    EXPECT_EQ(model.nodes, nodes);
    // The later exist line wins; a weight line is optional.
    const std::vector<ast::EdgeBeliefDecl> edges{{"T", bernoulli(2), std::nullopt},
                                                 {"U", bernoulli(4), gaussian(3)}};
    EXPECT_EQ(model.edges, edges);
}

TEST(BuildBeliefModel, EdgeWithoutExistLineFails) {
    EXPECT_EQ(build_error("belief_model M on S { edge T { weight ~ Gaussian(mean = 1) } }"),
              "Missing exist posterior for edge");
    EXPECT_EQ(build_error("belief_model M on S { edge T { } }"),
              "Missing exist posterior for edge");
}

}  // namespace
}  // namespace morvane::frontend::parser
