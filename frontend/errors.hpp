// Front-end errors: what parsing, tree building and validation report.
//
// A FrontendError is either the complete text of a parse or build error, or
// a structured validation diagnostic (message, where it lies, and the source
// range it points at). Errors are thrown as values at the point of failure;
// the first one ends the compilation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace morvane::frontend {

// Where a validation failure lies. Each variant's text is fixed; `edge_type`
// of FlowPruneEdges is the only field printed without quotes.
struct BeliefModelContext {
    std::string model;
    bool operator==(const BeliefModelContext&) const = default;
};
struct EvidenceContext {
    std::string evidence;
    bool operator==(const EvidenceContext&) const = default;
};
struct RuleWhereContext {
    std::string rule;
    bool operator==(const RuleWhereContext&) const = default;
};
struct RuleActionContext {
    std::string rule;
    std::string action;  // kind word: "let", "non_bayesian_nudge", ...
    bool operator==(const RuleActionContext&) const = default;
};
struct FlowMetricContext {
    std::string flow;
    std::string metric;
    bool operator==(const FlowMetricContext&) const = default;
};
struct FlowPruneEdgesContext {
    std::string flow;
    std::string graph;
    std::string edge_type;
    bool operator==(const FlowPruneEdgesContext&) const = default;
};

using ValidationContext = std::variant<BeliefModelContext, EvidenceContext, RuleWhereContext,
                                       RuleActionContext, FlowMetricContext, FlowPruneEdgesContext>;

// "belief_model 'm'", "rule 'r' where clause", ...
void append_context_text(std::string& out, const ValidationContext& context);
std::string context_text(const ValidationContext& context);

// A source range: 1-based lines and columns, columns counted in characters.
struct SourceSpan {
    uint32_t start_line = 0;
    uint32_t start_col = 0;
    uint32_t end_line = 0;
    uint32_t end_col = 0;
    bool operator==(const SourceSpan&) const = default;
};

struct ValidationDiagnostic {
    std::string message;
    std::optional<ValidationContext> context;
    std::optional<SourceSpan> span;
    bool operator==(const ValidationDiagnostic&) const = default;
};

// "validation error[ [context]]: message[ (at l:c-l:c)]"
std::string diagnostic_text(const ValidationDiagnostic& diagnostic);

class FrontendError {
public:
    enum class Kind : uint8_t { Parse, Validation };

    // A parse or build error carrying its complete text.
    static FrontendError parse(std::string text);
    // A validation failure; the message is copied.
    static FrontendError validation(std::string_view message, std::optional<ValidationContext> context,
                                    std::optional<SourceSpan> span);

    Kind kind() const { return kind_; }
    // The parse text (Parse) or the diagnostic's text (Validation).
    std::string text() const;
    // Only for Parse errors.
    const std::string& parse_text() const { return parse_text_; }
    // Only for Validation errors.
    const ValidationDiagnostic& diagnostic() const { return diagnostic_; }

    bool operator==(const FrontendError&) const = default;

private:
    FrontendError() = default;
    Kind kind_ = Kind::Parse;
    std::string parse_text_;
    ValidationDiagnostic diagnostic_;
};

}  // namespace morvane::frontend
