// Where the scenario reader draws its lines: states just inside the limits
// are read, just outside are refused at their line; headers inside a block;
// class names; and 8-bit text made valid UTF-8 for the report.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/base/InputError.h"
#include "sim/run/Outputs.h"

namespace vtal::simtest {
namespace {

std::string Flying(const std::string &rpos, const std::string &rvel = "0 0 0", const std::string &vrot = "0 0 0") {
    return "  STATUS Orbiting Moon\n  RPOS " + rpos + "\n  RVEL " + rvel + "\n  AROT 0 0 0\n  VROT " + vrot + "\n";
}

// The error of reading the scenario, or empty if it reads.
std::string Problem(const std::string &blocks) {
    try {
        sim::ParseScenarioText(ScenarioWith(blocks), "t.scn");
    } catch (const sim::InputError &e) {
        return e.what();
    }
    return "";
}

std::string Lander(const std::string &lines) { return "Lander:vtal\n" + lines + "END\n"; }

TEST(ReaderLimits, DistancesFromTheCentreAreReadUpToTheirLimitsAndRefusedBeyond) {
    EXPECT_EQ(Problem(Lander(Flying("1000 0 0"))), "");
    EXPECT_EQ(Problem(Lander(Flying("0 0 -1e12"))), "");
    EXPECT_EQ(Problem(Lander(Flying("0 999.99 0"))),
              "t.scn:11: RPOS: the vessel would be 999.99 m from the centre of Moon; at least 1000 m is accepted "
              "(vessel 'Lander')");
    EXPECT_NE(Problem(Lander(Flying("1.000001e12 0 0"))).find("t.scn:11: RPOS: the vessel would be 1000001000000 m"),
              std::string::npos);
    // Landed: the radius plus ALT is the distance.
    EXPECT_EQ(Problem(Lander("  STATUS Landed Moon\n  POS 0 0\n  ALT -1737000\n")), "");
    EXPECT_NE(Problem(Lander("  STATUS Landed Moon\n  POS 0 0\n  ALT -1737001\n")).find("t.scn:12: ALT:"),
              std::string::npos);
}

TEST(ReaderLimits, SpeedsAndBodyRatesAreReadUpToTheirLimitsAndRefusedBeyond) {
    EXPECT_EQ(Problem(Lander(Flying("2e6 0 0", "1e6 0 0", "-100000 100000 0"))), "");
    EXPECT_EQ(Problem(Lander(Flying("2e6 0 0", "0 0 1000000.1"))),
              "t.scn:12: RVEL: a speed of 1000000.1 m/s; at most 1000000 m/s is accepted (vessel 'Lander')");
    EXPECT_EQ(Problem(Lander(Flying("2e6 0 0", "0 0 0", "0 -100000.5 0"))),
              "t.scn:14: VROT: a rate of 100000.5 deg/s about an axis; at most 100000 deg/s is accepted (vessel 'Lander')");
}

TEST(ReaderLimits, AHeaderInsideABlockEndsTheReadingButOtherColonsDoNot) {
    // Lines with a colon and a blank are vessel lines (PRPLEVEL, DOCKINFO, a module's).
    EXPECT_EQ(Problem(Lander(Flying("2e6 0 0") + "  PRPLEVEL 0:1 1:1\n  DOCKINFO 0:0,ISS\n")), "");
    EXPECT_EQ(Problem("Lander:vtal\n" + Flying("2e6 0 0") + "Other:vtal\n" + Flying("3e6 0 0") + "END\n"),
              "t.scn:15: 'Other:vtal' looks like the next vessel's header, but vessel block 'Lander' (line 9) has no "
              "END before it");
}

TEST(ReaderLimits, ClassNamesMustBeFileNames) {
    EXPECT_EQ(Problem("Box:Sub/Box\n" + Flying("2e6 0 0") + "END\n"),
              "t.scn:9: vessel class 'Sub/Box' holds a path separator; a class is a file name under Config/Vessels/");
    EXPECT_NE(Problem("Box:..\n" + Flying("2e6 0 0") + "END\n").find("'..' is a folder name"), std::string::npos);
    EXPECT_NE(Problem(std::string("Box:a\x01") + "b\n" + Flying("2e6 0 0") + "END\n").find("a control character"),
              std::string::npos);
    EXPECT_EQ(Problem("Box:Box.v2\n" + Flying("2e6 0 0") + "END\n"), "") << "dots alone are no path";
}

TEST(ReaderLimits, FuelOutsideZeroToOneWarnsAtItsLine) {
    const sim::Scenario scn =
        sim::ParseScenarioText(ScenarioWith(Lander(Flying("2e6 0 0") + "  FUEL -0.5\n")), "t.scn");
    ASSERT_EQ(scn.warnings.size(), 1u);
    EXPECT_EQ(scn.warnings[0], "t.scn:15: FUEL outside 0..1 is clamped");
    EXPECT_TRUE(
        sim::ParseScenarioText(ScenarioWith(Lander(Flying("2e6 0 0") + "  FUEL 1\n")), "t.scn").warnings.empty());
}

TEST(ReportText, ValidUtf8IsKeptAndAnythingElseIsDecodedAsLatin1) {
    EXPECT_EQ(sim::TextAsUtf8("plain"), "plain");
    EXPECT_EQ(sim::TextAsUtf8("Land\xC3\xA9r \xE2\x82\xAC \xF0\x9F\x9A\x80"), "Land\xC3\xA9r \xE2\x82\xAC \xF0\x9F\x9A\x80");
    EXPECT_EQ(sim::TextAsUtf8("Land\xE9r"), "Land\xC3\xA9r");
    EXPECT_EQ(sim::TextAsUtf8("\xC0\x80"), "\xC3\x80\xC2\x80") << "an overlong zero is no UTF-8";
    EXPECT_EQ(sim::TextAsUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80") << "a surrogate is no UTF-8";
    EXPECT_EQ(sim::TextAsUtf8("\xE2\x82"), "\xC3\xA2\xC2\x82") << "a sequence cut short";
}

TEST(Messages, LongTextIsQuotedShortAndNumbersPlainly) {
    EXPECT_EQ(sim::Quote("abc"), "'abc'");
    const std::string quoted = sim::Quote(std::string(1000000, 'x'));
    EXPECT_EQ(quoted, "'" + std::string(sim::kLongestQuote, 'x') + "...' (1000000 characters)");
    EXPECT_EQ(sim::Plain(1.7976931348623157e308), "1.797693135e+308");
    EXPECT_EQ(sim::Plain(16666666.666666666), "16666666.67");
}

TEST(Messages, CommandLineNumbersNameTheirRange) {
    const auto problem = [](const std::string &text) {
        try {
            sim::ParseArgumentNumber(text, "--dt", 0.0, 1.0, true);
        } catch (const sim::InputError &e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(problem("0.5"), "");
    EXPECT_EQ(problem("1"), "");
    EXPECT_EQ(problem("0"), "--dt: '0' is out of range: it must be above 0 and at most 1");
    EXPECT_EQ(problem("1e-400"), "--dt: '1e-400' is out of range: it must be above 0 and at most 1");
    EXPECT_EQ(problem("nan"), "--dt: 'nan' is not a number");
    EXPECT_EQ(problem("1s"), "--dt: '1s' is not a number");
    EXPECT_EQ(sim::ParseArgumentCount("12", "--runs", 1, 100), 12);
    EXPECT_THROW(sim::ParseArgumentCount("12.0", "--runs", 1, 100), sim::InputError);
    EXPECT_THROW(sim::ParseArgumentCount("101", "--runs", 1, 100), sim::InputError);
}

TEST(Messages, FrameCountsStopAtTheLimit) {
    const double dt = 1.0 / 60.0;
    EXPECT_EQ(sim::FrameCount(600.0, dt), 36000);
    EXPECT_EQ(sim::FrameCount(static_cast<double>(sim::kMaxFrames) * dt, dt), sim::kMaxFrames);
    EXPECT_THROW(sim::FrameCount(static_cast<double>(sim::kMaxFrames + 1) * dt, dt), sim::InputError);
    EXPECT_THROW(sim::FrameCount(1.0, 1e-300), sim::InputError);
}

}  // namespace
}  // namespace vtal::simtest
