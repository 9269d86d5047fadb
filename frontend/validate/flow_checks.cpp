// Flows: prune predicates and select_model candidates graph by graph, then
// the metrics in order. A metric may read the imported metrics and the
// metrics declared before it, never a later one.
#include "frontend/support/fill.hpp"
#include "frontend/validate/declaration_checks.hpp"
#include "frontend/validate/metric_expr_checks.hpp"
#include "frontend/validate/name_set.hpp"
#include "frontend/validate/prune_checks.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {
namespace {

using support::fill;

// Candidates may name graphs declared later in the flow. These diagnostics
// carry neither context nor span.
void check_select_model(const ast::FlowDef& flow, const ast::GraphDef& graph,
                        const ast::GraphExpr::SelectModel& select, const NameSet& graph_names) {
    const Site site;
    if (select.candidates.size() < 2) {
        site.fail(fill("flow '{}' graph '{}': select_model requires at least two candidates",
                       flow.name, graph.name));
    }
    NameSet seen;
    for (const std::string& candidate : select.candidates) {
        if (candidate == graph.name) {
            site.fail(
                fill("flow '{}' graph '{}': select_model cannot reference itself", flow.name, graph.name));
        }
        if (!graph_names.contains(candidate)) {
            site.fail(fill("flow '{}' graph '{}': unknown select_model candidate '{}'", flow.name,
                           graph.name, candidate));
        }
        if (!seen.insert(candidate)) {
            site.fail(fill("flow '{}' graph '{}': duplicate select_model candidate '{}'", flow.name,
                           graph.name, candidate));
        }
    }
}

}  // namespace

void check_flow(const ast::FlowDef& flow, size_t index, const ValidationSourceMap* map) {
    NameSet graph_names;
    for (const ast::GraphDef& graph : flow.graphs) graph_names.insert(graph.name);

    // Prune transforms are numbered over the whole flow, as in the map.
    size_t prune_index = 0;
    for (const ast::GraphDef& graph : flow.graphs) {
        if (const auto* pipeline = std::get_if<ast::GraphExpr::Pipeline>(&graph.expr.node)) {
            for (const ast::Transform& transform : pipeline->transforms) {
                const auto* prune = std::get_if<ast::Transform::PruneEdges>(&transform.node);
                if (!prune) continue;
                Site site = Site::flow_prune_edges(flow.name, graph.name, prune->edge_type);
                site.at(map, map ? map->flow_prune(index, prune_index) : std::nullopt);
                walk_expr(prune->predicate, site);
                ++prune_index;
            }
        } else if (const auto* select = std::get_if<ast::GraphExpr::SelectModel>(&graph.expr.node)) {
            check_select_model(flow, graph, *select, graph_names);
        }
    }

    NameSet known_metrics;
    for (const ast::MetricImportDef& import : flow.metric_imports) {
        known_metrics.insert(import.local_name);
    }
    for (size_t m = 0; m < flow.metrics.size(); ++m) {
        const ast::MetricDef& metric = flow.metrics[m];
        Site site = Site::flow_metric(flow.name, metric.name);
        site.at(map, map ? map->flow_metric(index, m) : std::nullopt);
        if (metric.on_graph && !graph_names.contains(*metric.on_graph)) {
            site.fail(fill("flow '{}' metric '{}' references unknown graph '{}'", flow.name,
                           metric.name, *metric.on_graph));
        }
        validate_metric_expr_scoped(metric.expr, known_metrics, MetricExprFlags{}, site);
        known_metrics.insert(metric.name);
    }
}

}  // namespace morvane::frontend::validate
