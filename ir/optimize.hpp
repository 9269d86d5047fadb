// The IR optimizer, run once per flow run right after lowering.
//
// It folds constant sub-expressions of every rule and flow expression with
// the language's own arithmetic, drops prune transforms that can never prune,
// turns one-rule rulesets into single rule applications, propagates constant
// metric values to later metrics of the same flow and removes rules that no
// flow applies. It evaluates nothing against a graph and reports nothing:
// whatever could fail at run time (a division by a value within 1e-12 of
// zero, a non-finite result, any call) is left for the evaluator to meet.
#pragma once

#include <string>
#include <unordered_map>

#include "ir/expr.hpp"
#include "ir/program.hpp"

namespace morvane::ir {

// Names known to be constant while folding, with their values. Empty for
// rule expressions and prune predicates; for a metric, the constant metrics
// declared before it in the same flow.
using ConstantMap = std::unordered_map<std::string, double>;

// Folds `expr` bottom-up. Number and Bool are the constants (a Bool counts as
// 1.0 or 0.0). With `constants`, `expr` is a metric expression, and a Var
// named in `constants` becomes its Number where the expression reads it as a
// metric value: not the reserved names node and value, not a label or edge
// type of a node pipeline or of entropy, not the target of a field access,
// and not an argument the function never reads. Unary and Binary over constants are computed (Neg without any
// check; Binary only when the result is finite and, for Div, the divisor is
// not within 1e-12 of zero; comparisons and logic give Bool), -(-x) becomes
// x, and an Exists whose where-expression folds to a constant either becomes
// Bool (false or zero: the value of `negated`) or loses the where-expression.
// Calls are never evaluated, and a comparison standing as a positional
// argument of prob, credible or prob_correlated keeps its operator (those
// read it as an event, not as a value); nothing else is simplified. Works
// at any depth without recursion.
ExprIR fold_expr(const ExprIR& expr, const ConstantMap& constants);

// The optimized copy of `program`; schemas, belief models and evidence
// blocks are carried over unchanged.
ProgramIR optimize_program(const ProgramIR& program);
// The same, moving the carried-over parts out of `program` instead of
// copying them (evidence blocks can be large).
ProgramIR optimize_program(ProgramIR&& program);

}  // namespace morvane::ir
