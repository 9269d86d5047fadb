// The mapping of engine errors to Python exceptions, for every category
// (Numerical included, which no run produces today), as raised from a
// function of the binding; and a broken invariant met in a run, raised as
// PanicException.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/engine/errors.hpp"
#include "core/engine/flow_exec.hpp"
#include "core/engine/graph.hpp"
#include "python/context.hpp"
#include "python/errors.hpp"
#include "python_embed.hpp"

namespace morvane::python {
namespace {

using core::engine::ExecError;
using core::engine::ExecErrorKind;
using test_support::EmbeddedPython;
namespace py = pybind11;

using ErrorMapping = EmbeddedPython;

TEST_F(ErrorMapping, EveryCategoryRaisesItsExceptionWithItsPrefix) {
    struct Case {
        ExecErrorKind kind;
        const char* expected;  // Python: (exception type, message)
    };
    const Case cases[] = {
        {ExecErrorKind::Parse, "(ValueError, 'Parse error: a\\0b')"},
        {ExecErrorKind::Validation, "(ValueError, 'Validation error: a\\0b')"},
        {ExecErrorKind::Execution, "(RuntimeError, 'Execution error: a\\0b')"},
        {ExecErrorKind::Numerical, "(RuntimeError, 'Numerical error: a\\0b')"},
        {ExecErrorKind::Internal, "(RuntimeError, 'Internal error: a\\0b')"},
    };
    for (const Case& c : cases) {
        const ExecError error{c.kind, std::string("a\0b", 3)};
        scope["fail"] = py::cpp_function([error] { throw error; });
        scope["mapped"] = map_exec_error(error);
        scope["expected"] = py::eval(c.expected, scope);
        run(R"py(
try:
    fail()
    raise AssertionError("no error")
except Exception as e:
    assert (type(e), str(e)) == expected, (type(e), str(e))
assert (type(mapped), str(mapped)) == expected
)py");
    }
}

// A competing edge whose category lies beyond its group's: a graph no
// program can make, handed to a run as a prior's export. Reading its
// probability breaks an invariant (support::Panic) inside the run.
TEST_F(ErrorMapping, APanicInARunRaisesPanicExceptionOnEveryPath) {
    using namespace core::engine;
    BeliefGraph broken;
    broken.add_node("A", {});
    broken.ensure_owned();
    broken.competing_groups_mut().insert_or_assign(
        CompetingGroupId{0}, CompetingEdgeGroup(CompetingGroupId{0}, NodeId{0}, "r", {NodeId{0}},
                                                DirichletPosterior({1})));
    broken.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{CompetingGroupId{0}, 5}},
                                SharedText("r"), EdgeId{0}, NodeId{0}, NodeId{0}});
    FlowResult prior;
    prior.exports.insert_or_assign("broken", std::move(broken));
    scope["ctx"] = py::cast(from_flow_result(std::move(prior)));
    testing::internal::CaptureStderr();
    run(R"py(
program = morvane.compile("""
schema S { node A {} edge r {} }
belief_model M on S { edge r { exist ~ Categorical(group_by = source, pseudo_count = 1) } }
flow F on M {
    graph g = from_graph "broken"
    graph h = g |> prune_edges r where prob(edge) < 0.5
}
flow Count on M { graph g = from_graph "broken" metric n = nodes(A) |> count() }
""")
caught = []
for run in (lambda: morvane.run_flow_with_context(program, "F", ctx),
            lambda: morvane.run_flow_with_evidence(program, "F", morvane.Evidence("e", "M"), ctx)):
    try:
        run()
    except Exception:
        raise AssertionError("caught as an Exception")
    except BaseException as error:
        caught.append(error)
first, second = caught
panic = type(first)
assert type(second) is panic
assert panic.__name__ == "PanicException"
assert panic.__bases__ == (BaseException,)
assert first.args == ("Category index out of bounds",)
assert str(first) == "Category index out of bounds"
assert not hasattr(morvane, "PanicException")
# The lock was taken back: the module goes on working.
assert morvane.run_flow_with_context(program, "Count", ctx).get_metric("n") == 1.0
)py");
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string report = "panicked: Category index out of bounds\n";
    std::size_t reports = 0;
    for (std::size_t at = err.find(report); at != std::string::npos; at = err.find(report, at + 1))
        ++reports;
    EXPECT_EQ(reports, 2u) << err;
}

}  // namespace
}  // namespace morvane::python
