// Lowering of evidence blocks and their conversion back: field by field, in
// order, grouping each (type, label) pair of strings into a NodeRefIR.
#include "ir/evidence.hpp"

#include "frontend/support/overloaded.hpp"

namespace morvane::ir {

using support::Overloaded;

ObserveStmtIR ObserveStmtIR::from(const ast::ObserveStmt& stmt) {
    using S = ast::ObserveStmt;
    return std::visit(
        Overloaded{
            [](const S::Edge& x) -> ObserveStmtIR {
                return Edge{x.edge_type, {x.src_type, x.src_label}, {x.dst_type, x.dst_label},
                            x.mode};
            },
            [](const S::EdgeWeight& x) -> ObserveStmtIR {
                return EdgeWeight{x.edge_type, {x.src_type, x.src_label},
                                  {x.dst_type, x.dst_label}, x.value, x.precision};
            },
            [](const S::Attribute& x) -> ObserveStmtIR {
                return Attribute{{x.node_type, x.node_label}, x.attr, x.value, x.precision};
            },
        },
        stmt.node);
}

ast::ObserveStmt ObserveStmtIR::to_ast() const {
    using S = ast::ObserveStmt;
    return std::visit(
        Overloaded{
            [](const Edge& x) -> S {
                return S::Edge{x.edge_type, x.src.node_type, x.src.label, x.dst.node_type,
                               x.dst.label, x.mode};
            },
            [](const EdgeWeight& x) -> S {
                return S::EdgeWeight{x.edge_type,       x.src.node_type, x.src.label,
                                     x.dst.node_type,   x.dst.label,     x.value,
                                     x.precision};
            },
            [](const Attribute& x) -> S {
                return S::Attribute{x.node.node_type, x.node.label, x.attr, x.value,
                                    x.precision};
            },
        },
        node);
}

EvidenceIR EvidenceIR::from(const ast::EvidenceDef& evidence) {
    EvidenceIR out{evidence.name, evidence.on_model, {}, evidence.body_src};
    out.observations.reserve(evidence.observations.size());
    for (const auto& stmt : evidence.observations) {
        out.observations.push_back(ObserveStmtIR::from(stmt));
    }
    return out;
}

ast::EvidenceDef EvidenceIR::to_ast() const {
    ast::EvidenceDef out{name, on_model, {}, body_src};
    out.observations.reserve(observations.size());
    for (const auto& stmt : observations) out.observations.push_back(stmt.to_ast());
    return out;
}

}  // namespace morvane::ir
