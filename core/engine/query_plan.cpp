// Selectivity estimates and the join order of multi-pattern rules (see
// query_plan.hpp).
#include "core/engine/query_plan.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace morvane::core::engine {
namespace {

// How many records of `items` carry each of `names` (one count per name).
template <typename Record, typename Text>
std::vector<std::size_t> count_by(const std::vector<Record>& items, Text Record::*text,
                                  const std::vector<std::string_view>& names) {
    std::vector<std::size_t> counts(names.size(), 0);
    // Records of one type share their text object, and runs of them are
    // common: the names a text matches are worked out once per run.
    std::vector<std::size_t> matching;
    const Text* last = nullptr;
    for (const Record& r : items) {
        const Text& t = r.*text;
        if (last == nullptr || !t.shares_with(*last)) {
            matching.clear();
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (t.view() == names[i]) matching.push_back(i);
            }
            last = &t;
        }
        for (const std::size_t i : matching)
            ++counts[i];
    }
    return counts;
}

}  // namespace

QueryPlan plan_query(std::span<const frontend::ast::PatternItem> patterns,
                     const BeliefGraph& graph) {
    const BeliefGraphInner& base = graph.base();
    // One pass over the edges and one over the nodes count every pattern's
    // type and labels.
    std::vector<std::string_view> types, labels;
    for (const auto& p : patterns) {
        types.push_back(p.edge.ty);
        labels.push_back(p.src.label);
        labels.push_back(p.dst.label);
    }
    const std::vector<std::size_t> edge_counts = count_by(base.edges, &EdgeData::edge_type, types);
    const std::vector<std::size_t> label_counts = count_by(base.nodes, &NodeData::label, labels);
    const double n = static_cast<double>(base.nodes.size());

    std::vector<PatternSelectivity> estimates;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const std::size_t e = edge_counts[i];
        const std::size_t s = label_counts[2 * i];
        const std::size_t d = label_counts[2 * i + 1];
        uint64_t estimate = 0;
        if (e > 0) {
            const double x =
                s > 0 && d > 0 ? (static_cast<double>(s) / n) * (static_cast<double>(d) / n) : 0.0;
            // Finite and at most e, so the conversion is exact truncation.
            estimate = static_cast<uint64_t>(std::fmax(x * static_cast<double>(e), 1.0));
        }
        const double cost = static_cast<double>(i) * 0.001 + static_cast<double>(estimate);
        estimates.push_back({i, estimate, cost});
    }
    std::stable_sort(estimates.begin(), estimates.end(),
                     [](const auto& a, const auto& b) { return a.cost < b.cost; });

    QueryPlan plan;
    for (const PatternSelectivity& s : estimates)
        plan.order.push_back(s.index);
    plan.selectivities = std::move(estimates);
    return plan;
}

}  // namespace morvane::core::engine
