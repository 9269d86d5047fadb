// Validation diagnostics as a user reads them: source text through the whole
// compile pipeline to the final message, with its context and span.
//
// Each case writes the span it expects into the source itself: the text
// between « and » is the range the diagnostic must point at (the markers
// are removed before compiling). A case without markers expects no span.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::core {
namespace {

using engine::ExecError;
using engine::ExecErrorKind;

// One schema line for every case; cases start on line 2.
constexpr std::string_view kSchema =
    "schema S { node P { x: Real y: Real } node Q { z: Real } edge K {} edge C {} edge D {} }\n";

// A valid model of that schema: K independent with a weight, C competing,
// D independent without a weight.
constexpr std::string_view kModel =
    "belief_model M on S { node P { x ~ Gaussian(mean = 0) } "
    "edge K { exist ~ Bernoulli(prior = 0.5) weight ~ Gaussian(mean = 0) } "
    "edge C { exist ~ Categorical(group_by = source, pseudo_count = 1) } "
    "edge D { exist ~ Bernoulli(prior = 0.5) } }\n";

constexpr std::string_view kOpen = "\xC2\xAB";   // «
constexpr std::string_view kClose = "\xC2\xBB";  // »

struct Unmarked {
    std::string source;
    std::string span_text;  // " (at l:c-l:c)" or empty
};

// Removes the markers and computes the position of what they enclose:
// lines end at "\n", columns count characters.
Unmarked unmark(std::string_view marked) {
    Unmarked out;
    uint32_t line = 1, col = 1;
    uint32_t start_line = 0, start_col = 0;
    for (size_t i = 0; i < marked.size();) {
        const std::string_view rest = marked.substr(i);
        if (rest.starts_with(kOpen)) {
            start_line = line;
            start_col = col;
            i += kOpen.size();
            continue;
        }
        if (rest.starts_with(kClose)) {
            out.span_text = support::fill(" (at {}:{}-{}:{})", start_line, start_col, line, col);
            i += kClose.size();
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(marked[i]);
        out.source += marked[i++];
        if (c == '\n') {
            ++line;
            col = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++col;
        }
        while (i < marked.size() && (static_cast<unsigned char>(marked[i]) & 0xC0) == 0x80) {
            out.source += marked[i++];
        }
    }
    return out;
}

// "ok", or the message of the validation error (any other failure is
// reported as such).
std::string compile_result(const std::string& source) {
    try {
        parse_and_validate(source);
        return "ok";
    } catch (const ExecError& error) {
        if (error.kind != ExecErrorKind::Validation) {
            return support::cat(engine::kind_name(error.kind), " error: ", error.message);
        }
        return error.message;
    }
}

struct Case {
    std::string decls;     // after the schema line, with the span marked
    std::string expected;  // the diagnostic without its span; "ok" for none
};

void expect_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const Unmarked u = unmark(std::string(kSchema) + c.decls);
        const std::string expected = c.expected == "ok" ? "ok" : c.expected + u.span_text;
        EXPECT_EQ(compile_result(u.source), expected) << c.decls;
    }
}

// A belief model on line 2, marked as a whole, whose body is `body`.
std::string marked_model(std::string_view body) {
    return support::cat(
        "\xC2\xAB"
        "belief_model M on S { ",
        body, " }\xC2\xBB");
}

std::string model_error(std::string_view message) {
    return support::cat("validation error [belief_model 'M']: ", message);
}

// A number token too large for a double: it reads as infinity.
std::string huge_number() {
    return "1" + std::string(400, '0');
}

