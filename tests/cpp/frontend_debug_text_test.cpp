#include "frontend/debug_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frontend/support/number_text.hpp"
#include "tests/cpp/sample_program.hpp"

namespace morvane::frontend {
namespace {

using namespace ast;
using morvane::testing::field_chain;
using morvane::testing::kDeepShapes;
using morvane::testing::sample_pattern;

TEST(DebugText, WorkedExamples) {
    const PatternItem likes = {{"a", "User"}, {"e", "likes"}, {"b", "User"}};
    const std::pair<std::string, std::string> cases[] = {
        {debug_text(PosteriorType(
             PosteriorType::Gaussian{{{"prior_mean", 0.0}, {"prior_precision", 1.0}}})),
         R"(Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 1.0)] })"},
        {debug_text(PosteriorType(PosteriorType::Bernoulli{{{"prior", 0.5}}})),
         R"(Bernoulli { params: [("prior", 0.5)] })"},
        {debug_text(PosteriorType(PosteriorType::Categorical{
             "source", CategoricalPrior::Uniform{1.0}, std::nullopt})),
         R"(Categorical { group_by: "source", prior: Uniform { pseudo_count: 1.0 }, categories: None })"},
        {debug_text(PosteriorType(
             PosteriorType::Categorical{"source", CategoricalPrior::Explicit{{2.0, 0.5}},
                                        std::vector<std::string>{"a", "b"}})),
         R"(Categorical { group_by: "source", prior: Explicit { concentrations: [2.0, 0.5] }, categories: Some(["a", "b"]) })"},
        {debug_text(CategoricalPrior(CategoricalPrior::Explicit{{}})),
         "Explicit { concentrations: [] }"},
        {debug_text(EvidenceMode::ForcedChoice), "ForcedChoice"},
        {debug_text(EvidenceMode::Present), "Present"},
        {debug_text(binary(BinaryOp::Add, var("x"), number(1.0))),
         R"(Binary { op: Add, left: Var("x"), right: Number(1.0) })"},
        {debug_text(call("E", {positional(field(var("n"), "score"))})),
         R"(Call { name: "E", args: [Positional(Field { target: Var("n"), field: "score" })] })"},
        {debug_text(named("label", var("User"))), R"(Named { name: "label", value: Var("User") })"},
        {debug_text(unary(UnaryOp::Not, boolean(true))), "Unary { op: Not, expr: Bool(true) }"},
        {debug_text(exists(likes, std::nullopt, false)),
         R"(Exists { pattern: PatternItem { src: NodePattern { var: "a", label: "User" }, edge: EdgePattern { var: "e", ty: "likes" }, dst: NodePattern { var: "b", label: "User" } }, where_expr: None, negated: false })"},
        {debug_text(exists(likes, binary(BinaryOp::Gt, var("w"), number(-0.0)), true)),
         R"(Exists { pattern: PatternItem { src: NodePattern { var: "a", label: "User" }, edge: EdgePattern { var: "e", ty: "likes" }, dst: NodePattern { var: "b", label: "User" } }, where_expr: Some(Binary { op: Gt, left: Var("w"), right: Number(-0.0) }), negated: true })"},
        {debug_text(call("", {})), R"(Call { name: "", args: [] })"},
        {debug_text(unary(UnaryOp::Neg, field(field(var("a"), "b"), "c"))),
         R"(Unary { op: Neg, expr: Field { target: Field { target: Var("a"), field: "b" }, field: "c" } })"},
        {debug_text(binary(BinaryOp::Sub, binary(BinaryOp::Mul, number(2.0), var("y")),
                           binary(BinaryOp::Or, boolean(false), number(1e-5)))),
         R"(Binary { op: Sub, left: Binary { op: Mul, left: Number(2.0), right: Var("y") }, right: Binary { op: Or, left: Bool(false), right: Number(1e-5) } })"},
        {debug_text(UnaryOp::Neg), "Neg"},
        {debug_text(BinaryOp::Ge), "Ge"},
        {debug_text(std::vector<std::string>{"a", "it's"}), R"(["a", "it's"])"},
        {debug_text(std::vector<std::string>{}), "[]"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

TEST(DebugText, OperatorNamesInCodeOrder) {
    const char* names[] = {"Add", "Sub", "Mul", "Div", "Eq", "Ne",
                           "Lt",  "Le",  "Gt",  "Ge",  "And", "Or"};
    for (int code = 0; code < 12; ++code) {
        EXPECT_EQ(binary_op_name(static_cast<BinaryOp>(code)), names[code]);
    }
    const char* modes[] = {"Present", "Absent", "Chosen", "Unchosen", "ForcedChoice"};
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(evidence_mode_name(static_cast<EvidenceMode>(code)), modes[code]);
    }
}

// Numbers inside a printed value use the debug form; the plain form is for
// numbers standing alone in a message.
TEST(DebugText, NumberBoundaries) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* debug;
        const char* plain;
    } cases[] = {
        {1.0, "1.0", "1"},
        {0.5, "0.5", "0.5"},
        {-2.0, "-2.0", "-2"},
        {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
        {0.0001, "0.0001", "0.0001"},
        {0.00009, "9e-5", "0.00009"},
        {1e-5, "1e-5", "0.00001"},
        {1.5e-7, "1.5e-7", "0.00000015"},
        {1e15, "1000000000000000.0", "1000000000000000"},
        {1e16, "1e16", "10000000000000000"},
        {std::nextafter(1e16, 0.0), "9999999999999998.0", "9999999999999998"},
        {1.2345e20, "1.2345e20", "123450000000000000000"},
        {5e-324, "5e-324", nullptr},
        {1.7976931348623157e308, "1.7976931348623157e308", nullptr},
        {0.0, "0.0", "0"},
        {-0.0, "-0.0", "-0"},
        {std::nan(""), "NaN", "NaN"},
        {-std::nan(""), "NaN", "NaN"},
        {inf, "inf", "inf"},
        {-inf, "-inf", "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(debug_text(number(c.value)), std::string("Number(") + c.debug + ")");
        if (c.plain) {
            EXPECT_EQ(support::plain_number(c.value), c.plain) << c.debug;
        }
    }
}

TEST(DebugText, StringEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"", R"("")"},
        {"it's", R"("it's")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"tab\there\r\n", R"("tab\there\r\n")"},
        {std::string("nul\0end", 7), R"("nul\0end")"},
        {"\x7f", R"("\u{7f}")"},                       // DEL
        {"\xc2\xa0", R"("\u{a0}")"},                   // no-break space
        {"\xc2\xad", R"("\u{ad}")"},                   // soft hyphen
        {"e\xcc\x81", R"("e\u{301}")"},                // combining acute accent
        {"caf\xc3\xa9 \xe2\x86\x92", "\"caf\xc3\xa9 \xe2\x86\x92\""},  // printable, unchanged
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(debug_text(var(text)), "Var(" + expected + ")");
    }
}

std::string repeated(std::string_view part, size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (size_t i = 0; i < times; ++i) out += part;
    return out;
}

// Each deep shape prints as the depth-one text with its opening repeated
// before Var("x") and its closing after it.
TEST(DebugText, DeepExpressionsPrintWithoutRecursion) {
    const std::string_view leaf = R"(Var("x"))";
    for (const auto& shape : kDeepShapes) {
        SCOPED_TRACE(shape.name);
        const std::string once = debug_text(shape.make(1));
        const size_t at = once.find(leaf);
        ASSERT_NE(at, std::string::npos);
        const std::string_view open = std::string_view(once).substr(0, at);
        const std::string_view close = std::string_view(once).substr(at + leaf.size());
        const std::string deep = debug_text(shape.make(shape.depth));
        EXPECT_TRUE(deep == repeated(open, shape.depth) + std::string(leaf) +
                                repeated(close, shape.depth));
    }
    EXPECT_EQ(
        debug_text(field_chain(3)),
        R"(Field { target: Field { target: Field { target: Var("x"), field: "a" }, field: "a" }, field: "a" })");
}

}  // namespace
}  // namespace morvane::frontend
