// Pattern matching: the three forms, what counts as a candidate, the order of
// matches, and the join against a literal nested-loop reference on random
// graphs (dense and sparse ids, pending insertions).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/query_plan.hpp"
#include "core/engine/rule_match.hpp"
#include "frontend/parser/parse_program.hpp"
#include "tests/cpp/small_stack.hpp"

namespace morvane::core::engine {
namespace {

using frontend::ast::PatternItem;

// The patterns of `rule R on M { pattern <text> }`.
std::vector<PatternItem> patterns_of(const std::string& text) {
    return frontend::parser::parse_program("rule R on M { pattern " + text + " }")
        .rules.at(0)
        .patterns;
}

// Every match as "a=0 b=1 e=2", node variables first, each in slot order.
std::vector<std::string> describe(const RuleMatches& m) {
    const MatchVariables& vars = m.variables();
    std::vector<NodeId> nodes(vars.nodes.size());
    std::vector<EdgeId> edges(vars.edges.size());
    std::vector<std::string> out;
    for (std::size_t i = 0; i < m.size(); ++i) {
        m.read(i, nodes, edges);
        std::string s;
        const auto add = [&s](std::string_view name, uint32_t id) {
            if (!s.empty()) s += ' ';
            s.append(name).append("=").append(std::to_string(id));
        };
        for (std::size_t k = 0; k < nodes.size(); ++k)
            add(vars.nodes[k], nodes[k].value);
        for (std::size_t k = 0; k < edges.size(); ++k)
            add(vars.edges[k], edges[k].value);
        out.push_back(s);
    }
    return out;
}

std::vector<std::string> matches(const BeliefGraph& g, const std::string& patterns) {
    return describe(find_rule_matches(g, patterns_of(patterns)));
}

using Strings = std::vector<std::string>;

TEST(RuleMatch, SinglePatternMatchesCandidatesInEdgeOrder) {
    BeliefGraph g;
    const NodeId p0 = g.add_node("P", {}), p1 = g.add_node("P", {}), q = g.add_node("Q", {});
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{5}, p1, p0});
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{2}, p0, p1});
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{3}, p0, q});
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{4}, p1, p1});
    g.ensure_owned();
    // Pending: a new edge, and edge 2 replaced by a record of another type.
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{6}, p0, p0});
    g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("U"), EdgeId{2}, p0, p1});
    const NodeId pending = g.add_node("P", {});  // exists only as a pending insertion
    g.insert_edge(
        EdgeData{{EdgePosterior::Independent{1, 1}}, SharedText("T"), EdgeId{7}, pending, p0});

    EXPECT_EQ(matches(g, "(a:P)-[e:T]->(b:P)"),
              (Strings{"a=1 b=1 e=4", "a=1 b=0 e=5", "a=0 b=0 e=6", "a=3 b=0 e=7"}));
    EXPECT_EQ(matches(g, "(a:P)-[e:T]->(a:P)"), (Strings{"a=1 e=4", "a=0 e=6"}));
    EXPECT_EQ(matches(g, "(a:P)-[e:U]->(b:P)"), (Strings{"a=0 b=1 e=2"}));
    EXPECT_EQ(matches(g, "(a:P)-[e:T]->(b:Q)"), (Strings{"a=0 b=2 e=3"}));
    EXPECT_TRUE(matches(g, "(a:P)-[e:NONE]->(b:P)").empty());
    EXPECT_TRUE(matches(g, "(a:P)-[e:T]->(b:p)").empty());  // labels compare exactly
}

TEST(RuleMatch, NodeOnlyFormVisitsBaseNodesOfTheLabelInStoredOrder) {
    BeliefGraph g;
    g.add_node("L", {});
    g.add_node("M", {});
    g.add_node("L", {});
    g.ensure_owned();
    g.add_node("L", {});  // pending only: not visited
    const auto rule = frontend::parser::parse_program("rule R on M { for (n: L) => { } }");
    const RuleMatches m = find_rule_matches(g, rule.rules.at(0).patterns);
    EXPECT_EQ(describe(m), (Strings{"n=0", "n=2"}));
    EXPECT_TRUE(m.variables().edges.empty());
    // Two names in the reserved form are both bound to the node.
    const PatternItem two{{"x", "L"}, {"__for_dummy", "__FOR_NODE__"}, {"y", "Z"}};
    EXPECT_EQ(describe(find_rule_matches(g, std::vector{two})), (Strings{"x=0 y=0", "x=2 y=2"}));
}

