// Programs, schemas, belief models and posteriors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend_parser_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::ErrorAt;
using testing::expect_error_at;
using testing::parses;
using testing::span_text;
using testing::subtree;

const std::string kAfterDecl =
    "expected EOI, kw_schema_tok, kw_belief_model_tok, kw_evidence_tok, kw_rule_tok, or "
    "kw_flow_tok";

std::string model(const std::string& body) { return "belief_model M on S { " + body + " }"; }
std::string node_belief(const std::string& entry) { return model("node N { " + entry + " }"); }
std::string edge_belief(const std::string& entry) { return model("edge E { " + entry + " }"); }

TEST(ParserPrograms, DeclarationsInSourceOrderThenEoi) {
    EXPECT_EQ(subtree("schema S {}\nflow f on m {}\nschema T {}", Rule::program),
              "program [schema_decl [kw_schema_tok \"schema\", ident \"S\", block_schema \"{}\"], "
              "flow_decl [kw_flow_tok \"flow\", ident \"f\", kw_on_tok \"on\", ident \"m\", "
              "flow_body \"\"], schema_decl [kw_schema_tok \"schema\", ident \"T\", block_schema "
              "\"{}\"], EOI \"\"]");
    expect_error_at({"schema A {}@;", kAfterDecl});
    expect_error_at({"  @belief model", kAfterDecl});
    expect_error_at({"@;", "expected program"});
}

TEST(ParserSchemas, NodesEdgesAndAttributes) {
    EXPECT_EQ(subtree("schema S { node N { a: Real; b : Int } edge E { /* none */ } node P {} }",
                      Rule::schema_decl),
              "schema_decl [kw_schema_tok \"schema\", ident \"S\", block_schema [node_decl "
              "[kw_node_tok \"node\", ident \"N\", attr_decl [ident \"a\", ident \"Real\"], "
              "attr_decl [ident \"b\", ident \"Int\"]], edge_decl [kw_edge_tok \"edge\", ident "
              "\"E\"], node_decl [kw_node_tok \"node\", ident \"P\"]]]");
    // Keywords are names wherever a name is asked for.
    EXPECT_TRUE(parses("schema schema { node node { on: weight exist: edge } edge exist {} }"));
    expect_error_at({"schema A { node X { a: Real;@; } }", "expected ident"});
    expect_error_at({"schema A { node X {}@; }", "expected kw_node_tok or kw_edge_tok"});
    // Nothing tracked fails inside an edge's braces, so the edge is named.
    expect_error_at({"schema A { @edge E { a: b } }", "expected edge_decl or kw_node_tok"});
}

TEST(ParserSchemas, SpansOfDeclarations) {
    const std::string text = "schema A { node X { a: Real } }";
    EXPECT_EQ(span_text(text, Rule::attr_decl), "a: Real ");
    EXPECT_EQ(span_text(text, Rule::node_decl), "node X { a: Real }");
    EXPECT_EQ(span_text("schema A { node X { a: Real; } }", Rule::attr_decl), "a: Real;");
    EXPECT_EQ(span_text("schema A { node X { a: Real // c\n } }", Rule::attr_decl),
              "a: Real // c\n ");
}

