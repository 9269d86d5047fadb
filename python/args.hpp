// Argument binding and extraction for the module's callables.
//
// Every function and method takes its arguments as (*args, **kwargs) and
// binds them here, so that a wrong call raises TypeError with the texts
// Python users of morvane see everywhere:
//   compile() missing 1 required positional argument: 'source'
//   compile() takes 1 positional arguments but 2 were given
//   compile() got an unexpected keyword argument 'x'
//   compile() got multiple values for argument 'source'
//   argument 'source': 'int' object cannot be converted to 'PyString'
// Text parameters accept only str (not bytes), booleans only bool, numbers
// anything with __float__ or __index__.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace morvane::python {

// Raises TypeError with `message` (kept whole, NULs included).
[[noreturn]] void throw_type_error(std::string_view message);

// A callable's parameter list: its display name ("compile()",
// "Context.get_graph()"), its parameter names in order, and how many of
// them (the leading ones) are required.
struct Signature {
    const char* display_name;
    std::initializer_list<const char*> params;
    size_t required;
};

namespace detail {
void bind_args(const Signature& sig, const pybind11::args& args, const pybind11::kwargs& kwargs,
               pybind11::handle* out);
}

// Binds the call's arguments to the parameters, in parameter order. An
// optional parameter that was not passed is a null handle.
template <size_t N>
std::array<pybind11::handle, N> bind_args(const Signature& sig, const pybind11::args& args,
                                          const pybind11::kwargs& kwargs) {
    std::array<pybind11::handle, N> out{};
    detail::bind_args(sig, args, kwargs, out.data());
    return out;
}

// For callables without parameters: refuses any argument.
void expect_no_args(const char* display_name, const pybind11::args& args,
                    const pybind11::kwargs& kwargs);

// The UTF-8 text of a str argument, valid while the argument is referenced.
std::string_view str_arg(const char* name, pybind11::handle value);

// A float argument (float, int, bool, or any object with __float__/__index__).
double float_arg(const char* name, pybind11::handle value);

// A bool argument: True or False only.
bool bool_arg(const char* name, pybind11::handle value);

// Raises "argument '{name}': '{type}' object cannot be converted to '{target}'".
[[noreturn]] void throw_cannot_convert(const char* name, pybind11::handle value, const char* target);

// An argument of a bound class T, shown to Python as `class_name`.
template <typename T>
T& class_arg(const char* name, pybind11::handle value, const char* class_name) {
    if (!pybind11::isinstance<T>(value)) throw_cannot_convert(name, value, class_name);
    return value.cast<T&>();
}

// True when an optional argument was left out or passed as None.
inline bool absent(pybind11::handle value) { return !value || value.is_none(); }

// Makes calling the class raise TypeError "No constructor defined for {name}".
void disable_constructor(pybind11::handle type);

// For a class with an __init__: makes __new__ build the whole object, by
// running __init__ on the fresh instance, so that no object whose C++ value
// was never made can be had from Python (`cls.__new__(cls)` alone would
// otherwise hand one out, and its methods would read unmade fields). The
// __init__ that Python calls after __new__ then finds the object made, and
// pybind11 ignores it. `cls.__new__(cls, ...)` takes the arguments of
// __init__; object.__new__(cls) is refused as not safe.
void construct_in_new(pybind11::handle type);

// A read-only property; without `doc` its __doc__ is None (not "").
template <typename T, typename Getter>
void def_readonly(pybind11::class_<T>& cls, const char* name, Getter&& getter,
                  const char* doc = nullptr) {
    if (doc != nullptr) {
        cls.def_property_readonly(name, std::forward<Getter>(getter), doc);
        return;
    }
    cls.def_property_readonly(name, std::forward<Getter>(getter));
    pybind11::setattr(cls.attr(name), "__doc__", pybind11::none());
}

}  // namespace morvane::python
