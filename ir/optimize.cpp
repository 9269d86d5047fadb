// Constant folding and the program-level rewrites of the optimizer.
//
// Folding follows the evaluator's arithmetic exactly (absolute tolerance
// 1e-12 for equality and the division guard, IEEE comparisons, no
// short-circuit) and computes an operation only when the evaluator could not
// fail on it: a division by a value within 1e-12 of zero or a non-finite
// result stays an operation, so that the run reports it as it would have.
//
// fold_expr walks the expression without recursion (see fold_expr below),
// since lowered expressions can be as deep as the longest operator chain of
// the source.
#include "ir/optimize.hpp"

#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "frontend/ast_walk.hpp"
#include "frontend/support/overloaded.hpp"

namespace morvane::ir {

using support::Overloaded;

namespace {

constexpr double kTolerance = 1e-12;

// Rule expressions and prune predicates know no constant names.
const ConstantMap kNoConstants;

// The numeric value of a constant: a Number's value, 1.0 or 0.0 for a Bool.
std::optional<double> constant_value(const ExprIR& expr) {
    if (auto* n = std::get_if<ExprIR::Number>(&expr.node)) return n->value;
    if (auto* b = std::get_if<ExprIR::Bool>(&expr.node)) return b->value ? 1.0 : 0.0;
    return std::nullopt;
}

// A Number 0.0 of either sign or Bool false: a test that nothing satisfies.
bool is_false_constant(const ExprIR& expr) {
    const auto value = constant_value(expr);
    return value && *value == 0.0;
}

bool is_arithmetic(ast::BinaryOp op) {
    using enum ast::BinaryOp;
    return op == Add || op == Sub || op == Mul || op == Div;
}

// The operator applied to two constants; nothing when the division guard
// leaves the operation to run time.
std::optional<double> apply(ast::BinaryOp op, double a, double b) {
    switch (op) {
        case ast::BinaryOp::Add: return a + b;
        case ast::BinaryOp::Sub: return a - b;
        case ast::BinaryOp::Mul: return a * b;
        case ast::BinaryOp::Div:
            if (std::fabs(b) < kTolerance) return std::nullopt;
            return a / b;
        // Both tolerance tests are false when NaN is involved: Ne is not !Eq.
        case ast::BinaryOp::Eq: return std::fabs(a - b) < kTolerance ? 1.0 : 0.0;
        case ast::BinaryOp::Ne: return std::fabs(a - b) >= kTolerance ? 1.0 : 0.0;
        case ast::BinaryOp::Lt: return a < b ? 1.0 : 0.0;
        case ast::BinaryOp::Le: return a <= b ? 1.0 : 0.0;
        case ast::BinaryOp::Gt: return a > b ? 1.0 : 0.0;
        case ast::BinaryOp::Ge: return a >= b ? 1.0 : 0.0;
        // NaN counts as true.
        case ast::BinaryOp::And: return a != 0.0 && b != 0.0 ? 1.0 : 0.0;
        case ast::BinaryOp::Or: return a != 0.0 || b != 0.0 ? 1.0 : 0.0;
    }
    return std::nullopt;
}

ExprIR fold_binary(ast::BinaryOp op, ExprIR left, ExprIR right) {
    const auto a = constant_value(left);
    const auto b = constant_value(right);
    if (a && b) {
        if (const auto value = apply(op, *a, *b); value && std::isfinite(*value)) {
            if (is_arithmetic(op)) return ExprIR::Number{*value};
            return ExprIR::Bool{*value != 0.0};
        }
    }
    return ExprIR::Binary{op, Box<ExprIR>(std::move(left)), Box<ExprIR>(std::move(right))};
}

ExprIR fold_unary(ast::UnaryOp op, ExprIR operand) {
    if (const auto value = constant_value(operand)) {
        if (op == ast::UnaryOp::Not) return ExprIR::Bool{*value == 0.0};
        return ExprIR::Number{-*value};  // -0.0 from 0.0, as the evaluator gives
    }
    if (op == ast::UnaryOp::Neg) {
        auto* inner = std::get_if<ExprIR::Unary>(&operand.node);
        if (inner && inner->op == ast::UnaryOp::Neg) {
            ExprIR x = std::move(*inner->expr);
            return x;
        }
    }
    return ExprIR::Unary{op, Box<ExprIR>(std::move(operand))};
}

// An existence test whose where-expression folded to `where`.
ExprIR fold_exists(const ExprIR::Exists& test, ExprIR where) {
    if (is_false_constant(where)) return ExprIR::Bool{test.negated};  // nothing can match
    if (constant_value(where)) return ExprIR::Exists{test.pattern, std::nullopt, test.negated};
    return ExprIR::Exists{test.pattern, Box<ExprIR>(std::move(where)), test.negated};
}

// ---------------------------------------------------------------------------
// Where a metric expression reads a name as a metric value.
//
// Only there may a constant metric replace a name. Elsewhere a name is an
// identifier (the label of a node pipeline, an edge type), a reserved word
// (`node`, `value`), the target of a field access, or an argument the
// function never reads, and replacing it would change what the run does.
// The positions follow the way the validator checks metric expressions.

struct MetricScope {
    bool node_bound;  // inside a per-node argument of a node pipeline
};

// The call's arguments as the built-in functions read them: positional ones
// by index, named ones by name (a name written twice counts with its later
// value).
class ReadArgs {
public:
    explicit ReadArgs(const ExprIR::Call& call) {
        for (const auto& arg : call.args) {
            if (auto* p = std::get_if<CallArgIR::Positional>(&arg.node)) {
                positional_.push_back(&p->value);
            } else {
                const auto& n = std::get<CallArgIR::Named>(arg.node);
                named_.emplace_back(n.name, &n.value);
            }
        }
    }
    const ExprIR* named(std::string_view name) const {
        for (auto it = named_.rbegin(); it != named_.rend(); ++it) {
            if (it->first == name) return it->second;
        }
        return nullptr;
    }
    const ExprIR* position(size_t i) const {
        return i < positional_.size() ? positional_[i] : nullptr;
    }
    // The named argument, else the positional one at `index`.
    const ExprIR* pick(std::string_view name, size_t index) const {
        if (const ExprIR* e = named(name)) return e;
        return position(index);
    }
    size_t positional_count() const { return positional_.size(); }
    const std::vector<std::pair<std::string_view, const ExprIR*>>& all_named() const {
        return named_;
    }

private:
    std::vector<const ExprIR*> positional_;
    std::vector<std::pair<std::string_view, const ExprIR*>> named_;
};

class MetricReads {
public:
    // The Var nodes of `root` that are read as metric values.
    std::unordered_set<const ExprIR*> collect(const ExprIR& root) {
        push(&root, {false});
        while (!pending_.empty()) {
            const auto [expr, scope] = pending_.back();
            pending_.pop_back();
            visit(*expr, scope);
        }
        return std::move(reads_);
    }

private:
    void push(const ExprIR* expr, MetricScope scope) {
        if (expr) pending_.push_back({expr, scope});
    }

