#include "frontend/parser/build_evidence.hpp"

#include <optional>

#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::frontend::parser {

namespace {

using support::fill;

// The label held by a label pair: an identifier or a number as written, a
// string without its quotes. A `node_label` stands for its own first child.
// `invalid` is the "...: {}" template for a pair of another rule, `empty`
// the error of a `node_label` without a child.
std::string read_label(Pair pair, std::string_view invalid, std::string_view empty) {
    if (pair.as_rule() == Rule::node_label) {
        const std::optional<Pair> inner = pair.into_inner().peek();
        if (!inner) detail::fail(std::string(empty));
        pair = *inner;
    }
    switch (pair.as_rule()) {
        case Rule::ident:
        case Rule::number:
            return std::string(pair.as_str());
        case Rule::string:
            return unquote_string(pair.as_str());
        default:
            detail::fail(fill(invalid, rule_name(pair.as_rule())));
    }
}

// `(precision = p)`. The value is read before the name is judged; `wrong_name`
// is the error of the place the annotation stands in.
double read_precision(const Pair& annotation, std::string_view wrong_name) {
    Pairs inner = annotation.into_inner();
    const std::optional<Pair> name = inner.next();
    if (!name) detail::fail("Missing precision name");
    const std::optional<Pair> value = inner.next();
    if (!value) detail::fail("Missing precision value");
    const double precision = detail::number_or_fail(*value);
    if (name->as_str() != "precision") detail::fail(std::string(wrong_name));
    return precision;
}

std::optional<ast::EvidenceMode> evidence_mode(std::string_view word) {
    using enum ast::EvidenceMode;
    if (word == "present") return Present;
    if (word == "absent") return Absent;
    if (word == "chosen") return Chosen;
    if (word == "unchosen") return Unchosen;
    if (word == "forced_choice") return ForcedChoice;
    return std::nullopt;
}

// The edge type and the two node references of an `edge_observe`; a third
// reference is not read. The caller judges which parts are missing.
struct PartialTarget {
    std::string edge_type;
    std::optional<std::pair<std::string, std::string>> src;
    std::optional<std::pair<std::string, std::string>> dst;
};

PartialTarget read_edge_observe(const Pair& edge_observe) {
    PartialTarget target;
    bool have_type = false;
    for (const Pair& child : edge_observe.into_inner()) {
        if (child.as_rule() == Rule::ident && !have_type) {
            target.edge_type = std::string(child.as_str());
            have_type = true;
        } else if (child.as_rule() == Rule::node_ref) {
            if (!target.src) {
                target.src = build_node_ref(child);
            } else if (!target.dst) {
                target.dst = build_node_ref(child);
            }
        }
    }
    return target;
}

ast::ObserveStmt::Edge edge_observation(EdgeTarget target, ast::EvidenceMode mode) {
    return {std::move(target.edge_type), std::move(target.src_type), std::move(target.src_label),
            std::move(target.dst_type),  std::move(target.dst_label), mode};
}

ast::ObserveStmt build_observe_edge(const Pair& stmt) {
    const Pairs inner = stmt.into_inner();
    const std::optional<Pair> target_pair = detail::first_of(inner, Rule::edge_observe);
    const std::optional<Pair> mode_pair = detail::first_of(inner, Rule::evidence_mode);
    if (!target_pair) detail::fail("Missing edge observe target");
    EdgeTarget target = parse_edge_observe_target(*target_pair);
    if (!mode_pair) detail::fail("Missing evidence mode");
    const std::optional<ast::EvidenceMode> mode = evidence_mode(mode_pair->as_str());
    if (!mode) detail::fail(fill("Invalid evidence mode: {}", mode_pair->as_str()));
    return edge_observation(std::move(target), *mode);
}

ast::ObserveStmt build_observe_edge_weight(const Pair& stmt) {
    std::optional<Pair> target_pair;
    std::optional<double> value;
    std::optional<double> precision;
    for (const Pair& child : stmt.into_inner()) {
        if (child.as_rule() == Rule::edge_observe) {
            if (!target_pair) target_pair = child;
        } else if (child.as_rule() == Rule::precision_annot) {
            precision = read_precision(
                child, "Only precision=... is supported in edge weight observation");
        } else if (child.as_rule() == Rule::number && !value) {
            value = detail::number_or_fail(child);
        }
    }
    if (!target_pair) detail::fail("Missing edge observe target");
    EdgeTarget target = parse_edge_observe_target(*target_pair);
    if (!value) detail::fail("Missing edge weight value");
    return ast::ObserveStmt::EdgeWeight{
        std::move(target.edge_type), std::move(target.src_type), std::move(target.src_label),
        std::move(target.dst_type),  std::move(target.dst_label), *value,
        precision};
}

ast::ObserveStmt build_observe_attr(const Pair& stmt) {
    const std::optional<Pair> target = detail::first_of(stmt.into_inner(), Rule::attr_observe);
    if (!target) detail::fail("Missing attribute observe target");
    std::optional<std::pair<std::string, std::string>> node;
    std::optional<std::string> attr;
    std::optional<double> value;
    std::optional<double> precision;
    for (const Pair& child : target->into_inner()) {
        switch (child.as_rule()) {
            case Rule::node_ref:
                if (!node) node = build_node_ref(child);
                break;
            case Rule::ident:
                if (!attr) attr = std::string(child.as_str());
                break;
            case Rule::number:
                if (!value) value = detail::number_or_fail(child);
                break;
            case Rule::precision_annot:
                precision =
                    read_precision(child, "Only precision=... is supported in attribute observation");
                break;
            default:
                break;
        }
    }
    if (!node) detail::fail("Missing node reference");
    if (!value) detail::fail("Missing attribute value");
    return ast::ObserveStmt::Attribute{std::move(node->first), std::move(node->second),
                                       attr.value_or(std::string()), *value, precision};
}

// `choose edge T(a, b)` and `unchoose edge T(a, b)`.
ast::ObserveStmt build_choice(const Pair& stmt, ast::EvidenceMode mode) {
    const std::optional<Pair> target_pair = detail::first_of(stmt.into_inner(), Rule::edge_observe);
    if (!target_pair) detail::fail("Missing edge target in choose/unchoose");
    PartialTarget target = read_edge_observe(*target_pair);
    if (!target.src) detail::fail("Missing source node in choose/unchoose");
    if (!target.dst) detail::fail("Missing destination node in choose/unchoose");
    return ast::ObserveStmt::Edge{std::move(target.edge_type), std::move(target.src->first),
                                  std::move(target.src->second), std::move(target.dst->first),
                                  std::move(target.dst->second), mode};
}

// `T { label { attr: v (precision = p), ... }, ... }`: one Attribute per key.
void build_node_group_into(const Pair& group, std::vector<ast::ObserveStmt>& observations) {
    Pairs children = group.into_inner();
    const std::string node_type = extract_ident(children, "Missing node type in node group");
    for (const Pair& entry : children) {
        if (entry.as_rule() != Rule::node_entry) continue;
        Pairs entry_children = entry.into_inner();
        const std::optional<Pair> label_pair = entry_children.next();
        if (!label_pair) detail::fail("Missing node label in node entry");
        const std::string label =
            read_label(*label_pair, "Invalid node label token: {}", "Empty node_label");
        for (const Pair& key : entry_children) {
            if (key.as_rule() != Rule::node_attr_kv) continue;
            Pairs parts = key.into_inner();
            const std::optional<Pair> name = parts.next();
            if (!name) detail::fail("Missing attr name in node entry");
            const std::optional<Pair> value = parts.next();
            if (!value) detail::fail("Missing attr value in node entry");
            const double number = detail::number_or_fail(*value);
            std::optional<double> precision;
            const std::optional<Pair> third = parts.next();
            if (third && third->as_rule() == Rule::precision_annot) {
                precision = read_precision(*third, "Only precision=... supported in node entry");
            }
            observations.push_back(ast::ObserveStmt::Attribute{
                node_type, label, std::string(name->as_str()), number, precision});
        }
    }
}

}  // namespace

