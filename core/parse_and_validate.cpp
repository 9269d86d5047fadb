#include "core/parse_and_validate.hpp"

#include "core/engine/errors.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/validate/validate.hpp"

namespace morvane::core {

frontend::ast::ProgramAst parse_and_validate(std::string_view source) {
    try {
        frontend::ast::ProgramAst program = frontend::parser::parse_program(source);
        frontend::validate::validate_program_with_source(program, source);
        return program;
    } catch (const frontend::FrontendError& error) {
        throw engine::to_exec_error(error);
    }
}

}  // namespace morvane::core
