#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "TempPath.h"
#include "montecarlo/Dispersion.h"

namespace {

using namespace vtal::montecarlo;
using Kind = Distribution::Kind;

Distribution &At(DispersionSet &set, Quantity q) { return set[static_cast<int>(q)]; }

struct DistributionText {
    const char *text;
    Distribution expected;
};

void PrintTo(const DistributionText &c, std::ostream *os) { *os << c.text; }

class ParseGoodDistribution : public ::testing::TestWithParam<DistributionText> {};

TEST_P(ParseGoodDistribution, GivesTheDistribution) {
    EXPECT_EQ(ParseDistribution(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ParseGoodDistribution,
    ::testing::Values(DistributionText{"none", Distribution::None()},
                      DistributionText{"uniform:-50:50", Distribution::Uniform(-50, 50)},
                      DistributionText{"uniform:2.5:2.5", Distribution::Uniform(2.5, 2.5)},
                      DistributionText{"uniform:1e1:2e1", Distribution::Uniform(10, 20)},
                      DistributionText{"normal:3", Distribution::Normal(0, 3)},
                      DistributionText{"normal:-1.5:0.25", Distribution::Normal(-1.5, 0.25)},
                      DistributionText{"normal:0", Distribution::Normal(0, 0)}));

struct BadCase {
    const char *text;
    const char *messagePart;  // the error must say this
};

void PrintTo(const BadCase &c, std::ostream *os) { *os << c.text; }

class RejectBadArgument : public ::testing::TestWithParam<BadCase> {};

TEST_P(RejectBadArgument, WithAClearMessage) {
    DispersionSet set = DefaultDispersions();
    const DispersionSet before = set;
    try {
        ApplyDispersionArgument(set, GetParam().text);
        FAIL() << "accepted " << GetParam().text;
    } catch (const DispersionError &e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().messagePart), std::string::npos) << e.what();
    }
    EXPECT_EQ(set, before) << "a rejected argument must change nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RejectBadArgument,
    ::testing::Values(BadCase{"altitude", "NAME=DIST"},
                      BadCase{"altitud=uniform:0:1", "unknown quantity \"altitud\""},
                      BadCase{"altitude=uniform:5", "uniform:LO:HI"},
                      BadCase{"altitude=uniform:1:2:3", "uniform:LO:HI"},
                      BadCase{"altitude=uniform:10:-10", "above the upper bound"},
                      BadCase{"altitude=uniform:a:10", "\"a\" is not a number"},
                      BadCase{"altitude=uniform:5x:10", "\"5x\" is not a number"},
                      BadCase{"altitude=uniform::10", "\"\" is not a number"},
                      BadCase{"altitude=uniform:0:nan", "finite"},
                      BadCase{"altitude=uniform:0:inf", "finite"},
                      BadCase{"altitude=uniform:0:1e999", "finite"},
                      BadCase{"pitch=normal:-1", "must not be negative"},
                      BadCase{"pitch=normal:1:2:3", "normal:SIGMA"},
                      BadCase{"pitch=gauss:1", "expected uniform"},
                      BadCase{"horizontal_speed=uniform:-1:3", "cannot be negative"}));

TEST(DispersionArgument, ReplacesOnlyTheNamedQuantity) {
    DispersionSet set = DefaultDispersions();
    ApplyDispersionArgument(set, "sink_rate=normal:2:0.5");
    EXPECT_EQ(At(set, Quantity::SinkRate), Distribution::Normal(2, 0.5));
    const DispersionSet defaults = DefaultDispersions();
    for (int i = 0; i < kQuantityCount; ++i) {
        if (QuantityAt(i) != Quantity::SinkRate) {
            EXPECT_EQ(set[i], defaults[i]) << Info(QuantityAt(i)).name;
        }
    }
}

TEST(DispersionJson, NamedQuantitiesReplacedOthersKept) {
    DispersionSet set = DefaultDispersions();
    ApplyDispersionJson(set, R"({
        "altitude": {"distribution": "uniform", "min": -20, "max": 40},
        "pitch": {"distribution": "normal", "sigma": 2},
        "bank": {"distribution": "normal", "mean": 1, "sigma": 0.5},
        "heading": {"distribution": "none"}
    })", "test");
    EXPECT_EQ(At(set, Quantity::Altitude), Distribution::Uniform(-20, 40));
    EXPECT_EQ(At(set, Quantity::Pitch), Distribution::Normal(0, 2));
    EXPECT_EQ(At(set, Quantity::Bank), Distribution::Normal(1, 0.5));
    EXPECT_EQ(At(set, Quantity::Heading).kind, Kind::None);
    DispersionSet defaults = DefaultDispersions();
    EXPECT_EQ(At(set, Quantity::Propellant), At(defaults, Quantity::Propellant));
}

class RejectBadJson : public ::testing::TestWithParam<BadCase> {};

