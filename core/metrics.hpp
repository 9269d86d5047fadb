// Metrics: the numbers a flow computes from a belief graph.
//
// A metric is an expression over numbers, the values of metrics computed
// before it and calls of four built-in functions that walk the nodes of one
// label: count_nodes, sum_nodes, fold_nodes and avg_degree. (The pipeline
// syntax `nodes(L) |> where ... |> sum(by = ...)` is written as these calls by
// the builders.) Their per-node arguments (where, contrib, order_by, step)
// are evaluated once per node by the shared expression evaluator, in a
// context where `node` is the node being visited and, in a fold step, `value`
// is the running accumulator.
//
// The top level of a metric has its own evaluator, with its own arithmetic
// messages: every binary result is checked for finiteness, a division by a
// value within 1e-12 of zero fails, and unknown names and functions are
// Validation errors.
//
// Node order: every function walks the labelled nodes of the graph's base
// node list (pending insertions are not seen) in ascending NodeId order.
//
// All failures are thrown as engine::ExecError. Evaluation never changes the
// graph or the bindings.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/expr_eval.hpp"
#include "core/engine/graph.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::metrics {

using engine::BeliefGraph;
using engine::ExecError;
using engine::NodeId;
using frontend::ast::BinaryOp;
using frontend::ast::CallArg;
using frontend::ast::ExprAst;

// Hash of owned or borrowed text, for maps looked up by string_view.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>()(text);
    }
};

// Metric values by name: the metrics computed so far and the imported ones.
using MetricBindings = std::unordered_map<std::string, double, TextHash, std::equal_to<>>;

// The arguments of a metric function call, borrowed from the call.
struct MetricArgs {
    std::vector<const ExprAst*> positional;  // source order
    // Source order, repeats kept; a lookup finds the last one of a name.
    std::vector<std::pair<std::string_view, const ExprAst*>> named;

    static MetricArgs from_call_args(std::span<const CallArg> args);

    // The named argument of that name (the later of two), or null.
    const ExprAst* named_arg(std::string_view name) const;
    // The positional argument at `index`, or null.
    const ExprAst* position(std::size_t index) const;
    // The named argument when given, else the positional one at `index`.
    const ExprAst* named_or_position(std::string_view name, std::size_t index) const;
};

// A built-in metric function. Implementations hold no state, so one handle
// may serve any number of registries.
class MetricFn {
public:
    virtual ~MetricFn() = default;
    virtual double eval(const BeliefGraph& graph, const MetricArgs& args,
                        const MetricBindings& bindings) const = 0;
};

using MetricFnHandle = std::shared_ptr<const MetricFn>;

// Metric functions by name.
class MetricRegistry {
public:
    // count_nodes, sum_nodes, fold_nodes and avg_degree, in that order.
    static MetricRegistry with_builtins();

    // Adds the function, replacing one registered under the same name.
    void register_function(std::string name, MetricFnHandle fn);
    // The function of that name, or null.
    const MetricFn* find(std::string_view name) const;

private:
    std::vector<std::pair<std::string, MetricFnHandle>> entries_;
};

// The value of one top-level metric expression against `graph`.
double eval_metric_expr(const ExprAst& expr, const BeliefGraph& graph,
                        const MetricRegistry& registry, const MetricBindings& bindings);

// One binary operator of the top-level evaluator on two computed operands:
// Validation "division by zero in metric expression" when |b| < 1e-12, and
// Validation "metric expression produced non-finite value: {}" for an
// infinite or NaN result.
double eval_metric_binary_op(BinaryOp op, double a, double b);

// The label of a node function: the named `label`, else the first positional
// argument, which must be a plain name. Validation "missing 'label' argument"
// or "expected identifier-like argument".
std::string_view parse_label(const MetricArgs& args);

// One per-node expression for `node`, with the fold accumulator `value` when
// evaluating a fold step. A bare `node`, or a bare `value` without an
// accumulator, fails with its own Validation message.
double eval_node_expr(const ExprAst& expr, const BeliefGraph& graph, NodeId node,
                      const MetricBindings& bindings, std::optional<double> value);

// The expression context of per-node expressions. Variables: `value` (the
// accumulator, when there is one) and the metric bindings; `node` is never a
// value. Functions: E, stddev, variance, effective_n, quantile, ci_lo, ci_hi,
// degree and entropy of the visited node; every misuse is a Validation error.
struct MetricExprContext {
    NodeId node;
    std::optional<double> value;
    const MetricBindings* bindings;

    std::optional<double> resolve_var(std::string_view name) const;
    double eval_function(std::string_view name, engine::PositionalArgs positional,
                         std::span<const CallArg> args, const BeliefGraph& graph) const;
    // Validation "bare field access not supported in metric; use E[node.attr]".
    static ExecError field_access_error(const ExprAst::Field& field);
};

}  // namespace morvane::core::metrics
