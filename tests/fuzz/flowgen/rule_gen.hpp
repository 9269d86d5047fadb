// Rules of a generated program.
#pragma once

#include <string>

#include "tests/fuzz/flowgen/choices.hpp"
#include "tests/fuzz/flowgen/vocabulary.hpp"

namespace morvane::fuzz::flowgen {

// "rule {name} on M { ... }" in one of the written forms (pattern, where and
// action clauses; one-line pattern rule; node rule for (p: L)), with one to
// three patterns, a where-clause over the rule function library and exists
// sub-queries, the five kinds of action statement, and a mode. Causes of
// Internal errors the rule may meet are added to `v.causes`.
void write_rule(std::string& out, Choices& c, Vocabulary& v, const std::string& name);

}  // namespace morvane::fuzz::flowgen
