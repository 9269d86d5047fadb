// Evidence blocks: every written form reduced to one flat observation list.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "frontend_build_test_support.hpp"

namespace morvane::frontend::ast {

void PrintTo(const ObserveStmt& o, std::ostream* os) {
    std::visit(
        [os](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, ObserveStmt::Attribute>) {
                *os << "Attribute(" << x.node_type << "[" << x.node_label << "]." << x.attr
                    << " = " << x.value;
                if (x.precision) *os << " precision " << *x.precision;
            } else {
                *os << x.edge_type << "(" << x.src_type << "[" << x.src_label << "], "
                    << x.dst_type << "[" << x.dst_label << "]";
                if constexpr (std::is_same_v<X, ObserveStmt::Edge>) {
                    *os << " mode " << evidence_mode_name(x.mode);
                } else {
                    *os << " weight " << x.value;
                    if (x.precision) *os << " precision " << *x.precision;
                }
            }
            *os << ")";
        },
        o.node);
}

}  // namespace morvane::frontend::ast

namespace morvane::frontend::parser {
namespace {

using ast::EvidenceMode;
using ast::ObserveStmt;
using testing::build_error;

std::vector<ObserveStmt> observations_of(std::string_view body) {
    const ast::ProgramAst program = parse_program("evidence E on M { " + std::string(body) + " }");
    return program.evidences.at(0).observations;
}

ObserveStmt edge(std::string src, std::string dst, EvidenceMode mode, std::string type = "T") {
    return ObserveStmt::Edge{std::move(type), "A", std::move(src), "B", std::move(dst), mode};
}

ObserveStmt attr(std::string type, std::string label, std::string name, double value,
                 std::optional<double> precision = std::nullopt) {
    return ObserveStmt::Attribute{std::move(type), std::move(label), std::move(name), value,
                                  precision};
}

TEST(BuildEvidence, EveryWrittenFormGivesItsObservations) {
    using enum EvidenceMode;
    const struct {
        const char* body;
        std::vector<ObserveStmt> expected;
    } cases[] = {
        {"observe edge T(A(a), B(b)) present", {edge("a", "b", Present)}},
        {"observe edge T(A(a), B(b)) absent;", {edge("a", "b", Absent)}},
        {"observe edge T(A(a), B(b)) unchosen", {edge("a", "b", Unchosen)}},
        {"observe edge T(A(a), B(b)) forced_choice", {edge("a", "b", ForcedChoice)}},
        // A choose statement and the mode word chosen say the same.
        {"choose edge T(A(a), B(b)) observe edge T(A(a), B(b)) chosen",
         {edge("a", "b", Chosen), edge("a", "b", Chosen)}},
        {"unchoose edge T(A[\"a\"], B(b));", {edge("a", "b", Unchosen)}},
        {"observe edge T(A(a), B(b)) weight = 0.5",
         {ObserveStmt::EdgeWeight{"T", "A", "a", "B", "b", 0.5, std::nullopt}}},
        {"observe edge T(A(a), B(b)) weight = -2 (precision = 4)",
         {ObserveStmt::EdgeWeight{"T", "A", "a", "B", "b", -2.0, 4.0}}},
        {"observe P[\"x\"].age = 30", {attr("P", "x", "age", 30)}},
        {"observe P(x).age = 30.25 (precision = 0.5);", {attr("P", "x", "age", 30.25, 0.5)}},
        // Labels keep their written form: numbers by text, strings unquoted,
        // so a string and an identifier of the same text are one label.
        {R"(observe P(1).a = 1 observe P(1.0).a = 1 observe P(01).a = 1 observe P(-3).a = 1)",
         {attr("P", "1", "a", 1), attr("P", "1.0", "a", 1), attr("P", "01", "a", 1),
          attr("P", "-3", "a", 1)}},
        {R"(observe P("x").a = 1 observe P(x).a = 1 observe P["ab\""].a = 1)",
         {attr("P", "x", "a", 1), attr("P", "x", "a", 1), attr("P", R"(ab\)", "a", 1)}},
        // Node groups: entry by entry, key by key; an entry without keys and
        // a group without entries give nothing.
        {R"(P { x { a: 1, b: 2 (precision = 3) }, "y" { a: 4, b: 5 }, 7 { } } Q { })",
         {attr("P", "x", "a", 1), attr("P", "x", "b", 2, 3.0), attr("P", "y", "a", 4),
          attr("P", "y", "b", 5)}},
        // Edge groups: "->" is present, "-/>" absent; both separators mix.
        {R"(T(A -> B) { a -> b; a -/> "c", 1->d })",
         {edge("a", "b", Present), edge("a", "c", Absent), edge("1", "d", Present)}},
        {"T(A -> B) { }", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(observations_of(c.body), c.expected) << c.body;
}

TEST(BuildEvidence, ObservationsKeepTheInterleavingOfTheSource) {
    const ast::ProgramAst program = parse_program(R"(
        evidence Seen on Model {
            P { x { a: 1 } }
            observe edge T(A(a), B(b)) present
            U(A -> B) { a -/> b }
            observe P(y).a = 2
        })");
    const ast::EvidenceDef& evidence = program.evidences.at(0);
    EXPECT_EQ(evidence.name, "Seen");
    EXPECT_EQ(evidence.on_model, "Model");
    const std::vector<ObserveStmt> expected{attr("P", "x", "a", 1),
                                            edge("a", "b", EvidenceMode::Present),
                                            edge("a", "b", EvidenceMode::Absent, "U"),
                                            attr("P", "y", "a", 2)};
    EXPECT_EQ(evidence.observations, expected);
}

TEST(BuildEvidence, PrecisionAnnotationOtherThanPrecisionFailsWithTheWordsOfItsPlace) {
    const struct {
        const char* body;
        const char* error;
    } cases[] = {
        {"observe edge T(A(a), B(b)) weight = 1 (prec = 2)",
         "Only precision=... is supported in edge weight observation"},
        {"observe A(a).x = 1 (Precision = 2)",
         "Only precision=... is supported in attribute observation"},
        {"A { a { x: 1 (variance = 2) } }", "Only precision=... supported in node entry"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(build_error("evidence E on M { " + std::string(c.body) + " }"), c.error)
            << c.body;
    }
}

}  // namespace
}  // namespace morvane::frontend::parser
