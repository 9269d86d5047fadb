// Checks of rule expressions: where-clauses and the values of let, nudge
// and soft-update actions.
//
// Every variable must be bound by the rule's patterns or by an earlier let;
// attributes are read through functions (E[n.x], prob(...)), never by a bare
// field access; exists sub-queries stand only in where-clauses; and each
// built-in function the rule engine offers gets the argument shape it
// expects. A function the checks do not know is accepted as a name, and only
// its arguments are checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"
#include "frontend/validate/name_set.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {

// The names a rule expression may read: the source and destination
// variables of the patterns (node variables), their edge variables, and the
// let actions checked so far.
//
// A sub-query binds its own pattern's names for its where-clause only.
// Binding records each name it adds, so that undo() takes the scope back to
// an earlier mark in time proportional to what was added since: nested
// sub-queries extend one scope and undo their extensions, instead of each
// copying the scope.
class RuleScope {
public:
    bool binds(std::string_view name) const {
        return let_vars_.contains(name) || node_vars_.contains(name) || edge_vars_.contains(name);
    }
    bool is_node_var(std::string_view name) const { return node_vars_.contains(name); }
    bool is_edge_var(std::string_view name) const { return edge_vars_.contains(name); }

    void bind_node_var(std::string_view name) { bind(Kind::Node, name); }
    void bind_edge_var(std::string_view name) { bind(Kind::Edge, name); }
    void bind_let_var(std::string_view name) { bind(Kind::Let, name); }
    // The source and destination variables and the edge variable.
    void bind_pattern(const ast::PatternItem& pattern);

    // The scope as it stands, for undo().
    size_t mark() const { return added_.size(); }
    // Removes every name bound since `mark` was taken.
    void undo(size_t mark);

private:
    enum class Kind : uint8_t { Node, Edge, Let };

    NameSet& names_of(Kind kind) {
        return kind == Kind::Node ? node_vars_ : kind == Kind::Edge ? edge_vars_ : let_vars_;
    }
    void bind(Kind kind, std::string_view name) {
        if (names_of(kind).insert(name)) added_.emplace_back(kind, name);
    }

    NameSet node_vars_;
    NameSet edge_vars_;
    NameSet let_vars_;
    // Each name bound that was not bound before, with its kind, oldest first.
    std::vector<std::pair<Kind, std::string_view>> added_;
};

// Throws the first violation in `expr` at `site`. `allow_exists` admits
// exists sub-queries (in a where-clause); call arguments never admit them.
// The scope is extended while sub-queries are checked and is left as it was.
void validate_rule_expr(const ast::ExprAst& expr, RuleScope& scope, bool allow_exists,
                        const Site& site);

}  // namespace morvane::frontend::validate