TEST(CompileValidation, BeliefModelDeclarations) {
    const std::string px = "node attribute 'P.x'";
    expect_cases({
        {"\xC2\xAB"
         "belief_model M on T { }\xC2\xBB",
         model_error("Belief model 'M' references unknown schema 'T'")},
        {marked_model("node R { }"), model_error("Node type 'R' not found in schema 'S'")},
        {marked_model("node P { w ~ Gaussian(mean = 0) }"),
         model_error("Attribute 'P.w' not found in schema 'S'")},
        {marked_model("node P { x ~ Gaussian(mean = 0) x ~ Gaussian(mean = 1) }"),
         model_error("Attribute 'P.x' declared multiple times in belief model 'M'")},
        {marked_model("node P { x ~ Bernoulli(prior = 0.5) }"),
         model_error(px +
                     " must use GaussianPosterior, got Bernoulli { params: [(\"prior\", 0.5)] }")},
        {marked_model("edge E { exist ~ Bernoulli(prior = 0.5) }"),
         model_error("Edge type 'E' not found in schema 'S'")},
        {marked_model("edge K { exist ~ Gaussian(mean = 0) }"),
         model_error("edge 'K.exist' must use BernoulliPosterior or CategoricalPosterior for edge "
                     "existence")},
        {marked_model("edge K { exist ~ Bernoulli(prior = 0.5) weight ~ Bernoulli(prior = 0.5) }"),
         model_error("edge 'K.weight' must use GaussianPosterior, got Bernoulli { params: "
                     "[(\"prior\", 0.5)] }")},
        {marked_model("edge K { exist ~ Bernoulli(prior = 0.5) } "
                      "edge K { exist ~ Bernoulli(prior = 0.25) }"),
         model_error("Edge type 'K' declared multiple times in belief model 'M' (previous: "
                     "Bernoulli { params: [(\"prior\", 0.5)] })")},
        {marked_model("edge C { exist ~ Categorical(group_by = source, pseudo_count = 2) } "
                      "edge C { exist ~ Bernoulli(prior = 0.5) }"),
         model_error("Edge type 'C' declared multiple times in belief model 'M' (previous: "
                     "Categorical { group_by: \"source\", prior: Uniform { pseudo_count: 2.0 }, "
                     "categories: None })")},
        // The second block's own posteriors are checked before the repetition.
        {marked_model("edge K { exist ~ Bernoulli(prior = 0.5) } "
                      "edge K { exist ~ Bernoulli(prior = 2) }"),
         model_error("edge 'K.exist' BernoulliPosterior 'prior' must be in (0, 1), got 2")},
        // What is left undeclared, or declared in two node blocks, is accepted.
        {"belief_model M on S { node P { x ~ Gaussian(mean = 0) } node P { x ~ Gaussian(mean = 1) "
         "} "
         "node Q { } }",
         "ok"},
    });
}

TEST(CompileValidation, GaussianParameters) {
    const std::string px = "node attribute 'P.x' GaussianPosterior ";
    auto attr = [](std::string_view params) {
        return marked_model(
            support::cat("node P { x ~ Gaussian(", params, ") y ~ Gaussian(mean = 0) }"));
    };
    expect_cases({
        {attr("mean = " + huge_number()),
         model_error(px + "parameter 'prior_mean' must be finite, got inf")},
        {attr("mean = 0, prior_mean = 1"),
         model_error(px + "parameter 'prior_mean' declared multiple times")},
        // A repetition is reported as such even when its value is out of range.
        {attr("precision = 1, precision = -1"),
         model_error(px + "parameter 'prior_precision' declared multiple times")},
        {attr("precision = 0"), model_error(px + "'prior_precision' must be > 0, got 0")},
        {attr("observation_precision = 1, observation_precision = 1"),
         model_error(px + "parameter 'observation_precision' declared multiple times")},
        {attr("observation_precision = -1.5"),
         model_error(px + "'observation_precision' must be > 0, got -1.5")},
        {attr("corr_ = 0.5"),
         model_error(px + "correlation parameter 'corr_' must specify a target attribute")},
        {attr("corr_y = 1.5"),
         model_error(px + "correlation 'corr_y' must be in [-1, 1], got 1.5")},
        {attr("corr_y = 0.5, corr_y = 0.5"),
         model_error(px + "correlation 'corr_y' declared multiple times")},
        {attr("mu = 1"), model_error(px + "has unknown parameter 'mu'")},
        {attr("weight = 2"), model_error(px + "has unknown parameter 'weight'")},
        {attr("corr_x = 1.5"),
         model_error(px + "correlation 'corr_x' must be in [-1, 1], got 1.5")},
        {attr("corr_x = 0.9"),
         model_error("node attribute 'P.x' Gaussian self-correlation must be 1, got 0.9")},
        {attr("mean = -0.00001, precision = 2, observation_precision = 3, corr_x = 1, corr_y = -1"),
         "ok"},
        {marked_model("edge K { exist ~ Gaussian(mu = 0) }"),
         model_error("edge 'K.exist' GaussianPosterior has unknown parameter 'mu'")},
        {marked_model(
             "edge K { exist ~ Bernoulli(prior = 0.5) weight ~ Gaussian(precision = -1) }"),
         model_error("edge 'K.weight' GaussianPosterior 'prior_precision' must be > 0, got -1")},
    });
}

