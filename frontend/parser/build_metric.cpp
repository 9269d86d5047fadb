// Metric pipelines are read in two passes: the step expressions are listed
// and built first (by the expression builder, on its own stacks when the
// pipeline stands inside an expression), then the steps are read in order
// with those values. Building an expression never fails, so the order of the
// two passes changes neither the tree nor the first error.
#include "frontend/parser/build_metric.hpp"

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/panic.hpp"
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

// A `builder_step` stands for its one inner pair; any other pair for itself.
std::optional<Pair> step_of(const Pair& pair) {
    if (pair.as_rule() != Rule::builder_step) return pair;
    return pair.into_inner().peek();
}

// Visits the `fold_arg` pairs of a fold step, directly in it or in a
// `fold_args` list, in source order.
template <typename Visit>
void for_each_fold_arg(const Pair& fold, Visit&& visit) {
    for (const Pair& child : fold.into_inner()) {
        if (child.as_rule() == Rule::fold_arg) {
            visit(child);
        } else if (child.as_rule() == Rule::fold_args) {
            for (const Pair& arg : child.into_inner()) {
                if (arg.as_rule() == Rule::fold_arg) visit(arg);
            }
        }
    }
}

bool has_step_expr(Rule rule) {
    return rule == Rule::builder_where || rule == Rule::builder_sum ||
           rule == Rule::builder_avg || rule == Rule::builder_order;
}

// Reads the steps of one pipeline, taking the value of each step
// expression from the list built beforehand, in the order
// metric_pipeline_exprs gives.
class PipelineReader {
public:
    explicit PipelineReader(std::vector<ExprAst> values) : values_(std::move(values)) {}

    ExprAst read(const Pair& pipeline) {
        Pairs inner = pipeline.into_inner();
        if (const std::optional<Pair> start = inner.next()) {
            if (start->as_rule() != Rule::builder_start) {
                detail::fail("Invalid metric builder start");
            }
            const std::optional<Pair> label = detail::first_of(start->into_inner(), Rule::label);
            if (!label) detail::fail("Missing label in nodes()");
            label_ = std::string(label->as_str());
        }
        for (const Pair& pair : inner) {
            if (pair.as_rule() == Rule::pipe_op) continue;
            const std::optional<Pair> step = step_of(pair);
            if (!step) detail::fail("Empty builder_step");
            read_step(*step);
        }
        const bool is_fold = aggregate_ && std::holds_alternative<FoldAgg>(*aggregate_);
        if (order_by_ && !is_fold) {
            detail::fail("order_by() is only valid with fold() in metric builder pipelines");
        }
        if (!label_) detail::fail("Missing nodes() label");
        if (!aggregate_) detail::fail("Missing terminal aggregate in metric builder");
        return make_call();
    }

private:
    // The value of the step's expression; `missing` when it has none.
    ExprAst step_expr(const Pair& step, const char* missing) {
        if (!detail::first_of(step.into_inner(), Rule::expr)) detail::fail(missing);
        if (next_ >= values_.size()) {
            support::panic("metric pipeline: fewer step values than steps");
        }
        return std::move(values_[next_++]);
    }

    void read_step(const Pair& step) {
        switch (step.as_rule()) {
            case Rule::builder_where:
                where_ = step_expr(step, "Missing expr in where()");
                break;
            case Rule::builder_sum:
                aggregate_ = SumAgg{step_expr(step, "Missing by=expr in sum()")};
                break;
            case Rule::builder_count:
                aggregate_ = CountAgg{};
                break;
            case Rule::builder_avg:
                aggregate_ = AvgAgg{step_expr(step, "Missing by=expr in avg()")};
                break;
            case Rule::builder_order:
                order_by_ = step_expr(step, "Missing expr in order_by()");
                break;
            case Rule::builder_fold:
                aggregate_ = read_fold(step);
                break;
            default:
                break;
        }
    }

    // Argument names come from the argument's text with its white space
    // removed; an argument named by none of the three words is dropped. The
    // fold's own order_by wins; otherwise the pipeline's order_by as it
    // stands when the fold step is read.
    FoldAgg read_fold(const Pair& fold) {
        std::optional<ExprAst> init;
        std::optional<ExprAst> step;
        std::optional<ExprAst> order_by;
        for_each_fold_arg(fold, [&](const Pair& arg) {
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
        });
        if (!init) detail::fail("Missing init in fold()");
        if (!step) detail::fail("Missing step in fold()");
        if (!order_by) order_by = order_by_;
        return {std::move(order_by), std::move(*init), std::move(*step)};
    }

    // label = Var(label), then where = ... when a where step was written.
    std::vector<ast::CallArg> selection_args() const {
        std::vector<ast::CallArg> args;
        args.push_back(ast::named("label", ast::var(*label_)));
        if (where_) args.push_back(ast::named("where", *where_));
        return args;
    }

    ExprAst make_call() {
        std::vector<ast::CallArg> args = selection_args();
        if (std::holds_alternative<CountAgg>(*aggregate_)) {
            return ast::call("count_nodes", std::move(args));
        }
        if (auto* sum = std::get_if<SumAgg>(&*aggregate_)) {
            args.push_back(ast::named("contrib", std::move(sum->by)));
            return ast::call("sum_nodes", std::move(args));
        }
        if (auto* avg = std::get_if<AvgAgg>(&*aggregate_)) {
            std::vector<ast::CallArg> count_args = selection_args();
            args.push_back(ast::named("contrib", std::move(avg->by)));
            return ast::binary(ast::BinaryOp::Div, ast::call("sum_nodes", std::move(args)),
                               ast::call("count_nodes", std::move(count_args)));
        }
        auto& fold = std::get<FoldAgg>(*aggregate_);
        if (fold.order_by) args.push_back(ast::named("order_by", std::move(*fold.order_by)));
        args.push_back(ast::named("init", std::move(fold.init)));
        args.push_back(ast::named("step", std::move(fold.step)));
        return ast::call("fold_nodes", std::move(args));
    }

    std::vector<ExprAst> values_;
    size_t next_ = 0;
    std::optional<std::string> label_;
    std::optional<ExprAst> where_;
    std::optional<ExprAst> order_by_;  // of the latest order_by(...) step
    std::optional<Aggregate> aggregate_;
};

}  // namespace

std::vector<Pair> metric_pipeline_exprs(const Pair& pipeline) {
    std::vector<Pair> exprs;
    const auto add_first_expr = [&exprs](const Pair& pair) {
        if (const auto e = detail::first_of(pair.into_inner(), Rule::expr)) exprs.push_back(*e);
    };
    Pairs inner = pipeline.into_inner();
    inner.next();  // the start
    for (const Pair& pair : inner) {
        const std::optional<Pair> step = step_of(pair);
        if (!step) continue;
        if (has_step_expr(step->as_rule())) {
            add_first_expr(*step);
        } else if (step->as_rule() == Rule::builder_fold) {
            for_each_fold_arg(*step, add_first_expr);
        }
    }
    return exprs;
}

ExprAst assemble_metric_pipeline(const Pair& pipeline, std::vector<ExprAst> step_values) {
    return PipelineReader(std::move(step_values)).read(pipeline);
}

ExprAst build_metric_builder_expr(const Pair& pipeline) {
    std::vector<ExprAst> values;
    for (const Pair& e : metric_pipeline_exprs(pipeline)) values.push_back(build_expr(e));
    return assemble_metric_pipeline(pipeline, std::move(values));
}

}  // namespace morvane::frontend::parser
