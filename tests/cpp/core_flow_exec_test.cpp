// Flow runs: the graph plan and the rule index, graphs taken from a prior
// run, snapshots, pruning, metrics with imports and exports, graph exports,
// the run's errors, the same results on both entry paths, and metrics of
// compiled programs whose names or arguments need care.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/engine/flow_exec.hpp"
#include "core/engine/flow_plan.hpp"
#include "core_flow_test_support.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {
namespace {

namespace ast = frontend::ast;
using flow_test::error_of;
using flow_test::program_of;

// `nodes` nodes labelled L with x = 0, 1, 2, ...; T edges i -> i+1 (mod
// nodes) with probabilities 0.1 to 0.9 by i % 9; U edges 0 -> 1 of
// probability 0.5.
BeliefGraph sample_graph(int nodes, int t_edges, int u_edges) {
    BeliefGraph g;
    for (int i = 0; i < nodes; ++i)
        g.add_node("L", AttrMap{{"x", {double(i), 1.0}}});
    const auto node = [nodes](int i) { return NodeId{static_cast<uint32_t>(i % nodes)}; };
    for (int i = 0; i < t_edges; ++i) {
        const double alpha = 1.0 + i % 9;
        const EdgeId e = g.add_edge(node(i), node(i + 1), "T", alpha, 10.0 - alpha);
        g.set_edge_weight_prior(e, (i % 4) * 0.5, 1.0);
    }
    for (int i = 0; i < u_edges; ++i)
        g.add_edge(node(0), node(1), "U", 1.0, 1.0);
    g.ensure_owned();
    return g;
}

// What a result holds, as text: maps in their order, graphs by their edges
// and probabilities.
std::string describe(const FlowResult& r) {
    std::ostringstream out;
    const auto graphs = [&out](const char* what, const NameMap<BeliefGraph>& map) {
        for (const auto& [name, g] : map) {
            out << what << ' ' << name << ": " << g.nodes().size() << " nodes, edges";
            for (const EdgeData& e : g.edges())
                out << ' ' << e.id.value << '@' << g.prob_mean(e.id);
            out << '\n';
        }
    };
    graphs("graph", r.graphs);
    graphs("export", r.exports);
    graphs("snapshot", r.snapshots);
    for (const auto& [name, v] : r.metrics)
        out << "metric " << name << " = " << v << '\n';
    for (const auto& [name, v] : r.metric_exports)
        out << "metric export " << name << " = " << v << '\n';
    out << r.intervention_audit.size() << " audits, " << r.inference_diagnostics.size()
        << " diagnostics\n";
    return out.str();
}

// ---------------------------------------------------------------------------
// Plan and rule index.

std::vector<std::string> plan_names(const ir::FlowIR& flow) {
    std::vector<std::string> names;
    for (const std::size_t i : build_graph_execution_plan(flow))
        names.push_back(flow.graphs[i].name);
    return names;
}

ir::FlowIR only_flow(std::string_view source) {
    return ir::FlowIR::from(program_of(source).flows.at(0));
}

TEST(FlowPlan, DeclarationOrderWhereDependenciesAllow) {
    EXPECT_EQ(plan_names(only_flow(R"(flow F on M {
        graph a = from_evidence E
        graph b = c |> infer_beliefs
        graph c = from_evidence E
        graph d = select_model { b, a } by edge_aic
        graph e = from_graph "x"
    })")),
              (std::vector<std::string>{"a", "c", "e", "b", "d"}));
    // A graph taken in a pass counts for the rest of that pass.
    EXPECT_EQ(plan_names(only_flow(R"(flow F on M {
        graph z = y |> infer_beliefs
        graph x = from_graph "p"
        graph y = x |> infer_beliefs
    })")),
              (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_TRUE(plan_names(only_flow("flow F on M { }")).empty());
}

TEST(FlowPlan, Errors) {
    const struct {
        const char* body;
        const char* message;
    } cases[] = {
        {"graph a = from_graph \"x\" graph b = a |> infer_beliefs graph a = from_evidence E",
         "duplicate graph name 'a' in flow 'F'"},
        {"graph a = a |> infer_beliefs",
         "unable to resolve graph execution order in flow 'F'; unresolved: a"},
        {"graph ok = from_evidence E graph b = nowhere |> infer_beliefs",
         "unable to resolve graph execution order in flow 'F'; unresolved: b"},
        {"graph q = p |> infer_beliefs graph p = q |> snapshot \"s\" graph c = from_evidence E "
         "graph m = select_model { c, q } by edge_bic",
         "unable to resolve graph execution order in flow 'F'; unresolved: m, p, q"},
    };
    for (const auto& c : cases) {
        const ir::FlowIR flow = only_flow(std::string("flow F on M { ") + c.body + " }");
        const auto error = error_of([&] { build_graph_execution_plan(flow); });
        ASSERT_TRUE(error) << c.body;
        EXPECT_EQ(error->kind, ExecErrorKind::Internal);
        EXPECT_EQ(error->message, c.message);
    }
}

TEST(FlowPlan, RuleIndexHoldsTheAppliedRulesLaterFirst) {
    const ast::ProgramAst program = program_of(R"(
        rule A on M { for (n: L) => { let a = 1; } }
        rule B on M { for (n: L) => { let b = 1; } }
        rule A on M { for (n: L) => { let second = 1; } }
        rule Unused on M { for (n: L) => { let u = 1; } }
        flow F on M {
            graph g = from_graph "x"
            graph h = g |> apply_rule A |> apply_ruleset { B, Missing }
        })");
    const ir::ProgramIR lowered = ir::ProgramIR::from(program);
    const RuleIndex index = build_rule_defs_index(lowered.rules, lowered.flows[0]);
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index.at("A"), program.rules[2]);
    EXPECT_EQ(index.at("B"), program.rules[1]);
}

// ---------------------------------------------------------------------------
// Runs.

// A prior run's result: exports "base" (6 nodes, 20 T edges, 2 U edges) and
// "shadowed" (1 node), a snapshot "shadowed" (2 nodes) and "kept" (3 nodes),
// and metric exports prev = 5 and keep = 1.
FlowResult sample_prior() {
    FlowResult prior;
    prior.exports.insert_or_assign("base", sample_graph(6, 20, 2));
    prior.exports.insert_or_assign("shadowed", sample_graph(1, 0, 0));
    prior.snapshots.insert_or_assign("shadowed", sample_graph(2, 0, 0));
    prior.snapshots.insert_or_assign("kept", sample_graph(3, 0, 0));
    prior.metric_exports = {{"prev", 5.0}, {"keep", 1.0}};
    return prior;
}

FlowResult run(std::string_view source, const FlowResult* prior, std::string_view flow = "F") {
    return run_flow(program_of(source), flow, prior);
}

TEST(FlowExec, ChainsOnAPriorResult) {
    const FlowResult prior = sample_prior();
    const FlowResult r = run(R"(flow F on M {
        import_metric prev as p
        import_metric absent as q
        import_metric prev as x
        graph late = other |> snapshot "s"
        graph other = from_graph "shadowed"
        graph base = from_graph "kept"
        metric n = nodes(L) |> count()
        metric on_other on other = nodes(L) |> count()
        metric x = p * 2
        metric y = x + 1
        export_metric x as "keep"
        export_metric y as "y"
        export base as "b1"
        export base as "b2"
    })",
                             &prior);
    // The last declared graph is the default target, though built before
    // `late`; an export wins over a snapshot of the same name.
    EXPECT_EQ(r.metrics,
              (NameMap<double>{{"n", 3.0}, {"on_other", 1.0}, {"x", 10.0}, {"y", 11.0}}));
    // The prior's metric exports carry over; this flow's win on equal aliases.
    EXPECT_EQ(r.metric_exports, (NameMap<double>{{"keep", 10.0}, {"prev", 5.0}, {"y", 11.0}}));
    EXPECT_EQ(r.graphs.size(), 3u);
    ASSERT_EQ(r.exports.size(), 2u);
    EXPECT_TRUE(r.exports.at("b1").shares_base_with(r.graphs.at("base")));
    EXPECT_TRUE(r.exports.at("b2").shares_base_with(prior.snapshots.at("kept")));
    EXPECT_EQ(r.snapshots.at("s").nodes().size(), 1u);
    // The prior is left as it was.
    EXPECT_EQ(describe(prior), describe(sample_prior()));

