// The example programs under tests/fixtures/programs, built whole and
// compared with their expected trees. The trees are written in a compact
// outline (one line per declaration part, expressions as prefix terms) so
// that every construct of the examples is checked field by field while the
// expectation stays readable next to the source.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <variant>

#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend_build_test_support.hpp"

namespace morvane::frontend::parser {
namespace {

using namespace ast;
using support::cat;

std::string read_fixture(const std::string& name) {
    std::ifstream in(std::string(MORVANE_FIXTURES_DIR) + "/programs/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Expressions as prefix terms: (Add a 1.0), f(x, k=2), a.b, (Not x),
// exists[(a:L)-[e:T]->(b:M) where x]. A call whose name is empty shows <>.
void render(std::string& out, const ExprAst& e);

void render_args(std::string& out, const std::vector<CallArg>& args) {
    out += '(';
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out += ", ";
        if (auto* named = std::get_if<CallArg::Named>(&args[i].node)) {
            out += named->name + "=";
            render(out, named->value);
        } else {
            render(out, std::get<CallArg::Positional>(args[i].node).value);
        }
    }
    out += ')';
}

std::string pattern_text(const PatternItem& p) {
    return cat("(", p.src.var, ":", p.src.label, ")-[", p.edge.var, ":", p.edge.ty, "]->(",
               p.dst.var, ":", p.dst.label, ")");
}

void render(std::string& out, const ExprAst& e) {
    std::visit(
        [&out](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, ExprAst::Number>) {
                out += support::debug_number(x.value);
            } else if constexpr (std::is_same_v<X, ExprAst::Bool>) {
                out += x.value ? "true" : "false";
            } else if constexpr (std::is_same_v<X, ExprAst::Var>) {
                out += x.name;
            } else if constexpr (std::is_same_v<X, ExprAst::Field>) {
                render(out, *x.target);
                out += "." + x.field;
            } else if constexpr (std::is_same_v<X, ExprAst::Call>) {
                out += x.name.empty() ? "<>" : x.name;
                render_args(out, x.args);
            } else if constexpr (std::is_same_v<X, ExprAst::Unary>) {
                out += std::string("(") + std::string(unary_op_name(x.op)) + " ";
                render(out, *x.expr);
                out += ")";
            } else if constexpr (std::is_same_v<X, ExprAst::Binary>) {
                out += std::string("(") + std::string(binary_op_name(x.op)) + " ";
                render(out, *x.left);
                out += " ";
                render(out, *x.right);
                out += ")";
            } else {
                out += x.negated ? "!exists[" : "exists[";
                out += pattern_text(*x.pattern);
                if (x.where_expr) {
                    out += " where ";
                    render(out, **x.where_expr);
                }
                out += "]";
            }
        },
        e.node);
}

std::string expr_text(const ExprAst& e) {
    std::string out;
    render(out, e);
    return out;
}

template <typename T>
std::string opt_number(const std::optional<T>& v) {
    return v ? support::debug_number(*v) : "-";
}

std::string node_text(const std::string& type, const std::string& label) {
    return cat(type, "[", label, "]");
}

void render_observation(std::string& out, const ObserveStmt& o) {
    std::visit(
        [&out](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, ObserveStmt::Attribute>) {
                out += cat("  attr ", node_text(x.node_type, x.node_label), ".", x.attr, " = ",
                           support::debug_number(x.value), " precision ", opt_number(x.precision));
            } else {
                out += cat("  ", x.edge_type, " ", node_text(x.src_type, x.src_label), " -> ",
                           node_text(x.dst_type, x.dst_label));
                if constexpr (std::is_same_v<X, ObserveStmt::Edge>) {
                    out += cat(" ", evidence_mode_name(x.mode));
                } else {
                    out += cat(" weight ", support::debug_number(x.value), " precision ",
                               opt_number(x.precision));
                }
            }
            out += "\n";
        },
        o.node);
}

void render_action(std::string& out, const ActionStmt& a) {
    std::visit(
        [&out](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, ActionStmt::Let>) {
                out += "  let " + x.name + " = " + expr_text(x.expr);
            } else if constexpr (std::is_same_v<X, ActionStmt::NonBayesianNudge>) {
                out += "  nudge " + x.node_var + "." + x.attr + " to " + expr_text(x.expr);
                if (x.variance) {
                    const auto& variance_kind = x.variance->node;
                    if (std::holds_alternative<VarianceSpec::Preserve>(variance_kind)) {
                        out += " variance Preserve";
                    } else if (auto* inc = std::get_if<VarianceSpec::Increase>(&variance_kind)) {
                        out += " variance Increase " + opt_number(inc->factor);
                    } else {
                        out += " variance Decrease " +
                               opt_number(std::get<VarianceSpec::Decrease>(variance_kind).factor);
                    }
                }
            } else if constexpr (std::is_same_v<X, ActionStmt::SoftUpdate>) {
                out += "  soft " + x.node_var + "." + x.attr + " ~= " + expr_text(x.expr) +
                       " precision " + opt_number(x.precision) + " count " + opt_number(x.count);
            } else if constexpr (std::is_same_v<X, ActionStmt::Delete>) {
                out += "  delete " + x.edge_var + " confidence " + x.confidence.value_or("-");
            } else {
                out += "  suppress " + x.edge_var + " weight " + opt_number(x.weight);
            }
            out += "\n";
        },
        a.node);
}

