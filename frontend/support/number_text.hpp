// Number texts shared by every message of the system.
//
// Three renderings of a 64-bit float exist, and each message picks one
// explicitly:
//   - the debug form, used inside printed tree values ("1.0", "9e-5", "-0.0");
//   - the plain form, used for a number standing alone in a message
//     ("1", "0.00001", "10000000000000000");
//   - the six-decimal form of a few statistics messages ("10.100000").
// All three are locale-independent and built on the shortest digit string
// that reads back to exactly the same double.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane::support {

// Appends the debug form of `v`: shortest round-trip digits, plain notation
// with at least one fractional digit when v is 0 or 1e-4 <= |v| < 1e16,
// exponent notation otherwise; NaN, inf and -inf for non-finite values.
void append_debug_number(std::string& out, double v);
std::string debug_number(double v);

// Appends the plain form of `v`: the same shortest digits, never an exponent,
// no ".0" on whole numbers; NaN, inf and -inf for non-finite values.
void append_plain_number(std::string& out, double v);
std::string plain_number(double v);

// Exactly six digits after the point, correctly rounded; NaN, inf, -inf.
std::string fixed6_number(double v);

// Reads a number token of the language ("-"? digits ("." digits)?) as the
// nearest double. Overflow gives +-inf and underflow +-0.0, never an error.
// The text must be a valid token.
double read_number_token(std::string_view text);

// Reads a decimal float the way a general float parser does: an optional
// sign, then "inf", "infinity" or "nan" (any case), or digits with an
// optional point and fraction and an optional exponent. Returns nothing when
// the text is not such a number. Out-of-range values saturate to +-inf / +-0.
std::optional<double> parse_float(std::string_view text);

// The error text reported when parse_float refuses a text.
inline constexpr std::string_view kInvalidFloatLiteral = "invalid float literal";

}  // namespace morvane::support
