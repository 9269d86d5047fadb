#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/grammar.hpp"
#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {
namespace {

// The rule set by value, ten to a row.
constexpr const char* kRuleNamesByValue =
        "EOI WHITESPACE COMMENT LINE_COMMENT BLOCK_COMMENT ident label string program decl "
        "schema_decl block_schema node_decl edge_decl attr_decl belief_model_decl belief_model_body node_belief_decl attr_belief_decl edge_belief_decl "
        "exist_belief_decl edge_weight_belief_decl posterior_type gaussian_posterior gaussian_param bernoulli_posterior bernoulli_param categorical_posterior categorical_param categorical_param_value "
        "categorical_categories_array prior_array evidence_decl evidence_body node_group node_entry node_attr_kv edge_group edge_op edge_entry "
        "choose_stmt unchoose_stmt observe_stmt observe_edge_stmt observe_edge_weight_stmt observe_attr_stmt observe_target edge_observe attr_observe precision_annot "
        "node_ref node_ref_bracket node_ref_call node_label evidence_mode kw_observe_tok KW_observe kw_choose_tok kw_unchoose_tok KW_choose "
        "KW_unchoose block block_inner rule_decl rule_body sugar_rule for_sugar pattern_clause pattern_list pattern_item "
        "where_clause action_clause action_block action_stmt let_stmt node_attr nbnudge_stmt variance_clause increase_clause decrease_clause "
        "soft_update_stmt soft_args soft_arg delete_stmt delete_args delete_arg suppress_stmt suppress_args suppress_arg mode_clause "
        "flow_decl flow_body graph_stmt graph_expr from_evidence_expr from_graph_expr select_model_expr model_selection_criterion pipeline_expr pipe_op "
        "transform apply_rule_tr apply_ruleset_tr snapshot_tr infer_beliefs_tr prune_edges_tr metric_stmt metric_builder_expr builder_start builder_step "
        "builder_where builder_sum builder_count builder_avg builder_order builder_fold fold_args fold_arg export_stmt metric_export_stmt "
        "metric_import_stmt expr or_expr op_or and_expr op_and cmp_expr op_cmp add_expr op_add "
        "mul_expr op_mul unary_expr op_unary call_primary postfix field_access call_suffix arg named_arg "
        "primary paren_expr e_bracket exists_expr not_exists_expr number boolean kw_schema_tok kw_node_tok kw_edge_tok "
        "kw_belief_model_tok kw_on_tok kw_evidence_tok kw_rule_tok kw_for_tok kw_pattern_tok kw_where_tok kw_action_tok kw_mode_tok kw_flow_tok "
        "kw_graph_tok kw_from_evidence_tok kw_from_graph_tok kw_select_model_tok kw_edge_aic_tok kw_edge_bic_tok kw_apply_rule_tok kw_apply_ruleset_tok kw_snapshot_tok kw_infer_beliefs_tok "
        "kw_prune_edges_tok kw_metric_tok kw_nodes_tok kw_sum_tok kw_count_tok kw_avg_tok kw_order_by_tok kw_fold_tok kw_export_tok kw_as_tok "
        "kw_export_metric_tok kw_import_metric_tok KW_schema KW_node KW_edge KW_belief_model KW_on KW_evidence KW_rule KW_for "
        "KW_pattern KW_where KW_action kw_to_tok kw_non_bayesian_nudge_tok kw_delete_tok kw_suppress_tok kw_variance_tok kw_preserve_tok kw_increase_tok "
        "kw_decrease_tok kw_weight_tok KW_mode KW_flow KW_graph KW_from_evidence KW_from_graph KW_select_model KW_edge_aic KW_edge_bic "
        "KW_apply_rule KW_apply_ruleset KW_snapshot KW_infer_beliefs KW_prune_edges KW_metric KW_nodes KW_sum KW_count KW_avg "
        "KW_order_by KW_fold KW_export KW_as KW_export_metric KW_import_metric kw_let_tok kw_exists_tok kw_and_tok kw_or_tok "
        "kw_not_tok kw_true_tok kw_false_tok KW_and KW_or KW_not KW_true KW_false KW_let KW_exists "
        "KW_to KW_non_bayesian_nudge KW_delete KW_suppress KW_variance KW_preserve KW_increase KW_decrease KW_weight ";

TEST(ParserRuleSet, ValuesAndNamesFollowTheTable) {
    std::istringstream names(kRuleNamesByValue);
    std::vector<std::string> expected;
    for (std::string name; names >> name;) expected.push_back(name);
    ASSERT_EQ(expected.size(), kRuleCount);
    std::set<std::string> seen;
    for (size_t value = 0; value < kRuleCount; ++value) {
        const auto rule = static_cast<Rule>(value);
        EXPECT_EQ(rule_name(rule), expected[value]) << "value " << value;
        EXPECT_TRUE(seen.insert(std::string(rule_name(rule))).second) << rule_name(rule);
    }
    static_assert(sizeof(Rule) == 1);
    EXPECT_EQ(rule_value(Rule::EOI), 0);
    EXPECT_EQ(rule_value(Rule::program), 8);
    EXPECT_EQ(rule_value(Rule::number), 145);
    EXPECT_EQ(rule_value(Rule::KW_action), 192);
    EXPECT_EQ(rule_value(Rule::kw_to_tok), 193);
    EXPECT_EQ(rule_value(Rule::KW_weight), 248);
}

TEST(ParserRuleSet, KindsAreSilentAtomicOrNormalAsListed) {
    const std::set<std::string_view> silent_plain = {
        "WHITESPACE", "COMMENT", "LINE_COMMENT", "BLOCK_COMMENT", "decl",
        "block_inner", "transform", "call_primary", "arg", "boolean"};
    const std::set<std::string_view> atomic_plain = {"ident", "label", "string", "number"};
    size_t silent = 0, atomic = 0, normal = 0;
    for (size_t value = 0; value < kRuleCount; ++value) {
        const auto rule = static_cast<Rule>(value);
        const std::string_view name = rule_name(rule);
        const bool alias = name.starts_with("KW_");
        const bool token = name.starts_with("kw_") && name.ends_with("_tok");
        RuleKind want = RuleKind::Normal;
        if (alias || silent_plain.count(name)) want = RuleKind::Silent;
        if (token || atomic_plain.count(name)) want = RuleKind::Atomic;
        EXPECT_EQ(rule_kind(rule), want) << name;
        silent += want == RuleKind::Silent;
        atomic += want == RuleKind::Atomic;
        normal += want == RuleKind::Normal;
    }
    EXPECT_EQ(silent, 64u);
    EXPECT_EQ(atomic, 58u);
    EXPECT_EQ(normal, 127u);
}

// The grammar writes every rule but the built-in EOI on exactly one line,
// and each keyword as its whole-word token plus an alias that is the token.
TEST(ParserRuleSet, GrammarWritesEveryRuleOnce) {
    std::vector<int> definitions(kRuleCount, 0);
    std::istringstream lines{std::string(grammar_notation())};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.starts_with("//")) continue;
        const size_t eq = line.find(" = ");
        ASSERT_NE(eq, std::string::npos) << line;
        const std::string name = line.substr(0, line.find(' '));
        const std::string body = line.substr(eq + 3);
        size_t value = 0;
        while (value < kRuleCount && rule_name(static_cast<Rule>(value)) != name) ++value;
        ASSERT_LT(value, kRuleCount) << name;
        ++definitions[value];
        if (name.starts_with("KW_")) {
            EXPECT_EQ(body, "kw_" + name.substr(3) + "_tok");
        } else if (name.starts_with("kw_") && name.ends_with("_tok")) {
            const std::string word = name.substr(3, name.size() - 7);
            const std::string boundary = R"~(" ~ !("a".."z" | "A".."Z" | "0".."9" | "_"))~";
            EXPECT_EQ(body, "\"" + word + boundary);
        }
    }
    for (size_t value = 0; value < kRuleCount; ++value) {
        EXPECT_EQ(definitions[value], value == 0 ? 0 : 1) << rule_name(static_cast<Rule>(value));
    }
    // Compiling it (on first use) checks references, repetitions and left
    // recursion.
    EXPECT_TRUE(CorventaParser::parse(Rule::program, ""));
}

}  // namespace
}  // namespace morvane::frontend::parser
