// What the host shows a module in one frame, seen from inside the probe
// vessel's callbacks: the times, which state the post-step sees, the
// setters' rules, the keyboard's order and the pointing modes' overrides.
#include <gtest/gtest.h>

#include <vector>

#include "ProbeSupport.h"
#include "sim/vessel/Actuation.h"

namespace vtal::simtest {
namespace {

using sim::Vessel;

constexpr double kDt = 1.0 / 60.0;

Start HighUp() {
    Start s;
    s.alt = 5000.0;
    return s;
}

VECTOR3 AngularVel(const VESSEL &v) {
    VECTOR3 w;
    v.GetAngularVel(w);
    return w;
}

// ----- times and the state a callback sees

TEST(HostFrame, PreStepAndPostStepTimesAndTheSimulationClock) {
    ProbeModule probe;
    struct Seen {
        double simt, simdt, mjd, clock;
    };
    std::vector<Seen> pre, post;
    probe.Hooks().preStep = [&](VESSEL2 &, double t, double dt, double mjd) { pre.push_back({t, dt, mjd, oapiGetSimTime()}); };
    probe.Hooks().postStep = [&](VESSEL2 &, double t, double dt, double mjd) { post.push_back({t, dt, mjd, oapiGetSimTime()}); };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"));
    RunFor(*w, 3 * kDt);
    ASSERT_EQ(pre.size(), 3u);
    ASSERT_EQ(post.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const double t0 = i * kDt, t1 = (i + 1) * kDt;
        EXPECT_DOUBLE_EQ(pre[i].simt, t0);
        EXPECT_DOUBLE_EQ(pre[i].clock, t0);
        EXPECT_DOUBLE_EQ(post[i].simt, t1);
        EXPECT_DOUBLE_EQ(post[i].clock, t0);  // the clock moves on only after the post-steps
        EXPECT_DOUBLE_EQ(pre[i].simdt, kDt);
        EXPECT_DOUBLE_EQ(pre[i].mjd, kTestMjd + t0 / 86400.0);
        EXPECT_DOUBLE_EQ(post[i].mjd, kTestMjd + t1 / 86400.0);
    }
    EXPECT_DOUBLE_EQ(w->SimTime(), 3 * kDt);
}

TEST(HostFrame, PostStepSeesTheOldAngularVelocityAndPositionButTheNewAltitude) {
    ProbeModule probe;
    VECTOR3 preRate{}, postRate{}, prePos{}, postPos{}, postLocal{};
    double preAlt = 0.0, postAlt = 0.0;
    int frame = 0;
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        // A turn building up: the pitch-up pair at full level every step.
        v.SetThrusterLevel(probe.Hooks().thrusters.attitude[0][0], 1.0);
        v.SetThrusterLevel(probe.Hooks().thrusters.attitude[0][1], 1.0);
        preRate = AngularVel(v);
        preAlt = v.GetAltitude();
        oapiGetGlobalPos(v.GetHandle(), &prePos);
    };
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) {
        postRate = AngularVel(v);
        postAlt = v.GetAltitude();
        oapiGetGlobalPos(v.GetHandle(), &postPos);
        v.Local2Global(_V(0, 0, 0), postLocal);
        ++frame;
    };
    Start s = HighUp();
    s.vup = -30.0;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(s)), "Probe"));
    Vessel &v = *w->Focus();
    RunFor(*w, 10 * kDt);
    ASSERT_EQ(frame, 10);
    EXPECT_GT(v.motion.bodyRates.x(), 0.0);
    EXPECT_EQ(postRate.x, preRate.x);           // the rate before the step
    EXPECT_NE(v.motion.bodyRates.x(), postRate.x);         // ... which the step then changed
    EXPECT_DOUBLE_EQ(postAlt, sim::Altitude(v, w->Body()));  // the altitude after it
    EXPECT_NEAR(preAlt - postAlt, 30.0 * kDt, 0.01);
    EXPECT_EQ(postPos.x, prePos.x);
    EXPECT_EQ(postLocal.z, prePos.z);
}

TEST(HostFrame, WeightIsTheBodysGravityAtThePoseBeforeTheStep) {
    ProbeModule probe;
    VECTOR3 weight{};
    VECTOR3 pos{};
    double mass = 0.0;
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) {
        v.GetWeightVector(weight);
        oapiGetGlobalPos(v.GetHandle(), &pos);
        mass = v.GetMass();
    };
    Start s = HighUp();
    s.pitch = 20.0;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(s)), "Probe"));
    w->Step();
    const double r = std::sqrt(pos.x * pos.x + pos.y * pos.y + pos.z * pos.z);
    const double g = w->Body().gm / (r * r);
    EXPECT_NEAR(std::sqrt(weight.x * weight.x + weight.y * weight.y + weight.z * weight.z), g * mass, 1e-9 * g * mass);
    // Pitched 20 degrees nose up, the weight has a backward component.
    EXPECT_NEAR(weight.z, -g * mass * std::sin(20.0 * sim::kRadPerDeg), 1e-6);
}

