// Debug text writers of the printable tree types.
//
// Expressions are printed without recursion: an expression writes its
// opening text at once and queues its children and closing texts on an
// explicit stack, so that a chain of a million operators prints like any
// other expression.
#include "frontend/debug_text.hpp"

#include <initializer_list>
#include <iterator>
#include <variant>
#include <vector>

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

// The expression writer keeps what is still to be written on a stack of
// pieces instead of recursing, so that expressions of any depth print.
struct ExprPiece {
    const ast::ExprAst* expr;
};
struct ArgPiece {
    const ast::CallArg* arg;
};
struct TextPiece {
    std::string_view text;  // written as is
};
// The closing part of a Binary: ", right: ", its right operand, " }".
struct RightPiece {
    const ast::ExprAst* right;
};
// The closing part of a Field: ", field: ", the quoted name, " }".
struct FieldNamePiece {
    std::string_view field;
};
using Piece = std::variant<ExprPiece, ArgPiece, TextPiece, RightPiece, FieldNamePiece>;

class ExprWriter {
public:
    explicit ExprWriter(std::string& out) : out_(out) {}

    void run(Piece first) {
        pending_.push_back(first);
        while (!pending_.empty()) {
            const Piece piece = pending_.back();
            pending_.pop_back();
            std::visit(*this, piece);
        }
    }

    void operator()(ExprPiece p) { write(*p.expr); }
    void operator()(ArgPiece p) { write(*p.arg); }
    void operator()(TextPiece p) { out_ += p.text; }
    void operator()(RightPiece p) {
        out_ += ", right: ";
        then({ExprPiece{p.right}, TextPiece{" }"}});
    }
    void operator()(FieldNamePiece p) {
        out_ += ", field: ";
        support::append_debug_string(out_, p.field);
        out_ += " }";
    }

private:
    // Queues pieces to be written, in the order given, after everything
    // written so far and before anything queued earlier.
    void then(std::initializer_list<Piece> pieces) {
        for (auto it = std::rbegin(pieces); it != std::rend(pieces); ++it) pending_.push_back(*it);
    }

    void write(const ast::ExprAst& expr) {
        using E = ast::ExprAst;
        std::visit(Overloaded{
                       [&](const E::Number& x) { write_tuple(out_, "Number", x.value); },
                       [&](const E::Bool& x) { write_tuple(out_, "Bool", x.value); },
                       [&](const E::Var& x) { write_tuple(out_, "Var", std::string_view(x.name)); },
                       [&](const E::Field& x) {
                           out_ += "Field { target: ";
                           then({ExprPiece{x.target.get()}, FieldNamePiece{x.field}});
                       },
                       [&](const E::Call& x) {
                           out_ += "Call { name: ";
                           support::append_debug_string(out_, x.name);
                           out_ += ", args: [";
                           pending_.push_back(TextPiece{"] }"});
                           for (size_t i = x.args.size(); i-- > 0;) {
                               pending_.push_back(ArgPiece{&x.args[i]});
                               if (i > 0) pending_.push_back(TextPiece{", "});
                           }
                       },
                       [&](const E::Unary& x) {
                           out_ += "Unary { op: ";
                           out_ += unary_op_name(x.op);
                           out_ += ", expr: ";
                           then({ExprPiece{x.expr.get()}, TextPiece{" }"}});
                       },
                       [&](const E::Binary& x) {
                           out_ += "Binary { op: ";
                           out_ += binary_op_name(x.op);
                           out_ += ", left: ";
                           then({ExprPiece{x.left.get()}, RightPiece{x.right.get()}});
                       },
                       [&](const E::Exists& x) {
                           out_ += "Exists { pattern: ";
                           append_debug(out_, *x.pattern);
                           out_ += ", where_expr: ";
                           const std::string_view tail =
                               x.negated ? ", negated: true }" : ", negated: false }";
                           if (!x.where_expr) {
                               out_ += "None";
                               out_ += tail;
                               return;
                           }
                           out_ += "Some(";
                           then({ExprPiece{x.where_expr->get()}, TextPiece{")"}, TextPiece{tail}});
                       },
                   },
                   expr.node);
    }

    void write(const ast::CallArg& arg) {
        using A = ast::CallArg;
        std::visit(Overloaded{
                       [&](const A::Positional& x) {
                           out_ += "Positional(";
                           then({ExprPiece{&x.value}, TextPiece{")"}});
                       },
                       [&](const A::Named& x) {
                           out_ += "Named { name: ";
                           support::append_debug_string(out_, x.name);
                           out_ += ", value: ";
                           then({ExprPiece{&x.value}, TextPiece{" }"}});
                       },
                   },
                   arg.node);
    }

    std::string& out_;
    std::vector<Piece> pending_;
};

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
    ExprWriter(out).run(ArgPiece{&value});
}

void append_debug(std::string& out, const ast::ExprAst& value) {
    ExprWriter(out).run(ExprPiece{&value});
}

}  // namespace morvane::frontend
