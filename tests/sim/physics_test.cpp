// The host's physics conventions, checked through the loaded lander module and
// through vessels of the host alone.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/vessel/Actuation.h"
#include "sim/vessel/VesselStatus.h"

namespace vtal::simtest {
namespace {

using sim::Thruster;
using sim::Vessel;

// Flies one frame-by-frame second with one thruster group or thruster forced on.
struct SignCase {
    const char *name;
    int group;       // the group whose first member is fired alone
    int axis;        // body-rate component expected to grow
};

std::string SignCaseName(const ::testing::TestParamInfo<SignCase> &param) {
    static const char *const kByAxis[] = {"FrontEngine", "YawLeftGroup", "RearLeftEngine"};
    return kByAxis[param.param.axis];
}

class ThrusterSigns : public ::testing::TestWithParam<SignCase> {};

TEST_P(ThrusterSigns, FiringOneActuatorTurnsTheLanderTheHostsWay) {
    const SignCase c = GetParam();
    Start s;
    s.alt = 5000.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    const sim::ThrusterGroup *g = v.Group(c.group);
    ASSERT_NE(g, nullptr);
    const double headingBefore = sim::Heading(v, w->Body());
    for (int i = 0; i < 30; ++i) {
        for (Thruster *t : g->members) t->level = 1.0;
        w->Step();
    }
    EXPECT_GT(v.motion.bodyRates[c.axis], 1e-4) << c.name;
    if (c.group == THGROUP_ATT_YAWLEFT) {
        // A left turn: the heading falls.
        EXPECT_LT(sim::Heading(v, w->Body()), headingBefore - 1e-6);
        EXPECT_NEAR(v.motion.bodyRates.x(), 0.0, 1e-9);
        EXPECT_NEAR(v.motion.bodyRates.z(), 0.0, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Lander, ThrusterSigns,
                         ::testing::Values(SignCase{"front engine noses up", THGROUP_ATT_PITCHUP, 0},
                                           SignCase{"rear-left engine lowers the right side", THGROUP_ATT_BANKRIGHT, 2},
                                           SignCase{"yaw-left group turns left", THGROUP_ATT_YAWLEFT, 1}),
                         SignCaseName);

TEST(Attitude, FrontEngineRaisesPitchAndRearLeftEngineBanksRight) {
    Start s;
    s.alt = 5000.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    for (int i = 0; i < 30; ++i) {
        v.Group(THGROUP_ATT_PITCHUP)->members[0]->level = 0.2;
        v.Group(THGROUP_ATT_BANKRIGHT)->members[0]->level = 0.2;
        w->Step();
    }
    EXPECT_GT(sim::Pitch(v), 0.001);   // nose up
    EXPECT_LT(sim::Bank(v), -0.001);   // right side lowered
}

TEST(Attitude, AnglesFollowTheStartingAttitude) {
    for (double pitch : {-20.0, 0.0, 15.0}) {
        for (double bank : {-10.0, 0.0, 25.0}) {
            Start s;
            s.alt = 5000.0;
            s.heading = 40.0;
            s.pitch = pitch;
            s.bank = bank;
            auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
            const Vessel &v = *w->Focus();
            EXPECT_NEAR(sim::Pitch(v) / sim::kRadPerDeg, pitch, 1e-6);
            if (pitch == 0.0) {
                EXPECT_NEAR(sim::Bank(v) / sim::kRadPerDeg, bank, 1e-6);
            }
            if (bank == 0.0) {
                EXPECT_NEAR(sim::Heading(v, w->Body()) / sim::kRadPerDeg, 40.0, 1e-6);
            }
        }
    }
}

TEST(FreeFall, FollowsPointMassGravity) {
    // A passive vessel (no configuration) falling from 10 km for 60 s, against
    // a fine fourth-order reference of r'' = -GM r / |r|^3.
    Start s;
    s.alt = 10000.0;
    s.vup = -10.0;
    s.vfwd = 30.0;
    auto w = MakeWorld(ScenarioWith("Probe:NoSuchClass\n" + FlyingLines(s) + "END\n", "Probe"));
    const Vessel &v = *w->Focus();
    const double gm = sim::Moon().gm;
    Vec3 r = v.motion.positionGlobal, u = v.motion.velocityGlobal;
    const auto acc = [&](const Vec3 &p) { return Vec3(-gm / std::pow(p.norm(), 3) * p); };
    const double h = 0.001;
    for (int i = 0; i < 60000; ++i) {
        const Vec3 k1v = acc(r), k1r = u;
        const Vec3 k2v = acc(r + 0.5 * h * k1r), k2r = u + 0.5 * h * k1v;
        const Vec3 k3v = acc(r + 0.5 * h * k2r), k3r = u + 0.5 * h * k2v;
        const Vec3 k4v = acc(r + h * k3r), k4r = u + h * k3v;
        r += h / 6 * (k1r + 2 * k2r + 2 * k3r + k4r);
        u += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
    }
    RunFor(*w, 60.0);
    EXPECT_NEAR((v.motion.positionGlobal - r).norm(), 0.0, 0.01);
    EXPECT_NEAR((v.motion.velocityGlobal - u).norm(), 0.0, 1e-4);
    EXPECT_FALSE(w->Warnings().empty());  // the unknown class is reported
}

TEST(Atmosphere, MarsDragActsAgainstTheFall) {
    Start s;
    s.body = "Mars";
    s.alt = 1000.0;
    s.vup = -100.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    const Vessel &v = *w->Focus();
    const double m = v.Mass(), r = v.motion.positionGlobal.norm();
    const double rho = 0.020 * std::exp(-1000.0 / 11100.0);
    const double before = sim::VerticalSpeed(v);
    w->Step();
    const double gravity = sim::FindBody("Mars")->gm / (r * r);
    const double drag = 0.5 * rho * 100.0 * 100.0 * 0.9 * 2.0 / m;  // cw_y 0.9, cross section y 2 m2
    // Seen from the non-rotating frame, the surface's eastward speed turns
    // towards the vertical as the vessel moves with it.
    const Vec3 east = w->Body().SurfaceVelocity(v.motion.positionGlobal);
    const double turning = east.squaredNorm() / r;
    EXPECT_NEAR((sim::VerticalSpeed(v) - before) / w->Dt(), -gravity + drag + turning, 0.002);
    EXPECT_GT(turning, 0.01);
    EXPECT_STREQ(w->Body().name, "Mars");
}

TEST(Propellant, EnginesBurnThrustOverIsp) {
    Start s;
    s.alt = 5000.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    const double before = v.actuators.tanks[0]->mass;
    for (int i = 0; i < 120; ++i) {  // 2 s at full main thrust
        sim::SetGroupLevel(v, THGROUP_MAIN, 1.0);
        w->Step();
    }
    EXPECT_NEAR(before - v.actuators.tanks[0]->mass, 3 * 1211.0 / 2500.0 * 2.0, 1e-9);
    EXPECT_DOUBLE_EQ(sim::GroupLevel(v.Group(THGROUP_MAIN)), 1.0);
}

TEST(Propellant, EmptyTankGivesNoThrustAndDropsTheLevel) {
    Start s;
    s.alt = 5000.0;
    auto w = MakeWorld(ScenarioWith("Lander:vtal\n" + FlyingLines(s) + "  PRPLEVEL 0:0 1:1\n  MANUAL 1\nEND\n"));
    Vessel &v = *w->Focus();
    const double vz = sim::VerticalSpeed(v);
    sim::SetGroupLevel(v, THGROUP_MAIN, 1.0);
    w->Step();
    EXPECT_EQ(v.Group(THGROUP_MAIN)->members[0]->level, 0.0);
    EXPECT_LT(sim::VerticalSpeed(v), vz);  // falling freely
}

TEST(Propellant, BlockWithoutPropellantLinesStartsEmpty) {
    Start s;
    auto w = MakeWorld(ScenarioWith("Lander:vtal\n" + FlyingLines(s) + "  MANUAL 1\nEND\n"));
    EXPECT_EQ(w->Focus()->PropellantMass(), 0.0);
}

// Hold level and kill rotation together take a tilted, turning lander level and still.
TEST(Navmodes, HoldLevelAndKillRotationSettleATumblingLander) {
    Start s;
    s.alt = 20000.0;
    s.pitch = 12.0;
    s.bank = -9.0;
    s.ratesDeg = Vec3(3.0, -2.0, 4.0);
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    ASSERT_TRUE(sim::ActivateNavmode(v, NAVMODE_HLEVEL));
    ASSERT_TRUE(sim::ActivateNavmode(v, NAVMODE_KILLROT));
    RunFor(*w, 60.0);
    EXPECT_LT(std::fabs(sim::Pitch(v)), 0.5 * sim::kRadPerDeg);
    EXPECT_LT(std::fabs(sim::Bank(v)), 0.5 * sim::kRadPerDeg);
    EXPECT_LT(v.motion.bodyRates.norm(), 1e-3);
    EXPECT_TRUE(v.NavmodeOn(NAVMODE_HLEVEL));
}

TEST(Navmodes, KillRotationStopsTheTurnAndSwitchesItselfOff) {
    Start s;
    s.alt = 20000.0;
    s.ratesDeg = Vec3(-2.0, 3.0, 1.5);
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    ASSERT_TRUE(sim::ActivateNavmode(v, NAVMODE_KILLROT));
    RunFor(*w, 30.0);
    EXPECT_LT(v.motion.bodyRates.norm(), 1e-5);
    EXPECT_FALSE(v.NavmodeOn(NAVMODE_KILLROT));
}

// A tumbling body keeps its angular momentum R (I w) in the global frame.
TEST(Rotation, TorqueFreeTumbleKeepsAngularMomentum) {
    Start s;
    s.alt = 50000.0;
    s.ratesDeg = Vec3(20.0, 35.0, -15.0);
    auto w = MakeWorld(ScenarioWith("Lander:vtal\n" + FlyingLines(s) + "  MANUAL 1\nEND\n"), "", 1.0 / 600.0);
    Vessel &v = *w->Focus();
    const auto momentum = [&] { return Vec3(v.motion.attitude * v.def.pmi.cwiseProduct(v.motion.bodyRates)); };
    const Vec3 before = momentum();
    RunFor(*w, 20.0);
    EXPECT_GT((v.motion.bodyRates.normalized() - (s.ratesDeg * sim::kRadPerDeg).normalized()).norm(), 0.05);  // it did tumble
    EXPECT_LT((momentum() - before).norm() / before.norm(), 1e-3);
}

// Spinning fast at long frames, the lander's angular momentum keeps its
// size: the step turns it about the rates, as Euler's equations do, instead
// of adding h w x (I w) to it, which at 1000 deg/s and frames of 0.1 s or
// more lengthened it many times over within seconds.
TEST(Rotation, AFastSpinKeepsTheSizeOfItsAngularMomentumAtLongFrames) {
    for (const double dt : {1.0, 0.5, 0.1}) {
        Start s;
        s.alt = 50000.0;
        s.ratesDeg = Vec3(300.0, 300.0, -999.0);
        auto w = MakeWorld(ScenarioWith("Lander:vtal\n" + FlyingLines(s) + "  MANUAL 1\nEND\n"), "", dt);
        Vessel &v = *w->Focus();
        const auto momentum = [&] { return v.def.pmi.cwiseProduct(v.motion.bodyRates).norm(); };  // per kg
        const double before = momentum();
        double fastest = 0.0;
        for (double t = 0.0; t < 60.0; t += dt) {
            w->Step();
            fastest = std::max(fastest, v.motion.bodyRates.norm());
        }
        EXPECT_NEAR(momentum(), before, 1e-9 * before) << dt;
        EXPECT_LE(fastest, before / v.def.pmi.minCoeff() * (1.0 + 1e-9)) << dt;
    }
}

TEST(Navmodes, SwitchingRules) {
    Vessel v;
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_HLEVEL));
    EXPECT_FALSE(sim::ActivateNavmode(v, NAVMODE_HLEVEL));  // already on
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_KILLROT));  // keeps hold level
    EXPECT_TRUE(v.NavmodeOn(NAVMODE_HLEVEL));
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_PROGRADE));  // clears both
    EXPECT_EQ(v.actuators.navmodes, 1u << NAVMODE_PROGRADE);
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_HLEVEL));
    EXPECT_FALSE(v.NavmodeOn(NAVMODE_PROGRADE));
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_KILLROT));
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_NORMAL));  // a pointing mode clears kill rotation and hold level
    EXPECT_EQ(v.actuators.navmodes, 1u << NAVMODE_NORMAL);
    EXPECT_FALSE(sim::DeactivateNavmode(v, NAVMODE_HLEVEL));  // was off
    EXPECT_TRUE(sim::DeactivateNavmode(v, NAVMODE_NORMAL));
    EXPECT_TRUE(sim::ToggleNavmode(v, NAVMODE_RETROGRADE));
    EXPECT_TRUE(v.NavmodeOn(NAVMODE_RETROGRADE));
    EXPECT_TRUE(sim::ToggleNavmode(v, NAVMODE_RETROGRADE));
    EXPECT_EQ(v.actuators.navmodes, 0u);
    EXPECT_FALSE(sim::ActivateNavmode(v, 8));
    // Hold altitude is switched on its own, and answers true every time.
    EXPECT_TRUE(sim::ActivateNavmode(v, NAVMODE_KILLROT));
    EXPECT_TRUE(sim::ActivateNavmode(v, 7));
    EXPECT_TRUE(sim::ActivateNavmode(v, 7));
    EXPECT_TRUE(v.actuators.holdAltitude);
    EXPECT_TRUE(v.NavmodeOn(NAVMODE_KILLROT));
    // Mode 0 clears them all.
    EXPECT_TRUE(sim::ActivateNavmode(v, 0));
    EXPECT_EQ(v.actuators.navmodes, 0u);
    EXPECT_FALSE(v.actuators.holdAltitude);
    EXPECT_FALSE(sim::DeactivateNavmode(v, 7));
}