    // An import the prior lacks is skipped; reading its name then fails.
    const auto error = error_of([&] {
        run("flow F on M { import_metric absent as q graph g = from_graph \"kept\" metric m = q }",
            &prior);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ExecErrorKind::Validation);
    EXPECT_EQ(error->message, "unknown metric variable 'q'");

    // A flow with nothing in it gives back the prior's metric exports.
    const FlowResult empty = run("flow F on M { }", &prior);
    EXPECT_EQ(describe(empty),
              "metric export keep = 1\nmetric export prev = 5\n0 audits, 0 diagnostics\n");
}

TEST(FlowExec, ChainsOneRunOnTheNext) {
    const ast::ProgramAst program = program_of(R"(
        flow First on M {
            graph base = from_graph "base"
            graph h = base |> snapshot "whole" |> prune_edges T where prob(edge) < 0.3
            metric n = nodes(L) |> count()
            export h as "out"
            export_metric n as "count"
        }
        flow Second on M {
            import_metric count as c
            graph whole = from_graph "whole"
            graph out = from_graph "out"
            metric twice = c * 2
            export_metric twice as "twice"
        })");
    FlowResult start;
    start.exports.insert_or_assign("base", sample_graph(6, 20, 2));
    const FlowResult first = run_flow(program, "First", &start);
    const std::string first_text = flow_test::result_text(first);
    const FlowResult second = run_flow(program, "Second", &first);
    // Graphs come from the first run's snapshots and exports, shared.
    EXPECT_TRUE(second.graphs.at("whole").shares_base_with(first.snapshots.at("whole")));
    EXPECT_TRUE(second.graphs.at("out").shares_base_with(first.exports.at("out")));
    EXPECT_EQ(second.graphs.at("whole").edges().size(), 22u);
    EXPECT_EQ(second.graphs.at("out").edges().size(), 16u);
    EXPECT_EQ(second.metric_exports, (NameMap<double>{{"count", 6.0}, {"twice", 12.0}}));
    EXPECT_EQ(flow_test::result_text(first), first_text);
}

TEST(FlowExec, SnapshotsAndPrunes) {
    const FlowResult prior = sample_prior();
    const FlowResult r = run(R"(flow F on M {
        graph base = from_graph "base"
        graph pruned = base
            |> snapshot "twice"
            |> prune_edges T where prob(edge) < 0.3
            |> snapshot "twice"
            |> prune_edges U where prob(edge) > 0.9
        graph all_gone = base |> prune_edges T where true or prob(edge)
        graph same = base |> prune_edges U where -(prob(edge) * 0)
    })",
                             &prior);
    const BeliefGraph& base = r.graphs.at("base");
    const BeliefGraph& pruned = r.graphs.at("pruned");
    // T edges of probability 0.1 and 0.2 go (ids 0, 1, 9, 10, 18, 19); U stays.
    std::vector<uint32_t> kept;
    for (const EdgeData& e : pruned.edges())
        kept.push_back(e.id.value);
    EXPECT_EQ(kept,
              (std::vector<uint32_t>{2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 20, 21}));
    EXPECT_EQ(pruned.nodes().size(), 6u);
    // The later snapshot under one name is kept; snapshots are materialised.
    EXPECT_EQ(r.snapshots.at("twice").edges().size(), 16u);
    EXPECT_TRUE(r.snapshots.at("twice").deltas().empty());
    // A predicate true for every edge of its type leaves nodes and other types.
    EXPECT_EQ(r.graphs.at("all_gone").edges().size(), 2u);
    EXPECT_EQ(r.graphs.at("all_gone").nodes().size(), 6u);
    // A prune that drops nothing still rebuilds.
    EXPECT_EQ(r.graphs.at("same").edges().size(), 22u);
    EXPECT_FALSE(r.graphs.at("same").shares_base_with(base));
    EXPECT_EQ(base.edges().size(), 22u);  // the start graph is never changed

    // Exactly 0.0 or -0.0 keeps an edge; any other value drops it.
    BeliefGraph weights = sample_graph(2, 0, 3);
    const double means[] = {0.0, -0.0, 1e-300};
    for (uint32_t i = 0; i < 3; ++i)
        weights.set_edge_weight_prior(EdgeId{i}, means[i], 1.0);
    FlowResult weighted;
    weighted.exports.insert_or_assign("w", std::move(weights));
    const FlowResult w = run(R"(flow F on M {
        graph w = from_graph "w"
        graph g = w |> prune_edges U where weight(edge)
    })",
                             &weighted);
    EXPECT_EQ(w.graphs.at("g").edges().size(), 2u);
}