TEST(RuleMatch, MissingEndNodesFailInCandidateOrder) {
    BeliefGraph g;
    const NodeId a = g.add_node("P", {});
    g.add_edge(a, NodeId{9}, "T", 1, 1);  // edge 0: no destination node
    g.add_edge(NodeId{8}, a, "T", 1, 1);  // edge 1: no source node
    const auto error = [&](const std::string& p) {
        try {
            find_rule_matches(g, patterns_of(p));
        } catch (const ExecError& e) {
            EXPECT_EQ(e.kind, ExecErrorKind::Internal);
            return e.message;
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(error("(a:P)-[e:T]->(b:P)"), "missing dst node");
    EXPECT_EQ(error("(a:Q)-[e:T]->(b:Q)"), "missing dst node");  // looked up before labels
    EXPECT_EQ(error("(a:P)-[e:U]->(b:P), (b:P)-[f:T]->(c:P)"), "missing dst node");
    EXPECT_EQ(error("(a:P)-[e:T]->(a:P)"), "<no error>");  // self-loops only: none looked up
}

TEST(RuleMatch, JoinsOnSharedNodeVariablesInSortedEdgeOrder) {
    BeliefGraph g;
    const NodeId u = g.add_node("P", {}), v = g.add_node("P", {}), w = g.add_node("P", {});
    g.add_edge(v, w, "T", 1, 1);  // 0
    g.add_edge(u, v, "T", 1, 1);  // 1
    g.add_edge(v, u, "T", 1, 1);  // 2
    // Sorted edge lists: {0,1} (u->v->w), {1,2} twice (u->v->u, v->u->v), in join order.
    EXPECT_EQ(matches(g, "(a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P)"),
              (Strings{"a=0 b=1 c=2 e=1 f=0", "a=0 b=1 c=0 e=1 f=2", "a=1 b=0 c=1 e=2 f=1"}));
    // Listed the other way round, the join visits f first, and the two
    // matches of edges {1,2} come in that join's order.
    EXPECT_EQ(matches(g, "(b:P)-[f:T]->(c:P), (a:P)-[e:T]->(b:P)"),
              (Strings{"b=1 c=2 a=0 f=0 e=1", "b=0 c=1 a=1 f=1 e=2", "b=1 c=0 a=0 f=2 e=1"}));
    EXPECT_TRUE(matches(g, "(a:P)-[e:T]->(b:P), (b:P)-[e:T]->(c:P)").empty());
    EXPECT_TRUE(matches(g, "(a:P)-[e:T]->(b:P), (b:P)-[f:NONE]->(c:P)").empty());

    BeliefGraph one;
    one.add_node("P", {});
    one.add_node("P", {});
    one.add_edge(NodeId{0}, NodeId{1}, "T", 1, 1);
    EXPECT_EQ(matches(one, "(a:P)-[e1:T]->(b:P), (c:P)-[e2:T]->(d:P)"),
              (Strings{"a=0 b=1 c=0 d=1 e1=0 e2=0"}));
}

// ---- The join against a literal nested loop --------------------------------------------------

using Match = std::pair<std::map<std::string, uint32_t>, std::map<std::string, uint32_t>>;

// Depth-first over every candidate of every pattern in plan order, skipping
// candidates that disagree with the bindings so far; then a stable sort by the
// sorted edge ids.
std::vector<Match> reference_matches(const BeliefGraph& g,
                                     const std::vector<PatternItem>& patterns) {
    const QueryPlan plan = plan_query(patterns, g);
    EdgeCandidateIndex index(g);
    std::vector<std::vector<EdgeMatchCandidate>> cands;
    for (std::size_t i : plan.order) {
        const auto c = index.pattern_candidates(patterns[i]);
        cands.emplace_back(c.begin(), c.end());
    }
    std::vector<Match> out;
    std::vector<Match> stack{{}};
    std::vector<std::size_t> next{0};
    while (!next.empty()) {
        const std::size_t d = next.size() - 1;
        if (d == patterns.size()) {
            out.push_back(stack.back());
            stack.pop_back();
            next.pop_back();
            continue;
        }
        if (next[d] == cands[d].size()) {
            stack.pop_back();
            next.pop_back();
            continue;
        }
        const EdgeMatchCandidate c = cands[d][next[d]++];
        const PatternItem& p = patterns[plan.order[d]];
        Match b = stack.back();
        // A bound variable must keep its value; an edge variable binds once.
        const auto differs = [&b](const std::string& var, uint32_t id) {
            const auto it = b.first.find(var);
            return it != b.first.end() && it->second != id;
        };
        if (differs(p.src.var, c.src.value) || differs(p.dst.var, c.dst.value)) continue;
        if (b.second.count(p.edge.var)) continue;
        b.first[p.src.var] = c.src.value;
        b.first[p.dst.var] = c.dst.value;
        b.second[p.edge.var] = c.edge.value;
        stack.push_back(std::move(b));
        next.push_back(0);
    }
    const auto key = [](const Match& m) {
        std::vector<uint32_t> ids;
        for (const auto& [name, id] : m.second)
            ids.push_back(id);
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    std::stable_sort(out.begin(), out.end(),
                     [&](const Match& x, const Match& y) { return key(x) < key(y); });
    return out;
}

std::vector<Match> as_maps(const RuleMatches& m) {
    const MatchVariables& vars = m.variables();
    std::vector<NodeId> nodes(vars.nodes.size());
    std::vector<EdgeId> edges(vars.edges.size());
    std::vector<Match> out;
    for (std::size_t i = 0; i < m.size(); ++i) {
        m.read(i, nodes, edges);
        Match x;
        for (std::size_t k = 0; k < nodes.size(); ++k)
            x.first[std::string(vars.nodes[k])] = nodes[k].value;
        for (std::size_t k = 0; k < edges.size(); ++k)
            x.second[std::string(vars.edges[k])] = edges[k].value;
        out.push_back(std::move(x));
    }
    return out;
}

// A random graph of P and Q nodes and T and U edges, the last few pending.
// Sparse graphs use ids far apart, which take the joins' sparse paths.
BeliefGraph random_graph(uint32_t seed, uint32_t nodes, uint32_t edges, bool sparse) {
    uint32_t state = seed;
    const auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    const uint32_t node_step = sparse ? 1000003u : 1u, edge_step = sparse ? 999983u : 1u;
    BeliefGraph g;
    for (uint32_t i = 0; i < nodes; ++i) {
        g.insert_node(NodeData{SharedText(next(3) ? "P" : "Q"), {}, NodeId{i * node_step}});
    }
    for (uint32_t i = 0; i < edges; ++i) {
        if (i == edges - 3) g.ensure_owned();
        const NodeId src{next(nodes) * node_step}, dst{next(nodes) * node_step};
        // Ids in shuffled order, so that the base is not sorted by id.
        const uint32_t id = ((i * 37u) % edges) * edge_step;
        g.insert_edge(EdgeData{{EdgePosterior::Independent{1, 1}},
                               SharedText(next(2) ? "T" : "U"),
                               EdgeId{id},
                               src,
                               dst});
    }
    return g;
}

// A hub: node 1 -> node 0 (edge 0), then node 0 -> nodes 2..41 (edges 1..40),
// so that many matches share their smallest edge id.
BeliefGraph hub_graph() {
    BeliefGraph g;
    for (int i = 0; i < 42; ++i)
        g.add_node("P", {});
    g.add_edge(NodeId{1}, NodeId{0}, "T", 1, 1);
    for (uint32_t i = 2; i < 42; ++i)
        g.add_edge(NodeId{0}, NodeId{i}, "T", 1, 1);
    return g;
}

void expect_join_agrees(const BeliefGraph& g, const char* rule, const std::string& graph,
                        std::size_t& total) {
    const std::vector<PatternItem> patterns = patterns_of(rule);
    const std::vector<Match> want = reference_matches(g, patterns);
    EXPECT_EQ(as_maps(find_rule_matches(g, patterns)), want) << rule << " on " << graph;
    total += want.size();
}

TEST(RuleMatch, JoinAgreesWithANestedLoopOnRandomGraphs) {
    const char* rules[] = {
        "(a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P)",
        "(a:P)-[e:T]->(b:Q), (a:P)-[f:U]->(c:P), (c:P)-[g:T]->(b:Q)",
        "(a:P)-[e:T]->(b:P), (c:P)-[f:U]->(b:P)",
        "(a:P)-[e:T]->(a:P), (a:P)-[f:T]->(b:P), (b:P)-[g:U]->(a:P)",
        "(a:P)-[e:T]->(b:P), (c:Q)-[f:U]->(d:P)",
        "(a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P), (c:P)-[g:T]->(d:P), (d:P)-[h:U]->(a:P)",
    };
    std::size_t total = 0;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        for (const bool sparse : {false, true}) {
            const BeliefGraph g = random_graph(seed, 10, 70, sparse);
            const std::string name = "seed " + std::to_string(seed) + (sparse ? " sparse" : "");
            for (const char* rule : rules)
                expect_join_agrees(g, rule, name, total);
        }
    }
    // Edge ids past 1024 spread the matches over several partitions.
    const BeliefGraph large = random_graph(7, 200, 1200, false);
    for (const char* rule : {rules[0], rules[1], rules[2], rules[3]}) {
        expect_join_agrees(large, rule, "the large graph", total);
    }
    const BeliefGraph hub = hub_graph();
    for (const char* rule : {"(a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P)",
                             "(a:P)-[e:T]->(b:P), (b:P)-[f:T]->(c:P), (x:P)-[g:T]->(y:P)"}) {
        expect_join_agrees(hub, rule, "the hub", total);
    }
    EXPECT_GT(total, 3000u);  // the graphs do produce matches
}

TEST(RuleMatch, ManyPatternsJoinOnASmallStack) {
    // 3000 patterns around one self-loop: one match, every edge variable
    // bound to the same edge.
    BeliefGraph g;
    g.add_node("P", {});
    g.add_edge(NodeId{0}, NodeId{0}, "T", 1, 1);
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i), m = std::to_string(i + 1);
        if (i > 0) text += ", ";
        text.append("(v").append(n).append(":P)-[e").append(n).append(":T]->(v").append(m).append(
            ":P)");
    }
    const std::vector<PatternItem> patterns = patterns_of(text);
    std::size_t count = 0;
    morvane::testing::run_on_stack_of(256 << 10,
                                      [&] { count = find_rule_matches(g, patterns).size(); });
    EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace morvane::core::engine
