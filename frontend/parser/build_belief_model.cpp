#include "frontend/parser/build_belief_model.hpp"

#include <optional>
#include <string>
#include <utility>

#include "frontend/parser/pair_helpers.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"

namespace morvane::frontend::parser {

namespace {

using support::fill;

bool is_posterior_rule(Rule rule) {
    return rule == Rule::posterior_type || rule == Rule::gaussian_posterior ||
           rule == Rule::bernoulli_posterior || rule == Rule::categorical_posterior;
}

std::optional<Pair> first_posterior(const Pairs& pairs) {
    for (const Pair& pair : pairs) {
        if (is_posterior_rule(pair.as_rule())) return pair;
    }
    return std::nullopt;
}

// The stored name of a written parameter name; the renames belong to one
// family each.
std::string stored_param_name(Rule family, std::string_view written) {
    if (family == Rule::gaussian_posterior) {
        if (written == "mean") return "prior_mean";
        if (written == "precision") return "prior_precision";
    } else if (written == "weight") {
        return "pseudo_count";
    }
    return std::string(written);
}

// Gaussian and Bernoulli: `name = number` pairs in source order, repeats
// kept. A missing name or value reads as empty text, which is not a number.
ast::PosteriorParams build_params(const Pair& posterior, Rule param_rule) {
    ast::PosteriorParams params;
    for (const Pair& param : posterior.into_inner()) {
        if (param.as_rule() != param_rule) continue;
        Pairs inner = param.into_inner();
        const std::optional<Pair> name = inner.next();
        const std::optional<Pair> value = inner.next();
        if (!value) detail::fail(fill("Invalid number: {}", support::kInvalidFloatLiteral));
        const double number = detail::number_or_fail(*value);
        params.emplace_back(stored_param_name(posterior.as_rule(), name ? name->as_str() : ""),
                            number);
    }
    return params;
}

// The parts of a categorical posterior while its parameters are read; a
// later parameter of the same slot replaces the earlier value.
struct CategoricalParts {
    std::optional<std::string> group_by;
    std::optional<ast::CategoricalPrior> prior;
    std::optional<std::vector<std::string>> categories;
};

// What a categorical parameter value is: the rule of its one inner pair, or
// the bare word `uniform`, which leaves no inner pair.
struct ParamValue {
    std::optional<Pair> inner;  // absent for the bare word
    std::string_view text;      // the inner pair's text, or the bare word
    bool is(Rule rule) const { return inner && inner->as_rule() == rule; }
};

void read_group_by(CategoricalParts& parts, const ParamValue& value) {
    if (!value.inner) detail::fail(fill("Invalid group_by value: {}", value.text));
    if (value.is(Rule::ident)) {
        parts.group_by = std::string(value.text);
    } else if (value.is(Rule::string)) {
        parts.group_by = unquote_string(value.text);
    } else {
        detail::fail("group_by parameter must be a string or identifier");
    }
}

// `prior = [..]` sets explicit concentrations; the word uniform, in any
// spelling, leaves the prior as it is (a uniform prior comes from
// pseudo_count only).
void read_prior(CategoricalParts& parts, const ParamValue& value) {
    if (!value.inner) {
        if (value.text != "uniform") detail::fail(fill("Unknown prior: {}", value.text));
    } else if (value.is(Rule::prior_array)) {
        ast::CategoricalPrior::Explicit explicit_prior;
        for (const Pair& number : value.inner->into_inner()) {
            if (number.as_rule() == Rule::number) {
                explicit_prior.concentrations.push_back(detail::number_or_fail(number));
            }
        }
        parts.prior = std::move(explicit_prior);
    } else if (value.is(Rule::ident)) {
        if (value.text != "uniform") {
            detail::fail(
                fill("Unknown prior identifier: {} (expected 'uniform' or array)", value.text));
        }
    } else if (value.is(Rule::string)) {
        const std::string word = unquote_string(value.text);
        if (word != "uniform") {
            detail::fail(fill("Unknown prior string: {} (expected 'uniform')", word));
        }
    }
}

void read_pseudo_count(CategoricalParts& parts, const ParamValue& value) {
    if (!value.is(Rule::number)) detail::fail("pseudo_count parameter must be a number");
    parts.prior = ast::CategoricalPrior::Uniform{detail::number_or_fail(*value.inner)};
}

void read_categories(CategoricalParts& parts, const ParamValue& value) {
    if (!value.is(Rule::categorical_categories_array)) {
        detail::fail("categories parameter must be an array of strings");
    }
    std::vector<std::string> categories;
    for (const Pair& item : value.inner->into_inner()) {
        if (item.as_rule() == Rule::string) categories.push_back(unquote_string(item.as_str()));
    }
    parts.categories = std::move(categories);
}

void read_categorical_param(CategoricalParts& parts, const Pair& param) {
    Pairs inner = param.into_inner();
    const std::optional<Pair> name_pair = inner.next();
    if (!name_pair) detail::fail("Missing parameter name in categorical_param");
    const std::optional<Pair> value_pair = inner.next();
    if (!value_pair) detail::fail("Missing parameter value in categorical_param");

    ParamValue value{value_pair->into_inner().peek(), value_pair->as_str()};
    if (value.inner) value.text = value.inner->as_str();

    const std::string_view name = name_pair->as_str();
    if (name == "group_by") {
        read_group_by(parts, value);
    } else if (name == "prior") {
        read_prior(parts, value);
    } else if (name == "pseudo_count") {
        read_pseudo_count(parts, value);
    } else if (name == "categories") {
        read_categories(parts, value);
    } else {
        detail::fail(fill("Unknown categorical parameter: {}", name));
    }
}

ast::PosteriorType build_categorical(const Pair& posterior) {
    CategoricalParts parts;
    for (const Pair& param : posterior.into_inner()) {
        if (param.as_rule() == Rule::categorical_param) read_categorical_param(parts, param);
    }
    if (!parts.group_by) detail::fail("Missing group_by parameter");
    if (!parts.prior) detail::fail("Missing prior parameter");
    return ast::PosteriorType::Categorical{std::move(*parts.group_by), std::move(*parts.prior),
                                           std::move(parts.categories)};
}

// `attr ~ Posterior(...)`.
std::pair<std::string, ast::PosteriorType> build_attr_belief(const Pair& decl) {
    const Pairs inner = decl.into_inner();
    const std::optional<Pair> name = detail::first_of(inner, Rule::ident);
    if (!name) detail::fail("Missing attribute name");
    const std::optional<Pair> posterior = first_posterior(inner);
    if (!posterior) {
        detail::fail(fill("Missing posterior type. Found rules: {}", detail::rule_list_text(inner)));
    }
    return {std::string(name->as_str()), build_posterior_type(*posterior)};
}

ast::NodeBeliefDecl build_node_belief(const Pair& decl) {
    ast::NodeBeliefDecl node;
    if (const auto ident = detail::first_of(decl.into_inner(), Rule::ident)) {
        node.node_type = std::string(ident->as_str());
    }
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::attr_belief_decl) node.attrs.push_back(build_attr_belief(child));
    }
    return node;
}

