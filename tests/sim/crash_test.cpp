// Crashes as the host flies them: nothing holds a vessel in the ground but
// the contact law, whose depth counts at most 1 m per point, so a fast
// impact sinks several metres, is pushed back out, tumbles and comes to rest
// on the surface. Through all of it the rates stay bounded, every output
// holds numbers, and the report says that the module raised its crash
// notice and how the vessel ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CommandRun.h"
#include "SimTestSupport.h"
#include "sim/run/Flight.h"

namespace vtal::simtest {
namespace {

using Json = nlohmann::json;

std::string DataFile(const std::string &name) { return std::string(VTAL_SIM_TEST_DATA) + "/" + name; }

sim::RunOptions Quiet() {
    sim::RunOptions o;
    o.root = Root();
    o.quiet = true;
    static std::ostringstream sink;
    o.err = &sink;
    return o;
}

// What the focus vessel did from its first ground contact on, frame by frame.
struct CrashTrace {
    double deepest = 0.0;          // m: the lowest altitude of its centre
    double fastestRise = 0.0;      // m/s upwards, after the deepest point
    double longestAirborne = 0.0;  // s off the ground in one stretch
    double fastestTurn = 0.0;      // rad/s: the largest body rate, over the whole flight
    bool touched = false;

    void Watch(sim::World &w) {
        const sim::Vessel &v = *w.Focus();
        fastestTurn = std::max(fastestTurn, v.motion.bodyRates.cwiseAbs().maxCoeff());
        touched = touched || v.contact.groundContact;
        if (!touched) return;
        const double altitude = sim::Altitude(v, w.Body());
        if (altitude < deepest) {
            deepest = altitude;
            fastestRise = 0.0;
        }
        fastestRise = std::max(fastestRise, sim::VerticalSpeed(v));
        if (!v.contact.groundContact && airborneSince_ < 0.0) airborneSince_ = w.SimTime();
        if (v.contact.groundContact && airborneSince_ >= 0.0) {
            longestAirborne = std::max(longestAirborne, w.SimTime() - airborneSince_);
            airborneSince_ = -1.0;
        }
    }

private:
    double airborneSince_ = -1.0;
};

bool Lost(const sim::RunResult &r) {
    for (const std::string &w : r.warnings)
        if (w.find("lost vessel") != std::string::npos) return true;
    return false;
}

// The real host flew this start (3000 m, 90 m/s down, automatic descent on):
// first contact at 29.383 s at 59.55 m/s; the lander sinks to -8.37 m, comes
// back out at up to 9.69 m/s, is 15.8 s off the ground, tumbles and rests
// upright from 62.77 s with 51.08 kg in the main tank.
TEST(CrashFlight, FromThreeThousandMetresAtNinetyComesToRestOnTheSurface) {
    sim::RunOptions o = Quiet();
    o.scenario = DataFile("host_crash_3000.scn");
    CrashTrace trace;
    o.onFrame = [&](sim::World &w) { trace.Watch(w); };
    const sim::RunResult r = sim::Fly(o);
    ASSERT_FALSE(Lost(r));
    ASSERT_EQ(r.vessels.size(), 1u);
    const sim::VesselSummary &v = r.vessels[0];
    ASSERT_TRUE(v.touchdown.happened);
    EXPECT_NEAR(v.touchdown.time, 29.383, 0.1);
    EXPECT_NEAR(-v.touchdown.verticalSpeed, 59.55, 1.0);
    EXPECT_NEAR(sim::CrashNoticeAt(r), v.touchdown.time, 0.1);

    EXPECT_NEAR(trace.deepest, -8.37, 0.5);
    EXPECT_NEAR(trace.fastestRise, 9.69, 0.5);
    EXPECT_NEAR(trace.longestAirborne, 15.8, 1.0);
    EXPECT_LT(trace.fastestTurn, 60.0);  // about 30 rad/s in the ground

    EXPECT_TRUE(v.landed);
    EXPECT_STREQ(sim::Ending(v), "at rest on the surface");
    EXPECT_NEAR(v.landedAt, 62.77, 3.0);
    EXPECT_NEAR(v.propellantKg.at(0), 51.08, 0.5);
    // Flat on the ground: on its feet, as in the host's flight, or on its
    // back, which a tumble this long decides by a hair (a centimetre more or
    // less of starting altitude turns one into the other, here as in any
    // host). The altitude is the centre's over its springs either way.
    if (v.tiltDeg < 90.0) {
        EXPECT_LT(v.tiltDeg, 2.0);
        EXPECT_NEAR(v.altitude, 0.5455, 0.01);
    } else {
        EXPECT_GT(v.tiltDeg, 178.0);
        EXPECT_NEAR(v.altitude, -0.615, 0.01);
    }
}

// A lander dropped nose up and banked onto the ground at 60 m/s, engines
// off: its centre goes metres deep, far past the 1 m the springs count, and
// the springs and dampers push it back out; its rates stay bounded and it
// comes to rest on the surface.
TEST(Impact, AtSixtyMetresPerSecondSinksBelowOneMetreAndComesBackOutWithBoundedRates) {
    Start s;
    s.alt = 20.0;
    s.vup = -60.0;
    s.pitch = 30.0;
    s.bank = 10.0;
    sim::RunOptions o = Quiet();
    o.scenarioText = ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 1\n"));
    CrashTrace trace;
    o.onFrame = [&](sim::World &w) { trace.Watch(w); };
    const sim::RunResult r = sim::Fly(o);
    ASSERT_FALSE(Lost(r));
    const sim::VesselSummary &v = r.vessels.at(0);
    EXPECT_LT(trace.deepest, -2.0);
    EXPECT_GT(trace.fastestRise, 1.0);  // pushed back up
    EXPECT_GT(trace.fastestTurn, 5.0);  // the impact did throw it about
    EXPECT_LT(trace.fastestTurn, 60.0);
    EXPECT_GE(sim::CrashNoticeAt(r), 0.0);
    EXPECT_TRUE(v.landed);
    EXPECT_GT(v.altitude, -1.0);  // back on the surface, on its feet or its back
}

// --- Through the command line: what a crash's outputs hold ------------------

class CrashOutputs : public clitest::CommandTest {};

bool HasNonNumberWord(const std::string &text) {
    static const std::regex word("(^|[^A-Za-z])(nan|inf|infinity)([^A-Za-z]|$)", std::regex::icase);
    return std::regex_search(text, word);
}

// The report of the crash flight says that the crash notice was raised and
// how the lander ended, in words and in the JSON report; nothing speaks of a
// vessel stopped in the ground.
TEST_F(CrashOutputs, TheReportSaysTheNoticeWasRaisedAndHowTheVesselEnded) {
    const std::string root = std::string(" --root ") + VTAL_SIM_ROOT + " ";
    clitest::Ran r = Run(root + DataFile("host_crash_3000.scn") + " --report r.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json report = Json::parse(clitest::ReadAll(In("r.json")));
    EXPECT_NEAR(report["crash_notice_at"].get<double>(), 29.38, 0.05);
    const Json &lander = report["vessels"][0];
    EXPECT_FALSE(lander.contains("stopped_in_ground_at"));
    EXPECT_EQ(lander["ended"], "at rest on the surface");
    const double tilt = lander["final"]["tilt_deg"].get<double>();
    EXPECT_TRUE(tilt < 2.0 || tilt > 178.0) << tilt;
    const std::string posture = tilt < 90.0 ? "upright" : "upside down";
    EXPECT_NE(r.out.find("    crash notice at t = 29.38 s; ended at rest on the surface, " + posture + " (tilt "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  outcome (Lander): crash\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("into the ground"), std::string::npos) << r.out;

    // Stopped while it is off the ground again after the impact, tumbling:
    // in flight, and its saved state (rates and all) reads back.
    r = Run(root + DataFile("host_crash_3000.scn") + " --until 35 --report r.json --save s.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json midway = Json::parse(clitest::ReadAll(In("r.json")));
    EXPECT_EQ(midway["vessels"][0]["ended"], "in flight");
    EXPECT_NE(r.out.find("crash notice at t = 29.38 s; ended in flight"), std::string::npos) << r.out;
    EXPECT_NE(clitest::ReadAll(In("s.scn")).find("  VROT "), std::string::npos);
    EXPECT_EQ(Run(root + "s.scn --until 1").status, 0);
}

// Whatever the impact speed, attitude and frame length, the run flies to
// its end (no vessel lost), and the telemetry, the report and the saved
// scenario hold numbers only. The fastest impacts are let through only as
// fast as the host's approach limit allows (0.1 m per sub-step: 60 m/s at
// 1/60 s, 10 m/s at 0.1 s, 1 m/s at 1 s).
struct ImpactCase {
    double speed, dt;
};

class ImpactOutputs : public clitest::CommandTest, public ::testing::WithParamInterface<ImpactCase> {};

TEST_P(ImpactOutputs, NoOutputHoldsANonNumber) {
    const ImpactCase c = GetParam();
    Start level, tumbling;
    level.alt = tumbling.alt = 30.0;
    level.vup = tumbling.vup = -c.speed;
    level.vside = 5.0;
    tumbling.pitch = 60.0;
    tumbling.bank = -35.0;
    tumbling.ratesDeg = Vec3(200.0, -300.0, 999.0);
    int run = 0;
    for (const Start &s : {level, tumbling}) {
        SCOPED_TRACE(run == 0 ? "level" : "tumbling");
        const std::string name = "impact" + std::to_string(run++);
        clitest::WriteAll(In(name + ".scn"), ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 1\n")));
        const clitest::Ran r = Run(std::string(" --root ") + VTAL_SIM_ROOT + " " + name + ".scn --until 25 --dt " +
                                   Exact(c.dt) + " --telemetry t.csv --report r.json --save s.scn");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("lost vessel"), std::string::npos) << r.err;
        for (const char *file : {"t.csv", "r.json", "s.scn"}) {
            const std::string text = clitest::ReadAll(In(file));
            ASSERT_FALSE(text.empty()) << file;
            EXPECT_FALSE(HasNonNumberWord(text)) << file;
        }
        const Json report = Json::parse(clitest::ReadAll(In("r.json")));
        EXPECT_TRUE(report["vessels"][0]["touchdown"].is_object());
        EXPECT_TRUE(report["vessels"][0]["final"]["tilt_deg"].is_number());
    }
}

std::string ImpactName(const ::testing::TestParamInfo<ImpactCase> &info) {
    const ImpactCase c = info.param;
    const std::string frame = c.dt == 1.0 ? "1s" : c.dt == 0.1 ? "100ms" : "60Hz";
    return "At" + std::to_string(static_cast<int>(c.speed)) + "mps" + frame;
}

INSTANTIATE_TEST_SUITE_P(SpeedsAndFrames, ImpactOutputs,
                         ::testing::Values(ImpactCase{30, 1.0 / 60.0}, ImpactCase{60, 1.0 / 60.0},
                                           ImpactCase{90, 1.0 / 60.0}, ImpactCase{200, 1.0 / 60.0},
                                           ImpactCase{1000, 1.0 / 60.0}, ImpactCase{30, 0.1}, ImpactCase{200, 0.1},
                                           ImpactCase{1000, 0.1}, ImpactCase{30, 1.0}, ImpactCase{1000, 1.0}),
                         ImpactName);

}  // namespace
}  // namespace vtal::simtest
