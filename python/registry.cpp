#include "python/registry.hpp"

#include "python/errors.hpp"
#include "python/program.hpp"

namespace morvane::python {

void register_module_contents(pybind11::module_& module) {
    register_error_translation();
    register_compile(module);
    register_program_class(module);
}

}  // namespace morvane::python
