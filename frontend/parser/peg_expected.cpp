#include "frontend/parser/peg_expected.hpp"

namespace morvane::frontend::parser::peg {

ExpectedRun ExpectedRules::since(Mark mark) const {
    ExpectedRun merged;
    for (size_t i = mark; i < runs_.size(); ++i) {
        for (size_t w = 0; w < merged.rules.size(); ++w) merged.rules[w] |= runs_[i].rules[w];
    }
    merged.single = one_since(mark);
    return merged;
}

std::vector<uint8_t> ExpectedRules::rules() const {
    const ExpectedRun all = since(0);
    std::vector<uint8_t> out;
    for (unsigned value = 0; value < 256; ++value) {
        if ((all.rules[value >> 6] >> (value & 63)) & 1) out.push_back(static_cast<uint8_t>(value));
    }
    return out;
}

}  // namespace morvane::frontend::parser::peg
