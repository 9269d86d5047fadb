// Checks of posterior parameters in belief models.
//
// Parameter names arrive as the builder stores them ("prior_mean",
// "prior_precision" for a Gaussian's mean and precision, "pseudo_count" for
// a Bernoulli's weight), and messages show those stored names. `label`
// names what the posterior belongs to, e.g. "node attribute 'T.a'" or
// "edge 'KNOWS.exist'".
#pragma once

#include <string_view>

#include "frontend/ast.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {

void validate_gaussian_params(std::string_view label, const ast::PosteriorParams& params,
                              const Site& site);

void validate_bernoulli_params(std::string_view label, const ast::PosteriorParams& params,
                               const Site& site);

// The existence posterior of a competing edge; its messages carry no label.
void validate_categorical(const ast::PosteriorType::Categorical& posterior, const Site& site);

}  // namespace morvane::frontend::validate
