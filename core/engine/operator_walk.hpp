// Post-order walks over expressions on an explicit stack.
//
// A flat chain `a + a + ... + a` folds into Binary nodes as deep as the
// chain is long, so a walk that recursed into operands would need stack in
// proportion to the length of the source line. walk_operators visits the
// operators of an expression (ExprAst or ExprIR: both have Unary {op, expr}
// and Binary {op, left, right}) in post order on a heap stack, left operand
// before right, and folds one value per node:
//   leaf(node) -> optional<V>       for every node that is not an operator;
//   unary(op, operand) -> V;
//   binary(op, lhs, rhs) -> V.
// A leaf that answers nothing ends the walk, which then answers nothing;
// exceptions of the callbacks pass through. Calls are leaves: whatever
// recursion their arguments need is the leaf's business.
#pragma once

#include <optional>
#include <variant>

#include "core/engine/graph_small_vector.hpp"

namespace morvane::core::engine {

template <typename V, typename E, typename Leaf, typename UnaryFn, typename BinaryFn>
std::optional<V> walk_operators(const E& root, Leaf&& leaf, UnaryFn&& unary, BinaryFn&& binary) {
    if (!std::holds_alternative<typename E::Unary>(root.node) &&
        !std::holds_alternative<typename E::Binary>(root.node)) {
        return leaf(root);
    }
    // An operator is pushed once to schedule its operands (left on top, so
    // it runs first) and once more to combine their values.
    struct Task {
        const E* expr;
        bool combine;
    };
    SmallVector<Task, 32> tasks;
    SmallVector<V, 16> values;
    tasks.push_back({&root, false});
    while (!tasks.empty()) {
        const Task task = tasks.back();
        tasks.pop_back();
        const E& e = *task.expr;
        if (const auto* u = std::get_if<typename E::Unary>(&e.node)) {
            if (task.combine) {
                values.back() = unary(u->op, values.back());
            } else {
                tasks.push_back({&e, true});
                tasks.push_back({u->expr.get(), false});
            }
        } else if (const auto* b = std::get_if<typename E::Binary>(&e.node)) {
            if (task.combine) {
                const V rhs = values.back();
                values.pop_back();
                values.back() = binary(b->op, values.back(), rhs);
            } else {
                tasks.push_back({&e, true});
                tasks.push_back({b->right.get(), false});
                tasks.push_back({b->left.get(), false});
            }
        } else {
            std::optional<V> value = leaf(e);
            if (!value) return std::nullopt;
            values.push_back(*value);
        }
    }
    return values.back();
}

}  // namespace morvane::core::engine
