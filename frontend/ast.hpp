// The syntax tree: the in-memory form of one compiled program.
//
// Every type here is a plain owned value with public fields: copying makes a
// deep, independent copy and == compares field by field. Fields appear in the
// order the rest of the system relies on (and prints them in), variants in
// the order of their codes. A sum type is a struct holding one std::variant
// member `node` over its variant structs, which are nested in it; it converts
// implicitly from any of them:
//
//     ast::ExprAst e = ast::ExprAst::Var{"x"};
//     if (auto* v = std::get_if<ast::ExprAst::Var>(&e.node)) ...
//
// The tree holds names as plain text and never resolves, checks or
// deduplicates them; the validator and the engine look them up. Nothing in
// this header has logic beyond ownership: the builders fill every field.
//
// Expressions can be very deep: a long flat chain `1+1+...+1` folds into
// Binary nodes as deep as the chain is long, and `x.a.a...` into a Field
// chain. Copy, equality and destruction of ExprAst therefore never recurse;
// they keep pending subtrees on a work list, so any depth is safe.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace morvane::frontend::ast {

// An owning pointer to exactly one T with value semantics: copying a Box
// copies the T into a new Box, == compares the pointees. A Box is never
// empty except after it was moved from or emptied by take(); such a Box may
// only be assigned to or destroyed.
template <typename T>
class Box {
public:
    explicit Box(T value) : ptr_(std::make_unique<T>(std::move(value))) {}
    Box(const Box& other) : ptr_(other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& other) {
        if (this != &other) *this = Box(other);
        return *this;
    }
    Box& operator=(Box&&) noexcept = default;
    ~Box() = default;

    T& operator*() { return *ptr_; }
    const T& operator*() const { return *ptr_; }
    T* operator->() { return ptr_.get(); }
    const T* operator->() const { return ptr_.get(); }
    T* get() { return ptr_.get(); }
    const T* get() const { return ptr_.get(); }

    // Hands the pointee over and leaves the Box empty (for iterative teardown).
    std::unique_ptr<T> take() { return std::move(ptr_); }

    friend bool operator==(const Box& a, const Box& b) {
        if (a.ptr_ && b.ptr_) return *a.ptr_ == *b.ptr_;
        return a.ptr_ == b.ptr_;
    }

private:
    std::unique_ptr<T> ptr_;
};

// ---------------------------------------------------------------------------
// One-byte enumerations; the values are the codes.

// The mode of an edge observation.
enum class EvidenceMode : uint8_t {
    Present = 0,
    Absent = 1,
    Chosen = 2,
    Unchosen = 3,
    ForcedChoice = 4,
};

// "-" and "not".
enum class UnaryOp : uint8_t { Neg = 0, Not = 1 };

// "+", "-", "*", "/", "==", "!=", "<", "<=", ">", ">=", "and", "or".
enum class BinaryOp : uint8_t {
    Add = 0,
    Sub = 1,
    Mul = 2,
    Div = 3,
    Eq = 4,
    Ne = 5,
    Lt = 6,
    Le = 7,
    Gt = 8,
    Ge = 9,
    And = 10,
    Or = 11,
};

// "edge_aic" and "edge_bic".
enum class ModelSelectionCriterion : uint8_t { EdgeAic = 0, EdgeBic = 1 };

// ---------------------------------------------------------------------------
// Schemas.

struct AttrDef {
    std::string name;
    std::string ty;  // the type exactly as written after the colon
    bool operator==(const AttrDef&) const = default;
};

// A node type.
struct NodeDef {
    std::string name;
    std::vector<AttrDef> attrs;
    bool operator==(const NodeDef&) const = default;
};

// An edge type.
struct EdgeDef {
    std::string name;
    bool operator==(const EdgeDef&) const = default;
};

struct Schema {
    std::string name;
    std::vector<NodeDef> nodes;
    std::vector<EdgeDef> edges;
    bool operator==(const Schema&) const = default;
};

// ---------------------------------------------------------------------------
// Belief models.

// The prior of a categorical posterior.
struct CategoricalPrior {
    // The total pseudo-count, spread evenly over the categories.
    struct Uniform {
        double pseudo_count;
        bool operator==(const Uniform&) const = default;
    };
    // One concentration per category, in order; neither length nor values
    // are checked here.
    struct Explicit {
        std::vector<double> concentrations;
        bool operator==(const Explicit&) const = default;
    };

    using Node = std::variant<Uniform, Explicit>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    CategoricalPrior(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const CategoricalPrior&) const = default;
};