    void visit(const ExprIR& expr, MetricScope scope) {
        std::visit(Overloaded{
                       [&](const ExprIR::Var& x) {
                           if (x.name != "node" && x.name != "value") reads_.insert(&expr);
                       },
                       [&](const ExprIR::Unary& x) { push(x.expr.get(), scope); },
                       [&](const ExprIR::Binary& x) {
                           push(x.left.get(), scope);
                           push(x.right.get(), scope);
                       },
                       [&](const ExprIR::Call& x) { visit_call(x, scope); },
                       [](const auto&) {},  // Number, Bool, Field, Exists
                   },
                   expr.node);
    }

    void visit_call(const ExprIR::Call& call, MetricScope scope) {
        const ReadArgs args(call);
        const MetricScope per_node{true};
        const std::string_view name = call.name;
        // Labels and edge types are identifiers and never pushed.
        if (name == "count_nodes") {
            push(args.pick("where", 1), per_node);
        } else if (name == "sum_nodes") {
            push(args.pick("where", 1), per_node);
            push(args.pick("contrib", 2), per_node);
        } else if (name == "fold_nodes") {
            push(args.pick("where", 1), per_node);
            push(args.pick("order_by", 2), per_node);
            push(args.pick("init", 3), {false});
            push(args.pick("step", 4), per_node);
        } else if (name == "avg_degree") {
            // min_prob must be a number literal
        } else if (scope.node_bound) {
            // Of the per-node functions only degree reads expressions: its
            // extra positional arguments and its named ones.
            if (name != "degree") return;
            for (size_t i = 1; i < args.positional_count(); ++i) push(args.position(i), scope);
            for (const auto& [arg_name, value] : args.all_named()) push(value, scope);
        } else {
            // An ordinary call reads every argument, except the edge type
            // that entropy and winner take as their second.
            const bool typed = name == "entropy" || name == "winner";
            for (size_t i = 0; i < args.positional_count(); ++i) {
                if (!(typed && i == 1)) push(args.position(i), scope);
            }
            for (const auto& [arg_name, value] : args.all_named()) push(value, scope);
        }
    }

