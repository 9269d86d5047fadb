// Shortest-digit rendering and overflow-tolerant reading of doubles.
//
// std::to_chars in scientific form without a precision yields the shortest
// round-trip digits (ties to nearest); everything else here is layout.
#include "frontend/support/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace morvane::support {
namespace {

// The shortest decimal digits of a finite, non-zero |v|: v = 0.d1d2... * 10^(exp10+1),
// i.e. the first digit stands at position exp10.
struct Shortest {
    char digits[32];
    int ndigits = 0;
    int exp10 = 0;
};

Shortest shortest(double magnitude) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    Shortest s;
    const char* p = buf;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p != '.') s.digits[s.ndigits++] = *p;
    }
    // p points at 'e'; from_chars accepts the sign and digits that follow.
    int e = 0;
    const char* q = p + 1;
    if (q < res.ptr && *q == '+') ++q;
    std::from_chars(q, res.ptr, e);
    s.exp10 = e;
    // to_chars never emits trailing zeros in shortest mode except for "0".
    while (s.ndigits > 1 && s.digits[s.ndigits - 1] == '0') --s.ndigits;
    return s;
}

bool append_non_finite(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

// Plain decimal layout of the shortest digits; `force_fraction` adds ".0"
// to whole numbers.
void append_plain_digits(std::string& out, const Shortest& s, bool force_fraction) {
    const std::string_view digits(s.digits, s.ndigits);
    if (s.exp10 < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-s.exp10 - 1), '0');
        out += digits;
        return;
    }
    const size_t int_len = static_cast<size_t>(s.exp10) + 1;
    if (int_len >= digits.size()) {
        out += digits;
        out.append(int_len - digits.size(), '0');
        if (force_fraction) out += ".0";
        return;
    }
    out += digits.substr(0, int_len);
    out += '.';
    out += digits.substr(int_len);
}

}  // namespace

void append_debug_number(std::string& out, double v) {
    if (append_non_finite(out, v)) return;
    if (std::signbit(v)) out += '-';
    const double m = std::fabs(v);
    if (m == 0.0) {
        out += "0.0";
        return;
    }
    const Shortest s = shortest(m);
    if (m >= 1e-4 && m < 1e16) {
        append_plain_digits(out, s, /*force_fraction=*/true);
        return;
    }
    out += s.digits[0];
    if (s.ndigits > 1) {
        out += '.';
        out.append(s.digits + 1, s.ndigits - 1);
    }
    out += 'e';
    out += std::to_string(s.exp10);
}

std::string debug_number(double v) {
    std::string out;
    append_debug_number(out, v);
    return out;
}

void append_plain_number(std::string& out, double v) {
    if (append_non_finite(out, v)) return;
    if (std::signbit(v)) out += '-';
    const double m = std::fabs(v);
    if (m == 0.0) {
        out += '0';
        return;
    }
    append_plain_digits(out, shortest(m), /*force_fraction=*/false);
}

std::string plain_number(double v) {
    std::string out;
    append_plain_number(out, v);
    return out;
}

std::string fixed6_number(double v) {
    std::string out;
    if (append_non_finite(out, v)) return out;
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    out.assign(buf, res.ptr);
    return out;
}

namespace {

// Saturating conversion of a syntactically valid decimal text (no leading '+').
double saturating_from_chars(std::string_view text) {
    double value = 0.0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    auto res = std::from_chars(first, last, value, std::chars_format::general);
    if (res.ec != std::errc::result_out_of_range) return value;
    const bool negative = !text.empty() && text.front() == '-';
    // Out of range: infinite when a non-zero digit stands before the point
    // or the exponent is large, zero otherwise.
    bool big = false;
    size_t i = negative ? 1 : 0;
    for (; i < text.size() && text[i] != '.' && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] >= '1' && text[i] <= '9') big = true;
    }
    const size_t epos = text.find_first_of("eE");
    if (epos != std::string_view::npos) big = epos + 1 < text.size() && text[epos + 1] != '-';
    const double magnitude = big ? HUGE_VAL : 0.0;
    return negative ? -magnitude : magnitude;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

double read_number_token(std::string_view text) { return saturating_from_chars(text); }

std::optional<double> parse_float(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (iequals(body, "inf") || iequals(body, "infinity")) return negative ? -HUGE_VAL : HUGE_VAL;
    if (iequals(body, "nan")) return std::nan("");

    // digits [. digits] | . digits, then optional exponent.
    size_t i = 0, int_digits = 0, frac_digits = 0;
    while (i < body.size() && is_digit(body[i])) ++i, ++int_digits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && is_digit(body[i])) ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        size_t exp_digits = 0;
        while (i < body.size() && is_digit(body[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;

    // from_chars needs a digit before an exponent-only or point-led text; feed
    // it a normalised copy when the text has forms it refuses.
    std::string normalised;
    normalised.reserve(body.size() + 3);
    if (negative) normalised += '-';
    if (int_digits == 0) normalised += '0';
    for (size_t k = 0; k < body.size(); ++k) {
        const char c = body[k];
        if (c == '+') continue;  // only an exponent sign can be left here
        normalised += c;
        if (c == '.' && (k + 1 == body.size() || !is_digit(body[k + 1]))) normalised += '0';
    }
    return saturating_from_chars(normalised);
}

}  // namespace morvane::support
