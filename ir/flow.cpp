// Lowering of flows: field by field, every list in its order.
#include "ir/flow.hpp"

#include "frontend/support/overloaded.hpp"

namespace morvane::ir {

using support::Overloaded;

TransformIR TransformIR::from(const ast::Transform& transform) {
    using T = ast::Transform;
    return std::visit(
        Overloaded{
            [](const T::ApplyRule& x) -> TransformIR { return ApplyRule{x.rule}; },
            [](const T::ApplyRuleset& x) -> TransformIR { return ApplyRuleset{x.rules}; },
            [](const T::Snapshot& x) -> TransformIR { return Snapshot{x.name}; },
            [](const T::InferBeliefs&) -> TransformIR { return InferBeliefs{}; },
            [](const T::PruneEdges& x) -> TransformIR {
                return PruneEdges{x.edge_type, ExprIR::from(x.predicate)};
            },
        },
        transform.node);
}

GraphExprIR GraphExprIR::from(const ast::GraphExpr& expr) {
    using G = ast::GraphExpr;
    return std::visit(
        Overloaded{
            [](const G::FromEvidence& x) -> GraphExprIR { return FromEvidence{x.evidence}; },
            [](const G::FromGraph& x) -> GraphExprIR { return FromGraph{x.alias}; },
            [](const G::Pipeline& x) -> GraphExprIR {
                Pipeline out{x.start, {}};
                out.transforms.reserve(x.transforms.size());
                for (const auto& t : x.transforms) out.transforms.push_back(TransformIR::from(t));
                return out;
            },
            [](const G::SelectModel& x) -> GraphExprIR {
                return SelectModel{x.candidates, x.criterion};
            },
        },
        expr.node);
}

FlowIR FlowIR::from(const ast::FlowDef& flow) {
    FlowIR out{flow.name, flow.on_model, {}, {}, {}, {}, {}};
    out.graphs.reserve(flow.graphs.size());
    for (const auto& g : flow.graphs) out.graphs.push_back({g.name, GraphExprIR::from(g.expr)});
    out.metrics.reserve(flow.metrics.size());
    for (const auto& m : flow.metrics) {
        out.metrics.push_back({m.name, m.on_graph, ExprIR::from(m.expr)});
    }
    for (const auto& e : flow.exports) out.exports.push_back({e.graph, e.alias});
    for (const auto& e : flow.metric_exports) out.metric_exports.push_back({e.metric, e.alias});
    for (const auto& i : flow.metric_imports) {
        out.metric_imports.push_back({i.source_alias, i.local_name});
    }
    return out;
}

}  // namespace morvane::ir
