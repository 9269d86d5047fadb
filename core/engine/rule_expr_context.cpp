// Name lookup and the function library of rule expressions (see
// rule_expr_context.hpp).
//
// Each function checks its arguments in a fixed order, and the first failed
// check decides the message, so the checks below are written in exactly that
// order. Most argument shapes are read from the tree (A.x, an edge variable,
// a number literal, an edge type written as a name) and are not evaluated;
// named arguments (p, rho, min_prob, epsilon) are evaluated with this same
// context.
#include "core/engine/rule_expr_context.hpp"

#include <cmath>
#include <string>

#include "core/engine/expr_utils.hpp"
#include "frontend/debug_text.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/stack_room.hpp"

namespace morvane::core::engine {

using frontend::ast::BinaryOp;
using support::fill;

// ---- Names ---------------------------------------------------------------------------------

std::optional<double> RuleLocals::find(std::string_view name) const {
    for (const auto& [n, v] : entries_) {
        if (n == name) return v;
    }
    return std::nullopt;
}

void RuleLocals::set(std::string_view name, double value) {
    for (auto& [n, v] : entries_) {
        if (n == name) {
            v = value;
            return;
        }
    }
    entries_.emplace_back(name, value);
}

std::optional<double> RuleExprContext::resolve_var(std::string_view name) const {
    if (auto v = locals_.find(name)) return v;
    if (!globals_.empty()) {
        if (auto it = globals_.find(name); it != globals_.end()) return it->second;
    }
    if (auto node = bindings_.node(name)) return static_cast<double>(node->value);
    if (auto edge = bindings_.edge(name)) return static_cast<double>(edge->value);
    return std::nullopt;
}

NodeId RuleExprContext::resolve_node_var(std::string_view name) const {
    if (auto node = bindings_.node(name)) return *node;
    throw ExecError::internal(fill("unknown node var '{}'", name));
}

EdgeId RuleExprContext::resolve_edge_var(std::string_view name) const {
    if (auto edge = bindings_.edge(name)) return *edge;
    throw ExecError::internal(fill("unknown edge var '{}'", name));
}

ExecError RuleExprContext::field_access_error(const ExprAst::Field& field) {
    return ExecError::internal(fill("bare field access not supported; use E[Node.attr]: {}",
                                    frontend::debug_text(*field.target)));
}

// ---- The function library --------------------------------------------------------------------

namespace {

constexpr double kNegativeVarianceTolerance = 1e-12;
constexpr double kExactComparisonVariance = 1e-18;

using Args = std::span<const CallArg>;

// What one call gives every function: its context, arguments and graph.
struct Call {
    const RuleExprContext& ctx;
    std::string_view name;
    PositionalArgs positional;
    Args args;
    const BeliefGraph& graph;

