// The lander module loaded and flown by the host, end to end: the default
// descent, the keys on the ground, the manual override, saving and
// reloading, two landers, and the propellant transfer at creation.
#include <gtest/gtest.h>

#include <sstream>

#include "SimTestSupport.h"
#include "sim/run/Flight.h"

namespace vtal::simtest {
namespace {

using sim::Vessel;

std::string ShippedScenario(const std::string &name) { return std::string(Root()) + "/Scenarios/Lander/" + name; }

sim::RunOptions Quiet(const std::string &scenario = "") {
    sim::RunOptions o;
    o.root = Root();
    o.scenario = scenario;
    o.quiet = true;
    static std::ostringstream sink;
    o.err = &sink;
    return o;
}

bool HasCrashNotice(const sim::RunResult &r) {
    for (const auto &a : r.annotations)
        if (a.text == "Crash! Impact > 10m/s") return true;
    return false;
}

TEST(DefaultDescent, LandsSoftlyWithEnginesCutAndLegsAndFeetOut) {
    sim::RunOptions o = Quiet();
    double firstFrameLegs = -1.0, contactTime = -1.0, feetOutTime = -1.0;
    double largestLevelAfterCutoff = 0.0;
    o.onFrame = [&](sim::World &w) {
        Vessel &v = *w.Focus();
        if (w.Frame() == 1) firstFrameLegs = ModuleValue(w, v, "LEGS").at(1);
        if (v.contact.groundContact && contactTime < 0.0) contactTime = w.SimTime();
        if (contactTime >= 0.0 && feetOutTime < 0.0 && ModuleValue(w, v, "FEET").at(1) >= 1.0) feetOutTime = w.SimTime();
        if (contactTime >= 0.0 && w.SimTime() > contactTime + 0.5)
            for (const auto &t : v.actuators.thrusters) largestLevelAfterCutoff = std::max(largestLevelAfterCutoff, t->effective);
    };
    const sim::RunResult r = sim::Fly(o);
    ASSERT_EQ(r.vessels.size(), 1u);
    const auto &td = r.vessels[0].touchdown;
    ASSERT_TRUE(td.happened);
    EXPECT_FALSE(HasCrashNotice(r));
    EXPECT_GE(td.verticalSpeed, -2.5);
    EXPECT_LT(td.horizontalSpeed, 0.5);
    EXPECT_LE(std::fabs(td.pitchDeg), 5.0);
    EXPECT_LE(std::fabs(td.bankDeg), 5.0);
    EXPECT_TRUE(r.vessels[0].groundContact);
    EXPECT_DOUBLE_EQ(firstFrameLegs, 1.0);
    ASSERT_GE(feetOutTime, 0.0);
    EXPECT_LE(feetOutTime - contactTime, 0.2);
    EXPECT_EQ(largestLevelAfterCutoff, 0.0);
    EXPECT_LT(r.endTime, 600.0);  // stopped after resting, not at the limit
}

TEST(Keys, OnTheGroundPanelsDeckCameraAndArmMoveAndTheLegendFollows) {
    // K and G at 1 s; C at 6 s (deck out); V held 7-9 s; N held 7-8 s, then shift+N 8.5-9 s.
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")),
                       "1:K,1:G,6:C,7-9:V,7-8:N,9.2-9.4:shift+N");
    Vessel &v = *w->Focus();
    w->PaintHud();
    const auto legendHas = [&](const std::string &text) {
        for (const auto &run : w->Canvas().runs)
            if (run.text == text) return true;
        return false;
    };
    EXPECT_TRUE(legendHas("K = Deploy Solar Panels"));
    EXPECT_TRUE(legendHas("G = Deploy MET Antenna, Arm, Camera, Lidar"));
    RunFor(*w, 5.5);  // deck: 4 s from 1 s
    EXPECT_EQ(ModuleValue(*w, v, "COV"), (std::vector<double>{1, 1}));
    EXPECT_NEAR(ModuleValue(*w, v, "SOLP").at(1), 0.45, 0.02);
    w->PaintHud();
    EXPECT_TRUE(legendHas("C = Rotate Camera"));
    EXPECT_FALSE(legendHas("K = Deploy Solar Panels"));
    RunFor(*w, 4.0);  // t = 9.5 s
    EXPECT_EQ(ModuleValue(*w, v, "CAMERA").at(0), 1.0);
    EXPECT_NEAR(ModuleValue(*w, v, "CAMERA").at(1), 0.025 * 3.5, 0.002);
    EXPECT_NEAR(ModuleValue(*w, v, "ARMROT").at(0), 0.7 + 0.1 * 2.0, 0.003);
    EXPECT_NEAR(ModuleValue(*w, v, "ARMELB").at(0), 0.1 - 0.02, 0.003);
    RunFor(*w, 2.0);  // t = 11.5 s: panels out after 10 s
    EXPECT_EQ(ModuleValue(*w, v, "SOLP"), (std::vector<double>{1, 1}));
}

TEST(Keys, PanelsAndDeckStayStowedInFlight) {
    Start s;
    s.alt = 3000.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 0\n")), "1:K,1:G");
    RunFor(*w, 3.0);
    EXPECT_EQ(ModuleValue(*w, *w->Focus(), "SOLP"), (std::vector<double>{0, 0}));
    EXPECT_EQ(ModuleValue(*w, *w->Focus(), "COV"), (std::vector<double>{0, 0}));
}

TEST(Keys, NavigationKeysReachTheHostOnlyUnderManualOverride) {
    Start s;
    s.alt = 3000.0;
    auto automatic = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 0\n")), "0.5:L,0.6-1:num8");
    RunFor(*automatic, 1.0);
    EXPECT_FALSE(automatic->Focus()->NavmodeOn(NAVMODE_HLEVEL));
    EXPECT_NEAR(automatic->Focus()->motion.bodyRates.x(), 0.0, 1e-12);  // held keypad 8 was taken back
    automatic.reset();
    auto manual = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s), "  MANUAL 1\n")), "0.5:L,0.6-1:num8");
    RunFor(*manual, 1.0);
    EXPECT_TRUE(manual->Focus()->NavmodeOn(NAVMODE_HLEVEL));
}

