// Rules of a generated program, written so that the validator accepts them:
// every variable is bound where it is read (let names only after their let,
// sub-query names only inside their sub-query), exists stands only in
// where-clauses, every library call has the argument shape the validator
// checks (a number literal where it wants one), and every binary operation
// is parenthesised, since a comparison cannot be chained. Expressions are
// built to a fixed depth, so the generator's recursion is bounded.
#include "tests/fuzz/flowgen/rule_gen.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "tests/fuzz/fuzz_outcome.hpp"

namespace morvane::fuzz::flowgen {
namespace {

constexpr int kMaxDepth = 3;
constexpr std::array<const char*, 6> kNodeVarNames = {"a", "b", "c", "d", "p", "q"};
constexpr std::array<const char*, 3> kEdgeVarNames = {"e", "f", "g"};
constexpr const char* kForDummy = "__for_dummy";

struct NodeVar {
    std::string name;
    std::size_t type;
};

struct EdgeVar {
    std::string name;
    std::size_t type;
};

struct Scope {
    std::vector<NodeVar> nodes;
    std::vector<EdgeVar> edges;
    std::vector<std::string> lets;  // bound so far, in order
    bool node_rule = false;         // the reserved edge variable is in scope
};

// The edge types no evidence block has a hub of.
std::vector<std::size_t> calm_edge_types(const Vocabulary& v) {
    std::vector<std::size_t> calm;
    for (std::size_t t = 0; t < v.edges.size(); ++t) {
        if (!v.edges[t].hub) calm.push_back(t);
    }
    return calm;
}

class RuleWriter {
public:
    RuleWriter(Choices& c, Vocabulary& v) : c_(c), v_(v) {}

    void write(std::string& out, const std::string& name);

private:
    // ---- Names and operands ----
    std::string literal();
    std::string attr_of(const NodeVar& n);
    std::string field(const Scope& s) {
        const NodeVar& n = c_.pick(s.nodes);
        return n.name + "." + attr_of(n);
    }
    const EdgeVar* edge_var(const Scope& s, bool independent_only, bool weighted_only);
    std::string comparison_operand(const Scope& s);
    std::string comparison(const Scope& s);
    std::string edge_type_name();

    // ---- Expressions ----
    std::string term(const Scope& s, bool where, int depth);
    std::string library_call(const Scope& s, bool where, int depth);
    std::string condition(const Scope& s, bool where, int depth);
    std::string exists(const Scope& s, int depth);

    // ---- Patterns and actions ----
    NodeVar node_var_of_type(Scope& s, std::size_t type, const NodeVar* avoid);
    std::size_t pattern_edge_type(const Scope& s, bool joined);
    std::string pattern_item(Scope& s, bool joined);
    std::string actions(Scope& s);
    std::string action(Scope& s);
    std::string soft_update(Scope& s);
    std::string nudge(Scope& s);
    std::string mode(bool fixpoint_allowed);

