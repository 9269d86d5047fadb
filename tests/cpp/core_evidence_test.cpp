#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/evidence.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/errors.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "ir/program.hpp"

namespace morvane::core::engine {
namespace {

using support::cat;

// A schema and belief model that every case starts from; a case may replace
// either. Programs are built without validation: the construction makes its
// own checks, which is what run-time evidence relies on.
constexpr std::string_view kSchema = R"(
    node P { a: Real; b: Real }
    node Q { x: Real }
    edge T {}
    edge C {}
    edge W {}
)";
constexpr std::string_view kModel = R"(
    node P {
        a ~ Gaussian(mean = 1, corr_b = 0.5);
        b ~ Gaussian(precision = 2, observation_precision = 4, corr_a = 0.5, corr_b = 1)
    }
    node Q { x ~ Gaussian(mean = 0) }
    edge T { exist ~ Bernoulli(prior = 0.5) }
    edge C { exist ~ Categorical(group_by = source, pseudo_count = 3) }
    edge W {
        exist ~ Bernoulli(prior = 0.2, weight = 10);
        weight ~ Gaussian(mean = 5, precision = 1)
    }
)";

frontend::ast::ProgramAst program(std::string_view evidence, std::string_view model = kModel,
                                  std::string_view schema = kSchema) {
    return frontend::parser::parse_program(cat("schema S {", schema, "}\nbelief_model M on S {",
                                               model, "}\nevidence E on M {", evidence, "}\n"));
}

BeliefGraph build(std::string_view evidence, std::string_view model = kModel,
                  std::string_view schema = kSchema) {
    const auto p = program(evidence, model, schema);
    return build_graph_from_evidence(p.evidences.at(0), p);
}

// "Kind: message" of the construction's error, or "<built>".
std::string error_of(std::string_view evidence, std::string_view model = kModel,
                     std::string_view schema = kSchema) {
    try {
        build(evidence, model, schema);
    } catch (const ExecError& e) {
        return cat(kind_name(e.kind), ": ", e.message);
    } catch (const frontend::FrontendError& e) {
        return cat("<does not parse> ", e.text());
    }
    return "<built>";
}

// "Type:name" of every node, in id order.
std::vector<std::string> node_names(const BeliefGraph& g) {
    std::vector<std::string> out;
    for (const NodeData& n : g.nodes()) {
        EXPECT_EQ(n.id.value, out.size());
        out.push_back(cat(n.label.view(), ":", g.node_name(n.id).value_or("?")));
    }
    return out;
}

// "src->dst" of every edge, in id order.
std::vector<std::string> edge_ends(const BeliefGraph& g) {
    std::vector<std::string> out;
    for (const EdgeData& e : g.edges()) {
        EXPECT_EQ(e.id.value, out.size());
        out.push_back(cat(e.edge_type.view(), " ", e.src.value, "->", e.dst.value));
    }
    return out;
}

EdgePosterior::Independent beta_of(const BeliefGraph& g, uint32_t edge) {
    return *g.edge(EdgeId{edge})->posterior.independent();
}

// The posterior after one conjugate update, as the graph store computes it.
GaussianPosterior updated(GaussianPosterior prior, double value, double obs) {
    const double precision = obs + prior.precision;
    return {prior.mean + (value - prior.mean) * (obs / precision), precision};
}

TEST(EvidenceGraph, NodesInTypeAndLabelByteOrder) {
    const BeliefGraph g = build(R"(
        observe edge T(Q(b), Q(a)) present;
        observe P(Z).a = 1; observe P(a).a = 1; observe P(10).a = 1; observe P(9).a = 1;
        observe P["carol"].a = 1; observe P(carol).b = 2; observe P(Carol).b = 2;
        observe P["a label longer than most 2"].a = 1;
        observe P["a label longer than most 10"].a = 1;
        observe P["a label longer than most 2"].b = 1;
    )");
    EXPECT_EQ(node_names(g),
              (std::vector<std::string>{"P:10", "P:9", "P:Carol", "P:Z", "P:a",
                                        "P:a label longer than most 10",
                                        "P:a label longer than most 2", "P:carol", "Q:a", "Q:b"}));
    EXPECT_EQ(edge_ends(g), std::vector<std::string>{"T 9->8"});
    EXPECT_TRUE(g.deltas().empty());
    EXPECT_EQ(g.base_use_count(), 1);

    const BeliefGraph empty = build("");
    EXPECT_TRUE(empty.nodes().empty());
    EXPECT_TRUE(empty.edges().empty());
    EXPECT_TRUE(empty.competing_groups().empty());
}

