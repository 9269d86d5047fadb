// The metric evaluator, the four built-in metric functions and the per-node
// function library (see metrics.hpp).
#include "core/metrics.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <variant>

#include "core/engine/expr_utils.hpp"
#include "core/engine/operator_walk.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"
#include "frontend/support/stack_room.hpp"

namespace morvane::core::metrics {
namespace {

using engine::EdgeId;
using engine::inv_norm_cdf;
using frontend::ast::UnaryOp;

[[noreturn]] void fail(std::string message) {
    throw ExecError::validation(std::move(message));
}

[[noreturn]] void fail_non_finite(double v) {
    fail(
        support::fill("metric expression produced non-finite value: {}", support::plain_number(v)));
}

bool is_var_named(const ExprAst& e, std::string_view name) {
    const auto* v = std::get_if<ExprAst::Var>(&e.node);
    return v != nullptr && v->name == name;
}

// The name written as a plain variable, as labels and edge types are.
std::string_view identifier(const ExprAst& e) {
    const auto* v = std::get_if<ExprAst::Var>(&e.node);
    if (v == nullptr) fail("expected identifier-like argument");
    return v->name;
}

// ---------------------------------------------------------------------------
// Per-node functions.

// The attribute named by a `node.attr` argument. The texts of the two
// errors are built only on failure, so that a valid call allocates nothing.
struct NodeAttr {
    enum Status { Ok, NotField, NotNode } status;
    std::string_view attr;
};

NodeAttr read_node_attr(const ExprAst& arg) {
    const auto* f = std::get_if<ExprAst::Field>(&arg.node);
    if (f == nullptr) return {NodeAttr::NotField, {}};
    if (!is_var_named(*f->target, "node")) return {NodeAttr::NotNode, {}};
    return {NodeAttr::Ok, f->field};
}

std::string_view node_attr(const ExprAst& arg, std::string_view field_error,
                           std::string_view target_error) {
    const NodeAttr read = read_node_attr(arg);
    if (read.status == NodeAttr::NotField) fail(std::string(field_error));
    if (read.status == NodeAttr::NotNode) fail(std::string(target_error));
    return read.attr;
}

enum class AttrQuery { Mean, Stddev, Variance, Precision };

// E[node.x], stddev(node.x), variance(node.x) and effective_n(node.x). The
// messages start with `prefix`; only the first three refuse a named first
// argument.
double attr_function(std::string_view prefix, AttrQuery query, bool refuses_named,
                     engine::PositionalArgs positional, std::span<const CallArg> args,
                     const BeliefGraph& graph, NodeId node) {
    if (refuses_named && !args.empty() && std::holds_alternative<CallArg::Named>(args[0].node)) {
        fail(support::cat(prefix, " does not accept named arguments"));
    }
    if (positional.size() != 1) fail(support::cat(prefix, " expects one positional argument"));
    const NodeAttr read = read_node_attr(*positional[0]);
    if (read.status == NodeAttr::NotField) {
        fail(support::cat(prefix, " requires a field expression"));
    }
    if (read.status == NodeAttr::NotNode) {
        fail(support::cat(prefix, " requires node.attr with 'node' variable"));
    }
    const std::string_view attr = read.attr;
    switch (query) {
        case AttrQuery::Mean:
            return graph.expectation(node, attr);
        case AttrQuery::Stddev:
            return graph.stddev(node, attr);
        case AttrQuery::Variance:
            return graph.variance(node, attr);
        case AttrQuery::Precision:
            break;
    }
    return graph.precision(node, attr);
}

// The probability p of quantile, ci_lo and ci_hi: a number literal in (0, 1).
double probability_literal(const ExprAst& arg, std::string_view literal_error,
                           std::string_view range_error) {
    const auto* number = std::get_if<ExprAst::Number>(&arg.node);
    if (number == nullptr) fail(std::string(literal_error));
    if (number->value <= 0.0 || number->value >= 1.0) fail(std::string(range_error));
    return number->value;
}

double quantile(engine::PositionalArgs positional, const BeliefGraph& graph, NodeId node) {
    if (positional.size() < 2) fail("quantile(): requires node.attr and p");
    const double p =
        probability_literal(*positional[1], "quantile(): second argument must be numeric p",
                            "quantile(): p must be in (0,1)");
    const std::string_view attr =
        node_attr(*positional[0], "quantile(): first argument must be a field expression",
                  "quantile(): first argument must be node.attr");
    const double mean = graph.expectation(node, attr);
    return mean + inv_norm_cdf(p) * graph.stddev(node, attr);
}

double central_interval_end(bool upper, engine::PositionalArgs positional, const BeliefGraph& graph,
                            NodeId node) {
    if (positional.size() != 2) fail("ci_lo/ci_hi(): requires node.attr and p");
    const double p = probability_literal(*positional[1], "ci_lo/ci_hi(): p must be numeric",
                                         "ci_lo/ci_hi(): p must be in (0,1)");
    const std::string_view attr =
        node_attr(*positional[0], "ci_lo/ci_hi(): first arg must be field expr",
                  "ci_lo/ci_hi(): first arg must be node.attr");
    const double mean = graph.expectation(node, attr);
    const double t = graph.stddev(node, attr) * inv_norm_cdf((p + 1.0) * 0.5);
    return upper ? mean + t : mean - t;
}

// ---------------------------------------------------------------------------
// Node walks shared by the four metric functions.

// The nodes of the base labelled `label`, by ascending id.
std::vector<NodeId> labelled_nodes(const BeliefGraph& graph, std::string_view label) {
    std::vector<NodeId> ids;
    for (const engine::NodeData& n : graph.nodes()) {
        if (n.label == label) ids.push_back(n.id);
    }
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
    return ids;
}

// A filter selects a node when its value is not 0.0 (NaN selects).
bool selects(const ExprAst* where, const BeliefGraph& graph, NodeId node,
             const MetricBindings& bindings) {
    return where == nullptr || eval_node_expr(*where, graph, node, bindings, std::nullopt) != 0.0;
}

// The `where` filter: named, or second positional, as the validator reads it.
const ExprAst* where_arg(const MetricArgs& args) {
    return args.named_or_position("where", 1);
}

class CountNodes final : public MetricFn {
public:
    double eval(const BeliefGraph& graph, const MetricArgs& args,
                const MetricBindings& bindings) const override {
        const std::string_view label = parse_label(args);
        const ExprAst* where = where_arg(args);
        std::size_t count = 0;
        for (const NodeId node : labelled_nodes(graph, label)) {
            if (selects(where, graph, node, bindings)) ++count;
        }
        return static_cast<double>(count);
    }
};

class SumNodes final : public MetricFn {
public:
    double eval(const BeliefGraph& graph, const MetricArgs& args,
                const MetricBindings& bindings) const override {
        const std::string_view label = parse_label(args);
        const ExprAst* where = where_arg(args);
        const ExprAst* contrib = args.named_or_position("contrib", 2);
        if (contrib == nullptr) fail("sum_nodes: missing 'contrib' argument");
        // Compensated (Kahan) summation in node order.
        double sum = 0.0;
        double compensation = 0.0;
        for (const NodeId node : labelled_nodes(graph, label)) {
            if (!selects(where, graph, node, bindings)) continue;
            const double y =
                eval_node_expr(*contrib, graph, node, bindings, std::nullopt) - compensation;
            const double t = sum + y;
            compensation = (t - sum) - y;
            sum = t;
        }
        // A total past the range of doubles is no metric.
        if (!std::isfinite(sum)) fail_non_finite(sum);
        return sum;
    }
};

class FoldNodes final : public MetricFn {
public:
    double eval(const BeliefGraph& graph, const MetricArgs& args,
                const MetricBindings& bindings) const override {
        const std::string_view label = parse_label(args);
        const ExprAst* where = where_arg(args);
        const ExprAst* order_by = args.named_or_position("order_by", 2);
        const ExprAst* init = args.named_or_position("init", 3);
        if (init == nullptr) fail("fold_nodes: missing 'init' argument");
        const ExprAst* step = args.named_or_position("step", 4);
        if (step == nullptr) fail("fold_nodes: missing 'step' argument");

        // Filters and keys of every node come first, then init, then the steps.
        struct Keyed {
            double key;
            NodeId node;
        };
        std::vector<Keyed> order;
        for (const NodeId node : labelled_nodes(graph, label)) {
            if (!selects(where, graph, node, bindings)) continue;
            const double key = order_by != nullptr
                                   ? eval_node_expr(*order_by, graph, node, bindings, std::nullopt)
                                   : static_cast<double>(node.value);
            order.push_back({key, node});
        }
        // Ascending key, NaN keys last, ties by node id.
        std::sort(order.begin(), order.end(), [](const Keyed& a, const Keyed& b) {
            const bool a_nan = std::isnan(a.key);
            const bool b_nan = std::isnan(b.key);
            if (a_nan != b_nan) return b_nan;
            if (!a_nan && a.key != b.key) return a.key < b.key;
            return a.node < b.node;
        });

        const double init_value = support::with_stack_room([&] {
            return eval_metric_expr(*init, graph, MetricRegistry::with_builtins(), bindings);
        });
        if (!std::isfinite(init_value)) {
            fail(support::fill("fold_nodes: init expression produced non-finite value: {}",
                               support::plain_number(init_value)));
        }
        double acc = init_value;
        for (const Keyed& k : order) {
            acc = eval_node_expr(*step, graph, k.node, bindings, acc);
            if (!std::isfinite(acc)) {
                fail(support::fill(
                    "fold_nodes: step expression produced non-finite value: {} for node {}",
                    support::plain_number(acc), engine::debug_form(k.node)));
            }
        }
        return acc;
    }
};

// Whether a node id is one of a given ascending list: a bitmap over the ids
// when they are dense (as ids of a graph built from evidence are), a binary
// search otherwise.
class NodeIdSet {
public:
    explicit NodeIdSet(std::span<const NodeId> ascending) : ids_(ascending) {
        if (ascending.empty()) return;
        const std::size_t top = ascending.back().value;
        if (top > 4 * ascending.size() + 1024) return;
        bits_.assign(top + 1, false);
        for (const NodeId id : ascending)
            bits_[id.value] = true;
    }