// (parameter name, value) in source order, duplicates kept. The builders
// store "mean"/"precision" as "prior_mean"/"prior_precision" and a
// Bernoulli's "weight" as "pseudo_count"; other names as written.
using PosteriorParams = std::vector<std::pair<std::string, double>>;

// A posterior family with its parameters.
struct PosteriorType {
    struct Gaussian {
        PosteriorParams params;
        bool operator==(const Gaussian&) const = default;
    };
    struct Bernoulli {
        PosteriorParams params;
        bool operator==(const Bernoulli&) const = default;
    };
    struct Categorical {
        std::string group_by;  // the grouping side as written
        CategoricalPrior prior;
        // Absent when no category list is written; a written list is never empty.
        std::optional<std::vector<std::string>> categories;
        bool operator==(const Categorical&) const = default;
    };

    using Node = std::variant<Gaussian, Bernoulli, Categorical>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    PosteriorType(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const PosteriorType&) const = default;
};

// The posteriors of the attributes of one node type: one pair per attribute
// declaration, in source order; an attribute declared twice appears twice.
struct NodeBeliefDecl {
    std::string node_type;
    std::vector<std::pair<std::string, PosteriorType>> attrs;
    bool operator==(const NodeBeliefDecl&) const = default;
};

struct EdgeBeliefDecl {
    std::string edge_type;
    PosteriorType exist;                  // always present
    std::optional<PosteriorType> weight;  // absent without a weight line
    bool operator==(const EdgeBeliefDecl&) const = default;
};

struct BeliefModel {
    std::string name;
    std::string on_schema;
    std::vector<NodeBeliefDecl> nodes;
    std::vector<EdgeBeliefDecl> edges;
    std::string body_src;  // the body's exact source text, braces included
    bool operator==(const BeliefModel&) const = default;
};

// ---------------------------------------------------------------------------
// Evidence.

// One observation. A node is named by its node type and its instance label
// (a quoted label is held without its quotes).
struct ObserveStmt {
    // An edge's existence or choice.
    struct Edge {
        std::string edge_type;
        std::string src_type;
        std::string src_label;
        std::string dst_type;
        std::string dst_label;
        EvidenceMode mode;
        bool operator==(const Edge&) const = default;
    };
    // An edge's weight.
    struct EdgeWeight {
        std::string edge_type;
        std::string src_type;
        std::string src_label;
        std::string dst_type;
        std::string dst_label;
        double value;
        std::optional<double> precision;  // absent, not 0, when none is written
        bool operator==(const EdgeWeight&) const = default;
    };
    // A node attribute.
    struct Attribute {
        std::string node_type;
        std::string node_label;
        std::string attr;
        double value;
        std::optional<double> precision;
        bool operator==(const Attribute&) const = default;
    };

    using Node = std::variant<Edge, EdgeWeight, Attribute>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    ObserveStmt(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const ObserveStmt&) const = default;
};

struct EvidenceDef {
    std::string name;
    std::string on_model;
    // Every observation of the block in the order written, node and edge
    // groups flattened.
    std::vector<ObserveStmt> observations;
    std::string body_src;  // braces included; empty in a block merged at run time
    bool operator==(const EvidenceDef&) const = default;
};

// ---------------------------------------------------------------------------
// Graph patterns: (src:Label)-[edge:TYPE]->(dst:Label).

struct NodePattern {
    std::string var;
    std::string label;  // the node type to match
    bool operator==(const NodePattern&) const = default;
};

struct EdgePattern {
    std::string var;
    std::string ty;  // the edge type to match
    bool operator==(const EdgePattern&) const = default;
};

struct PatternItem {
    NodePattern src;
    EdgePattern edge;
    NodePattern dst;
    bool operator==(const PatternItem&) const = default;
};

// A node-only rule `for (v: L)` holds one pattern whose src and dst are both
// (v, L) and whose edge is this reserved pattern.
inline constexpr std::string_view kForNodeEdgeVar = "__for_dummy";
inline constexpr std::string_view kForNodeEdgeType = "__FOR_NODE__";

// ---------------------------------------------------------------------------
// Expressions.

struct CallArg;