std::pair<std::string, std::string> build_node_ref(const Pair& node_ref) {
    Pairs children = node_ref.into_inner();
    std::string node_type = extract_ident(children, "Missing node type in node reference");
    const std::optional<Pair> suffix = children.next();
    if (!suffix) detail::fail("Missing node label");
    if (suffix->as_rule() == Rule::node_ref_bracket) {
        Pairs inner = suffix->into_inner();
        return {std::move(node_type), extract_string(inner, "Missing label in node reference")};
    }
    if (suffix->as_rule() == Rule::node_ref_call) {
        const std::optional<Pair> label = suffix->into_inner().peek();
        if (!label) detail::fail("Missing label in node()");
        return {std::move(node_type),
                read_label(*label, "Invalid node label token: {}", "Empty label in node()")};
    }
    detail::fail("Invalid node reference syntax");
}

EdgeTarget parse_edge_observe_target(const Pair& edge_observe) {
    PartialTarget target = read_edge_observe(edge_observe);
    if (!target.src) detail::fail("Missing source node");
    if (!target.dst) detail::fail("Missing destination node");
    return {std::move(target.edge_type), std::move(target.src->first),
            std::move(target.src->second), std::move(target.dst->first),
            std::move(target.dst->second)};
}

ast::ObserveStmt build_observe_stmt(const Pair& pair) {
    Pair stmt = pair;
    if (pair.as_rule() == Rule::observe_stmt) {
        const std::optional<Pair> inner = pair.into_inner().peek();
        if (!inner) detail::fail("Empty observe_stmt");
        stmt = *inner;
    }
    switch (stmt.as_rule()) {
        case Rule::observe_edge_stmt:
            return build_observe_edge(stmt);
        case Rule::observe_edge_weight_stmt:
            return build_observe_edge_weight(stmt);
        case Rule::observe_attr_stmt:
            return build_observe_attr(stmt);
        default:
            detail::fail(fill("Invalid observe statement rule: {}", rule_name(stmt.as_rule())));
    }
}