TEST(EvidenceGraph, PriorsCorrelationsAndUpdates) {
    const BeliefGraph g = build(R"(
        observe edge T(P(s), Q(d)) present;
        observe edge T(P(s), Q(d)) present;
        observe edge W(P(s), Q(d)) weight = 7;
        observe edge W(P(s), Q(e)) absent;
        observe P(s).b = 3;
    )");
    // Nodes: P:s 0, Q:d 1, Q:e 2. A node named only by edges has every
    // attribute of its schema type with the model's prior.
    EXPECT_EQ(*g.node(NodeId{0})->attrs.find("a"), (GaussianPosterior{1.0, 0.01}));
    EXPECT_EQ(*g.node(NodeId{1})->attrs.find("x"), (GaussianPosterior{0.0, 0.01}));
    EXPECT_EQ(*g.node(NodeId{0})->attrs.find("b"), updated({0.0, 2.0}, 3.0, 4.0));
    EXPECT_EQ(g.attr_correlation(NodeId{0}, "a", "b"), 0.5);  // declared on both sides: one pair
    EXPECT_EQ(g.base().attr_correlations.size(), 1u);         // the self pair b-b stores nothing

    // Bernoulli() starts at alpha = beta = 1 and takes both observations;
    // prior 0.2 with weight 10 starts at 2 and 8.
    EXPECT_EQ(edge_ends(g), (std::vector<std::string>{"T 0->1", "W 0->1", "W 0->2"}));
    EXPECT_EQ(beta_of(g, 0), (EdgePosterior::Independent{3.0, 1.0}));
    EXPECT_EQ(beta_of(g, 1), (EdgePosterior::Independent{2.0, 8.0}));
    EXPECT_EQ(beta_of(g, 2), (EdgePosterior::Independent{2.0, 9.0}));
    EXPECT_EQ(*g.base().edge_weights.find(EdgeId{1}), updated({5.0, 1.0}, 7.0, 1.0));
    EXPECT_EQ(*g.base().edge_weights.find(EdgeId{2}), (GaussianPosterior{5.0, 1.0}));
    EXPECT_FALSE(g.base().edge_weights.contains(EdgeId{0}));
}

TEST(EvidenceGraph, CompetingGroups) {
    const BeliefGraph g = build(R"(
        observe edge C(P(s), Q(c)) chosen;
        observe edge C(P(s), Q(a)) unchosen;
        observe edge C(Q(b), P(s)) forced_choice;
    )");
    // Nodes: P:s 0, Q:a 1, Q:b 2, Q:c 3. Groups by first need: (P:s, C) 0,
    // (Q:b, C) 1. Categories by destination id, whatever the written order;
    // the prior's 3 spread evenly over them.
    EXPECT_EQ(edge_ends(g), (std::vector<std::string>{"C 0->3", "C 0->1", "C 2->0"}));
    const CompetingEdgeGroup& first = *g.competing_groups().find(CompetingGroupId{0});
    EXPECT_EQ(first.source, NodeId{0});
    EXPECT_EQ(first.categories, (std::vector<NodeId>{NodeId{1}, NodeId{3}}));
    EXPECT_EQ(first.posterior.concentrations, (std::vector<double>{1.5, 3.5}));
    EXPECT_EQ(*g.edge(EdgeId{0})->posterior.competing(),
              (EdgePosterior::Competing{CompetingGroupId{0}, 1}));
    const CompetingEdgeGroup& second = *g.competing_groups().find(CompetingGroupId{1});
    EXPECT_EQ(second.source, NodeId{2});
    EXPECT_EQ(second.posterior.concentrations, (std::vector<double>{1e6}));

    const BeliefGraph three =
        build("choose edge C(P(s), Q(c)); choose edge C(P(s), Q(a)); choose edge C(P(s), Q(b));");
    EXPECT_EQ(three.competing_groups().find(CompetingGroupId{0})->posterior.concentrations,
              (std::vector<double>{2.0, 2.0, 2.0}));

    // Listed categories only admit destinations: K counts observed ones.
    constexpr std::string_view listing = R"(
        node P {} node Q {}
        edge C { exist ~ Categorical(group_by = source, prior = [4], categories = ["a", "b"]) }
    )";
    const BeliefGraph listed =
        build("choose edge C(P(s), Q(a));", listing, "node P {} node Q {} edge C {}");
    EXPECT_EQ(listed.competing_groups().find(CompetingGroupId{0})->posterior.concentrations,
              std::vector<double>{5.0});
}