    // A named argument's value, evaluated with the same context.
    double eval(const ExprAst& e) const {
        return support::with_stack_room([&] { return eval_expr_core(e, graph, ctx); });
    }
};

bool first_is_named(Args args) {
    return !args.empty() && std::holds_alternative<CallArg::Named>(args.front().node);
}

// The rule of the functions that take no named argument: a call that starts
// with one fails; a named argument after a positional one is ignored.
void refuse_leading_named(const Call& c) {
    if (first_is_named(c.args)) {
        throw ExecError::internal(fill("{}() does not accept named arguments", c.name));
    }
}

// The first named argument called `name`, if any.
const ExprAst* first_named(Args args, std::string_view name) {
    for (const CallArg& arg : args) {
        const auto* named = std::get_if<CallArg::Named>(&arg.node);
        if (named && named->name == name) return &named->value;
    }
    return nullptr;
}

const ExprAst::Var* as_var(const ExprAst& e) {
    return std::get_if<ExprAst::Var>(&e.node);
}
const ExprAst::Field* as_field(const ExprAst& e) {
    return std::get_if<ExprAst::Field>(&e.node);
}

// An attribute of a matched node: the operand A.x.
struct NodeAttr {
    NodeId node;
    std::string_view attr;
};

// A.x for the one-attribute functions: `not_field` when the argument is no
// field access, `not_var` when its target is no plain variable (both Internal,
// "{}" filled with `label`).
NodeAttr node_attr(const Call& c, const ExprAst& arg, std::string_view not_field,
                   std::string_view not_var, std::string_view label = {}) {
    const ExprAst::Field* field = as_field(arg);
    if (!field) throw ExecError::internal(fill(not_field, label));
    const ExprAst::Var* var = as_var(*field->target);
    if (!var) throw ExecError::internal(fill(not_var, label));
    return {c.ctx.resolve_node_var(var->name), field->field};
}

// E, variance, stddev and effective_n: one moment of one attribute. `label`
// names the function in messages ("E[]", "variance()", ...).
double attr_moment(const Call& c, std::string_view label) {
    refuse_leading_named(c);
    if (c.positional.size() != 1) {
        throw ExecError::internal(fill("{} expects one positional argument", label));
    }
    const NodeAttr a = node_attr(c, *c.positional[0], "{} requires a field expression",
                                 "{} requires NodeVar.attr", label);
    if (c.name == "E") return c.graph.expectation(a.node, a.attr);
    if (c.name == "variance") return c.graph.variance(a.node, a.attr);
    if (c.name == "stddev") return c.graph.stddev(a.node, a.attr);
    return c.graph.precision(a.node, a.attr);
}

double weight(const Call& c) {
    refuse_leading_named(c);
    if (c.positional.size() != 1) {
        throw ExecError::internal("weight() expects one positional argument");
    }
    const ExprAst::Var* var = as_var(*c.positional[0]);
    if (!var) throw ExecError::internal("weight(): argument must be an edge variable");
    return c.graph.edge_weight_expectation(c.ctx.resolve_edge_var(var->name));
}

// ---- Probability of a comparison ----

// One side of a comparison as a Gaussian; a number has variance 0.
struct GaussianOperand {
    double mean = 0.0;
    double variance = 0.0;
    std::optional<NodeAttr> attr;
};

GaussianOperand extract_gaussian_operand(const Call& c, const ExprAst& e) {
    if (const auto* number = std::get_if<ExprAst::Number>(&e.node)) return {number->value, 0.0, {}};
    if (const ExprAst::Field* field = as_field(e)) {
        const ExprAst::Var* var = as_var(*field->target);
        if (!var) throw ExecError::validation("prob(): comparison must reference node variables");
        const NodeAttr a{c.ctx.resolve_node_var(var->name), field->field};
        return {c.graph.expectation(a.node, a.attr), c.graph.variance(a.node, a.attr), a};
    }
    throw ExecError::validation("prob(): only supports node.attr or numeric in comparisons");
}

// P(left op right) for two independent or correlated Gaussians. `fn` is the
// calling function's name, for the messages.
double eval_prob_comparison(const Call& c, std::string_view fn, const ExprAst::Binary& cmp,
                            std::optional<double> rho) {
    const bool greater = cmp.op == BinaryOp::Gt || cmp.op == BinaryOp::Ge;
    if (!greater && cmp.op != BinaryOp::Lt && cmp.op != BinaryOp::Le) {
        throw ExecError::validation(fill("{}(): only supports comparisons like {}(A > B)", fn, fn));
    }
    const GaussianOperand left = extract_gaussian_operand(c, *cmp.left);
    const GaussianOperand right = extract_gaussian_operand(c, *cmp.right);
    double r = 0.0;
    if (rho) {
        r = *rho;
    } else if (left.attr && right.attr && left.attr->node == right.attr->node) {
        r = c.graph.attr_correlation(left.attr->node, left.attr->attr, right.attr->attr);
    }
    const double vl = left.variance;
    const double vr = right.variance;
    const double d_var = vl + vr - 2.0 * r * std::sqrt(std::fmax(vl, 0.0) * std::fmax(vr, 0.0));
    if (d_var < -kNegativeVarianceTolerance || !std::isfinite(d_var)) {
        throw ExecError::validation(
            fill("{}(): implied variance is invalid (check rho and operand variances)", fn));
    }
    const double d = left.mean - right.mean;
    if (d_var <= kExactComparisonVariance) {
        const bool holds = greater ? d > 0.0 : d < 0.0;
        return holds ? 1.0 : 0.0;
    }
    const double phi = norm_cdf(d / std::sqrt(d_var));
    return greater ? phi : 1.0 - phi;
}

bool is_correlation(double rho) {
    return std::isfinite(rho) && rho >= -1.0 && rho <= 1.0;
}

double prob(const Call& c) {
    refuse_leading_named(c);
    if (c.positional.size() != 1) {
        throw ExecError::internal("prob() expects one positional argument");
    }
    const ExprAst& arg = *c.positional[0];
    if (const ExprAst::Var* var = as_var(arg)) {
        return c.graph.prob_mean(c.ctx.resolve_edge_var(var->name));
    }
    if (const auto* cmp = std::get_if<ExprAst::Binary>(&arg.node)) {
        return eval_prob_comparison(c, "prob", *cmp, std::nullopt);
    }
    throw ExecError::internal("prob(): argument must be an edge variable or comparison");
}

double credible(const Call& c) {
    if (c.positional.size() != 1) {
        throw ExecError::validation("credible(): expects one positional event argument");
    }
    double p = 0.95;
    std::optional<double> rho;
    for (const CallArg& arg : c.args) {
        const auto* named = std::get_if<CallArg::Named>(&arg.node);
        if (!named) continue;
        if (named->name == "p") {
            p = c.eval(named->value);
        } else if (named->name == "rho") {
            rho = c.eval(named->value);
        } else {
            throw ExecError::validation(
                fill("credible(): unknown named argument '{}'; expected p or rho", named->name));
        }
    }
    if (!(std::isfinite(p) && p >= 0.0 && p <= 1.0)) {
        throw ExecError::validation("credible(): p must be finite and in [0, 1]");
    }
    if (rho && !is_correlation(*rho)) {
        throw ExecError::validation("credible(): rho must be finite and in [-1, 1]");
    }
    const ExprAst& event = *c.positional[0];
    double probability = 0.0;
    if (const ExprAst::Var* var = as_var(event)) {
        probability = c.graph.prob_mean(c.ctx.resolve_edge_var(var->name));
    } else if (const auto* cmp = std::get_if<ExprAst::Binary>(&event.node)) {
        probability = eval_prob_comparison(c, "credible", *cmp, rho);
    } else {
        throw ExecError::validation("credible(): event must be an edge variable or comparison");
    }
    return probability >= p ? 1.0 : 0.0;
}

double prob_correlated(const Call& c) {
    if (c.positional.size() != 1) {
        throw ExecError::internal("prob_correlated() expects one positional comparison argument");
    }
    std::optional<double> rho;
    for (const CallArg& arg : c.args) {
        const auto* named = std::get_if<CallArg::Named>(&arg.node);
        if (!named) continue;
        if (named->name != "rho") {
            throw ExecError::validation(
                fill("prob_correlated(): unknown named argument '{}'; expected rho", named->name));
        }
        rho = c.eval(named->value);
    }
    if (rho && !is_correlation(*rho)) {
        throw ExecError::validation("prob_correlated(): rho must be finite and in [-1, 1]");
    }
    const auto* cmp = std::get_if<ExprAst::Binary>(&c.positional[0]->node);
    if (!cmp) {
        throw ExecError::validation(
            "prob_correlated(): argument must be a comparison like A.x > B.x");
    }
    return eval_prob_comparison(c, "prob_correlated", *cmp, rho);
}

// ---- Quantiles and intervals ----

// The probability literal of quantile and ci: a number written in the call
// (not an expression, so not a negative number either), strictly in (0, 1).
double probability_literal(const ExprAst& e, std::string_view not_numeric,
                           std::string_view out_of_range) {
    const auto* number = std::get_if<ExprAst::Number>(&e.node);
    if (!number) throw ExecError::validation(std::string(not_numeric));
    const double p = number->value;
    if (!(p > 0.0 && p < 1.0)) throw ExecError::validation(std::string(out_of_range));
    return p;
}

double quantile(const Call& c) {
    if (first_is_named(c.args)) throw ExecError::internal("quantile(): named args not supported");
    if (c.positional.size() < 2) {
        throw ExecError::internal("quantile(): requires field and p arguments");
    }
    const double p = probability_literal(*c.positional[1], "quantile(): p must be numeric",
                                         "quantile(): p must be in (0,1)");
    const NodeAttr a =
        node_attr(c, *c.positional[0], "quantile(): first argument must be a field expression",
                  "quantile(): first argument must be NodeVar.attr");
    const double mean = c.graph.expectation(a.node, a.attr);
    const double sd = c.graph.stddev(a.node, a.attr);
    return mean + inv_norm_cdf(p) * sd;
}

double central_interval_end(const Call& c, bool upper) {
    refuse_leading_named(c);
    if (c.positional.size() != 2) throw ExecError::internal("ci_lo/ci_hi() expects field and p");
    const double p = probability_literal(*c.positional[1], "ci(): p must be numeric",
                                         "ci(): p must be in (0,1)");
    const NodeAttr a = node_attr(c, *c.positional[0], "ci() requires a field expression",
                                 "ci() requires NodeVar.attr");
    const double mean = c.graph.expectation(a.node, a.attr);
    const double t = c.graph.stddev(a.node, a.attr) * inv_norm_cdf((p + 1.0) * 0.5);
    return upper ? mean + t : mean - t;
}

// ---- Structure ----

double degree(const Call& c) {
    if (c.positional.empty()) throw ExecError::internal("degree(): missing node argument");
    double min_prob = 0.0;
    if (const ExprAst* given = first_named(c.args, "min_prob")) min_prob = c.eval(*given);
    const ExprAst::Var* var = as_var(*c.positional[0]);
    if (!var) throw ExecError::internal("degree(): first argument must be a node variable");
    const NodeId node = c.ctx.resolve_node_var(var->name);
    return static_cast<double>(c.graph.degree_outgoing(node, min_prob));
}

// The node and the edge type (a name, not evaluated) of winner and entropy.
std::pair<NodeId, std::string_view> node_and_edge_type(const Call& c, std::string_view fn) {
    const ExprAst::Var* node = as_var(*c.positional[0]);
    if (!node) throw ExecError::internal(fill("{}(): first argument must be a node variable", fn));
    const ExprAst::Var* type = as_var(*c.positional[1]);
    if (!type) throw ExecError::internal(fill("{}(): edge_type must be an identifier", fn));
    return {c.ctx.resolve_node_var(node->name), type->name};
}

double winner(const Call& c) {
    if (c.positional.size() < 2) {
        throw ExecError::internal("winner(): requires node and edge_type arguments");
    }
    double epsilon = 0.01;
    if (const ExprAst* given = first_named(c.args, "epsilon")) epsilon = c.eval(*given);
    const auto [node, type] = node_and_edge_type(c, "winner");
    const std::optional<NodeId> w = c.graph.winner(node, type, epsilon);
    return w ? static_cast<double>(w->value) : -1.0;
}

double entropy(const Call& c) {
    if (c.positional.size() < 2) {
        throw ExecError::internal("entropy(): requires node and edge_type arguments");
    }
    const auto [node, type] = node_and_edge_type(c, "entropy");
    const CompetingEdgeGroup* group = c.graph.get_competing_group(node, type);
    return group ? group->posterior.entropy() : 0.0;
}

// ---- Two attributes of one node ----

NodeAttr extract_node_field_operand(const Call& c, const ExprAst& e) {
    const ExprAst::Field* field = as_field(e);
    if (!field) throw ExecError::validation(fill("{}(): arguments must be NodeVar.attr", c.name));
    const ExprAst::Var* var = as_var(*field->target);
    if (!var) {
        throw ExecError::validation(fill("{}(): arguments must reference node variables", c.name));
    }
    return {c.ctx.resolve_node_var(var->name), field->field};
}

double attr_pair(const Call& c, bool covariance) {
    refuse_leading_named(c);
    if (c.positional.size() != 2) {
        throw ExecError::validation(
            fill("{}() expects two positional NodeVar.attr arguments", c.name));
    }
    const NodeAttr a = extract_node_field_operand(c, *c.positional[0]);
    const NodeAttr b = extract_node_field_operand(c, *c.positional[1]);
    if (a.node != b.node) return 0.0;
    return covariance ? c.graph.attr_covariance(a.node, a.attr, b.attr)
                      : c.graph.attr_correlation(a.node, a.attr, b.attr);
}

}  // namespace

double RuleExprContext::eval_function(std::string_view name, PositionalArgs positional,
                                      std::span<const CallArg> args,
                                      const BeliefGraph& graph) const {
    const Call c{*this, name, positional, args, graph};
    if (name == "E") return attr_moment(c, "E[]");
    if (name == "prob") return prob(c);
    if (name == "variance") return attr_moment(c, "variance()");
    if (name == "stddev") return attr_moment(c, "stddev()");
    if (name == "effective_n") return attr_moment(c, "effective_n()");
    if (name == "weight") return weight(c);
    if (name == "credible") return credible(c);
    if (name == "prob_correlated") return prob_correlated(c);
    if (name == "quantile") return quantile(c);
    if (name == "ci_lo") return central_interval_end(c, false);
    if (name == "ci_hi") return central_interval_end(c, true);
    if (name == "degree") return degree(c);
    if (name == "winner") return winner(c);
    if (name == "entropy") return entropy(c);
    if (name == "cov") return attr_pair(c, true);
    if (name == "corr") return attr_pair(c, false);
    throw ExecError::internal(fill("unknown function '{}'", name));
}

}  // namespace morvane::core::engine