    Choices& c_;
    Vocabulary& v_;
    std::size_t fresh_ = 0;  // numbers the names of sub-query variables and lets
    // What makes a fixpoint costly: a sub-query or a hub's edges in a pass
    // that may run a thousand times.
    bool costly_ = false;
};

std::string RuleWriter::literal() {
    static constexpr std::array<const char*, 8> kOrdinary = {"1",   "0",   "0.5", "2",
                                                             "0.1", "10",  "3",   "0.25"};
    if (!c_.one_in(8)) return c_.pick(kOrdinary);
    return positive_number(c_);
}

// An attribute of the node's type; now and then any attribute of the model.
std::string RuleWriter::attr_of(const NodeVar& n) {
    const NodeType& type = v_.nodes[n.type];
    if (!c_.one_in(64)) return c_.pick(type.attrs);
    const std::string& attr = c_.pick(v_.all_attrs);
    if (std::find(type.attrs.begin(), type.attrs.end(), attr) == type.attrs.end()) {
        v_.causes |= kMistypedAttribute;
    }
    return attr;
}

const EdgeVar* RuleWriter::edge_var(const Scope& s, bool independent_only, bool weighted_only) {
    std::vector<const EdgeVar*> fit;
    for (const EdgeVar& e : s.edges) {
        const EdgeType& type = v_.edges[e.type];
        if (independent_only && type.competing) continue;
        if (weighted_only && !type.weighted) continue;
        fit.push_back(&e);
    }
    return fit.empty() ? nullptr : fit[c_.below(fit.size())];
}

std::string RuleWriter::comparison_operand(const Scope& s) {
    return c_.one_in(3) ? literal() : field(s);
}

// A comparison inside prob(), credible() or prob_correlated().
std::string RuleWriter::comparison(const Scope& s) {
    static constexpr std::array<const char*, 4> kOps = {" > ", " < ", " >= ", " <= "};
    return comparison_operand(s) + c_.pick(kOps) + comparison_operand(s);
}

// The edge type argument of winner() and entropy(): mostly a competing type.
std::string RuleWriter::edge_type_name() {
    for (std::size_t tries = 0; tries < 2; ++tries) {
        const EdgeType& e = c_.pick(v_.edges);
        if (e.competing) return e.name;
    }
    return c_.one_in(4) ? "nothing" : c_.pick(v_.edges).name;
}

std::string RuleWriter::library_call(const Scope& s, bool where, int depth) {
    const int inner = depth - 1;
    switch (c_.below(12)) {
        case 0: return "E[" + field(s) + "]";
        case 1: {
            static constexpr std::array<const char*, 3> kFns = {"variance(", "stddev(",
                                                                "effective_n("};
            return c_.pick(kFns) + field(s) + ")";
        }
        case 2:
            if (const EdgeVar* e = edge_var(s, false, false)) return "prob(" + e->name + ")";
            return "prob(" + comparison(s) + ")";
        case 3: return "prob(" + comparison(s) + ")";
        case 4: {
            const EdgeVar* e = edge_var(s, false, false);
            std::string call = "credible(" + (e && c_.one_in(2) ? e->name : comparison(s));
            if (c_.one_in(2)) call += ", p = " + closed_probability(c_);
            if (c_.one_in(3)) call += ", rho = " + correlation(c_);
            return call + ")";
        }
        case 5: {
            std::string call = "prob_correlated(" + comparison(s);
            if (c_.one_in(2)) {
                call += ", rho = " + (c_.one_in(3) ? "-" + correlation(c_) : correlation(c_));
            }
            return call + ")";
        }
        case 6:
            if (const EdgeVar* e = edge_var(s, false, true)) return "weight(" + e->name + ")";
            [[fallthrough]];
        case 7: {
            std::string call = "degree(" + c_.pick(s.nodes).name;
            if (c_.one_in(2)) {
                call += ", min_prob = " + (inner > 0 && c_.one_in(4) ? term(s, false, inner)
                                                                     : closed_probability(c_));
            }
            return call + ")";
        }
        case 8: {
            std::string call = (c_.one_in(2) ? "winner(" : "entropy(") + c_.pick(s.nodes).name +
                               ", " + edge_type_name();
            if (call.starts_with("winner") && c_.one_in(2)) call += ", epsilon = " + literal();
            return call + ")";
        }
        case 9: {
            static constexpr std::array<const char*, 3> kFns = {"quantile(", "ci_lo(", "ci_hi("};
            // The validator wants a number literal; the engine refuses 0 and 1.
            const std::string p = c_.one_in(64) ? (c_.one_in(2) ? "1" : "0") : open_probability(c_);
            return c_.pick(kFns) + field(s) + ", " + p + ")";
        }
        case 10: return (c_.one_in(2) ? "cov(" : "corr(") + field(s) + ", " + field(s) + ")";
        default:
            if (!where && !s.lets.empty()) return c_.pick(s.lets);
            return "E[" + field(s) + "]";
    }
}

std::string RuleWriter::term(const Scope& s, bool where, int depth) {
    if (c_.one_in(256)) {
        // A function the rule library does not have: valid, and Internal
        // when evaluated.
        v_.causes |= kUnknownRuleFunction;
        return "mystery(" + literal() + ")";
    }
    if (s.node_rule && c_.one_in(128)) {
        v_.causes |= kForDummyEdge;
        return c_.one_in(2) ? std::string("prob(") + kForDummy + ")" : kForDummy;
    }
    const std::size_t kinds = depth > 0 ? 8 : 4;
    switch (c_.below(kinds)) {
        case 0: return literal();
        case 1:
        case 2: return library_call(s, where, depth);
        case 3:
            if (!where && !s.lets.empty() && c_.one_in(2)) return c_.pick(s.lets);
            if (c_.one_in(3)) {
                // A match variable read as a number: its id.
                if (c_.one_in(2) || s.edges.empty()) return c_.pick(s.nodes).name;
                return c_.pick(s.edges).name;
            }
            return library_call(s, where, depth);
        case 4:
        case 5: {
            static constexpr std::array<const char*, 4> kOps = {" + ", " - ", " * ", " / "};
            const char* op = c_.pick(kOps);
            if (op[1] == '/' && !c_.one_in(4)) op = " + ";
            return "(" + term(s, where, depth - 1) + op + term(s, where, depth - 1) + ")";
        }
        case 6: return "-(" + term(s, where, depth - 1) + ")";
        default: return "(" + condition(s, where, depth - 1) + ")";
    }
}

std::string RuleWriter::condition(const Scope& s, bool where, int depth) {
    static constexpr std::array<const char*, 6> kCompare = {" > ", " < ", " >= ",
                                                            " <= ", " == ", " != "};
    const std::size_t kinds = depth > 0 ? 9 : 4;
    switch (c_.below(kinds)) {
        case 0:
        case 1:
            return "(" + term(s, where, depth) + c_.pick(kCompare) + term(s, where, depth) + ")";
        case 2:
            if (const EdgeVar* e = edge_var(s, false, false)) {
                return "(prob(" + e->name + ")" + (c_.one_in(2) ? " > " : " < ") +
                       closed_probability(c_) + ")";
            }
            return "(E[" + field(s) + "] > " + (c_.one_in(2) ? "-" : "") + literal() + ")";
        case 3: return c_.one_in(2) ? "true" : (c_.one_in(2) ? "false" : literal());
        case 4:
        case 5: {
            const char* op = c_.one_in(2) ? " or " : " and ";
            return "(" + condition(s, where, depth - 1) + op + condition(s, where, depth - 1) + ")";
        }
        case 6: return "not (" + condition(s, where, depth - 1) + ")";
        default:
            if (where) return exists(s, depth - 1);
            return "(" + term(s, where, depth) + c_.pick(kCompare) + literal() + ")";
    }
}

// "(exists (u:L)-[s:T]->(w:M) where (...))" or its "not exists" form; the
// sub-query's ends are match variables of the right type or new names, its
// edge variable a new name or, now and then, the match's own.
std::string RuleWriter::exists(const Scope& s, int depth) {
    costly_ = true;
    Scope inner = s;
    // A sub-query runs once per match (per candidate, nested): over a hub's
    // edges only when nothing else is declared, and then not nested.
    const std::vector<std::size_t> calm = calm_edge_types(v_);
    const std::size_t t = calm.empty() ? c_.below(v_.edges.size()) : c_.pick(calm);
    if (calm.empty()) depth = 0;
    const EdgeType& type = v_.edges[t];
    const auto end = [&](std::size_t node_type) {
        for (const NodeVar& n : s.nodes) {
            if (n.type == node_type && c_.one_in(2)) return n;
        }
        NodeVar fresh{"u" + std::to_string(fresh_++), node_type};
        inner.nodes.push_back(fresh);
        return fresh;
    };
    const NodeVar src = end(type.src);
    const NodeVar dst = end(type.dst);
    std::string edge = "s" + std::to_string(fresh_++);
    for (const EdgeVar& e : s.edges) {
        if (e.type == t && c_.one_in(6)) edge = e.name;
    }
    if (edge.starts_with("s")) inner.edges.push_back({edge, t});
    std::string text = std::string("(") + (c_.one_in(3) ? "not exists (" : "exists (") + src.name +
                       ":" + v_.nodes[src.type].name + ")-[" + edge + ":" + type.name + "]->(" +
                       dst.name + ":" + v_.nodes[dst.type].name + ")";
    if (c_.one_in(2)) text += " where (" + condition(inner, true, depth) + ")";
    return text + ")";
}

// A match variable of `type`: one the rule has (so patterns join), or a new
// one.
NodeVar RuleWriter::node_var_of_type(Scope& s, std::size_t type, const NodeVar* avoid) {
    if (!c_.one_in(4)) {
        for (const NodeVar& n : s.nodes) {
            if (n.type == type && (avoid == nullptr || n.name != avoid->name)) return n;
        }
    }
    NodeVar fresh{kNodeVarNames[std::min(s.nodes.size(), kNodeVarNames.size() - 1)], type};
    for (const NodeVar& n : s.nodes) {
        if (n.name == fresh.name) return n.type == type ? n : fresh;  // names ran out
    }
    s.nodes.push_back(fresh);
    return fresh;
}

// The edge type of a pattern. In a rule of several patterns (which the
// caller writes only when calm types exist): no hub's type, since the
// matches multiply, and mostly one that joins the patterns so far (an end
// of a type the rule has a variable for).
std::size_t RuleWriter::pattern_edge_type(const Scope& s, bool joined) {
    if (!joined) return c_.below(v_.edges.size());
    const std::vector<std::size_t> calm = calm_edge_types(v_);
    std::vector<std::size_t> joining;
    for (const std::size_t t : calm) {
        const EdgeType& e = v_.edges[t];
        const bool joins = std::any_of(s.nodes.begin(), s.nodes.end(), [&](const NodeVar& n) {
            return n.type == e.src || n.type == e.dst;
        });
        if (joins || s.nodes.empty()) joining.push_back(t);
    }
    if (!joining.empty() && !c_.one_in(8)) return c_.pick(joining);
    return c_.pick(calm);
}

std::string RuleWriter::pattern_item(Scope& s, bool joined) {
    const std::size_t t = pattern_edge_type(s, joined);
    const EdgeType& type = v_.edges[t];
    if (type.hub) costly_ = true;
    // Now and then an end of another type: the pattern then matches little
    // or nothing.
    const std::size_t src_type = c_.one_in(12) ? c_.below(v_.nodes.size()) : type.src;
    const NodeVar src = node_var_of_type(s, src_type, nullptr);
    const NodeVar dst = src_type == type.dst && c_.one_in(8)
                            ? src  // self-loops only
                            : node_var_of_type(s, type.dst, &src);
    const EdgeVar edge{kEdgeVarNames[std::min(s.edges.size(), kEdgeVarNames.size() - 1)], t};
    s.edges.push_back(edge);
    return "(" + src.name + ":" + v_.nodes[src.type].name + ")-[" + edge.name + ":" + type.name +
           "]->(" + dst.name + ":" + v_.nodes[dst.type].name + ")";
}

std::string RuleWriter::soft_update(Scope& s) {
    const NodeVar& n = c_.pick(s.nodes);
    std::string text = n.name + "." + attr_of(n) + " ~= ";
    const std::string value = term(s, false, kMaxDepth - 1);
    const auto setting = [&](bool precision) {
        if (precision) {
            return "precision = " + (c_.one_in(8) ? any_number(c_) : positive_number(c_));
        }
        return "count = " + (c_.one_in(6) ? any_number(c_) : std::string(c_.one_in(2) ? "2" : "3"));
    };
    switch (c_.below(4)) {
        case 0: return text + value;
        case 1: {
            // Settings in parentheses belong to the statement only after an
            // expression that ends in a number.
            std::string settings = setting(true);
            if (c_.one_in(2)) settings += ", " + setting(false);
            return text + "(" + value + ") + 0 (" + settings + ")";
        }
        default: {
            std::string settings = " " + setting(c_.one_in(3) ? false : true);
            const bool counted = settings.find("count") != std::string::npos;
            if (c_.one_in(2)) settings += " " + setting(counted);
            return text + "(" + value + ")" + settings;
        }
    }
}

std::string RuleWriter::nudge(Scope& s) {
    const NodeVar& n = c_.pick(s.nodes);
    std::string text = "non_bayesian_nudge " + n.name + "." + attr_of(n) + " to " +
                       term(s, false, kMaxDepth - 1);
    const auto factor = [&] {
        if (!c_.one_in(2)) return std::string();
        return "(factor = " + (c_.one_in(6) ? any_number(c_) : positive_number(c_)) + ")";
    };
    switch (c_.below(5)) {
        case 0: return text;
        case 1: return text + " variance = preserve";
        case 2: return text + " variance = increase" + factor();
        case 3: return text + " variance = decrease" + factor();
        default: return text + (c_.one_in(2) ? " variance = increase" : " variance = decrease");
    }
}

std::string RuleWriter::action(Scope& s) {
    if (s.node_rule && c_.one_in(32)) {
        v_.causes |= kForDummyEdge;
        return std::string(c_.one_in(2) ? "delete " : "suppress ") + kForDummy;
    }
    switch (c_.below(6)) {
        case 0:
        case 1: return soft_update(s);
        case 2: {
            std::string value = term(s, false, kMaxDepth - 1);
            std::string name = "t" + std::to_string(fresh_++);
            s.lets.push_back(name);
            return "let " + name + " = " + value;
        }
        case 3: return nudge(s);
        case 4: {
            // Delete and suppress apply to independent edges; a competing
            // edge now and then, which the engine refuses.
            const EdgeVar* e = edge_var(s, !c_.one_in(10), false);
            if (e == nullptr) return soft_update(s);
            static constexpr std::array<const char*, 7> kConfidence = {
                "", " confidence = low", " confidence = high", " (confidence = high)",
                " (confidence = low)", " confidence = HIGH", " confidence = Low"};
            const char* confidence = c_.one_in(32) ? " confidence = medium" : c_.pick(kConfidence);
            return "delete " + e->name + confidence;
        }
        default: {
            const EdgeVar* e = edge_var(s, !c_.one_in(10), false);
            if (e == nullptr) return nudge(s);
            const std::string weight = c_.one_in(16) ? any_number(c_) : positive_number(c_);
            switch (c_.below(3)) {
                case 0: return "suppress " + e->name;
                case 1: return "suppress " + e->name + " weight = " + weight;
                default: return "suppress " + e->name + " (weight = " + weight + ")";
            }
        }
    }
}

std::string RuleWriter::actions(Scope& s) {
    std::string text = "{\n";
    const std::size_t count = 1 + c_.below(3);
    for (std::size_t i = 0; i < count; ++i)
        text += "        " + action(s) + (c_.one_in(4) ? "\n" : ";\n");
    return text + "    }";
}

// A fixpoint may run a thousand passes: only for rules whose pass is cheap.
std::string RuleWriter::mode(bool fixpoint_allowed) {
    switch (c_.below(8)) {
        case 5: return "    mode: for_each\n";
        case 6:
        case 7:
            if (!fixpoint_allowed) return "    mode: for_each\n";
            return c_.one_in(2) ? "    mode : fixpoint\n" : "    mode: fixpoint\n";
        default: return "";
    }
}

void RuleWriter::write(std::string& out, const std::string& name) {
    Scope s;
    std::string body;
    std::size_t pattern_count = 1;
    switch (c_.below(4)) {
        case 0: {
            // pattern ..., where ..., action { ... } (one or two)
            pattern_count = calm_edge_types(v_).empty() ? 1 : 1 + c_.below(3);
            std::string patterns;
            for (std::size_t i = 0; i < pattern_count; ++i)
                patterns += (i > 0 ? ", " : "") + pattern_item(s, pattern_count > 1);
            body += "    pattern " + patterns + "\n";
            if (!c_.one_in(4)) body += "    where " + condition(s, true, kMaxDepth) + "\n";
            body += "    action " + actions(s) + "\n";
            if (c_.one_in(4)) body += "    action " + actions(s) + "\n";
            break;
        }
        case 1: {
            // (a:L)-[e:T]->(b:M) where ... => { ... }
            const std::string pattern = pattern_item(s, false);
            std::string where;
            if (!c_.one_in(4)) where = " where " + condition(s, true, kMaxDepth);
            body += "    " + pattern + where + " => " + actions(s) + "\n";
            break;
        }
        case 2: {
            // for (p: L) where ... => { ... }
            const std::size_t type = c_.below(v_.nodes.size());
            s.nodes.push_back({"p", type});
            s.node_rule = true;
            for (const EdgeType& e : v_.edges) {
                if (e.hub && (e.src == type || e.dst == type)) costly_ = true;  // many nodes
            }
            std::string where;
            if (!c_.one_in(3)) where = " where " + condition(s, true, kMaxDepth);
            body += "    for (p: " + v_.nodes[type].name + ")" + where + " => " + actions(s) + "\n";
            break;
        }
        default: {
            // pattern ..., where ... => { ... }
            pattern_count = calm_edge_types(v_).empty() ? 1 : 1 + c_.below(2);
            std::string patterns;
            for (std::size_t i = 0; i < pattern_count; ++i)
                patterns += (i > 0 ? ", " : "") + pattern_item(s, pattern_count > 1);
            body += "    pattern " + patterns + "\n";
            body += "    where " + condition(s, true, kMaxDepth) + " => " + actions(s) + "\n";
            break;
        }
    }
    const std::string mode_clause = mode(pattern_count == 1 && !costly_);
    body = c_.one_in(3) ? mode_clause + body : body + mode_clause;
    out += "rule " + name + " on M {\n" + body + "}\n";
}

}  // namespace

void write_rule(std::string& out, Choices& c, Vocabulary& v, const std::string& name) {
    RuleWriter(c, v).write(out, name);
}

}  // namespace morvane::fuzz::flowgen
