// The host's standard vessel lines as it reads and writes them: tanks and
// levels reset before the lines apply, PRPLEVEL and FUEL replacing each other,
// unclamped levels, and the decimals of a saved flying vessel.
#include <gtest/gtest.h>

#include <regex>

#include "SimTestSupport.h"

namespace vtal::simtest {
namespace {

std::string Block(const std::string &standard, const std::string &propellant) {
    return "Lander:vtal\n" + standard + propellant + "  MANUAL 1\nEND\n";
}

Start High() {
    Start s;
    s.alt = 3000.0;
    return s;
}

TEST(ScenarioLines, PrplevelAndFuelReplaceEachOtherAndTheLaterWins) {
    struct Case {
        const char *lines;
        double main, lidar;  // fractions of the two tanks' maxima
    };
    const Case cases[] = {
        {"", 0.0, 0.0},                                     // no line: both tanks empty
        {"  PRPLEVEL 0:0.5\n", 0.5, 0.0},                  // unlisted tanks stay empty
        {"  PRPLEVEL 0:1.5 1:-0.5\n", 1.0, -0.5},          // above 1 fills, below 0 is kept
        {"  FUEL 0.25\n", 0.25, 0.25},                     // every tank
        {"  FUEL 0.25\n  PRPLEVEL 0:0.5\n", 0.5, 0.0},     // the later replaces the earlier entirely
        {"  PRPLEVEL 0:0.5\n  FUEL 0.75\n", 0.75, 0.75},
    };
    for (const Case &c : cases) {
        auto w = MakeWorld(ScenarioWith(Block(FlyingLines(High()), c.lines)));
        const sim::Vessel &v = *w->Focus();
        ASSERT_EQ(v.actuators.tanks.size(), 2u);
        EXPECT_DOUBLE_EQ(v.actuators.tanks[0]->mass, c.main * v.actuators.tanks[0]->maxMass) << c.lines;
        EXPECT_DOUBLE_EQ(v.actuators.tanks[1]->mass, c.lidar * v.actuators.tanks[1]->maxMass) << c.lines;
    }
}

TEST(ScenarioLines, ThlevelIsKeptAsGivenAndUnlistedLevelsStartAtZero) {
    auto w = MakeWorld(ScenarioWith(Block(FlyingLines(High()), "  PRPLEVEL 0:1 1:1\n  THLEVEL 5:2 6:-0.5\n")));
    const sim::Vessel &v = *w->Focus();
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[5]->level, 2.0);
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[6]->level, -0.5);
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->level, 0.0);
    const std::string saved = w->SaveScenario(false);
    EXPECT_NE(saved.find("THLEVEL 5:2.000000 6:-0.500000"), std::string::npos) << saved;
}

TEST(ScenarioLines, AFlyingVesselIsSavedWithTheHostsDecimalsInTheHostsOrder) {
    Start s = High();
    s.ratesDeg = Vec3(0.5, 0.0, 0.0);
    auto w = MakeWorld(ScenarioWith(Block(FlyingLines(s), "  PRPLEVEL 0:0.5\n")));
    const std::string saved = w->SaveScenario(false);
    const std::regex order(
        "  STATUS Orbiting Moon\n"
        "  RPOS -?\\d+\\.\\d{3} -?\\d+\\.\\d{3} -?\\d+\\.\\d{3}\n"
        "  RVEL -?\\d+\\.\\d{4} -?\\d+\\.\\d{4} -?\\d+\\.\\d{4}\n"
        "  AROT -?\\d+\\.\\d{3} -?\\d+\\.\\d{3} -?\\d+\\.\\d{3}\n"
        "  VROT 0\\.5000 0\\.0000 0\\.0000\n"
        "  PRPLEVEL 0:0\\.500000\n"  // the empty lidar tank is left out
        "  NAVFREQ 0 0\n"             // two receivers from its creation
        "  MANUAL 1\n");
    EXPECT_TRUE(std::regex_search(saved, order)) << saved;
    EXPECT_EQ(saved.find("NAVMODE"), std::string::npos);
}

TEST(ScenarioLines, ANegligibleRateWritesNoVrot) {
    Start s = High();
    s.ratesDeg = Vec3(0.005, 0.0, 0.0);  // 8.7e-5 rad/s: |w|^2 below 1e-8
    auto w = MakeWorld(ScenarioWith(Block(FlyingLines(s), "  PRPLEVEL 0:1\n")));
    EXPECT_EQ(w->SaveScenario(false).find("VROT"), std::string::npos);
    Start faster = High();
    faster.ratesDeg = Vec3(0.006, 0.0, 0.0);  // 1.05e-4 rad/s: above
    w.reset();
    auto again = MakeWorld(ScenarioWith(Block(FlyingLines(faster), "  PRPLEVEL 0:1\n")));
    EXPECT_NE(again->SaveScenario(false).find("VROT"), std::string::npos);
}

TEST(ScenarioLines, APositionBelowTheSurfaceIsLiftedToIt) {
    Start s = High();
    s.alt = -50.0;
    auto w = MakeWorld(ScenarioWith(Block(FlyingLines(s), "  PRPLEVEL 0:1\n")));
    EXPECT_NEAR(sim::Altitude(*w->Focus(), w->Body()), 0.0, 1e-6);
    bool warned = false;
    for (const auto &m : w->Warnings()) warned |= m.find("below the surface") != std::string::npos;
    EXPECT_TRUE(warned);
}

}  // namespace
}  // namespace vtal::simtest