// A legal pseudo count so small that its share of each category underflows
// keeps every concentration positive: the smallest positive double. Weight
// observations make the group without changing its prior.
TEST(EvidenceGraph, UniformShareOfATinyPseudoCount) {
    const double smallest = std::numeric_limits<double>::denorm_min();
    const struct {
        double pseudo_count;
        int categories;
        double share;
    } cases[] = {
        {smallest, 1, smallest},      {smallest, 2, smallest}, {smallest, 3, smallest},
        {2 * smallest, 2, smallest},  {3, 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(cat(support::plain_number(c.pseudo_count), " over ", c.categories));
        const std::string model =
            cat("node P { a ~ Gaussian(mean = 0) b ~ Gaussian(mean = 0) }"
                "node Q { x ~ Gaussian(mean = 0) }"
                "edge C { exist ~ Categorical(group_by = source, pseudo_count = ",
                support::plain_number(c.pseudo_count), "); weight ~ Gaussian(mean = 0) }");
        std::string evidence;
        for (int k = 0; k < c.categories; ++k)
            evidence += cat("observe edge C(P(s), Q(q", k, ")) weight = 1;");
        EXPECT_EQ(build(evidence, model).competing_groups().find(CompetingGroupId{0})
                      ->posterior.concentrations,
                  std::vector<double>(c.categories, c.share));
    }
}

TEST(EvidenceGraph, MessagesAndCategories) {
    constexpr std::string_view two_attrs =
        "node P { a: Real; b: Real } edge T {} edge C {} edge W {}";
    const struct {
        std::string_view evidence, model, schema;
        std::string want;
    } cases[] = {
        {"observe Q(q).x = 1;", "node Q { x ~ Gaussian(mean = 0) }", "node P {}",
         "Validation: Node type 'Q' not found in schema 'S'"},
        {"observe Q(q).x = 1;", "node P { a ~ Gaussian(mean = 0) }", "node Q { x: Real }",
         "Validation: Node type 'Q' not declared in belief model 'M'"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(corr_ = 0.5); b ~ Gaussian(mean = 0) }",
         two_attrs,
         "Validation: Invalid Gaussian correlation parameter 'corr_' on 'P.a' in belief model 'M'"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(corr_z = 0.5); b ~ Gaussian(mean = 0) }",
         two_attrs,
         "Validation: Correlation parameter 'P.corr_z = 0.5' references unknown attribute 'z' in "
         "belief model 'M'"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(corr_b = -1.5); b ~ Gaussian(mean = 0) }",
         two_attrs, "Validation: Correlation 'P.corr_b' must be finite and in [-1, 1], got -1.5"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(corr_a = 0.9); b ~ Gaussian(mean = 0) }",
         two_attrs, "Validation: Self-correlation 'P.a' must be exactly 1, got 0.9"},
        {"observe P(p).a = 1;", "node P { b ~ Gaussian(corr_a = 0.5); a ~ Gaussian(corr_b = 0.6) }",
         two_attrs,
         "Validation: Conflicting correlation declarations for 'P.a' and 'P.b' in belief model "
         "'M': 0.5 vs 0.6"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(mean = 0) }", two_attrs,
         "Validation: Attribute 'b' not declared for node type 'P' in belief model"},
        {"observe P(p).a = 1;", "node P { a ~ Gaussian(mean = 0); b ~ Bernoulli(prior = 0.5) }",
         two_attrs,
         "Validation: Node attributes must use GaussianPosterior, got Bernoulli { params: "
         "[(\"prior\", 0.5)] }"},
        {"observe edge T(P(p), P(q)) present;", "node P {}", "node P {} edge T {}",
         "Validation: Edge type 'T' not declared in belief model 'M'"},
        {"choose edge C(P(p), P(q));",
         "node P {} edge C { exist ~ Categorical(group_by = source, pseudo_count = 1, "
         "categories = [\"a\", \"b\"]) }",
         "node P {} edge C {}",
         "Validation: Destination 'q' is not allowed for categorical edge 'C'; expected one of "
         "[\"a\", \"b\"]"},
        {"observe edge T(P(p), Q(q)) weight = 2;", kModel, kSchema,
         "Validation: Edge 'T' does not declare weight posterior but evidence observes weight"},
        {"observe edge T(P(p), P(q)) present;",
         "node P {} edge T { exist ~ Bernoulli(prior = 0.5) }", "node P {}",
         "Validation: Edge type 'T' not found in schema"},
        {"observe edge T(P(p), P(q)) present;", "node P {} edge T { exist ~ Gaussian(mean = 0) }",
         "node P {} edge T {}",
         "Validation: Edge posterior type not supported: Gaussian { params: [(\"prior_mean\", "
         "0.0)] }"},
        {"choose edge C(P(p), P(q));",
         "node P {} edge C { exist ~ Categorical(group_by = destination, pseudo_count = 1) }",
         "node P {} edge C {}",
         "Validation: CategoricalPosterior with group_by='destination' not yet supported (only "
         "'source')"},
        {"choose edge C(P(p), P(q)); choose edge C(P(p), P(r)); choose edge C(P(p), P(s));",
         "node P {} edge C { exist ~ Categorical(group_by = source, prior = [1, 2]) }",
         "node P {} edge C {}",
         "Validation: Explicit CategoricalPrior must match fixed category count (got 2, "
         "expected 3)"},
        {"observe edge T(P(p), P(q)) present;",
         "node P {} edge T { exist ~ Bernoulli(prior = 0.5); weight ~ Bernoulli(weight = 2) }",
         "node P {} edge T {}",
         "Validation: Edge 'T.weight' must use GaussianPosterior, got Bernoulli { params: "
         "[(\"pseudo_count\", 2.0)] }"},
        // Errors of the graph store keep their texts and categories.
        {"observe edge C(P(p), Q(q)) present;", kModel, kSchema,
         "Validation: observe() only valid for independent edges; use observe_chosen for "
         "competing edges"},
        {"choose edge T(P(p), Q(q));", kModel, kSchema,
         "Validation: observe_edge_chosen() only valid for competing edges"},
        {"observe edge T(P(p), Q(q)) weight = 2 (precision = 1);", kModel, kSchema,
         "Validation: edge EdgeId(0) does not declare a continuous weight posterior"},
        {"observe edge W(P(p), Q(q)) weight = 2 (precision = 0);", kModel, kSchema,
         "Validation: edge weight observation precision must be finite and > 0, got 0"},
        {"observe P(p).z = 1;", "node P { a ~ Gaussian(mean = 0); z ~ Gaussian(mean = 0) }",
         "node P { a: Real }", "Internal: missing attr 'z'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of(c.evidence, c.model, c.schema), c.want) << c.evidence;
    }

    const auto orphans = frontend::parser::parse_program(
        "belief_model M on Nope {} evidence E on M {} evidence F on Gone {}");
    const auto resolution_error = [&](const frontend::ast::EvidenceDef& evidence) {
        try {
            build_graph_from_evidence(evidence, orphans);
        } catch (const ExecError& e) {
            return cat(kind_name(e.kind), ": ", e.message);
        }
        return std::string("<built>");
    };
    EXPECT_EQ(resolution_error(orphans.evidences.at(0)),
              "Validation: Belief model 'M' references unknown schema 'Nope'");
    EXPECT_EQ(resolution_error(orphans.evidences.at(1)),
              "Validation: Evidence 'F' references unknown belief model 'Gone'");
}

