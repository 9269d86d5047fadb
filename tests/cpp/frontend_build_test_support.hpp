// Helpers shared by the tree builder tests: compile a source, or one
// declaration or expression wrapped in the smallest program that holds it,
// and read back the part under test or the error text.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "frontend/ast.hpp"
#include "frontend/debug_text.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/parse_program.hpp"

namespace morvane::frontend::ast {

// Failure messages show expressions and posteriors in their debug text.
inline void PrintTo(const ExprAst& e, std::ostream* os) { *os << debug_text(e); }
inline void PrintTo(const PosteriorType& p, std::ostream* os) { *os << debug_text(p); }

}  // namespace morvane::frontend::ast

namespace morvane::frontend::parser::testing {

// The error text of compiling `source`; "<compiled>" when it compiles.
// Any error other than a parse/build error fails the test.
inline std::string build_error(std::string_view source) {
    try {
        parse_program(source);
    } catch (const FrontendError& error) {
        EXPECT_EQ(error.kind(), FrontendError::Kind::Parse);
        return error.parse_text();
    }
    return "<compiled>";
}

// The where-expression of `rule R on M { where <text> }`.
inline ast::ExprAst where_expr_of(std::string_view text) {
    ast::ProgramAst program = parse_program("rule R on M { where " + std::string(text) + " }");
    if (program.rules.size() != 1 || !program.rules[0].where_expr) {
        ADD_FAILURE() << "no where-expression built for: " << text;
        return ast::number(-1.0);
    }
    return std::move(*program.rules[0].where_expr);
}

// The value of `flow F on M { metric m = <text> }`.
inline ast::ExprAst metric_expr_of(std::string_view text) {
    ast::ProgramAst program =
        parse_program("flow F on M { metric m = " + std::string(text) + " }");
    if (program.flows.size() != 1 || program.flows[0].metrics.size() != 1) {
        ADD_FAILURE() << "no metric built for: " << text;
        return ast::number(-1.0);
    }
    return std::move(program.flows[0].metrics[0].expr);
}

}  // namespace morvane::frontend::parser::testing
