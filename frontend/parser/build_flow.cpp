#include "frontend/parser/build_flow.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frontend/parser/build_expr.hpp"
#include "frontend/parser/build_metric.hpp"
#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::frontend::parser {

namespace {

std::string first_ident(const Pairs& pairs, const char* missing) {
    const std::optional<Pair> ident = detail::first_of(pairs, Rule::ident);
    if (!ident) detail::fail(missing);
    return std::string(ident->as_str());
}

ast::Transform build_prune_edges(const Pair& transform) {
    Pairs parts = transform.into_inner();
    std::string edge_type = extract_ident(parts, "Missing edge type in prune_edges");
    const std::optional<Pair> predicate = detail::first_of(parts, Rule::expr);
    if (!predicate) detail::fail("Missing predicate in prune_edges");
    return ast::Transform::PruneEdges{std::move(edge_type), build_expr(*predicate)};
}

std::optional<ast::Transform> build_transform(const Pair& pair) {
    switch (pair.as_rule()) {
        case Rule::apply_rule_tr:
            return ast::Transform::ApplyRule{
                first_ident(pair.into_inner(), "Missing rule name in apply_rule")};
        case Rule::apply_ruleset_tr: {
            ast::Transform::ApplyRuleset ruleset;
            for (const Pair& child : pair.into_inner()) {
                if (child.as_rule() == Rule::ident) ruleset.rules.emplace_back(child.as_str());
            }
            if (ruleset.rules.empty()) detail::fail("apply_ruleset must have at least one rule");
            return ruleset;
        }
        case Rule::snapshot_tr: {
            Pairs parts = pair.into_inner();
            return ast::Transform::Snapshot{
                extract_string(parts, "Missing snapshot name in snapshot")};
        }
        case Rule::infer_beliefs_tr:
            return ast::Transform::InferBeliefs{};
        case Rule::prune_edges_tr:
            return build_prune_edges(pair);
        default:
            return std::nullopt;
    }
}

std::optional<ast::GraphExpr> build_graph_expr(const Pair& pair) {
    switch (pair.as_rule()) {
        case Rule::from_evidence_expr: {
            Pairs parts = pair.into_inner();
            return ast::GraphExpr::FromEvidence{
                extract_ident(parts, "Missing evidence name in from_evidence")};
        }
        case Rule::from_graph_expr: {
            Pairs parts = pair.into_inner();
            return ast::GraphExpr::FromGraph{
                extract_string(parts, "Missing graph alias in from_graph")};
        }
        case Rule::select_model_expr:
            return build_select_model_expr(pair);
        case Rule::pipeline_expr:
            return build_pipeline_expr(pair);
        default:
            return std::nullopt;
    }
}

ast::GraphDef build_graph_stmt(const Pair& stmt) {
    std::optional<std::string> name;
    std::optional<ast::GraphExpr> expr;
    for (const Pair& child : stmt.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (!name) name = std::string(child.as_str());
        } else if (child.as_rule() == Rule::graph_expr) {
            if (const std::optional<Pair> inner = child.into_inner().peek()) {
                if (auto built = build_graph_expr(*inner)) expr = std::move(built);
            }
        } else if (auto built = build_graph_expr(child)) {
            expr = std::move(built);
        }
    }
    if (!expr) detail::fail("Missing graph expression");
    return {name.value_or(std::string()), std::move(*expr)};
}

// `metric m [on g] = value`. A value that is exactly one pipeline reports
// the pipeline's errors; any other value falls back to 0.0.
ast::MetricDef build_metric_stmt(const Pair& stmt) {
    std::vector<std::string> idents;
    std::optional<ast::ExprAst> expr;
    for (const Pair& child : stmt.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            idents.emplace_back(child.as_str());
        } else if (child.as_rule() == Rule::metric_builder_expr) {
            expr = build_metric_builder_expr(child);
        } else if (child.as_rule() == Rule::expr) {
            expr = build_expr(child);
        }
    }
    if (idents.empty()) detail::fail("Missing metric name");
    if (!expr) detail::fail("Missing metric expression");
    std::optional<std::string> on_graph;
    if (idents.size() > 1) on_graph = std::move(idents[1]);
    return {std::move(idents[0]), std::move(on_graph), std::move(*expr)};
}