class ManualOverride : public ::testing::TestWithParam<bool> {};

TEST_P(ManualOverride, TheLanderFallsAndTheCrashNoticeShowsForFiveSeconds) {
    const bool byKey = GetParam();
    sim::RunOptions o = Quiet();
    if (byKey) {
        o.keys = "0.5:M";
    } else {
        std::string text = ReadFile(ShippedScenario("Descent.scn"));
        text.replace(text.find("MANUAL 0"), 8, "MANUAL 1");
        o.scenarioText = text;
    }
    o.until = 60.0;
    double largestLevel = 0.0;
    o.onFrame = [&](sim::World &w) {
        for (const auto &t : w.Focus()->actuators.thrusters) largestLevel = std::max(largestLevel, t->effective);
    };
    const sim::RunResult r = sim::Fly(o);
    EXPECT_EQ(largestLevel, 0.0);
    ASSERT_TRUE(r.vessels[0].touchdown.happened);
    EXPECT_LT(r.vessels[0].touchdown.verticalSpeed, -10.0);
    ASSERT_EQ(r.annotations.size(), 1u);
    const auto &note = r.annotations[0];
    EXPECT_EQ(note.text, "Crash! Impact > 10m/s");
    EXPECT_NEAR(note.createdAt, r.vessels[0].touchdown.time, 1.0);
    ASSERT_TRUE(note.deleted);
    EXPECT_GT(note.deletedAt - note.createdAt, 5.0);
    EXPECT_LE(note.deletedAt - note.createdAt, 5.0 + 1.5 / 60.0);
}

INSTANTIATE_TEST_SUITE_P(ByKeyOrScenario, ManualOverride, ::testing::Values(true, false));