// An `exist` or `weight` line; a later line of the same kind replaces the
// earlier one.
void read_edge_posterior_line(const Pair& line, std::optional<ast::PosteriorType>& slot) {
    if (const std::optional<Pair> posterior = first_posterior(line.into_inner())) {
        slot = build_posterior_type(*posterior);
    }
}

ast::EdgeBeliefDecl build_edge_belief(const Pair& decl) {
    std::string edge_type;
    if (const auto ident = detail::first_of(decl.into_inner(), Rule::ident)) {
        edge_type = std::string(ident->as_str());
    }
    std::optional<ast::PosteriorType> exist;
    std::optional<ast::PosteriorType> weight;
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::exist_belief_decl) {
            read_edge_posterior_line(child, exist);
        } else if (child.as_rule() == Rule::edge_weight_belief_decl) {
            read_edge_posterior_line(child, weight);
        }
    }
    if (!exist) detail::fail("Missing exist posterior for edge");
    return {std::move(edge_type), std::move(*exist), std::move(weight)};
}

}  // namespace

ast::PosteriorType build_posterior_type(const Pair& pair) {
    Pair posterior = pair;
    if (pair.as_rule() == Rule::posterior_type) {
        const std::optional<Pair> alternative = pair.into_inner().peek();
        if (!alternative) detail::fail("Empty posterior_type");
        posterior = *alternative;
    }
    switch (posterior.as_rule()) {
        case Rule::gaussian_posterior:
            return ast::PosteriorType::Gaussian{build_params(posterior, Rule::gaussian_param)};
        case Rule::bernoulli_posterior:
            return ast::PosteriorType::Bernoulli{build_params(posterior, Rule::bernoulli_param)};
        case Rule::categorical_posterior:
            return build_categorical(posterior);
        default:
            detail::fail("Invalid posterior type");
    }
}

ast::BeliefModel build_belief_model(const Pair& decl, std::string_view source) {
    ast::BeliefModel model;
    for (const Pair& child : decl.into_inner()) {
        if (child.as_rule() == Rule::ident) {
            if (model.name.empty()) {
                model.name = std::string(child.as_str());
            } else if (model.on_schema.empty()) {
                model.on_schema = std::string(child.as_str());
            }
        } else if (child.as_rule() == Rule::belief_model_body) {
            model.body_src = block_src(child, source);
            for (const Pair& item : child.into_inner()) {
                if (item.as_rule() == Rule::node_belief_decl) {
                    model.nodes.push_back(build_node_belief(item));
                } else if (item.as_rule() == Rule::edge_belief_decl) {
                    model.edges.push_back(build_edge_belief(item));
                }
            }
        }
    }
    return model;
}

}  // namespace morvane::frontend::parser