TEST(CompileValidation, GaussianCorrelations) {
    expect_cases({
        // The target must be declared in the same block; the schema is not enough.
        {marked_model("node P { x ~ Gaussian(corr_y = 0.5) }"),
         model_error("node attribute 'P.x' Gaussian correlation 'corr_y' references unknown "
                     "attribute 'y'")},
        // A target declared further down counts; both sides may agree.
        {marked_model("node P { x ~ Gaussian(corr_y = 0.5) y ~ Gaussian(corr_x = 0.5) }"), "ok"},
        {marked_model("node P { y ~ Gaussian(corr_x = 0.5) x ~ Gaussian(corr_y = 0.3) }"),
         model_error("Conflicting Gaussian correlation values for 'P.x' and 'P.y': 0.5 vs 0.3")},
        // Pairs are kept per node block.
        {marked_model("node P { x ~ Gaussian(corr_y = 0.5) y ~ Gaussian(mean = 0) } "
                      "node P { y ~ Gaussian(corr_x = 0.3) x ~ Gaussian(mean = 0) }"),
         "ok"},
    });
}

TEST(CompileValidation, BernoulliAndCategoricalParameters) {
    const std::string k = "edge 'K.exist' BernoulliPosterior ";
    auto exist = [](std::string_view posterior) {
        return marked_model(support::cat("edge K { exist ~ ", posterior, " }"));
    };
    auto categorical = [](std::string_view params) {
        return marked_model(
            support::cat("edge C { exist ~ Categorical(group_by = source, ", params, ") }"));
    };
    expect_cases({
        {exist("Bernoulli(prior = " + huge_number() + ")"),
         model_error(k + "parameter 'prior' must be finite, got inf")},
        {exist("Bernoulli(weight = 1, pseudo_count = 2)"),
         model_error(k + "parameter 'pseudo_count' declared multiple times")},
        {exist("Bernoulli(weight = 0)"), model_error(k + "'pseudo_count' must be > 0, got 0")},
        {exist("Bernoulli(prior = 0.5, prior = 0.25)"),
         model_error(k + "parameter 'prior' declared multiple times")},
        {exist("Bernoulli(prior = 0)"), model_error(k + "'prior' must be in (0, 1), got 0")},
        {exist("Bernoulli(prior = 1)"), model_error(k + "'prior' must be in (0, 1), got 1")},
        {exist("Bernoulli(mean = 1)"), model_error(k + "has unknown parameter 'mean'")},
        {exist("Bernoulli(weight = 2, prior = 0.999)"), "ok"},
        {exist("Categorical(group_by = destination, pseudo_count = 1)"),
         model_error("CategoricalPosterior 'group_by' must be 'source' (got 'destination'; "
                     "'destination' is not yet implemented)")},
        {categorical("pseudo_count = 0"),
         model_error("CategoricalPosterior 'pseudo_count' must be finite and > 0, got 0")},
        {categorical("pseudo_count = " + huge_number()),
         model_error("CategoricalPosterior 'pseudo_count' must be finite and > 0, got inf")},
        {categorical("prior = [1, -2]"),
         model_error("CategoricalPosterior prior array element 1 must be finite and > 0, got -2")},
        {categorical("pseudo_count = 1, categories = [\"a\", \" \t\"]"),
         model_error("CategoricalPosterior 'categories' cannot contain empty names")},
        // Unicode white space counts too: U+3000 alone is an empty name.
        {categorical("pseudo_count = 1, categories = [\"\xE3\x80\x80\"]"),
         model_error("CategoricalPosterior 'categories' cannot contain empty names")},
        {categorical("pseudo_count = 1, categories = [\"a\", \" a\", \"a\"]"),
         model_error("CategoricalPosterior 'categories' contains duplicate 'a'")},
        // The number of categories is not compared with the prior's length.
        {categorical("prior = [1, 2, 3], categories = [\"a\", \" a\"]"), "ok"},
    });
}

std::string evidence_error(std::string_view message) {
    return support::cat("validation error [evidence 'V']: ", message);
}

