// Lowering, the two interpreters and the cached and direct evaluators (see
// flow_expr_cache.hpp).
#include "core/engine/flow_expr_cache.hpp"

#include <algorithm>

#include "core/engine/expr_eval.hpp"
#include "core/engine/operator_walk.hpp"
#include "core/engine/prune_expr_context.hpp"

namespace morvane::core::engine {
namespace {

using ir::ExprIR;

// Lowers `root` in post order, giving every operation the next slot.
// `leaf` appends the operation of an operand-free node (writing the given
// slot), or returns false when the node is unsupported.
template <typename Op, typename Leaf>
std::optional<SlotIndex> lower_post_order(LoweredProgram<Op>& program, const ExprIR& root,
                                          Leaf&& leaf) {
    const auto next_slot = [&program] {
        return static_cast<SlotIndex>(checked_id_value(program.ops.size()));
    };
    const std::optional<SlotIndex> result = walk_operators<SlotIndex>(
        root,
        [&](const ExprIR& e) -> std::optional<SlotIndex> {
            const SlotIndex dst = next_slot();
            if (!leaf(e, dst, program.ops)) return std::nullopt;
            return dst;
        },
        [&](frontend::ast::UnaryOp op, SlotIndex src) {
            const SlotIndex dst = next_slot();
            program.ops.push_back(LoweredUnary{dst, op, src});
            return dst;
        },
        [&](frontend::ast::BinaryOp op, SlotIndex lhs, SlotIndex rhs) {
            const SlotIndex dst = next_slot();
            program.ops.push_back(LoweredBinary{dst, op, lhs, rhs});
            return dst;
        });
    if (!result) return std::nullopt;
    program.result = *result;
    program.slots = static_cast<SlotIndex>(program.ops.size());
    return result;
}

// Number and Bool, the leaves both program forms share.
template <typename Op>
bool lower_constant(const ExprIR& e, SlotIndex dst, std::vector<Op>& ops) {
    if (const auto* n = std::get_if<ExprIR::Number>(&e.node)) {
        ops.push_back(LoweredConst{dst, n->value});
    } else if (const auto* b = std::get_if<ExprIR::Bool>(&e.node)) {
        ops.push_back(LoweredBool{dst, b->value});
    } else {
        return false;
    }
    return true;
}

// prob(edge), written with exactly one argument.
bool is_prob_of_edge(const ExprIR& e) {
    const auto* call = std::get_if<ExprIR::Call>(&e.node);
    if (call == nullptr || call->name != "prob" || call->args.size() != 1) return false;
    const auto* arg = std::get_if<ir::CallArgIR::Positional>(&call->args[0].node);
    if (arg == nullptr) return false;
    const auto* var = std::get_if<ExprIR::Var>(&arg->value.node);
    return var != nullptr && var->name == "edge";
}

// The operations shared by both interpreters; false for any other.
bool run_common_op(const auto& op, std::vector<double>& slots, auto&& binary) {
    using T = std::decay_t<decltype(op)>;
    if constexpr (std::is_same_v<T, LoweredConst>) {
        slots[op.dst] = op.value;
    } else if constexpr (std::is_same_v<T, LoweredBool>) {
        slots[op.dst] = op.flag ? 1.0 : 0.0;
    } else if constexpr (std::is_same_v<T, LoweredUnary>) {
        slots[op.dst] = eval_unary_op(op.op, slots[op.src]);
    } else if constexpr (std::is_same_v<T, LoweredBinary>) {
        slots[op.dst] = binary(op.op, slots[op.lhs], slots[op.rhs]);
    } else {
        return false;
    }
    return true;
}

// Room for the program's slots. Every operation writes its slot before any
// later one reads it, so the slots need no clearing between runs.
void reset_slots(std::vector<double>& scratch, SlotIndex slots) {
    const std::size_t needed = std::max<std::size_t>(slots, 1);
    if (scratch.size() < needed) scratch.resize(needed, 0.0);
}

// The tree form of `expr` kept in `entry` when the entry was made for it.
template <typename Program>
const frontend::ast::ExprAst* entry_tree(JitEntry<Program>& entry, const ExprIR& expr) {
    if (entry.source != &expr) return nullptr;
    if (!entry.tree) entry.tree.emplace(expr.to_ast());
    return &*entry.tree;
}

// The steps the cache takes for one lookup of an entry: count it, lower it
// once it is used often enough, and run its program. Returns nothing when
// the generic evaluator must answer.
template <typename Program, typename Lower, typename Run>
std::optional<double> try_lowered(JitEntry<Program>& entry, const ExprIR& expr,
                                  std::size_t threshold, Lower&& lower, Run&& run) {
    entry.hits += 1;
    // A key shared by two different expressions never uses the cache.
    if (entry.source != &expr) return std::nullopt;
    if (!entry.program) {
        if (entry.unsupported || entry.hits < std::max<std::size_t>(threshold, 1)) {
            return std::nullopt;
        }
        Program program;
        if (!lower(program, expr)) {
            entry.unsupported = true;
            return std::nullopt;
        }
        entry.program.emplace(std::move(program));
    }
    return run(*entry.program);
}

}  // namespace

// ---------------------------------------------------------------------------
// Lowering and interpreters.

std::optional<SlotIndex> CraneliftMetricCompiler::lower(CraneliftMetricProgram& program,
                                                        const ExprIR& expr) {
    return lower_post_order(
        program, expr, [](const ExprIR& e, SlotIndex dst, std::vector<CraneliftMetricOp>& ops) {
            if (const auto* v = std::get_if<ExprIR::Var>(&e.node)) {
                ops.push_back(LoweredVar{dst, v->name});
                return true;
            }
            return lower_constant(e, dst, ops);
        });
}

std::optional<SlotIndex> CraneliftPruneCompiler::lower(CraneliftPruneProgram& program,
                                                       const ExprIR& expr) {
    return lower_post_order(program, expr,
                            [](const ExprIR& e, SlotIndex dst, std::vector<CraneliftPruneOp>& ops) {
                                if (is_prob_of_edge(e)) {
                                    ops.push_back(LoweredProb{dst});
                                    return true;
                                }
                                return lower_constant(e, dst, ops);
                            });
}

std::optional<double> run_metric_program(const CraneliftMetricProgram& program,
                                         const metrics::MetricBindings& bindings,
                                         std::vector<double>& scratch) {
    reset_slots(scratch, program.slots);
    try {
        for (const CraneliftMetricOp& op : program.ops) {
            const bool known = std::visit(
                [&](const auto& o) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(o)>, LoweredVar>) {
                        const auto it = bindings.find(std::string_view(o.name));
                        if (it == bindings.end()) return false;
                        scratch[o.dst] = it->second;
                        return true;
                    } else {
                        return run_common_op(o, scratch, metrics::eval_metric_binary_op);
                    }
                },
                op);
            if (!known) return std::nullopt;
        }
    } catch (const ExecError&) {
        return std::nullopt;  // the generic evaluator reports it
    }
    return scratch[program.result];
}