std::string transform_text(const Transform& t) {
    return std::visit(
        [](const auto& x) -> std::string {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, Transform::ApplyRule>) {
                return "apply_rule " + x.rule;
            } else if constexpr (std::is_same_v<X, Transform::ApplyRuleset>) {
                std::string s = "apply_ruleset";
                for (const std::string& r : x.rules) s += " " + r;
                return s;
            } else if constexpr (std::is_same_v<X, Transform::Snapshot>) {
                return "snapshot " + x.name;
            } else if constexpr (std::is_same_v<X, Transform::InferBeliefs>) {
                return "infer_beliefs";
            } else {
                return "prune_edges " + x.edge_type + " " + expr_text(x.predicate);
            }
        },
        t.node);
}

std::string graph_expr_text(const GraphExpr& g) {
    return std::visit(
        [](const auto& x) -> std::string {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, GraphExpr::FromEvidence>) {
                return "from_evidence " + x.evidence;
            } else if constexpr (std::is_same_v<X, GraphExpr::FromGraph>) {
                return "from_graph " + x.alias;
            } else if constexpr (std::is_same_v<X, GraphExpr::Pipeline>) {
                std::string s = x.start;
                for (const Transform& t : x.transforms) s += " |> " + transform_text(t);
                return s;
            } else {
                std::string s = "select_model";
                for (const std::string& c : x.candidates) s += " " + c;
                return s + (x.criterion == ModelSelectionCriterion::EdgeAic ? " by EdgeAic"
                                                                            : " by EdgeBic");
            }
        },
        g.node);
}

std::string render_program(const ProgramAst& program) {
    std::string out;
    for (const Schema& s : program.schemas) {
        out += "schema " + s.name + "\n";
        for (const NodeDef& n : s.nodes) {
            out += "  node " + n.name + ":";
            for (const AttrDef& a : n.attrs) out += " " + a.name + " " + a.ty + ";";
            out += "\n";
        }
        for (const EdgeDef& e : s.edges) out += "  edge " + e.name + "\n";
    }
    for (const BeliefModel& m : program.belief_models) {
        out += "belief_model " + m.name + " on " + m.on_schema + "\n";
        for (const NodeBeliefDecl& n : m.nodes) {
            for (const auto& [attr, posterior] : n.attrs) {
                out += "  " + n.node_type + "." + attr + " ~ " + debug_text(posterior) + "\n";
            }
        }
        for (const EdgeBeliefDecl& e : m.edges) {
            out += "  " + e.edge_type + " exist ~ " + debug_text(e.exist) + "\n";
            if (e.weight) out += "  " + e.edge_type + " weight ~ " + debug_text(*e.weight) + "\n";
        }
    }
    for (const EvidenceDef& e : program.evidences) {
        out += "evidence " + e.name + " on " + e.on_model + "\n";
        for (const ObserveStmt& o : e.observations) render_observation(out, o);
    }
    for (const RuleDef& r : program.rules) {
        out += "rule " + r.name + " on " + r.on_model + " mode " + r.mode.value_or("-") + "\n";
        for (const PatternItem& p : r.patterns) out += "  pattern " + pattern_text(p) + "\n";
        if (r.where_expr) out += "  where " + expr_text(*r.where_expr) + "\n";
        for (const ActionStmt& a : r.actions) render_action(out, a);
    }
    for (const FlowDef& f : program.flows) {
        out += "flow " + f.name + " on " + f.on_model + "\n";
        for (const GraphDef& g : f.graphs) {
            out += "  graph " + g.name + " = " + graph_expr_text(g.expr) + "\n";
        }
        for (const MetricDef& m : f.metrics) {
            out += "  metric " + m.name + " on " + m.on_graph.value_or("-") + " = " +
                   expr_text(m.expr) + "\n";
        }
        for (const ExportDef& e : f.exports) out += "  export " + e.graph + " as " + e.alias + "\n";
        for (const MetricExportDef& e : f.metric_exports) {
            out += "  export_metric " + e.metric + " as " + e.alias + "\n";
        }
        for (const MetricImportDef& i : f.metric_imports) {
            out += "  import_metric " + i.source_alias + " as " + i.local_name + "\n";
        }
    }
    return out;
}

