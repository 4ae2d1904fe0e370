// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include "GuidanceTestSupport.h"

namespace vtal::testing {
namespace {

using Strings = std::vector<std::string>;
using SupervisorTest = GuidanceTest;

void Frame(Lander &l) { l.clbkPreStep(0.0, 0.02, 51000.0); }

TEST_F(SupervisorTest, FirstFrameOrderWithOverrideOnReadsAltitudeThreeTimes) {
    moduleState.manualOverride = 1;
    Flight().altitude = 500.0;
    Frame(*lander);
    EXPECT_EQ(rec.names(), (Strings{"GetAltitude", "SetAnimation", "GetAltitude", "GetAltitude", "GroundContact",
                                    "GroundContact", "SetPropellantMass", "SetThrusterLevel"}));
    EXPECT_EQ(rec.calls[6].ptr(0), lander->phLidar);
    EXPECT_EQ(rec.calls[6].num(1), 1.0);
}

TEST_F(SupervisorTest, LegsAreForcedOutOnlyOnTheFirstFrameOfTheFirstLander) {
    lander->legsStatus = MECH_RETRACTED;  // as a scenario might load them
    Flight().altitude = 2000.0;
    Frame(*lander);
    EXPECT_EQ(lander->legsStatus, MECH_DEPLOYED);
    EXPECT_EQ(lander->legsPos, 1.0);
    ASSERT_EQ(rec.count("SetAnimation"), 1u);
    EXPECT_EQ(rec.callsNamed("SetAnimation")[0].integer(0), lander->animLegs);
    EXPECT_EQ(rec.callsNamed("SetAnimation")[0].num(1), 1.0);
    auto second = MakeLander(2);
    Frame(*lander);
    Frame(*second);
    EXPECT_EQ(rec.count("SetAnimation"), 0u);
    EXPECT_EQ(second->legsStatus, MECH_RETRACTED);
}

TEST_F(SupervisorTest, DustStreamsAppearOnceBelowFiveMetresForTheFirstLanderOnly) {
    auto dustTextures = [&] {
        std::size_t n = 0;
        for (const auto &c : rec.callsNamed("oapiRegisterExhaustTexture")) n += c.text(0) == "K_VTA/vtal_dust";
        return n;
    };
    moduleState.manualOverride = 1;
    Flight().altitude = 5.0;
    Frame(*lander);
    EXPECT_EQ(rec.count("AddExhaustStream"), 0u);
    Flight().altitude = 4.99;
    Frame(*lander);
    Frame(*lander);
    EXPECT_EQ(rec.count("AddExhaustStream"), 3u);
    EXPECT_EQ(dustTextures(), 1u);
    auto second = MakeLander(2);
    Flight(*second).altitude = 0.0;
    Frame(*second);
    EXPECT_EQ(rec.count("AddExhaustStream"), 0u);
    EXPECT_EQ(dustTextures(), 0u);
}

TEST_F(SupervisorTest, DescentFliesBelow940MetresUnlessTheOverrideIsOn) {
    const struct {
        double altitude;
        int override_;
        bool flies;
    } cases[] = {{940.0, 0, false}, {939.99, 0, true}, {100.0, 0, true}, {100.0, 1, false}, {100.0, -3, false}};
    for (const auto &c : cases) {
        rec.clear();
        moduleState.manualOverride = c.override_;
        Descending(c.altitude, -8.0);
        Frame(*lander);
        EXPECT_EQ(rec.count("GetWeightVector") > 0, c.flies) << c.altitude << " " << c.override_;
        EXPECT_EQ(Commands() == Strings{Level("lidar", 0)}, !c.flies) << c.altitude << " " << c.override_;
    }
}

TEST_F(SupervisorTest, CrashIsLowOrTouchingAndFasterThanTenMetresPerSecond) {
    const struct {
        double altitude, airspeed;
        bool contact, crash;
        Strings step5;  // host calls of the crash test, up to the notice
    } cases[] = {
        {1.0, 20.0, false, false, {"GetAltitude", "GroundContact"}},
        {0.99, 20.0, false, true, {"GetAltitude", "GetAirspeed", "oapiGetSimTime"}},
        {0.5, 10.0, false, false, {"GetAltitude", "GetAirspeed", "GroundContact"}},
        {0.5, 10.05, false, true, {"GetAltitude", "GetAirspeed", "oapiGetSimTime"}},
        {0.5, 10.000000000000002, false, true, {"GetAltitude", "GetAirspeed", "oapiGetSimTime"}},
        {50.0, 10.0, true, false, {"GetAltitude", "GroundContact", "GetAirspeed"}},
        {50.0, 10.5, true, true, {"GetAltitude", "GroundContact", "GetAirspeed", "oapiGetSimTime"}},
    };
    for (const auto &c : cases) {
        ResetModuleState();
        moduleState.legsPreset = 1;
        moduleState.dustCreated = 1;
        moduleState.manualOverride = 1;
        lander->crashNote = nullptr;
        rec.clear();
        Flight().altitude = c.altitude;
        Flight().airspeed = c.airspeed;
        Flight().groundContact = c.contact;
        Frame(*lander);
        EXPECT_EQ(rec.count("oapiCreateAnnotation"), c.crash ? 1u : 0u) << c.altitude << " " << c.airspeed;
        const Strings names = rec.names();  // after the dust and descent altitude checks
        EXPECT_EQ(Strings(names.begin() + 2, names.begin() + 2 + c.step5.size()), c.step5);
    }
}

TEST_F(SupervisorTest, CrashNoticeShowsForFiveSecondsAndIsDeletedOnceByItsOwnLander) {
    moduleState.manualOverride = 1;
    auto second = MakeLander(2);
    for (Lander *l : {lander.get(), second.get()}) {
        Flight(*l).altitude = 0.0;
        Flight(*l).airspeed = 15.0;
        Flight(*l).groundContact = true;
    }
    rec.simTime = 100.0;
    Frame(*lander);
    const auto created = rec.callsNamed("oapiCreateAnnotation");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].integer(0), 1);
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_EQ(created[0].num(i), (std::vector<double>{2.0, 1.0, 0.0, 0.0}[i - 1]));
    const void *note = created[0].ptr(5);
    EXPECT_EQ(lander->crashNote, note);
    const auto pos = rec.callsNamed("oapiAnnotationSetPos");
    ASSERT_EQ(pos.size(), 1u);
    EXPECT_EQ(pos[0].ptr(0), note);
    EXPECT_EQ((std::vector<double>{pos[0].num(1), pos[0].num(2), pos[0].num(3), pos[0].num(4)}),
              (std::vector<double>{0.3, 0.4, 0.8, 0.8}));
    const auto text = rec.callsNamed("oapiAnnotationSetText");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].text(1), "Crash! Impact > 10m/s");
    EXPECT_EQ(moduleState.crashTime, 100.0);

    const struct {
        double time;
        std::size_t deletes;
    } frames[] = {{102.0, 0}, {105.0, 0}, {105.02, 1}, {106.0, 0}, {200.0, 0}};
    for (const auto &f : frames) {
        rec.clear();
        rec.simTime = f.time;
        Frame(*second);
        Frame(*lander);
        EXPECT_EQ(rec.count("oapiDelAnnotation"), f.deletes) << f.time;
        if (f.deletes) {
            EXPECT_EQ(rec.callsNamed("oapiDelAnnotation")[0].ptr(0), note);
        }
        EXPECT_EQ(rec.count("oapiCreateAnnotation"), 0u) << f.time;
        EXPECT_EQ(lander->crashNote == nullptr, f.time > 105.0) << f.time;
        EXPECT_EQ(second->crashNote, nullptr);
    }
}

