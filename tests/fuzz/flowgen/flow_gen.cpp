// Flows of a generated program. Graph names are unique within a flow,
// pipelines start from graphs of the flow, select_model names two or three
// distinct other graphs, from_graph and import_metric read what an earlier
// flow exports (a run chained on that flow's result finds it), and export
// aliases are identifier-shaped so that later flows can import them.
#include "tests/fuzz/flowgen/flow_gen.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "tests/fuzz/flowgen/metric_gen.hpp"
#include "tests/fuzz/fuzz_outcome.hpp"

namespace morvane::fuzz::flowgen {
namespace {

constexpr int kPredicateDepth = 2;

// A prune predicate: prob(edge), weight(edge), numbers and booleans under
// operators. Now and then a bare name or an exists sub-query, which the
// validator accepts and the predicate context cannot evaluate.
std::string prune_predicate(Choices& c, Vocabulary& v, const EdgeType* type, int depth) {
    if (c.one_in(96)) {
        v.causes |= kPruneBareName;
        return "edge";
    }
    if (c.one_in(96)) {
        v.causes |= kPruneExists;
        const EdgeType& e = c.pick(v.edges);
        return "(exists (a:" + v.nodes[e.src].name + ")-[f:" + e.name + "]->(b:" +
               v.nodes[e.dst].name + "))";
    }
    if (depth <= 0 || c.below(3) == 0) {
        switch (c.below(6)) {
            case 0:
            case 1: return "prob(edge)";
            case 2:
                // Edges without a weight posterior refuse weight(edge).
                if ((type != nullptr && type->weighted) || c.one_in(8)) return "weight(edge)";
                return "prob(edge)";
            case 3: return c.one_in(2) ? "true" : "false";
            default: return closed_probability(c);
        }
    }
    static constexpr std::array<const char*, 9> kOps = {" < ", " > ", " <= ", " >= ", " == ",
                                                        " and ", " or ", " + ", " * "};
    switch (c.below(5)) {
        case 0: return "not (" + prune_predicate(c, v, type, depth - 1) + ")";
        case 1: return "-(" + prune_predicate(c, v, type, depth - 1) + ")";
        default:
            return "(" + prune_predicate(c, v, type, depth - 1) + c.pick(kOps) +
                   prune_predicate(c, v, type, depth - 1) + ")";
    }
}

class FlowWriter {
public:
    FlowWriter(Choices& c, Vocabulary& v, const std::string& name,
               const std::vector<FlowSummary>& earlier)
        : c_(c), v_(v), earlier_(earlier) {
        summary_.name = name;
        for (const FlowSummary& flow : earlier) {
            for (const std::string& alias : flow.metric_aliases)
                metric_aliases_.push_back(alias);
        }
    }

    FlowSummary write(std::string& out);

private:
    std::string graph_source();
    std::string transform(const std::string& graph);
    std::string pipeline(const std::string& graph);
    std::string select_model(const std::string& graph);
    std::string rule_name() { return c_.pick(v_.rules); }
    std::string metric_name(std::size_t i);