struct ExprAst {
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
    // target.field
    struct Field {
        Box<ExprAst> target;
        std::string field;
        bool operator==(const Field&) const = default;
    };
    struct Call {
        std::string name;  // may be empty (a call whose callee could not be kept)
        std::vector<CallArg> args;
        bool operator==(const Call&) const = default;
    };
    struct Unary {
        UnaryOp op;
        Box<ExprAst> expr;
        bool operator==(const Unary&) const = default;
    };
    struct Binary {
        BinaryOp op;
        Box<ExprAst> left;
        Box<ExprAst> right;
        bool operator==(const Binary&) const = default;
    };
    // An existence test over one pattern. In an expression "not exists" is
    // the prefix Not over an Exists whose `negated` is false. The pattern is
    // boxed only to keep every expression node small (its six strings would
    // otherwise triple the size of all nodes); it behaves as a plain value.
    struct Exists {
        Box<PatternItem> pattern;
        std::optional<Box<ExprAst>> where_expr;
        bool negated;
        bool operator==(const Exists&) const = default;
    };

    using Node = std::variant<Number, Bool, Var, Field, Call, Unary, Binary, Exists>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    ExprAst(T&& alternative) : node(std::forward<T>(alternative)) {}

    // Deep copy, equality and teardown work at any depth without recursion.
    // Assign whole expressions rather than `node` when the source may be a
    // subtree of the target: only ExprAst's own assignment handles that.
    ExprAst(const ExprAst& other);
    ExprAst(ExprAst&& other) noexcept = default;
    // Safe when `other` is a subtree of this expression.
    ExprAst& operator=(const ExprAst& other);
    ExprAst& operator=(ExprAst&& other) noexcept;
    ~ExprAst();

    friend bool operator==(const ExprAst& a, const ExprAst& b);
};

// One argument of a call.
struct CallArg {
    struct Positional {
        ExprAst value;
        bool operator==(const Positional&) const = default;
    };
    struct Named {
        std::string name;
        ExprAst value;
        bool operator==(const Named&) const = default;
    };

    using Node = std::variant<Positional, Named>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    CallArg(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const CallArg&) const = default;
};

// ---------------------------------------------------------------------------
// Rules.

// The variance clause of a nudge. A factor is kept exactly as written and is
// absent when the clause names none (which differs from any written factor).
struct VarianceSpec {
    struct Preserve {
        bool operator==(const Preserve&) const = default;
    };
    struct Increase {
        std::optional<double> factor;
        bool operator==(const Increase&) const = default;
    };
    struct Decrease {
        std::optional<double> factor;
        bool operator==(const Decrease&) const = default;
    };

    using Node = std::variant<Preserve, Increase, Decrease>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    VarianceSpec(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const VarianceSpec&) const = default;
};

// One action of a rule. Options are absent when not written.
struct ActionStmt {
    struct Let {
        std::string name;
        ExprAst expr;
        bool operator==(const Let&) const = default;
    };
    // Pulls node_var.attr towards the value of expr; an absent variance
    // acts as Preserve.
    struct NonBayesianNudge {
        std::string node_var;
        std::string attr;
        ExprAst expr;
        std::optional<VarianceSpec> variance;
        bool operator==(const NonBayesianNudge&) const = default;
    };
    struct SoftUpdate {
        std::string node_var;
        std::string attr;
        ExprAst expr;
        std::optional<double> precision;
        std::optional<double> count;
        bool operator==(const SoftUpdate&) const = default;
    };
    struct Delete {
        std::string edge_var;
        std::optional<std::string> confidence;  // the word after "confidence ="
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
    ActionStmt(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const ActionStmt&) const = default;
};

// The word by which messages name an action's kind: "let",
// "non_bayesian_nudge", "soft_update", "delete" or "suppress".
std::string_view action_kind(const ActionStmt& action);

struct RuleDef {
    std::string name;
    std::string on_model;
    std::vector<PatternItem> patterns;  // may be empty
    std::vector<ActionStmt> actions;    // from all action blocks, in source order
    std::optional<std::string> mode;    // as written; absent runs as "for_each"
    std::optional<ExprAst> where_expr;
    bool operator==(const RuleDef&) const = default;
};

// ---------------------------------------------------------------------------
// Flows.

// One step of a graph pipeline.
struct Transform {
    struct ApplyRule {
        std::string rule;
        bool operator==(const ApplyRule&) const = default;
    };
    struct ApplyRuleset {
        std::vector<std::string> rules;  // source order, duplicates kept
        bool operator==(const ApplyRuleset&) const = default;
    };
    struct Snapshot {
        std::string name;  // without its quotes
        bool operator==(const Snapshot&) const = default;
    };
    struct InferBeliefs {
        bool operator==(const InferBeliefs&) const = default;
    };
    // Evaluated per edge of `edge_type`.
    struct PruneEdges {
        std::string edge_type;
        ExprAst predicate;
        bool operator==(const PruneEdges&) const = default;
    };

