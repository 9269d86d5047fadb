// Spine-iterative walks shared by the expression trees (ExprAst and the IR's
// ExprIR, which mirrors it variant for variant).
//
// A flat chain of binary operators folds into a Binary tree as deep as the
// chain is long, and a chain of field accesses into an equally deep Field
// chain, so these walks must never recurse along Binary.left or
// Field.target. They loop down that left spine and recurse only into the
// other children (right operands, unary operands, call arguments, existence
// where-clauses), whose depth the parser's nesting limit bounds.
//
// Included only by the sources that define the expression types' special
// members and conversions; not part of any public interface.
#pragma once

#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::frontend::ast::spine {

// Pushes the boxed children of `e` onto `work`, leaving their boxes empty.
// Call arguments are held by value and keep their own (iterative) teardown.
template <typename E>
void release_children(E& e, std::vector<std::unique_ptr<E>>& work) {
    auto push = [&work](Box<E>& box) {
        if (auto p = box.take()) work.push_back(std::move(p));
    };
    if (auto* b = std::get_if<typename E::Binary>(&e.node)) {
        push(b->left);
        push(b->right);
    } else if (auto* f = std::get_if<typename E::Field>(&e.node)) {
        push(f->target);
    } else if (auto* u = std::get_if<typename E::Unary>(&e.node)) {
        push(u->expr);
    } else if (auto* x = std::get_if<typename E::Exists>(&e.node)) {
        if (x->where_expr) push(*x->where_expr);
    }
}

// Tears the boxed subtrees of `e` down one node at a time, so that no
// destructor runs deeper than one level.
template <typename E>
void destroy_children(E& e) {
    std::vector<std::unique_ptr<E>> work;
    release_children(e, work);
    while (!work.empty()) {
        std::unique_ptr<E> next = std::move(work.back());
        work.pop_back();
        release_children(*next, work);
    }
}

template <typename E>
bool equal(const E& a_root, const E& b_root) {
    const E* a = &a_root;
    const E* b = &b_root;
    for (;;) {
        if (a->node.index() != b->node.index()) return false;
        if (auto* x = std::get_if<typename E::Binary>(&a->node)) {
            const auto& y = std::get<typename E::Binary>(b->node);
            if (x->op != y.op || !(x->right == y.right)) return false;
            a = x->left.get();
            b = y.left.get();
        } else if (auto* x = std::get_if<typename E::Field>(&a->node)) {
            const auto& y = std::get<typename E::Field>(b->node);
            if (x->field != y.field) return false;
            a = x->target.get();
            b = y.target.get();
        } else {
            return a->node == b->node;
        }
    }
}

template <typename To, typename From>
To convert(const From& from);

// Converts one call argument, keeping its kind and name.
template <typename ToArg, typename FromArg>
ToArg convert_arg(const FromArg& arg) {
    using To = decltype(ToArg::Positional::value);
    if (auto* p = std::get_if<typename FromArg::Positional>(&arg.node)) {
        return typename ToArg::Positional{convert<To>(p->value)};
    }
    const auto& n = std::get<typename FromArg::Named>(arg.node);
    return typename ToArg::Named{n.name, convert<To>(n.value)};
}

// Converts a node that does not continue the left spine.
template <typename To, typename From>
typename To::Node convert_off_spine(const From& from) {
    using ToArg = typename decltype(To::Call::args)::value_type;
    return std::visit(
        [](const auto& x) -> typename To::Node {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, typename From::Number>) {
                return typename To::Number{x.value};
            } else if constexpr (std::is_same_v<X, typename From::Bool>) {
                return typename To::Bool{x.value};
            } else if constexpr (std::is_same_v<X, typename From::Var>) {
                return typename To::Var{x.name};
            } else if constexpr (std::is_same_v<X, typename From::Call>) {
                typename To::Call c{x.name, {}};
                c.args.reserve(x.args.size());
                for (const auto& arg : x.args) c.args.push_back(convert_arg<ToArg>(arg));
                return c;
            } else if constexpr (std::is_same_v<X, typename From::Unary>) {
                return typename To::Unary{x.op, Box<To>(convert<To>(*x.expr))};
            } else if constexpr (std::is_same_v<X, typename From::Exists>) {
                typename To::Exists e{x.pattern, std::nullopt, x.negated};
                if (x.where_expr) e.where_expr.emplace(convert<To>(**x.where_expr));
                return e;
            } else {
                // Binary and Field are spine nodes: convert_into never gets here.
                static_assert(std::is_same_v<X, typename From::Binary> ||
                              std::is_same_v<X, typename From::Field>);
                return typename To::Number{0.0};
            }
        },
        from.node);
}

// Makes `root` a converted copy of `from`, node by node down the left spine:
// each spine node is created with a placeholder child that the next round
// overwrites.
template <typename To, typename From>
void convert_into(To& root, const From& from) {
    To* dst = &root;
    const From* src = &from;
    for (;;) {
        if (auto* b = std::get_if<typename From::Binary>(&src->node)) {
            dst->node = typename To::Binary{b->op, Box<To>(typename To::Number{0.0}),
                                            Box<To>(convert<To>(*b->right))};
            dst = std::get<typename To::Binary>(dst->node).left.get();
            src = b->left.get();
        } else if (auto* f = std::get_if<typename From::Field>(&src->node)) {
            dst->node = typename To::Field{Box<To>(typename To::Number{0.0}), f->field};
            dst = std::get<typename To::Field>(dst->node).target.get();
            src = f->target.get();
        } else {
            dst->node = convert_off_spine<To>(*src);
            return;
        }
    }
}

template <typename To, typename From>
To convert(const From& from) {
    To out = typename To::Number{0.0};
    convert_into(out, from);
    return out;
}

}  // namespace morvane::frontend::ast::spine