TEST(SaveAndReload, MidDescentTheTrajectoryContinues) {
    const std::string saved = TempPath("mid.scn");
    sim::RunOptions first = Quiet();
    first.until = 45.0;
    first.savePath = saved;
    first.precise = true;
    Vec3 posAt50 = Vec3::Zero();
    first.onFrame = [&](sim::World &) {};
    sim::Fly(first);
    // The same flight without the break, to 50 s.
    sim::RunOptions whole = Quiet();
    whole.until = 50.0;
    whole.onFrame = [&](sim::World &w) {
        if (w.Frame() == 3000) posAt50 = w.Focus()->motion.positionGlobal;
    };
    sim::Fly(whole);
    sim::RunOptions second = Quiet(saved);
    second.until = 5.0;
    Vec3 posResumed = Vec3::Zero();
    second.onFrame = [&](sim::World &w) {
        if (w.Frame() == 300) posResumed = w.Focus()->motion.positionGlobal;
    };
    const sim::RunResult r = sim::Fly(second);
    EXPECT_LT((posResumed - posAt50).norm(), 0.01);
    EXPECT_EQ(r.vessels[0].moduleValues.size(), 9u);
    std::remove(saved.c_str());
}

TEST(SaveAndReload, OnTheGroundStatusesAndPositionStay) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")), "1:K,1:G");
    RunFor(*w, 3.0);
    const std::string saved = w->SaveScenario();
    const Vec3 pos = w->Focus()->motion.positionGlobal;
    const std::vector<double> solar = ModuleValue(*w, *w->Focus(), "SOLP");
    const double mjd = w->Mjd();
    w.reset();
    EXPECT_NE(saved.find("STATUS Landed Moon"), std::string::npos);
    auto again = MakeWorld(saved);
    Vessel &v = *again->Focus();
    EXPECT_DOUBLE_EQ(again->Mjd(), mjd);  // the date goes on, and with it the Moon's turn
    EXPECT_LT((v.motion.positionGlobal - pos).norm(), 1e-3);
    EXPECT_EQ(ModuleValue(*again, v, "SOLP").at(0), 3.0);
    EXPECT_NEAR(ModuleValue(*again, v, "SOLP").at(1), solar.at(1), 1e-4);
    RunFor(*again, 9.0);  // the panels carry on opening
    EXPECT_EQ(ModuleValue(*again, v, "SOLP"), (std::vector<double>{1, 1}));
    // Still where it stood on the turning Moon.
    const auto bodyFixed = [&](const Vec3 &p, double date) { return Vec3(again->Body().Orientation(date).transpose() * p); };
    EXPECT_LT((bodyFixed(v.motion.positionGlobal, again->Mjd()) - bodyFixed(pos, mjd)).norm(), 1e-3);
}

TEST(TwoLanders, BothBlocksCarryTheSharedSwitches) {
    sim::RunOptions o = Quiet(ShippedScenario("TwoLanders.scn"));
    o.until = 2.0;
    o.keys = "1:M";
    o.savePath = TempPath("two.scn");
    const sim::RunResult r = sim::Fly(o);
    ASSERT_EQ(r.vessels.size(), 2u);
    const std::string saved = ReadFile(o.savePath);
    std::remove(o.savePath.c_str());
    const auto count = [&](const std::string &needle) {
        std::size_t n = 0;
        for (std::size_t at = saved.find(needle); at != std::string::npos; at = saved.find(needle, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("MANUAL 1\n"), 2u);
    // The block read last (camera turning) set the camera switch for both.
    EXPECT_EQ(count("CAMERA 1 "), 2u);
    EXPECT_EQ(count("CAMERA 0 "), 0u);
}

TEST(PropellantTransfer, LanderInsideADepotTakesItsFuelMass) {
    sim::RunOptions o = Quiet(ShippedScenario("FuelDepot.scn"));
    o.until = 0.5;
    const sim::RunResult r = sim::Fly(o);
    ASSERT_EQ(r.vessels.size(), 2u);
    EXPECT_EQ(r.vessels[0].name, "Depot");
    EXPECT_NEAR(r.vessels[0].propellantKg.at(0), 40.0, 1e-9);
    EXPECT_NEAR(r.vessels[1].propellantKg.at(0), 40.0, 1e-9);
}

TEST(Loading, EveryRunStartsFromAFreshModule) {
    // The crash notice is shown once per loading of the module: a second run crashes anew and shows it again.
    for (int run = 0; run < 2; ++run) {
        sim::RunOptions o = Quiet();
        o.keys = "0.5:M";
        o.until = 40.0;
        EXPECT_TRUE(HasCrashNotice(sim::Fly(o))) << "run " << run;
    }
}

}  // namespace
}  // namespace vtal::simtest
