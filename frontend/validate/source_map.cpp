// Collecting the source map from a parse tree, and turning byte ranges into
// lines and columns.
#include "frontend/validate/source_map.hpp"

#include <algorithm>
#include <cstdint>

#include "frontend/support/utf8.hpp"

namespace morvane::frontend::validate {
namespace {

using parser::Pair;
using parser::Rule;

ByteSpan span_of(const Pair& pair) { return pair.as_span(); }

std::optional<ByteSpan> first_inner(const Pair& pair, Rule wanted) {
    for (const Pair& inner : pair.into_inner()) {
        if (inner.as_rule() == wanted) return span_of(inner);
    }
    return std::nullopt;
}

bool is_action_statement(Rule rule) {
    switch (rule) {
        case Rule::let_stmt:
        case Rule::nbnudge_stmt:
        case Rule::soft_update_stmt:
        case Rule::delete_stmt:
        case Rule::suppress_stmt:
            return true;
        default:
            return false;
    }
}

// One span per statement of an action block. A wrapping action_stmt stands
// for the statement it holds.
void collect_action_spans(const Pair& block, std::vector<ByteSpan>& spans) {
    for (const Pair& inner : block.into_inner()) {
        if (is_action_statement(inner.as_rule())) {
            spans.push_back(span_of(inner));
        } else if (inner.as_rule() == Rule::action_stmt) {
            const auto statement = inner.into_inner().peek();
            spans.push_back(statement ? span_of(*statement) : span_of(inner));
        }
    }
}

// The predicates of the prune_edges transforms below `pair`, depth first.
// Graph statements are shallow (a pipeline is a flat list of transforms), and
// the walk never enters a predicate.
void collect_prune_predicate_spans(const Pair& pair, std::vector<ByteSpan>& spans) {
    if (pair.as_rule() == Rule::prune_edges_tr) {
        if (auto predicate = first_inner(pair, Rule::expr)) spans.push_back(*predicate);
        return;
    }
    for (const Pair& inner : pair.into_inner()) collect_prune_predicate_spans(inner, spans);
}

// The where span follows the rule builder: a where clause replaces the
// rule's where-expression, while the one-line and `for` forms set it only
// when the rule has none yet (the builder refuses the other case). So the
// recorded span is always that of the expression the rule keeps.
RuleSourceEntry collect_rule(const Pair& decl) {
    RuleSourceEntry entry;
    for (const Pair& body : decl.into_inner()) {
        if (body.as_rule() != Rule::rule_body) continue;
        for (const Pair& clause : body.into_inner()) {
            switch (clause.as_rule()) {
                case Rule::sugar_rule:
                case Rule::for_sugar:
                    for (const Pair& part : clause.into_inner()) {
                        if (part.as_rule() == Rule::action_block) {
                            collect_action_spans(part, entry.action_spans);
                        } else if (part.as_rule() == Rule::expr && !entry.where_span) {
                            entry.where_span = span_of(part);
                        }
                    }
                    break;
                case Rule::where_clause:
                    for (const Pair& part : clause.into_inner()) {
                        if (part.as_rule() == Rule::action_block) {
                            collect_action_spans(part, entry.action_spans);
                        } else if (part.as_rule() == Rule::expr) {
                            entry.where_span = span_of(part);
                        }
                    }
                    break;
                case Rule::action_clause:
                    for (const Pair& part : clause.into_inner()) {
                        if (part.as_rule() == Rule::action_block) {
                            collect_action_spans(part, entry.action_spans);
                        }
                    }
                    break;
                default:
                    break;
            }
        }
    }
    return entry;
}

FlowSourceEntry collect_flow(const Pair& decl) {
    FlowSourceEntry entry;
    for (const Pair& body : decl.into_inner()) {
        if (body.as_rule() != Rule::flow_body) continue;
        for (const Pair& statement : body.into_inner()) {
            if (statement.as_rule() == Rule::graph_stmt) {
                collect_prune_predicate_spans(statement, entry.prune_spans);
            } else if (statement.as_rule() == Rule::metric_stmt) {
                for (const Pair& part : statement.into_inner()) {
                    if (part.as_rule() == Rule::metric_builder_expr ||
                        part.as_rule() == Rule::expr) {
                        entry.metric_spans.push_back(span_of(part));
                        break;
                    }
                }
            }
        }
    }
    return entry;
}

void collect_decl_source(const Pair& decl, ValidationSourceMap& map) {
    switch (decl.as_rule()) {
        case Rule::belief_model_decl:
            map.belief_models.push_back(span_of(decl));
            break;
        case Rule::evidence_decl:
            map.evidences.push_back(span_of(decl));
            break;
        case Rule::rule_decl:
            map.rules.push_back(collect_rule(decl));
            break;
        case Rule::flow_decl:
            map.flows.push_back(collect_flow(decl));
            break;
        default:
            break;
    }
}

template <typename T>
const T* at(const std::vector<T>& items, size_t index) {
    return index < items.size() ? &items[index] : nullptr;
}

std::optional<ByteSpan> copy(const ByteSpan* bytes) {
    return bytes ? std::optional<ByteSpan>(*bytes) : std::nullopt;
}

// Walks forward through the text keeping the line number and where the
// current line starts.
struct LineCursor {
    std::string_view text;
    size_t offset = 0;
    size_t line_start = 0;
    uint32_t line = 1;