TEST(ParserBeliefModels, PosteriorFamilies) {
    EXPECT_EQ(
        subtree(model("node N { x ~ Gaussian(mean = -1.5, precision = 2) } edge E { exist ~ "
                      "Bernoulli(prior = 0.5); weight ~ GaussianPosterior(mean = 0, precision = 1) "
                      "}"),
                Rule::belief_model_decl),
        "belief_model_decl [kw_belief_model_tok \"belief_model\", ident \"M\", kw_on_tok \"on\", "
        "ident \"S\", belief_model_body [node_belief_decl [kw_node_tok \"node\", ident \"N\", "
        "attr_belief_decl [ident \"x\", posterior_type > gaussian_posterior [gaussian_param [ident "
        "\"mean\", number \"-1.5\"], gaussian_param [ident \"precision\", number \"2\"]]]], "
        "edge_belief_decl [kw_edge_tok \"edge\", ident \"E\", exist_belief_decl > posterior_type > "
        "bernoulli_posterior > bernoulli_param [ident \"prior\", number \"0.5\"], "
        "edge_weight_belief_decl [kw_weight_tok \"weight\", posterior_type > gaussian_posterior "
        "[gaussian_param [ident \"mean\", number \"0\"], gaussian_param [ident \"precision\", "
        "number \"1\"]]]]]]");
    EXPECT_EQ(
        subtree(node_belief("c ~ CategoricalPosterior(group_by = source, prior = uniform, "
                            "categories = [\"a\", \"b\"], k = 2, alpha = [1, 2.5], s = \"uniform\", "
                            "u = Uniform)"),
                Rule::categorical_posterior),
        "categorical_posterior [categorical_param [ident \"group_by\", categorical_param_value > "
        "ident \"source\"], categorical_param [ident \"prior\", categorical_param_value "
        "\"uniform\"], categorical_param [ident \"categories\", categorical_param_value > "
        "categorical_categories_array [string \"\"a\"\", string \"\"b\"\"]], categorical_param "
        "[ident \"k\", categorical_param_value > number \"2\"], categorical_param [ident "
        "\"alpha\", categorical_param_value > prior_array [number \"1\", number \"2.5\"]], "
        "categorical_param [ident \"s\", categorical_param_value > string \"\"uniform\"\"], "
        "categorical_param [ident \"u\", categorical_param_value > ident \"Uniform\"]]");
    // Both spellings of a family leave the same pairs.
    for (const char* family : {"Gaussian", "Bernoulli", "Categorical"}) {
        const std::string short_form = std::string(family) + "(p = 1)";
        const std::string long_form = std::string(family) + "Posterior(p = 1)";
        EXPECT_EQ(subtree(node_belief("x ~ " + short_form), Rule::posterior_type),
                  subtree(node_belief("x ~ " + long_form), Rule::posterior_type));
    }
    EXPECT_EQ(span_text(model("node N {} /* c */"), Rule::belief_model_body),
              "{ node N {} /* c */ }");
}

TEST(ParserBeliefModels, AcceptedAndRefusedEntries) {
    for (const std::string& text : {
             node_belief("exist ~ Bernoulli(p = 1) weight ~ Bernoulli(p = 1)"),
             edge_belief("exist /* c */ ~ Bernoulli(p = 1) exist ~ Bernoulli(p = 2)"),
             edge_belief(""),
             node_belief("x ~ Gaussian /* c */ (mean /* c */ = 1)"),
             model("node N /* c */ {} edge E {}"),
         }) {
        EXPECT_TRUE(parses(text)) << text;
    }
    const std::string head = "belief_model M on S { node N { x ~ ";
    const std::string edge_head = "belief_model M on S { edge E { ";
    for (const ErrorAt& c : std::vector<ErrorAt>{
             {head + "Gaussian(mean = 1);@; } }", "expected ident"},
             {edge_head + "exist ~ Bernoulli(p = 1);@; } }",
              "expected exist_belief_decl or kw_weight_tok"},
             {edge_head + "weight ~ Gaussian(m = 1);@; } }",
              "expected exist_belief_decl or kw_weight_tok"},
             {head + "@Poisson(mean = 1) } }", "expected posterior_type"},
             {head + "@GaussianX(mean = 1) } }", "expected posterior_type"},
             {head + "Gaussian(@) } }", "expected ident"},
             {edge_head + "@existence ~ Bernoulli(p = 1) } }",
              "expected exist_belief_decl or kw_weight_tok"},
             {edge_head + "@prior ~ Bernoulli(p = 1) } }",
              "expected exist_belief_decl or kw_weight_tok"},
             {edge_head + "@weights ~ Bernoulli(p = 1) } }",
              "expected exist_belief_decl or kw_weight_tok"},
             {head + "Gaussian(mean = @+1.5) } }", "expected number"},
             {head + "Gaussian(mean = @- 1.5) } }", "expected number"},
             {head + "Gaussian(mean = @.5) } }", "expected number"},
         }) {
        expect_error_at(c);
    }
    for (const char* value : {"1e5", "1.", "uniformity", "uniform_2", "[]", "[1, \"a\"]"}) {
        EXPECT_FALSE(parses(node_belief(std::string("c ~ Categorical(v = ") + value + ")")))
            << value;
    }
}

}  // namespace
}  // namespace morvane::frontend::parser