std::optional<double> run_prune_program(const CraneliftPruneProgram& program,
                                        const BeliefGraph& graph, EdgeId edge,
                                        std::vector<double>& scratch) {
    reset_slots(scratch, program.slots);
    try {
        for (const CraneliftPruneOp& op : program.ops) {
            std::visit(
                [&](const auto& o) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(o)>, LoweredProb>) {
                        scratch[o.dst] = graph.prob_mean(edge);
                    } else {
                        run_common_op(o, scratch, eval_binary_op);
                    }
                },
                op);
        }
    } catch (const ExecError&) {
        return std::nullopt;  // the generic evaluator reports it
    }
    return scratch[program.result];
}

// ---------------------------------------------------------------------------
// The cached evaluator.

CraneliftExprEvaluator::CraneliftExprEvaluator(std::unique_lock<std::mutex> lock, JitState& state,
                                               std::size_t metric_threshold,
                                               std::size_t prune_threshold)
    : lock_(std::move(lock)),
      state_(&state),
      metric_threshold_(metric_threshold),
      prune_threshold_(prune_threshold) {}

double CraneliftExprEvaluator::eval_metric_expr(std::string_view flow, std::string_view metric,
                                                const ExprIR& expr, const BeliefGraph& graph,
                                                const metrics::MetricRegistry& registry,
                                                const metrics::MetricBindings& bindings) {
    auto& entries = state_->metric_entries;
    auto it = entries.find(MetricExprKeyLess::View{flow, metric});
    if (it == entries.end()) {
        it = entries
                 .emplace(MetricExprKey{std::string(flow), std::string(metric)},
                          JitEntry<CraneliftMetricProgram>{})
                 .first;
        it->second.source = &expr;
    }
    JitEntry<CraneliftMetricProgram>& entry = it->second;
    const std::optional<double> lowered = try_lowered(
        entry, expr, metric_threshold_, CraneliftMetricCompiler::lower,
        [&](const CraneliftMetricProgram& p) { return run_metric_program(p, bindings, scratch_); });
    if (lowered) return *lowered;
    if (const frontend::ast::ExprAst* tree = entry_tree(entry, expr)) {
        return metrics::eval_metric_expr(*tree, graph, registry, bindings);
    }
    return metrics::eval_metric_expr(expr.to_ast(), graph, registry, bindings);
}