TEST(Navmodes, RetrogradeTurnsTheNoseAgainstTheVelocity) {
    Start s;
    s.alt = 20000.0;
    s.vfwd = -40.0;  // flying backwards: the nose already points retrograde-ish after a turn
    s.vside = 30.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    const auto angleToRetro = [&] {
        return std::acos(std::clamp((v.motion.attitude * Vec3::UnitZ()).dot(-v.motion.velocityGlobal.normalized()), -1.0, 1.0));
    };
    const double before = angleToRetro();
    ASSERT_TRUE(sim::ActivateNavmode(v, NAVMODE_RETROGRADE));
    RunFor(*w, 20.0);
    EXPECT_LT(angleToRetro(), before - 0.3);
}

// A vessel read as landed starts landed: it turns with the Moon and does
// not move over the ground.
TEST(GroundContact, LandedLanderRestsWithoutJitter) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines())));
    Vessel &v = *w->Focus();
    EXPECT_TRUE(v.contact.groundContact);
    EXPECT_TRUE(v.Landed());
    RunFor(*w, 5.0);
    const auto bodyFixed = [&] { return Vec3(w->Body().Orientation(w->Mjd()).transpose() * v.motion.positionGlobal); };
    const Vec3 p = bodyFixed();
    double largestSpeed = 0.0;
    for (int i = 0; i < 600; ++i) {
        w->Step();
        // What the host answers: no airspeed while landed.
        largestSpeed = std::max(largestSpeed, v.surface.airspeedVessel.norm() + v.motion.bodyRates.norm());
        ASSERT_TRUE(v.contact.groundContact);
    }
    EXPECT_LT((bodyFixed() - p).norm(), 1e-6);
    EXPECT_LT(largestSpeed, 1e-9);
    EXPECT_NEAR(sim::Altitude(v, w->Body()), 0.58, 0.05);
    EXPECT_TRUE(v.Landed());
}