// The expected outlines, one per example program, in the order of its
// declarations kind by kind.
constexpr const char* kSocialTrustTree = R"(
schema Social
  node Person: trust Real; activity Real;
  node Group: cohesion Real;
  edge knows
  edge member_of
belief_model SocialBeliefs on Social
  Person.trust ~ Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 1.0), ("corr_activity", 0.3)] }
  Person.activity ~ Gaussian { params: [("prior_mean", 0.5), ("prior_precision", 2.0), ("corr_trust", 0.3)] }
  Group.cohesion ~ Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 0.5)] }
  knows exist ~ Bernoulli { params: [("prior", 0.4), ("pseudo_count", 2.0)] }
  knows weight ~ Gaussian { params: [("prior_mean", 1.0), ("prior_precision", 4.0)] }
  member_of exist ~ Bernoulli { params: [("prior", 0.5)] }
evidence Survey on SocialBeliefs
  attr Person[alice].trust = 1.5 precision 4.0
  attr Person[bob].trust = -0.25 precision -
  attr Person[carol].activity = 0.9 precision -
  knows Person[alice] -> Person[bob] Present
  knows Person[bob] -> Person[carol] Absent
  knows Person[alice] -> Person[carol] weight 0.8 precision 10.0
  attr Person[dave].trust = 0.4 precision -
  attr Person[dave].activity = 1.2 precision 3.0
  attr Person[erin].activity = 0.1 precision -
  attr Group[hikers].cohesion = 0.7 precision -
  knows Person[dave] -> Person[erin] Present
  knows Person[erin] -> Person[dave] Absent
  knows Person[alice] -> Person[dave] Present
  member_of Person[dave] -> Group[hikers] Present
  member_of Person[erin] -> Group[hikers] Present
rule PropagateTrust on SocialBeliefs mode for_each
  pattern (a:Person)-[k:knows]->(b:Person)
  where (And (Gt prob(k) 0.5) (Gt E(a.trust) E(b.trust)))
  let gap = (Sub E(a.trust) E(b.trust))
  nudge b.trust to (Add E(b.trust) (Mul 0.5 gap)) variance Decrease 0.9
  soft b.activity ~= E(a.activity) precision 2.0 count 1.0
rule WeakenIdleTies on SocialBeliefs mode -
  pattern (a:Person)-[k:knows]->(b:Person)
  where (Or (Lt E(a.activity) 0.2) (Lt E(b.activity) 0.2))
  suppress k weight 0.5
flow Main on SocialBeliefs
  graph observed = from_evidence Survey
  graph spread = observed |> apply_rule PropagateTrust |> infer_beliefs
  graph pruned = spread |> apply_rule WeakenIdleTies |> prune_edges knows (Lt prob(edge) 0.1)
  metric people on - = count_nodes(label=Person)
  metric trusted on pruned = count_nodes(label=Person, where=(Gt E(node.trust) 1.0))
  metric outsiders on - = (Sub people count_nodes(label=Person, where=(Gt E(node.trust) 1.0)))
  metric mean_trust on - = (Div sum_nodes(label=Person, contrib=E(node.trust)) count_nodes(label=Person))
  metric total_activity on - = sum_nodes(label=Person, contrib=E(node.activity))
  metric share on - = (Div trusted people)
  export pruned as social
  export_metric share as trusted_share
)";

constexpr const char* kChainedForecastTree = R"(
schema Market
  node Region: demand Real; growth Real;
  node Store: sales Real;
  edge serves
  edge competes
