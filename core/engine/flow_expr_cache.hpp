// How a flow run evaluates metric expressions and prune predicates.
//
// A flow evaluates each metric once, but the predicate of a prune_edges
// transform once per candidate edge, which can mean millions of evaluations
// of one small expression. Every evaluation is addressed by a key (the flow
// and metric name, or the flow, graph and transform position), and a per-run
// cache counts the uses of each key. Once a key has been used often enough
// (8 times for a metric, 64 for a prune predicate), its expression is lowered
// into a flat list of operations over numbered slots and from then on run by
// a small interpreter. No machine code is generated.
//
// Lowering covers numbers, booleans, operators, metric variables and
// prob(edge); anything else is marked unsupported and never tried again. A
// lowered run that cannot finish (an unknown variable, a division by a value
// within 1e-12 of zero, a non-finite result, a failing probability lookup)
// discards its failure and lets the generic evaluator answer. So values and
// errors are exactly those of the generic evaluators; only the work differs.
//
// The cache lives for one run behind one mutex, held by the run's evaluator
// from the moment the program is optimized to the end of the run. The
// builder entry path uses DirectExprEvaluator: the generic evaluators, with
// no cache and no lock.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "core/engine/graph.hpp"
#include "core/metrics.hpp"
#include "frontend/ast.hpp"
#include "ir/expr.hpp"

namespace morvane::core::engine {

// Slots of a lowered program, numbered from 0 in the order of the
// operations that write them.
using SlotIndex = std::uint32_t;

// The operations of lowered programs; each writes its own slot `dst`.
struct LoweredConst {
    SlotIndex dst;
    double value;
};
struct LoweredBool {
    SlotIndex dst;
    bool flag;
};
// The metric binding of that name.
struct LoweredVar {
    SlotIndex dst;
    std::string name;
};
// The existence probability of the edge under test.
struct LoweredProb {
    SlotIndex dst;
};
struct LoweredUnary {
    SlotIndex dst;
    frontend::ast::UnaryOp op;
    SlotIndex src;
};
struct LoweredBinary {
    SlotIndex dst;
    frontend::ast::BinaryOp op;
    SlotIndex lhs;
    SlotIndex rhs;
};

using CraneliftMetricOp =
    std::variant<LoweredConst, LoweredBool, LoweredVar, LoweredUnary, LoweredBinary>;
using CraneliftPruneOp =
    std::variant<LoweredConst, LoweredBool, LoweredProb, LoweredUnary, LoweredBinary>;

// Operations in execution order; the value is slot `result`; `slots` is the
// number of operations.
template <typename Op>
struct LoweredProgram {
    std::vector<Op> ops;
    SlotIndex result = 0;
    SlotIndex slots = 0;
};
using CraneliftMetricProgram = LoweredProgram<CraneliftMetricOp>;
using CraneliftPruneProgram = LoweredProgram<CraneliftPruneOp>;

// Lowering appends the operations of `expr` to `program` in post order and
// returns the root's slot (also stored as the program's result), or nothing
// when the expression holds something the program form cannot express; the
// program is then incomplete and must be dropped.
struct CraneliftMetricCompiler {
    // Numbers, booleans, metric variables and operators.
    static std::optional<SlotIndex> lower(CraneliftMetricProgram& program, const ir::ExprIR& expr);
};
struct CraneliftPruneCompiler {
    // Numbers, booleans, prob(edge) and operators.
    static std::optional<SlotIndex> lower(CraneliftPruneProgram& program, const ir::ExprIR& expr);
};

// Interpreters: the value of the program, or nothing when a step fails.
// `scratch` is reused between runs to hold the slots.
std::optional<double> run_metric_program(const CraneliftMetricProgram& program,
                                         const metrics::MetricBindings& bindings,
                                         std::vector<double>& scratch);
std::optional<double> run_prune_program(const CraneliftPruneProgram& program,
                                        const BeliefGraph& graph, EdgeId edge,
                                        std::vector<double>& scratch);

// What the cache knows of one key.
template <typename Program>
struct JitEntry {
    std::optional<Program> program;
    std::uint64_t hits = 0;    // lookups of this key
    bool unsupported = false;  // lowering was tried and failed
    // The expression the entry was made for, and its tree form for the
    // generic evaluator, converted on first need.
    const ir::ExprIR* source = nullptr;
    std::optional<frontend::ast::ExprAst> tree;
};

struct MetricExprKey {
    std::string flow;
    std::string metric;
};
struct PruneExprKey {
    std::string flow;
    std::string graph;
    std::size_t position = 0;  // of the transform in its pipeline
};

// Key orders that also accept borrowed views of a key.
struct MetricExprKeyLess {
    using is_transparent = void;
    using View = std::pair<std::string_view, std::string_view>;
    static View view(const MetricExprKey& k) noexcept { return {k.flow, k.metric}; }
    static View view(const View& v) noexcept { return v; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const noexcept {
        return view(a) < view(b);
    }
};
struct PruneExprKeyLess {
    using is_transparent = void;
    using View = std::tuple<std::string_view, std::string_view, std::size_t>;
    static View view(const PruneExprKey& k) noexcept { return {k.flow, k.graph, k.position}; }
    static View view(const View& v) noexcept { return v; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const noexcept {
        return view(a) < view(b);
    }
};

struct JitState {
    std::map<MetricExprKey, JitEntry<CraneliftMetricProgram>, MetricExprKeyLess> metric_entries;
    std::map<PruneExprKey, JitEntry<CraneliftPruneProgram>, PruneExprKeyLess> prune_entries;
};

// The two evaluations a flow run needs. Both give exactly the value or the
// error of the generic evaluators: metrics::eval_metric_expr for a metric,
// eval_expr_core over a PruneExprContext for a predicate.
template <typename E>
concept FlowExprEvaluator = requires(E& e, std::string_view name, std::size_t position,
                                     const ir::ExprIR& expr, const BeliefGraph& graph,
                                     const metrics::MetricRegistry& registry,
                                     const metrics::MetricBindings& bindings, EdgeId edge) {
    { e.eval_metric_expr(name, name, expr, graph, registry, bindings) } -> std::same_as<double>;
    { e.eval_prune_predicate(name, name, position, expr, graph, edge) } -> std::same_as<double>;
};

// The evaluator of a run_flow run: holds the backend's lock and its cache.
class CraneliftExprEvaluator {
public:
    CraneliftExprEvaluator(std::unique_lock<std::mutex> lock, JitState& state,
                           std::size_t metric_threshold, std::size_t prune_threshold);

