// The declaration walk. Each declaration is built by the builder of its kind
// as soon as it is met, so the first construction error in source order ends
// the walk and later declarations are never looked at.
#include "frontend/parser/parse_program.hpp"

#include <optional>

#include "frontend/errors.hpp"
#include "frontend/parser/build_belief_model.hpp"
#include "frontend/parser/build_evidence.hpp"
#include "frontend/parser/build_flow.hpp"
#include "frontend/parser/build_rule.hpp"
#include "frontend/parser/build_schema.hpp"
#include "frontend/parser/corventa_parser.hpp"

namespace morvane::frontend::parser {

ast::ProgramAst parse_program(std::string_view source) {
    const ParseResult result = CorventaParser::parse(Rule::program, source);
    if (!result) throw FrontendError::parse(result.error().text());
    return build_program(result.tree());
}

ast::ProgramAst build_program(const ParseTree& tree) {
    const std::string_view source = tree.text();
    ast::ProgramAst program;
    const std::optional<Pair> root = tree.pairs().peek();
    if (!root) return program;
    for (const Pair& decl : root->into_inner()) {
        switch (decl.as_rule()) {
            case Rule::schema_decl:
                program.schemas.push_back(build_schema(decl));
                break;
            case Rule::belief_model_decl:
                program.belief_models.push_back(build_belief_model(decl, source));
                break;
            case Rule::evidence_decl:
                program.evidences.push_back(build_evidence(decl, source));
                break;
            case Rule::rule_decl:
                program.rules.push_back(build_rule(decl));
                break;
            case Rule::flow_decl:
                program.flows.push_back(build_flow(decl));
                break;
            default:
                break;
        }
    }
    return program;
}

}  // namespace morvane::frontend::parser
