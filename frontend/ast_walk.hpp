// Iterative walks shared by the expression trees (ExprAst and the IR's
// ExprIR, which mirrors it variant for variant).
//
// A flat chain of binary operators folds into a Binary tree as deep as the
// chain is long (a megabyte of `1+1+...` is half a million levels), and a
// chain of field accesses into an equally deep Field chain. Copy, equality,
// conversion and teardown therefore never recurse: each keeps its pending
// subtrees on an explicit work list on the heap, so the stack used is the
// same at any depth. Leaves take a fast path that allocates nothing.
//
// Included only by the sources that implement the expression types and
// their walks; not part of any public interface.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::frontend::ast::walk {

// The expression held by a call argument of either kind.
template <typename Arg>
auto& arg_value(Arg& arg) {
    return std::visit([](auto& a) -> auto& { return a.value; }, arg.node);
}

template <typename E>
bool is_leaf(const E& e) {
    return std::holds_alternative<typename E::Number>(e.node) ||
           std::holds_alternative<typename E::Bool>(e.node) ||
           std::holds_alternative<typename E::Var>(e.node);
}

// ---------------------------------------------------------------------------
// Teardown.

// Subtrees detached from their parents and waiting to be torn down: boxed
// children by pointer, call arguments moved out by value. Leaves stay where
// they are; their parent releases them without going any deeper.
template <typename E>
struct Teardown {
    std::vector<std::unique_ptr<E>> boxed;
    std::vector<E> loose;

    void detach_children(E& e) {
        auto take = [this](Box<E>& box) {
            if (box.get() && !is_leaf(*box)) boxed.push_back(box.take());
        };
        if (auto* b = std::get_if<typename E::Binary>(&e.node)) {
            take(b->left);
            take(b->right);
        } else if (auto* f = std::get_if<typename E::Field>(&e.node)) {
            take(f->target);
        } else if (auto* u = std::get_if<typename E::Unary>(&e.node)) {
            take(u->expr);
        } else if (auto* x = std::get_if<typename E::Exists>(&e.node)) {
            if (x->where_expr) take(*x->where_expr);
        } else if (auto* c = std::get_if<typename E::Call>(&e.node)) {
            for (auto& arg : c->args) {
                if (!is_leaf(arg_value(arg))) loose.push_back(std::move(arg_value(arg)));
            }
            c->args.clear();  // only leaves and moved-from husks are left
        }
    }
};

