#include "frontend/validate/validate.hpp"

#include "frontend/parser/corventa_parser.hpp"
#include "frontend/validate/declaration_checks.hpp"

namespace morvane::frontend::validate {

void validate_program_with_source(const ast::ProgramAst& program, std::string_view source) {
    const parser::ParseResult parsed = parser::CorventaParser::parse(parser::Rule::program, source);
    if (!parsed || parsed.tree().pairs().empty()) {
        validate_program_internal(program, nullptr);
        return;
    }
    validate_program_with_parse_tree(program, parsed.tree());
}

void validate_program_with_parse_tree(const ast::ProgramAst& program,
                                      const parser::ParseTree& tree) {
    const ValidationSourceMap map = collect_source_map(tree);
    validate_program_internal(program, &map);
}

void validate_program_internal(const ast::ProgramAst& program, const ValidationSourceMap* map) {
    for (size_t i = 0; i < program.belief_models.size(); ++i) check_belief_model(program, i, map);
    for (size_t i = 0; i < program.evidences.size(); ++i) check_evidence(program, i, map);
    for (size_t i = 0; i < program.rules.size(); ++i) check_rule(program.rules[i], i, map);
    for (size_t i = 0; i < program.flows.size(); ++i) check_flow(program.flows[i], i, map);
}

}  // namespace morvane::frontend::validate