TEST(GroundContact, DroppedLanderComesToRestOnItsPoints) {
    Start s;
    s.alt = 1.5;
    s.vup = -2.0;
    s.vside = 0.8;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    Vessel &v = *w->Focus();
    RunFor(*w, 15.0);
    EXPECT_TRUE(v.contact.groundContact);
    EXPECT_TRUE(v.Landed());
    EXPECT_LT(GroundSpeed(*w, v), 1e-4);
    EXPECT_LT(std::fabs(sim::Pitch(v)), 2.0 * sim::kRadPerDeg);
    EXPECT_GT(sim::Altitude(v, w->Body()), 0.4);
}

TEST(EulerAngles, RotationRoundTripsIncludingTheDegenerateCase) {
    const Vec3 cases[] = {Vec3(0.3, -0.4, 2.0), Vec3(-3.0, 1.2, -0.5), Vec3(0.7, sim::kPi / 2, 0.0),
                          Vec3(0.7, -sim::kPi / 2, 0.0), Vec3(0.0, 0.0, 0.0)};
    for (const Vec3 &e : cases) {
        const sim::Mat3 r = sim::RotationFromEuler(e);
        const sim::Mat3 back = sim::RotationFromEuler(sim::EulerFromRotation(r));
        EXPECT_LT((back - r).norm(), 1e-12) << e.transpose();
    }
}

}  // namespace
}  // namespace vtal::simtest
