// A live session driven by a test clock, with no browser and no server:
// pacing, the page's keys as the module receives them, focus and saving.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ProbeSupport.h"
#include "SimTestSupport.h"
#include "sim/live/LiveSession.h"
#include "sim/live/Pacer.h"

namespace vtal::simtest {
namespace {

using sim::live::Command;
using sim::live::LiveSession;
using sim::live::PageMessage;
using sim::live::Pacer;

constexpr double kFrame = 1.0 / 60.0;

struct SessionFixture {
    std::ostringstream sink;
    std::unique_ptr<LiveSession> session;
    std::vector<std::string> states, sent;

    SessionFixture(const std::string &text, const std::string &root, double warp = 1.0, bool paused = false,
                   bool precise = false, const std::string &savePath = "") {
        sim::live::SessionOptions o;
        o.run.root = root;
        o.run.scenario = "live-test.scn";
        o.run.scenarioText = text;
        o.run.quiet = true;
        o.run.precise = precise;
        o.run.out = &sink;
        o.run.err = &sink;
        o.warp = warp;
        o.paused = paused;
        o.savePath = savePath;
        session = std::make_unique<LiveSession>(o, 0.0);
        session->SetOutput({[this](std::string s) { states.push_back(std::move(s)); },
                            [this](std::string s) { sent.push_back(std::move(s)); }});
    }
    // Wakes the session `wakes` times, `interval` s of clock apart, from `from`.
    double Run(double from, int wakes, double interval) {
        double now = from;
        for (int i = 0; i < wakes; ++i) session->Advance(now += interval);
        return now;
    }
    sim::World &World() { return session->GetWorld(); }
};

PageMessage Key(int scanCode, bool down, bool shift = false, bool ctrl = false) {
    PageMessage m;
    m.kind = PageMessage::Kind::Key;
    m.scanCode = scanCode;
    m.down = down;
    m.shift = shift;
    m.ctrl = ctrl;
    return m;
}

std::string DescentText() { return ReadFile(std::string(Root()) + "/Scenarios/Lander/Descent.scn"); }

// ---- pacing against the clock

TEST(LivePacing, FramesFollowTheClockTimesTheWarp) {
    for (const double warp : {1.0, 10.0, 1000.0}) {
        Pacer pacer(kFrame, 0.0, warp);
        long frames = 0;
        for (int wake = 1; wake <= 60; ++wake) {
            const int due = pacer.FramesDue(wake * kFrame);
            pacer.FramesRun(due, wake * kFrame);
            frames += due;
        }
        EXPECT_EQ(frames, std::lround(60 * warp)) << "at " << warp << "x";
        EXPECT_NEAR(pacer.ReachedWarp(60 * kFrame + 1e-9), warp, warp * 0.02) << "at " << warp << "x";
    }
}

TEST(LivePacing, PausedRunsNothingAndResumesWithoutCatchingUp) {
    Pacer pacer(kFrame, 0.0, 1.0, true);
    EXPECT_EQ(pacer.FramesDue(5.0), 0);
    EXPECT_DOUBLE_EQ(pacer.ReachedWarp(5.0), 0.0);
    pacer.SetPaused(false, 5.0);
    EXPECT_EQ(pacer.FramesDue(5.0 + 0.5 * kFrame), 0);
    EXPECT_EQ(pacer.FramesDue(5.0 + 3 * kFrame + 1e-12), 3);
    pacer.FramesRun(3, 5.0 + 3 * kFrame);
    pacer.SetPaused(true, 5.0 + 3.5 * kFrame);
    EXPECT_EQ(pacer.FramesDue(100.0), 0);
}

TEST(LivePacing, AHostThatCannotKeepUpRunsABoundedWakeAndReportsTheWarpReached) {
    Pacer pacer(kFrame, 0.0, 1000.0);
    // A stall of 10 s of clock: 600,000 frames would be owed.
    const int due = pacer.FramesDue(10.0);
    EXPECT_EQ(due, sim::live::kMaxFramesPerWake);
    EXPECT_GT(pacer.GivenUp(), 9000.0);
    pacer.FramesRun(due, 10.0);
    // Over the next second the host runs only 3000 frames: 50x reached of 1000x.
    for (int i = 1; i <= 10; ++i) {
        pacer.FramesDue(10.0 + 0.1 * i);
        pacer.FramesRun(300, 10.0 + 0.1 * i);
    }
    EXPECT_NEAR(pacer.ReachedWarp(11.0), 50.0, 1e-9);
}

TEST(LivePacing, WarpStepsByTenWithinItsLimitsAndIgnoresNonNumbers) {
    Pacer pacer(kFrame, 0.0);
    pacer.WarpDown(0.0);
    EXPECT_DOUBLE_EQ(pacer.Warp(), 1.0);
    for (int i = 0; i < 5; ++i) pacer.WarpUp(0.0);
    EXPECT_DOUBLE_EQ(pacer.Warp(), 1000.0);
    pacer.SetWarp(std::nan(""), 0.0);
    EXPECT_DOUBLE_EQ(pacer.Warp(), 1000.0);
    pacer.WarpDown(0.0);
    EXPECT_DOUBLE_EQ(pacer.Warp(), 100.0);
}

TEST(LiveSession, RunsTheWorldAtTheClocksPaceAndPublishesAStatePerWake) {
    SessionFixture f(DescentText(), Root());
    f.Run(0.0, 60, kFrame);
    EXPECT_EQ(f.World().Frame(), 60);
    EXPECT_EQ(f.states.size(), 60u);
    f.session->Apply(Command::WarpUp, 1.0);
    f.Run(1.0, 6, 10 * kFrame);
    EXPECT_EQ(f.World().Frame(), 60 + 600);
    f.session->Apply(Command::Pause, 2.0);
    f.Run(2.0, 30, kFrame);
    EXPECT_EQ(f.World().Frame(), 660);
    EXPECT_NE(f.states.back().find("\"paused\":true"), std::string::npos);
}

TEST(LiveSession, StartsPausedOrAtTheWarpAsked) {
    SessionFixture paused(DescentText(), Root(), 1.0, true);
    paused.Run(0.0, 10, kFrame);
    EXPECT_EQ(paused.World().Frame(), 0);
}

// ---- the page's keys as the module gets them

struct KeySeen {
    DWORD key;
    bool down;
    bool shift, ctrl;
};

class LiveKeys : public ::testing::Test {
protected:
    ProbeModule probe;
    std::vector<KeySeen> buffered;
    std::vector<std::array<bool, 3>> direct;  // per frame: M, LShift and LControl held