// A builder for flows that build no evidence graph.
BeliefGraph no_evidence(const ast::EvidenceDef& block) {
    ADD_FAILURE() << "evidence " << block.name << " built";
    return BeliefGraph();
}

// The outcome of a run on one of the entry paths, as text.
enum class Path { Cached, Eager, Builder };

std::string outcome_on(Path path, const ast::ProgramAst& program, const FlowResult* prior,
                       std::string_view flow = "F") {
    try {
        if (path == Path::Builder) {
            return describe(run_flow_with_builder(program, flow, no_evidence, prior));
        }
        CraneliftJitExecutionBackend eager(1, 1);
        CraneliftJitExecutionBackend standard;
        return describe(run_flow_ir(path == Path::Eager ? eager : standard,
                                    ir::ProgramIR::from(program), flow, prior));
    } catch (const ExecError& e) {
        return std::string(kind_name(e.kind)) + ": " + e.message;
    }
}

TEST(FlowExec, Errors) {
    const struct {
        const char* body;
        const char* outcome;
    } cases[] = {
        {"graph g = from_graph \"nope\"",
         "Internal: graph 'nope' not found in prior flow exports or snapshots"},
        {"graph g = from_evidence Nope", "Internal: unknown evidence 'Nope'"},
        {"graph g = from_graph \"kept\" metric m on other = 1",
         "Internal: metric 'm' target graph 'other' missing"},
        {"import_metric prev as p", "Internal: no graphs defined for metric evaluation"},
        {"export_metric m as \"m\"", "Internal: no graphs defined for metric evaluation"},
        {"graph g = from_graph \"kept\" import_metric prev as p export_metric p as \"p\"",
         "Internal: unknown metric 'p' in export_metric"},
        {"graph g = from_graph \"kept\" export nope as \"x\"",
         "Internal: unknown graph 'nope' in export"},
        {"graph g = from_graph \"kept\" export nope as \"x\" metric bad = 1 / count_nodes(label = "
         "Z)",
         "Validation: division by zero in metric expression"},
        // Unknown rules fail when their transform runs, after the graphs before it.
        {"graph h = g |> apply_rule Nope graph g = from_graph \"kept\"",
         "Internal: unknown rule 'Nope'"},
        {"graph h = g |> apply_rule Nope graph g = from_graph \"missing\"",
         "Internal: graph 'missing' not found in prior flow exports or snapshots"},
        {"graph g = from_graph \"kept\" graph h = g |> apply_ruleset { X, Y }",
         "Internal: unknown rule 'X' in ruleset"},
        {"graph g = from_graph \"base\" graph h = g |> prune_edges T where prob(e) < 1",
         "Validation: prob(): argument must be 'edge' in prune predicate"},
        {"graph g = from_graph \"base\" graph h = g |> snapshot \"s\" |> prune_edges U where "
         "weight(edge) "
         "> 0 metric m = 1",
         "Validation: edge EdgeId(20) does not declare a continuous weight posterior"},
    };
    const FlowResult prior = sample_prior();
    for (const auto& c : cases) {
        const ast::ProgramAst program = program_of(std::string("flow F on M { ") + c.body + " }");
        for (const Path path : {Path::Cached, Path::Builder}) {
            EXPECT_EQ(outcome_on(path, program, &prior), c.outcome) << c.body;
        }
    }
    const ast::ProgramAst program = program_of("flow F on M { graph g = from_graph \"kept\" }");
    EXPECT_EQ(outcome_on(Path::Cached, program, nullptr),
              "Internal: graph 'kept' not found in prior flow exports or snapshots");
    EXPECT_EQ(outcome_on(Path::Builder, program, &prior, "G"), "Internal: unknown flow 'G'");
}