// Each pair of errors is written so that observation order alone would
// report the second; the construction's steps report the first.
TEST(EvidenceGraph, PrecedenceOfErrors) {
    const struct {
        const char* evidence;
        const char* want;
    } cases[] = {
        // Node errors in sorted node order, before edge-type errors.
        {"observe edge Bad(P(p), P(q)) present; observe Z(z).a = 1; observe Y(y).a = 1;",
         "Validation: Node type 'Y' not found in schema 'S'"},
        // Edge types and categories (all observations) before edge creation.
        {"observe edge W(P(p), Q(q)) weight = 1 (precision = -1); observe edge W(P(p), Q(q)) "
         "weight = 2; observe edge T(P(p), Q(q)) weight = 3; observe edge Bad(P(p), Q(q)) "
         "present;",
         "Validation: Edge type 'Bad' not declared in belief model 'M'"},
        // Preparation in observation order, before any update.
        {"observe edge C(P(p), Q(q)) present; observe P(p).x = 1; observe edge T(P(p), Q(q)) "
         "weight = 3;",
         "Validation: Attribute 'x' not declared for node type 'P' in belief model"},
        // Update passes: choices, presence, weights, attributes.
        {"observe P(p).z = 1 (precision = 1); observe edge W(P(p), Q(q)) weight = 1 (precision = "
         "0); observe edge C(P(p), Q(q)) present; choose edge T(P(p), Q(q));",
         "Validation: observe_edge_chosen() only valid for competing edges"},
        {"observe P(p).z = 1 (precision = 1); observe edge W(P(p), Q(q)) weight = 1 (precision = "
         "0); observe edge C(P(p), Q(q)) present;",
         "Validation: observe() only valid for independent edges; use observe_chosen for "
         "competing edges"},
        {"observe P(p).z = 1; observe edge W(P(p), Q(q)) weight = 1 (precision = 0);",
         "Validation: edge weight observation precision must be finite and > 0, got 0"},
        // Within a pass: ascending edge id, then node id and attribute name.
        {"observe edge W(P(p), Q(r)) weight = 1; observe edge W(P(p), Q(q)) weight = 1 (precision "
         "= 0); observe edge W(P(p), Q(r)) weight = 1 (precision = -1);",
         "Validation: edge weight observation precision must be finite and > 0, got -1"},
        {"observe Q(q).zz = 1; observe P(p).zy = 1; observe P(p).z = 1;",
         "Internal: missing attr 'z'"},
    };
    constexpr std::string_view model = R"(
        node P { a ~ Gaussian(mean = 0); b ~ Gaussian(mean = 0); z ~ Gaussian(mean = 0);
                 zy ~ Gaussian(mean = 0) }
        node Q { x ~ Gaussian(mean = 0); zz ~ Gaussian(mean = 0) }
        node Y { a ~ Gaussian(mean = 0) }
        node Z { a ~ Gaussian(mean = 0) }
        edge T { exist ~ Bernoulli(prior = 0.5) }
        edge C { exist ~ Categorical(group_by = source, pseudo_count = 3) }
        edge W { exist ~ Bernoulli(prior = 0.5); weight ~ Gaussian(mean = 0) }
    )";
    for (const auto& c : cases) {
        EXPECT_EQ(error_of(c.evidence, model), c.want) << c.evidence;
    }
}