    void SetUp() override {
        probe.Hooks().bufferedKey = [this](VESSEL2 &, DWORD key, bool down, char *kstate) {
            buffered.push_back({key, down, (kstate[OAPI_KEY_LSHIFT] & 0x80) != 0,
                                (kstate[OAPI_KEY_LCONTROL] & 0x80) != 0});
            return 1;  // consumed: the host's own bindings stay out of it
        };
        probe.Hooks().directKey = [this](VESSEL2 &, char *kstate) {
            direct.push_back({(kstate[OAPI_KEY_M] & 0x80) != 0, (kstate[OAPI_KEY_LSHIFT] & 0x80) != 0,
                              (kstate[OAPI_KEY_LCONTROL] & 0x80) != 0});
            return 0;
        };
    }
    std::string Text() { return ScenarioWith(ProbeBlock(FlyingLines(Start{})), "Probe"); }
};

TEST_F(LiveKeys, APressAndReleaseBetweenTwoFramesIsStillAPress) {
    SessionFixture f(Text(), VTAL_PROBE_ROOT);
    f.Run(0.0, 1, kFrame);
    direct.clear();
    f.session->OnMessage(1, Key(OAPI_KEY_M, true));
    f.session->OnMessage(1, Key(OAPI_KEY_M, false));
    f.Run(kFrame, 2, kFrame);
    ASSERT_EQ(buffered.size(), 2u);
    EXPECT_EQ(buffered[0].key, static_cast<DWORD>(OAPI_KEY_M));
    EXPECT_TRUE(buffered[0].down);
    EXPECT_FALSE(buffered[1].down);
    ASSERT_EQ(direct.size(), 2u);
    EXPECT_TRUE(direct[0][0]) << "held in the frame of its press";
    EXPECT_FALSE(direct[1][0]) << "up in the next";
}

TEST_F(LiveKeys, ShiftAndCtrlArriveWithTheirKeysAndComeBackUpWithThem) {
    SessionFixture f(Text(), VTAL_PROBE_ROOT);
    f.session->OnMessage(1, Key(OAPI_KEY_B, true, true, false));
    f.Run(0.0, 1, kFrame);
    // The page lets go of Shift first: the key's up still carries it.
    f.session->OnMessage(1, Key(OAPI_KEY_B, false, false, false));
    f.session->OnMessage(1, Key(OAPI_KEY_V, true, false, true));
    f.Run(kFrame, 1, kFrame);
    f.session->OnMessage(1, Key(OAPI_KEY_V, false, false, true));
    f.Run(2 * kFrame, 2, kFrame);
    ASSERT_EQ(buffered.size(), 4u);
    EXPECT_TRUE(buffered[0].shift);
    EXPECT_FALSE(buffered[0].ctrl);
    EXPECT_TRUE(buffered[2].ctrl);
    EXPECT_FALSE(buffered[2].shift) << "Shift went up with B";
    ASSERT_FALSE(direct.empty());
    EXPECT_FALSE(direct.back()[1]);
    EXPECT_FALSE(direct.back()[2]);
}

TEST_F(LiveKeys, RepeatedDownsAreOneKeyAndADisconnectReleasesWhatThePageHeld) {
    SessionFixture f(Text(), VTAL_PROBE_ROOT);
    f.session->OnMessage(7, Key(OAPI_KEY_M, true));
    f.session->OnMessage(7, Key(OAPI_KEY_M, true));
    f.session->OnMessage(7, Key(OAPI_KEY_NUMPAD8, true, false, true));
    f.Run(0.0, 3, kFrame);
    EXPECT_TRUE(direct.back()[0]);
    f.session->OnDisconnect(7);
    f.Run(3 * kFrame, 2, kFrame);
    EXPECT_FALSE(direct.back()[0]);
    EXPECT_FALSE(direct.back()[2]) << "Ctrl held with keypad 8 goes up with it";
    int downs = 0, ups = 0;
    for (const KeySeen &k : buffered) (k.down ? downs : ups)++;
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 2);
    // An up for a key the page does not hold changes nothing.
    f.session->OnMessage(7, Key(OAPI_KEY_K, false));
    f.Run(5 * kFrame, 1, kFrame);
    EXPECT_EQ(buffered.size(), 4u);
}

TEST(LiveSessionKeys, TAndRStepTheWarpWhenTheModuleLeavesThem) {
    // The lander consumes neither T nor R: the host's session keys act.
    SessionFixture f(DescentText(), Root());
    f.session->OnMessage(1, Key(OAPI_KEY_T, true));
    f.session->OnMessage(1, Key(OAPI_KEY_T, false));
    f.Run(0.0, 2, kFrame);
    EXPECT_DOUBLE_EQ(f.session->Pacing().Warp(), 10.0);
    f.session->OnMessage(1, Key(OAPI_KEY_R, true, true));  // with Shift: not the host's key
    f.session->OnMessage(1, Key(OAPI_KEY_R, false));
    f.Run(1.0, 1, kFrame);
    EXPECT_DOUBLE_EQ(f.session->Pacing().Warp(), 10.0);
    f.session->OnMessage(1, Key(OAPI_KEY_R, true));
    f.session->OnMessage(1, Key(OAPI_KEY_R, false));
    f.Run(2.0, 1, kFrame);
    EXPECT_DOUBLE_EQ(f.session->Pacing().Warp(), 1.0);
}

TEST(LiveSessionKeys, AManualOverrideKeyReachesTheLanderAsFromAScript) {
    SessionFixture f(DescentText(), Root());
    sim::Vessel &lander = *f.World().Focus();
    ASSERT_EQ(ModuleValue(f.World(), lander, "MANUAL"), std::vector<double>{0});
    f.session->OnMessage(1, Key(OAPI_KEY_M, true));
    f.session->OnMessage(1, Key(OAPI_KEY_M, false));
    f.Run(0.0, 2, kFrame);
    EXPECT_EQ(ModuleValue(f.World(), lander, "MANUAL"), std::vector<double>{1});
}

// ---- focus

TEST(LiveFocus, TheNextVesselTakesTheKeysAndTheLegend) {
    ProbeModule probe;
    std::vector<std::string> keyedBy;
    probe.Hooks().bufferedKey = [&](VESSEL2 &v, DWORD, bool down, char *) {
        if (down) keyedBy.push_back(sim::VesselOf(v.GetHandle())->name);
        return 1;
    };
    const std::string text = ScenarioWith(ProbeBlock(FlyingLines(Start{}), "One") +
                                              ProbeBlock(FlyingLines(Start{2000.0}), "Two"),
                                          "One");
    SessionFixture f(text, VTAL_PROBE_ROOT);
    f.session->OnMessage(1, Key(OAPI_KEY_K, true));
    f.session->OnMessage(1, Key(OAPI_KEY_K, false));
    f.Run(0.0, 2, kFrame);
    f.session->Apply(Command::FocusNext, 2 * kFrame);
    EXPECT_EQ(f.World().Focus()->name, "Two");
    EXPECT_NE(f.states.back().find("\"focus\":1"), std::string::npos);
    f.session->OnMessage(1, Key(OAPI_KEY_K, true));
    f.session->OnMessage(1, Key(OAPI_KEY_K, false));
    f.Run(2 * kFrame, 2, kFrame);
    EXPECT_EQ(keyedBy, (std::vector<std::string>{"One", "Two"}));
    f.session->Apply(Command::FocusNext, 1.0);
    EXPECT_EQ(f.World().Focus()->name, "One");
}

// ---- saving

TEST(LiveSave, AMidFlightSaveReadsBackToTheSameStateBitForBit) {
    const std::string path = TempPath("live-save.scn");
    SessionFixture f(DescentText(), Root(), 1.0, false, true, path);
    f.Run(0.0, 90, kFrame);
    f.session->Apply(Command::Save, 2.0);
    ASSERT_FALSE(f.sent.empty());
    EXPECT_NE(f.sent.back().find("\"ok\":true"), std::string::npos) << f.sent.back();
    const sim::Kinematics flownMotion = f.World().Focus()->motion;
    const double flownTank = f.World().Focus()->actuators.tanks[0]->mass;
    const double flownMjd = f.World().Mjd();
    f.session.reset();  // one world at a time
    const std::string saved = ReadFile(path);
    const auto again = sim::MakeWorld(sim::ParseScenarioText(saved, path), sim::Installation(Root()), [] {
        sim::WorldOptions o;
        o.preciseSave = true;
        return o;
    }());
    const sim::Vessel &read = *again->Focus();
    EXPECT_EQ(read.motion.positionGlobal, flownMotion.positionGlobal);
    EXPECT_EQ(read.motion.velocityGlobal, flownMotion.velocityGlobal);
    EXPECT_EQ(read.motion.bodyRates, flownMotion.bodyRates);
    EXPECT_LT(read.motion.attitude.angularDistance(flownMotion.attitude), 1e-14);
    EXPECT_EQ(read.actuators.tanks[0]->mass, flownTank);
    EXPECT_EQ(again->Mjd(), flownMjd);
    // Saved again at once, the state reads the same text.
    EXPECT_EQ(again->SaveScenario(true), saved);
    std::remove(path.c_str());
}

TEST(LiveSave, WithoutASavePathItWritesANewFileAndNeverTheScenarioFlown) {
    const std::string scenario = TempPath("flown.scn");
    { std::ofstream(scenario) << DescentText(); }
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path("/tmp");
    sim::live::SessionOptions o;
    std::ostringstream sink;
    o.run.root = Root();
    o.run.scenario = scenario;
    o.run.quiet = true;
    o.run.out = o.run.err = &sink;
    LiveSession session(o, 0.0);
    const std::string first = session.Save(), second = session.Save();
    std::filesystem::current_path(cwd);
    EXPECT_NE(first, second);
    EXPECT_NE(std::filesystem::absolute("/tmp/" + first), std::filesystem::absolute(scenario));
    EXPECT_EQ(ReadFile(scenario), DescentText()) << "the scenario flown is untouched";
    EXPECT_NO_THROW(sim::ParseScenarioText(ReadFile("/tmp/" + first), first));
    std::remove(scenario.c_str());
    std::remove(("/tmp/" + first).c_str());
    std::remove(("/tmp/" + second).c_str());
}

}  // namespace
}  // namespace vtal::simtest