TEST(FlowExec, EntryPathsAgreeWithAndWithoutLowering) {
    FlowResult prior;
    prior.exports.insert_or_assign("big", sample_graph(10, 200, 3));
    prior.metric_exports = {{"prev", 5.0}};
    const ast::ProgramAst program = program_of(R"(
        flow F on M {
            import_metric prev as p
            graph base = from_graph "big"
            graph pruned = base
                |> prune_edges T where prob(edge) < 0.3 or prob(edge) > 0.85
                |> snapshot "mid"
                |> prune_edges U where prob(edge) > 0.4
            graph weighted = base |> prune_edges T where weight(edge) < 1.0
            metric n = nodes(L) |> count()
            metric total on pruned = nodes(L) |> sum(by = E[node.x])
            metric deg on pruned = avg_degree(L, T)
            metric scaled = n * p + deg
            export pruned as "out"
            export_metric scaled as "scaled"
        }
        flow Failing on M {
            import_metric prev as p
            graph base = from_graph "big"
            graph g = base |> prune_edges T where 1 / (prob(edge) - 0.5)
        }
        flow FailingMetric on M {
            import_metric prev as p
            graph base = from_graph "big"
            metric bad = p / (p - 5)
        })");
    for (const char* flow : {"F", "Failing", "FailingMetric"}) {
        const std::string cached = outcome_on(Path::Cached, program, &prior, flow);
        EXPECT_EQ(outcome_on(Path::Eager, program, &prior, flow), cached) << flow;
        EXPECT_EQ(outcome_on(Path::Builder, program, &prior, flow), cached) << flow;
    }
    EXPECT_EQ(outcome_on(Path::Cached, program, &prior, "Failing"), "Validation: division by zero");
    EXPECT_EQ(outcome_on(Path::Cached, program, &prior, "FailingMetric"),
              "Validation: division by zero in metric expression");

    // Which expressions the cache lowered.
    CraneliftJitExecutionBackend backend;
    const FlowResult r = run_flow_ir(backend, ir::ProgramIR::from(program), "F", &prior);
    const auto& prunes = backend.state().prune_entries;
    EXPECT_TRUE(prunes.at(PruneExprKey{"F", "pruned", 0}).program.has_value());
    EXPECT_EQ(prunes.at(PruneExprKey{"F", "pruned", 2}).hits, 3u);
    EXPECT_FALSE(prunes.at(PruneExprKey{"F", "pruned", 2}).program.has_value());
    EXPECT_TRUE(prunes.at(PruneExprKey{"F", "weighted", 0}).unsupported);
    EXPECT_FALSE(
        backend.state().metric_entries.at(MetricExprKey{"F", "scaled"}).program.has_value());
    // T edges with probability 0.1, 0.2 and 0.9 go, and the U edges.
    EXPECT_EQ(r.graphs.at("pruned").edges().size(), 200u - 3u * 22u - 2u);
    EXPECT_EQ(r.metrics.at("scaled"), 50.0 + (200.0 - 3 * 22 - 2) / 10.0);
    EXPECT_EQ(r.metric_exports.at("scaled"), r.metrics.at("scaled"));
}