TEST(CompileValidation, EvidenceBlocks) {
    auto evidence = [](std::string_view body) {
        return support::cat(kModel,
                            "\xC2\xAB"
                            "evidence V on M { ",
                            body, " }\xC2\xBB");
    };
    expect_cases({
        {"\xC2\xAB"
         "evidence V on N { }\xC2\xBB",
         evidence_error("Evidence 'V' references unknown belief model 'N'")},
        {evidence("observe edge K(P[\"a\"], P[\"b\"]) chosen"),
         evidence_error("Edge 'K' is independent; use 'present' or 'absent', not 'Chosen'")},
        {evidence("unchoose edge K(P[\"a\"], P[\"b\"])"),
         evidence_error("Edge 'K' is independent; use 'present' or 'absent', not 'Unchosen'")},
        {evidence("observe edge D(P[\"a\"], P[\"b\"]) forced_choice"),
         evidence_error("Edge 'D' is independent; use 'present' or 'absent', not 'ForcedChoice'")},
        {evidence("observe edge C(P[\"a\"], P[\"b\"]) present"),
         evidence_error("Edge 'C' has competing posterior; use 'chosen', 'unchosen', or "
                        "'forced_choice', not 'Present'")},
        {evidence("C(P -> P) { a -/> b }"),
         evidence_error("Edge 'C' has competing posterior; use 'chosen', 'unchosen', or "
                        "'forced_choice', not 'Absent'")},
        {evidence("observe edge E(P[\"a\"], P[\"b\"]) weight = 1"),
         evidence_error("Edge 'E' is not declared in belief model 'M'")},
        {evidence("observe edge D(P[\"a\"], P[\"b\"]) weight = 1"),
         evidence_error(
             "Edge 'D' does not declare a weight posterior but evidence observes weight")},
        {evidence("observe edge K(P[\"a\"], P[\"b\"]) weight = 1 (precision = 0)"),
         evidence_error("Edge weight precision must be finite and > 0, got 0")},
        {evidence("observe edge K(P[\"a\"], P[\"b\"]) weight = 1 (precision = -0.5)"),
         evidence_error("Edge weight precision must be finite and > 0, got -0.5")},
        // Undeclared edge types, attributes and labels are not checked.
        {evidence(
             "observe edge E(X[\"a\"], Y[\"b\"]) chosen observe Z[\"q\"].w = 1 (precision = -1) "
             "choose edge C(P[\"a\"], P[\"b\"]) K(P -> P) { a -> b; b -/> a } "
             "observe edge K(P[\"a\"], P[\"b\"]) weight = 2 (precision = 0.5)"),
         "ok"},
    });
}

std::string rule_error(std::string_view where, std::string_view message) {
    return support::cat("validation error [rule 'R' ", where, "]: ", message);
}

TEST(CompileValidation, RuleModesScopesAndActions) {
    const std::string pattern = "rule R on M { pattern (a:P)-[e:K]->(b:P) ";
    expect_cases({
        // The mode carries the where context and no span.
        {"rule R on M { mode: sometimes }",
         rule_error("where clause",
                    "Rule 'R' has unknown mode 'sometimes' (expected 'for_each' or 'fixpoint')")},
        {pattern + "mode: for_each mode: fixpoint }", "ok"},
        {pattern + "where «u > 0 »}", rule_error("where clause", "unknown variable 'u'")},
        {pattern + "action { «let a = 1 »} }",
         rule_error("action 'let'", "let variable 'a' shadows an existing binding")},
        {pattern + "action { «let y = y;» } }", rule_error("action 'let'", "unknown variable 'y'")},
        {pattern + "action { let y = 1; «let y = 2 »} }",
         rule_error("action 'let'", "let variable 'y' shadows an existing binding")},
        {pattern + "action { «non_bayesian_nudge e.x to 1 »} }",
         rule_error("action 'non_bayesian_nudge'", "unknown node variable 'e'")},
        {pattern + "action { «non_bayesian_nudge a.x to u variance = increase(factor = 2);»} }",
         rule_error("action 'non_bayesian_nudge'", "unknown variable 'u'")},
        {pattern + "action { «z.x ~= 1 (precision = 2) »} }",
         rule_error("action 'soft_update'", "unknown node variable 'z'")},
        {pattern + "action { «b.x ~= E[z.x] »} }",
         rule_error("action 'soft_update'", "E[]: must be NodeVar.attr")},
        {pattern + "action { «delete a »} }",
         rule_error("action 'delete'", "unknown edge variable 'a'")},
        {pattern + "action { «suppress z weight = 2»} }",
         rule_error("action 'suppress'", "unknown edge variable 'z'")},
        // A let binds for later actions only, in whatever block they stand.
        {pattern + "action { let y = 1 } action { let z = y delete e } mode: fixpoint }", "ok"},
        {pattern + "where «y > 0 »action { let y = 1 } }",
         rule_error("where clause", "unknown variable 'y'")},
        {pattern + "action { let z = 1 «let w = y »let y = 1 } }",
         rule_error("action 'let'", "unknown variable 'y'")},
        // The node form binds its variable and the reserved edge variable.
        {"rule R on M { for (n: P) where E[n.x] > 0 => { suppress __for_dummy «delete m »} }",
         rule_error("action 'delete'", "unknown edge variable 'm'")},
    });
}

