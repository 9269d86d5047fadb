// Rule passes, the two modes, where-clauses with exists tests, and actions
// (see rule_exec.hpp).
//
// Exists tests are answered for every match of a pass, against the same
// graph (the one the pass began with), so the candidates of each exists
// pattern are collected once per pass and grouped by end node: a test whose
// source (or destination, or edge) variable is bound reads only the
// candidates that can agree with it, in the same ascending order a scan of
// all of them would visit.
#include "core/engine/rule_exec.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "core/engine/expr_eval.hpp"
#include "core/engine/graph_change.hpp"
#include "core/engine/operator_walk.hpp"
#include "core/engine/rule_candidates.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/stack_room.hpp"

namespace morvane::core::engine {

using frontend::ast::ActionStmt;
using frontend::ast::PatternItem;
using frontend::ast::RuleDef;

namespace {

constexpr int kMaxFixpointPasses = 1000;
constexpr double kFixpointTolerance = 1e-6;
constexpr std::string_view kForEach = "for_each";
constexpr std::string_view kFixpoint = "fixpoint";

// ---- Where-clauses -------------------------------------------------------------------------

// The candidates of one exists pattern, with their groups by end node made on
// first use.
struct ExistsCandidates {
    std::span<const EdgeMatchCandidate> all;  // owned by the evaluator's index
    std::optional<CandidateGroups> by_src, by_dst;

    std::span<const EdgeMatchCandidate> with_src(NodeId node) {
        if (!by_src) by_src.emplace(all, CandidateGroups::Key::Src);
        return by_src->find(node);
    }
    std::span<const EdgeMatchCandidate> with_dst(NodeId node) {
        if (!by_dst) by_dst.emplace(all, CandidateGroups::Key::Dst);
        return by_dst->find(node);
    }
    std::span<const EdgeMatchCandidate> with_edge(EdgeId edge) const {
        const auto it =
            std::lower_bound(all.begin(), all.end(), edge,
                             [](const EdgeMatchCandidate& c, EdgeId e) { return c.edge < e; });
        const bool found = it != all.end() && it->edge == edge;
        return {it, found ? 1u : 0u};
    }
};

// Evaluates where-clauses against one graph that does not change meanwhile.
class WhereEvaluator {
public:
    explicit WhereEvaluator(const BeliefGraph& graph) : graph_(graph), index_(graph) {}

    double eval(const ExprAst& expr, const RuleExprContext& ctx) {
        return eval_direct(expr, ctx, detail::kDirectLevels);
    }

private:
    // The operators as the expression evaluator takes them (operands left
    // first, no short circuit); the leaves are exists tests or go to the
    // expression evaluator. The first levels recurse directly, deeper ones
    // are walked on an explicit stack.
    double eval_direct(const ExprAst& expr, const RuleExprContext& ctx, int levels) {
        if (const auto* b = std::get_if<ExprAst::Binary>(&expr.node)) {
            if (levels == 0) return eval_walk(expr, ctx);
            const double lhs = eval_direct(*b->left, ctx, levels - 1);
            const double rhs = eval_direct(*b->right, ctx, levels - 1);
            return eval_binary_op(b->op, lhs, rhs);
        }
        if (const auto* u = std::get_if<ExprAst::Unary>(&expr.node)) {
            if (levels == 0) return eval_walk(expr, ctx);
            return eval_unary_op(u->op, eval_direct(*u->expr, ctx, levels - 1));
        }
        return eval_leaf(expr, ctx);
    }

    double eval_walk(const ExprAst& expr, const RuleExprContext& ctx) {
        return *walk_operators<double>(
            expr, [&](const ExprAst& leaf) -> std::optional<double> { return eval_leaf(leaf, ctx); },
            eval_unary_op, eval_binary_op);
    }

    double eval_leaf(const ExprAst& leaf, const RuleExprContext& ctx) {
        if (const auto* ex = std::get_if<ExprAst::Exists>(&leaf.node)) return eval_exists(*ex, ctx);
        return eval_expr_core(leaf, graph_, ctx);
    }

