// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
// The arithmetic every controller shares: how a level is limited before it
// reaches the host, the 0/0 rule, and the length of a vector.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "guidance/GuidanceMath.h"

namespace vtal::testing {
namespace {

using namespace vtal::guidance;

TEST(ThrottleLevelTest, PassesLevelsInsideTheRangeBitForBitAndClampsTheRest) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double in, out;
    } cases[] = {
        {0.05, 0.05}, {0.5, 0.5}, {0.95, 0.95}, {0.9999999999999999, 0.9999999999999999},
        {1.0, 1.0},   {1.0000000000000002, 1.0}, {7.0, 1.0}, {inf, 1.0},
        {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::denorm_min()},
        {-0.3, 0.0},  {-inf, 0.0}, {std::nan(""), 0.0},
    };
    for (const auto &c : cases) EXPECT_EQ(ThrottleLevel(c.in), c.out) << c.in;
}

TEST(ThrottleLevelTest, ZeroOfEitherSignIdlesAsPositiveZero) {
    EXPECT_FALSE(std::signbit(ThrottleLevel(-0.0)));
    EXPECT_FALSE(std::signbit(ThrottleLevel(0.0)));
    EXPECT_EQ(ThrottleLevel(-0.0), 0.0);
}

TEST(QuotientTest, ZeroOverZeroIsZeroAndEverythingElseIsIeee) {
    EXPECT_EQ(Quotient(0.0, 0.0), 0.0);
    EXPECT_EQ(Quotient(-0.0, 0.0), 0.0);
    EXPECT_EQ(Quotient(1.0, 0.0), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Quotient(-1.0, 0.0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(Quotient(0.0, 4.0), 0.0);
    EXPECT_EQ(Quotient(3.0, -4.0), -0.75);
}

TEST(MagnitudeTest, EveryComponentCounts) {
    EXPECT_EQ(Magnitude(_V(3, 4, 12)), 13.0);
    EXPECT_EQ(Magnitude(_V(-12, 3, -4)), 13.0);
    EXPECT_EQ(Magnitude(_V(0, -648, 0)), 648.0);
}

}  // namespace
}  // namespace vtal::testing
