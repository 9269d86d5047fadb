#include "core/parse_and_validate.hpp"

#include "core/engine/errors.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/validate/validate.hpp"

namespace morvane::core {

// The validator reads source positions from the same parse the builders
// walked; parsing is deterministic, so a second parse would find the same.
frontend::ast::ProgramAst parse_and_validate(std::string_view source) {
    namespace parser = frontend::parser;
    try {
        const parser::ParseResult parsed =
            parser::CorventaParser::parse(parser::Rule::program, source);
        if (!parsed) throw frontend::FrontendError::parse(parsed.error().text());
        frontend::ast::ProgramAst program = parser::build_program(parsed.tree());
        frontend::validate::validate_program_with_parse_tree(program, parsed.tree());
        return program;
    } catch (const frontend::FrontendError& error) {
        throw engine::to_exec_error(error);
    }
}

}  // namespace morvane::core
