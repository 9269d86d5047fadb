#include "frontend/parser/build_pattern.hpp"

#include <optional>
#include <string>

#include "frontend/parser/pair_helpers.hpp"

namespace morvane::frontend::parser {

namespace {

std::string next_text(Pairs& pairs, const char* missing) {
    const std::optional<Pair> pair = pairs.next();
    if (!pair) detail::fail(missing);
    return std::string(pair->as_str());
}

}  // namespace

ast::PatternItem build_pattern_item(const Pair& pattern) {
    Pairs parts = pattern.into_inner();
    ast::PatternItem item;
    item.src.var = next_text(parts, "Missing source variable in pattern");
    item.src.label = next_text(parts, "Missing source label in pattern");
    item.edge.var = next_text(parts, "Missing edge variable in pattern");
    item.edge.ty = next_text(parts, "Missing edge type in pattern");
    item.dst.var = next_text(parts, "Missing destination variable in pattern");
    item.dst.label = next_text(parts, "Missing destination label in pattern");
    return item;
}

}  // namespace morvane::frontend::parser
