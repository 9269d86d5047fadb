// The mapping of engine errors to Python exceptions, for every category
// (Numerical included, which no run produces today), as raised from a
// function of the binding.
#include <gtest/gtest.h>

#include <string>

#include "core/engine/errors.hpp"
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

}  // namespace
}  // namespace morvane::python