ast::MetricImportDef build_metric_import(const Pair& stmt) {
    Pairs parts = stmt.into_inner();
    std::string source_alias = extract_ident(parts, "Missing source alias in import_metric");
    std::optional<Pair> local;
    for (const Pair& child : parts) {
        if (child.as_rule() == Rule::ident) local = child;
    }
    if (!local) detail::fail("Missing local name in import_metric");
    return {std::move(source_alias), std::string(local->as_str())};
}

void add_statement(const Pair& stmt, ast::FlowDef& flow) {
    switch (stmt.as_rule()) {
        case Rule::graph_stmt:
            flow.graphs.push_back(build_graph_stmt(stmt));
            break;
        case Rule::metric_stmt:
            flow.metrics.push_back(build_metric_stmt(stmt));
            break;
        case Rule::export_stmt: {
            Pairs parts = stmt.into_inner();
            std::string graph = extract_ident(parts, "Missing graph name in export");
            std::string alias = extract_string(parts, "Missing alias string in export");
            flow.exports.push_back({std::move(graph), std::move(alias)});
            break;
        }
        case Rule::metric_export_stmt: {
            Pairs parts = stmt.into_inner();
            std::string metric = extract_ident(parts, "Missing metric name in export_metric");
            std::string alias = extract_string(parts, "Missing alias string in export_metric");
            flow.metric_exports.push_back({std::move(metric), std::move(alias)});
            break;
        }
        case Rule::metric_import_stmt:
            flow.metric_imports.push_back(build_metric_import(stmt));
            break;
        default:
            break;
    }
}

}  // namespace

ast::GraphExpr build_pipeline_expr(const Pair& pipeline) {
    Pairs parts = pipeline.into_inner();
    const std::optional<Pair> start = parts.next();
    if (!start) detail::fail("Missing start graph in pipeline");
    ast::GraphExpr::Pipeline result{std::string(start->as_str()), {}};
    for (const Pair& child : parts) {
        if (auto transform = build_transform(child)) result.transforms.push_back(std::move(*transform));
    }
    return result;
}

ast::GraphExpr build_select_model_expr(const Pair& select) {
    std::vector<std::string> candidates;
    std::optional<ast::ModelSelectionCriterion> criterion;
    for (const Pair& child : select.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            candidates.emplace_back(child.as_str());
        } else if (child.as_rule() == Rule::model_selection_criterion) {
            const std::optional<Pair> word = child.into_inner().peek();
            if (!word) detail::fail("Missing model selection criterion in select_model");
            if (word->as_rule() == Rule::kw_edge_bic_tok) {
                criterion = ast::ModelSelectionCriterion::EdgeBic;
            } else if (word->as_rule() == Rule::kw_edge_aic_tok) {
                criterion = ast::ModelSelectionCriterion::EdgeAic;
            } else {
                detail::fail(support::fill("Unsupported model selection criterion: {}",
                                           rule_name(word->as_rule())));
            }
        }
    }
    if (candidates.empty()) detail::fail("select_model must contain at least one candidate graph");
    if (!criterion) detail::fail("Missing model selection criterion in select_model");
    return ast::GraphExpr::SelectModel{std::move(candidates), *criterion};
}

ast::FlowDef build_flow(const Pair& decl) {
    ast::FlowDef flow;
    int idents = 0;
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (idents == 0) flow.name = std::string(child.as_str());
            if (idents == 1) flow.on_model = std::string(child.as_str());
            ++idents;
        } else if (child.as_rule() == Rule::flow_body) {
            for (const Pair& stmt : child.into_inner()) add_statement(stmt, flow);
        }
    }
    return flow;
}

}  // namespace morvane::frontend::parser
