// The generator's source of decisions: the fuzzer's input bytes, read
// through FuzzedDataProvider, plus the number texts that programs are made of.
//
// Once the input is used up every decision reads 0, so the generator must
// make that the plain, common choice: picks take the first entry, and the
// rare choices (one_in) come out false. Short inputs then give small,
// ordinary programs, and rare features cost the mutator a few bytes.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "frontend/support/number_text.hpp"

namespace morvane::fuzz::flowgen {

class Choices {
public:
    explicit Choices(FuzzedDataProvider& in) : in_(in) {}

    // A number in [0, n); 0 for n <= 1.
    std::size_t below(std::size_t n) {
        return n <= 1 ? 0 : in_.ConsumeIntegralInRange<std::size_t>(0, n - 1);
    }
    std::size_t between(std::size_t lo, std::size_t hi) { return lo + below(hi - lo + 1); }
    // True about once in n decisions, and never on used-up input.
    bool one_in(std::size_t n) { return n <= 1 || below(n) == n - 1; }
    // True about `k` times in n decisions, and never on used-up input.
    bool k_in(std::size_t k, std::size_t n) { return below(n) >= n - k; }

    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& table) {
        return table[below(N)];
    }
    template <typename T>
    const T& pick(const std::vector<T>& list) {
        return list[below(list.size())];
    }

    // A finite double straight from the input, in plain decimal text.
    std::string raw_number() {
        const double v = in_.ConsumeFloatingPoint<double>();
        return std::isfinite(v) ? support::plain_number(v) : "3";
    }

private:
    FuzzedDataProvider& in_;
};

// Number texts. The language has no exponent, so the extremes are written
// out in full: 1e308 is a 1 and 308 zeros, the smallest subnormal has 323
// zeros after the point.
struct NumberTexts {
    std::string big = support::plain_number(1e308);
    std::string max = support::plain_number(std::numeric_limits<double>::max());
    std::string tiny = support::plain_number(1e-308);
    std::string min_normal = support::plain_number(std::numeric_limits<double>::min());
    std::string subnormal = support::plain_number(std::numeric_limits<double>::denorm_min());
    std::string near_one = support::plain_number(1.0 - std::numeric_limits<double>::epsilon() / 2);
};

inline const NumberTexts& number_texts() {
    static const NumberTexts texts;
    return texts;
}

// A positive finite number: ordinary mostly, now and then an extreme one.
inline std::string positive_number(Choices& c) {
    static constexpr std::array<const char*, 8> kOrdinary = {"1",   "2",    "0.5", "4",
                                                             "10",  "0.25", "100", "3.5"};
    if (!c.one_in(4)) return c.pick(kOrdinary);
    const NumberTexts& n = number_texts();
    switch (c.below(8)) {
        case 0: return n.big;
        case 1: return n.max;
        case 2: return n.tiny;
        case 3: return n.min_normal;
        case 4: return n.subnormal;
        case 5: return "0.000001";
        case 6: return "1000000000";
        default: return "0.01";
    }
}

// Any finite number, signs and zeros included.
inline std::string any_number(Choices& c) {
    static constexpr std::array<const char*, 10> kOrdinary = {"0",  "1", "-1",  "0.5", "2",
                                                              "-3", "10", "0.1", "-0.25", "7"};
    if (!c.one_in(4)) return c.pick(kOrdinary);
    switch (c.below(4)) {
        case 0: return "-" + positive_number(c);
        case 1: return "-0";
        case 2: return c.raw_number();
        default: return positive_number(c);
    }
}

// A probability strictly between 0 and 1.
inline std::string open_probability(Choices& c) {
    static constexpr std::array<const char*, 6> kOrdinary = {"0.5", "0.2", "0.8",
                                                             "0.1", "0.9", "0.35"};
    if (!c.one_in(4)) return c.pick(kOrdinary);
    const NumberTexts& n = number_texts();
    switch (c.below(5)) {
        case 0: return n.tiny;
        case 1: return n.subnormal;
        case 2: return n.near_one;
        case 3: return "0.000001";
        default: return "0.999999";
    }
}

// A probability, 0 and 1 included.
inline std::string closed_probability(Choices& c) {
    if (c.one_in(4)) return c.one_in(2) ? "1" : "0";
    return open_probability(c);
}

// A correlation in [-1, 1].
inline std::string correlation(Choices& c) {
    static constexpr std::array<const char*, 9> kValues = {
        "0.3", "-0.3", "0.5", "1", "-1", "0", "0.999", "-0.75", "0.1"};
    if (c.one_in(8)) return number_texts().tiny;
    return c.pick(kValues);
}

}  // namespace morvane::fuzz::flowgen