TEST_F(SupervisorTest, FeetStartDeployingOnContactOnlyFromRetracted) {
    const struct {
        int before;
        bool contact;
        int after;
    } cases[] = {{0, true, 3}, {1, true, 1}, {2, true, 2}, {3, true, 3}, {0, false, 0}};
    moduleState.manualOverride = 1;
    for (const auto &c : cases) {
        lander->feetStatus = c.before;
        Flight().altitude = 0.0;
        Flight().groundContact = c.contact;
        Frame(*lander);
        EXPECT_EQ(lander->feetStatus, c.after) << c.before << " " << c.contact;
    }
}

TEST_F(SupervisorTest, LidarBlinksEveryFrameAndWithTwoLandersOneStaysLitAndOneDark) {
    moduleState.manualOverride = 1;
    Flight().altitude = 2000.0;
    auto beam = [&](Lander &l) {
        rec.clear();
        Frame(l);
        return Commands(l).back();
    };
    moduleState.lidarOn = 1;
    EXPECT_EQ((Strings{beam(*lander), beam(*lander), beam(*lander), beam(*lander)}),
              (Strings{Level("lidar", 1), Level("lidar", 0), Level("lidar", 1), Level("lidar", 0)}));
    beam(*lander);  // phase left at 1
    moduleState.lidarOn = 0;
    EXPECT_EQ((Strings{beam(*lander), beam(*lander)}), (Strings{Level("lidar", 0), Level("lidar", 0)}));
    EXPECT_EQ(moduleState.lidarBlink, 1);
    moduleState.lidarOn = 1;
    EXPECT_EQ(beam(*lander), Level("lidar", 0));  // resumes from the phase it was left at

    auto second = MakeLander(2);
    Flight(*second).altitude = 2000.0;
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(beam(*lander), Level("lidar", 1)) << frame;
        EXPECT_EQ(beam(*second), Level("lidar", 0)) << frame;
    }
}

}  // namespace
}  // namespace vtal::testing