    ExistsCandidates& candidates(const ExprAst::Exists& ex) {
        const auto it = cache_.find(&ex);
        if (it != cache_.end()) return it->second;
        ExistsCandidates fresh{index_.pattern_candidates(*ex.pattern), std::nullopt, std::nullopt};
        return cache_.emplace(&ex, std::move(fresh)).first->second;
    }

    double eval_exists(const ExprAst::Exists& ex, const RuleExprContext& ctx) {
        ExistsCandidates& found = candidates(ex);
        const PatternItem& p = *ex.pattern;
        const MatchBindings& outer = ctx.bindings();
        const std::optional<NodeId> src = outer.node(p.src.var);
        const std::optional<NodeId> dst = outer.node(p.dst.var);
        const std::optional<EdgeId> edge = outer.edge(p.edge.var);
        std::span<const EdgeMatchCandidate> range = found.all;
        if (edge) {
            range = found.with_edge(*edge);
        } else if (src) {
            range = found.with_src(*src);
        } else if (dst) {
            range = found.with_dst(*dst);
        }

        bool satisfied = false;
        for (const EdgeMatchCandidate& c : range) {
            if ((src && *src != c.src) || (dst && *dst != c.dst) || (edge && *edge != c.edge)) {
                continue;
            }
            if (!ex.where_expr) {
                satisfied = true;
                break;
            }
            const std::string_view node_names[] = {p.src.var, p.dst.var};
            const NodeId node_ids[] = {c.src, c.dst};
            const std::string_view edge_names[] = {p.edge.var};
            const EdgeId edge_ids[] = {c.edge};
            const MatchBindings inner{node_names, node_ids, edge_names, edge_ids, &outer};
            const RuleExprContext inner_ctx(inner, ctx.locals(), ctx.globals());
            const double v =
                support::with_stack_room([&] { return eval(**ex.where_expr, inner_ctx); });
            if (v != 0.0) {
                satisfied = true;
                break;
            }
        }
        return satisfied != ex.negated ? 1.0 : 0.0;
    }

