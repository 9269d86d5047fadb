#include "frontend/parser/pair_helpers.hpp"

#include <utility>

#include "frontend/errors.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"

namespace morvane::frontend::parser {

namespace {

std::optional<Pair> take_first_of(Pairs& pairs, Rule rule) {
    while (std::optional<Pair> pair = pairs.next()) {
        if (pair->as_rule() == rule) return pair;
    }
    return std::nullopt;
}

}  // namespace

std::string extract_ident(Pairs& pairs, std::string_view error) {
    const std::optional<Pair> found = take_first_of(pairs, Rule::ident);
    if (!found) detail::fail(std::string(error));
    return std::string(found->as_str());
}

std::string extract_string(Pairs& pairs, std::string_view error) {
    const std::optional<Pair> found = take_first_of(pairs, Rule::string);
    if (!found) detail::fail(std::string(error));
    return unquote_string(found->as_str());
}

std::string unquote_string(std::string_view text) {
    const size_t first = text.find_first_not_of('"');
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of('"');
    return std::string(text.substr(first, last + 1 - first));
}

std::string block_src(const Pair& pair, std::string_view source) {
    return std::string(source.substr(pair.start(), pair.end() - pair.start()));
}

namespace detail {

void fail(std::string text) { throw FrontendError::parse(std::move(text)); }

std::optional<Pair> first_of(const Pairs& pairs, Rule rule) {
    for (const Pair& pair : pairs) {
        if (pair.as_rule() == rule) return pair;
    }
    return std::nullopt;
}

std::optional<double> number_value(const Pair& pair) {
    if (pair.as_rule() == Rule::number) return support::read_number_token(pair.as_str());
    return support::parse_float(pair.as_str());
}

double number_or_fail(const Pair& pair) {
    const std::optional<double> value = number_value(pair);
    if (!value) fail(support::fill("Invalid number: {}", support::kInvalidFloatLiteral));
    return *value;
}

std::string rule_list_text(const Pairs& pairs) {
    std::string out = "[";
    bool first = true;
    for (const Pair& pair : pairs) {
        if (!first) out += ", ";
        first = false;
        out += rule_name(pair.as_rule());
    }
    out += ']';
    return out;
}

}  // namespace detail

}  // namespace morvane::frontend::parser
