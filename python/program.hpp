// The class Program and the function compile.
//
// A Program holds one compiled syntax tree behind a shared read-only
// reference, prepared for running (the lowered and optimized program, the
// evidence blocks' indexes); every flow run made from it shares both.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "core/engine/prepared_program.hpp"
#include "frontend/ast.hpp"

namespace morvane::python {

struct PyProgram {
    std::shared_ptr<const frontend::ast::ProgramAst> ast;
    std::shared_ptr<const core::engine::PreparedProgram> prepared;  // of `ast`
};

// compile(source)
void register_compile(pybind11::module_& module);

// class Program
void register_program_class(pybind11::module_& module);

}  // namespace morvane::python