// Detaches every subtree of `e` and releases them one node at a time, each
// node after its children were detached, so no destructor runs deeper than
// one level.
template <typename E>
void destroy_children(E& e) {
    if (is_leaf(e)) return;
    Teardown<E> pending;
    pending.detach_children(e);
    for (;;) {
        if (!pending.boxed.empty()) {
            std::unique_ptr<E> next = std::move(pending.boxed.back());
            pending.boxed.pop_back();
            pending.detach_children(*next);
        } else if (!pending.loose.empty()) {
            E next = std::move(pending.loose.back());
            pending.loose.pop_back();
            pending.detach_children(next);
        } else {
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Equality.

template <typename E>
using PairList = std::vector<std::pair<const E*, const E*>>;

// Compares the data of one node pair and queues its child pairs.
template <typename E>
bool equal_node(const E& a, const E& b, PairList<E>& pending) {
    if (a.node.index() != b.node.index()) return false;
    return std::visit(
        [&](const auto& x) -> bool {
            using X = std::decay_t<decltype(x)>;
            const X& y = std::get<X>(b.node);
            if constexpr (std::is_same_v<X, typename E::Field>) {
                if (x.field != y.field) return false;
                pending.emplace_back(x.target.get(), y.target.get());
            } else if constexpr (std::is_same_v<X, typename E::Call>) {
                if (x.name != y.name || x.args.size() != y.args.size()) return false;
                for (size_t i = 0; i < x.args.size(); ++i) {
                    const auto& p = x.args[i].node;
                    const auto& q = y.args[i].node;
                    if (p.index() != q.index()) return false;
                    using Named = typename std::decay_t<decltype(x.args[i])>::Named;
                    if (auto* n = std::get_if<Named>(&p); n && n->name != std::get<Named>(q).name) {
                        return false;
                    }
                    pending.emplace_back(&arg_value(x.args[i]), &arg_value(y.args[i]));
                }
            } else if constexpr (std::is_same_v<X, typename E::Unary>) {
                if (x.op != y.op) return false;
                pending.emplace_back(x.expr.get(), y.expr.get());
            } else if constexpr (std::is_same_v<X, typename E::Binary>) {
                if (x.op != y.op) return false;
                pending.emplace_back(x.left.get(), y.left.get());
                pending.emplace_back(x.right.get(), y.right.get());
            } else if constexpr (std::is_same_v<X, typename E::Exists>) {
                if (!(x.pattern == y.pattern) || x.negated != y.negated ||
                    x.where_expr.has_value() != y.where_expr.has_value()) {
                    return false;
                }
                if (x.where_expr) pending.emplace_back(x.where_expr->get(), y.where_expr->get());
            } else {
                return x == y;  // Number, Bool, Var
            }
            return true;
        },
        a.node);
}

template <typename E>
bool equal(const E& a, const E& b) {
    PairList<E> pending;
    const E* x = &a;
    const E* y = &b;
    for (;;) {
        if (!equal_node(*x, *y, pending)) return false;
        if (pending.empty()) return true;
        std::tie(x, y) = pending.back();
        pending.pop_back();
    }
}

// ---------------------------------------------------------------------------
// Conversion between the two expression types (and copy, within one).

template <typename To, typename From>
using Targets = std::vector<std::pair<To*, const From*>>;

// Sets `dst` to the data of `src` with placeholder children, and queues each
// (placeholder, source child) pair. Placeholders live in their final place
// (a box's pointee or an element of a call's argument list that is never
// resized again), so the queued pointers stay valid.
template <typename To, typename From>
void convert_node(To& dst, const From& src, Targets<To, From>& pending) {
    using ToArg = typename decltype(To::Call::args)::value_type;
    const auto placeholder = [] { return Box<To>(typename To::Number{0.0}); };
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, typename From::Number>) {
                dst.node = typename To::Number{x.value};
            } else if constexpr (std::is_same_v<X, typename From::Bool>) {
                dst.node = typename To::Bool{x.value};
            } else if constexpr (std::is_same_v<X, typename From::Var>) {
                dst.node = typename To::Var{x.name};
            } else if constexpr (std::is_same_v<X, typename From::Field>) {
                auto& f = dst.node.template emplace<typename To::Field>(
                    typename To::Field{placeholder(), x.field});
                pending.emplace_back(f.target.get(), x.target.get());
            } else if constexpr (std::is_same_v<X, typename From::Call>) {
                // Arguments start as copies of fixed placeholders (building
                // them from temporaries trips a false uninitialized-use
                // warning of GCC 12 on moved variants).
                using Placeholder = typename To::Number;
                static const ToArg kPositional = typename ToArg::Positional{Placeholder{0.0}};
                static const ToArg kNamed = typename ToArg::Named{{}, Placeholder{0.0}};
                auto& c = dst.node.template emplace<typename To::Call>();
                c.name = x.name;
                c.args.reserve(x.args.size());
                for (const auto& arg : x.args) {
                    using Named = typename std::decay_t<decltype(arg)>::Named;
                    if (auto* n = std::get_if<Named>(&arg.node)) {
                        auto& named = c.args.emplace_back(kNamed);
                        std::get<typename ToArg::Named>(named.node).name = n->name;
                    } else {
                        c.args.emplace_back(kPositional);
                    }
                }
                for (size_t i = 0; i < x.args.size(); ++i) {
                    pending.emplace_back(&arg_value(c.args[i]), &arg_value(x.args[i]));
                }
            } else if constexpr (std::is_same_v<X, typename From::Unary>) {
                auto& u = dst.node.template emplace<typename To::Unary>(
                    typename To::Unary{x.op, placeholder()});
                pending.emplace_back(u.expr.get(), x.expr.get());
            } else if constexpr (std::is_same_v<X, typename From::Binary>) {
                auto& b = dst.node.template emplace<typename To::Binary>(
                    typename To::Binary{x.op, placeholder(), placeholder()});
                pending.emplace_back(b.left.get(), x.left.get());
                pending.emplace_back(b.right.get(), x.right.get());
            } else {
                static_assert(std::is_same_v<X, typename From::Exists>);
                auto& e = dst.node.template emplace<typename To::Exists>(
                    typename To::Exists{x.pattern, std::nullopt, x.negated});
                if (x.where_expr) {
                    e.where_expr.emplace(placeholder());
                    pending.emplace_back(e.where_expr->get(), x.where_expr->get());
                }
            }
        },
        src.node);
}

// Makes `root` a converted copy of `from`.
template <typename To, typename From>
void convert_into(To& root, const From& from) {
    Targets<To, From> pending;
    To* dst = &root;
    const From* src = &from;
    for (;;) {
        convert_node(*dst, *src, pending);
        if (pending.empty()) return;
        std::tie(dst, src) = pending.back();
        pending.pop_back();
    }
}

template <typename To, typename From>
To convert(const From& from) {
    To out = typename To::Number{0.0};
    convert_into(out, from);
    return out;
}

// Converts one call argument, keeping its kind and name.
template <typename ToArg, typename FromArg>
ToArg convert_arg(const FromArg& arg) {
    using To = std::decay_t<decltype(ToArg::Positional::value)>;
    ToArg out = typename ToArg::Positional{typename To::Number{0.0}};
    if (auto* n = std::get_if<typename FromArg::Named>(&arg.node)) {
        out = typename ToArg::Named{n->name, typename To::Number{0.0}};
    }
    convert_into(arg_value(out), arg_value(arg));
    return out;
}

}  // namespace morvane::frontend::ast::walk
