// The belief model builder: one `belief_model_decl` pair to a BeliefModel.
//
// It records which posterior family each node attribute, each edge type's
// existence and each edge weight carries, exactly as written. Three
// parameter names are stored under other names, per family: a Gaussian's
// `mean` and `precision` become "prior_mean" and "prior_precision", a
// Bernoulli's `weight` becomes "pseudo_count". No defaults are filled in and
// no names are resolved; only the shape of a categorical posterior is
// checked here (the validator judges the rest).
#pragma once

#include <string_view>

#include "frontend/ast.hpp"
#include "frontend/parser/parse_tree.hpp"

namespace morvane::frontend::parser {

// `source` is the parsed text, from which the body is copied into body_src.
// Throws FrontendError::Parse with the first construction error.
ast::BeliefModel build_belief_model(const Pair& decl, std::string_view source);

// A `posterior_type` pair, or directly one of its three alternatives.
// Throws FrontendError::Parse.
ast::PosteriorType build_posterior_type(const Pair& pair);

}  // namespace morvane::frontend::parser
