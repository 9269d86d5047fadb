// The order in which a flow builds its graphs, and the rules it applies.
//
// A flow's graphs may be declared in any order: a pipeline names its start
// graph and a select_model its candidates, wherever those are declared. The
// plan keeps declaration order wherever the dependencies allow it.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "frontend/ast.hpp"
#include "ir/flow.hpp"
#include "ir/rule.hpp"

namespace morvane::core::engine {

// Indices into flow.graphs, each graph after the graphs it reads. Passes
// over the pending graphs in declaration order take every graph whose inputs
// are already planned (from_evidence and from_graph always are), and a graph
// taken counts for the rest of the same pass. Throws Internal
//   "duplicate graph name '{}' in flow '{}'" before planning anything, and
//   "unable to resolve graph execution order in flow '{}'; unresolved: {}"
// when a pass takes nothing (a name that is no graph of the flow, or a
// cycle), listing the pending names in byte order.
std::vector<std::size_t> build_graph_execution_plan(const ir::FlowIR& flow);

// Rule name -> the rule in tree form.
using RuleIndex = std::map<std::string, frontend::ast::RuleDef, std::less<>>;

// The rules named by the apply_rule and apply_ruleset transforms of the
// flow, each converted once; of two rules with one name the later counts.
// Names without a rule are left out (the transform fails when it runs).
RuleIndex build_rule_defs_index(std::span<const ir::RuleIR> rules, const ir::FlowIR& flow);

}  // namespace morvane::core::engine
