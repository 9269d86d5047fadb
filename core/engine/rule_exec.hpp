// Running a rule over a belief graph: the entry point of the flow executor's
// apply_rule transforms.
//
//   RuleOutcome out = run_rule_with_globals_audit(graph, rule, globals);
//
// A rule finds every match of its patterns (rule_match.hpp), keeps the
// matches whose where-clause holds, and runs its actions for each kept match
// in match order. Two modes:
//   - for_each (also when the rule names no mode): one pass;
//   - fixpoint: passes repeated, each on the result of the one before, until
//     a pass changes no mean by 1e-6 or more (compute_max_change); failing
//     with Execution "Fixpoint rule '{}' did not converge after 1000
//     iterations" when 1000 passes do not get there.
// Within a pass the where-clauses read the graph as it was when the pass
// began, and the actions see every change made before them in the pass.
//
// The input graph is never changed, and a failure returns no partial result:
// the first ExecError of matching, of an expression or of an update ends the
// whole rule.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/engine/graph.hpp"
#include "core/engine/rule_expr_context.hpp"
#include "core/engine/rule_match.hpp"
#include "frontend/ast.hpp"

namespace morvane::core::engine {

// What one application of a rule did.
struct RuleExecutionAudit {
    std::string rule;
    std::string mode;               // "for_each" or "fixpoint": the mode run
    uint64_t matches = 0;           // kept matches of the pass that gave the result
    uint64_t actions_executed = 0;  // matches times actions, saturating
};

struct RuleOutcome {
    BeliefGraph graph;  // a new graph value; the input is untouched
    RuleExecutionAudit audit;
};

// The rule in its mode. Validation "unknown rule mode: '{}' (expected
// 'for_each' or 'fixpoint')" for another mode text (compared exactly), before
// anything else; Validation "rule must have at least one pattern".
RuleOutcome run_rule_with_globals_audit(const BeliefGraph& graph,
                                        const frontend::ast::RuleDef& rule,
                                        const RuleGlobals& globals);
// The same on a graph the caller gives up: a for_each pass whose input no
// other graph holds writes into that base instead of a copy. (A fixpoint
// rule keeps each pass's input to measure the change, so it copies anyway.)
RuleOutcome run_rule_with_globals_audit(BeliefGraph&& graph, const frontend::ast::RuleDef& rule,
                                        const RuleGlobals& globals);

// One pass, whatever the rule's mode. Without a kept match the result shares
// the input's base; otherwise it is one copy of the input, materialised once
// before the first action, with the last actions' changes possibly pending.
RuleOutcome run_rule_for_each_with_globals_audit(const BeliefGraph& graph,
                                                 const frontend::ast::RuleDef& rule,
                                                 const RuleGlobals& globals);

// True without a where-clause; otherwise true when the clause's value, with
// no locals, is not 0.0 (so NaN holds).
bool evaluate_where_clause(const std::optional<frontend::ast::ExprAst>& where,
                           const MatchBindings& bindings, const RuleGlobals& globals,
                           const BeliefGraph& graph);

// The value of a where-clause: the expression evaluator, except that `exists`
// and `not exists` tests are answered here. An exists test looks for an edge
// of its pattern, in ascending edge id, that agrees with every variable the
// enclosing match already binds and whose own where-clause (evaluated with the
// pattern's variables added) is not 0.0. `and` and `or` evaluate both sides.
// An exists inside a function argument is not intercepted and fails there.
double eval_where_with_exists(const frontend::ast::ExprAst& expr, const BeliefGraph& graph,
                              const RuleExprContext& ctx);

// The actions of one match on the working graph, in order, with fresh locals;
// expressions read `working` as changed so far. Internal "unknown node var
// '{}'" / "unknown edge var '{}'" for a variable the match does not bind (the
// variable is resolved before the action's expression is evaluated).
void execute_actions(BeliefGraph& working, std::span<const frontend::ast::ActionStmt> actions,
                     const MatchBindings& bindings, const RuleGlobals& globals);

}  // namespace morvane::core::engine
