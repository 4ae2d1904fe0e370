// The single flight's outcome lines through vtal-sim's real command line:
// the focus vessel's first whatever its place in the file, every other
// lander on a line of its own, the campaigns' classification (crash,
// tipped over, hard, soft), and a warning for a frame step coarser than the
// guidance flies. And the classifier's own rules.
#include <gtest/gtest.h>

#include <regex>

#include "CommandRun.h"
#include "SimTestSupport.h"
#include "sim/run/Flight.h"
#include "sim/run/LandingOutcome.h"

namespace vtal::clitest {
namespace {

using simtest::FlyingLines;
using simtest::LandedLines;
using simtest::LanderBlock;
using simtest::ScenarioWith;
using simtest::Start;

const std::string kRoot = std::string(" --root ") + VTAL_SIM_ROOT + " ";

// The outcome lines of a report, in order.
std::vector<std::string> OutcomeLines(const std::string &report) {
    std::vector<std::string> lines;
    const std::regex line("  outcome \\(([^)]*)\\): ([^\\n]*)");
    for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it)
        lines.push_back((*it)[1].str() + ": " + (*it)[2].str());
    return lines;
}

TEST_F(CommandTest, TheOutcomeNamesTheFocusVesselNotTheFirstOfTheFile) {
    // The depot comes first in the file; the lander has the focus.
    const Ran r = Run(kRoot + "Lander/FuelDepot --until 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutcomeLines(r.out), (std::vector<std::string>{"Lander: soft landing"})) << r.out;
}

TEST_F(CommandTest, EveryLanderHasItsOwnLineTheFocusFirst) {
    // B has the focus and starts landed; A, first in the file, falls at 35 m/s without its guidance.
    WriteAll(In("two.scn"), ScenarioWith(LanderBlock(FlyingLines(Start{20.0, -35.0}), "  MANUAL 1\n", "A") +
                                             LanderBlock(LandedLines(), "  MANUAL 1\n", "B"),
                                         "B"));
    const Ran r = Run(kRoot + "two.scn --until 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutcomeLines(r.out), (std::vector<std::string>{"B: soft landing", "A: crash"})) << r.out;
}

TEST_F(CommandTest, AnImpactAt35MetresPerSecondIsACrash) {
    WriteAll(In("fall.scn"), ScenarioWith(LanderBlock(FlyingLines(Start{20.0, -35.0}))));
    const Ran r = Run(kRoot + "fall.scn --until 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "annotation \"Crash")) << "the module's notice came: " << r.out;
    EXPECT_EQ(OutcomeLines(r.out), (std::vector<std::string>{"Lander: crash"})) << r.out;
}

TEST_F(CommandTest, AStepCoarserThanTheGuidanceFliesIsWarnedAndItsLandingJudgedAsFlown) {
    const Ran coarse = Run(kRoot + "--dt 1");
    ASSERT_EQ(coarse.status, 0) << coarse.err;
    EXPECT_TRUE(Has(coarse.err, "vtal-sim: warning: a frame step of 1 s is coarser than the guidance can fly")) << coarse.err;
    EXPECT_TRUE(Has(coarse.err, "lands softly at steps up to 0.042 s only")) << coarse.err;
    // At 1 s the lander comes down on its side.
    EXPECT_EQ(OutcomeLines(coarse.out), (std::vector<std::string>{"Lander: tipped over"})) << coarse.out;

    const Ran fine = Run(kRoot + "--dt 0.042");
    ASSERT_EQ(fine.status, 0) << fine.err;
    EXPECT_FALSE(Has(fine.err, "coarser than the guidance")) << fine.err;
    EXPECT_EQ(OutcomeLines(fine.out), (std::vector<std::string>{"Lander: soft landing"})) << fine.out;
}

// The campaign's outcome of a start and the single flight's outcome line of
// the same start written as a scenario are one classification.
TEST_F(CommandTest, ACampaignRunAndItsStartFlownAloneGetTheSameOutcome) {
    const struct {
        const char *dispersions;
        const char *verdict;
    } cases[] = {
        {"", "soft landing"},
        {"--disperse altitude=uniform:-1900:-1900 --disperse sink_rate=uniform:40:40", "crash"},
        {"--disperse propellant=uniform:-66.5:-66.5", "out of propellant before touchdown"},
    };
    const std::string none =
        "--disperse altitude=none --disperse sink_rate=none --disperse horizontal_speed=none --disperse pitch=none "
        "--disperse bank=none --disperse heading=none --disperse pitch_rate=none --disperse yaw_rate=none "
        "--disperse bank_rate=none --disperse propellant=none ";
    for (const auto &c : cases) {
        const Ran campaign = Run("montecarlo --no-progress" + kRoot + "--replay 0 --write-scenario start.scn " +
                                 "--csv run.csv " + none + c.dispersions);
        ASSERT_EQ(campaign.status, 0) << campaign.err;
        const std::string csv = ReadAll(In("run.csv"));
        const std::size_t row = csv.find('\n') + 1;
        std::vector<std::string> fields;
        std::stringstream cells(csv.substr(row));
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        ASSERT_GT(fields.size(), 13u);
        sim::Outcome outcome = sim::Outcome::Error;
        ASSERT_TRUE(sim::OutcomeNamed(fields[13], outcome)) << fields[13];

        const Ran alone = Run(kRoot + "start.scn");
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_EQ(OutcomeLines(alone.out), std::vector<std::string>{std::string("Lander: ") + c.verdict}) << alone.out;
        EXPECT_EQ(OutcomeLines(campaign.out), OutcomeLines(alone.out)) << "the replay's own report: " << campaign.out;
        EXPECT_STREQ(sim::Verdict(outcome), c.verdict) << "the campaign said " << fields[13];
    }
}

// The classifier's rules, in their order.
TEST(Classify, TheFirstRuleThatAppliesDecides) {
    sim::Observation soft;
    soft.touchedDown = true;
    soft.touchdownSinkSpeed = 1.5;
    soft.touchdownHorizontalSpeed = 0.2;
    EXPECT_EQ(sim::Classify(soft), sim::Outcome::Soft);

    sim::Observation o = soft;
    o.touchedDown = false;
    o.crashNotice = true;
    EXPECT_EQ(sim::Classify(o), sim::Outcome::Timeout) << "no touchdown, no landing to judge";

    o = soft;
    o.ranDryBeforeTouchdown = true;
    o.crashNotice = true;
    EXPECT_EQ(sim::Classify(o), sim::Outcome::OutOfPropellant) << "what went wrong first";

    o = soft;
    o.touchdownSinkSpeed = 9.0;
    o.touchdownHorizontalSpeed = 4.5;  // 10.06 m/s in all
    EXPECT_EQ(sim::Classify(o), sim::Outcome::Crash) << "faster than the crash speed, notice or not";
    o.touchdownHorizontalSpeed = 4.3;  // 9.97 m/s
    EXPECT_EQ(sim::Classify(o), sim::Outcome::Hard);

    o = soft;
    o.finalTilt = 46.0;
    EXPECT_EQ(sim::Classify(o), sim::Outcome::TippedOver);
    o.crashNotice = true;
    EXPECT_EQ(sim::Classify(o), sim::Outcome::Crash);

    o = soft;
    o.touchdownPitch = -5.5;
    EXPECT_EQ(sim::Classify(o), sim::Outcome::Hard);
}

// A module's crash notice is the module's: it counts for the lander only
// when there is no other to have raised it.
TEST(ObservationOf, TheCrashNoticeCountsForTheOnlyLander) {
    sim::RunResult result;
    sim::VesselSummary lander;
    lander.name = "A";
    lander.lander = true;
    lander.touchdown.happened = true;
    lander.touchdown.verticalSpeed = -1.0;
    lander.pitchDeg = -179.3;  // resting upside down: the angles say little,
    lander.bankDeg = 180.0;    // the tilt from the vertical says it
    lander.tiltDeg = 179.3;
    sim::VesselSummary depot;
    depot.name = "Depot";
    result.vessels = {depot, lander};
    result.annotations.push_back({"Crash! Impact > 10m/s", 3.0, false, 0.0});

    sim::Observation o = sim::ObservationOf(result, result.vessels[1]);
    EXPECT_TRUE(o.crashNotice);
    EXPECT_TRUE(o.touchedDown);
    EXPECT_DOUBLE_EQ(o.touchdownSinkSpeed, 1.0);
    EXPECT_DOUBLE_EQ(o.finalTilt, 179.3);
    EXPECT_FALSE(sim::ObservationOf(result, result.vessels[0]).crashNotice) << "a passive vessel raises no notice";

    sim::VesselSummary other = lander;
    other.name = "B";
    result.vessels.push_back(other);
    EXPECT_FALSE(sim::ObservationOf(result, result.vessels[1]).crashNotice) << "which lander's notice?";
}

}  // namespace
}  // namespace vtal::clitest
