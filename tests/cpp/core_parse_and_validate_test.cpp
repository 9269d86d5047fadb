// The compile entry as a whole: which stage's failure the caller sees, in
// which category, and that a program that passes is the tree the builders
// made.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_program.hpp"
#include "small_stack.hpp"

namespace morvane::core {
namespace {

using engine::ExecError;
using engine::ExecErrorKind;

// A model that the validator refuses (its schema does not exist).
constexpr const char* kInvalidModel =
    "belief_model M on Missing { node N { x ~ Gaussian(mean = 0) } }\n";

TEST(ParseAndValidate, EachStageFailsInItsOwnCategory) {
    const struct {
        std::string source;
        ExecErrorKind kind;
        std::string message;
    } cases[] = {
        // A construction error stays a parse error, and the validator never
        // sees the program: the invalid model before it goes unreported.
        {std::string(kInvalidModel) + "flow F on M { metric m = nodes(P) |> where x }",
         ExecErrorKind::Parse, "Missing terminal aggregate in metric builder"},
        {std::string(kInvalidModel) + "belief_model K on S { edge T { } }", ExecErrorKind::Parse,
         "Missing exist posterior for edge"},
        // A pipeline nested in an expression is no construction error, so
        // the validator runs and reports the model.
        {std::string(kInvalidModel) + "flow F on M { metric m = (nodes(P) |> where x) + 0 }",
         ExecErrorKind::Validation,
         "validation error [belief_model 'M']: Belief model 'M' references unknown schema "
         "'Missing' (at 1:1-1:64)"},
    };
    for (const auto& c : cases) {
        try {
            parse_and_validate(c.source);
            ADD_FAILURE() << "compiled: " << c.source;
        } catch (const ExecError& error) {
            EXPECT_EQ(error.kind, c.kind) << c.source;
            EXPECT_EQ(error.message, c.message) << c.source;
        }
    }
}

TEST(ParseAndValidate, SyntaxErrorKeepsTheParseErrorText) {
    const std::string source = std::string(kInvalidModel) + "schema A {} /* open";
    std::string expected;
    try {
        frontend::parser::parse_program(source);
    } catch (const frontend::FrontendError& error) {
        expected = error.parse_text();
    }
    ASSERT_TRUE(expected.starts_with(" --> 2:13\n")) << expected;
    try {
        parse_and_validate(source);
        ADD_FAILURE() << "compiled";
    } catch (const ExecError& error) {
        EXPECT_EQ(error.kind, ExecErrorKind::Parse);
        EXPECT_EQ(error.message, expected);
    }
}

// A text over 4 GiB is refused by its length alone. The text here is
// address space that any read would fault on, so the refusal provably
// neither reads nor copies it.
TEST(ParseAndValidate, TextOverFourGibibytesIsRefusedWithoutReadingIt) {
    const size_t size = (size_t{1} << 32) + 1;
    void* const block =
        mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED) GTEST_SKIP() << "no room for 4 GiB of address space";
    const std::string_view source(static_cast<const char*>(block), size);
    try {
        parse_and_validate(source);
        ADD_FAILURE() << "compiled";
    } catch (const ExecError& error) {
        EXPECT_EQ(error.kind, ExecErrorKind::Parse);
        EXPECT_EQ(error.message, "source text too large (more than 4294967295 bytes)");
    }
    munmap(block, size);
}

std::string compile_outcome(std::string_view source) {
    try {
        parse_and_validate(source);
        return "ok";
    } catch (const ExecError& error) {
        return error.message;
    }
}

// The largest n for which text(n) parses, by bisection.
size_t deepest_parsing(const std::function<std::string(size_t)>& text) {
    size_t parses = 1;
    size_t fails = size_t{1} << 15;
    while (fails - parses > 1) {
        const size_t mid = (parses + fails) / 2;
        const bool ok = bool(frontend::parser::CorventaParser::parse(
            frontend::parser::Rule::program, text(mid)));
        (ok ? parses : fails) = mid;
    }
    return parses;
}

// Every form of nesting the parser accepts, at the deepest nesting it
// accepts, compiles on a 256 KiB stack: parsing, building and validating
// hold their work on the heap, never on the machine stack.
TEST(ParseAndValidate, DeepestNestingOfEachFormCompilesOnASmallStack) {
    using morvane::testing::repeat;
    const auto metric = [](const std::string& e) {
        return "flow F on M {\n metric m = " + e + "\n}\n";
    };
    const auto rule = [](const std::string& e) {
        return "rule R on M {\n pattern (a:P)-[e:K]->(b:P)\n where " + e + "\n}\n";
    };
    const auto prune = [](const std::string& e) {
        return "flow F on M {\n graph g = base |> prune_edges K where " + e + "\n}\n";
    };
    const struct {
        const char* form;
        std::function<std::string(size_t)> text;
        std::string outcome;
    } forms[] = {
        {"parentheses", [&](size_t n) { return metric(repeat("(", n) + "1" + repeat(")", n)); },
         "ok"},
        {"negations", [&](size_t n) { return metric(repeat("-", n) + "1"); }, "ok"},
        {"not", [&](size_t n) { return rule(repeat("not ", n) + "true"); }, "ok"},
        {"metric calls",
         [&](size_t n) { return metric(repeat("abs(", n) + "1" + repeat(")", n)); }, "ok"},
        {"rule calls", [&](size_t n) { return rule(repeat("f(", n) + "a" + repeat(")", n)); },
         "ok"},
        {"prune calls",
         [&](size_t n) { return prune(repeat("f(", n) + "weight(edge)" + repeat(")", n)); },
         "ok"},
        {"exists",
         [&](size_t n) {
             return rule(repeat("exists (a:P)-[e:K]->(b:P) where ", n) + "prob(e) > 0.5");
         },
         "ok"},
        {"builders",
         [&](size_t n) {
             return metric(repeat("nodes(P) |> sum(by = ", n) + "1" + repeat(")", n));
         },
         "ok"},
        {"pipelines in steps",
         [&](size_t n) { return metric(repeat("nodes(P) |> where ", n) + "1 |> count()"); },
         "Missing terminal aggregate in metric builder"},
    };
    for (const auto& f : forms) {
        const size_t parses = deepest_parsing(f.text);
        const size_t too_deep = parses + 1;
        const std::string deepest = f.text(parses);
        EXPECT_TRUE(compile_outcome(f.text(too_deep))
                        .ends_with("= nesting too deep (more than 12000 nested rules)"))
            << f.form;
        std::string outcome;
        morvane::testing::run_on_stack_of(256 * 1024, [&] { outcome = compile_outcome(deepest); });
        EXPECT_EQ(outcome, f.outcome) << f.form << " at " << parses << " levels";
    }
    // A pipeline is a repetition, not a nesting: as long as it likes.
    std::string outcome;
    const std::string pipeline =
        metric("nodes(P)" + repeat(" |> where 1 > 0", 20000) + " |> count()");
    morvane::testing::run_on_stack_of(256 * 1024, [&] { outcome = compile_outcome(pipeline); });
    EXPECT_EQ(outcome, "ok");
}

TEST(ParseAndValidate, ValidProgramIsTheBuiltTree) {
    std::ifstream in(std::string(MORVANE_FIXTURES_DIR) + "/programs/supply_chain.mv",
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(parse_and_validate(source), frontend::parser::parse_program(source));
}

}  // namespace
}  // namespace morvane::core
