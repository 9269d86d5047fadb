// Graph execution plan and rule index of a flow run (see flow_plan.hpp).
#include "core/engine/flow_plan.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "core/engine/errors.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::core::engine {
namespace {

using ir::GraphExprIR;
using NameSet = std::unordered_set<std::string_view>;

bool is_ready(const GraphExprIR& expr, const NameSet& resolved) {
    if (const auto* p = std::get_if<GraphExprIR::Pipeline>(&expr.node)) {
        return resolved.contains(p->start);
    }
    if (const auto* s = std::get_if<GraphExprIR::SelectModel>(&expr.node)) {
        return std::all_of(s->candidates.begin(), s->candidates.end(),
                           [&](const std::string& c) { return resolved.contains(c); });
    }
    return true;  // from_evidence and from_graph read nothing of the flow
}

[[noreturn]] void fail_unresolved(const ir::FlowIR& flow, const std::vector<std::size_t>& pending) {
    std::vector<std::string_view> names;
    names.reserve(pending.size());
    for (const std::size_t i : pending)
        names.push_back(flow.graphs[i].name);
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string_view name : names) {
        if (!list.empty()) list += ", ";
        list += name;
    }
    throw ExecError::internal(support::fill(
        "unable to resolve graph execution order in flow '{}'; unresolved: {}", flow.name, list));
}

}  // namespace

std::vector<std::size_t> build_graph_execution_plan(const ir::FlowIR& flow) {
    NameSet names;
    for (const ir::GraphDefIR& graph : flow.graphs) {
        if (!names.insert(graph.name).second) {
            throw ExecError::internal(
                support::fill("duplicate graph name '{}' in flow '{}'", graph.name, flow.name));
        }
    }

    std::vector<std::size_t> pending(flow.graphs.size());
    for (std::size_t i = 0; i < pending.size(); ++i)
        pending[i] = i;
    std::vector<std::size_t> plan;
    plan.reserve(pending.size());
    NameSet resolved;
    std::vector<std::size_t> next;
    while (!pending.empty()) {
        next.clear();
        for (const std::size_t i : pending) {
            const ir::GraphDefIR& graph = flow.graphs[i];
            if (is_ready(graph.expr, resolved)) {
                plan.push_back(i);
                resolved.insert(graph.name);
            } else {
                next.push_back(i);
            }
        }
        if (next.size() == pending.size()) fail_unresolved(flow, pending);
        pending.swap(next);
    }
    return plan;
}

RuleIndex build_rule_defs_index(std::span<const ir::RuleIR> rules, const ir::FlowIR& flow) {
    // The last rule of each name, among the names the flow applies.
    std::unordered_map<std::string_view, const ir::RuleIR*> applied;
    const auto note = [&applied](const std::string& name) { applied.emplace(name, nullptr); };
    for (const ir::GraphDefIR& graph : flow.graphs) {
        const auto* pipeline = std::get_if<GraphExprIR::Pipeline>(&graph.expr.node);
        if (pipeline == nullptr) continue;
        for (const ir::TransformIR& transform : pipeline->transforms) {
            if (const auto* a = std::get_if<ir::TransformIR::ApplyRule>(&transform.node)) {
                note(a->rule);
            } else if (const auto* s =
                           std::get_if<ir::TransformIR::ApplyRuleset>(&transform.node)) {
                for (const std::string& rule : s->rules)
                    note(rule);
            }
        }
    }
    for (const ir::RuleIR& rule : rules) {
        const auto it = applied.find(rule.name);
        if (it != applied.end()) it->second = &rule;
    }
    RuleIndex index;
    for (const auto& [name, rule] : applied) {
        if (rule != nullptr) index.emplace(std::string(name), rule->to_ast());
    }
    return index;
}

}  // namespace morvane::core::engine
