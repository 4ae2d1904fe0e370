// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <cmath>
#include <limits>

#include "GuidanceTestSupport.h"

namespace vtal::testing {
namespace {

using Strings = std::vector<std::string>;
using DescentSequencerTest = GuidanceTest;

TEST_F(DescentSequencerTest, ReadsTheFlightStateOnceInItsOrderThenCutsEverythingAtTouchdownEvenWhenClimbing) {
    Descending(0.5, +1.0);
    lander->AutoDescent();
    EXPECT_EQ(rec.names(), (Strings{"GetWeightVector", "GetHorizonAirspeedVector", "GetShipAirspeedVector",
                                    "GetPitch", "GetBank", "GetThrusterGroupLevel", "GetThrusterGroupLevel",
                                    "GetAltitude", "GetMass", "SetThrusterGroupLevel", "SetThrusterGroupLevel",
                                    "SetThrusterGroupLevel", "DeactivateNavmode", "DeactivateNavmode"}));
    EXPECT_EQ(rec.calls[5].integer(0), 6);  // yaw right read before yaw left
    EXPECT_EQ(rec.calls[6].integer(0), 5);
    EXPECT_EQ(Commands(), (Strings{Group(0, 0), Group(6, 0), Group(5, 0), Off(2), Off(1)}));
}

TEST_F(DescentSequencerTest, WhenNotSinkingOnlyTheMainGroupIsCut) {
    for (double v : {0.0, -0.0, 3.0}) {
        for (double h : {10.0, 100.0, 500.0, 900.0}) {
            rec.clear();
            Descending(h, v);
            lander->AutoDescent();
            EXPECT_EQ(Commands(), Strings{Group(0, 0)}) << "h=" << h << " v=" << v;
        }
    }
}

// Which band each altitude falls in, seen by the kinds of command it gives.
TEST_F(DescentSequencerTest, BandEdgesBelongToTheBandAbove) {
    const struct {
        double altitude;
        Strings kinds;
    } cases[] = {
        {0.79, {"G0", "G6", "G5", "-2", "-1"}},
        {0.8, {"G0", "G5", "G6", "+1", "-1", "+2", "-1"}},  // hover; heading 0 is in the dead band
        {26.99, {"G0", "G5", "G6", "+1", "-1", "+2", "-1"}},
        {27.0, {"-2", "E0", "E1", "E2", "G5", "G6", "+1", "-1"}},  // terminal
        {229.99, {"-2", "E0", "E1", "E2", "G5", "G6", "+1", "-1"}},
        {230.0, {"G0"}},  // sink-rate law
        {829.99, {"G0"}},
        {830.0, {"-2", "E0", "E1", "E2"}},  // preset, first time
        {859.99, {"-2"}},                   // preset already made
        {860.0, {"+2"}},                    // hold level
        {959.99, {"+2"}},
        {960.0, {}},
    };
    for (const auto &c : cases) {
        rec.clear();
        Descending(c.altitude, -10.0);
        lander->AutoDescent();
        EXPECT_EQ(Commands(false), c.kinds) << "h=" << c.altitude;
    }
}

TEST_F(DescentSequencerTest, SinkRateLawLevelsMatchTheWorkedExample) {
    const struct {
        double pitch, level;
    } cases[] = {{0.0, 0.23121387283236994}, {0.5, 0.26346680400567607}};
    for (const auto &c : cases) {
        rec.clear();
        Descending(527.0, -22.0);
        Flight().shipAirspeed = _V(0, 0, 0);
        Flight().pitch = c.pitch;
        lander->AutoDescent();
        EXPECT_EQ(Commands(), Strings{Group(0, c.level)}) << "pitch " << c.pitch;
    }
}

TEST_F(DescentSequencerTest, HoverLevelCarriesWeightAndLastFramesYawThrust) {
    const struct {
        double left, right, level;
    } cases[] = {{0, 0, 0.6187723644371044}, {1, 0, 0.6209176988714561}, {0, 1, 0.6209176988714561}};
    for (const auto &c : cases) {
        rec.clear();
        Descending(10.0, -3.5);
        Flight().groupLevel[5] = c.left;
        Flight().groupLevel[6] = c.right;
        lander->AutoDescent();
        ASSERT_FALSE(Commands().empty());
        EXPECT_EQ(Commands().front(), Group(0, c.level));
    }
}

TEST_F(DescentSequencerTest, HoldLevelEngagesOnlyBelowMinus24MetresPerSecondInTheSinkRateBand) {
    // The forward airspeed counts projected by cos(pitch): -25 m/s at 0.45 rad
    // of pitch is -22.5 m/s, -27 m/s there is -24.3 m/s.
    const struct {
        double vz, pitch;
        bool engaged;
    } cases[] = {{-24.0, 0, false}, {-24.1, 0, true}, {24.1, 0, false}, {-25.0, 0.45, false},
                 {-27.0, 0.45, true}, {-27.0, -0.45, true}, {-25.0, -0.45, false}};
    for (const auto &c : cases) {
        rec.clear();
        Descending(500.0, -10.0);
        Flight().shipAirspeed = _V(0, -10, c.vz);
        Flight().pitch = c.pitch;
        lander->AutoDescent();
        EXPECT_EQ(Commands(false), c.engaged ? (Strings{"+2", "G0"}) : Strings{"G0"}) << c.vz << " " << c.pitch;
    }
}

TEST_F(DescentSequencerTest, TerminalBandReleasesHoldLevelOnlyWithinFortyFiveDegrees) {
    const double edge = 0.7853981633974475, inside = std::nextafter(edge, 0.0);
    const struct {
        double pitch, bank;
        bool released;
    } cases[] = {{inside, 0, true}, {-inside, 0, true}, {0, inside, true}, {0, -inside, true},
                 {edge, 0, false}, {-edge, 0, false}, {0, edge, false}, {0, -edge, false}};
    for (const auto &c : cases) {
        rec.clear();
        Descending(100.0, -8.0);
        Flight().pitch = c.pitch;
        Flight().bank = c.bank;
        lander->AutoDescent();
        EXPECT_EQ(Commands(false).front(), c.released ? "-2" : "E0") << c.pitch << " " << c.bank;
    }
}

TEST_F(DescentSequencerTest, EnginePresetHappensOnceAcrossAClimbAndReDescentAndForEveryLander) {
    auto frame = [&](Lander &l, double h, double v) {
        rec.clear();
        Flight(l).altitude = h;
        Flight(l).horizonAirspeed = _V(0, v, 0);
        l.AutoDescent();
        return Commands(l);
    };
    EXPECT_EQ(frame(*lander, 845, -5), (Strings{Off(2), Engine(0, 0.06), Engine(1, 0), Engine(2, 0)}));
    EXPECT_EQ(moduleState.descentPresetDone, 1);
    EXPECT_EQ(frame(*lander, 845, -5), Strings{Off(2)});
    EXPECT_EQ(frame(*lander, 870, +1), Strings{Group(0, 0)});
    EXPECT_EQ(frame(*lander, 870, -1), Strings{On(2)});
    EXPECT_EQ(frame(*lander, 845, -5), Strings{Off(2)});
    auto second = MakeLander(2);
    EXPECT_EQ(frame(*second, 845, -5), Strings{Off(2)});
}

// States in which the plain arithmetic would hand the host a non-number or a
// level outside [0, 1].
TEST_F(DescentSequencerTest, DegenerateFlightStatesGiveSafeMainGroupLevels) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const struct {
        const char *what;
        double altitude, v, mass, weight, pitch, left, level;
    } cases[] = {
        {"hover, unknown mass idles", 10, -3.5, nan, 648, 0, 0, 0.0},
        {"hover, unknown yaw level idles", 10, -3.5, 400, 648, 0, nan, 0.0},
        {"hover, infinite weight saturates", 10, -3.5, 400, inf, 0, 0, 1.0},
        {"sink law, nose almost vertical up", 500, -10, 400, 648, 1.5707963267948966, 0, 1.0},
        {"sink law, nose almost vertical down", 500, -10, 400, 648, -1.5707963267948966, 0, 1.0},
        {"sink law, tumbling pitch idles", 500, -10, 400, 648, inf, 0, 0.0},
        {"sink law, massless at infinite sink rate idles", 500, -inf, 0, 648, 0, 0, 0.0},
        {"sink law, exactly the aim rate holds the weight", 500, -2, 400, 648, 0, 0, 0.17836498761354252},
    };
    for (const auto &c : cases) {
        rec.clear();
        Descending(c.altitude, c.v);
        Flight().shipAirspeed = _V(0, 0, 0);
        Flight().mass = c.mass;
        Flight().weight = _V(0, -c.weight, 0);
        Flight().pitch = c.pitch;
        Flight().groupLevel[5] = c.left;
        lander->AutoDescent();
        EXPECT_EQ(Commands().front(), Group(0, c.level)) << c.what;
    }
}

}  // namespace
}  // namespace vtal::testing
