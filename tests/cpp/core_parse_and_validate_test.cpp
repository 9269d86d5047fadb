// The compile entry as a whole: which stage's failure the caller sees, in
// which category, and that a program that passes is the tree the builders
// made.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/parse_program.hpp"

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
