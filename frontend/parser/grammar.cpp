// The grammar of the language, one rule per line, in the notation read by
// peg_notation.hpp. Rule kinds and values come from rules.hpp; EOI is built
// into the engine.
//
// Some repetitions name COMMENT as an alternative. The skip before each
// repetition step has already consumed every comment there, so it never
// matches; it is kept so the rules read as the language defines them.
#include "frontend/parser/grammar.hpp"

namespace morvane::frontend::parser {

std::string_view grammar_notation() {
    static constexpr std::string_view kNotation = R"notation(
// Lexical rules. Whitespace and comments are what every skip consumes.
WHITESPACE    = (" " | "\t" | "\r" | "\n")+
COMMENT       = LINE_COMMENT | BLOCK_COMMENT
LINE_COMMENT  = "//" ~ (!"\n" ~ ANY)*
BLOCK_COMMENT = "/*" ~ (!"*/" ~ ANY)* ~ "*/"
ident         = ("a".."z" | "A".."Z" | "_") ~ ("a".."z" | "A".."Z" | "0".."9" | "_")*
label         = ("a".."z" | "A".."Z" | "_") ~ ("a".."z" | "A".."Z" | "0".."9" | "_")*
string        = "\"" ~ ("\\\"" | "\\\\" | !"\"" ~ ANY)* ~ "\""
number        = "-"? ~ ("0".."9")+ ~ ("." ~ ("0".."9")+)?
boolean       = kw_true_tok | kw_false_tok

// Keywords: whole words only; each token has a silent alias.
kw_observe_tok            = "observe" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_observe                = kw_observe_tok
kw_choose_tok             = "choose" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_choose                 = kw_choose_tok
kw_unchoose_tok           = "unchoose" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_unchoose               = kw_unchoose_tok
kw_schema_tok             = "schema" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_schema                 = kw_schema_tok
kw_node_tok               = "node" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_node                   = kw_node_tok
kw_edge_tok               = "edge" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_edge                   = kw_edge_tok
kw_belief_model_tok       = "belief_model" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_belief_model           = kw_belief_model_tok
kw_on_tok                 = "on" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_on                     = kw_on_tok
kw_evidence_tok           = "evidence" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_evidence               = kw_evidence_tok
kw_rule_tok               = "rule" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_rule                   = kw_rule_tok
kw_for_tok                = "for" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_for                    = kw_for_tok
kw_pattern_tok            = "pattern" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_pattern                = kw_pattern_tok
kw_where_tok              = "where" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_where                  = kw_where_tok
kw_action_tok             = "action" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_action                 = kw_action_tok
kw_mode_tok               = "mode" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_mode                   = kw_mode_tok
kw_flow_tok               = "flow" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_flow                   = kw_flow_tok
kw_graph_tok              = "graph" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_graph                  = kw_graph_tok
kw_from_evidence_tok      = "from_evidence" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_from_evidence          = kw_from_evidence_tok
kw_from_graph_tok         = "from_graph" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_from_graph             = kw_from_graph_tok
kw_select_model_tok       = "select_model" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_select_model           = kw_select_model_tok
kw_edge_aic_tok           = "edge_aic" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_edge_aic               = kw_edge_aic_tok
kw_edge_bic_tok           = "edge_bic" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_edge_bic               = kw_edge_bic_tok
kw_apply_rule_tok         = "apply_rule" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_apply_rule             = kw_apply_rule_tok
kw_apply_ruleset_tok      = "apply_ruleset" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_apply_ruleset          = kw_apply_ruleset_tok
kw_snapshot_tok           = "snapshot" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_snapshot               = kw_snapshot_tok
kw_infer_beliefs_tok      = "infer_beliefs" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_infer_beliefs          = kw_infer_beliefs_tok
kw_prune_edges_tok        = "prune_edges" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_prune_edges            = kw_prune_edges_tok
kw_metric_tok             = "metric" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_metric                 = kw_metric_tok
kw_nodes_tok              = "nodes" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_nodes                  = kw_nodes_tok
kw_sum_tok                = "sum" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_sum                    = kw_sum_tok
kw_count_tok              = "count" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_count                  = kw_count_tok
kw_avg_tok                = "avg" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_avg                    = kw_avg_tok
kw_order_by_tok           = "order_by" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_order_by               = kw_order_by_tok
kw_fold_tok               = "fold" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_fold                   = kw_fold_tok
kw_export_tok             = "export" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_export                 = kw_export_tok
kw_as_tok                 = "as" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_as                     = kw_as_tok
kw_export_metric_tok      = "export_metric" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_export_metric          = kw_export_metric_tok
kw_import_metric_tok      = "import_metric" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_import_metric          = kw_import_metric_tok
kw_to_tok                 = "to" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_to                     = kw_to_tok
kw_non_bayesian_nudge_tok = "non_bayesian_nudge" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_non_bayesian_nudge     = kw_non_bayesian_nudge_tok
kw_delete_tok             = "delete" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_delete                 = kw_delete_tok
kw_suppress_tok           = "suppress" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_suppress               = kw_suppress_tok
kw_variance_tok           = "variance" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_variance               = kw_variance_tok
kw_preserve_tok           = "preserve" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_preserve               = kw_preserve_tok
kw_increase_tok           = "increase" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_increase               = kw_increase_tok
kw_decrease_tok           = "decrease" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_decrease               = kw_decrease_tok
kw_weight_tok             = "weight" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_weight                 = kw_weight_tok
kw_let_tok                = "let" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_let                    = kw_let_tok
kw_exists_tok             = "exists" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_exists                 = kw_exists_tok
kw_and_tok                = "and" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_and                    = kw_and_tok
kw_or_tok                 = "or" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_or                     = kw_or_tok
kw_not_tok                = "not" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_not                    = kw_not_tok
kw_true_tok               = "true" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_true                   = kw_true_tok
kw_false_tok              = "false" ~ !("a".."z" | "A".."Z" | "0".."9" | "_")
KW_false                  = kw_false_tok

// Programs, schemas, belief models and posteriors. `block` and `block_inner`
// match balanced braces; no other rule calls them.
program                      = SOI ~ (COMMENT | decl)* ~ EOI
decl                         = schema_decl | belief_model_decl | evidence_decl | rule_decl | flow_decl
schema_decl                  = kw_schema_tok ~ ident ~ block_schema
block_schema                 = "{" ~ (COMMENT | node_decl | edge_decl)* ~ "}"
node_decl                    = kw_node_tok ~ ident ~ "{" ~ (COMMENT | attr_decl)* ~ "}"
edge_decl                    = kw_edge_tok ~ ident ~ "{" ~ COMMENT* ~ "}"
attr_decl                    = ident ~ ":" ~ ident ~ ";"?
belief_model_decl            = kw_belief_model_tok ~ ident ~ kw_on_tok ~ ident ~ belief_model_body
belief_model_body            = "{" ~ (COMMENT | node_belief_decl | edge_belief_decl)* ~ "}"
node_belief_decl             = kw_node_tok ~ ident ~ "{" ~ (COMMENT | attr_belief_decl)* ~ "}"
attr_belief_decl             = ident ~ "~" ~ posterior_type ~ ";"?
edge_belief_decl             = kw_edge_tok ~ ident ~ "{" ~ (COMMENT | exist_belief_decl | edge_weight_belief_decl)* ~ "}"
exist_belief_decl            = "exist" ~ "~" ~ posterior_type ~ ";"?
edge_weight_belief_decl      = kw_weight_tok ~ "~" ~ posterior_type ~ ";"?
posterior_type               = gaussian_posterior | bernoulli_posterior | categorical_posterior
gaussian_posterior           = ("GaussianPosterior" | "Gaussian") ~ "(" ~ gaussian_param ~ ("," ~ gaussian_param)* ~ ")"
gaussian_param               = ident ~ "=" ~ number
bernoulli_posterior          = ("BernoulliPosterior" | "Bernoulli") ~ "(" ~ bernoulli_param ~ ("," ~ bernoulli_param)* ~ ")"
bernoulli_param              = ident ~ "=" ~ number
categorical_posterior        = ("CategoricalPosterior" | "Categorical") ~ "(" ~ categorical_param ~ ("," ~ categorical_param)* ~ ")"
categorical_param            = ident ~ "=" ~ categorical_param_value
categorical_param_value      = string | prior_array | "uniform" | ident | number | categorical_categories_array
categorical_categories_array = "[" ~ string ~ ("," ~ string)* ~ "]"
prior_array                  = "[" ~ number ~ ("," ~ number)* ~ "]"
block                        = "{" ~ block_inner* ~ "}"
block_inner                  = block | !("{" | "}") ~ ANY

// Evidence blocks.
evidence_decl            = kw_evidence_tok ~ ident ~ kw_on_tok ~ ident ~ evidence_body
evidence_body            = "{" ~ (COMMENT | observe_stmt | choose_stmt | unchoose_stmt | node_group | edge_group)* ~ "}"
node_group               = ident ~ "{" ~ (node_entry ~ ("," ~ node_entry)*)? ~ "}"
node_entry               = node_label ~ "{" ~ (node_attr_kv ~ ("," ~ node_attr_kv)*)? ~ "}"
node_attr_kv             = ident ~ ":" ~ number ~ precision_annot?
edge_group               = ident ~ "(" ~ ident ~ "->" ~ ident ~ ")" ~ "{" ~ (edge_entry ~ ((";" | ",") ~ edge_entry)*)? ~ "}"
edge_op                  = "->" | "-/>"
edge_entry               = node_label ~ edge_op ~ node_label
choose_stmt              = kw_choose_tok ~ edge_observe ~ ";"?
unchoose_stmt            = kw_unchoose_tok ~ edge_observe ~ ";"?
observe_stmt             = observe_edge_weight_stmt | observe_edge_stmt | observe_attr_stmt
observe_edge_stmt        = kw_observe_tok ~ edge_observe ~ evidence_mode ~ ";"?
observe_edge_weight_stmt = kw_observe_tok ~ edge_observe ~ kw_weight_tok ~ "=" ~ number ~ precision_annot? ~ ";"?
observe_attr_stmt        = kw_observe_tok ~ attr_observe ~ ";"?
observe_target           = edge_observe | attr_observe
edge_observe             = kw_edge_tok ~ ident ~ "(" ~ node_ref ~ "," ~ node_ref ~ ")"
attr_observe             = node_ref ~ "." ~ ident ~ "=" ~ number ~ precision_annot?
precision_annot          = "(" ~ ident ~ "=" ~ number ~ ")"
node_ref                 = ident ~ (node_ref_bracket | node_ref_call)
node_ref_bracket         = "[" ~ string ~ "]"
node_ref_call            = "(" ~ node_label ~ ")"
node_label               = string | ident | number
evidence_mode            = "present" | "absent" | "chosen" | "unchosen" | "forced_choice"

// Rules and their actions.
rule_decl        = kw_rule_tok ~ ident ~ kw_on_tok ~ ident ~ "{" ~ rule_body ~ "}"
rule_body        = (COMMENT | sugar_rule | for_sugar | pattern_clause | where_clause | action_clause | mode_clause)*
sugar_rule       = pattern_item ~ (kw_where_tok ~ expr)? ~ "=>" ~ action_block
for_sugar        = kw_for_tok ~ "(" ~ ident ~ ":" ~ label ~ ")" ~ (kw_where_tok ~ expr)? ~ "=>" ~ action_block
pattern_clause   = kw_pattern_tok ~ pattern_list
pattern_list     = pattern_item ~ ("," ~ pattern_item)*
where_clause     = kw_where_tok ~ expr ~ ("=>" ~ action_block)?
action_clause    = kw_action_tok ~ action_block
action_block     = "{" ~ (COMMENT | action_stmt)* ~ "}"
action_stmt      = let_stmt | nbnudge_stmt | soft_update_stmt | delete_stmt | suppress_stmt
let_stmt         = kw_let_tok ~ ident ~ "=" ~ expr ~ ";"?
node_attr        = ident ~ "." ~ ident
nbnudge_stmt     = kw_non_bayesian_nudge_tok ~ node_attr ~ kw_to_tok ~ expr ~ variance_clause? ~ ";"?
variance_clause  = kw_variance_tok ~ "=" ~ (kw_preserve_tok | increase_clause | decrease_clause)
increase_clause  = kw_increase_tok ~ ("(" ~ "factor" ~ "=" ~ number ~ ")")?
decrease_clause  = kw_decrease_tok ~ ("(" ~ "factor" ~ "=" ~ number ~ ")")?
soft_update_stmt = node_attr ~ "~=" ~ expr ~ (soft_args | soft_arg)* ~ ";"?
soft_args        = "(" ~ soft_arg ~ ("," ~ soft_arg)* ~ ")"
soft_arg         = "precision" ~ "=" ~ number | "count" ~ "=" ~ number
delete_stmt      = kw_delete_tok ~ ident ~ (delete_args | delete_arg)? ~ ";"?
delete_args      = "(" ~ delete_arg ~ ")"
delete_arg       = "confidence" ~ "=" ~ ident
suppress_stmt    = kw_suppress_tok ~ ident ~ (suppress_args | suppress_arg)? ~ ";"?
suppress_args    = "(" ~ suppress_arg ~ ")"
suppress_arg     = "weight" ~ "=" ~ number
mode_clause      = kw_mode_tok ~ ":" ~ ident

// Flows, transforms, metrics, exports and imports.
flow_decl                 = kw_flow_tok ~ ident ~ kw_on_tok ~ ident ~ "{" ~ flow_body ~ "}"
flow_body                 = (COMMENT | graph_stmt | metric_stmt | export_stmt | metric_export_stmt | metric_import_stmt)*
graph_stmt                = kw_graph_tok ~ ident ~ "=" ~ graph_expr
graph_expr                = from_evidence_expr | from_graph_expr | select_model_expr | pipeline_expr
from_evidence_expr        = kw_from_evidence_tok ~ ident
from_graph_expr           = kw_from_graph_tok ~ string
select_model_expr         = kw_select_model_tok ~ "{" ~ ident ~ ("," ~ ident)* ~ "}" ~ "by" ~ model_selection_criterion
model_selection_criterion = kw_edge_aic_tok | kw_edge_bic_tok
pipeline_expr             = ident ~ (pipe_op ~ transform)+
transform                 = apply_rule_tr | apply_ruleset_tr | snapshot_tr | infer_beliefs_tr | prune_edges_tr
apply_rule_tr             = kw_apply_rule_tok ~ ident
apply_ruleset_tr          = kw_apply_ruleset_tok ~ "{" ~ ident ~ ("," ~ ident)* ~ "}"
snapshot_tr               = kw_snapshot_tok ~ string
infer_beliefs_tr          = kw_infer_beliefs_tok
prune_edges_tr            = kw_prune_edges_tok ~ ident ~ kw_where_tok ~ expr
metric_stmt               = kw_metric_tok ~ ident ~ (kw_on_tok ~ ident)? ~ "=" ~ (metric_builder_expr | expr)
export_stmt               = kw_export_tok ~ ident ~ kw_as_tok ~ string
metric_export_stmt        = kw_export_metric_tok ~ ident ~ kw_as_tok ~ string
metric_import_stmt        = kw_import_metric_tok ~ ident ~ kw_as_tok ~ ident

// Expressions, from the loosest level to the operands, with the graph
// pattern and the metric pipeline they contain.
expr                = or_expr
or_expr             = and_expr ~ (op_or ~ and_expr)*
op_or               = kw_or_tok
and_expr            = cmp_expr ~ (op_and ~ cmp_expr)*
op_and              = kw_and_tok
cmp_expr            = add_expr ~ (op_cmp ~ add_expr)?
op_cmp              = "==" | "!=" | "<=" | ">=" | "<" | ">"
add_expr            = mul_expr ~ (op_add ~ mul_expr)*
op_add              = "+" | "-"
mul_expr            = unary_expr ~ (op_mul ~ unary_expr)*
op_mul              = "*" | "/"
unary_expr          = op_unary ~ unary_expr | postfix
op_unary            = "-" | kw_not_tok
call_primary        = e_bracket | paren_expr | exists_expr | not_exists_expr | metric_builder_expr | ident
postfix             = (number | boolean) ~ field_access* | call_primary ~ (field_access | call_suffix)*
field_access        = "." ~ ident
call_suffix         = "(" ~ (arg ~ ("," ~ arg)*)? ~ ")"
arg                 = named_arg | expr
named_arg           = ident ~ "=" ~ expr
primary             = number | boolean | call_primary
paren_expr          = "(" ~ expr ~ ")"
e_bracket           = "E" ~ "[" ~ ident ~ "." ~ ident ~ "]"
exists_expr         = kw_exists_tok ~ pattern_item ~ (kw_where_tok ~ expr)?
not_exists_expr     = kw_not_tok ~ kw_exists_tok ~ pattern_item ~ (kw_where_tok ~ expr)?
pattern_item        = "(" ~ ident ~ ":" ~ label ~ ")" ~ "-" ~ "[" ~ ident ~ ":" ~ ident ~ "]" ~ "->" ~ "(" ~ ident ~ ":" ~ label ~ ")"
pipe_op             = "|>"
metric_builder_expr = builder_start ~ (pipe_op ~ builder_step)+
builder_start       = kw_nodes_tok ~ "(" ~ label ~ ")"
builder_step        = builder_where | builder_sum | builder_count | builder_avg | builder_fold | builder_order
builder_where       = kw_where_tok ~ expr
builder_sum         = kw_sum_tok ~ "(" ~ "by" ~ "=" ~ expr ~ ")"
builder_count       = kw_count_tok ~ "(" ~ ")"
builder_avg         = kw_avg_tok ~ "(" ~ "by" ~ "=" ~ expr ~ ")"
builder_order       = kw_order_by_tok ~ "(" ~ expr ~ ")"
builder_fold        = kw_fold_tok ~ "(" ~ fold_args ~ ")"
fold_args           = fold_arg ~ ("," ~ fold_arg)*
fold_arg            = ("init" ~ "=" ~ expr) | ("step" ~ "=" ~ expr) | ("order_by" ~ "=" ~ expr)
)notation";
    return kNotation;
}

}  // namespace morvane::frontend::parser
