// Polynomial approximations of the standard normal distribution (see
// expr_utils.hpp). Polynomials are in Horner form from the highest
// coefficient; the build forbids FMA contraction, so the digits are fixed.
#include "core/engine/expr_utils.hpp"

#include <cmath>
#include <limits>

namespace morvane::core::engine {
namespace {

// Abramowitz and Stegun 26.2.17.
constexpr double kAsP = 0.2316419;
constexpr double kAsB1 = 0.319381530;
constexpr double kAsB2 = -0.356563782;
constexpr double kAsB3 = 1.781477937;
constexpr double kAsB4 = -1.821255978;
constexpr double kAsB5 = 1.330274429;
constexpr double kInvSqrtTwoPi = 0.39894228040143267794;

// Acklam's coefficients: central numerator (a) and denominator (b), tail
// numerator (c) and denominator (d).
constexpr double kA1 = -3.969683028665376e+01;
constexpr double kA2 = 2.209460984245205e+02;
constexpr double kA3 = -2.759285104469687e+02;
constexpr double kA4 = 1.383577518672690e+02;
constexpr double kA5 = -3.066479806614716e+01;
constexpr double kA6 = 2.506628277459239e+00;
constexpr double kB1 = -5.447609879822406e+01;
constexpr double kB2 = 1.615858368580409e+02;
constexpr double kB3 = -1.556989798598866e+02;
constexpr double kB4 = 6.680131188771972e+01;
constexpr double kB5 = -1.328068155288572e+01;
constexpr double kC1 = -7.784894002430293e-03;
constexpr double kC2 = -3.223964580411365e-01;
constexpr double kC3 = -2.400758277161838e+00;
constexpr double kC4 = -2.549732539343734e+00;
constexpr double kC5 = 4.374664141464968e+00;
constexpr double kC6 = 2.938163982698783e+00;
constexpr double kD1 = 7.784695709041462e-03;
constexpr double kD2 = 3.224671290700398e-01;
constexpr double kD3 = 2.445134137142996e+00;
constexpr double kD4 = 3.754408661907416e+00;
constexpr double kPLow = 0.02425;
constexpr double kPHigh = 0.97575;

// The tail formula at q = sqrt(-2 ln(tail probability)); negative.
double tail(double q) {
    const double num = ((((kC1 * q + kC2) * q + kC3) * q + kC4) * q + kC5) * q + kC6;
    const double den = (((kD1 * q + kD2) * q + kD3) * q + kD4) * q + 1.0;
    return num / den;
}

}  // namespace

double norm_cdf(double z) {
    const double x = std::fabs(z);
    const double t = 1.0 / (1.0 + kAsP * x);
    const double poly = t * (kAsB1 + t * (kAsB2 + t * (kAsB3 + t * (kAsB4 + t * kAsB5))));
    const double density = kInvSqrtTwoPi * std::exp(-x * x / 2.0);
    const double upper = 1.0 - density * poly;
    return z < 0.0 ? 1.0 - upper : upper;
}

double inv_norm_cdf(double p) {
    if (p <= 0.0) return -std::numeric_limits<double>::infinity();
    if (p >= 1.0) return std::numeric_limits<double>::infinity();
    if (p < kPLow) return tail(std::sqrt(-2.0 * std::log(p)));
    if (p <= kPHigh) {
        const double q = p - 0.5;
        const double r = q * q;
        const double num = (((((kA1 * r + kA2) * r + kA3) * r + kA4) * r + kA5) * r + kA6) * q;
        const double den = ((((kB1 * r + kB2) * r + kB3) * r + kB4) * r + kB5) * r + 1.0;
        return num / den;
    }
    return -tail(std::sqrt(-2.0 * std::log(1.0 - p)));  // NaN comes here and stays NaN
}

}  // namespace morvane::core::engine