TEST(TurningMoon, AVesselAtRestInTheGlobalFrameReadsTheSurfaceSpeedAsWestwardAirspeed) {
    ProbeModule probe;
    VECTOR3 horizon{}, ship{};
    double airspeed = 0.0;
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        v.GetHorizonAirspeedVector(horizon);
        v.GetShipAirspeedVector(ship);
        airspeed = v.GetAirspeed();
    };
    Start s = HighUp();
    s.alt = 0.0;  // at the mean radius, over the equator
    s.lat = 0.0;
    s.heading = 90.0;
    std::string lines = FlyingLines(s);
    // The same start with no velocity at all in the global frame.
    const auto rvel = lines.find("  RVEL");
    lines.replace(rvel, lines.find('\n', rvel) - rvel, "  RVEL 0 0 0");
    s.alt = 100.0;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(lines), "Probe"));
    w->Step();
    const double surfaceSpeed = 2.0 * sim::kPi / 2360588.15 * 1738000.0;
    EXPECT_NEAR(surfaceSpeed, 4.626, 0.001);
    EXPECT_NEAR(horizon.x, -surfaceSpeed, 1e-3);  // east component: westward
    EXPECT_NEAR(horizon.z, 0.0, 1e-6);
    EXPECT_NEAR(airspeed, surfaceSpeed, 1e-3);
    EXPECT_NEAR(ship.z, -surfaceSpeed, 1e-3);  // nose east: the air comes from ahead
}

// ----- the setters

TEST(HostSetters, ThrusterLevelsAreKeptAsGivenAndGroupLevelsClamped) {
    ProbeModule probe;
    double afterSet = -1.0, groupAfterSet = -1.0;
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        v.SetThrusterLevel(probe.Hooks().thrusters.main, 2.0);
        afterSet = v.GetThrusterGroupLevel(THGROUP_MAIN);  // the actual level, capped at 1
        v.SetThrusterGroupLevel(THGROUP_RETRO, 0.3);
        groupAfterSet = v.GetThrusterGroupLevel(THGROUP_RETRO);  // set earlier in the same frame
        v.SetThrusterGroupLevel(THGROUP_ATT_PITCHUP, 1.7);
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"));
    w->Step();
    Vessel &v = *w->Focus();
    EXPECT_DOUBLE_EQ(afterSet, 1.0);
    EXPECT_DOUBLE_EQ(groupAfterSet, 0.3);
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->level, 2.0);
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->effective, 1.0);
    EXPECT_DOUBLE_EQ(v.Group(THGROUP_ATT_PITCHUP)->members[0]->level, 1.0);
    const std::string saved = w->SaveScenario();
    EXPECT_NE(saved.find("THLEVEL 0:2.000000 1:0.300000 2:1.000000 3:1.000000"), std::string::npos) << saved;
}

TEST(HostSetters, AnEmptyTankStopsItsThrustersForGoodButTheStepThatEmptiesItStillThrusts) {
    ProbeModule probe;
    int frame = 0;
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        if (frame == 0) {
            v.SetThrusterLevel(probe.Hooks().thrusters.main, 1.0);
            // Less than one step's burn: 2000 N / 3000 m/s / 60 = 0.0111 kg.
            v.SetPropellantMass(probe.Hooks().thrusters.tank, 0.001);
        }
        if (frame == 3) v.SetPropellantMass(probe.Hooks().thrusters.tank, 50.0);  // refuelled
        ++frame;
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"));
    Vessel &v = *w->Focus();
    const double sink0 = sim::VerticalSpeed(v);
    w->Step();
    const double gravity = w->Body().gm / std::pow(v.motion.positionGlobal.norm(), 2);
    const double mass = v.Mass();
    EXPECT_DOUBLE_EQ(v.actuators.tanks[0]->mass, 0.0);
    // Full thrust for the whole step although the tank held less.
    EXPECT_NEAR((sim::VerticalSpeed(v) - sink0) / kDt, 2000.0 / mass - gravity, 0.01);
    w->Step();
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->level, 0.0);
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->effective, 0.0);
    RunFor(*w, 3 * kDt);
    EXPECT_DOUBLE_EQ(v.actuators.tanks[0]->mass, 50.0);  // refuelling does not restart it
    EXPECT_DOUBLE_EQ(v.actuators.thrusters[0]->effective, 0.0);
}