TEST(FlowExec, TheBuilderBuildsEachEvidenceGraphInPlanOrder) {
    const ast::ProgramAst program = program_of(R"(
        evidence One on M { observe L["a"].x = 1; }
        evidence Two on M { observe L["a"].x = 1; }
        evidence One on M { observe L["a"].x = 1; observe L["b"].x = 2; }
        flow F on M {
            graph b = a |> snapshot "s"
            graph a = from_evidence Two
            graph c = from_evidence One
            metric n = nodes(L) |> count()
        })");
    std::vector<std::string> built;
    const EvidenceGraphBuilder builder = [&built](const ast::EvidenceDef& block) {
        built.push_back(block.name + "/" + std::to_string(block.observations.size()));
        return sample_graph(static_cast<int>(block.observations.size()), 0, 0);
    };
    const FlowResult r = run_flow_with_builder(program, "F", builder);
    EXPECT_EQ(built, (std::vector<std::string>{"Two/1", "One/2"}));
    EXPECT_EQ(r.metrics.at("n"), 2.0);  // on c, the last declared graph
    EXPECT_EQ(r.snapshots.at("s").nodes().size(), 1u);

    const EvidenceGraphBuilder failing = [](const ast::EvidenceDef&) -> BeliefGraph {
        throw ExecError::validation("no such model");
    };
    const auto error = error_of([&] { run_flow_with_builder(program, "F", failing); });
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, ExecError::validation("no such model"));
}