TEST(CompileValidation, RuleExpressionsAndSubqueries) {
    auto where = [](std::string_view expr) {
        return support::cat("rule R on M { pattern (a:P)-[e:K]->(b:P) where «", expr, "»}");
    };
    auto let = [](std::string_view expr) {
        return support::cat("rule R on M { pattern (a:P)-[e:K]->(b:P) action { «let v = ", expr,
                            " »} }");
    };
    const std::string w = "where clause";
    const std::string subquery = "exists (c:P)-[f:K]->(d:Q)";
    expect_cases({
        {where("a.x > 0"),
         rule_error(w,
                    "Bare field access in rule expression is not allowed; use E[NodeVar.attr] "
                    "or prob(...)")},
        {where(subquery + " where prob(f) > 0.5 and E[c.x] > E[a.x]"), "ok"},
        {where("not " + subquery + " where " + subquery + " where prob(e) > 0 and E[d.x] < 1"),
         "ok"},
        {where("(" + subquery + ") and prob(f) > 0"),
         rule_error(w, "prob(): argument must be an edge variable")},
        {where("(" + subquery + " where f > 1) and f > 0"), rule_error(w, "unknown variable 'f'")},
        {where("foo(" + subquery + ")"),
         rule_error(w, "exists subqueries are only allowed in rule where clauses")},
        {let(subquery),
         rule_error("action 'let'", "exists subqueries are only allowed in rule where clauses")},
        // Checks run left to right: the first violation written is reported.
        {where("1 + u + a.x"), rule_error(w, "unknown variable 'u'")},
        {where("-(a.x) + u"),
         rule_error(w,
                    "Bare field access in rule expression is not allowed; use E[NodeVar.attr] "
                    "or prob(...)")},
        {where("foo(1, a, k = e) > 0 and winner(a, K) > 0 and entropy(a, KNOWS) > 0"), "ok"},
        // An unknown function has every argument checked, repeated names too.
        {where("foo(k = u, k = 1)"), rule_error(w, "unknown variable 'u'")},
        {where("foo(a.x)"),
         rule_error(w,
                    "Bare field access in rule expression is not allowed; use E[NodeVar.attr] "
                    "or prob(...)")},
    });
}

TEST(CompileValidation, RuleBuiltInFunctions) {
    auto where = [](std::string_view expr) {
        return support::cat("rule R on M { pattern (a:P)-[e:K]->(b:P) where «", expr, " > 0»}");
    };
    auto failing = [&](std::string_view expr, std::string_view message) {
        return Case{where(expr), rule_error("where clause", message)};
    };
    std::string many_names = "n0 = 1";
    for (int i = 1; i < 20; ++i)
        many_names += support::cat(", n", i, " = 1");
    expect_cases({
        {where("E[a.x] + stddev(a.x) + variance(b.y) + effective_n(a.x) + cov(a.x, b.x) + "
               "corr(b.y, a.x) + quantile(a.x, 0.9) + ci_lo(a.x, 0.1) + ci_hi(b.x, 0.95) + "
               "prob(e) + prob(a.x > 0) + prob(1 <= b.y) + weight(e) + credible(e) + "
               "credible(a.x > b.x, p = 0.9, rho = 0.2) + prob_correlated(a.x >= b.x, rho = 0.5) + "
               "degree(a) + degree(b, e, min_prob = 0.5) + entropy(a, K) + winner(b, K, 0.1)"),
         "ok"},
        failing("E(a)", "E[]: must be a field access expression"),
        failing("E[e.x]", "E[]: must be NodeVar.attr"),
        failing("E(a.x, 1)", "E[]: expected single positional argument"),
        failing("stddev(a.x, k = 1)", "stddev(): expected single positional argument"),
        failing("variance(a)", "variance(): must be a field access expression"),
        failing("effective_n(a.x.y)", "effective_n(): must be NodeVar.attr"),
        failing("cov(a.x)", "cov(): expected two positional NodeVar.attr arguments"),
        failing("corr(a.x, b.x, k = 1)", "corr(): expected two positional NodeVar.attr arguments"),
        failing("corr(a.x, 1)", "corr: must be a field access expression"),
        failing("cov(e.x, b.x)", "cov: must be NodeVar.attr"),
        failing("quantile(a.x, p = 0.9)", "quantile(): expected field and numeric p"),
        failing("ci_lo(a.x, -0.1)", "ci_lo(): p must be numeric"),
        failing("ci_hi(1, 0.5)", "ci_hi: must be a field access expression"),
        failing("prob(e, e)", "prob(): expected single positional argument"),
        failing("prob(a)", "prob(): argument must be an edge variable"),
        failing("prob(a.x == 1)", "prob(): only supports comparisons like prob(A > B)"),
        failing("prob(a.x > -1)", "prob(): only supports node.attr or numeric in comparisons"),
        failing("prob(e.x > 0)", "prob(): comparison must reference node variables"),
        failing("weight(e, p = 1)", "weight(): expected single positional edge variable argument"),
        failing("weight(a)", "weight(): argument must be an edge variable"),
        failing("credible(p = 0.9)", "credible(): expected single positional event argument"),
        failing("credible(e, q = 1)", "credible(): unknown named argument 'q'; expected p or rho"),
        // Of several wrong names, the first written is reported.
        failing("credible(e, p = 1, r = 1, q = 2)",
                "credible(): unknown named argument 'r'; expected p or rho"),
        failing("credible(e, rho = u, p = 0.5)", "unknown variable 'u'"),
        failing("credible(a)",
                "credible(): argument must be an edge variable or comparison expression"),
        failing("credible(a.x + 1)", "credible(): only supports comparisons like credible(A > B)"),
        failing("credible(a.x > b)", "prob(): only supports node.attr or numeric in comparisons"),
        failing("prob_correlated()",
                "prob_correlated(): expected single positional comparison argument"),
        failing("prob_correlated(a.x > 0, p = 1)",
                "prob_correlated(): unknown named argument 'p'; expected rho"),
        failing("prob_correlated(a.x > 0, rho = u)", "unknown variable 'u'"),
        failing("prob_correlated(e)",
                "prob_correlated(): argument must be a comparison expression"),
        failing("prob_correlated(a.x and b.x)",
                "prob_correlated(): only supports comparisons like prob_correlated(A > B)"),
        failing("prob_correlated(1 > e.x)", "prob(): comparison must reference node variables"),
        failing("degree()", "degree(): missing node argument"),
        failing("degree(e)", "degree(): first argument must be a node variable"),
        failing("degree(a, u)", "unknown variable 'u'"),
        failing("degree(a, k = 1, k = u)", "unknown variable 'u'"),
        failing("entropy(a)", "entropy(): requires node and edge_type arguments"),
        failing("winner(e, K)", "winner(): first argument must be a node variable"),
        failing("entropy(a, 1)", "entropy(): edge_type must be an identifier"),
        failing("winner(a, K, u)", "unknown variable 'u'"),
        // A name written twice counts once, with its later value, also in a
        // call with more names than calls usually have.
        {where("credible(e, p = u, p = 0.5)"), "ok"},
        {where("degree(a, " + many_names + ", n3 = u, n3 = 1)"), "ok"},
        failing("degree(a, " + many_names + ", n19 = u)", "unknown variable 'u'"),
    });
}

