// Evidence blocks in the intermediate representation.
//
// They mirror ast::EvidenceDef and ast::ObserveStmt, except that each node an
// observation names (node type and instance label) is one NodeRefIR. A flow
// run converts a block back to tree form when it builds a graph from it.
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

// One node instance: its node type and its label.
struct NodeRefIR {
    std::string node_type;
    std::string label;
    bool operator==(const NodeRefIR&) const = default;
};

struct ObserveStmtIR {
    struct Edge {
        std::string edge_type;
        NodeRefIR src;
        NodeRefIR dst;
        ast::EvidenceMode mode;
        bool operator==(const Edge&) const = default;
    };
    struct EdgeWeight {
        std::string edge_type;
        NodeRefIR src;
        NodeRefIR dst;
        double value;
        std::optional<double> precision;
        bool operator==(const EdgeWeight&) const = default;
    };
    struct Attribute {
        NodeRefIR node;
        std::string attr;
        double value;
        std::optional<double> precision;
        bool operator==(const Attribute&) const = default;
    };

    using Node = std::variant<Edge, EdgeWeight, Attribute>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    ObserveStmtIR(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const ObserveStmtIR&) const = default;

    static ObserveStmtIR from(const ast::ObserveStmt& stmt);
    // Splits each node reference back into its type and label fields.
    ast::ObserveStmt to_ast() const;
};

struct EvidenceIR {
    std::string name;
    std::string on_model;
    std::vector<ObserveStmtIR> observations;
    std::string body_src;
    bool operator==(const EvidenceIR&) const = default;

    static EvidenceIR from(const ast::EvidenceDef& evidence);
    ast::EvidenceDef to_ast() const;
};

}  // namespace morvane::ir
