// Metric expressions, written so that the validator accepts them: per-node
// functions only inside where, by, step and order_by (where `node` is
// bound), `value` only in a fold's step, metric names only once declared or
// imported, number literals where a literal is required, and every binary
// operation parenthesised, a pipeline too when it is an operand. Depths are
// fixed, so the recursion is bounded.
#include "tests/fuzz/flowgen/metric_gen.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "tests/fuzz/fuzz_outcome.hpp"

namespace morvane::fuzz::flowgen {
namespace {

class MetricWriter {
public:
    MetricWriter(Choices& c, Vocabulary& v, const MetricNames& names)
        : c_(c), v_(v), names_(names) {}

    std::string top(int depth);

private:
    std::string literal();
    // A node type's name, or now and then a label no node has (type null).
    std::string label(const NodeType*& type);
    std::string edge_type_name();
    std::string node_attr(const NodeType* type);
    std::string known_name(bool per_node);
    std::string node_leaf(const NodeType* type, bool fold_step);
    std::string node_expr(const NodeType* type, bool fold_step, int depth);
    std::string init_expr();
    std::string pipeline();
    std::string direct_call();
    std::string operand(int depth);

    Choices& c_;
    Vocabulary& v_;
    const MetricNames& names_;
};

std::string MetricWriter::literal() {
    static constexpr std::array<const char*, 8> kOrdinary = {"1", "0", "2",   "0.5",
                                                             "3", "10", "0.1", "100"};
    return c_.one_in(8) ? positive_number(c_) : c_.pick(kOrdinary);
}

std::string MetricWriter::label(const NodeType*& type) {
    if (c_.one_in(16)) {
        type = nullptr;
        return "Nobody";
    }
    type = &c_.pick(v_.nodes);
    return type->name;
}

std::string MetricWriter::edge_type_name() {
    if (c_.one_in(16)) return "nothing";
    for (std::size_t tries = 0; tries < 2; ++tries) {
        const EdgeType& e = c_.pick(v_.edges);
        if (e.competing == (tries == 0)) return e.name;
    }
    return c_.pick(v_.edges).name;
}

std::string MetricWriter::node_attr(const NodeType* type) {
    if (type == nullptr) return "node." + c_.pick(v_.all_attrs);
    if (!c_.one_in(64)) return "node." + c_.pick(type->attrs);
    const std::string& attr = c_.pick(v_.all_attrs);
    if (std::find(type->attrs.begin(), type->attrs.end(), attr) == type->attrs.end()) {
        v_.causes |= kMistypedAttribute;
    }
    return "node." + attr;
}

// An earlier or imported metric. Inside a node pipeline an import the run
// did not get is an unbound variable (Internal); at the top it is an
// unknown metric variable (Validation).
std::string MetricWriter::known_name(bool per_node) {
    if (names_.known.empty()) return literal();
    const std::string& name = c_.pick(names_.known);
    if (per_node &&
        std::find(names_.imports.begin(), names_.imports.end(), name) != names_.imports.end()) {
        v_.causes |= kSkippedImportInPipeline;
    }
    return name;
}

std::string MetricWriter::node_leaf(const NodeType* type, bool fold_step) {
    switch (c_.below(8)) {
        case 0: return literal();
        case 1: return "E[" + node_attr(type) + "]";
        case 2: {
            static constexpr std::array<const char*, 3> kFns = {"stddev(", "variance(",
                                                                "effective_n("};
            return c_.pick(kFns) + node_attr(type) + ")";
        }
        case 3: {
            static constexpr std::array<const char*, 3> kFns = {"quantile(", "ci_lo(", "ci_hi("};
            const std::string p = c_.one_in(64) ? (c_.one_in(2) ? "1" : "0") : open_probability(c_);
            return c_.pick(kFns) + node_attr(type) + ", " + p + ")";
        }
        case 4:
            if (c_.one_in(2)) return "degree(node)";
            return "degree(node, min_prob = " + closed_probability(c_) + ")";
        case 5: return "entropy(node, " + edge_type_name() + ")";
        case 6: return known_name(true);
        default:
            if (fold_step) return "value";
            return "E[" + node_attr(type) + "]";
    }
}

std::string MetricWriter::node_expr(const NodeType* type, bool fold_step, int depth) {
    if (depth <= 0 || c_.below(3) == 0) return node_leaf(type, fold_step);
    static constexpr std::array<const char*, 10> kOps = {" + ", " - ", " * ", " / ", " > ",
                                                         " < ", " >= ", " == ", " and ", " or "};
    switch (c_.below(4)) {
        case 0: return "-(" + node_expr(type, fold_step, depth - 1) + ")";
        case 1: return "not (" + node_expr(type, fold_step, depth - 1) + ")";
        default: {
            const char* op = c_.pick(kOps);
            if (op[1] == '/' && !c_.one_in(4)) op = " * ";
            return "(" + node_expr(type, fold_step, depth - 1) + op +
                   node_expr(type, fold_step, depth - 1) + ")";
        }
    }
}

// A fold's init is evaluated once, without a node.
std::string MetricWriter::init_expr() {
    switch (c_.below(4)) {
        case 0: return "0";
        case 1: return c_.one_in(2) ? "-" + literal() : literal();
        case 2: return known_name(false);
        default: return "(" + known_name(false) + " + " + literal() + ")";
    }
}

std::string MetricWriter::pipeline() {
    const NodeType* type = nullptr;
    const std::string l = label(type);
    std::vector<std::string> steps;
    std::string aggregate;
    // avg over no node divides by zero: a little rarer than the others.
    switch (c_.below(7)) {
        case 0:
        case 1: aggregate = "count()"; break;
        case 2:
        case 3: aggregate = "sum(by = " + node_expr(type, false, 2) + ")"; break;
        case 4: aggregate = "avg(by = " + node_expr(type, false, 2) + ")"; break;
        default: {
            std::vector<std::string> args = {"init = " + init_expr(),
                                             "step = " + node_expr(type, true, 2)};
            if (c_.one_in(3)) args.push_back("order_by = " + node_expr(type, false, 1));
            if (c_.one_in(2)) std::rotate(args.begin(), args.begin() + 1, args.end());
            aggregate = "fold(" + args[0];
            for (std::size_t i = 1; i < args.size(); ++i)
                aggregate += ", " + args[i];
            aggregate += ")";
            if (c_.one_in(4)) steps.push_back("order_by(" + node_expr(type, false, 1) + ")");
            break;
        }
    }
    steps.push_back(aggregate);
    if (c_.one_in(2)) {
        std::string filter = "where " + node_expr(type, false, 2);
        if (c_.one_in(4)) {
            steps.push_back(std::move(filter));  // steps only fill slots: order is free
        } else {
            steps.insert(steps.begin(), std::move(filter));
        }
    }
    std::string text = "nodes(" + l + ")";
    for (const std::string& step : steps)
        text += " |> " + step;
    return text;
}

std::string MetricWriter::direct_call() {
    const NodeType* type = nullptr;
    const std::string l = label(type);
    const auto named = [&](std::vector<std::string> args) {
        if (c_.one_in(2)) std::rotate(args.begin(), args.begin() + 1, args.end());
        std::string text;
        for (const std::string& arg : args)
            text += (text.empty() ? "" : ", ") + arg;
        return text;
    };
    switch (c_.below(4)) {
        case 0:
            if (c_.one_in(3)) return "count_nodes(" + l + ")";
            if (c_.one_in(2)) return "count_nodes(label = " + l + ")";
            return "count_nodes(" +
                   named({"label = " + l, "where = " + node_expr(type, false, 2)}) + ")";
        case 1:
            if (c_.one_in(3)) {
                return "sum_nodes(" + l + ", " + node_expr(type, false, 1) + ", " +
                       node_expr(type, false, 2) + ")";
            }
            return "sum_nodes(" +
                   named({"label = " + l, "contrib = " + node_expr(type, false, 2)}) + ")";
        case 2: {
            std::vector<std::string> args = {"label = " + l, "init = " + init_expr(),
                                             "step = " + node_expr(type, true, 2)};
            if (c_.one_in(2)) args.push_back("order_by = " + node_expr(type, false, 1));
            if (c_.one_in(2)) args.push_back("where = " + node_expr(type, false, 1));
            return "fold_nodes(" + named(args) + ")";
        }
        default:
            if (c_.one_in(3)) return "avg_degree(" + l + ", " + edge_type_name() + ")";
            if (c_.one_in(2)) {
                return "avg_degree(" +
                       named({"label = " + l, "edge_type = " + edge_type_name()}) + ")";
            }
            return "avg_degree(" +
                   named({"label = " + l, "edge_type = " + edge_type_name(),
                          "min_prob = " + closed_probability(c_)}) +
                   ")";
    }
}

std::string MetricWriter::operand(int depth) {
    switch (c_.below(4)) {
        case 0: return known_name(false);
        case 1: return "(" + pipeline() + ")";
        case 2: return direct_call();
        // In parentheses, or a pipeline's last step would take in what follows.
        default: return depth > 0 ? "(" + top(depth - 1) + ")" : literal();
    }
}

std::string MetricWriter::top(int depth) {
    static constexpr std::array<const char*, 8> kOps = {" + ", " - ", " * ", " / ",
                                                        " > ", " <= ", " and ", " or "};
    switch (c_.below(7)) {
        case 0:
        case 1: return pipeline();
        case 2: return direct_call();
        case 3:
        case 4: {
            const char* op = c_.pick(kOps);
            if (op[1] == '/' && !c_.one_in(3)) op = " + ";
            return "(" + operand(depth) + op + operand(depth) + ")";
        }
        case 5: return c_.one_in(2) ? known_name(false) : literal();
        default: return (c_.one_in(2) ? "-(" : "not (") + operand(depth) + ")";
    }
}

}  // namespace

std::string metric_expression(Choices& c, Vocabulary& v, const MetricNames& names) {
    return MetricWriter(c, v, names).top(2);
}

}  // namespace morvane::fuzz::flowgen