std::string metric_error(std::string_view message) {
    return support::cat("validation error [flow 'F' metric 'm']: ", message);
}

// A flow with one graph and the metric m, whose value `expr` is marked.
std::string metric(std::string_view expr) {
    return support::cat("flow F on M { graph g = from_evidence V metric m = «", expr, "»}");
}

TEST(CompileValidation, MetricExpressions) {
    auto failing = [](std::string_view expr, std::string_view message) {
        return Case{metric(expr), metric_error(message)};
    };
    expect_cases({
        {"flow F on M { graph g = from_evidence V metric m on h = «1 »}",
         metric_error("flow 'F' metric 'm' references unknown graph 'h'")},
        {"flow F on M { metric m on g = 1 graph g = from_evidence V }", "ok"},
        failing("node", "bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)"),
        failing("value", "'value' is only valid inside fold_nodes step"),
        failing("1 + u", "unknown metric variable 'u'"),
        failing("E[node.x]", "bare field access not supported in metric; use E[node.attr]"),
        failing("degree(node)",
                "bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)"),
        failing("exists (a:P)-[e:K]->(b:P)",
                "exists subqueries not supported in metric expressions"),
        {metric("foo(1) + avg_degree(P, K, min_prob = 0.5) + avg_degree(label = P, edge_type = K)"),
         "ok"},
        // Metrics read imports and earlier metrics only.
        {"flow F on M { import_metric src as b metric a = b metric m = «a + u »}",
         metric_error("unknown metric variable 'u'")},
        {"flow F on M { metric m = «b »metric b = 1 }",
         metric_error("unknown metric variable 'b'")},
        {"flow F on M { import_metric src as node metric m = «node »}",
         metric_error("bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)")},
    });
}

