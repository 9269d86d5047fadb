// An interpreter for the binding's tests, with the module importable as
// `morvane` and the build environment's packages (pandas, networkx) on the
// path. It is started by the first test that needs it and lives until the
// process ends.
#pragma once

#include <pybind11/embed.h>

#include <gtest/gtest.h>

#include <string>

extern "C" PyObject* PyInit_morvane();

namespace morvane::python::test_support {

namespace py = pybind11;

inline void start_interpreter() {
    static const bool started = [] {
        PyImport_AppendInittab("morvane", &PyInit_morvane);
        py::initialize_interpreter();
        py::module_::import("site").attr("addsitedir")(MORVANE_PYTHON_SITE_PACKAGES);
        return true;
    }();
    (void)started;
}

// A test whose body runs Python snippets against values placed in `scope`.
class EmbeddedPython : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_interpreter(); }

    void SetUp() override {
        scope = py::dict();
        scope["morvane"] = py::module_::import("morvane");
    }
    void TearDown() override { scope = py::dict(); }

    // Runs `code` in the test's scope; a Python failure fails the test with
    // its traceback text.
    void run(const char* code) {
        try {
            py::exec(code, scope);
        } catch (const py::error_already_set& e) {
            ADD_FAILURE() << e.what();
        }
    }

    py::dict scope;
};

}  // namespace morvane::python::test_support