belief_model MarketBeliefs on Market
  Region.demand ~ Gaussian { params: [("prior_mean", 1000.0), ("prior_precision", 0.0001), ("observation_precision", 0.01)] }
  Region.growth ~ Gaussian { params: [("prior_mean", 0.02), ("prior_precision", 400.0)] }
  Store.sales ~ Gaussian { params: [("prior_mean", 200.0), ("prior_precision", 0.001)] }
  serves exist ~ Bernoulli { params: [("pseudo_count", 3.0)] }
  competes exist ~ Categorical { group_by: "source", prior: Uniform { pseudo_count: 2.0 }, categories: None }
evidence Quarter1 on MarketBeliefs
  attr Region[west].demand = 1200.0 precision 0.001
  attr Region[west].growth = 0.03 precision -
  attr Region[east].demand = 900.0 precision -
  attr Store[s1].sales = 250.0 precision -
  attr Store[s2].sales = 180.0 precision -
  serves Store[s1] -> Region[west] Present
  serves Store[s2] -> Region[east] Present
  serves Store[s3] -> Region[east] Absent
  competes Store[s1] -> Store[s2] Chosen
  competes Store[s1] -> Store[s3] Unchosen
rule Grow on MarketBeliefs mode for_each
  pattern (r:Region)-[__for_dummy:__FOR_NODE__]->(r:Region)
  let next = (Mul E(r.demand) (Add 1.0 E(r.growth)))
  nudge r.demand to next variance Preserve
rule SalesFollowDemand on MarketBeliefs mode -
  pattern (s:Store)-[v:serves]->(r:Region)
  where (Ge prob(v) 0.5)
  soft s.sales ~= (Div E(r.demand) 5.0) precision 0.01 count -
flow Stage1 on MarketBeliefs
  graph base = from_evidence Quarter1
  graph grown = base |> apply_rule Grow |> apply_rule SalesFollowDemand |> infer_beliefs
  metric demand on - = sum_nodes(label=Region, contrib=E(node.demand))
  metric stores on - = count_nodes(label=Store)
  export grown as stage1
  export_metric demand as total_demand
  export_metric stores as store_count
flow Stage2 on MarketBeliefs
  graph prior = from_graph stage1
  graph next = prior |> apply_rule Grow |> snapshot grown_twice |> infer_beliefs
  metric demand on next = sum_nodes(label=Region, contrib=E(node.demand))
  metric change on - = (Div (Sub demand previous_demand) previous_demand)
  metric per_store on - = (Div demand previous_stores)
  export next as stage2
  export_metric change as demand_change
  import_metric total_demand as previous_demand
  import_metric store_count as previous_stores
)";

constexpr const char* kSensorNetworkTree = R"(
schema Sensors
  node Sensor: reading Real; bias Real; health Real;
  node Hub: load Real; count Real;
  edge reports_to
  edge mirrors
belief_model SensorBeliefs on Sensors
  Sensor.reading ~ Gaussian { params: [("prior_mean", 20.0), ("prior_precision", 0.25), ("corr_bias", -0.2)] }
  Sensor.bias ~ Gaussian { params: [("prior_mean", 0.0), ("prior_precision", 4.0), ("corr_reading", -0.2)] }
  Sensor.health ~ Gaussian { params: [("prior_mean", 1.0), ("prior_precision", 1.0)] }
  Hub.load ~ Gaussian { params: [("prior_mean", 0.5), ("prior_precision", 2.0)] }
  Hub.count ~ Gaussian { params: [("prior_mean", 3.0), ("prior_precision", 0.5)] }
  reports_to exist ~ Bernoulli { params: [("prior", 0.9)] }
  reports_to weight ~ Gaussian { params: [("prior_mean", 1.0), ("prior_precision", 1.0)] }
  mirrors exist ~ Bernoulli { params: [("prior", 0.1), ("pseudo_count", 1.5)] }
evidence Readings on SensorBeliefs
  attr Sensor[t-01].reading = 21.5 precision 2.0
  attr Sensor[t-02].reading = 19.25 precision -
  attr Sensor[t-03].reading = 35.0 precision -
  attr Sensor[t-03].health = 0.2 precision -
  attr Hub[7].load = 0.75 precision -
  reports_to Sensor[t-01] -> Hub[7] Present
  reports_to Sensor[t-02] -> Hub[7] weight 1.25 precision -
  reports_to Sensor[t-03] -> Hub[7] Present
  mirrors Sensor[t-01] -> Sensor[t-02] Present
  reports_to Sensor[t-04] -> Hub[8] Present
  reports_to Sensor[t-05] -> Hub[8] Absent