    Choices& c_;
    Vocabulary& v_;
    const std::vector<FlowSummary>& earlier_;
    std::vector<std::string> metric_aliases_;  // what earlier flows export
    std::vector<std::string> graphs_;          // declared so far
    std::vector<std::string> metrics_;         // declared so far
    std::size_t snapshots_ = 0;
    FlowSummary summary_;
};

// A graph from evidence, or from the previous flow's exports or snapshots.
std::string FlowWriter::graph_source() {
    if (!earlier_.empty() && !earlier_.back().graph_aliases.empty() && c_.one_in(3)) {
        v_.causes |= kMissingPriorGraph;  // read without a prior, it is missing
        summary_.features |= kFromGraph;
        const std::string alias =
            c_.one_in(16) ? "never_exported" : c_.pick(earlier_.back().graph_aliases);
        return "from_graph \"" + alias + "\"";
    }
    return "from_evidence " + c_.pick(v_.evidences);
}

std::string FlowWriter::transform(const std::string& graph) {
    switch (c_.below(7)) {
        case 1:
        case 2:
            if (v_.rules.empty()) break;
            summary_.features |= kRules;
            return "apply_rule " + rule_name();
        case 3:
            if (!v_.rules.empty()) {
                summary_.features |= kRules;
                std::string set = "apply_ruleset { " + rule_name();
                const std::size_t more = c_.below(3);
                for (std::size_t i = 0; i < more; ++i)
                    set += ", " + rule_name();
                return set + " }";
            }
            break;
        case 4: {
            summary_.features |= kPrune;
            const EdgeType* type = c_.one_in(12) ? nullptr : &c_.pick(v_.edges);
            const std::string name = type != nullptr ? type->name : "nothing";
            return "prune_edges " + name + " where " +
                   prune_predicate(c_, v_, type, kPredicateDepth);
        }
        case 5: {
            const std::string alias =
                "s_" + summary_.name + "_" + graph + "_" + std::to_string(snapshots_++);
            summary_.graph_aliases.push_back(alias);
            summary_.features |= kSnapshot;
            return "snapshot \"" + alias + "\"";
        }
        default: break;
    }
    summary_.features |= kInference;
    return "infer_beliefs";
}

std::string FlowWriter::pipeline(const std::string& graph) {
    std::string text = c_.pick(graphs_);
    const std::size_t count = 1 + c_.below(4);
    for (std::size_t i = 0; i < count; ++i)
        text += (c_.one_in(4) ? "\n        |> " : " |> ") + transform(graph);
    return text;
}

std::string FlowWriter::select_model(const std::string& graph) {
    std::vector<std::string> candidates = graphs_;
    // A few distinct candidates: a rotation of the graphs so far, cut short.
    std::rotate(candidates.begin(), candidates.begin() + c_.below(candidates.size()),
                candidates.end());
    candidates.resize(std::min<std::size_t>(candidates.size(), 2 + c_.below(2)));
    std::string text = "select_model { ";
    for (std::size_t i = 0; i < candidates.size(); ++i)
        text += (i > 0 ? ", " : "") + candidates[i];
    (void)graph;
    summary_.features |= kSelectModel;
    return text + (c_.one_in(2) ? " } by edge_bic" : " } by edge_aic");
}

// A metric's name: mostly a new one; now and then one that other words of
// the flow share (a label, an edge type, the reserved node and value, an
// earlier metric), which constant metrics must not replace.
std::string FlowWriter::metric_name(std::size_t i) {
    if (!c_.one_in(8)) return "m" + std::to_string(i);
    switch (c_.below(4)) {
        case 0: return c_.pick(v_.nodes).name;
        case 1: return c_.pick(v_.edges).name;
        case 2: return c_.one_in(2) ? "node" : "value";
        default: return metrics_.empty() ? "m" + std::to_string(i) : c_.pick(metrics_);
    }
}

FlowSummary FlowWriter::write(std::string& out) {
    std::vector<std::string> statements;

    MetricNames names;
    if (!metric_aliases_.empty()) {
        const std::size_t imports = c_.below(3);
        for (std::size_t i = 0; i < imports; ++i) {
            const std::string alias = c_.one_in(16) ? "never_exported" : c_.pick(metric_aliases_);
            const std::string local = "i" + std::to_string(i);
            statements.push_back("import_metric " + alias + " as " + local);
            names.known.push_back(local);
            names.imports.push_back(local);
            summary_.features |= kImport;
        }
    }

    std::vector<std::string> graph_statements;
    const std::size_t graph_count = 1 + c_.below(5);
    for (std::size_t i = 0; i < graph_count; ++i) {
        const std::string graph = "g" + std::to_string(i);
        std::string expr;
        if (i == 0) {
            expr = graph_source();
        } else {
            switch (c_.below(8)) {
                case 5:
                    expr = graphs_.size() >= 2 ? select_model(graph) : pipeline(graph);
                    break;
                case 6: expr = graph_source(); break;
                default: expr = pipeline(graph); break;
            }
        }
        graph_statements.push_back("graph " + graph + " = " + expr);
        graphs_.push_back(graph);
    }
    // The plan orders graphs by what they read, whatever the declaration
    // order; declaring them backwards also moves the metrics' default graph.
    if (c_.one_in(8)) std::reverse(graph_statements.begin(), graph_statements.end());
    statements.insert(statements.end(), graph_statements.begin(), graph_statements.end());

    const std::size_t metric_count = 1 + c_.below(4);
    for (std::size_t i = 0; i < metric_count; ++i) {
        const std::string metric = metric_name(i);
        std::string target;
        if (c_.one_in(3)) target = " on " + c_.pick(graphs_);
        statements.push_back("metric " + metric + target + " = " +
                             metric_expression(c_, v_, names));
        // The reserved names cannot be read as metrics.
        if (metric != "node" && metric != "value") names.known.push_back(metric);
        metrics_.push_back(metric);
        if (c_.one_in(2)) {
            const std::string alias = "mx_" + summary_.name + "_" + metric;
            statements.push_back("export_metric " + metric + " as \"" + alias + "\"");
            summary_.metric_aliases.push_back(alias);
        }
    }
    for (const std::string& graph : graphs_) {
        if (!c_.one_in(2)) continue;
        const std::string alias = "x_" + summary_.name + "_" + graph;
        statements.push_back("export " + graph + " as \"" + alias + "\"");
        summary_.graph_aliases.push_back(alias);
    }

    out += "flow " + summary_.name + " on M {\n";
    for (const std::string& statement : statements)
        out += "    " + statement + "\n";
    out += "}\n";
    return std::move(summary_);
}

}  // namespace

FlowSummary write_flow(std::string& out, Choices& c, Vocabulary& v, const std::string& name,
                       const std::vector<FlowSummary>& earlier) {
    return FlowWriter(c, v, name, earlier).write(out);
}

}  // namespace morvane::fuzz::flowgen