JitEntry<CraneliftPruneProgram>& CraneliftExprEvaluator::prune_entry(std::string_view flow,
                                                                     std::string_view graph_name,
                                                                     std::size_t position,
                                                                     const ExprIR& predicate) {
    if (last_prune_ != nullptr) {
        const PruneExprKey& key = last_prune_->first;
        if (key.position == position && key.graph == graph_name && key.flow == flow) {
            return last_prune_->second;
        }
    }
    auto& entries = state_->prune_entries;
    auto it = entries.find(PruneExprKeyLess::View{flow, graph_name, position});
    if (it == entries.end()) {
        it = entries
                 .emplace(PruneExprKey{std::string(flow), std::string(graph_name), position},
                          JitEntry<CraneliftPruneProgram>{})
                 .first;
        it->second.source = &predicate;
    }
    last_prune_ = &*it;
    return it->second;
}

double CraneliftExprEvaluator::eval_prune_predicate(std::string_view flow,
                                                    std::string_view graph_name,
                                                    std::size_t position, const ExprIR& predicate,
                                                    const BeliefGraph& graph, EdgeId edge) {
    JitEntry<CraneliftPruneProgram>& entry = prune_entry(flow, graph_name, position, predicate);
    const std::optional<double> lowered =
        try_lowered(entry, predicate, prune_threshold_, CraneliftPruneCompiler::lower,
                    [&](const CraneliftPruneProgram& p) {
                        return run_prune_program(p, graph, edge, scratch_);
                    });
    if (lowered) return *lowered;
    const PruneExprContext context{edge};
    if (const frontend::ast::ExprAst* tree = entry_tree(entry, predicate)) {
        return eval_expr_core(*tree, graph, context);
    }
    return eval_expr_core(predicate.to_ast(), graph, context);
}

// ---------------------------------------------------------------------------
// The direct evaluator.

double DirectExprEvaluator::eval_metric_expr(std::string_view, std::string_view, const ExprIR& expr,
                                             const BeliefGraph& graph,
                                             const metrics::MetricRegistry& registry,
                                             const metrics::MetricBindings& bindings) {
    return metrics::eval_metric_expr(expr.to_ast(), graph, registry, bindings);
}

double DirectExprEvaluator::eval_prune_predicate(std::string_view, std::string_view, std::size_t,
                                                 const ExprIR& predicate, const BeliefGraph& graph,
                                                 EdgeId edge) {
    if (last_predicate_ != &predicate || !last_tree_) {
        last_tree_.emplace(predicate.to_ast());
        last_predicate_ = &predicate;
    }
    return eval_expr_core(*last_tree_, graph, PruneExprContext{edge});
}

}  // namespace morvane::core::engine
