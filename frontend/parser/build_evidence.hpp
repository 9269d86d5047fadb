// The evidence builders: one `evidence_decl` pair to an EvidenceDef.
//
// An evidence body writes observations in several forms: observe statements
// of three kinds, choose and unchoose statements, node groups and edge
// groups. All of them reduce to one flat list of ObserveStmt in the order
// the source writes them. A node is named by its type and a label; a label
// keeps the form in which it was written (a number label keeps its text, so
// 1, 1.0 and 01 are three labels; a quoted label loses its quotes only).
// Names are not resolved here.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// Every function below throws FrontendError::Parse with a fixed text when a
// part it reads is missing or malformed.

// `source` is the parsed text, from which the body is copied into body_src.
ast::EvidenceDef build_evidence(const Pair& decl, std::string_view source);

// An `observe_stmt` pair, or directly one of the three statement pairs.
ast::ObserveStmt build_observe_stmt(const Pair& pair);

// The edge an `edge_observe` names.
struct EdgeTarget {
    std::string edge_type;
    std::string src_type;
    std::string src_label;
    std::string dst_type;
    std::string dst_label;
};
EdgeTarget parse_edge_observe_target(const Pair& edge_observe);

// (node type, label) of a `node_ref`: `T["label"]`, `T(label)`, `T("label")`
// or `T(3)`.
std::pair<std::string, std::string> build_node_ref(const Pair& node_ref);

// Appends one Edge observation per entry of an `edge_group`.
void build_edge_group_into(const Pair& group, std::vector<ast::ObserveStmt>& observations);

}  // namespace morvane::frontend::parser
