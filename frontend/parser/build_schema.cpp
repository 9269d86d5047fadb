#include "frontend/parser/build_schema.hpp"

#include <optional>
#include <string>

#include "frontend/parser/pair_helpers.hpp"

namespace morvane::frontend::parser {

namespace {

std::string first_ident_text(const Pairs& pairs) {
    const std::optional<Pair> ident = detail::first_of(pairs, Rule::ident);
    return ident ? std::string(ident->as_str()) : std::string();
}

// `name : type ;?`: the first two inner pairs, whatever their rules.
ast::AttrDef build_attr_decl(const Pair& decl) {
    Pairs inner = decl.into_inner();
    const std::optional<Pair> name = inner.next();
    if (!name) detail::fail("Missing attribute name");
    const std::optional<Pair> ty = inner.next();
    if (!ty) detail::fail("Missing attribute type");
    return {std::string(name->as_str()), std::string(ty->as_str())};
}

ast::NodeDef build_node_decl(const Pair& decl) {
    ast::NodeDef node{first_ident_text(decl.into_inner()), {}};
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::attr_decl) node.attrs.push_back(build_attr_decl(child));
    }
    return node;
}

ast::EdgeDef build_edge_decl(const Pair& decl) {
    Pairs inner = decl.into_inner();
    return {extract_ident(inner, "Missing edge name")};
}

}  // namespace

ast::Schema build_schema(const Pair& decl) {
    ast::Schema schema{first_ident_text(decl.into_inner()), {}, {}};
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() != Rule::block_schema) continue;
        for (const Pair& item : child.into_inner()) {
            if (item.as_rule() == Rule::node_decl) {
                schema.nodes.push_back(build_node_decl(item));
            } else if (item.as_rule() == Rule::edge_decl) {
                schema.edges.push_back(build_edge_decl(item));
            }
        }
    }
    return schema;
}

}  // namespace morvane::frontend::parser
