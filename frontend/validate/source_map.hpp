// Where the checked parts of a program stand in its source text.
//
// The syntax tree keeps no positions, so the validator reads them off a parse
// tree of the same text and matches them to the tree purely by position in
// the lists: the i-th belief model of the tree is the i-th belief-model
// declaration of the text, action j of rule i is the j-th action statement
// written in that rule, and so on. Both sides count in source order, each
// declaration kind separately, so no name has to be looked up.
//
// The map stores byte ranges and turns one into lines and columns only when
// a diagnostic asks for it. A validation reports at most one diagnostic, so
// a successful one computes no position at all, and a failing one scans the
// text once: never a cost per recorded part.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "frontend/errors.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::validate {

using parser::ByteSpan;

struct RuleSourceEntry {
    // One per action statement, in source order over all the rule's action
    // blocks; each covers the statement including a written ";".
    std::vector<ByteSpan> action_spans;
    // The where-expression the rule keeps (without the keyword `where`).
    std::optional<ByteSpan> where_span;
};

struct FlowSourceEntry {
    // One per metric statement: its right-hand side after "=".
    std::vector<ByteSpan> metric_spans;
    // One per prune_edges transform over all the flow's graphs: the
    // predicate after `where`.
    std::vector<ByteSpan> prune_spans;
};

class ValidationSourceMap {
public:
    // `source` is the text the spans index into; it must outlive the map.
    explicit ValidationSourceMap(std::string_view source) : source_(source) {}

    std::vector<ByteSpan> belief_models;  // whole declarations
    std::vector<ByteSpan> evidences;      // whole declarations
    std::vector<RuleSourceEntry> rules;
    std::vector<FlowSourceEntry> flows;

    // The byte range of a recorded part; absent when the index lies beyond
    // what was recorded (or the rule has no where-expression).
    std::optional<ByteSpan> belief_model(size_t model) const;
    std::optional<ByteSpan> evidence(size_t evidence) const;
    std::optional<ByteSpan> rule_where(size_t rule) const;
    std::optional<ByteSpan> rule_action(size_t rule, size_t action) const;
    std::optional<ByteSpan> flow_metric(size_t flow, size_t metric) const;
    std::optional<ByteSpan> flow_prune(size_t flow, size_t prune) const;

    // Lines and columns of a byte range of the source: 1-based, columns in
    // characters, "\n" (or "\r\n") ending a line; the end is the position
    // just past the last character.
    SourceSpan resolve(ByteSpan bytes) const;

private:
    std::string_view source_;
};

// Records the declarations of a parse from the rule `program` of the source
// the tree refers to.
ValidationSourceMap collect_source_map(const parser::ParseTree& tree);

}  // namespace morvane::frontend::validate
