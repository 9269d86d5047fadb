// Rules in the intermediate representation.
//
// RuleIR and ActionIR mirror ast::RuleDef and ast::ActionStmt with every
// expression an ExprIR; patterns and variance clauses stay tree values. A
// flow run converts the rules it applies back to tree form.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/ast.hpp"
#include "ir/expr.hpp"

namespace morvane::ir {

struct ActionIR {
    struct Let {
        std::string name;
        ExprIR expr;
        bool operator==(const Let&) const = default;
    };
    struct NonBayesianNudge {
        std::string node_var;
        std::string attr;
        ExprIR expr;
        std::optional<ast::VarianceSpec> variance;
        bool operator==(const NonBayesianNudge&) const = default;
    };
    struct SoftUpdate {
        std::string node_var;
        std::string attr;
        ExprIR expr;
        std::optional<double> precision;
        std::optional<double> count;
        bool operator==(const SoftUpdate&) const = default;
    };
    struct Delete {
        std::string edge_var;
        std::optional<std::string> confidence;
        bool operator==(const Delete&) const = default;
    };
    struct Suppress {
        std::string edge_var;
        std::optional<double> weight;
        bool operator==(const Suppress&) const = default;
    };

    using Node = std::variant<Let, NonBayesianNudge, SoftUpdate, Delete, Suppress>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    ActionIR(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const ActionIR&) const = default;

    static ActionIR from(const ast::ActionStmt& action);
    ast::ActionStmt to_ast() const;
};

struct RuleIR {
    std::string name;
    std::string on_model;
    std::vector<ast::PatternItem> patterns;
    std::vector<ActionIR> actions;
    std::optional<std::string> mode;
    std::optional<ExprIR> where_expr;
    bool operator==(const RuleIR&) const = default;

    static RuleIR from(const ast::RuleDef& rule);
    ast::RuleDef to_ast() const;
};

}  // namespace morvane::ir