TEST(HostSetters, ATankMayBeFilledBeyondItsMaximum) {
    ProbeModule probe;
    probe.Hooks().classCaps = [](VESSEL2 &v, const probe::ProbeThrusters &t) { v.SetPropellantMass(t.tank, 150.0); };
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        v.SetPropellantMass(probe.Hooks().thrusters.tank, 180.0);
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"));
    w->Step();
    EXPECT_DOUBLE_EQ(w->Focus()->actuators.tanks[0]->mass, 180.0);
    bool warned = false;
    for (const auto &m : w->Warnings()) warned |= m.find("beyond its maximum") != std::string::npos;
    EXPECT_TRUE(warned);
}

// ----- the keyboard

struct KeyRecord {
    DWORD key;
    bool down;
    double at;
};

TEST(HostKeys, KeypadPlusHeldGivesFullMainThrustOnlyWhileHeld) {
    ProbeModule probe;
    std::vector<double> level;
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) { level.push_back(v.GetThrusterGroupLevel(THGROUP_MAIN)); };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.5-1:num+");
    RunFor(*w, 1.5);
    // Down in the frame that reaches 0.5 s, acting from the next step; up at 1 s.
    for (std::size_t i = 0; i < level.size(); ++i) {
        const double t0 = static_cast<double>(i) * kDt;
        const bool held = t0 > 0.5 - 1e-9 && t0 < 1.0 - 1e-9;
        EXPECT_DOUBLE_EQ(level[i], held ? 1.0 : 0.0) << "step from " << t0;
    }
    EXPECT_DOUBLE_EQ(w->Focus()->actuators.thrusters[0]->level, 0.0);  // an override, not the permanent level
}

TEST(HostKeys, ANonZeroDirectKeyAnswerStopsTheHostsHeldKeys) {
    ProbeModule probe;
    int directCalls = 0;
    probe.Hooks().directKey = [&](VESSEL2 &, char *) {
        ++directCalls;
        return 1;
    };
    double most = 0.0;
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) {
        most = std::max(most, v.GetThrusterGroupLevel(THGROUP_MAIN) + v.GetThrusterGroupLevel(THGROUP_ATT_PITCHUP));
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.2-0.6:num+,0.2-0.6:num2");
    RunFor(*w, 1.0);
    EXPECT_DOUBLE_EQ(most, 0.0);
    EXPECT_EQ(directCalls, 60);  // once every frame
}

TEST(HostKeys, EveryKeyDownAndKeyUpReachesTheBufferedCallbackAndANonZeroAnswerKeepsItFromTheHost) {
    ProbeModule probe;
    std::vector<KeyRecord> seen;
    probe.Hooks().bufferedKey = [&](VESSEL2 &, DWORD key, bool down, char *) {
        seen.push_back({key, down, oapiGetSimTime()});
        return key == OAPI_KEY_L ? 1 : 0;  // the probe keeps L to itself
    };
    Start spinning = HighUp();
    spinning.ratesDeg = Vec3(0.0, 20.0, 0.0);  // so that kill rotation stays on for a while
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(spinning)), "Probe"), "0.5:L,1-2:num5");
    RunFor(*w, 1.1);
    EXPECT_TRUE(w->Focus()->NavmodeOn(NAVMODE_KILLROT));  // keypad 5 went to the host on key-down
    RunFor(*w, 1.4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].key, static_cast<DWORD>(OAPI_KEY_L));
    EXPECT_TRUE(seen[0].down);
    EXPECT_EQ(seen[1].key, static_cast<DWORD>(OAPI_KEY_L));
    EXPECT_FALSE(seen[1].down);  // a press is released a frame later
    EXPECT_NEAR(seen[1].at - seen[0].at, kDt, 1e-9);
    EXPECT_EQ(seen[2].key, static_cast<DWORD>(OAPI_KEY_NUMPAD5));
    EXPECT_TRUE(seen[2].down);
    EXPECT_FALSE(seen[3].down);
    EXPECT_NEAR(seen[3].at - seen[2].at, 1.0, 1e-9);
    const Vessel &v = *w->Focus();
    EXPECT_FALSE(v.NavmodeOn(NAVMODE_HLEVEL));  // consumed by the module
}

TEST(HostKeys, ModifiersMustMatchTheBinding) {
    ProbeModule probe;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.5:ctrl+L,0.7:shift+L");
    RunFor(*w, 1.0);
    EXPECT_FALSE(w->Focus()->NavmodeOn(NAVMODE_HLEVEL));
    w.reset();
    auto plain = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.5:L");
    RunFor(*plain, 1.0);
    EXPECT_TRUE(plain->Focus()->NavmodeOn(NAVMODE_HLEVEL));
}

