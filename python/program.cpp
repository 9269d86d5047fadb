#include "python/program.hpp"

#include <string>
#include <utility>

#include "core/parse_and_validate.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"

namespace py = pybind11;

namespace morvane::python {

namespace ast = frontend::ast;

namespace {

constexpr const char* kCompileDoc =
    "compile(source)\n--\n\nCompile a Morvane source string into a Program.\n\n"
    "Releases the GIL while parsing and validating.";

constexpr const char* kProgramDoc =
    "Python-visible Program wrapper holding an immutable AST.\n\n"
    "Methods provide discovery of flow names, schema names, and belief models.";

PyProgram compile(const py::args& args, const py::kwargs& kwargs) {
    static const Signature signature{"compile()", {"source"}, 1};
    const auto [source_arg] = bind_args<1>(signature, args, kwargs);
    // The text stays owned by the argument, which the caller keeps alive for
    // the whole call; the compiler reads it without the interpreter lock.
    const std::string_view source = str_arg("source", source_arg);
    py::gil_scoped_release release;
    auto program = std::make_shared<const ast::ProgramAst>(core::parse_and_validate(source));
    auto prepared = std::make_shared<const core::engine::PreparedProgram>(program);
    return PyProgram{std::move(program), std::move(prepared)};
}

template <typename Decl>
py::list names_of(const std::vector<Decl>& decls) {
    py::list names;
    for (const Decl& decl : decls) names.append(make_str(decl.name));
    return names;
}

std::string program_repr(const PyProgram& self) {
    const ast::ProgramAst& p = *self.ast;
    return "Program(schemas=" + std::to_string(p.schemas.size()) +
           ", models=" + std::to_string(p.belief_models.size()) +
           ", evidences=" + std::to_string(p.evidences.size()) +
           ", rules=" + std::to_string(p.rules.size()) +
           ", flows=" + std::to_string(p.flows.size()) + ")";
}

}  // namespace

void register_compile(py::module_& module) { module.def("compile", &compile, kCompileDoc); }

void register_program_class(py::module_& module) {
    py::class_<PyProgram> cls(module, "Program", py::is_final(), kProgramDoc);
    cls.def(
        "get_flow_names",
        [](const PyProgram& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("Program.get_flow_names()", args, kwargs);
            return names_of(self.ast->flows);
        },
        "get_flow_names($self)\n--\n\nList all flow names defined in the program");
    cls.def(
        "get_schema_names",
        [](const PyProgram& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("Program.get_schema_names()", args, kwargs);
            return names_of(self.ast->schemas);
        },
        "get_schema_names($self)\n--\n\nList all schema names defined in the program");
    cls.def(
        "get_belief_model_names",
        [](const PyProgram& self, const py::args& args, const py::kwargs& kwargs) {
            expect_no_args("Program.get_belief_model_names()", args, kwargs);
            return names_of(self.ast->belief_models);
        },
        "get_belief_model_names($self)\n--\n\nList all belief model names defined in the program");
    cls.def("__repr__", &program_repr);
    disable_constructor(cls);
}

}  // namespace morvane::python
