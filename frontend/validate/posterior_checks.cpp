#include "frontend/validate/posterior_checks.hpp"

#include <cmath>
#include <string>

#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/utf8.hpp"
#include "frontend/validate/name_set.hpp"

namespace morvane::frontend::validate {
namespace {

using support::fill;
using support::plain_number;

constexpr std::string_view kCorrPrefix = "corr_";

}  // namespace

void validate_gaussian_params(std::string_view label, const ast::PosteriorParams& params,
                              const Site& site) {
    bool seen_mean = false;
    bool seen_precision = false;
    bool seen_observation_precision = false;
    NameSet correlation_targets;
    for (const auto& [name, value] : params) {
        if (!std::isfinite(value)) {
            site.fail(fill("{} GaussianPosterior parameter '{}' must be finite, got {}", label,
                           name, plain_number(value)));
        }
        if (name == "prior_mean") {
            if (seen_mean) {
                site.fail(fill("{} GaussianPosterior parameter 'prior_mean' declared multiple times",
                               label));
            }
            seen_mean = true;
        } else if (name == "prior_precision") {
            if (seen_precision) {
                site.fail(fill(
                    "{} GaussianPosterior parameter 'prior_precision' declared multiple times",
                    label));
            }
            seen_precision = true;
            if (!(value > 0)) {
                site.fail(fill("{} GaussianPosterior 'prior_precision' must be > 0, got {}", label,
                               plain_number(value)));
            }
        } else if (name == "observation_precision") {
            if (seen_observation_precision) {
                site.fail(fill("{} GaussianPosterior parameter 'observation_precision' declared "
                               "multiple times",
                               label));
            }
            seen_observation_precision = true;
            if (!(value > 0)) {
                site.fail(fill("{} GaussianPosterior 'observation_precision' must be > 0, got {}",
                               label, plain_number(value)));
            }
        } else if (name.starts_with(kCorrPrefix)) {
            if (name.size() == kCorrPrefix.size()) {
                site.fail(fill("{} GaussianPosterior correlation parameter '{}' must specify a "
                               "target attribute",
                               label, name));
            }
            if (std::fabs(value) > 1) {
                site.fail(fill("{} GaussianPosterior correlation '{}' must be in [-1, 1], got {}",
                               label, name, plain_number(value)));
            }
            const std::string_view target = std::string_view(name).substr(kCorrPrefix.size());
            if (!correlation_targets.insert(target)) {
                site.fail(
                    fill("{} GaussianPosterior correlation '{}' declared multiple times", label, name));
            }
        } else {
            site.fail(fill("{} GaussianPosterior has unknown parameter '{}'", label, name));
        }
    }
}

void validate_bernoulli_params(std::string_view label, const ast::PosteriorParams& params,
                               const Site& site) {
    bool seen_pseudo_count = false;
    bool seen_prior = false;
    for (const auto& [name, value] : params) {
        if (!std::isfinite(value)) {
            site.fail(fill("{} BernoulliPosterior parameter '{}' must be finite, got {}", label,
                           name, plain_number(value)));
        }
        if (name == "pseudo_count") {
            if (seen_pseudo_count) {
                site.fail(fill(
                    "{} BernoulliPosterior parameter 'pseudo_count' declared multiple times",
                    label));
            }
            seen_pseudo_count = true;
            if (!(value > 0)) {
                site.fail(fill("{} BernoulliPosterior 'pseudo_count' must be > 0, got {}", label,
                               plain_number(value)));
            }
        } else if (name == "prior") {
            if (seen_prior) {
                site.fail(
                    fill("{} BernoulliPosterior parameter 'prior' declared multiple times", label));
            }
            seen_prior = true;
            if (!(value > 0 && value < 1)) {
                site.fail(fill("{} BernoulliPosterior 'prior' must be in (0, 1), got {}", label,
                               plain_number(value)));
            }
        } else {
            site.fail(fill("{} BernoulliPosterior has unknown parameter '{}'", label, name));
        }
    }
}

void validate_categorical(const ast::PosteriorType::Categorical& posterior, const Site& site) {
    if (posterior.group_by != "source") {
        site.fail(fill("CategoricalPosterior 'group_by' must be 'source' (got '{}'; "
                       "'destination' is not yet implemented)",
                       posterior.group_by));
    }
    if (const auto* uniform = std::get_if<ast::CategoricalPrior::Uniform>(&posterior.prior.node)) {
        const double count = uniform->pseudo_count;
        if (!(std::isfinite(count) && count > 0)) {
            site.fail(fill("CategoricalPosterior 'pseudo_count' must be finite and > 0, got {}",
                           plain_number(count)));
        }
    } else {
        const auto& concentrations =
            std::get<ast::CategoricalPrior::Explicit>(posterior.prior.node).concentrations;
        if (concentrations.empty()) site.fail("CategoricalPosterior explicit prior array cannot be empty");
        for (size_t i = 0; i < concentrations.size(); ++i) {
            const double c = concentrations[i];
            if (!(std::isfinite(c) && c > 0)) {
                site.fail(fill("CategoricalPosterior prior array element {} must be finite and > 0, "
                               "got {}",
                               i, plain_number(c)));
            }
        }
    }
    if (!posterior.categories) return;
    const auto& categories = *posterior.categories;
    if (categories.empty()) site.fail("CategoricalPosterior 'categories' cannot be empty when provided");
    NameSet seen;
    for (const std::string& category : categories) {
        if (support::trim_white_space(category).empty()) {
            site.fail("CategoricalPosterior 'categories' cannot contain empty names");
        }
        if (!seen.insert(category)) {
            site.fail(fill("CategoricalPosterior 'categories' contains duplicate '{}'", category));
        }
    }
}

}  // namespace morvane::frontend::validate