    double eval_metric_expr(std::string_view flow, std::string_view metric, const ir::ExprIR& expr,
                            const BeliefGraph& graph, const metrics::MetricRegistry& registry,
                            const metrics::MetricBindings& bindings);
    double eval_prune_predicate(std::string_view flow, std::string_view graph_name,
                                std::size_t position, const ir::ExprIR& predicate,
                                const BeliefGraph& graph, EdgeId edge);

private:
    using PruneEntry = std::pair<const PruneExprKey, JitEntry<CraneliftPruneProgram>>;

    JitEntry<CraneliftPruneProgram>& prune_entry(std::string_view flow, std::string_view graph_name,
                                                 std::size_t position, const ir::ExprIR& predicate);

    std::unique_lock<std::mutex> lock_;
    JitState* state_;
    std::size_t metric_threshold_;
    std::size_t prune_threshold_;
    std::vector<double> scratch_;
    // The entry of the previous predicate evaluation: a transform asks for
    // the same key once per candidate edge.
    PruneEntry* last_prune_ = nullptr;
};

// The backend of run_flow: thresholds and the cache behind its mutex, made
// fresh for every run.
class CraneliftJitExecutionBackend {
public:
    static constexpr std::size_t kMetricThreshold = 8;
    static constexpr std::size_t kPruneThreshold = 64;

    // A threshold of 0 acts as 1.
    explicit CraneliftJitExecutionBackend(std::size_t metric_threshold = kMetricThreshold,
                                          std::size_t prune_threshold = kPruneThreshold)
        : metric_threshold_(metric_threshold), prune_threshold_(prune_threshold) {}

    // Takes the lock for one run and empties the cache, which holds
    // addresses of the previous run's expressions. The evaluator holds the
    // lock until it is destroyed.
    CraneliftExprEvaluator lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        state_ = JitState{};
        return CraneliftExprEvaluator(std::move(guard), state_, metric_threshold_,
                                      prune_threshold_);
    }

    const JitState& state() const noexcept { return state_; }

private:
    std::size_t metric_threshold_;
    std::size_t prune_threshold_;
    std::mutex mutex_;
    JitState state_;
};

// The evaluator of the builder path: the generic evaluators, directly.
class DirectExprEvaluator {
public:
    double eval_metric_expr(std::string_view flow, std::string_view metric, const ir::ExprIR& expr,
                            const BeliefGraph& graph, const metrics::MetricRegistry& registry,
                            const metrics::MetricBindings& bindings);
    double eval_prune_predicate(std::string_view flow, std::string_view graph_name,
                                std::size_t position, const ir::ExprIR& predicate,
                                const BeliefGraph& graph, EdgeId edge);

private:
    // The tree form of the predicate evaluated last, converted once for all
    // the candidate edges of a transform.
    const ir::ExprIR* last_predicate_ = nullptr;
    std::optional<frontend::ast::ExprAst> last_tree_;
};

static_assert(FlowExprEvaluator<CraneliftExprEvaluator>);
static_assert(FlowExprEvaluator<DirectExprEvaluator>);

}  // namespace morvane::core::engine