rule FlagOutliers on SensorBeliefs mode -
  pattern (s:Sensor)-[r:reports_to]->(h:Hub)
  where (And (And (Gt prob(r) 0.5) exists[(o:Sensor)-[q:reports_to]->(h:Hub) where (And (Gt prob(q) 0.5) (Lt ci_hi(o.reading, 0.95) quantile(s.reading, 0.05)))]) (Not exists[(s:Sensor)-[m:mirrors]->(t:Sensor)]))
  let spread = (Add stddev(s.reading) (Div variance(s.bias) 2.0))
  let confidence = credible((Gt s.reading 30.0), p=0.9, rho=0.1)
  let flagged = true
  nudge s.bias to (Sub E(s.reading) 20.0) variance Increase -
  soft s.health ~= (Add (Mul (Mul (Sub 1.0 confidence) E(s.health)) flagged) 0.1) precision 2.0 count -
  suppress r weight 3.0
rule CheckMirrors on SensorBeliefs mode -
  pattern (a:Sensor)-[m:mirrors]->(b:Sensor)
  where (Or (Ge prob_correlated((Gt a.reading b.reading), rho=0.5) 0.9) (Le corr(a.reading, a.bias) (Neg 0.5)))
  let strict = false
  let gap = (Mul (Sub E(a.reading) E(b.reading)) (Sub 1.0 strict))
  soft a.bias ~= (Div gap 2.0) precision 0.5 count 2.0
  soft b.bias ~= (Add (Mul cov(b.reading, b.bias) 0.0) ci_lo(b.reading, 0.5)) precision 1.0 count -
  delete m confidence low
rule Balance on SensorBeliefs mode -
  pattern (s:Sensor)-[r:reports_to]->(h:Hub)
  where (And (Gt degree(s, min_prob=0.5) 1.0) (Ge E(h.count) 2.0))
  soft h.load ~= (Mul E(h.load) 0.9) precision 4.0 count -
flow Monitor on SensorBeliefs
  graph raw = from_evidence Readings
  graph checked = raw |> apply_ruleset FlagOutliers CheckMirrors Balance |> infer_beliefs |> prune_edges reports_to (Or (Lt weight(edge) 0.5) (Lt prob(edge) 0.2)) |> prune_edges mirrors (Lt prob(edge) 0.05)
  metric healthy on - = count_nodes(label=Sensor, where=(And (Ge E(node.health) 0.5) (Lt stddev(node.reading) 5.0)))
  metric hub_load on - = (Div sum_nodes(label=Hub, contrib=E(node.load)) count_nodes(label=Hub))
  metric attached on - = sum_nodes(label=Hub, contrib=E(node.count))
  metric degree_mean on - = avg_degree(label=Sensor, edge_type=reports_to, min_prob=0.5)
  metric worst on - = fold_nodes(label=Sensor, init=0.0, step=(Add value (Mul quantile(node.reading, 0.99) (Gt degree(node) 0.0))))
  metric alert on - = (Or (Eq (Lt healthy 2.0) true) (Gt (Neg hub_load) (Neg 0.9)))
  export checked as monitored
  export_metric alert as alert
)";

constexpr const char* kSupplyChainTree = R"(
schema Supply
  node Plant: capacity Real; risk Real;
  node Supplier: reliability Real; cost Real;
  edge sources_from
  edge backs_up
  edge ships_to
belief_model SupplyBeliefs on Supply
  Plant.capacity ~ Gaussian { params: [("prior_mean", 100.0), ("prior_precision", 0.01)] }
  Plant.risk ~ Gaussian { params: [("prior_mean", 0.2), ("prior_precision", 25.0)] }
  Supplier.reliability ~ Gaussian { params: [("prior_mean", 0.8), ("prior_precision", 10.0)] }
  Supplier.cost ~ Gaussian { params: [("prior_mean", 50.0), ("prior_precision", 0.04)] }
  sources_from exist ~ Categorical { group_by: "source", prior: Uniform { pseudo_count: 1.0 }, categories: Some(["acme", "globex", "initech"]) }
  backs_up exist ~ Categorical { group_by: "source", prior: Explicit { concentrations: [2.0, 1.0] }, categories: None }
  ships_to exist ~ Bernoulli { params: [("prior", 0.7)] }
  ships_to weight ~ Gaussian { params: [("prior_mean", 10.0), ("prior_precision", 0.1)] }