    bool contains(NodeId id) const {
        if (!bits_.empty()) return id.value < bits_.size() && bits_[id.value];
        return std::binary_search(ids_.begin(), ids_.end(), id);
    }

private:
    std::span<const NodeId> ids_;
    std::vector<bool> bits_;
};

// Outgoing edges of `edge_type` from `nodes` (ascending) with probability at
// least min_prob, read node by node in ascending id and each node's edges in
// ascending id, as the outgoing adjacency lists them.
std::size_t count_outgoing_in_node_order(const BeliefGraph& graph, std::span<const NodeId> nodes,
                                         std::string_view edge_type, double min_prob) {
    const engine::OutgoingEdgesByType adjacency = graph.adjacency_outgoing_by_type();
    std::size_t count = 0;
    for (const NodeId node : nodes) {
        const auto it = adjacency.find(engine::SourceAndTypeView{node, edge_type});
        if (it == adjacency.end()) continue;
        for (const EdgeId edge : it->second) {
            if (graph.prob_mean(edge) >= min_prob) ++count;
        }
    }
    return count;
}

// The same count over the same edges (stored edges, then pending insertions
// of new ids) read in stored order, which spares building the adjacency. The
// count does not depend on the order; a failure might, so when a probability
// cannot be read the edges are read again in node order, and the failure
// reported is the one that order meets first.
std::size_t count_outgoing(const BeliefGraph& graph, std::span<const NodeId> nodes,
                           std::string_view edge_type, double min_prob) {
    const NodeIdSet sources(nodes);
    const engine::BeliefGraphInner& base = graph.base();
    std::size_t count = 0;
    const auto visit = [&](const engine::EdgeData& e) {
        if (e.edge_type == edge_type && sources.contains(e.src) &&
            graph.prob_mean(e.id) >= min_prob) {
            ++count;
        }
    };
    try {
        for (const engine::EdgeData& e : base.edges)
            visit(e);
        for (const engine::GraphDelta& d : graph.deltas()) {
            const auto* insert = std::get_if<engine::GraphDelta::EdgeInsert>(&d.change);
            if (insert != nullptr && !base.edge_index.find(insert->id)) visit(insert->data);
        }
    } catch (const ExecError&) {
        return count_outgoing_in_node_order(graph, nodes, edge_type, min_prob);
    } catch (const support::Panic&) {
        return count_outgoing_in_node_order(graph, nodes, edge_type, min_prob);
    }
    return count;
}

class AvgDegree final : public MetricFn {
public:
    double eval(const BeliefGraph& graph, const MetricArgs& args,
                const MetricBindings&) const override {
        const std::string_view label = parse_label(args);
        const ExprAst* type_arg = args.named_or_position("edge_type", 1);
        if (type_arg == nullptr) fail("avg_degree: missing 'edge_type' argument");
        const std::string_view edge_type = identifier(*type_arg);
        double min_prob = 0.0;
        if (const ExprAst* given = args.named_arg("min_prob")) {
            const auto* number = std::get_if<ExprAst::Number>(&given->node);
            if (number == nullptr) fail("expected numeric literal for argument");
            min_prob = number->value;
        }

        const std::vector<NodeId> nodes = labelled_nodes(graph, label);
        if (nodes.empty()) return 0.0;
        const std::size_t count = count_outgoing(graph, nodes, edge_type, min_prob);
        return static_cast<double>(count) / static_cast<double>(nodes.size());
    }
};

// ---------------------------------------------------------------------------
// The top-level evaluator.

double eval_call(const ExprAst::Call& call, const BeliefGraph& graph,
                 const MetricRegistry& registry, const MetricBindings& bindings) {
    const MetricFn* fn = registry.find(call.name);
    if (fn == nullptr) fail(support::fill("unknown metric function '{}'", call.name));
    const MetricArgs args = MetricArgs::from_call_args(call.args);
    return support::with_stack_room([&] { return fn->eval(graph, args, bindings); });
}

double eval_leaf(const ExprAst& e, const BeliefGraph& graph, const MetricRegistry& registry,
                 const MetricBindings& bindings) {
    if (const auto* n = std::get_if<ExprAst::Number>(&e.node)) return n->value;
    if (const auto* b = std::get_if<ExprAst::Bool>(&e.node)) return b->value ? 1.0 : 0.0;
    if (const auto* v = std::get_if<ExprAst::Var>(&e.node)) {
        const auto it = bindings.find(std::string_view(v->name));
        if (it == bindings.end()) fail(support::fill("unknown metric variable '{}'", v->name));
        return it->second;
    }
    if (const auto* c = std::get_if<ExprAst::Call>(&e.node)) {
        return eval_call(*c, graph, registry, bindings);
    }
    if (std::holds_alternative<ExprAst::Field>(e.node)) {
        fail("bare field access not supported in metric; use E[node.attr]");
    }
    fail("exists subqueries not supported in metric expressions");
}

}  // namespace

// ---------------------------------------------------------------------------
// Arguments and registry.

MetricArgs MetricArgs::from_call_args(std::span<const CallArg> args) {
    MetricArgs out;
    for (const CallArg& arg : args) {
        if (const auto* p = std::get_if<CallArg::Positional>(&arg.node)) {
            out.positional.push_back(&p->value);
        } else {
            const auto& named = std::get<CallArg::Named>(arg.node);
            out.named.emplace_back(named.name, &named.value);
        }
    }
    return out;
}

const ExprAst* MetricArgs::named_arg(std::string_view name) const {
    for (auto it = named.rbegin(); it != named.rend(); ++it) {
        if (it->first == name) return it->second;
    }
    return nullptr;
}

const ExprAst* MetricArgs::position(std::size_t index) const {
    return index < positional.size() ? positional[index] : nullptr;
}

const ExprAst* MetricArgs::named_or_position(std::string_view name, std::size_t index) const {
    const ExprAst* named_value = named_arg(name);
    return named_value != nullptr ? named_value : position(index);
}

MetricRegistry MetricRegistry::with_builtins() {
    static const MetricFnHandle count_nodes = std::make_shared<const CountNodes>();
    static const MetricFnHandle sum_nodes = std::make_shared<const SumNodes>();
    static const MetricFnHandle fold_nodes = std::make_shared<const FoldNodes>();
    static const MetricFnHandle avg_degree = std::make_shared<const AvgDegree>();
    MetricRegistry registry;
    registry.entries_.reserve(4);
    registry.register_function("count_nodes", count_nodes);
    registry.register_function("sum_nodes", sum_nodes);
    registry.register_function("fold_nodes", fold_nodes);
    registry.register_function("avg_degree", avg_degree);
    return registry;
}

void MetricRegistry::register_function(std::string name, MetricFnHandle fn) {
    for (auto& entry : entries_) {
        if (entry.first == name) {
            entry.second = std::move(fn);
            return;
        }
    }
    entries_.emplace_back(std::move(name), std::move(fn));
}

const MetricFn* MetricRegistry::find(std::string_view name) const {
    for (const auto& entry : entries_) {
        if (entry.first == name) return entry.second.get();
    }
    return nullptr;
}

std::string_view parse_label(const MetricArgs& args) {
    const ExprAst* label = args.named_or_position("label", 0);
    if (label == nullptr) fail("missing 'label' argument");
    return identifier(*label);
}

// ---------------------------------------------------------------------------
// Evaluation.

double eval_metric_binary_op(BinaryOp op, double a, double b) {
    double result = 0.0;
    switch (op) {
        case BinaryOp::Add:
            result = a + b;
            break;
        case BinaryOp::Sub:
            result = a - b;
            break;
        case BinaryOp::Mul:
            result = a * b;
            break;
        case BinaryOp::Div:
            if (std::fabs(b) < engine::kExprTolerance) {
                fail("division by zero in metric expression");
            }
            result = a / b;
            break;
        case BinaryOp::Eq:
            result = std::fabs(a - b) < engine::kExprTolerance ? 1.0 : 0.0;
            break;
        case BinaryOp::Ne:
            result = std::fabs(a - b) >= engine::kExprTolerance ? 1.0 : 0.0;
            break;
        case BinaryOp::Lt:
            result = a < b ? 1.0 : 0.0;
            break;
        case BinaryOp::Le:
            result = a <= b ? 1.0 : 0.0;
            break;
        case BinaryOp::Gt:
            result = a > b ? 1.0 : 0.0;
            break;
        case BinaryOp::Ge:
            result = a >= b ? 1.0 : 0.0;
            break;
        case BinaryOp::And:
            result = a != 0.0 && b != 0.0 ? 1.0 : 0.0;
            break;
        case BinaryOp::Or:
            result = a != 0.0 || b != 0.0 ? 1.0 : 0.0;
            break;
    }
    if (!std::isfinite(result)) fail_non_finite(result);
    return result;
}

double eval_metric_expr(const ExprAst& expr, const BeliefGraph& graph,
                        const MetricRegistry& registry, const MetricBindings& bindings) {
    return *engine::walk_operators<double>(
        expr,
        [&](const ExprAst& leaf) -> std::optional<double> {
            return eval_leaf(leaf, graph, registry, bindings);
        },
        engine::eval_unary_op, eval_metric_binary_op);
}

double eval_node_expr(const ExprAst& expr, const BeliefGraph& graph, NodeId node,
                      const MetricBindings& bindings, std::optional<double> value) {
    if (is_var_named(expr, "node")) {
        fail("bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)");
    }
    if (!value && is_var_named(expr, "value")) {
        fail("'value' is only valid inside fold_nodes step");
    }
    return engine::eval_expr_core(expr, graph, MetricExprContext{node, value, &bindings});
}

// ---------------------------------------------------------------------------
// The per-node context.

std::optional<double> MetricExprContext::resolve_var(std::string_view name) const {
    if (name == "value") return value;
    if (name == "node") return std::nullopt;
    const auto it = bindings->find(name);
    if (it == bindings->end()) return std::nullopt;
    return it->second;
}

double MetricExprContext::eval_function(std::string_view name, engine::PositionalArgs positional,
                                        std::span<const CallArg> args,
                                        const BeliefGraph& graph) const {
    if (name == "E") {
        return attr_function("E[]", AttrQuery::Mean, true, positional, args, graph, node);
    }
    if (name == "stddev") {
        return attr_function("stddev()", AttrQuery::Stddev, true, positional, args, graph, node);
    }
    if (name == "variance") {
        return attr_function("variance()", AttrQuery::Variance, true, positional, args, graph,
                             node);
    }
    if (name == "effective_n") {
        return attr_function("effective_n():", AttrQuery::Precision, false, positional, args, graph,
                             node);
    }
    if (name == "quantile") return quantile(positional, graph, node);
    if (name == "ci_lo" || name == "ci_hi") {
        return central_interval_end(name == "ci_hi", positional, graph, node);
    }
    if (name == "degree") {
        if (positional.empty()) fail("degree(): missing node argument");
        double min_prob = 0.0;
        for (const CallArg& arg : args) {
            const auto* named = std::get_if<CallArg::Named>(&arg.node);
            if (named != nullptr && named->name == "min_prob") {
                min_prob = engine::eval_expr_core(named->value, graph, *this);
                break;
            }
        }
        if (!is_var_named(*positional[0], "node")) fail("degree(): first argument must be 'node'");
        return static_cast<double>(graph.degree_outgoing(node, min_prob));
    }
    if (name == "entropy") {
        if (positional.size() < 2) fail("entropy(): requires node and edge_type arguments");
        if (!is_var_named(*positional[0], "node")) {
            fail("entropy(): first argument must be 'node' in metric expressions");
        }
        const auto* edge_type = std::get_if<ExprAst::Var>(&positional[1]->node);
        if (edge_type == nullptr) fail("entropy(): edge_type must be an identifier");
        const engine::CompetingEdgeGroup* group = graph.get_competing_group(node, edge_type->name);
        return group != nullptr ? group->posterior.entropy() : 0.0;
    }
    fail(support::fill("unsupported function '{}' in node metric expression", name));
}

ExecError MetricExprContext::field_access_error(const ExprAst::Field&) {
    return ExecError::validation("bare field access not supported in metric; use E[node.attr]");
}

}  // namespace morvane::core::metrics
