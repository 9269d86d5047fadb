// The rule set of the grammar: 249 rules numbered 0 to 248.
//
// The numbering is part of the language's interface. It orders the rules
// that a parse error lists as expected, and the builders of the syntax tree
// compare rule values. So the list below is fixed: new rules are never
// inserted, and the order is the grammar's order, EOI first.
//
// Kinds decide how a rule behaves when called (see peg.hpp):
//   Normal: leaves a pair; whitespace and comments are skipped in its body;
//   Atomic: leaves a pair without inner pairs; nothing skipped inside;
//   Silent: leaves no pair of its own and is never listed in an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvane::frontend::parser {

enum class RuleKind : uint8_t { Normal, Atomic, Silent };

// X(name, kind) for every rule, in value order.
#define MORVANE_GRAMMAR_RULES(X) \
    X(EOI, Normal) /* 0 */ \
    X(WHITESPACE, Silent) /* 1 */ \
    X(COMMENT, Silent) /* 2 */ \
    X(LINE_COMMENT, Silent) /* 3 */ \
    X(BLOCK_COMMENT, Silent) /* 4 */ \
    X(ident, Atomic) /* 5 */ \
    X(label, Atomic) /* 6 */ \
    X(string, Atomic) /* 7 */ \
    X(program, Normal) /* 8 */ \
    X(decl, Silent) /* 9 */ \
    X(schema_decl, Normal) /* 10 */ \
    X(block_schema, Normal) /* 11 */ \
    X(node_decl, Normal) /* 12 */ \
    X(edge_decl, Normal) /* 13 */ \
    X(attr_decl, Normal) /* 14 */ \
    X(belief_model_decl, Normal) /* 15 */ \
    X(belief_model_body, Normal) /* 16 */ \
    X(node_belief_decl, Normal) /* 17 */ \
    X(attr_belief_decl, Normal) /* 18 */ \
    X(edge_belief_decl, Normal) /* 19 */ \
    X(exist_belief_decl, Normal) /* 20 */ \
    X(edge_weight_belief_decl, Normal) /* 21 */ \
    X(posterior_type, Normal) /* 22 */ \
    X(gaussian_posterior, Normal) /* 23 */ \
    X(gaussian_param, Normal) /* 24 */ \
    X(bernoulli_posterior, Normal) /* 25 */ \
    X(bernoulli_param, Normal) /* 26 */ \
    X(categorical_posterior, Normal) /* 27 */ \
    X(categorical_param, Normal) /* 28 */ \
    X(categorical_param_value, Normal) /* 29 */ \
    X(categorical_categories_array, Normal) /* 30 */ \
    X(prior_array, Normal) /* 31 */ \
    X(evidence_decl, Normal) /* 32 */ \
    X(evidence_body, Normal) /* 33 */ \
    X(node_group, Normal) /* 34 */ \
    X(node_entry, Normal) /* 35 */ \
    X(node_attr_kv, Normal) /* 36 */ \
    X(edge_group, Normal) /* 37 */ \
    X(edge_op, Normal) /* 38 */ \
    X(edge_entry, Normal) /* 39 */ \
    X(choose_stmt, Normal) /* 40 */ \
    X(unchoose_stmt, Normal) /* 41 */ \
    X(observe_stmt, Normal) /* 42 */ \
    X(observe_edge_stmt, Normal) /* 43 */ \
    X(observe_edge_weight_stmt, Normal) /* 44 */ \
    X(observe_attr_stmt, Normal) /* 45 */ \
    X(observe_target, Normal) /* 46 */ \
    X(edge_observe, Normal) /* 47 */ \
    X(attr_observe, Normal) /* 48 */ \
    X(precision_annot, Normal) /* 49 */ \
    X(node_ref, Normal) /* 50 */ \
    X(node_ref_bracket, Normal) /* 51 */ \
    X(node_ref_call, Normal) /* 52 */ \
    X(node_label, Normal) /* 53 */ \
    X(evidence_mode, Normal) /* 54 */ \
    X(kw_observe_tok, Atomic) /* 55 */ \
    X(KW_observe, Silent) /* 56 */ \
    X(kw_choose_tok, Atomic) /* 57 */ \
    X(kw_unchoose_tok, Atomic) /* 58 */ \
    X(KW_choose, Silent) /* 59 */ \
    X(KW_unchoose, Silent) /* 60 */ \
    X(block, Normal) /* 61 */ \
    X(block_inner, Silent) /* 62 */ \
    X(rule_decl, Normal) /* 63 */ \
    X(rule_body, Normal) /* 64 */ \
    X(sugar_rule, Normal) /* 65 */ \
    X(for_sugar, Normal) /* 66 */ \
    X(pattern_clause, Normal) /* 67 */ \
    X(pattern_list, Normal) /* 68 */ \
    X(pattern_item, Normal) /* 69 */ \
    X(where_clause, Normal) /* 70 */ \
    X(action_clause, Normal) /* 71 */ \
    X(action_block, Normal) /* 72 */ \
    X(action_stmt, Normal) /* 73 */ \
    X(let_stmt, Normal) /* 74 */ \
    X(node_attr, Normal) /* 75 */ \
    X(nbnudge_stmt, Normal) /* 76 */ \
    X(variance_clause, Normal) /* 77 */ \
    X(increase_clause, Normal) /* 78 */ \
    X(decrease_clause, Normal) /* 79 */ \
    X(soft_update_stmt, Normal) /* 80 */ \
    X(soft_args, Normal) /* 81 */ \
    X(soft_arg, Normal) /* 82 */ \
    X(delete_stmt, Normal) /* 83 */ \
    X(delete_args, Normal) /* 84 */ \
    X(delete_arg, Normal) /* 85 */ \
    X(suppress_stmt, Normal) /* 86 */ \
    X(suppress_args, Normal) /* 87 */ \
    X(suppress_arg, Normal) /* 88 */ \
    X(mode_clause, Normal) /* 89 */ \
    X(flow_decl, Normal) /* 90 */ \
    X(flow_body, Normal) /* 91 */ \
    X(graph_stmt, Normal) /* 92 */ \
    X(graph_expr, Normal) /* 93 */ \
    X(from_evidence_expr, Normal) /* 94 */ \
    X(from_graph_expr, Normal) /* 95 */ \
    X(select_model_expr, Normal) /* 96 */ \
    X(model_selection_criterion, Normal) /* 97 */ \
    X(pipeline_expr, Normal) /* 98 */ \
    X(pipe_op, Normal) /* 99 */ \
    X(transform, Silent) /* 100 */ \
    X(apply_rule_tr, Normal) /* 101 */ \
    X(apply_ruleset_tr, Normal) /* 102 */ \
    X(snapshot_tr, Normal) /* 103 */ \
    X(infer_beliefs_tr, Normal) /* 104 */ \
    X(prune_edges_tr, Normal) /* 105 */ \
    X(metric_stmt, Normal) /* 106 */ \
    X(metric_builder_expr, Normal) /* 107 */ \
    X(builder_start, Normal) /* 108 */ \
    X(builder_step, Normal) /* 109 */ \
    X(builder_where, Normal) /* 110 */ \
    X(builder_sum, Normal) /* 111 */ \
    X(builder_count, Normal) /* 112 */ \
    X(builder_avg, Normal) /* 113 */ \
    X(builder_order, Normal) /* 114 */ \
    X(builder_fold, Normal) /* 115 */ \
    X(fold_args, Normal) /* 116 */ \
    X(fold_arg, Normal) /* 117 */ \
    X(export_stmt, Normal) /* 118 */ \
    X(metric_export_stmt, Normal) /* 119 */ \
    X(metric_import_stmt, Normal) /* 120 */ \
    X(expr, Normal) /* 121 */ \
    X(or_expr, Normal) /* 122 */ \
    X(op_or, Normal) /* 123 */ \
    X(and_expr, Normal) /* 124 */ \
    X(op_and, Normal) /* 125 */ \
    X(cmp_expr, Normal) /* 126 */ \
    X(op_cmp, Normal) /* 127 */ \
    X(add_expr, Normal) /* 128 */ \
    X(op_add, Normal) /* 129 */ \
    X(mul_expr, Normal) /* 130 */ \
    X(op_mul, Normal) /* 131 */ \
    X(unary_expr, Normal) /* 132 */ \
    X(op_unary, Normal) /* 133 */ \
    X(call_primary, Silent) /* 134 */ \
    X(postfix, Normal) /* 135 */ \
    X(field_access, Normal) /* 136 */ \
    X(call_suffix, Normal) /* 137 */ \
    X(arg, Silent) /* 138 */ \
    X(named_arg, Normal) /* 139 */ \
    X(primary, Normal) /* 140 */ \
    X(paren_expr, Normal) /* 141 */ \
    X(e_bracket, Normal) /* 142 */ \
    X(exists_expr, Normal) /* 143 */ \
    X(not_exists_expr, Normal) /* 144 */ \
    X(number, Atomic) /* 145 */ \
    X(boolean, Silent) /* 146 */ \
    X(kw_schema_tok, Atomic) /* 147 */ \
    X(kw_node_tok, Atomic) /* 148 */ \
    X(kw_edge_tok, Atomic) /* 149 */ \
    X(kw_belief_model_tok, Atomic) /* 150 */ \
    X(kw_on_tok, Atomic) /* 151 */ \
    X(kw_evidence_tok, Atomic) /* 152 */ \
    X(kw_rule_tok, Atomic) /* 153 */ \
    X(kw_for_tok, Atomic) /* 154 */ \
    X(kw_pattern_tok, Atomic) /* 155 */ \
    X(kw_where_tok, Atomic) /* 156 */ \
    X(kw_action_tok, Atomic) /* 157 */ \
    X(kw_mode_tok, Atomic) /* 158 */ \
    X(kw_flow_tok, Atomic) /* 159 */ \
    X(kw_graph_tok, Atomic) /* 160 */ \
    X(kw_from_evidence_tok, Atomic) /* 161 */ \
    X(kw_from_graph_tok, Atomic) /* 162 */ \
    X(kw_select_model_tok, Atomic) /* 163 */ \
    X(kw_edge_aic_tok, Atomic) /* 164 */ \
    X(kw_edge_bic_tok, Atomic) /* 165 */ \
    X(kw_apply_rule_tok, Atomic) /* 166 */ \
    X(kw_apply_ruleset_tok, Atomic) /* 167 */ \
    X(kw_snapshot_tok, Atomic) /* 168 */ \
    X(kw_infer_beliefs_tok, Atomic) /* 169 */ \
    X(kw_prune_edges_tok, Atomic) /* 170 */ \
    X(kw_metric_tok, Atomic) /* 171 */ \
    X(kw_nodes_tok, Atomic) /* 172 */ \
    X(kw_sum_tok, Atomic) /* 173 */ \
    X(kw_count_tok, Atomic) /* 174 */ \
    X(kw_avg_tok, Atomic) /* 175 */ \
    X(kw_order_by_tok, Atomic) /* 176 */ \
    X(kw_fold_tok, Atomic) /* 177 */ \
    X(kw_export_tok, Atomic) /* 178 */ \
    X(kw_as_tok, Atomic) /* 179 */ \
    X(kw_export_metric_tok, Atomic) /* 180 */ \
    X(kw_import_metric_tok, Atomic) /* 181 */ \
    X(KW_schema, Silent) /* 182 */ \
    X(KW_node, Silent) /* 183 */ \
    X(KW_edge, Silent) /* 184 */ \
    X(KW_belief_model, Silent) /* 185 */ \
    X(KW_on, Silent) /* 186 */ \
    X(KW_evidence, Silent) /* 187 */ \
    X(KW_rule, Silent) /* 188 */ \
    X(KW_for, Silent) /* 189 */ \
    X(KW_pattern, Silent) /* 190 */ \
    X(KW_where, Silent) /* 191 */ \
    X(KW_action, Silent) /* 192 */ \
    X(kw_to_tok, Atomic) /* 193 */ \
    X(kw_non_bayesian_nudge_tok, Atomic) /* 194 */ \
    X(kw_delete_tok, Atomic) /* 195 */ \
    X(kw_suppress_tok, Atomic) /* 196 */ \
    X(kw_variance_tok, Atomic) /* 197 */ \
    X(kw_preserve_tok, Atomic) /* 198 */ \
    X(kw_increase_tok, Atomic) /* 199 */ \
    X(kw_decrease_tok, Atomic) /* 200 */ \
    X(kw_weight_tok, Atomic) /* 201 */ \
    X(KW_mode, Silent) /* 202 */ \
    X(KW_flow, Silent) /* 203 */ \
    X(KW_graph, Silent) /* 204 */ \
    X(KW_from_evidence, Silent) /* 205 */ \
    X(KW_from_graph, Silent) /* 206 */ \
    X(KW_select_model, Silent) /* 207 */ \
    X(KW_edge_aic, Silent) /* 208 */ \
    X(KW_edge_bic, Silent) /* 209 */ \
    X(KW_apply_rule, Silent) /* 210 */ \
    X(KW_apply_ruleset, Silent) /* 211 */ \
    X(KW_snapshot, Silent) /* 212 */ \
    X(KW_infer_beliefs, Silent) /* 213 */ \
    X(KW_prune_edges, Silent) /* 214 */ \
    X(KW_metric, Silent) /* 215 */ \
    X(KW_nodes, Silent) /* 216 */ \
    X(KW_sum, Silent) /* 217 */ \
    X(KW_count, Silent) /* 218 */ \
    X(KW_avg, Silent) /* 219 */ \
    X(KW_order_by, Silent) /* 220 */ \
    X(KW_fold, Silent) /* 221 */ \
    X(KW_export, Silent) /* 222 */ \
    X(KW_as, Silent) /* 223 */ \
    X(KW_export_metric, Silent) /* 224 */ \
    X(KW_import_metric, Silent) /* 225 */ \
    X(kw_let_tok, Atomic) /* 226 */ \
    X(kw_exists_tok, Atomic) /* 227 */ \
    X(kw_and_tok, Atomic) /* 228 */ \
    X(kw_or_tok, Atomic) /* 229 */ \
    X(kw_not_tok, Atomic) /* 230 */ \
    X(kw_true_tok, Atomic) /* 231 */ \
    X(kw_false_tok, Atomic) /* 232 */ \
    X(KW_and, Silent) /* 233 */ \
    X(KW_or, Silent) /* 234 */ \
    X(KW_not, Silent) /* 235 */ \
    X(KW_true, Silent) /* 236 */ \
    X(KW_false, Silent) /* 237 */ \
    X(KW_let, Silent) /* 238 */ \
    X(KW_exists, Silent) /* 239 */ \
    X(KW_to, Silent) /* 240 */ \
    X(KW_non_bayesian_nudge, Silent) /* 241 */ \
    X(KW_delete, Silent) /* 242 */ \
    X(KW_suppress, Silent) /* 243 */ \
    X(KW_variance, Silent) /* 244 */ \
    X(KW_preserve, Silent) /* 245 */ \
    X(KW_increase, Silent) /* 246 */ \
    X(KW_decrease, Silent) /* 247 */ \
    X(KW_weight, Silent) /* 248 */

enum class Rule : uint8_t {
#define MORVANE_RULE_ENUMERATOR(name, kind) name,
    MORVANE_GRAMMAR_RULES(MORVANE_RULE_ENUMERATOR)
#undef MORVANE_RULE_ENUMERATOR
};

#define MORVANE_RULE_COUNT_ONE(name, kind) +1
inline constexpr size_t kRuleCount = 0 MORVANE_GRAMMAR_RULES(MORVANE_RULE_COUNT_ONE);
#undef MORVANE_RULE_COUNT_ONE
static_assert(kRuleCount == 249);

// The rule's name as written in the grammar; also its debug text.
std::string_view rule_name(Rule rule);

RuleKind rule_kind(Rule rule);

inline constexpr uint8_t rule_value(Rule rule) { return static_cast<uint8_t>(rule); }

}  // namespace morvane::frontend::parser