TEST(CompileValidation, MetricPipelinesAndBuilderCalls) {
    auto failing = [](std::string_view expr, std::string_view message) {
        return Case{metric(expr), metric_error(message)};
    };
    expect_cases({
        {metric("nodes(P) |> where E[node.x] > 30 and degree(node, min_prob = 0.5) > 1 |> count()"),
         "ok"},
        {metric("nodes(P) |> where quantile(node.x, 0.9) > entropy(node, K) |> "
                "avg(by = stddev(node.x) + ci_hi(node.y, 0.5))"),
         "ok"},
        {metric("nodes(P) |> order_by(E[node.x]) |> fold(init = 0, step = value + E[node.x])"),
         "ok"},
        {metric("count_nodes(P) + sum_nodes(P, E[node.x] > 0, E[node.y]) + "
                "fold_nodes(P, 1, E[node.x], 0, value)"),
         "ok"},
        failing("nodes(P) |> where value > 1 |> count()",
                "'value' is only valid inside fold_nodes step"),
        failing("nodes(P) |> fold(init = node, step = value)",
                "bare 'node' variable not allowed; use E[node.attr] or degree(node, ...)"),
        failing("nodes(P) |> fold(init = E[node.x], step = value)",
                "bare field access not supported in metric; use E[node.attr]"),
        failing("count_nodes()", "count_nodes: missing 'label' argument"),
        failing("sum_nodes(contrib = 1)", "sum_nodes: missing 'label' argument"),
        failing("sum_nodes(P)", "sum_nodes: missing 'contrib' argument"),
        failing("fold_nodes()", "fold_nodes: missing 'label' argument"),
        failing("fold_nodes(label = P, step = value)", "fold_nodes: missing 'init' argument"),
        failing("fold_nodes(P, init = 0)", "fold_nodes: missing 'step' argument"),
        failing("avg_degree()", "avg_degree: missing 'label' argument"),
        failing("avg_degree(P)", "avg_degree: missing 'edge_type' argument"),
        failing("avg_degree(label = P, edge_type = K, min_prob = -0.5)",
                "avg_degree: 'min_prob' must be numeric"),
        // A named argument wins over the positional one at its index.
        failing("count_nodes(P, u, where = 1) + count_nodes(P, where = value)",
                "'value' is only valid inside fold_nodes step"),
        // Builders are checked wherever they stand, also inside another one.
        failing("count_nodes(P, where = sum_nodes(P))", "sum_nodes: missing 'contrib' argument"),
    });
}

TEST(CompileValidation, PerNodeMetricFunctions) {
    auto where = [](std::string_view expr) {
        return metric(support::cat("nodes(P) |> where ", expr, " > 0 |> count()"));
    };
    auto failing = [&](std::string_view expr, std::string_view message) {
        return Case{where(expr), metric_error(message)};
    };
    expect_cases({
        failing("quantile(node.x)", "quantile(): requires node.attr and numeric p"),
        failing("ci_lo(node.x, -0.5)", "ci_lo(): p must be numeric"),
        failing("E[n.x]", "metric node function requires node.attr with 'node' variable"),
        failing("variance(1)", "metric node function requires a field expression"),
        failing("stddev(node.x, 1)", "stddev[] expects one positional argument"),
        failing("effective_n(node.x, k = 1)", "effective_n[] expects one positional argument"),
        failing("degree(n)", "degree(): first argument must be 'node'"),
        failing("degree(node, 1, min_prob = u)", "unknown metric variable 'u'"),
        // Arguments after the node are expressions, not names.
        failing("degree(node, K)", "unknown metric variable 'K'"),
        failing("entropy(node)", "entropy(): requires node and edge_type arguments"),
        failing("entropy(n, K)", "entropy(): first argument must be 'node' in metric expressions"),
        failing("entropy(node, 1)", "entropy(): edge_type must be an identifier"),
        failing("foo(1)", "unsupported function 'foo' in node metric expression"),
        failing("prob(node)", "unsupported function 'prob' in node metric expression"),
    });
}

TEST(CompileValidation, PrunePredicatesAndModelSelection) {
    auto prune = [](std::string_view predicate) {
        return support::cat("flow F on M { graph g = a |> prune_edges K where «", predicate, "»}");
    };
    const std::string context = "validation error [flow 'F' graph 'g' prune_edges K predicate]: ";
    auto select = [](std::string_view candidates) {
        return support::cat("flow F on M { graph a = from_evidence V graph b = from_graph \"x\" ",
                            "graph s = select_model { ", candidates, " } by edge_aic }");
    };
    expect_cases({
        {prune("weight(edge) < 0.1 or prob(edge) > x.y or f(u)"), "ok"},
        {prune("weight(e) < 0.1"),
         context + "weight(): argument must be 'edge' in prune_edges predicate"},
        {prune("prob(edge, 1) < 0.1"), context + "prob(): expected single positional argument"},
        {prune("prob(p = edge) < 0.1"), context + "prob(): expected single positional argument"},
        {prune("1 + f(k = (weight(edge.x)).y)"),
         context + "weight(): argument must be 'edge' in prune_edges predicate"},
        // Too few candidates is reported before any candidate is looked at.
        {select("s"),
         "validation error: flow 'F' graph 's': select_model requires at least two candidates"},
        {select("a, s"),
         "validation error: flow 'F' graph 's': select_model cannot reference itself"},
        {select("a, z"),
         "validation error: flow 'F' graph 's': unknown select_model candidate 'z'"},
        {select("a, b, a"),
         "validation error: flow 'F' graph 's': duplicate select_model candidate 'a'"},
        {"flow F on M { graph s = select_model { a, b } by edge_bic graph a = from_evidence V "
         "graph b = a |> infer_beliefs }",
         "ok"},
    });
}

