// Validation of a built program against the source it came from.
//
// Checks belief models, evidence blocks, rules and flows, in that order and
// each in source order, and throws the first violation as a
// FrontendError::Validation whose diagnostic names its context and, when the
// source positions allow, its span.
#pragma once

#include <string_view>

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"
#include "frontend/validate/source_map.hpp"

namespace morvane::frontend::validate {

// `source` must be the text `program` was built from; it is parsed again
// for positions. If that parse fails, every check still runs and the
// diagnostics come without spans. Throws FrontendError.
void validate_program_with_source(const ast::ProgramAst& program, std::string_view source);

// The same, with positions taken from a parse (from the rule `program`) of
// the text `program` was built from, so that a caller holding that parse
// need not parse again. Parsing is deterministic, so both entries report
// exactly the same diagnostics.
void validate_program_with_parse_tree(const ast::ProgramAst& program,
                                      const parser::ParseTree& tree);

// The checks themselves; `map` may be null (then no diagnostic has a span).
void validate_program_internal(const ast::ProgramAst& program, const ValidationSourceMap* map);

}  // namespace morvane::frontend::validate