std::string read_fixture(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void expect_same_graph(const BeliefGraph& a, const BeliefGraph& b) {
    EXPECT_EQ(a.nodes(), b.nodes());
    EXPECT_EQ(a.edges(), b.edges());
    EXPECT_EQ(a.competing_groups(), b.competing_groups());
    EXPECT_EQ(a.base().attr_correlations, b.base().attr_correlations);
    EXPECT_EQ(a.base().node_names, b.base().node_names);
    EXPECT_EQ(a.base().edge_weights, b.base().edge_weights);
}

TEST(EvidenceGraph, EveryFixtureBlockBuilds) {
    int blocks = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(MORVANE_FIXTURES_DIR) + "/programs")) {
        if (entry.path().extension() != ".mv") continue;
        const auto program = parse_and_validate(read_fixture(entry.path()));
        const ir::ProgramIR lowered = ir::ProgramIR::from(program);
        for (std::size_t i = 0; i < program.evidences.size(); ++i, ++blocks) {
            SCOPED_TRACE(cat(entry.path().filename().string(), " ", program.evidences[i].name));
            try {
                const BeliefGraph g = build_graph_from_evidence(program.evidences[i], program);
                EXPECT_FALSE(g.nodes().empty());
                expect_same_graph(g, build_graph_from_evidence_ir(lowered.evidences[i], lowered));
            } catch (const ExecError& e) {
                ADD_FAILURE() << e.message;
            }
        }
    }
    EXPECT_GE(blocks, 4);
}

