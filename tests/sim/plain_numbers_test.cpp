// Numbers in messages in plain digits (a --dt of 1e-7 echoed as 0.0000001),
// and frame steps finer than the outputs' decimals: the telemetry's time
// column and the report's frame length get the digits the step needs, while
// ordinary steps keep their formats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <vector>

#include "CommandRun.h"
#include "sim/base/Numbers.h"

namespace vtal::clitest {
namespace {

const std::string kRoot = std::string(" --root ") + VTAL_SIM_ROOT + " ";

bool HasExponent(const std::string &text) { return std::regex_search(text, std::regex("[0-9][eE][-+]?[0-9]")); }

// --- Plain ------------------------------------------------------------------

TEST(PlainNumbers, AreDigitsWithoutAnExponentFromTinyToHuge) {
    EXPECT_EQ(sim::Plain(1e-7), "0.0000001");
    EXPECT_EQ(sim::Plain(6e-7), "0.0000006");
    EXPECT_EQ(sim::Plain(-2.5e-9), "-0.0000000025");
    EXPECT_EQ(sim::Plain(1.5e-15), "0.0000000000000015");
    EXPECT_EQ(sim::Plain(1.0 / 60.0), "0.01666666667");
    EXPECT_EQ(sim::Plain(1e12), "1000000000000");
    EXPECT_EQ(sim::Plain(6e15), "6000000000000000");
    EXPECT_EQ(sim::Plain(0.99999999999), "1") << "rounded up across a power of ten";
    EXPECT_EQ(sim::Plain(0.0), "0");
    EXPECT_EQ(sim::Plain(-0.0), "0");
    EXPECT_EQ(sim::Plain(0.16349, 3), "0.163");
    EXPECT_EQ(sim::Plain(123.4567, 6), "123.457");
    // Every size a message holds reads back to ten significant digits.
    for (int exponent = -15; exponent <= 15; ++exponent) {
        for (const double mantissa : {1.0, 1.234567891, 5.0, 9.999999999}) {
            const double x = mantissa * std::pow(10.0, exponent);
            const std::string text = sim::Plain(x);
            EXPECT_FALSE(HasExponent(text)) << x << " -> " << text;
            EXPECT_NEAR(std::strtod(text.c_str(), nullptr) / x, 1.0, 1e-9) << x << " -> " << text;
            EXPECT_EQ(sim::Plain(-x), "-" + text);
        }
    }
}

TEST(PlainNumbers, BeyondWhatARunCanHoldKeepAnExponentNotHundredsOfDigits) {
    EXPECT_EQ(sim::Plain(1e200), "1e+200");
    EXPECT_EQ(sim::Plain(1e-300), "1e-300");
    EXPECT_EQ(sim::Plain(2e16), "2e+16");
    EXPECT_EQ(sim::Plain(1.7976931348623157e308), "1.797693135e+308");
}

TEST(StepDecimals, ReachTheStepsFirstDigitSoThatNoTwoFramesReadAlike) {
    EXPECT_EQ(sim::DecimalsForStep(1.0 / 60.0, 6), 6);
    EXPECT_EQ(sim::DecimalsForStep(1e-6, 6), 6);
    EXPECT_EQ(sim::DecimalsForStep(1e-7, 6), 7);
    EXPECT_EQ(sim::DecimalsForStep(1.5e-7, 6), 7);
    EXPECT_EQ(sim::DecimalsForStep(9e-8, 6), 8);
    EXPECT_EQ(sim::DecimalsForStep(1e-4, 4), 4);
    EXPECT_EQ(sim::DecimalsForStep(5e-5, 4), 5);
    EXPECT_EQ(sim::DecimalsForStep(1.0, 2), 2);
    for (const double step : {1e-7, 3e-7, 7.7e-8, 1e-9, 2.5e-6, 1e-12}) {
        const int decimals = sim::DecimalsForStep(step, 6);
        for (int k = 0; k < 2000; ++k)
            ASSERT_NE(sim::Fixed(k * step, decimals), sim::Fixed((k + 1) * step, decimals))
                << "step " << step << ", frame " << k << ", " << decimals << " decimals";
    }
}

// --- Messages of the program ------------------------------------------------

TEST_F(CommandTest, ATinyOrHugeStopOrStepIsEchoedInPlainDigits) {
    Ran r = Run(kRoot + "--dt 1e-7");  // 600 s at 1e-7 s: more frames than a run flies
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "a stop at 600 s (--until) in frames of 0.0000001 s (--dt) would take 6000000000 frames"))
        << r.err;
    EXPECT_TRUE(Has(r.err, "the largest accepted --until is 100 s; for this stop the smallest accepted --dt is "
                           "0.0000006 s"))
        << r.err;
    EXPECT_FALSE(HasExponent(r.err)) << r.err;

    r = Run(kRoot + "--until 1e13");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "a stop at 10000000000000 s (--until)")) << r.err;
    EXPECT_TRUE(Has(r.err, "would take 600000000000000 frames")) << r.err;
    EXPECT_FALSE(HasExponent(r.err)) << r.err;
}

TEST_F(CommandTest, ACoarseStepIsWarnedOfWithAllItsDigits) {
    const Ran r = Run(kRoot + "--dt 0.0666666667 --until 0.2 --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "a frame step of 0.0666666667 s is coarser than the guidance can fly")) << r.err;
    EXPECT_TRUE(Has(r.err, "lands softly at steps up to 0.042 s only")) << r.err;
}

// --- Steps finer than the outputs' decimals --------------------------------

std::vector<std::string> TimeColumn(const std::string &csv) {
    std::vector<std::string> times;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) times.push_back(line.substr(0, line.find(',')));
    return times;
}

TEST_F(CommandTest, TenthOfAMicrosecondFramesGetTimesThatNeverRepeat) {
    const Ran r = Run(kRoot + "--dt 1e-7 --until 0.000001 --telemetry t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> times = TimeColumn(ReadAll(In("t.csv")));
    ASSERT_EQ(times.size(), 11u);
    for (std::size_t k = 0; k < times.size(); ++k) {
        EXPECT_NEAR(std::strtod(times[k].c_str(), nullptr), k * 1e-7, 1e-9) << times[k];
        if (k > 0) {
            EXPECT_NE(times[k], times[k - 1]);
        }
    }
    EXPECT_EQ(times.front(), "0.0000000");
    EXPECT_EQ(times.back(), "0.0000010");
    EXPECT_TRUE(Has(r.out, "(Moon), 0.0000010 s of simulation in 10 frames of 0.0000001 s\n")) << r.out;
}

TEST_F(CommandTest, OrdinaryStepsKeepTheirDecimals) {
    Ran r = Run(kRoot + "--until 0.05 --telemetry t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TimeColumn(ReadAll(In("t.csv")))[1], "0.016667");
    EXPECT_TRUE(Has(r.out, "(Moon), 0.05 s of simulation in 3 frames of 0.0167 s\n")) << r.out;

    r = Run(kRoot + "--dt 0.0001 --until 0.001 --telemetry t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TimeColumn(ReadAll(In("t.csv")))[1], "0.000100");
    EXPECT_TRUE(Has(r.out, "(Moon), 0.00 s of simulation in 10 frames of 0.0001 s\n")) << r.out;

    // The first step the frame length's four decimals cannot show.
    r = Run(kRoot + "--dt 0.00005 --until 0.001");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "(Moon), 0.00100 s of simulation in 20 frames of 0.00005 s\n")) << r.out;
}

}  // namespace
}  // namespace vtal::clitest
