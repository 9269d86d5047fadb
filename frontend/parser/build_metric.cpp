#include "frontend/parser/build_metric.hpp"

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser {

namespace {

using ast::ExprAst;

// The aggregate steps; only the latest one is kept.
struct SumAgg {
    ExprAst by;
};
struct CountAgg {};
struct AvgAgg {
    ExprAst by;
};
struct FoldAgg {
    std::optional<ExprAst> order_by;
    ExprAst init;
    ExprAst step;
};
using Aggregate = std::variant<SumAgg, CountAgg, AvgAgg, FoldAgg>;

struct PipelineState {
    std::optional<std::string> label;
    std::optional<ExprAst> where;
    std::optional<ExprAst> order_by;  // of the latest order_by(...) step
    std::optional<Aggregate> aggregate;
};

// The step's first `expr`, built with 0.0 for a failure.
ExprAst step_expr(const Pair& step, const char* missing) {
    const std::optional<Pair> e = detail::first_of(step.into_inner(), Rule::expr);
    if (!e) detail::fail(missing);
    return build_expr(*e);
}

void read_fold_arg(const Pair& arg, std::optional<ExprAst>& init, std::optional<ExprAst>& step,
                   std::optional<ExprAst>& order_by) {
    ExprAst value = step_expr(arg, "Missing fold arg expr");
    const std::string text = support::remove_white_space(arg.as_str());
    const std::string_view head(text);
    if (head.starts_with("init=")) {
        init = std::move(value);
    } else if (head.starts_with("step=")) {
        step = std::move(value);
    } else if (head.starts_with("order_by=")) {
        order_by = std::move(value);
    }
}

// A fold's own order_by wins; otherwise the pipeline's order_by as it stands
// when the fold step is read.
FoldAgg read_fold(const Pair& fold, const PipelineState& state) {
    std::optional<ExprAst> init;
    std::optional<ExprAst> step;
    std::optional<ExprAst> order_by;
    for (const Pair& child : fold.into_inner()) {
        if (child.as_rule() == Rule::fold_arg) {
            read_fold_arg(child, init, step, order_by);
        } else if (child.as_rule() == Rule::fold_args) {
            for (const Pair& arg : child.into_inner()) {
                if (arg.as_rule() == Rule::fold_arg) read_fold_arg(arg, init, step, order_by);
            }
        }
    }
    if (!init) detail::fail("Missing init in fold()");
    if (!step) detail::fail("Missing step in fold()");
    if (!order_by) order_by = state.order_by;
    return {std::move(order_by), std::move(*init), std::move(*step)};
}

void read_step(const Pair& step, PipelineState& state) {
    switch (step.as_rule()) {
        case Rule::builder_where:
            state.where = step_expr(step, "Missing expr in where()");
            break;
        case Rule::builder_sum:
            state.aggregate = SumAgg{step_expr(step, "Missing by=expr in sum()")};
            break;
        case Rule::builder_count:
            state.aggregate = CountAgg{};
            break;
        case Rule::builder_avg:
            state.aggregate = AvgAgg{step_expr(step, "Missing by=expr in avg()")};
            break;
        case Rule::builder_order:
            state.order_by = step_expr(step, "Missing expr in order_by()");
            break;
        case Rule::builder_fold:
            state.aggregate = read_fold(step, state);
            break;
        default:
            break;
    }
}

// label = Var(label), then where = ... when a where step was written.
std::vector<ast::CallArg> selection_args(const PipelineState& state) {
    std::vector<ast::CallArg> args;
    args.push_back(ast::named("label", ast::var(*state.label)));
    if (state.where) args.push_back(ast::named("where", *state.where));
    return args;
}

ExprAst make_call(PipelineState& state) {
    std::vector<ast::CallArg> args = selection_args(state);
    Aggregate& aggregate = *state.aggregate;
    if (std::holds_alternative<CountAgg>(aggregate)) {
        return ast::call("count_nodes", std::move(args));
    }
    if (auto* sum = std::get_if<SumAgg>(&aggregate)) {
        args.push_back(ast::named("contrib", std::move(sum->by)));
        return ast::call("sum_nodes", std::move(args));
    }
    if (auto* avg = std::get_if<AvgAgg>(&aggregate)) {
        std::vector<ast::CallArg> count_args = selection_args(state);
        args.push_back(ast::named("contrib", std::move(avg->by)));
        return ast::binary(ast::BinaryOp::Div, ast::call("sum_nodes", std::move(args)),
                           ast::call("count_nodes", std::move(count_args)));
    }
    auto& fold = std::get<FoldAgg>(aggregate);
    if (fold.order_by) args.push_back(ast::named("order_by", std::move(*fold.order_by)));
    args.push_back(ast::named("init", std::move(fold.init)));
    args.push_back(ast::named("step", std::move(fold.step)));
    return ast::call("fold_nodes", std::move(args));
}

}  // namespace

ExprAst build_metric_builder_expr(const Pair& pipeline) {
    PipelineState state;
    Pairs inner = pipeline.into_inner();
    if (const std::optional<Pair> start = inner.next()) {
        if (start->as_rule() != Rule::builder_start) detail::fail("Invalid metric builder start");
        const std::optional<Pair> label = detail::first_of(start->into_inner(), Rule::label);
        if (!label) detail::fail("Missing label in nodes()");
        state.label = std::string(label->as_str());
    }
    for (const Pair& pair : inner) {
        if (pair.as_rule() == Rule::pipe_op) continue;
        if (pair.as_rule() == Rule::builder_step) {
            const std::optional<Pair> step = pair.into_inner().peek();
            if (!step) detail::fail("Empty builder_step");
            read_step(*step, state);
        } else {
            read_step(pair, state);
        }
    }
    const bool is_fold = state.aggregate && std::holds_alternative<FoldAgg>(*state.aggregate);
    if (state.order_by && !is_fold) {
        detail::fail("order_by() is only valid with fold() in metric builder pipelines");
    }
    if (!state.label) detail::fail("Missing nodes() label");
    if (!state.aggregate) detail::fail("Missing terminal aggregate in metric builder");
    return make_call(state);
}

}  // namespace morvane::frontend::parser
