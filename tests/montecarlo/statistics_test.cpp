#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <set>
#include <vector>

#include "montecarlo/PropellantBound.h"
#include "montecarlo/Random.h"
#include "montecarlo/Statistics.h"

namespace {

using namespace vtal::montecarlo;

struct WilsonCase {
    long successes, trials;
    double low, high;  // reference values of the Wilson score interval, z = 1.96
};

void PrintTo(const WilsonCase &c, std::ostream *os) { *os << c.successes << " of " << c.trials; }

class Wilson : public ::testing::TestWithParam<WilsonCase> {};

TEST_P(Wilson, MatchesReferenceValues) {
    const WilsonCase c = GetParam();
    const Interval i = WilsonInterval95(c.successes, c.trials);
    EXPECT_NEAR(i.low, c.low, 5e-5);
    EXPECT_NEAR(i.high, c.high, 5e-5);
}

INSTANTIATE_TEST_SUITE_P(References, Wilson,
                         ::testing::Values(WilsonCase{50, 100, 0.40383, 0.59617},
                                           WilsonCase{0, 10, 0.0, 0.27753},
                                           WilsonCase{10, 10, 0.72247, 1.0},
                                           WilsonCase{95, 100, 0.88825, 0.97846},
                                           WilsonCase{0, 0, 0.0, 1.0}));

TEST(Percentile, InterpolatesBetweenRanksOfUnsortedValues) {
    const std::vector<double> v = {4, 1, 3, 2, 5};
    EXPECT_EQ(Percentile(v, 0), 1);
    EXPECT_EQ(Percentile(v, 50), 3);
    EXPECT_EQ(Percentile(v, 100), 5);
    EXPECT_DOUBLE_EQ(Percentile(v, 90), 4.6);
    EXPECT_DOUBLE_EQ(Percentile({10.0, 20.0}, 25), 12.5);
    EXPECT_EQ(Percentile({7.0}, 95), 7.0);
    EXPECT_TRUE(std::isnan(Percentile({}, 50)));
}

TEST(RunSeed, DistinctPerIndexAndPerCampaign) {
    std::set<std::uint64_t> seen;
    for (std::uint64_t i = 0; i < 10000; ++i) seen.insert(RunSeed(42, i));
    for (std::uint64_t i = 0; i < 10000; ++i) seen.insert(RunSeed(43, i));
    EXPECT_EQ(seen.size(), 20000u);
    EXPECT_EQ(RunSeed(42, 17), RunSeed(42, 17));
}

TEST(Generator, UniformInUnitIntervalAndDeterministic) {
    Generator a(5), b(5);
    double lo = 1, hi = 0;
    for (int i = 0; i < 100000; ++i) {
        const double u = a.uniform();
        ASSERT_EQ(u, b.uniform());
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    EXPECT_GE(lo, 0.0);
    EXPECT_LT(hi, 1.0);
    EXPECT_LT(lo, 1e-3);
    EXPECT_GT(hi, 1.0 - 1e-3);
}

// Constant thrust acceleration a from height h at sink speed v, touching
// down at rest: free fall to the height where a full-thrust burn stops the
// lander exactly at the ground.
TEST(PropellantBound, DeltaVMatchesFreeFallThenFullBrake) {
    const double h = 500, v = 10, g = 1.62, a = 8.0;
    // Burn height s from energy: (v^2 + 2 g (h - s)) = 2 (a - g) s.
    const double s = (v * v + 2 * g * h) / (2 * a);
    const double vBurn = std::sqrt(v * v + 2 * g * (h - s));
    const double burnTime = vBurn / (a - g);
    EXPECT_NEAR(MinimumDeltaV(h, v, g, a), a * burnTime, 1e-9);
    EXPECT_NEAR(MinimumDeltaV(h, v, g, a), std::sqrt((v * v + 2 * g * h) * a / (a - g)), 1e-12);
}

TEST(PropellantBound, NoLandingWhenThrustCannotBeatGravity) {
    EXPECT_TRUE(std::isinf(MinimumDeltaV(100, 5, 1.62, 1.62)));
    BoundInput in{100, 5, 1.62, 600, 2500, 400};  // 1.5 m/s^2 of thrust
    EXPECT_TRUE(std::isinf(MinimumPropellant(in)));
}

TEST(PropellantBound, BelowTheStartMassEstimateAndSelfConsistent) {
    const BoundInput in{940, 20, 1.62, 3 * 1211.0, 2500, 410};
    const double p = MinimumPropellant(in);
    // With the acceleration of the start mass throughout, more is needed.
    const double dvStart = MinimumDeltaV(in.height, in.sinkSpeed, in.gravity, in.maxThrust / in.startMass);
    const double pStart = in.startMass * (1 - std::exp(-dvStart / in.exhaustVelocity));
    EXPECT_LT(p, pStart);
    EXPECT_GT(p, 0.9 * pStart);
    // The fixed point: the bound's own final mass gives back its velocity change.
    const double dv = MinimumDeltaV(in.height, in.sinkSpeed, in.gravity, in.maxThrust / (in.startMass - p));
    EXPECT_NEAR(p, in.startMass * (1 - std::exp(-dv / in.exhaustVelocity)), 1e-9);
}

TEST(PropellantBound, MoreHeightOrSpeedNeedsMore) {
    BoundInput in{500, 10, 1.62, 3633, 2500, 410};
    const double base = MinimumPropellant(in);
    BoundInput higher = in;
    higher.height = 600;
    BoundInput faster = in;
    faster.sinkSpeed = 15;
    BoundInput climbing = in;
    climbing.sinkSpeed = -10;  // rises first, then falls from higher up: same energy
    EXPECT_GT(MinimumPropellant(higher), base);
    EXPECT_GT(MinimumPropellant(faster), base);
    EXPECT_DOUBLE_EQ(MinimumPropellant(climbing), base);
}

}  // namespace

namespace {

// Values spread over several orders of magnitude and both signs, drawn from
// the campaign's own generator so the sample is the same on every machine.
std::vector<double> SpreadValues(std::size_t n, std::uint64_t seed) {
    Generator rng(seed);
    std::vector<double> v;
    for (std::size_t i = 0; i < n; ++i) {
        const double magnitude = std::exp(rng.uniform(-4.0, 8.0));
        v.push_back(rng.uniform(0.0, 1.0) < 0.2 ? -magnitude : magnitude);
    }
    return v;
}

const double kPercentiles[] = {0, 1, 5, 25, 50, 75, 95, 99, 100};

TEST(BoundedQuantiles, ExactAsLongAsTheValuesAreKept) {
    const std::vector<double> v = SpreadValues(500, 3);
    BoundedQuantiles q(500);
    for (double x : v) q.Add(x);
    q.Add(std::nan(""));  // left out, as the summary leaves non-numbers out
    q.Add(INFINITY);
    EXPECT_TRUE(q.Exact());
    EXPECT_EQ(q.Count(), 500);
    for (double p : kPercentiles) EXPECT_EQ(q.Percentile(p), Percentile(v, p)) << p;
    EXPECT_TRUE(std::isnan(BoundedQuantiles().Percentile(50)));
}

TEST(BoundedQuantiles, BeyondTheKeptValuesWithinABinsWidthOfTheExactPercentile) {
    const std::vector<double> v = SpreadValues(20000, 5);
    BoundedQuantiles q(1000);
    for (double x : v) q.Add(x);
    EXPECT_FALSE(q.Exact());
    EXPECT_EQ(q.MantissaBits(), BoundedQuantiles::kFinestMantissaBits);
    EXPECT_EQ(q.Percentile(0), Percentile(v, 0)) << "the smallest is exact";
    EXPECT_EQ(q.Percentile(100), Percentile(v, 100)) << "the largest is exact";
    for (double p : kPercentiles) {
        const double exact = Percentile(v, p);
        EXPECT_NEAR(q.Percentile(p), exact, std::fabs(exact) * std::ldexp(1.0, -10)) << p;
    }
}

TEST(BoundedQuantiles, MergesBinsRatherThanGrowAndGivesTheSameWhateverTheOrder) {
    std::vector<double> v = SpreadValues(20000, 7);
    BoundedQuantiles q(100, 256);
    for (double x : v) q.Add(x);
    EXPECT_LE(q.BinCount(), 256u);
    EXPECT_LT(q.MantissaBits(), BoundedQuantiles::kFinestMantissaBits) << "this many values need coarser bins";
    const double width = std::ldexp(1.0, -q.MantissaBits());
    for (double p : kPercentiles) {
        const double exact = Percentile(v, p);
        EXPECT_NEAR(q.Percentile(p), exact, std::fabs(exact) * width) << p;
    }
    std::reverse(v.begin(), v.end());
    BoundedQuantiles reversed(100, 256);
    for (double x : v) reversed.Add(x);
    for (double p : kPercentiles) EXPECT_EQ(reversed.Percentile(p), q.Percentile(p)) << p;
}

TEST(BoundedQuantiles, ZeroAndNegativeValuesKeepTheirOrder) {
    BoundedQuantiles q(0);
    for (double x : {-3.0, -0.0, 0.0, 2.0, -1e-300, 5e-324}) q.Add(x);
    EXPECT_EQ(q.Percentile(0), -3.0);
    EXPECT_EQ(q.Percentile(100), 2.0);
    // Sorted: -3, -1e-300, -0 and 0 (one value), 5e-324, 2.
    EXPECT_LT(q.Percentile(20), 0.0) << "a tiny negative stays below zero";
    EXPECT_GT(q.Percentile(20), -1e-299);
    for (double p : {40.0, 60.0}) {
        EXPECT_GE(q.Percentile(p), 0.0) << p;
        EXPECT_LT(q.Percentile(p), 1e-300) << p;
    }
}

}  // namespace
