#include "python/args.hpp"

#include <vector>

#include "python/errors.hpp"

namespace py = pybind11;

namespace morvane::python {

void throw_type_error(std::string_view message) {
    PyErr_SetObject(PyExc_TypeError, make_str(message).ptr());
    throw py::error_already_set();
}

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

[[noreturn]] void too_many_positional(const Signature& sig, size_t given) {
    const size_t total = sig.params.size();
    std::string message = sig.display_name;
    if (sig.required != total) {
        message += " takes from " + std::to_string(sig.required) + " to " + std::to_string(total);
    } else {
        message += " takes " + std::to_string(total);
    }
    message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
               " given";
    throw_type_error(message);
}

}  // namespace

void detail::bind_args(const Signature& sig, const py::args& args, const py::kwargs& kwargs,
                       py::handle* out) {
    const size_t nparams = sig.params.size();
    const size_t npos = args.size();
    if (npos > nparams) too_many_positional(sig, npos);
    for (size_t i = 0; i < npos; ++i) out[i] = args[i];

    for (const auto& [key, value] : kwargs) {
        const std::string_view name = str_arg("kwargs", key);
        size_t index = nparams;
        size_t i = 0;
        for (const char* param : sig.params) {
            if (name == param) index = i;
            ++i;
        }
        if (index == nparams) {
            throw_type_error(std::string(sig.display_name) + " got an unexpected keyword argument '" +
                             std::string(name) + "'");
        }
        if (out[index]) {
            throw_type_error(std::string(sig.display_name) + " got multiple values for argument '" +
                             std::string(name) + "'");
        }
        out[index] = value;
    }

    std::vector<const char*> missing;
    size_t i = 0;
    for (const char* param : sig.params) {
        if (i < sig.required && !out[i]) missing.push_back(param);
        ++i;
    }
    if (!missing.empty()) {
        throw_type_error(std::string(sig.display_name) + " missing " + std::to_string(missing.size()) +
                         " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                         quoted_list(missing));
    }
}

void expect_no_args(const char* display_name, const py::args& args, const py::kwargs& kwargs) {
    if (!kwargs.empty()) throw_type_error(std::string(display_name) + " takes no keyword arguments");
    if (!args.empty()) {
        throw_type_error(std::string(display_name) + " takes no arguments (" +
                         std::to_string(args.size()) + " given)");
    }
}

void throw_cannot_convert(const char* name, py::handle value, const char* target) {
    PyObject* qualname = PyType_GetQualName(Py_TYPE(value.ptr()));
    if (qualname == nullptr) throw py::error_already_set();
    const auto type_name = py::reinterpret_steal<py::str>(qualname);
    throw_type_error(std::string("argument '") + name + "': '" + std::string(type_name) +
                     "' object cannot be converted to '" + target + "'");
}

std::string_view str_arg(const char* name, py::handle value) {
    if (!PyUnicode_Check(value.ptr())) throw_cannot_convert(name, value, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();  // e.g. a lone surrogate
    return {data, static_cast<size_t>(size)};
}

double float_arg(const char* name, py::handle value) {
    const double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            py::error_already_set original;
            throw_type_error(std::string("argument '") + name + "': " +
                             std::string(py::str(original.value())));
        }
        throw py::error_already_set();
    }
    return v;
}

bool bool_arg(const char* name, py::handle value) {
    if (!PyBool_Check(value.ptr())) throw_cannot_convert(name, value, "PyBool");
    return value.ptr() == Py_True;
}

namespace {

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* name = PyType_GetName(type);
    if (name == nullptr) return nullptr;
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name);
    Py_DECREF(name);
    return nullptr;
}

}  // namespace

void disable_constructor(py::handle type) {
    auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
    t->tp_new = refuse_construction;
    PyType_Modified(t);
}

namespace {

// pybind11's own tp_new, the same for every bound class: it allocates the
// instance and leaves its value unmade.
newfunc allocate_instance = nullptr;

PyObject* new_and_init(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* self = allocate_instance(type, args, kwargs);
    if (self == nullptr) return nullptr;
    if (Py_TYPE(self)->tp_init(self, args, kwargs) < 0) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

// The class's __new__(cls, *args, **kwargs); `bound` is the class itself.
PyObject* new_method(PyObject* bound, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t given = PyTuple_GET_SIZE(args);
    PyObject* cls = given > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    if (cls == nullptr || !PyType_Check(cls) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls),
                          reinterpret_cast<PyTypeObject*>(bound))) {
        PyErr_Format(PyExc_TypeError, "%s.__new__(X): X is not a subtype of %s",
                     reinterpret_cast<PyTypeObject*>(bound)->tp_name,
                     reinterpret_cast<PyTypeObject*>(bound)->tp_name);
        return nullptr;
    }
    PyObject* rest = PyTuple_GetSlice(args, 1, given);
    if (rest == nullptr) return nullptr;
    PyObject* self = new_and_init(reinterpret_cast<PyTypeObject*>(cls), rest, kwargs);
    Py_DECREF(rest);
    return self;
}

// A keyword method is stored as a PyCFunction; the cast goes through
// void (*)() as CPython's own tables do.
PyMethodDef new_method_def = {
    "__new__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&new_method)),
    METH_VARARGS | METH_KEYWORDS, nullptr};

}  // namespace

void construct_in_new(py::handle type) {
    auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
    // Setting __new__ points tp_new at the method; it is set right after.
    const auto method =
        py::reinterpret_steal<py::object>(PyCFunction_New(&new_method_def, type.ptr()));
    if (!method) throw py::error_already_set();
    const auto as_static = py::reinterpret_steal<py::object>(PyStaticMethod_New(method.ptr()));
    if (!as_static) throw py::error_already_set();
    allocate_instance = t->tp_new;
    py::setattr(type, "__new__", as_static);
    t->tp_new = new_and_init;
    PyType_Modified(t);
}

}  // namespace morvane::python
