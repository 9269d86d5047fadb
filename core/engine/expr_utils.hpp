// The standard normal distribution, for the probability and quantile
// functions of rule and metric expressions.
//
// Both are fixed polynomial approximations, so every platform computes the
// same digits: the distribution function is Abramowitz and Stegun's formula
// 26.2.17 (absolute error below 7.5e-8), the inverse is Acklam's rational
// approximation (relative error below 1.2e-9) without a refinement step.
#pragma once

namespace morvane::core::engine {

// Phi(z): the polynomial in t = 1 / (1 + 0.2316419 |z|) times the normal
// density, evaluated for |z| and reflected (1 - Phi(|z|)) for negative z.
// NaN gives NaN.
double norm_cdf(double z);

// The z with Phi(z) = p: -inf for p <= 0, +inf for p >= 1, NaN for NaN; the
// lower-tail formula below 0.02425, the upper-tail formula above 0.97575 and
// the central one in between.
double inv_norm_cdf(double p);

}  // namespace morvane::core::engine
