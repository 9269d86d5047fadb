#include "frontend/validate/site.hpp"

#include <utility>

namespace morvane::frontend::validate {

FrontendError validation_error(std::string_view message, const ValidationContext& context,
                               std::optional<SourceSpan> span) {
    return FrontendError::validation(message, context, span);
}

Site Site::belief_model(std::string_view model) { return Site(Kind::BeliefModel, model); }

Site Site::evidence(std::string_view evidence) { return Site(Kind::Evidence, evidence); }

Site Site::rule_where(std::string_view rule) { return Site(Kind::RuleWhere, rule); }

Site Site::rule_action(std::string_view rule, std::string_view action_kind) {
    return Site(Kind::RuleAction, rule, action_kind);
}

Site Site::flow_metric(std::string_view flow, std::string_view metric) {
    return Site(Kind::FlowMetric, flow, metric);
}

Site Site::flow_prune_edges(std::string_view flow, std::string_view graph,
                            std::string_view edge_type) {
    return Site(Kind::FlowPruneEdges, flow, graph, edge_type);
}

std::optional<ValidationContext> Site::context() const {
    const std::string a(a_), b(b_), c(c_);
    switch (kind_) {
        case Kind::None:
            return std::nullopt;
        case Kind::BeliefModel:
            return BeliefModelContext{a};
        case Kind::Evidence:
            return EvidenceContext{a};
        case Kind::RuleWhere:
            return RuleWhereContext{a};
        case Kind::RuleAction:
            return RuleActionContext{a, b};
        case Kind::FlowMetric:
            return FlowMetricContext{a, b};
        case Kind::FlowPruneEdges:
            return FlowPruneEdgesContext{a, b, c};
    }
    return std::nullopt;
}

std::optional<SourceSpan> Site::span() const {
    if (!map_ || !bytes_) return std::nullopt;
    return map_->resolve(*bytes_);
}

void Site::fail(std::string_view message) const {
    if (const auto context = this->context()) throw validation_error(message, *context, span());
    throw FrontendError::validation(message, std::nullopt, span());
}

}  // namespace morvane::frontend::validate
