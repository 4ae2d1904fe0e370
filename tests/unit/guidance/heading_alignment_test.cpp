// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <cmath>
#include <limits>

#include "GuidanceTestSupport.h"
#include "guidance/HeadingAlignment.h"

namespace vtal::testing {
namespace {

using namespace vtal::guidance;
using Strings = std::vector<std::string>;
using HeadingAlignmentTest = GuidanceTest;

const double kPiAsTuned = 3.14159265358979;

TEST(YawCommandTest, FullThrustTowardsTheTargetUntilBrakingIsDue) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct {
        double error, rate, left, right;
        bool deadBand;
    } cases[] = {
        {0.5, 0.0, 1, 0, false},   {0.5, -0.1, 1, 0, false}, {0.5, 0.1, 1, 0, false},
        {0.5, 0.2, 0, 1, false},   // braking, limited from 1.405
        {-0.5, 0.0, 0, 1, false},  {-0.5, 0.1, 0, 1, false}, {-0.5, -0.1, 0, 1, false},
        {-0.5, -0.2, 1, 0, false},  // braking, limited from 1.642
        {0.01, 0.3, 0, 0, true},   {-0.01, -0.3, 0, 0, true}, {0.005, 0.0005, 0, 0, true},
        {-kPiAsTuned, 0.0, 0, 0, true},  // a heading of exactly 0
        {kPiAsTuned, 0.0, 0, 0, true},
        {nan, 0.0, 0, 0, true},     // no heading from the host: hand over to kill rotation
        {0.5, nan, 0, 0, false},    // unknown rate: neither group fires
        {0.5, inf, 0, 1, false},    // spinning towards the target: brake
        {-0.5, -inf, 1, 0, false},
    };
    for (const auto &c : cases) {
        const YawCommand cmd = ComputeYawCommand(c.error, c.rate, 400.0);
        EXPECT_EQ(cmd.left, c.left) << c.error << ", " << c.rate;
        EXPECT_EQ(cmd.right, c.right) << c.error << ", " << c.rate;
        EXPECT_EQ(cmd.deadBand, c.deadBand) << c.error << ", " << c.rate;
    }
    // Infinite inertia: the braking torque is a non-number, which must not fire anything.
    const YawCommand heavy = ComputeYawCommand(0.5, 0.0, inf);
    EXPECT_EQ(heavy.left, 0.0);
    EXPECT_EQ(heavy.right, 0.0);
}

// At 400 kg full right authority is 4.554 / 160 rad/s^2: with 0.5 rad to go
// the left turn must brake from sqrt(0.5 x 2 x 4.554 / 160) = 0.16870832818802990 rad/s,
// the rate at which stopping time and time to go are equal to the last bit.
TEST(YawCommandTest, BrakingStartsExactlyWhereStoppingTimeMeetsTimeToGo) {
    const double rightSwitch = 0.1687083281880299;
    const struct {
        double error, rate, mass;
        bool braking;
    } cases[] = {
        {0.5, 0.1685, 400, false}, {0.5, std::nextafter(rightSwitch, 0.0), 400, false},
        {0.5, rightSwitch, 400, true}, {0.5, 0.1691, 400, true},
        {-0.5, -0.155, 400, false}, {-0.5, -0.157, 400, true},  // left authority 3.897 / 160
        // At 301 kg the mirror case meets its switch exactly at this rate.
        {-0.5, -0.17990861467576114, 301, true},
        {-0.5, std::nextafter(-0.17990861467576114, 0.0), 301, false},
    };
    for (const auto &c : cases) {
        const YawCommand cmd = ComputeYawCommand(c.error, c.rate, c.mass);
        const bool towardsLeft = c.error > 0;
        const double towards = towardsLeft ? cmd.left : cmd.right;
        const double against = towardsLeft ? cmd.right : cmd.left;
        EXPECT_EQ(towards, c.braking ? 0.0 : 1.0) << c.error << ", " << c.rate;
        if (c.braking)
            EXPECT_NEAR(against, 1.0, 1e-15) << c.error << ", " << c.rate;
        else
            EXPECT_EQ(against, 0.0) << c.error << ", " << c.rate;
        EXPECT_FALSE(cmd.deadBand);
    }
}

TEST(YawCommandTest, DeadBandIsStrictlyWithinOneHundredthOfARadian) {
    for (double error : {0.01, -0.01, 0.0, 0.009999})
        EXPECT_TRUE(ComputeYawCommand(error, 0.0, 400.0).deadBand) << error;
    const YawCommand justLeft = ComputeYawCommand(0.01005, 0.0, 400.0);
    EXPECT_FALSE(justLeft.deadBand);
    EXPECT_EQ(justLeft.left, 1.0);
    const YawCommand justRight = ComputeYawCommand(-0.01005, 0.0, 400.0);
    EXPECT_FALSE(justRight.deadBand);
    EXPECT_EQ(justRight.right, 1.0);
}

TEST_F(HeadingAlignmentTest, AsksTheHostForHeadingMassAndRateThenSetsLeftBeforeRight) {
    Flight().heading = kPiAsTuned + 0.5;
    Flight().mass = 400.0;
    lander->AlignHeading();
    EXPECT_EQ(rec.names(), (Strings{"oapiGetHeading", "GetMass", "GetAngularVel", "SetThrusterGroupLevel",
                                    "SetThrusterGroupLevel"}));
    EXPECT_EQ(rec.calls[0].ptr(0), lander->GetHandle());
    EXPECT_EQ(Commands(), (Strings{Group(5, 1), Group(6, 0)}));
}

TEST_F(HeadingAlignmentTest, DeadBandHandsOverToKillRotationAndReleasesItWhenSettled) {
    const struct {
        double heading, rate;
        Strings commands;
        bool killRotationStaysOn;
    } cases[] = {
        {kPiAsTuned + 0.005, 0.0005, {Group(5, 0), Group(6, 0), On(1), Off(1)}, false},
        {kPiAsTuned + 0.005, -0.0005, {Group(5, 0), Group(6, 0), On(1), Off(1)}, false},
        {kPiAsTuned + 0.005, 0.002, {Group(5, 0), Group(6, 0), On(1), On(1)}, true},
        {kPiAsTuned + 0.005, 0.001, {Group(5, 0), Group(6, 0), On(1), On(1)}, true},
        {kPiAsTuned + 0.005, -0.001, {Group(5, 0), Group(6, 0), On(1), On(1)}, true},
        {kPiAsTuned + 0.005, 0.000999, {Group(5, 0), Group(6, 0), On(1), Off(1)}, false},
        {kPiAsTuned + 0.005, -0.000999, {Group(5, 0), Group(6, 0), On(1), Off(1)}, false},
        {0.0, 0.0, {Group(5, 0), Group(6, 0), On(1), Off(1)}, false},
    };
    for (const auto &c : cases) {
        rec.clear();
        rec.activeNavmodes(lander->GetHandle()).clear();
        Flight().heading = c.heading;
        Flight().mass = 400.0;
        Flight().angularVel = _V(0, c.rate, 0);
        lander->AlignHeading();
        EXPECT_EQ(Commands(), c.commands) << c.heading << ", " << c.rate;
        EXPECT_EQ(rec.activeNavmodes(lander->GetHandle()).count(1), c.killRotationStaysOn ? 1u : 0u);
    }
}

}  // namespace
}  // namespace vtal::testing