    struct Pending {
        const ExprIR* expr;
        MetricScope scope;
    };
    std::vector<Pending> pending_;
    std::unordered_set<const ExprIR*> reads_;
};

// ---------------------------------------------------------------------------
// Comparisons read as events.
//
// prob, credible and prob_correlated read a comparison argument as an event
// between two Gaussians, not as a value: prob(1 >= 1) is 0.0 (the means do
// not differ) while 1 >= 1 is true, and prob of a constant is refused. Such
// a comparison keeps its operator; only its operands are folded.

bool reads_events(std::string_view function) {
    return function == "prob" || function == "credible" || function == "prob_correlated";
}

// Adds the comparisons among the positional arguments of `expr`, when it is
// a call of one of those functions, to `events`.
void mark_events(const ExprIR& expr, std::unordered_set<const ExprIR*>& events) {
    const auto* call = std::get_if<ExprIR::Call>(&expr.node);
    if (!call || !reads_events(call->name)) return;
    for (const auto& arg : call->args) {
        const auto* positional = std::get_if<CallArgIR::Positional>(&arg.node);
        if (positional && std::holds_alternative<ExprIR::Binary>(positional->value.node)) {
            events.insert(&positional->value);
        }
    }
}

// The children of one expression node, in the order they are folded.
std::vector<const ExprIR*>& children_of(const ExprIR& expr, std::vector<const ExprIR*>& out) {
    out.clear();
    std::visit(Overloaded{
                   [&](const ExprIR::Field& x) { out.push_back(x.target.get()); },
                   [&](const ExprIR::Call& x) {
                       for (const auto& arg : x.args) {
                           out.push_back(&frontend::ast::walk::arg_value(arg));
                       }
                   },
                   [&](const ExprIR::Unary& x) { out.push_back(x.expr.get()); },
                   [&](const ExprIR::Binary& x) {
                       out.push_back(x.left.get());
                       out.push_back(x.right.get());
                   },
                   [&](const ExprIR::Exists& x) {
                       if (x.where_expr) out.push_back(x.where_expr->get());
                   },
                   [](const auto&) {},  // Number, Bool, Var
               },
               expr.node);
    return out;
}

// Rebuilds one node from its folded children, which are the last entries
// of `folded` (in the order of children_of); removes them and returns the
// folded node.
ExprIR combine(const ExprIR& expr, std::vector<ExprIR>& folded, const ConstantMap& constants,
              const std::unordered_set<const ExprIR*>& metric_reads,
              const std::unordered_set<const ExprIR*>& events) {
    auto pop = [&folded] {
        ExprIR last = std::move(folded.back());
        folded.pop_back();
        return last;
    };
    return std::visit(
        Overloaded{
            [&](const ExprIR::Var& x) -> ExprIR {
                if (!metric_reads.contains(&expr)) return x;
                if (auto it = constants.find(x.name); it != constants.end()) {
                    return ExprIR::Number{it->second};
                }
                return x;
            },
            [&](const ExprIR::Field& x) -> ExprIR {
                return ExprIR::Field{Box<ExprIR>(pop()), x.field};
            },
            [&](const ExprIR::Call& x) -> ExprIR {
                // Arguments keep their kind and name; the call itself is
                // never evaluated.
                ExprIR::Call call{x.name, {}};
                call.args.reserve(x.args.size());
                const auto values = folded.end() - static_cast<ptrdiff_t>(x.args.size());
                for (size_t i = 0; i < x.args.size(); ++i) {
                    ExprIR& value = values[static_cast<ptrdiff_t>(i)];
                    if (auto* n = std::get_if<CallArgIR::Named>(&x.args[i].node)) {
                        call.args.emplace_back(CallArgIR::Named{n->name, std::move(value)});
                    } else {
                        call.args.emplace_back(CallArgIR::Positional{std::move(value)});
                    }
                }
                folded.erase(values, folded.end());
                return call;
            },
            [&](const ExprIR::Unary& x) -> ExprIR { return fold_unary(x.op, pop()); },
            [&](const ExprIR::Binary& x) -> ExprIR {
                ExprIR right = pop();
                ExprIR left = pop();
                if (events.contains(&expr)) {
                    return ExprIR::Binary{x.op, Box<ExprIR>(std::move(left)),
                                          Box<ExprIR>(std::move(right))};
                }
                return fold_binary(x.op, std::move(left), std::move(right));
            },
            [&](const ExprIR::Exists& x) -> ExprIR {
                if (!x.where_expr) return x;
                return fold_exists(x, pop());
            },
            [&](const auto&) -> ExprIR { return expr; },  // Number, Bool
        },
        expr.node);
}

std::vector<TransformIR> rewrite_pipeline(const std::vector<TransformIR>& transforms) {
    std::vector<TransformIR> out;
    out.reserve(transforms.size());
    for (const auto& transform : transforms) {
        if (auto* set = std::get_if<TransformIR::ApplyRuleset>(&transform.node)) {
            if (set->rules.size() == 1) {
                out.push_back(TransformIR::ApplyRule{set->rules.front()});
            } else if (!set->rules.empty()) {
                out.push_back(transform);
            }
        } else if (auto* prune = std::get_if<TransformIR::PruneEdges>(&transform.node)) {
            ExprIR predicate = fold_expr(prune->predicate, kNoConstants);
            if (is_false_constant(predicate)) continue;  // prunes nothing
            if (constant_value(predicate)) predicate = ExprIR::Bool{true};
            out.push_back(TransformIR::PruneEdges{prune->edge_type, std::move(predicate)});
        } else {
            out.push_back(transform);
        }
    }
    return out;
}

// Metrics in declaration order; each sees as constants the constant metrics
// declared before it in the same flow, the latest declaration of a name
// deciding.
std::vector<MetricDefIR> fold_metrics(const std::vector<MetricDefIR>& metrics) {
    ConstantMap constants;
    std::vector<MetricDefIR> out;
    out.reserve(metrics.size());
    for (const auto& metric : metrics) {
        ExprIR expr = fold_expr(metric.expr, constants);
        if (const auto value = constant_value(expr)) {
            constants[metric.name] = *value;
        } else {
            constants.erase(metric.name);
        }
        out.push_back({metric.name, metric.on_graph, std::move(expr)});
    }
    return out;
}

FlowIR optimize_flow(const FlowIR& flow) {
    FlowIR out{flow.name, flow.on_model,         {}, fold_metrics(flow.metrics),
               flow.exports, flow.metric_exports, flow.metric_imports};
    out.graphs.reserve(flow.graphs.size());
    for (const auto& graph : flow.graphs) {
        if (auto* pipeline = std::get_if<GraphExprIR::Pipeline>(&graph.expr.node)) {
            out.graphs.push_back(
                {graph.name, GraphExprIR::Pipeline{pipeline->start,
                                                   rewrite_pipeline(pipeline->transforms)}});
        } else {
            out.graphs.push_back(graph);
        }
    }
    return out;
}

ActionIR fold_action(const ActionIR& action) {
    return std::visit(
        Overloaded{
            [](const ActionIR::Let& x) -> ActionIR {
                return ActionIR::Let{x.name, fold_expr(x.expr, kNoConstants)};
            },
            [](const ActionIR::NonBayesianNudge& x) -> ActionIR {
                return ActionIR::NonBayesianNudge{x.node_var, x.attr,
                                                  fold_expr(x.expr, kNoConstants), x.variance};
            },
            [](const ActionIR::SoftUpdate& x) -> ActionIR {
                return ActionIR::SoftUpdate{x.node_var, x.attr, fold_expr(x.expr, kNoConstants),
                                            x.precision, x.count};
            },
            [&](const auto&) -> ActionIR { return action; },  // Delete, Suppress
        },
        action.node);
}

RuleIR fold_rule(const RuleIR& rule) {
    RuleIR out{rule.name, rule.on_model, rule.patterns, {}, rule.mode, std::nullopt};
    if (rule.where_expr) out.where_expr = fold_expr(*rule.where_expr, kNoConstants);
    out.actions.reserve(rule.actions.size());
    for (const auto& action : rule.actions) out.actions.push_back(fold_action(action));
    return out;
}

// The names of every rule an ApplyRule or ApplyRuleset of any pipeline of
// any flow applies, borrowed from `flows`.
std::unordered_set<std::string_view> applied_rules(const std::vector<FlowIR>& flows) {
    std::unordered_set<std::string_view> names;
    for (const auto& flow : flows) {
        for (const auto& graph : flow.graphs) {
            auto* pipeline = std::get_if<GraphExprIR::Pipeline>(&graph.expr.node);
            if (!pipeline) continue;
            for (const auto& transform : pipeline->transforms) {
                if (auto* one = std::get_if<TransformIR::ApplyRule>(&transform.node)) {
                    names.insert(one->rule);
                } else if (auto* set = std::get_if<TransformIR::ApplyRuleset>(&transform.node)) {
                    names.insert(set->rules.begin(), set->rules.end());
                }
            }
        }
    }
    return names;
}

}  // namespace

ExprIR fold_expr(const ExprIR& expr, const ConstantMap& constants) {
    // Post-order without recursion: a node is entered (its children queued,
    // the first child on top) and, once its children are folded, left
    // (rebuilt from them). Folded results wait on their own stack.
    struct Visit {
        const ExprIR* expr;
        bool entered;
    };
    const std::unordered_set<const ExprIR*> metric_reads =
        constants.empty() ? std::unordered_set<const ExprIR*>{} : MetricReads().collect(expr);
    std::unordered_set<const ExprIR*> events;  // filled as calls are entered
    std::vector<Visit> visits{{&expr, false}};
    std::vector<ExprIR> folded;
    std::vector<const ExprIR*> children;
    while (!visits.empty()) {
        Visit& top = visits.back();
        const ExprIR* node = top.expr;
        if (!top.entered) {
            top.entered = true;
            mark_events(*node, events);
            const auto& kids = children_of(*node, children);
            for (auto it = kids.rbegin(); it != kids.rend(); ++it) visits.push_back({*it, false});
            continue;
        }
        visits.pop_back();
        folded.push_back(combine(*node, folded, constants, metric_reads, events));
    }
    return std::move(folded.back());
}

namespace {

// The optimized flows of `program`, and the rules they apply, folded.
void optimize_code(const ProgramIR& program, ProgramIR& out) {
    out.flows.reserve(program.flows.size());
    for (const auto& flow : program.flows) out.flows.push_back(optimize_flow(flow));

    // Folding is pure, so rules are folded only once it is known that some
    // flow applies them; the result is the same as folding all and removing.
    const auto applied = applied_rules(out.flows);
    for (const auto& rule : program.rules) {
        if (applied.contains(rule.name)) out.rules.push_back(fold_rule(rule));
    }
}

}  // namespace

ProgramIR optimize_program(const ProgramIR& program) {
    ProgramIR out{program.schemas, program.belief_models, program.evidences, {}, {}};
    optimize_code(program, out);
    return out;
}

ProgramIR optimize_program(ProgramIR&& program) {
    ProgramIR out{std::move(program.schemas), std::move(program.belief_models),
                  std::move(program.evidences), {}, {}};
    optimize_code(program, out);
    return out;
}

}  // namespace morvane::ir
