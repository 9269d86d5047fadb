#include "frontend/errors.hpp"

#include <utility>

#include "frontend/support/fill.hpp"

namespace morvane::frontend {

using support::fill;

void append_context_text(std::string& out, const ValidationContext& context) {
    struct Writer {
        std::string& out;
        void operator()(const BeliefModelContext& c) { out += fill("belief_model '{}'", c.model); }
        void operator()(const EvidenceContext& c) { out += fill("evidence '{}'", c.evidence); }
        void operator()(const RuleWhereContext& c) { out += fill("rule '{}' where clause", c.rule); }
        void operator()(const RuleActionContext& c) {
            out += fill("rule '{}' action '{}'", c.rule, c.action);
        }
        void operator()(const FlowMetricContext& c) {
            out += fill("flow '{}' metric '{}'", c.flow, c.metric);
        }
        void operator()(const FlowPruneEdgesContext& c) {
            out += fill("flow '{}' graph '{}' prune_edges {} predicate", c.flow, c.graph, c.edge_type);
        }
    };
    std::visit(Writer{out}, context);
}

std::string context_text(const ValidationContext& context) {
    std::string out;
    append_context_text(out, context);
    return out;
}

std::string diagnostic_text(const ValidationDiagnostic& diagnostic) {
    std::string out = "validation error";
    if (diagnostic.context) {
        out += " [";
        append_context_text(out, *diagnostic.context);
        out += ']';
    }
    out += ": ";
    out += diagnostic.message;
    if (const auto& s = diagnostic.span) {
        out += fill(" (at {}:{}-{}:{})", s->start_line, s->start_col, s->end_line, s->end_col);
    }
    return out;
}

FrontendError FrontendError::parse(std::string text) {
    FrontendError e;
    e.kind_ = Kind::Parse;
    e.parse_text_ = std::move(text);
    return e;
}

FrontendError FrontendError::validation(std::string_view message,
                                        std::optional<ValidationContext> context,
                                        std::optional<SourceSpan> span) {
    FrontendError e;
    e.kind_ = Kind::Validation;
    e.diagnostic_ = ValidationDiagnostic{std::string(message), std::move(context), span};
    return e;
}

std::string FrontendError::text() const {
    return kind_ == Kind::Parse ? parse_text_ : diagnostic_text(diagnostic_);
}

}  // namespace morvane::frontend