TEST(HostKeys, CtrlKeypadPlusRaisesThePermanentMainLevelByAFifthPerSecond) {
    ProbeModule probe;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.5-1.5:ctrl+num+,2:num*");
    RunFor(*w, 1.75);
    EXPECT_NEAR(w->Focus()->actuators.thrusters[0]->level, 0.2, 0.2 * kDt + 1e-9);
    RunFor(*w, 0.5);
    EXPECT_DOUBLE_EQ(w->Focus()->actuators.thrusters[0]->level, 0.0);  // keypad * cuts main and retro
}

TEST(HostKeys, KeypadAttitudeKeysGiveAFullOverrideOrATenthWithCtrl) {
    ProbeModule probe;
    std::vector<double> up, down;
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) {
        up.push_back(v.GetThrusterGroupLevel(THGROUP_ATT_PITCHUP));
        down.push_back(v.GetThrusterGroupLevel(THGROUP_ATT_PITCHDOWN));
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.2-0.4:num2,0.6-0.8:ctrl+num8");
    RunFor(*w, 1.0);
    EXPECT_DOUBLE_EQ(*std::max_element(up.begin(), up.end()), 1.0);
    EXPECT_DOUBLE_EQ(*std::max_element(down.begin(), down.end()), 0.1);
}

TEST(HostCallbacks, TheFocusVesselIsToldItHasTheFocusAndEverySwitchOfANavigationMode) {
    ProbeModule probe;
    int focusCalls = 0;
    OBJHANDLE focused = nullptr;
    probe.Hooks().focusChanged = [&](VESSEL2 &, bool getFocus, OBJHANDLE now, OBJHANDLE before) {
        ++focusCalls;
        EXPECT_TRUE(getFocus);
        EXPECT_EQ(before, nullptr);
        focused = now;
    };
    std::vector<std::pair<int, bool>> switches;
    probe.Hooks().navMode = [&](VESSEL2 &, int mode, bool active) { switches.emplace_back(mode, active); };
    int frame = 0;
    probe.Hooks().preStep = [&](VESSEL2 &v, double, double, double) {
        if (frame++ == 30) v.ActivateNavmode(NAVMODE_PROGRADE);  // the module's own switch clears hold level
    };
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(HighUp())), "Probe"), "0.2:L");
    RunFor(*w, 1.0);
    EXPECT_EQ(focusCalls, 1);
    EXPECT_EQ(focused, sim::HandleOf(w->Focus()));
    const std::vector<std::pair<int, bool>> expected = {
        {NAVMODE_HLEVEL, true}, {NAVMODE_HLEVEL, false}, {NAVMODE_PROGRADE, true}};
    EXPECT_EQ(switches, expected);
}

// ----- pointing modes

struct PitchLevels {
    std::vector<double> up, down;  // the pitch groups' levels after each step
};

// Prograde switched on at 0.1 s, 20 km up with the velocity 45 degrees above
// the nose (prograde pitches up), and a pitch key held from 0.1 to 0.5 s.
PitchLevels PitchLevelsUnderPrograde(const std::string &heldKey) {
    ProbeModule probe;
    PitchLevels levels;
    probe.Hooks().postStep = [&](VESSEL2 &v, double, double, double) {
        levels.up.push_back(v.GetThrusterGroupLevel(THGROUP_ATT_PITCHUP));
        levels.down.push_back(v.GetThrusterGroupLevel(THGROUP_ATT_PITCHDOWN));
    };
    Start s = HighUp();
    s.alt = 20000.0;
    s.vfwd = 100.0;
    s.vup = 100.0;
    auto w = MakeProbeWorld(ScenarioWith(ProbeBlock(FlyingLines(s)), "Probe"), "0.1:[,0.1-0.5:" + heldKey);
    RunFor(*w, 0.4);
    EXPECT_TRUE(w->Focus()->NavmodeOn(NAVMODE_PROGRADE));
    return levels;
}

TEST(PointingModes, ThePointingModeReplacesTheOverrideOfTheGroupItCommands) {
    const PitchLevels l = PitchLevelsUnderPrograde("num2");
    // The keyboard's +1 on pitch up is replaced by the pointing mode's at most 0.4.
    EXPECT_LE(*std::max_element(l.up.begin() + 8, l.up.end()), 0.4 + 1e-12);
    EXPECT_GT(*std::max_element(l.up.begin() + 8, l.up.end()), 0.0);
}

TEST(PointingModes, TheOppositeGroupKeepsTheKeyboardsOverride) {
    const PitchLevels l = PitchLevelsUnderPrograde("num8");
    // Prograde commands pitch up; the keyboard's pitch down stays at 1.
    EXPECT_DOUBLE_EQ(*std::max_element(l.down.begin() + 8, l.down.end()), 1.0);
}

}  // namespace
}  // namespace vtal::simtest
