// Evidence: what each observation method records, the refusal of changes
// while a run holds the object, and the merge of run-time observations into
// a program block.
#include <gtest/gtest.h>

#include <vector>

#include "frontend/ast.hpp"
#include "python/evidence.hpp"
#include "python/runtime_evidence.hpp"
#include "python_embed.hpp"

namespace morvane::python {
namespace {

namespace ast = frontend::ast;
using ast::EvidenceMode;
using ast::ObserveStmt;
using test_support::EmbeddedPython;

ObserveStmt edge(EvidenceMode mode, std::string src_label = "a") {
    return ObserveStmt::Edge{"E", "S", std::move(src_label), "D", "b", mode};
}

ObserveStmt attribute(std::string label, double value) {
    return ObserveStmt::Attribute{"N", std::move(label), "x", value, std::nullopt};
}

using EvidenceObject = EmbeddedPython;

TEST_F(EvidenceObject, MethodsRecordObservationsInCallOrder) {
    run(R"py(
ev = morvane.Evidence("run", "M")
ev.observe_edge("S", "a", "E", "D", "b", True)
ev.observe_edge(node_type="S", src_id="a", edge_type="E", dst_type="D", dst_id="b", present=False)
ev.observe_edge_chosen("S", "a", "E", "D", "b")
ev.observe_edge_unchosen("S", "a", "E", "D", "b")
ev.observe_edge_forced_choice("S", "a", "E", "D", "b")
ev.observe_numeric("N", "n\0", "x", 2)
)py");
    const std::vector<ObserveStmt> expected = {
        edge(EvidenceMode::Present),      edge(EvidenceMode::Absent),
        edge(EvidenceMode::Chosen),       edge(EvidenceMode::Unchosen),
        edge(EvidenceMode::ForcedChoice), attribute(std::string("n\0", 2), 2.0),
    };
    PyEvidence& evidence = scope["ev"].cast<PyEvidence&>();
    EXPECT_EQ(evidence.observations(), expected);
    run("ev.clear()");
    EXPECT_TRUE(evidence.observations().empty());
}

TEST_F(EvidenceObject, ChangesAreRefusedWhileARunHoldsIt) {
    run(R"py(ev = morvane.Evidence("run", "M"); ev.observe_numeric("N", "n", "x", 1.0))py");
    PyEvidence& evidence = scope["ev"].cast<PyEvidence&>();
    {
        PyEvidence::SharedBorrow outer(evidence);
        {
            PyEvidence::SharedBorrow inner(evidence);  // two runs at once
        }
        run(R"py(
changes = [
    lambda: ev.observe_edge("S", "a", "E", "D", "b", True),
    lambda: ev.observe_edge_chosen("S", "a", "E", "D", "b"),
    lambda: ev.observe_edge_unchosen("S", "a", "E", "D", "b"),
    lambda: ev.observe_edge_forced_choice("S", "a", "E", "D", "b"),
    lambda: ev.observe_numeric("N", "n", "x", 2.0),
    lambda: ev.observe_numeric("N", "n", "x", "not a number"),
    ev.clear,
]
for change in changes:
    try:
        change()
        raise AssertionError("no error")
    except RuntimeError as e:
        assert str(e) == "Already borrowed", str(e)
# Reading is not a change, and a call that does not bind fails as usual.
assert (ev.name, ev.model) == ("run", "M")
try:
    ev.clear(1)
    raise AssertionError("no error")
except TypeError:
    pass
)py");
        EXPECT_EQ(evidence.observations(), std::vector<ObserveStmt>{attribute("n", 1.0)});
    }
    run("ev.clear()");
    EXPECT_TRUE(evidence.observations().empty());
}

TEST(RuntimeEvidenceMerge, ABlockOnTheModelTakesTheRunTimeObservationsAfterItsOwn) {
    ast::EvidenceDef block{"Survey", "M", {attribute("p", 1), edge(EvidenceMode::Present)}, "{ }"};
    const std::vector<ObserveStmt> runtime = {edge(EvidenceMode::Absent, "z"), attribute("q", 2)};

    const auto merged = merge_runtime_observations(block, "M", runtime);
    ASSERT_TRUE(merged);
    EXPECT_EQ(*merged, (ast::EvidenceDef{"Survey_merged_runtime",
                                         "M",
                                         {attribute("p", 1), edge(EvidenceMode::Present),
                                          edge(EvidenceMode::Absent, "z"), attribute("q", 2)},
                                         ""}));

    const auto alone = merge_runtime_observations(block, "M", {});
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->name, "Survey_merged_runtime");
    EXPECT_EQ(alone->observations, block.observations);

    for (const char* other : {"m", "M ", "", "Model"}) {
        EXPECT_FALSE(merge_runtime_observations(block, other, runtime)) << other;
    }
}

}  // namespace
}  // namespace morvane::python
