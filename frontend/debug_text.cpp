// Debug text writers of the printable tree types.
//
// Expressions are printed without recursing along their left spine: the
// writer emits the opening part of every Binary and Field on the spine top
// down, then the node at its bottom, then the closing parts bottom up (each
// closing part of a Binary holds its right operand, printed recursively).
#include "frontend/debug_text.hpp"

#include <variant>

#include "frontend/support/overloaded.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend {

namespace {

using support::Overloaded;

// Writes `Name { a: x, b: y }` field by field.
class RecordWriter {
public:
    RecordWriter(std::string& out, std::string_view name) : out_(out) {
        out_ += name;
        out_ += " { ";
    }
    template <typename T>
    RecordWriter& field(std::string_view name, const T& value) {
        if (!first_) out_ += ", ";
        first_ = false;
        out_ += name;
        out_ += ": ";
        append_debug(out_, value);
        return *this;
    }
    void close() { out_ += " }"; }

private:
    std::string& out_;
    bool first_ = true;
};

// Writes `Name(value)`.
template <typename T>
void write_tuple(std::string& out, std::string_view name, const T& value) {
    out += name;
    out += '(';
    append_debug(out, value);
    out += ')';
}

// An expression node that does not continue the left spine.
void write_off_spine(std::string& out, const ast::ExprAst& expr) {
    using E = ast::ExprAst;
    std::visit(Overloaded{
                   [&](const E::Number& x) { write_tuple(out, "Number", x.value); },
                   [&](const E::Bool& x) { write_tuple(out, "Bool", x.value); },
                   [&](const E::Var& x) { write_tuple(out, "Var", std::string_view(x.name)); },
                   [&](const E::Call& x) {
                       RecordWriter(out, "Call")
                           .field("name", x.name)
                           .field("args", x.args)
                           .close();
                   },
                   [&](const E::Unary& x) {
                       RecordWriter(out, "Unary").field("op", x.op).field("expr", x.expr).close();
                   },
                   [&](const E::Exists& x) {
                       RecordWriter(out, "Exists")
                           .field("pattern", x.pattern)
                           .field("where_expr", x.where_expr)
                           .field("negated", x.negated)
                           .close();
                   },
                   [](const E::Binary&) {},  // spine nodes are written by the caller
                   [](const E::Field&) {},
               },
               expr.node);
}

}  // namespace

std::string_view evidence_mode_name(ast::EvidenceMode mode) {
    static constexpr std::string_view kNames[] = {"Present", "Absent", "Chosen", "Unchosen",
                                                  "ForcedChoice"};
    return kNames[static_cast<size_t>(mode)];
}

std::string_view unary_op_name(ast::UnaryOp op) {
    return op == ast::UnaryOp::Neg ? "Neg" : "Not";
}

std::string_view binary_op_name(ast::BinaryOp op) {
    static constexpr std::string_view kNames[] = {"Add", "Sub", "Mul", "Div", "Eq", "Ne",
                                                  "Lt",  "Le",  "Gt",  "Ge",  "And", "Or"};
    return kNames[static_cast<size_t>(op)];
}

void append_debug(std::string& out, std::string_view value) {
    support::append_debug_string(out, value);
}

void append_debug(std::string& out, ast::EvidenceMode value) { out += evidence_mode_name(value); }
void append_debug(std::string& out, ast::UnaryOp value) { out += unary_op_name(value); }
void append_debug(std::string& out, ast::BinaryOp value) { out += binary_op_name(value); }

void append_debug(std::string& out, const ast::CategoricalPrior& value) {
    using P = ast::CategoricalPrior;
    std::visit(Overloaded{
                   [&](const P::Uniform& x) {
                       RecordWriter(out, "Uniform").field("pseudo_count", x.pseudo_count).close();
                   },
                   [&](const P::Explicit& x) {
                       RecordWriter(out, "Explicit")
                           .field("concentrations", x.concentrations)
                           .close();
                   },
               },
               value.node);
}

void append_debug(std::string& out, const ast::PosteriorType& value) {
    using P = ast::PosteriorType;
    std::visit(Overloaded{
                   [&](const P::Gaussian& x) {
                       RecordWriter(out, "Gaussian").field("params", x.params).close();
                   },
                   [&](const P::Bernoulli& x) {
                       RecordWriter(out, "Bernoulli").field("params", x.params).close();
                   },
                   [&](const P::Categorical& x) {
                       RecordWriter(out, "Categorical")
                           .field("group_by", x.group_by)
                           .field("prior", x.prior)
                           .field("categories", x.categories)
                           .close();
                   },
               },
               value.node);
}

void append_debug(std::string& out, const ast::NodePattern& value) {
    RecordWriter(out, "NodePattern").field("var", value.var).field("label", value.label).close();
}

void append_debug(std::string& out, const ast::EdgePattern& value) {
    RecordWriter(out, "EdgePattern").field("var", value.var).field("ty", value.ty).close();
}

void append_debug(std::string& out, const ast::PatternItem& value) {
    RecordWriter(out, "PatternItem")
        .field("src", value.src)
        .field("edge", value.edge)
        .field("dst", value.dst)
        .close();
}

void append_debug(std::string& out, const ast::CallArg& value) {
    using A = ast::CallArg;
    std::visit(Overloaded{
                   [&](const A::Positional& x) { write_tuple(out, "Positional", x.value); },
                   [&](const A::Named& x) {
                       RecordWriter(out, "Named")
                           .field("name", x.name)
                           .field("value", x.value)
                           .close();
                   },
               },
               value.node);
}

void append_debug(std::string& out, const ast::ExprAst& value) {
    using E = ast::ExprAst;
    std::vector<const E*> spine;
    const E* expr = &value;
    for (;;) {
        if (auto* b = std::get_if<E::Binary>(&expr->node)) {
            out += "Binary { op: ";
            out += binary_op_name(b->op);
            out += ", left: ";
            spine.push_back(expr);
            expr = b->left.get();
        } else if (auto* f = std::get_if<E::Field>(&expr->node)) {
            out += "Field { target: ";
            spine.push_back(expr);
            expr = f->target.get();
        } else {
            break;
        }
    }
    write_off_spine(out, *expr);
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
        if (auto* b = std::get_if<E::Binary>(&(*it)->node)) {
            out += ", right: ";
            append_debug(out, *b->right);
        } else {
            out += ", field: ";
            append_debug(out, std::string_view(std::get<E::Field>((*it)->node).field));
        }
        out += " }";
    }
}

}  // namespace morvane::frontend
