// The normal distribution approximations against values of the same formulas
// computed independently (direct powers instead of Horner form), so that a
// wrong coefficient or branch shows far beyond rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/engine/expr_utils.hpp"

namespace morvane::core::engine {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(NormalDistribution, CdfByAbramowitzStegun) {
    const struct {
        double z, phi;
    } cases[] = {
        {0.0, 0.5000000005248086},  // the approximation's own error at 0
        {0.7071067811865475, 0.760250013263723},
        {-1.5, 0.06680722872027078},
        {2.5, 0.9937903201465051},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(norm_cdf(c.z), c.phi, 1e-12) << c.z;
        if (c.z != 0.0) {
            EXPECT_NEAR(norm_cdf(-c.z), 1.0 - c.phi, 1e-12) << -c.z;
        }
    }
    EXPECT_TRUE(std::isnan(norm_cdf(kNaN)));
}

TEST(NormalDistribution, InverseByAcklam) {
    const struct {
        double p, z;
    } cases[] = {
        {0.5, 0.0},
        {0.975, 1.9599639861201181},
        {0.3, -0.5244005132792954},
        {0.9, 1.281551564140161},
        {0.01, -2.326347874388028},      // lower tail
        {0.02425, -1.9729610490852043},  // the break point belongs to the centre
        {0.99, 2.326347874388028},       // upper tail
    };
    for (const auto& c : cases)
        EXPECT_NEAR(inv_norm_cdf(c.p), c.z, 1e-12) << c.p;
    EXPECT_EQ(inv_norm_cdf(0.5), 0.0);
    EXPECT_EQ(inv_norm_cdf(0.0), -kInf);
    EXPECT_EQ(inv_norm_cdf(-0.5), -kInf);
    EXPECT_EQ(inv_norm_cdf(1.0), kInf);
    EXPECT_EQ(inv_norm_cdf(3.0), kInf);
    EXPECT_TRUE(std::isnan(inv_norm_cdf(kNaN)));
}

}  // namespace
}  // namespace morvane::core::engine
