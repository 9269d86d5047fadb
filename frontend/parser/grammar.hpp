// The language's grammar, as notation text (see peg_notation.hpp).
#pragma once

#include <string_view>

namespace morvane::frontend::parser {

std::string_view grammar_notation();

}  // namespace morvane::frontend::parser
