// The declaration walk, the schema builder and the pair helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using testing::build_error;

template <typename T>
std::vector<std::string> names_of(const std::vector<T>& items) {
    std::vector<std::string> names;
    for (const T& item : items) names.push_back(item.name);
    return names;
}

TEST(BuildProgram, SourcesWithoutDeclarationsGiveAnEmptyProgram) {
    for (const char* source : {"", " \n\t\r\n", "// only a comment", "/* a */ // b\n/* c */"}) {
        EXPECT_EQ(parse_program(source), ast::ProgramAst{}) << source;
    }
}

TEST(BuildProgram, DeclarationsLandInTheirOwnListsInSourceOrder) {
    // A flow before the model it names, two schemas of one name, every kind
    // interleaved with the others.
    const ast::ProgramAst program = parse_program(R"(
        flow F1 on M1 { }
        schema S { }
        rule R1 on M1 { }
        belief_model M1 on S { }
        evidence E1 on M1 { }
        schema S { node N { } }
        flow F2 on M1 { }
        evidence E2 on M1 { }
        rule R2 on M1 { }
        belief_model M2 on S { }
    )");
    EXPECT_EQ(names_of(program.schemas), (std::vector<std::string>{"S", "S"}));
    EXPECT_EQ(program.schemas[1].nodes.size(), 1u);
    EXPECT_EQ(names_of(program.belief_models), (std::vector<std::string>{"M1", "M2"}));
    EXPECT_EQ(names_of(program.evidences), (std::vector<std::string>{"E1", "E2"}));
    EXPECT_EQ(names_of(program.rules), (std::vector<std::string>{"R1", "R2"}));
    EXPECT_EQ(names_of(program.flows), (std::vector<std::string>{"F1", "F2"}));
    EXPECT_EQ(program.flows[0].on_model, "M1");
}

TEST(BuildProgram, SchemaKeepsNodesEdgesAndAttributeTypesAsWritten) {
    const ast::ProgramAst program = parse_program(R"(
        schema Social {
            edge KNOWS { /* nothing */ }
            node Person { age: Real; name :Text ; score:weird_Type }
            node Empty { }
            edge LIKES { }
            node Person { age : Real }
        })");
    const ast::Schema expected{
        "Social",
        {{"Person", {{"age", "Real"}, {"name", "Text"}, {"score", "weird_Type"}}},
         {"Empty", {}},
         {"Person", {{"age", "Real"}}}},
        {{"KNOWS"}, {"LIKES"}}};
    ASSERT_EQ(program.schemas.size(), 1u);
    EXPECT_EQ(program.schemas[0], expected);
}

TEST(BuildProgram, SyntaxErrorCarriesTheParseErrorTextUnchanged) {
    const std::string source = "schema S {\n  node N { x: }\n}";
    const ParseResult parsed = CorventaParser::parse(Rule::program, source);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(build_error(source), parsed.error().text());
    EXPECT_TRUE(build_error(source).starts_with(" --> 2:15\n")) << build_error(source);
}

TEST(BuildProgram, FirstFailingDeclarationEndsTheWalk) {
    // The second declaration fails; the third would fail differently.
    const char* source = R"(
        schema S { }
        flow F on M { metric m = nodes(P) |> where x > 1 }
        belief_model M on S { edge T { weight ~ Gaussian(mean = 1) } }
    )";
    EXPECT_EQ(build_error(source), "Missing terminal aggregate in metric builder");
}

TEST(BuildProgram, BodySourceIsTheBodyFromBraceToBrace) {
    const std::string model_body =
        "{\n    // model comment\n    node N { x ~ Gaussian(mean = 0) }\n}";
    const std::string evidence_body = "{ /* nothing\n observed */ }";
    const ast::ProgramAst program = parse_program("belief_model M on S   " + model_body +
                                                  "\nevidence E on M\n\t" + evidence_body + "\n");
    EXPECT_EQ(program.belief_models[0].body_src, model_body);
    EXPECT_EQ(program.evidences[0].body_src, evidence_body);
    EXPECT_EQ(parse_program("belief_model M on S {}").belief_models[0].body_src, "{}");
}

TEST(PairHelpers, UnquoteStringTrimsWholeQuoteRunsWithoutUnescaping) {
    const struct {
        const char* text;
        const char* unquoted;
    } cases[] = {
        {R"("")", ""},           {R"("a")", "a"},
        {R"("ab\"")", R"(ab\)"}, {R"("a\"b")", R"(a\"b)"},
        {R"("""x""")", "x"},     {R"(")", ""},
        {"plain", "plain"},      {R"("a\\n")", R"(a\\n)"},
    };
    for (const auto& c : cases) EXPECT_EQ(unquote_string(c.text), c.unquoted) << c.text;
}

TEST(PairHelpers, ExtractConsumesUpToTheFoundPairAndContinuesAfterIt) {
    const std::string text = R"(export g as "out")";
    const ParseResult parsed = CorventaParser::parse(Rule::export_stmt, text);
    ASSERT_TRUE(parsed);
    Pairs inner = parsed.tree().pairs().peek()->into_inner();  // kw, ident, kw, string
    EXPECT_EQ(extract_ident(inner, "no graph"), "g");
    EXPECT_EQ(inner.peek()->as_rule(), Rule::kw_as_tok);
    EXPECT_EQ(extract_string(inner, "no alias"), "out");
    EXPECT_TRUE(inner.empty());
    try {
        extract_ident(inner, "Missing graph name in export");
        FAIL() << "extract_ident found a pair in an empty sequence";
    } catch (const FrontendError& error) {
        EXPECT_EQ(error.parse_text(), "Missing graph name in export");
    }
    // The string search drops the identifier it passes over.
    Pairs again = parsed.tree().pairs().peek()->into_inner();
    EXPECT_EQ(extract_string(again, "no alias"), "out");
    EXPECT_TRUE(again.empty());
}

TEST(PairHelpers, BlockSrcCopiesThePairsSpan) {
    const std::string text = "evidence E on M  { observe A(a).x = 1 }";
    const ParseResult parsed = CorventaParser::parse(Rule::program, text);
    ASSERT_TRUE(parsed);
    const Pair decl = *parsed.tree().pairs().peek()->into_inner().peek();
    EXPECT_EQ(block_src(decl, text), text);
    EXPECT_EQ(block_src(*decl.into_inner().last(), text), "{ observe A(a).x = 1 }");
}

}  // namespace
}  // namespace morvane::frontend::parser