    using Node = std::variant<ApplyRule, ApplyRuleset, Snapshot, InferBeliefs, PruneEdges>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    Transform(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const Transform&) const = default;
};

// How a graph of a flow is made.
struct GraphExpr {
    struct FromEvidence {
        std::string evidence;
        bool operator==(const FromEvidence&) const = default;
    };
    // The alias under which a prior run exported or snapshotted a graph.
    struct FromGraph {
        std::string alias;
        bool operator==(const FromGraph&) const = default;
    };
    struct Pipeline {
        std::string start;  // a graph of the same flow
        std::vector<Transform> transforms;
        bool operator==(const Pipeline&) const = default;
    };
    struct SelectModel {
        std::vector<std::string> candidates;  // graphs of the same flow
        ModelSelectionCriterion criterion;
        bool operator==(const SelectModel&) const = default;
    };

    using Node = std::variant<FromEvidence, FromGraph, Pipeline, SelectModel>;
    Node node;

    template <typename T>
        requires std::is_constructible_v<Node, T&&>
    GraphExpr(T&& alternative) : node(std::forward<T>(alternative)) {}
    bool operator==(const GraphExpr&) const = default;
};

struct GraphDef {
    std::string name;
    GraphExpr expr;
    bool operator==(const GraphDef&) const = default;
};

struct MetricDef {
    std::string name;
    std::optional<std::string> on_graph;  // absent: the flow's last declared graph
    ExprAst expr;                         // a metric pipeline in its call form
    bool operator==(const MetricDef&) const = default;
};

struct ExportDef {
    std::string graph;
    std::string alias;
    bool operator==(const ExportDef&) const = default;
};

struct MetricExportDef {
    std::string metric;
    std::string alias;
    bool operator==(const MetricExportDef&) const = default;
};

struct MetricImportDef {
    std::string source_alias;
    std::string local_name;
    bool operator==(const MetricImportDef&) const = default;
};

struct FlowDef {
    std::string name;
    std::string on_model;
    std::vector<GraphDef> graphs;
    std::vector<MetricDef> metrics;
    std::vector<ExportDef> exports;
    std::vector<MetricExportDef> metric_exports;
    std::vector<MetricImportDef> metric_imports;
    bool operator==(const FlowDef&) const = default;
};

// ---------------------------------------------------------------------------
// The root. Each list keeps the source order of its own kind.

struct ProgramAst {
    std::vector<Schema> schemas;
    std::vector<BeliefModel> belief_models;
    std::vector<EvidenceDef> evidences;
    std::vector<RuleDef> rules;
    std::vector<FlowDef> flows;
    bool operator==(const ProgramAst&) const = default;
};

// ---------------------------------------------------------------------------
// Shorthands for building expressions.

inline ExprAst number(double value) { return ExprAst::Number{value}; }
inline ExprAst boolean(bool value) { return ExprAst::Bool{value}; }
inline ExprAst var(std::string name) { return ExprAst::Var{std::move(name)}; }
inline ExprAst field(ExprAst target, std::string name) {
    return ExprAst::Field{Box<ExprAst>(std::move(target)), std::move(name)};
}
inline ExprAst call(std::string name, std::vector<CallArg> args) {
    return ExprAst::Call{std::move(name), std::move(args)};
}
inline ExprAst unary(UnaryOp op, ExprAst operand) {
    return ExprAst::Unary{op, Box<ExprAst>(std::move(operand))};
}
inline ExprAst binary(BinaryOp op, ExprAst left, ExprAst right) {
    return ExprAst::Binary{op, Box<ExprAst>(std::move(left)), Box<ExprAst>(std::move(right))};
}
inline ExprAst exists(PatternItem pattern, std::optional<ExprAst> where_expr, bool negated) {
    std::optional<Box<ExprAst>> boxed;
    if (where_expr) boxed.emplace(std::move(*where_expr));
    return ExprAst::Exists{Box<PatternItem>(std::move(pattern)), std::move(boxed), negated};
}
inline CallArg positional(ExprAst value) { return CallArg::Positional{std::move(value)}; }
inline CallArg named(std::string name, ExprAst value) {
    return CallArg::Named{std::move(name), std::move(value)};
}

}  // namespace morvane::frontend::ast
