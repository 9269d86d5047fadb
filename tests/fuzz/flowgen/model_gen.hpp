// The declarations a generated program rests on: the schema, the belief
// model and the evidence blocks.
#pragma once

#include <string>

#include "tests/fuzz/flowgen/choices.hpp"
#include "tests/fuzz/flowgen/vocabulary.hpp"

namespace morvane::fuzz::flowgen {

// One to three node types and one to four edge types, each edge type with
// its endpoints, its kind (independent or competing) and whether it carries
// a weight. Evidence and rule names are left empty.
Vocabulary choose_vocabulary(Choices& c);

// "schema S { ... }".
void write_schema(std::string& out, const Vocabulary& v);

// "belief_model M on S { ... }": a Gaussian per attribute (correlations,
// observation precisions and extreme values included), a Bernoulli or
// categorical existence posterior per edge type, Gaussian weights.
void write_belief_model(std::string& out, Choices& c, const Vocabulary& v);

// "evidence {name} on M { ... }": attribute observations (statements and
// node groups), independent edges present or absent (statements and edge
// groups), edge weights, competing groups chosen, unchosen or forced, and
// now and then a hub with many edges (whose edge type is then marked).
void write_evidence(std::string& out, Choices& c, Vocabulary& v, const std::string& name);

}  // namespace morvane::fuzz::flowgen
