// Where a check runs, and how its failure is reported.
//
// Every diagnostic carries the context and the span of the declaration item
// being checked (a belief model, an action, a metric ...), never a position
// inside an expression. A Site names that item by views into the tree and
// into the source map, so walking a large valid program builds no context
// text and computes no position: both are made only when a check fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frontend/errors.hpp"
#include "frontend/validate/source_map.hpp"

namespace morvane::frontend::validate {

// A diagnostic holding a copy of `message`, a copy of the context and the
// span as given.
FrontendError validation_error(std::string_view message, const ValidationContext& context,
                               std::optional<SourceSpan> span);

class Site {
public:
    // A site with neither context nor span.
    Site() = default;

    static Site belief_model(std::string_view model);
    static Site evidence(std::string_view evidence);
    static Site rule_where(std::string_view rule);
    static Site rule_action(std::string_view rule, std::string_view action_kind);
    static Site flow_metric(std::string_view flow, std::string_view metric);
    static Site flow_prune_edges(std::string_view flow, std::string_view graph,
                                 std::string_view edge_type);

    // The span this site's diagnostics point at: a range of the map's
    // source. Without it (or without a map) they carry no span.
    Site& at(const ValidationSourceMap* map, std::optional<ByteSpan> bytes) {
        map_ = map;
        bytes_ = bytes;
        return *this;
    }

    std::optional<ValidationContext> context() const;
    std::optional<SourceSpan> span() const;

    // Throws the diagnostic of `message` at this site.
    [[noreturn]] void fail(std::string_view message) const;

private:
    enum class Kind : uint8_t {
        None,
        BeliefModel,
        Evidence,
        RuleWhere,
        RuleAction,
        FlowMetric,
        FlowPruneEdges
    };

    Site(Kind kind, std::string_view a, std::string_view b = {}, std::string_view c = {})
        : kind_(kind), a_(a), b_(b), c_(c) {}

    Kind kind_ = Kind::None;
    std::string_view a_, b_, c_;
    const ValidationSourceMap* map_ = nullptr;
    std::optional<ByteSpan> bytes_;
};

}  // namespace morvane::frontend::validate