// chained_forecast.mv, block Quarter1, derived by hand.
TEST(EvidenceGraph, FixtureIdsAndPosteriors) {
    const auto program = parse_and_validate(
        read_fixture(std::string(MORVANE_FIXTURES_DIR) + "/programs/chained_forecast.mv"));
    const BeliefGraph g = build_graph_from_evidence(program.evidences.at(0), program);
    EXPECT_EQ(node_names(g), (std::vector<std::string>{"Region:east", "Region:west", "Store:s1",
                                                       "Store:s2", "Store:s3"}));
    EXPECT_EQ(edge_ends(g), (std::vector<std::string>{"serves 2->1", "serves 3->0", "serves 4->0",
                                                      "competes 2->3", "competes 2->4"}));
    // serves: weight 3 at prior 0.5 gives 1.5 and 1.5; s3 -/> east is absent.
    EXPECT_EQ(beta_of(g, 0), (EdgePosterior::Independent{2.5, 1.5}));
    EXPECT_EQ(beta_of(g, 2), (EdgePosterior::Independent{1.5, 2.5}));
    // competes: one group for s1, categories s2 and s3 at 2 / 2 = 1 each;
    // chosen s2 adds one to s2, unchosen s3 one to the other category (s2).
    ASSERT_EQ(g.competing_groups().size(), 1u);
    const CompetingEdgeGroup& group = *g.competing_groups().find(CompetingGroupId{0});
    EXPECT_EQ(group.categories, (std::vector<NodeId>{NodeId{3}, NodeId{4}}));
    EXPECT_EQ(group.posterior.concentrations, (std::vector<double>{3.0, 1.0}));
    EXPECT_EQ(*g.edge(EdgeId{4})->posterior.competing(),
              (EdgePosterior::Competing{CompetingGroupId{0}, 1}));
    // west: demand 1200 at its own precision 0.001; east: demand 900 at the
    // declared observation precision 0.01; growth at the default 1.
    const GaussianPosterior demand{1000.0, 0.0001};
    EXPECT_EQ(g.get_node_attr_with_deltas(NodeId{1}, "demand"), updated(demand, 1200, 0.001));
    EXPECT_EQ(g.get_node_attr_with_deltas(NodeId{0}, "demand"), updated(demand, 900, 0.01));
    EXPECT_EQ(g.get_node_attr_with_deltas(NodeId{1}, "growth"), updated({0.02, 400}, 0.03, 1));
    EXPECT_NEAR(g.expectation(NodeId{1}, "demand"), 1000 + 200 / 1.1, 1e-9);
    EXPECT_EQ(g.get_node_attr_with_deltas(NodeId{4}, "sales"), (GaussianPosterior{200, 0.001}));
}

}  // namespace
}  // namespace morvane::core::engine
