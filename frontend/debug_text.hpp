// The one-line debug text in which messages show tree values.
//
// Validation and run-time messages embed posterior types, evidence modes,
// operators, expressions and patterns in a fixed form that users read:
//
//     Binary { op: Add, left: Var("x"), right: Number(1.0) }
//
// A variant without data is its name; one with a single unnamed value is
// Name(value); a record or variant with fields is Name { f: v, g: w }. Pairs
// print as (a, b), lists as [a, b], optionals as None or Some(v), a box as
// its value, strings quoted and escaped, numbers in the debug number form
// ("1.0", "9e-5"). The output never holds a newline.
//
// Only the ten tree types below (and the standard parts they are made of)
// have a debug text; no other tree type is ever printed.
#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"
#include "frontend/support/number_text.hpp"

namespace morvane::frontend {

// Appends the debug text of a tree value to `out`.
void append_debug(std::string& out, const ast::PosteriorType& value);
void append_debug(std::string& out, const ast::CategoricalPrior& value);
void append_debug(std::string& out, ast::EvidenceMode value);
void append_debug(std::string& out, const ast::ExprAst& value);
void append_debug(std::string& out, const ast::CallArg& value);
void append_debug(std::string& out, ast::UnaryOp value);
void append_debug(std::string& out, ast::BinaryOp value);
void append_debug(std::string& out, const ast::PatternItem& value);
void append_debug(std::string& out, const ast::NodePattern& value);
void append_debug(std::string& out, const ast::EdgePattern& value);

// The standard parts: a string in double quotes with escapes, a number in
// the debug number form, a boolean as true or false, lists, optionals and
// pairs of any printable parts.
void append_debug(std::string& out, std::string_view value);
template <std::same_as<double> D>
void append_debug(std::string& out, D value);
template <std::same_as<bool> B>
void append_debug(std::string& out, B value);
template <typename T>
void append_debug(std::string& out, const std::vector<T>& items);
template <typename T>
void append_debug(std::string& out, const std::optional<T>& value);
template <typename A, typename B>
void append_debug(std::string& out, const std::pair<A, B>& value);
template <typename T>
void append_debug(std::string& out, const ast::Box<T>& value);

// The debug text of `value` as a new string.
template <typename T>
std::string debug_text(const T& value) {
    std::string out;
    append_debug(out, value);
    return out;
}

// The variant names: "Present" ... "ForcedChoice", "Neg"/"Not", "Add" ... "Or".
std::string_view evidence_mode_name(ast::EvidenceMode mode);
std::string_view unary_op_name(ast::UnaryOp op);
std::string_view binary_op_name(ast::BinaryOp op);

// ---------------------------------------------------------------------------

template <std::same_as<double> D>
void append_debug(std::string& out, D value) {
    support::append_debug_number(out, value);
}

template <std::same_as<bool> B>
void append_debug(std::string& out, B value) {
    out += value ? "true" : "false";
}

template <typename T>
void append_debug(std::string& out, const std::vector<T>& items) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ", ";
        append_debug(out, items[i]);
    }
    out += ']';
}

template <typename T>
void append_debug(std::string& out, const std::optional<T>& value) {
    if (!value) {
        out += "None";
        return;
    }
    out += "Some(";
    append_debug(out, *value);
    out += ')';
}

template <typename A, typename B>
void append_debug(std::string& out, const std::pair<A, B>& value) {
    out += '(';
    append_debug(out, value.first);
    out += ", ";
    append_debug(out, value.second);
    out += ')';
}

template <typename T>
void append_debug(std::string& out, const ast::Box<T>& value) {
    append_debug(out, *value);
}

}  // namespace morvane::frontend