    const BeliefGraph& graph_;
    EdgeCandidateIndex index_;
    std::unordered_map<const ExprAst::Exists*, ExistsCandidates> cache_;
};

bool holds(double where_value) {
    return where_value != 0.0;
}

// ---- Passes --------------------------------------------------------------------------------

uint64_t saturating_product(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::numeric_limits<uint64_t>::max();
    return product;
}

// One pass over `graph`, which the pass takes: the result is made from it.
RuleOutcome run_pass(BeliefGraph graph, const RuleDef& rule, const RuleGlobals& globals,
                     std::string_view mode) {
    if (rule.patterns.empty()) throw ExecError::validation("rule must have at least one pattern");
    const RuleMatches matches = find_rule_matches(graph, rule.patterns);

    // One row of ids, rewritten for every match, behind one set of bindings.
    const MatchVariables& vars = matches.variables();
    std::vector<NodeId> node_ids(vars.nodes.size());
    std::vector<EdgeId> edge_ids(vars.edges.size());
    const MatchBindings bindings{vars.nodes, node_ids, vars.edges, edge_ids, nullptr};

    std::vector<std::size_t> kept;
    if (rule.where_expr) {
        WhereEvaluator where(graph);
        const RuleLocals no_locals;
        const RuleExprContext ctx(bindings, no_locals, globals);
        for (std::size_t i = 0; i < matches.size(); ++i) {
            matches.read(i, node_ids, edge_ids);
            if (holds(where.eval(*rule.where_expr, ctx))) kept.push_back(i);
        }
    } else {
        kept.resize(matches.size());
        for (std::size_t i = 0; i < kept.size(); ++i)
            kept[i] = i;
    }

    RuleExecutionAudit audit{rule.name, std::string(mode), kept.size(),
                             saturating_product(kept.size(), rule.actions.size())};
    if (kept.empty()) return {std::move(graph), std::move(audit)};

    BeliefGraph working = std::move(graph);
    working.ensure_owned();
    for (const std::size_t i : kept) {
        matches.read(i, node_ids, edge_ids);
        execute_actions(working, rule.actions, bindings, globals);
    }
    return {std::move(working), std::move(audit)};
}

RuleOutcome run_fixpoint(const BeliefGraph& graph, const RuleDef& rule,
                         const RuleGlobals& globals) {
    BeliefGraph current = graph.clone();
    for (int pass = 0; pass < kMaxFixpointPasses; ++pass) {
        RuleOutcome next = run_pass(current.clone(), rule, globals, kFixpoint);
        if (compute_max_change(current, next.graph) < kFixpointTolerance) return next;
        current = std::move(next.graph);
    }
    throw ExecError::execution(support::fill(
        "Fixpoint rule '{}' did not converge after {} iterations", rule.name, kMaxFixpointPasses));
}

}  // namespace

// ---- Entry points --------------------------------------------------------------------------

RuleOutcome run_rule_with_globals_audit(const BeliefGraph& graph, const RuleDef& rule,
                                        const RuleGlobals& globals) {
    return run_rule_with_globals_audit(graph.clone(), rule, globals);
}

RuleOutcome run_rule_with_globals_audit(BeliefGraph&& graph, const RuleDef& rule,
                                        const RuleGlobals& globals) {
    if (!rule.mode || *rule.mode == kForEach) {
        return run_pass(std::move(graph), rule, globals, kForEach);
    }
    if (*rule.mode == kFixpoint) return run_fixpoint(graph, rule, globals);
    throw ExecError::validation(
        support::fill("unknown rule mode: '{}' (expected 'for_each' or 'fixpoint')", *rule.mode));
}

RuleOutcome run_rule_for_each_with_globals_audit(const BeliefGraph& graph, const RuleDef& rule,
                                                 const RuleGlobals& globals) {
    return run_pass(graph.clone(), rule, globals, kForEach);
}

bool evaluate_where_clause(const std::optional<ExprAst>& where, const MatchBindings& bindings,
                           const RuleGlobals& globals, const BeliefGraph& graph) {
    if (!where) return true;
    const RuleLocals no_locals;
    return holds(WhereEvaluator(graph).eval(*where, RuleExprContext(bindings, no_locals, globals)));
}

double eval_where_with_exists(const ExprAst& expr, const BeliefGraph& graph,
                              const RuleExprContext& ctx) {
    return WhereEvaluator(graph).eval(expr, ctx);
}

void execute_actions(BeliefGraph& working, std::span<const ActionStmt> actions,
                     const MatchBindings& bindings, const RuleGlobals& globals) {
    using Variance = frontend::ast::VarianceSpec;
    static const Variance kPreserve{Variance::Preserve{}};
    RuleLocals locals;
    const RuleExprContext ctx(bindings, locals, globals);
    const auto value = [&](const ExprAst& e) { return eval_expr_core(e, working, ctx); };
    for (const ActionStmt& action : actions) {
        if (const auto* let = std::get_if<ActionStmt::Let>(&action.node)) {
            locals.set(let->name, value(let->expr));
        } else if (const auto* nudge = std::get_if<ActionStmt::NonBayesianNudge>(&action.node)) {
            const NodeId node = ctx.resolve_node_var(nudge->node_var);
            const double v = value(nudge->expr);
            working.non_bayesian_nudge(node, nudge->attr,
                                       nudge->variance ? *nudge->variance : kPreserve, v);
        } else if (const auto* soft = std::get_if<ActionStmt::SoftUpdate>(&action.node)) {
            const NodeId node = ctx.resolve_node_var(soft->node_var);
            const double v = value(soft->expr);
            working.soft_update(node, soft->attr, v, soft->precision.value_or(1.0),
                                soft->count.value_or(1.0));
        } else if (const auto* del = std::get_if<ActionStmt::Delete>(&action.node)) {
            const EdgeId edge = ctx.resolve_edge_var(del->edge_var);
            std::optional<std::string_view> confidence;
            if (del->confidence) confidence = *del->confidence;
            working.delete_edge(edge, confidence);
        } else {
            const auto& suppress = std::get<ActionStmt::Suppress>(action.node);
            working.suppress_edge(ctx.resolve_edge_var(suppress.edge_var), suppress.weight);
        }
    }
}

}  // namespace morvane::core::engine
