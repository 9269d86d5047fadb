#include "python/errors.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "frontend/support/panic.hpp"

namespace py = pybind11;

namespace morvane::python {

using core::engine::ExecError;
using core::engine::ExecErrorKind;

namespace {

struct Mapping {
    PyObject* type;
    const char* prefix;
};

Mapping mapping_for(ExecErrorKind kind) {
    switch (kind) {
        case ExecErrorKind::Parse: return {PyExc_ValueError, "Parse error: "};
        case ExecErrorKind::Validation: return {PyExc_ValueError, "Validation error: "};
        case ExecErrorKind::Execution: return {PyExc_RuntimeError, "Execution error: "};
        case ExecErrorKind::Numerical: return {PyExc_RuntimeError, "Numerical error: "};
        case ExecErrorKind::Internal: return {PyExc_RuntimeError, "Internal error: "};
    }
    return {PyExc_RuntimeError, "Internal error: "};
}

py::str mapped_message(const ExecError& error) {
    return make_str(std::string(mapping_for(error.kind).prefix) + error.message);
}

}  // namespace

py::str make_str(std::string_view text) {
    PyObject* s = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

py::object map_exec_error(const ExecError& error) {
    py::handle type(mapping_for(error.kind).type);
    return type(mapped_message(error));
}

void set_exec_error(const ExecError& error) {
    PyErr_SetObject(mapping_for(error.kind).type, mapped_message(error).ptr());
}

py::handle panic_exception_type() {
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "morvane.PanicException",
        "The exception raised when morvane meets a broken invariant.\n\n"
        "It derives from BaseException, so `except Exception` does not catch it.",
        PyExc_BaseException, nullptr);
    if (type == nullptr) throw py::error_already_set();
    return type;
}

void set_panic(std::string_view message) {
    std::string report = "panicked: ";
    report.append(message);
    report += '\n';
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
    PyErr_SetObject(panic_exception_type().ptr(), make_str(message).ptr());
}

void register_error_translation() {
    py::register_exception_translator([](std::exception_ptr pending) {
        try {
            std::rethrow_exception(pending);
        } catch (const ExecError& error) {
            set_exec_error(error);
        } catch (const support::Panic& p) {
            set_panic(p.message());
        } catch (const py::error_already_set&) {
            throw;  // pybind11 restores these itself
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& e) {
            set_panic(e.what());
        }
    });
}

}  // namespace morvane::python