// Evidence of `edges` T edges, each with its own mix of present and absent
// observations, from 40 sources (so edges of one source are coupled).
std::string evidence_program(int edges) {
    std::string source = R"(
        schema S { node P { x: Real } edge T {} }
        belief_model M on S {
            node P { x ~ Gaussian(mean = 0, precision = 1) }
            edge T { exist ~ Bernoulli(prior = 0.5) }
        }
        evidence E on M {
)";
    for (int i = 0; i < edges; ++i) {
        const std::string edge =
            "edge T(P[\"n" + std::to_string(i % 40) + "\"], P[\"m" + std::to_string(i) + "\"])";
        source += "observe " + edge + " absent;\n";
        for (int k = 0; k < i % 5; ++k)
            source += "observe " + edge + " present;\n";
    }
    source += R"(}
        flow F on M {
            graph g = from_evidence E
            graph h = g |> infer_beliefs |> prune_edges T where prob(edge) < 0.5
            metric degree = avg_degree(P, T, min_prob = 0.6)
            export h as "h"
        })";
    return source;
}

TEST(FlowExec, EntryPathsAgreeOnEvidenceGraphs) {
    const ast::ProgramAst program = flow_test::compiled(evidence_program(150));
    const std::string builder = flow_test::outcome_on(flow_test::EntryPath::Builder, program, "F");
    CraneliftJitExecutionBackend backend;
    const FlowResult r = run_flow_ir(backend, ir::ProgramIR::from(program), "F");
    EXPECT_EQ(flow_test::result_text(r), builder);
    // The predicate ran lowered from the 64th of its 150 candidates on.
    const auto& entry = backend.state().prune_entries.at(PruneExprKey{"F", "h", 1});
    EXPECT_EQ(entry.hits, 150u);
    EXPECT_TRUE(entry.program.has_value());
    // Edges with no present observation (every fifth) fall below 0.5.
    EXPECT_EQ(r.graphs.at("h").edges().size(), 120u);
}

// A small population for the metric runs: x has posterior means 0.5, -0.5
// and 1.0 (each observation of precision 1 against the prior's 1).
constexpr std::string_view kPeople = R"(
    schema S { node Person { x: Real } }
    belief_model M on S { node Person { x ~ Gaussian(mean = 0, precision = 1) } }
    evidence People on M {
        observe Person["a"].x = 1;
        observe Person["b"].x = -1;
        observe Person["c"].x = 2;
    }
)";

// Names that a constant metric shares with the accumulator, a label or a
// field target are left alone by the optimizer.
TEST(FlowExec, MetricsNamedLikeOtherNamesLeaveThoseAlone) {
    const ast::ProgramAst program = flow_test::compiled(std::string(kPeople) + R"(
        flow Accumulator on M {
            graph g = from_evidence People
            metric value = 10
            metric folded = nodes(Person) |> fold(init = 0, step = value + 1)
        }
        flow Label on M {
            graph g = from_evidence People
            metric Person = 2
            metric people = nodes(Person) |> count()
        }
        flow FieldTarget on M {
            graph g = from_evidence People
            metric node = 1
            metric total = nodes(Person) |> sum(by = E[node.x])
        })");
    const struct {
        const char* flow;
        const char* metric;
        double value;
    } cases[] = {
        {"Accumulator", "folded", 3.0},
        {"Label", "people", 3.0},
        {"FieldTarget", "total", 1.0},
    };
    for (const auto& c : cases) {
        for (const auto path : {flow_test::EntryPath::Cached, flow_test::EntryPath::Builder}) {
            const FlowResult r = flow_test::run_on(path, program, c.flow);
            EXPECT_EQ(r.metrics.at(c.metric), c.value) << c.flow;
        }
    }
}

