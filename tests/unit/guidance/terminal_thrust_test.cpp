// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <array>
#include <cmath>
#include <limits>

#include "GuidanceTestSupport.h"
#include "guidance/TerminalThrust.h"

namespace vtal::testing {
namespace {

using namespace vtal::guidance;
using Strings = std::vector<std::string>;
using TerminalThrustTest = GuidanceTest;

const double kMax = std::numeric_limits<double>::max();
const double kPitchAuthority400 = 4.88184375;  // rad/s^2 at 400 kg

TEST(AttitudeCommandTest, ProportionalUntilBrakingIsDueThenBrakesAgainstTheRate) {
    const struct {
        double error, rate, command;
    } cases[] = {
        {0.19739555984988078, 0.0, 0.06201364406756292},   // no rotation: proportional
        {0.1, 0.05, 0.031415926535897906},                   // slow closing: proportional
        {0.1, 0.5, -0.256050800478815},                      // fast closing: braking
        {0.1, -0.5, 0.031415926535897906},                   // opening: proportional
        {-0.1, -0.5, 0.256050800478815},                     // mirror of the braking case
        {0.0, 0.0, 0.0},                                     // 0/0 counts as nothing
        {0.0, 0.3, -kMax},                                   // on target but turning: saturated against the rate
        {-0.0, 0.3, -kMax},
        {0.0, -0.3, kMax},
        // Stopping time 10 x 1 / 10 = 1 s equals the time to go 2 x 0.5 / 1 = 1 s: brake.
        {0.5, 1.0, -0.1},
    };
    for (const auto &c : cases) {
        const double authority = c.error == 0.5 ? 10.0 : kPitchAuthority400;
        EXPECT_EQ(AttitudeCommand(c.error, c.rate, authority), c.command) << c.error << ", " << c.rate;
    }
    EXPECT_EQ(AttitudeCommand(0.5000001, 1.0, 10.0), 0.5000001 * 0.31415926535897903);  // just proportional
}

TEST(AttitudeCommandTest, AnUnknowableStateAsksForNoTorque) {
    const double nan = std::nan("");
    for (double command : {AttitudeCommand(nan, 0.0, 5.0), AttitudeCommand(0.2, nan, 5.0),
                           AttitudeCommand(0.2, 0.1, nan)}) {
        EXPECT_EQ(command, 0.0);
        EXPECT_FALSE(std::signbit(command));
    }
}

// Worked through the law by hand: 400 kg, 648 N, sinking at 10 m/s with 2 m/s
// of forward drift, level. The common level is capped at full thrust before the
// pitch command is spread, and one that cannot be computed counts as 0.
TEST(ComputeTerminalThrustTest, CommonLevelIsCappedAtFullThrustBeforeTheSpread) {
    const struct {
        const char *what;
        double altitude, weight;
        std::array<double, 3> levels;
    } cases[] = {
        {"28 m: the law asks for 5.46", 28.0, 648.0, {1.0, 0.9793287853108124, 0.9793287853108124}},
        {"33.393 m: the law asks for 1.005", 33.393, 648.0, {1.0, 0.9793287853108124, 0.9793287853108124}},
        {"34 m: the law asks for 0.933", 34.0, 648.0, {0.9746914915465952, 0.9126778474790322, 0.9126778474790322}},
        {"weight unknown", 100.0, std::nan(""), {0.041342429378375276, 0.0, 0.0}},
    };
    for (const auto &c : cases) {
        TerminalState s;
        s.mass = 400.0;
        s.altitude = c.altitude;
        s.weight = c.weight;
        s.verticalSpeed = -10.0;
        s.airspeed = _V(0, -10, 2);
        const TerminalCommand out = ComputeTerminalThrust(s);
        EXPECT_EQ(out.holdLevelRequests, 0) << c.what;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out.levels[i], c.levels[i]) << c.what << " engine " << i;
    }
}

TEST(AllocateEnginesTest, SpreadsPitchAndBankOverTheEnginesKeepingTheSumThenClamps) {
    const struct {
        double common, pitch, bank, front, left, right;
    } cases[] = {
        {0.5, 0.3, -0.2, 0.7, 0.3, 0.5},
        {0.9, 0.3, 0.0, 1.0, 0.8, 0.8},
        {0.05, -0.3, 0.0, 0.0, 0.15, 0.15},
        {0.5, -kMax, 0.0, 0.0, 1.0, 1.0},   // saturated nose-down
        {0.5, 0.0, kMax, 0.5, 1.0, 0.0},    // saturated left side up
        {-std::numeric_limits<double>::infinity(), kMax, -kMax, 0.0, 0.0, 0.0},
    };
    for (const auto &c : cases) {
        const auto levels = AllocateEngines(c.common, c.pitch, c.bank);
        EXPECT_NEAR(levels[0], c.front, 1e-15);
        EXPECT_NEAR(levels[1], c.left, 1e-15);
        EXPECT_NEAR(levels[2], c.right, 1e-15);
    }
    const auto unclamped = AllocateEngines(0.5, 0.1, 0.05);
    EXPECT_EQ(unclamped[0] + unclamped[1] + unclamped[2], 1.5);
    // The rear engines take (common - p) + p / 3 with p half the pitch command,
    // rounded as the descent was tuned: to the last bit.
    const struct {
        double common, pitch, rear;
    } bits[] = {{0.207, 0.347, 0.09133333333333332}, {0.175, -0.472, 0.3323333333333333},
                {0.283, 0.445, 0.13466666666666663}};
    for (const auto &b : bits) {
        const auto levels = AllocateEngines(b.common, b.pitch, 0.0);
        EXPECT_EQ(levels[1], b.rear) << b.common << ", " << b.pitch;
        EXPECT_EQ(levels[2], b.rear) << b.common << ", " << b.pitch;
    }
}

// A sinking lander at 100 m: h = 100, v = -8, 400 kg, 648 N.
TEST_F(TerminalThrustTest, EngineLevelsMatchTheWorkedExamples) {
    const struct {
        const char *what;
        VECTOR3 airspeed, angularVel;
        double pitch, bank;
        Strings commands;
    } cases[] = {
        {"straight down", _V(0, -8, 0), _V(0, 0, 0), 0, 0,
         {Engine(0, 0.22361232084883997), Engine(1, 0.22361232084883997), Engine(2, 0.22361232084883997)}},
        {"drifting forward", _V(0, -10, 2), _V(0, 0, 0), 0, 0,
         {Engine(0, 0.26495475022721526), Engine(1, 0.20294110615965233), Engine(2, 0.20294110615965233)}},
        {"drifting forward, pitching up fast", _V(0, -10, 2), _V(0.5, 0, 0), 0, 0,
         {Engine(0, 0.13713594124721115), Engine(1, 0.2668505106496544), Engine(2, 0.2668505106496544)}},
        {"tilted, drifting forward and right", _V(1, -10, 2), _V(0, 0, 0), 0.3, 0.2,
         {Engine(0, 0.28016962771804493), Engine(1, 0.20250006832751058), Engine(2, 0.23381189897345342)}},
        {"exactly vertical, nose rising", _V(0, -8, 0), _V(0.01, 0, 0), 0, 0, {Engine(0, 0), Engine(1, 1), Engine(2, 1)}},
        {"exactly vertical, nose sinking", _V(0, -8, 0), _V(-0.01, 0, 0), 0, 0, {Engine(0, 1), Engine(1, 0), Engine(2, 0)}},
        // Bank error atan(1 / -10) closed at 0.5 rad/s by a bank authority of
        // 1211 x 0.5586 / (0.3 x 400): the stopping time is past the time to go, brake.
        {"drifting right, banking towards it fast", _V(1, -10, 0), _V(0, 0, -0.5), 0, 0,
         {Engine(0, 0.22361232084883997), Engine(1, 0.3348514556134877), Engine(2, 0.11237318608419221)}},
        {"exactly vertical, left side rising", _V(0, -8, 0), _V(0, 0, 0.01), 0, 0, {Engine(0, 0.22361232084883997), Engine(1, 0), Engine(2, 1)}},
        {"no airspeed at all", _V(0, 0, 0), _V(0, 0, 0), 0, 0,
         {Engine(0, 0.22361232084883997), Engine(1, 0.22361232084883997), Engine(2, 0.22361232084883997)}},
        {"banked past 90 degrees", _V(0, -8, 0), _V(0, 0, 0), 0, 2.0, {On(2), Engine(0, 0), Engine(1, 0), Engine(2, 0)}},
        {"pitched past 90 degrees", _V(0, -8, 0), _V(0, 0, 0), 1.6, 0, {On(2), Engine(0, 0), Engine(1, 0), Engine(2, 0)}},
        // Upside down and drifting hard sideways: steering would fire a rear
        // engine, but past 90 degrees every engine stops.
        {"upside down, drifting sideways", _V(20, -2, 0), _V(0, 0, 0), 0, 3.0,
         {On(2), Engine(0, 0), Engine(1, 0), Engine(2, 0)}},
        // Both cosines negative: their product lifts the common level to full.
        {"past 90 degrees on both axes", _V(0, -8, 0), _V(0, 0, 0), 1.6, -1.6,
         {On(2), On(2), Engine(0, 1), Engine(1, 1), Engine(2, 1)}},
    };
    for (const auto &c : cases) {
        rec.clear();
        Descending(100.0, -8.0);
        Flight().shipAirspeed = c.airspeed;
        Flight().angularVel = c.angularVel;
        Flight().pitch = c.pitch;
        Flight().bank = c.bank;
        lander->TerminalThrust();
        EXPECT_EQ(Commands(), c.commands) << c.what;
    }
}

TEST_F(TerminalThrustTest, ReadsItsStateInOrderAndStopsSteeringOnlyBeyondNinetyDegrees) {
    Descending(100.0, -8.0);
    lander->TerminalThrust();
    EXPECT_EQ(rec.names(), (Strings{"GetMass", "GetAltitude", "GetShipAirspeedVector", "GetAngularVel",
                                    "GetWeightVector", "GetHorizonAirspeedVector", "GetPitch", "GetBank",
                                    "SetThrusterLevel", "SetThrusterLevel", "SetThrusterLevel"}));
    for (double edge : {1.570796326794895, -1.570796326794895}) {
        rec.clear();
        Flight().pitch = edge;
        Flight().bank = edge;
        lander->TerminalThrust();
        EXPECT_EQ(rec.count("ActivateNavmode"), 0u) << edge;
    }
}

TEST_F(TerminalThrustTest, AtTheFloorOfTheBandTheLawSaturatesOrHoldsTheWeight) {
    const struct {
        double v, level;
    } cases[] = {{-5.0, 1.0}, {-1.0, 0.0}, {-2.0, 0.17836498761354252}};
    for (const auto &c : cases) {
        rec.clear();
        Descending(27.0, c.v);
        lander->TerminalThrust();
        EXPECT_EQ(Commands(), (Strings{Engine(0, c.level), Engine(1, c.level), Engine(2, c.level)})) << c.v;
    }
}

}  // namespace
}  // namespace vtal::testing
