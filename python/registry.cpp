#include "python/registry.hpp"

#include "python/errors.hpp"

namespace morvane::python {

void register_module_contents(pybind11::module_& module) {
    (void)module;
    register_error_translation();
}

}  // namespace morvane::python