evidence Contracts on SupplyBeliefs
  sources_from Plant[north] -> Supplier[acme] Chosen
  sources_from Plant[north] -> Supplier[globex] Unchosen
  sources_from Plant[south] -> Supplier[acme] Chosen
  sources_from Plant[south] -> Supplier[initech] Unchosen
  sources_from Plant[east] -> Supplier[initech] ForcedChoice
  backs_up Supplier[globex] -> Supplier[acme] Chosen
  backs_up Supplier[globex] -> Supplier[initech] Unchosen
  ships_to Supplier[acme] -> Plant[north] weight 12.5 precision 0.5
  ships_to Supplier[globex] -> Plant[north] Absent
  ships_to Supplier[acme] -> Plant[south] Present
  ships_to Supplier[initech] -> Plant[east] Present
  attr Supplier[acme].reliability = 0.95 precision 40.0
  attr Supplier[acme].cost = 60.0 precision -
  attr Supplier[globex].reliability = 0.7 precision -
  attr Supplier[globex].cost = 38.0 precision -
  attr Supplier[initech].reliability = 0.85 precision -
  attr Plant[north].capacity = 120.0 precision -
  attr Plant[south].capacity = 80.0 precision -
  attr Plant[south].risk = 0.4 precision -
rule AvoidUnreliable on SupplyBeliefs mode -
  pattern (v:Supplier)-[t:ships_to]->(p:Plant)
  where (And (Lt E(v.reliability) 0.75) (Gt E(p.risk) 0.3))
  delete t confidence high
rule ReviewCheapSuppliers on SupplyBeliefs mode fixpoint
  pattern (p:Plant)-[s:sources_from]->(v:Supplier)
  pattern (v:Supplier)-[t:ships_to]->(p:Plant)
  where (And (And (Le E(v.cost) 40.0) (Ge weight(t) 5.0)) (Ne winner(p, sources_from, epsilon=0.05) (Neg 1.0)))
  suppress t weight 2.0
  delete t confidence low
rule RiskFromChoice on SupplyBeliefs mode -
  pattern (p:Plant)-[__for_dummy:__FOR_NODE__]->(p:Plant)
  where (Gt entropy(p, sources_from) 0.5)
  nudge p.risk to (Mul E(p.risk) 1.1) variance Increase 1.5
  soft p.capacity ~= (Mul E(p.capacity) 0.95) precision - count 3.0
flow Plan on SupplyBeliefs
  graph contracts = from_evidence Contracts
  graph reviewed = contracts |> apply_ruleset ReviewCheapSuppliers AvoidUnreliable RiskFromChoice |> snapshot after_rules
  graph propagated = reviewed |> infer_beliefs
  graph chosen = select_model reviewed propagated by EdgeBic
  graph simplest = select_model propagated reviewed by EdgeAic
  graph routes = chosen |> prune_edges ships_to (Lt prob(edge) 0.05)
  metric plants on - = count_nodes(label=Plant)
  metric riskiest on - = fold_nodes(label=Plant, order_by=E(node.risk), init=0.0, step=(Add value E(node.risk)))
  metric weighted_capacity on - = fold_nodes(label=Plant, where=(Gt degree(node, min_prob=0.5) 0.0), order_by=E(node.capacity), init=0.0, step=(Add value (Mul E(node.capacity) (Sub 1.0 E(node.risk)))))
  export routes as plan
  export simplest as plan_aic
  export_metric plants as plant_count
  export_metric weighted_capacity as capacity
)";

TEST(BuildFixtures, ExamplesBuildToTheirExpectedTrees) {
    const struct {
        const char* file;
        const char* tree;
    } cases[] = {
        {"social_trust.mv", kSocialTrustTree},
        {"chained_forecast.mv", kChainedForecastTree},
        {"sensor_network.mv", kSensorNetworkTree},
        {"supply_chain.mv", kSupplyChainTree},
    };
    for (const auto& c : cases) {
        const std::string expected = std::string(c.tree).substr(1);  // after the first line feed
        EXPECT_EQ(render_program(parse_program(read_fixture(c.file))), expected) << c.file;
    }
}

}  // namespace
}  // namespace morvane::frontend::parser
