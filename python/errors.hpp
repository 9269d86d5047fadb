// Engine failures as Python exceptions.
//
// ExecError maps to ValueError ("Parse error: {}", "Validation error: {}")
// or RuntimeError ("Execution error: {}", "Numerical error: {}",
// "Internal error: {}"). A broken invariant (support::Panic) is reported on
// standard error and raised as PanicException, a class derived directly from
// BaseException so that `except Exception` does not catch it. Messages are
// built with their length, so embedded NULs survive.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "core/engine/errors.hpp"

namespace morvane::python {

// The exception instance for `error` (not raised).
pybind11::object map_exec_error(const core::engine::ExecError& error);

// Sets the Python error indicator for `error`.
void set_exec_error(const core::engine::ExecError& error);

// The process-wide PanicException type, created on first use. It is not an
// attribute of the module.
pybind11::handle panic_exception_type();

// Writes the panic report to standard error and sets PanicException.
void set_panic(std::string_view message);

// A Python str from UTF-8 bytes with an explicit length.
pybind11::str make_str(std::string_view text);

// Installs the translation of ExecError, Panic and stray C++ exceptions for
// every function of the module.
void register_error_translation();

}  // namespace morvane::python