// A comparison of two numbers read as an event by prob, credible or
// prob_correlated keeps its meaning through the optimizer: prob(1 >= 1) is
// 0.0 (the means do not differ), not the value of a folded "1 >= 1".
TEST(FlowExec, ConstantComparisonsStayEventsInARule) {
    const struct {
        const char* expr;
        double value;
    } cases[] = {
        {"prob(1 >= 1)", 0.0},
        {"prob(2 > 1)", 1.0},
        {"prob(1 <= 2)", 1.0},
        {"credible(1 < 2, p = 0.5)", 1.0},
        {"credible(1 > 2, p = 0.5)", 0.0},
        {"prob_correlated(0.5 <= 0.25, rho = 0.5)", 0.0},
        {"(1 >= 1) + prob(1 > 2)", 1.0},  // outside the call, folded as ever
    };
    for (const auto& c : cases) {
        const ast::ProgramAst program = flow_test::compiled(std::string(kPeople) + R"(
            rule R on M { for (p: Person) => { non_bayesian_nudge p.x to )" +
                                                            c.expr + R"( } }
            flow F on M {
                graph g = from_evidence People
                graph h = g |> apply_rule R
                metric total = nodes(Person) |> sum(by = E[node.x])
            })");
        for (const auto path : {flow_test::EntryPath::Cached, flow_test::EntryPath::Builder}) {
            try {
                const FlowResult r = flow_test::run_on(path, program, "F");
                EXPECT_EQ(r.metrics.at("total"), 3 * c.value) << c.expr;
            } catch (const ExecError& e) {
                ADD_FAILURE() << c.expr << ": " << kind_name(e.kind) << ": " << e.message;
            }
        }
    }
}

TEST(FlowExec, MetricFiltersAndSumsInAFlow) {
    // The overflowing contribution is 1e308, written out.
    const ast::ProgramAst program = flow_test::compiled(std::string(kPeople) + R"(
        flow Filters on M {
            graph g = from_evidence People
            metric named = count_nodes(label = Person, where = E[node.x] > 0)
            metric positional = count_nodes(Person, E[node.x] > 0)
            metric overridden = count_nodes(Person, E[node.x] > 0, where = E[node.x] > 0.75)
            metric summed = sum_nodes(Person, E[node.x] > 0, E[node.x])
            metric folded = fold_nodes(Person, E[node.x] > 0, -E[node.x], 0, value * 2 + E[node.x])
        }
        flow Overflow on M {
            graph g = from_evidence People
            metric total = sum_nodes(label = Person, contrib = 1)" +
                                                        std::string(308, '0') + ")\n}");
    // A positional filter is read where the named one would be; the named
    // one wins. The fold takes c (1.0) before a (0.5): 0 * 2 + 1, then 1 * 2
    // + 0.5.
    for (const auto path : {flow_test::EntryPath::Cached, flow_test::EntryPath::Builder}) {
        const FlowResult r = flow_test::run_on(path, program, "Filters");
        EXPECT_EQ(r.metrics, (NameMap<double>{{"folded", 2.5},
                                              {"named", 2.0},
                                              {"overridden", 1.0},
                                              {"positional", 2.0},
                                              {"summed", 1.5}}));
        // Three times 1e308 overflows; a sum that is no number is no metric.
        EXPECT_EQ(flow_test::outcome_on(path, program, "Overflow"),
                  "Validation: metric expression produced non-finite value: NaN");
    }
}

}  // namespace
}  // namespace morvane::core::engine
