// Flows in the intermediate representation.
//
// FlowIR and its parts mirror ast::FlowDef with every expression an ExprIR.
// The flow executor reads flows only in this form, so they have no
// conversion back to the tree.
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

struct TransformIR {
    struct ApplyRule {
        std::string rule;
        bool operator==(const ApplyRule&) const = default;
    };
    struct ApplyRuleset {
        std::vector<std::string> rules;
        bool operator==(const ApplyRuleset&) const = default;
    };
    struct Snapshot {
        std::string name;
        bool operator==(const Snapshot&) const = default;
    };
    struct InferBeliefs {
        bool operator==(const InferBeliefs&) const = default;
    };
    struct PruneEdges {
        std::string edge_type;
        ExprIR predicate;
        bool operator==(const PruneEdges&) const = default;
    };

    using Node = std::variant<ApplyRule, ApplyRuleset, Snapshot, InferBeliefs, PruneEdges>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    TransformIR(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const TransformIR&) const = default;

    static TransformIR from(const ast::Transform& transform);
};

struct GraphExprIR {
    struct FromEvidence {
        std::string evidence;
        bool operator==(const FromEvidence&) const = default;
    };
    struct FromGraph {
        std::string alias;
        bool operator==(const FromGraph&) const = default;
    };
    struct Pipeline {
        std::string start;
        std::vector<TransformIR> transforms;
        bool operator==(const Pipeline&) const = default;
    };
    struct SelectModel {
        std::vector<std::string> candidates;
        ast::ModelSelectionCriterion criterion;
        bool operator==(const SelectModel&) const = default;
    };

    using Node = std::variant<FromEvidence, FromGraph, Pipeline, SelectModel>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    GraphExprIR(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const GraphExprIR&) const = default;

    static GraphExprIR from(const ast::GraphExpr& expr);
};

struct GraphDefIR {
    std::string name;
    GraphExprIR expr;
    bool operator==(const GraphDefIR&) const = default;
};

struct MetricDefIR {
    std::string name;
    std::optional<std::string> on_graph;
    ExprIR expr;
    bool operator==(const MetricDefIR&) const = default;
};

struct ExportDefIR {
    std::string graph;
    std::string alias;
    bool operator==(const ExportDefIR&) const = default;
};

struct MetricExportDefIR {
    std::string metric;
    std::string alias;
    bool operator==(const MetricExportDefIR&) const = default;
};

struct MetricImportDefIR {
    std::string source_alias;
    std::string local_name;
    bool operator==(const MetricImportDefIR&) const = default;
};

struct FlowIR {
    std::string name;
    std::string on_model;
    std::vector<GraphDefIR> graphs;
    std::vector<MetricDefIR> metrics;
    std::vector<ExportDefIR> exports;
    std::vector<MetricExportDefIR> metric_exports;
    std::vector<MetricImportDefIR> metric_imports;
    bool operator==(const FlowIR&) const = default;

    static FlowIR from(const ast::FlowDef& flow);
};

}  // namespace morvane::ir
