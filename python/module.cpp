// The extension module's entry point.
//
// The init function is written by hand rather than with PYBIND11_MODULE so
// that the module object is made once per process: a re-import in the same
// interpreter returns that same object, and an import from a second
// interpreter is refused with ImportError.
#include <Python.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "python/registry.hpp"

namespace py = pybind11;

namespace {

constexpr const char* kModuleDoc = "morvane Python module definition";
constexpr const char* kSubinterpreterMessage =
    "morvane does not support sub-interpreters: it was already imported by another interpreter "
    "of this process";

// m_size 0 makes CPython call the init function again on a re-import, which
// then hands back the cached module object.
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "morvane",
    kModuleDoc,
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* cached_module = nullptr;
int64_t owner_interpreter = -1;

PyObject* create_module() {
    PyObject* raw = PyModule_Create(&module_def);
    if (raw == nullptr) return nullptr;
    auto module = py::reinterpret_steal<py::module_>(raw);
    py::options options;
    options.disable_function_signatures();
    morvane::python::register_module_contents(module);
    return module.release().ptr();
}

}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_morvane() {
    PYBIND11_CHECK_PYTHON_VERSION
    const int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter < 0) return nullptr;
    if (owner_interpreter != -1 && owner_interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError, kSubinterpreterMessage);
        return nullptr;
    }
    if (cached_module != nullptr) return Py_NewRef(cached_module);
    try {
        pybind11::detail::get_internals();
        PyObject* module = create_module();
        if (module == nullptr) return nullptr;
        owner_interpreter = interpreter;
        cached_module = Py_NewRef(module);
        return module;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_ImportError, e.what());
    }
    return nullptr;
}