TEST(CompileValidation, FirstViolationInFixedOrder) {
    const std::string bad_flow = "flow F on M { metric m = «u »}\n";
    const std::string bad_rule = "rule R on M { where «u > 0 »}\n";
    const std::string bad_evidence = "«evidence V on N { }»\n";
    auto unmarked = [](std::string text) {
        for (std::string_view marker : {kOpen, kClose}) {
            for (size_t at; (at = text.find(marker)) != std::string::npos;)
                text.erase(at, 2);
        }
        return text;
    };
    expect_cases({
        // Kinds are checked in the order belief models, evidence, rules,
        // flows, whatever order the text declares them in.
        {unmarked(bad_flow) + unmarked(bad_rule) + unmarked(bad_evidence) +
             "«belief_model M on T { }»",
         "validation error [belief_model 'M']: Belief model 'M' references unknown schema 'T'"},
        {unmarked(bad_flow) + unmarked(bad_rule) + bad_evidence,
         evidence_error("Evidence 'V' references unknown belief model 'N'")},
        {unmarked(bad_flow) + bad_rule, rule_error("where clause", "unknown variable 'u'")},
        // Within a kind, source order; the span is that of the declaration.
        {"belief_model A on S { }\n«belief_model B on T { }»\nbelief_model C on T { }",
         "validation error [belief_model 'B']: Belief model 'B' references unknown schema 'T'"},
        // Within a rule: mode, then where-expression, then actions.
        {"rule R on M { pattern (a:P)-[e:K]->(b:P) action { delete z } where u > 0 mode: m }",
         rule_error("where clause",
                    "Rule 'R' has unknown mode 'm' (expected 'for_each' or "
                    "'fixpoint')")},
        {"rule R on M { pattern (a:P)-[e:K]->(b:P) action { delete z } where «u > 0 »}",
         rule_error("where clause", "unknown variable 'u'")},
        // Within a flow: graphs (prune predicates, candidates), then metrics.
        {"flow F on M { metric m = u graph g = a |> prune_edges K where «weight(x)»}",
         "validation error [flow 'F' graph 'g' prune_edges K predicate]: weight(): argument must "
         "be 'edge' in prune_edges predicate"},
        {"flow F on M { metric m = u graph s = select_model { s, t } by edge_aic }",
         "validation error: flow 'F' graph 's': select_model cannot reference itself"},
    });
}

TEST(CompileValidation, SpansAcrossLinesAndCharacters) {
    const std::string flow =
        "flow F on M {\n"
        "  graph g1 = base |> prune_edges K where weight(edge) > 0 |> prune_edges K where "
        "prob(edge) > 0\n"
        "  graph g2 = from_evidence V\n"
        "  graph g3 = g1 |> prune_edges D where «prob(e) > 0\n"
        "»}";
    expect_cases({
        // Prune transforms are counted over the whole flow.
        {flow,
         "validation error [flow 'F' graph 'g3' prune_edges D predicate]: prob(): argument "
         "must be 'edge' in prune_edges predicate"},
        // A multi-line statement; a non-ASCII character counts as one column.
        {"rule R on M { pattern (a:P)-[e:K]->(b:P)\n"
         "  action { /* \xC3\xA9t\xC3\xA9 */ let ok = 1; «let v =\n"
         "     w;» } }",
         rule_error("action 'let'", "unknown variable 'w'")},
    });
    // "\r\n" line ends give the same positions as "\n"; a lone "\r" is a column.
    const std::string message =
        "validation error [rule 'R' where clause]: unknown variable 'u' (at 3:20-3:31)";
    const std::string schema(kSchema);
    EXPECT_EQ(compile_result(schema + "rule R on M {\n  for (n: P) where E[n.x] > u => { }\n}"),
              message);
    EXPECT_EQ(compile_result(schema + "rule R on M {\r\n  for (n: P) where E[n.x] > u => { }\r\n}"),
              message);
    EXPECT_EQ(compile_result(schema + "rule R on M {\r for (n: P) where u > 0 => { } }"),
              "validation error [rule 'R' where clause]: unknown variable 'u' (at 2:33-2:39)");
}

TEST(CompileValidation, FixtureProgramsAreValid) {
    size_t count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(MORVANE_FIXTURES_DIR) + "/programs")) {
        if (entry.path().extension() != ".mv") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        EXPECT_EQ(compile_result(text.str()), "ok") << entry.path();
        ++count;
    }
    EXPECT_GT(count, 0u);
}

}  // namespace
}  // namespace morvane::core