void build_edge_group_into(const Pair& group, std::vector<ast::ObserveStmt>& observations) {
    Pairs children = group.into_inner();
    const std::string edge_type = extract_ident(children, "Missing edge type in edge group");
    const std::string src_type = extract_ident(children, "Missing source node type in edge group");
    const std::string dst_type =
        extract_ident(children, "Missing destination node type in edge group");
    for (const Pair& entry : children) {
        if (entry.as_rule() != Rule::edge_entry) continue;
        Pairs parts = entry.into_inner();
        const std::optional<Pair> left = parts.next();
        if (!left) detail::fail("Missing left label");
        const std::optional<Pair> arrow = parts.next();
        if (!arrow) detail::fail("Missing arrow");
        const std::optional<Pair> right = parts.next();
        if (!right) detail::fail("Missing right label");
        std::string left_label = read_label(*left, "Invalid label token: {}", "Empty node_label");
        std::string right_label = read_label(*right, "Invalid label token: {}", "Empty node_label");
        const ast::EvidenceMode mode =
            arrow->as_str() == "->" ? ast::EvidenceMode::Present : ast::EvidenceMode::Absent;
        observations.push_back(ast::ObserveStmt::Edge{edge_type, src_type, std::move(left_label),
                                                      dst_type, std::move(right_label), mode});
    }
}

ast::EvidenceDef build_evidence(const Pair& decl, std::string_view source) {
    ast::EvidenceDef evidence;
    int idents = 0;
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (idents == 0) evidence.name = std::string(child.as_str());
            if (idents == 1) evidence.on_model = std::string(child.as_str());
            ++idents;
        } else if (child.as_rule() == Rule::evidence_body) {
            evidence.body_src = block_src(child, source);
            for (const Pair& item : child.into_inner()) {
                switch (item.as_rule()) {
                    case Rule::observe_stmt:
                        evidence.observations.push_back(build_observe_stmt(item));
                        break;
                    case Rule::choose_stmt:
                        evidence.observations.push_back(
                            build_choice(item, ast::EvidenceMode::Chosen));
                        break;
                    case Rule::unchoose_stmt:
                        evidence.observations.push_back(
                            build_choice(item, ast::EvidenceMode::Unchosen));
                        break;
                    case Rule::node_group:
                        build_node_group_into(item, evidence.observations);
                        break;
                    case Rule::edge_group:
                        build_edge_group_into(item, evidence.observations);
                        break;
                    default:
                        break;
                }
            }
        }
    }
    return evidence;
}

}  // namespace morvane::frontend::parser