TEST_P(RejectBadJson, WithAClearMessageAndNoChange) {
    DispersionSet set = DefaultDispersions();
    const DispersionSet before = set;
    try {
        ApplyDispersionJson(set, GetParam().text, "disp.json");
        FAIL() << "accepted " << GetParam().text;
    } catch (const DispersionError &e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("disp.json", 0), 0u) << "names the file: " << message;
        EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
    }
    EXPECT_EQ(set, before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RejectBadJson,
    ::testing::Values(
        BadCase{R"({"altitude": {"distribution": "uniform", "min": 0, "max": 1},})", "not valid JSON"},
        BadCase{"", "not valid JSON"},
        BadCase{"[1, 2]", "expected an object of quantities"},
        BadCase{R"({"altitude": 5})", "expected an object"},
        BadCase{R"({"altitude": {"min": 0, "max": 1}})", "\"distribution\""},
        BadCase{R"({"altitude": {"distribution": "triangular"}})", "unknown distribution \"triangular\""},
        BadCase{R"({"altitude": {"distribution": "uniform", "min": 0}})", "\"max\" is missing"},
        BadCase{R"({"altitude": {"distribution": "uniform", "min": "0", "max": 1}})", "\"min\" must be a number"},
        BadCase{R"({"altitude": {"distribution": "uniform", "min": 3, "max": 1}})", "above the upper bound"},
        BadCase{R"({"altitude": {"distribution": "uniform", "min": 0, "max": 1, "mean": 2}})",
                "unknown field \"mean\""},
        BadCase{R"({"pitch": {"distribution": "normal", "mean": 1}})", "\"sigma\" is missing"},
        BadCase{R"({"pitch": {"distribution": "normal", "sigma": -2}})", "must not be negative"},
        // The good entry before the bad one must not be applied either.
        BadCase{R"({"bank": {"distribution": "none"}, "altitde": {"distribution": "none"}})",
                "unknown quantity \"altitde\""}));

TEST(DispersionFile, MissingFileNamed) {
    DispersionSet set = DefaultDispersions();
    EXPECT_THROW(
        {
            try {
                ApplyDispersionFile(set, "/nonexistent/dispersions.json");
            } catch (const DispersionError &e) {
                EXPECT_NE(std::string(e.what()).find("/nonexistent/dispersions.json"), std::string::npos);
                throw;
            }
        },
        DispersionError);
}

TEST(DispersionFile, ReadFromDisk) {
    const std::string path = vtal::montecarlo::testing::TempPath("dispersions.json");
    std::ofstream(path) << R"({"propellant": {"distribution": "uniform", "min": -5, "max": 0}})";
    DispersionSet set = NoDispersions();
    ApplyDispersionFile(set, path);
    std::remove(path.c_str());
    EXPECT_EQ(At(set, Quantity::Propellant), Distribution::Uniform(-5, 0));
}

TEST(DrawStart, SameSeedSameDrawAndUndispersedQuantitiesStayAtZero) {
    DispersionSet set = NoDispersions();
    At(set, Quantity::Altitude) = Distribution::Uniform(-100, 100);
    const Draw a = DrawStart(set, 1234), b = DrawStart(set, 1234), c = DrawStart(set, 1235);
    EXPECT_EQ(a, b);
    EXPECT_NE(a[0], c[0]);
    for (int i = 1; i < kQuantityCount; ++i) EXPECT_EQ(a[i], 0.0);
}

// Dispersing one more quantity must not change what the others draw, or a
// campaign could not be widened one quantity at a time.
TEST(DrawStart, QuantitiesDrawIndependently) {
    DispersionSet narrow = NoDispersions();
    At(narrow, Quantity::Pitch) = Distribution::Normal(0, 3);
    DispersionSet wide = narrow;
    At(wide, Quantity::Altitude) = Distribution::Uniform(-100, 100);
    for (std::uint64_t seed : {1ULL, 99ULL, 123456789ULL})
        EXPECT_EQ(DrawStart(narrow, seed)[static_cast<int>(Quantity::Pitch)],
                  DrawStart(wide, seed)[static_cast<int>(Quantity::Pitch)]);
}

TEST(DrawStart, UniformStaysInItsBoundsAndNormalHasItsMoments) {
    DispersionSet set = NoDispersions();
    At(set, Quantity::Altitude) = Distribution::Uniform(-20, 60);
    At(set, Quantity::Pitch) = Distribution::Normal(2, 3);
    const int n = 20000;
    double lo = 1e9, hi = -1e9, sum = 0, sumSq = 0;
    for (int i = 0; i < n; ++i) {
        const Draw d = DrawStart(set, static_cast<std::uint64_t>(i) * 7919);
        lo = std::min(lo, d[0]);
        hi = std::max(hi, d[0]);
        const double p = d[static_cast<int>(Quantity::Pitch)];
        sum += p;
        sumSq += p * p;
    }
    EXPECT_GE(lo, -20.0);
    EXPECT_LT(hi, 60.0);
    EXPECT_LT(lo, -19.0);
    EXPECT_GT(hi, 59.0);
    const double mean = sum / n, sigma = std::sqrt(sumSq / n - mean * mean);
    EXPECT_NEAR(mean, 2.0, 0.1);
    EXPECT_NEAR(sigma, 3.0, 0.1);
}

TEST(Describe, ReadsAsTheUserWroteIt) {
    EXPECT_EQ(Describe(Distribution::Uniform(-50, 50), Quantity::Altitude), "uniform -50 .. 50 m");
    EXPECT_EQ(Describe(Distribution::Normal(0, 3), Quantity::Pitch), "normal mean 0 sigma 3 deg");
    EXPECT_EQ(Describe(Distribution::None(), Quantity::Heading), "none");
}

}  // namespace
