// Expressions of the intermediate representation.
//
// ExprIR mirrors ast::ExprAst variant for variant and field for field; it is
// what the optimizer folds and what every flow run converts back to tree
// form before evaluating. Like the tree, it is a plain owned value whose
// copy, equality, teardown and conversions never recurse, so expressions of
// any depth are safe.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::ir {

namespace ast = frontend::ast;
using frontend::ast::Box;

struct CallArgIR;

struct ExprIR {
    struct Number {
        double value;
        bool operator==(const Number&) const = default;
    };
    struct Bool {
        bool value;
        bool operator==(const Bool&) const = default;
    };
    struct Var {
        std::string name;
        bool operator==(const Var&) const = default;
    };
    struct Field {
        Box<ExprIR> target;
        std::string field;
        bool operator==(const Field&) const = default;
    };
    struct Call {
        std::string name;
        std::vector<CallArgIR> args;
        bool operator==(const Call&) const = default;
    };
    struct Unary {
        ast::UnaryOp op;
        Box<ExprIR> expr;
        bool operator==(const Unary&) const = default;
    };
    struct Binary {
        ast::BinaryOp op;
        Box<ExprIR> left;
        Box<ExprIR> right;
        bool operator==(const Binary&) const = default;
    };
    struct Exists {
        Box<ast::PatternItem> pattern;  // boxed as in the tree, to keep nodes small
        std::optional<Box<ExprIR>> where_expr;
        bool negated;
        bool operator==(const Exists&) const = default;
    };

    using Node = std::variant<Number, Bool, Var, Field, Call, Unary, Binary, Exists>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    ExprIR(T&& alternative) : node(std::forward<T>(alternative)) {}

    // As for ast::ExprAst: assign whole expressions, not `node`, when the
    // source may be a subtree of the target.
    ExprIR(const ExprIR& other);
    ExprIR(ExprIR&& other) noexcept = default;
    // Safe when `other` is a subtree of this expression.
    ExprIR& operator=(const ExprIR& other);
    ExprIR& operator=(ExprIR&& other) noexcept;
    ~ExprIR();

    friend bool operator==(const ExprIR& a, const ExprIR& b);

    // Lowers a tree expression; to_ast converts back to an equal tree.
    static ExprIR from(const ast::ExprAst& expr);
    ast::ExprAst to_ast() const;
};

struct CallArgIR {
    struct Positional {
        ExprIR value;
        bool operator==(const Positional&) const = default;
    };
    struct Named {
        std::string name;
        ExprIR value;
        bool operator==(const Named&) const = default;
    };

    using Node = std::variant<Positional, Named>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    CallArgIR(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const CallArgIR&) const = default;

    static CallArgIR from(const ast::CallArg& arg);
    ast::CallArg to_ast() const;
};

}  // namespace morvane::ir