    void advance_to(size_t target) {
        target = std::min(target, text.size());
        const std::string_view segment = text.substr(offset, target - offset);
        const size_t last_lf = segment.rfind('\n');
        if (last_lf != std::string_view::npos) {
            line += static_cast<uint32_t>(std::count(segment.begin(), segment.end(), '\n'));
            line_start = offset + last_lf + 1;
        }
        offset = std::max(offset, target);
    }

    uint32_t column() const {
        return 1 + static_cast<uint32_t>(
                       support::char_count(text.substr(line_start, offset - line_start)));
    }
};

}  // namespace

SourceSpan ValidationSourceMap::resolve(ByteSpan bytes) const {
    LineCursor cursor{source_};
    cursor.advance_to(bytes.start);
    SourceSpan span;
    span.start_line = cursor.line;
    span.start_col = cursor.column();
    cursor.advance_to(std::max(bytes.start, bytes.end));
    span.end_line = cursor.line;
    span.end_col = cursor.column();
    return span;
}

std::optional<ByteSpan> ValidationSourceMap::belief_model(size_t model) const {
    return copy(at(belief_models, model));
}

std::optional<ByteSpan> ValidationSourceMap::evidence(size_t evidence) const {
    return copy(at(evidences, evidence));
}

std::optional<ByteSpan> ValidationSourceMap::rule_where(size_t rule) const {
    const RuleSourceEntry* entry = at(rules, rule);
    return entry ? entry->where_span : std::nullopt;
}

std::optional<ByteSpan> ValidationSourceMap::rule_action(size_t rule, size_t action) const {
    const RuleSourceEntry* entry = at(rules, rule);
    return entry ? copy(at(entry->action_spans, action)) : std::nullopt;
}

std::optional<ByteSpan> ValidationSourceMap::flow_metric(size_t flow, size_t metric) const {
    const FlowSourceEntry* entry = at(flows, flow);
    return entry ? copy(at(entry->metric_spans, metric)) : std::nullopt;
}

std::optional<ByteSpan> ValidationSourceMap::flow_prune(size_t flow, size_t prune) const {
    const FlowSourceEntry* entry = at(flows, flow);
    return entry ? copy(at(entry->prune_spans, prune)) : std::nullopt;
}

ValidationSourceMap collect_source_map(const parser::ParseTree& tree) {
    ValidationSourceMap map(tree.text());
    const auto program = tree.pairs().peek();
    if (!program) return map;
    for (const Pair& decl : program->into_inner()) collect_decl_source(decl, map);
    return map;
}

}  // namespace morvane::frontend::validate
