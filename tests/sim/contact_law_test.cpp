// The host's surface contact law, evaluated directly on hand-built vessels
// placed just below the Moon's mean-radius surface. Expected loads are worked
// out here from the host's formulas: springs and dampers along the local
// vertical, friction along the touchdown layout's own longitudinal and
// lateral directions, the anti-reversal limit on the friction sums and the
// moment limit per sub-step.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "SimTestSupport.h"
#include "sim/vessel/Contact.h"
#include "sim/vessel/Integration.h"

namespace vtal::simtest {
namespace {

using sim::Kinematics;
using sim::Mat3;
using sim::Quat;
using sim::Vessel;
using Layout = std::array<Vec3, 3>;

// The host's Moon: mean radius and sidereal period.
constexpr double kMoonRadius = 1738000.0;                          // m
constexpr double kMoonSpin = 2.0 * sim::kPi / 2360588.15;          // rad/s
constexpr double kSubstep = 1.0 / 600.0;                           // s: a frame of 1/60 s in ten sub-steps
constexpr double kDeg = sim::kPi / 180.0;

// p0 in front, p1 left, p2 right, a metre below the origin: the plane's
// normal is the vessel's +y.
const Layout kAlongZ{Vec3(0, -1, 1), Vec3(-1, -1, -1), Vec3(1, -1, -1)};
// The same layout turned to point its front along the vessel's +x: the
// longitudinal direction is then +x and the lateral one -z.
const Layout kAlongX{Vec3(1, -1, 0), Vec3(0, -1, 1), Vec3(0, -1, -1)};

Vessel ContactVessel(const Layout &p, double emptyMass = 1000.0, double muLng = 0.1, double muLat = 0.5) {
    Vessel v;
    v.def.size = 1.0;
    v.def.emptyMass = emptyMass;
    v.def.pmi = Vec3(0.5, 0.5, 0.5);
    v.def.frictionLng = muLng;
    v.def.frictionLat = muLat;
    EXPECT_TRUE(sim::SetTouchdownPoints(v.def, p[0], p[1], p[2]));
    return v;
}

// A surface site in the global frame (latitude and longitude in degrees).
struct Site {
    double lat = 20.0, lng = 35.0;
    Vec3 Up() const {
        return Vec3(std::cos(lat * kDeg) * std::cos(lng * kDeg), std::sin(lat * kDeg),
                    std::cos(lat * kDeg) * std::sin(lng * kDeg));
    }
    Vec3 East() const { return Vec3(-std::sin(lng * kDeg), 0.0, std::cos(lng * kDeg)); }
    Vec3 North() const { return Up().cross(East()) * -1.0; }
};

// The Moon with its spin axis along the global y axis: a site's global
// coordinates are then its body-fixed ones turned about y.
const sim::CentralBody &UprightMoon() {
    static const sim::CentralBody upright = [] {
        sim::CentralBody b = sim::Moon();
        b.rotation.obliquity = 0.0;
        b.rotation.precessionObliquity = 0.0;
        b.SetDate(sim::kRotationEpochMjd);
        return b;
    }();
    return upright;
}

// Velocity of the turning Moon's body-fixed point at global position r.
Vec3 SpinVelocity(const Vec3 &r) { return Vec3(-r.z() * kMoonSpin, 0.0, r.x() * kMoonSpin); }

// The origin `height` m above the surface at the site, the nose at `heading`
// (deg from north towards east) and raised by `pitch` (deg); the ground
// velocity and the rates are given in the vessel frame.
Kinematics Placed(double height, double heading = 0.0, const Vec3 &groundVelocity = Vec3::Zero(),
                  const Vec3 &omega = Vec3::Zero(), double pitch = 0.0, const Site &site = Site()) {
    const Vec3 up = site.Up();
    const Vec3 level = std::cos(heading * kDeg) * site.North() + std::sin(heading * kDeg) * site.East();
    const Vec3 nose = std::cos(pitch * kDeg) * level + std::sin(pitch * kDeg) * up;
    const Vec3 top = std::cos(pitch * kDeg) * up - std::sin(pitch * kDeg) * level;
    Mat3 r;
    r.col(0) = top.cross(nose);  // right, for a left-handed vessel frame
    r.col(1) = top;
    r.col(2) = nose;
    Kinematics k;
    k.positionGlobal = up * (kMoonRadius + height);
    k.attitude = Quat(r);
    k.attitude.normalize();
    k.velocityGlobal = SpinVelocity(k.positionGlobal) + k.attitude * groundVelocity;
    k.bodyRates = omega;
    return k;
}

double Depth(const Kinematics &k, const Vec3 &p) { return (k.positionGlobal + k.attitude * p).norm() - kMoonRadius; }
double SpeedFactor(double v) { return std::fabs(v) < 10.0 ? std::sqrt(0.1 * std::fabs(v)) : 1.0; }
// The local vertical in the vessel frame.
Vec3 Vertical(const Kinematics &k) { return k.attitude.conjugate() * k.positionGlobal.normalized(); }

sim::ContactLoads Contact(const Vessel &v, const Kinematics &k, double h = kSubstep) {
    return sim::SurfaceContact(v, k, v.Mass(), UprightMoon(), h);
}

TEST(ContactPoints, StiffnessIsTwentyTimesTheEmptyMassAndOneMillionAtTheDefault) {
    struct Case {
        double emptyMass, stiffness;
    };
    for (const Case c : {Case{1000.0, 1e6}, Case{343.0, 6860.0}, Case{999.5, 19990.0}, Case{2500.0, 50000.0}}) {
        const Vessel v = ContactVessel(kAlongZ, c.emptyMass);
        EXPECT_DOUBLE_EQ(v.def.stiffness, c.stiffness) << c.emptyMass;
        EXPECT_DOUBLE_EQ(v.def.damping, 0.1 * c.stiffness) << c.emptyMass;
    }
}

TEST(ContactPoints, StiffnessIsTakenWhenThePointsAreSet) {
    Vessel v = ContactVessel(kAlongZ, 1000.0);
    v.def.emptyMass = 400.0;  // afterwards: the springs keep their stiffness
    EXPECT_DOUBLE_EQ(v.def.stiffness, 1e6);
    const Kinematics k = Placed(0.99);
    double expected = 0.0;
    for (const Vec3 &p : kAlongZ) expected += -Depth(k, p) * 1e6;
    EXPECT_NEAR(Contact(v, k).force.dot(Vertical(k)), expected, 1e-6 * expected);
    // Setting the points again takes the new empty mass.
    ASSERT_TRUE(sim::SetTouchdownPoints(v.def, kAlongZ[0], kAlongZ[1], kAlongZ[2]));
    EXPECT_DOUBLE_EQ(v.def.stiffness, 8000.0);
    EXPECT_DOUBLE_EQ(v.def.damping, 800.0);
}

TEST(ContactPoints, PointsThatSpanNoPlaneAreRefusedAndChangeNothing) {
    Vessel v = ContactVessel(kAlongZ, 1000.0);
    v.def.emptyMass = 500.0;
    const Layout collinear{Vec3(0, -1, 1), Vec3(0, -1, 0), Vec3(0, -1, -1)};
    const Layout coincident{Vec3(0, -1, 1), Vec3(1, -1, -1), Vec3(1, -1, -1)};
    for (const Layout &p : {collinear, coincident}) {
        EXPECT_FALSE(sim::SetTouchdownPoints(v.def, p[0], p[1], p[2]));
        EXPECT_EQ(v.def.touchdown[1], kAlongZ[1]);
        EXPECT_DOUBLE_EQ(v.def.stiffness, 1e6);
    }
}

TEST(ContactPoints, ThePlaneNormalFollowsThePointOrder) {
    EXPECT_LT((sim::TouchdownNormal(kAlongZ) - Vec3::UnitY()).norm(), 1e-15);
    EXPECT_LT((sim::TouchdownNormal(kAlongX) - Vec3::UnitY()).norm(), 1e-15);
    // Left and right swapped: the plane faces down.
    EXPECT_LT((sim::TouchdownNormal({kAlongZ[0], kAlongZ[2], kAlongZ[1]}) + Vec3::UnitY()).norm(), 1e-15);
}

// fn = -t k - g_n (0.1 k) per point below the surface, never clamped at zero.
TEST(NormalForce, SpringAndDamperPushAndPullAlongTheVertical) {
    const Vessel v = ContactVessel(kAlongZ);
    const double k = 1e6, d = 1e5;
    struct Case {
        double height, rise;  // origin above the surface, m; vertical ground velocity, m/s
    };
    for (const Case c : {Case{0.99, 0.0}, Case{0.99, -0.05}, Case{0.99, 1.0}, Case{0.7, 0.4}}) {
        const Kinematics kin = Placed(c.height, 0.0, Vec3(0.0, c.rise, 0.0));
        double expected = 0.0;
        for (const Vec3 &p : kAlongZ) expected += -Depth(kin, p) * k - c.rise * d;
        const sim::ContactLoads loads = Contact(v, kin);
        EXPECT_NEAR(loads.force.dot(Vertical(kin)), expected, 1e-6 * std::fabs(expected) + 1e-6) << c.rise;
        // No sliding, no friction: the whole force is vertical.
        EXPECT_LT((loads.force - loads.force.dot(Vertical(kin)) * Vertical(kin)).norm(), 1e-6);
    }
    // Rising at 1 m/s from 1 cm deep: the dampers pull the vessel down.
    EXPECT_LT(Contact(v, Placed(0.99, 0.0, Vec3(0.0, 1.0, 0.0))).force.dot(Vec3::UnitY()), -2.6e5);
}

TEST(NormalForce, DepthCountsAtMostOneMetre) {
    const Vessel v = ContactVessel(kAlongZ);
    const auto pushAt = [&](double height) { return Contact(v, Placed(height)).force.dot(Vec3::UnitY()); };
    EXPECT_NEAR(pushAt(-1.0), 3.0e6, 1e-6);  // 2 m deep pushes as 1 m
    EXPECT_NEAR(pushAt(-0.5), 3.0e6, 1e-6);
    for (double height : {0.5, 0.2}) {
        const Kinematics k = Placed(height);
        double expected = 0.0;
        for (const Vec3 &p : kAlongZ) expected += -Depth(k, p) * 1e6;
        EXPECT_NEAR(pushAt(height), expected, 1e-6 * expected) << height;
    }
}

// The depth is radial: over the Moon's curve a point far out from the centre
// of gravity stands higher than its height along the local vertical says
// (by about |p|^2 / 2R: 5 micrometres for these legs).
TEST(NormalForce, DepthIsMeasuredRadiallyOverTheCurvedSurface) {
    const Layout wide{Vec3(0, -1, 3), Vec3(-3, -1, -3), Vec3(3, -1, -3)};
    const Vessel v = ContactVessel(wide);
    int compared = 0;
    for (const double pitch : {0.0, 8.0, -10.0}) {
        const Kinematics k = Placed(0.999, 0.0, Vec3::Zero(), Vec3::Zero(), pitch);
        for (std::size_t i = 0; i < 3; ++i) {
            const double depth = Depth(k, wide[i]);
            if (depth >= 0.0 || depth <= -1.0) continue;  // above ground, or past the depth cap
            ++compared;
            // Each point alone: the others lifted far above the ground.
            Layout one = wide;
            for (std::size_t j = 0; j < 3; ++j)
                if (j != i) one[j] = wide[j] + Vec3(0, 50, 0);
            Vessel single = ContactVessel(one);
            single.def.stiffness = v.def.stiffness;
            const double push = -Contact(single, k).force.dot(Vertical(k)) / v.def.stiffness;
            EXPECT_NEAR(push, depth, 1e-9) << pitch << " point " << i;
        }
    }
    EXPECT_GE(compared, 5);
}

// Only the points below the surface push; the moment is that of their forces
// about the origin (F x r), so the front point alone noses the vessel up.
TEST(NormalForce, OnlyPointsBelowTheSurfacePushAndTurnTheVessel) {
    const Layout frontLow{Vec3(0, -1.5, 1), Vec3(-1, -1, -1), Vec3(1, -1, -1)};
    const Vessel v = ContactVessel(frontLow);
    const Kinematics k = Placed(1.2);
    ASSERT_LT(Depth(k, frontLow[0]), 0.0);
    ASSERT_GT(Depth(k, frontLow[1]), 0.0);
    const double f = -Depth(k, frontLow[0]) * 1e6;
    const sim::ContactLoads loads = Contact(v, k);
    EXPECT_NEAR(loads.force.y(), f, 1e-6 * f);
    EXPECT_NEAR(loads.torque.x(), f * 1.0, 1e-6 * f);  // lever: the point's z
    EXPECT_NEAR(loads.torque.y(), 0.0, 1e-6 * f);
    EXPECT_NEAR(loads.torque.z(), 0.0, 1e-6 * f);
}

// A point's own velocity includes the turn: p x w. Nosing up lifts the front
// point and sinks the rear ones, so their dampers share the load unevenly.
TEST(NormalForce, PointVelocityIncludesTheVesselsTurn) {
    const Vessel v = ContactVessel(kAlongZ);
    const double wx = 0.2;  // rad/s, nose up
    const Kinematics k = Placed(0.95, 0.0, Vec3::Zero(), Vec3(wx, 0.0, 0.0));
    const double t0 = Depth(k, kAlongZ[0]), t1 = Depth(k, kAlongZ[1]), t2 = Depth(k, kAlongZ[2]);
    const double front = -t0 * 1e6 - wx * 1e5, rear = -t1 * 1e6 + wx * 1e5, rear2 = -t2 * 1e6 + wx * 1e5;
    const sim::ContactLoads loads = Contact(v, k);
    EXPECT_NEAR(loads.force.y(), front + rear + rear2, 1e-3);
    EXPECT_NEAR(loads.torque.x(), front * 1.0 - (rear + rear2) * 1.0, 1e-3);
    // The turn slides the points along z, but the centre of gravity does not
    // move that way: no longitudinal friction.
    EXPECT_NEAR(loads.force.z(), 0.0, 1e-6);
}

// Sliding forward while yawing, the points on the outside of the turn slide
// faster and rub harder (s(v) grows with speed): the friction moment then
// opposes the yaw.
TEST(FrictionMoment, PointsOutsideATurnRubHarderAndTheMomentOpposesTheYaw) {
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    const double forward = 0.5, yaw = 0.3;  // m/s along z; rad/s about y
    const Kinematics k = Placed(0.95, 0.0, Vec3(0.0, 0.0, forward), Vec3(0.0, yaw, 0.0));
    double moment = 0.0, sum = 0.0;
    for (const Vec3 &p : kAlongZ) {
        const double slide = forward + p.dot(Vec3(0.0, yaw, 0.0).cross(Vec3::UnitZ()));  // (p x w).z
        const double f = -0.1 * std::min(-Depth(k, p), 0.1) * 1e6 * SpeedFactor(slide);
        sum += f;
        moment += f * p.x();  // (f z) x p, about y
    }
    const sim::ContactLoads loads = Contact(v, k);
    ASSERT_LT(moment, 0.0);
    EXPECT_NEAR(loads.force.z(), sum, 1e-6 * std::fabs(sum));
    EXPECT_NEAR(loads.torque.y(), moment, 1e-6 * std::fabs(moment));
}

// A vessel that never sets its friction coefficients has the host's: 0.1
// along the layout's front, 0.5 across it.
TEST(FrictionDefaults, OneTenthAlongAndOneHalfAcross) {
    Vessel v;
    v.def.size = 1.0;
    ASSERT_TRUE(sim::SetTouchdownPoints(v.def, kAlongZ[0], kAlongZ[1], kAlongZ[2]));
    const double slide = 0.4;  // m/s, with the points about 5 cm deep
    const Kinematics forward = Placed(0.95, 0.0, Vec3(0.0, 0.0, slide));
    const Kinematics sideways = Placed(0.95, 0.0, Vec3(slide, 0.0, 0.0));
    double rub = 0.0;  // sum of P s(v) over the points
    for (const Vec3 &p : kAlongZ) rub += -Depth(forward, p) * 1e6 * SpeedFactor(slide);
    EXPECT_NEAR(Contact(v, forward).force.z(), -0.1 * rub, 1e-6 * rub);
    EXPECT_NEAR(Contact(v, sideways).force.x(), -0.5 * rub, 1e-6 * rub);
}

struct SlideCase {
    double speed;  // m/s along the vessel axis
    double depth;  // m, of the origin's layout below the surface
};

class Friction : public ::testing::TestWithParam<SlideCase> {};

// The turned layout: sliding along the vessel's x is longitudinal (mu_lng),
// along its z lateral (mu_lat). Size mu P s(v) per point, P = min(depth, 0.1) k.
TEST_P(Friction, UsesMuLngAlongTheLayoutsFrontAndMuLatAcrossIt) {
    const SlideCase c = GetParam();
    const Vessel v = ContactVessel(kAlongX, 1000.0, 0.1, 0.5);
    const Kinematics alongX = Placed(1.0 - c.depth, 0.0, Vec3(c.speed, 0.0, 0.0));
    const Kinematics alongZ = Placed(1.0 - c.depth, 0.0, Vec3(0.0, 0.0, c.speed));
    double lng = 0.0, lat = 0.0;
    for (const Vec3 &p : kAlongX) {
        lng += 0.1 * std::min(-Depth(alongX, p), 0.1) * 1e6 * SpeedFactor(c.speed);
        lat += 0.5 * std::min(-Depth(alongZ, p), 0.1) * 1e6 * SpeedFactor(c.speed);
    }
    const Vec3 fx = Contact(v, alongX).force, fz = Contact(v, alongZ).force;
    EXPECT_NEAR(fx.x(), -lng, 1e-6 * lng);  // against the slide
    EXPECT_NEAR(fx.z(), 0.0, 1e-6 * lng);
    EXPECT_NEAR(fz.z(), -lat, 1e-6 * lat);
    EXPECT_NEAR(fz.x(), 0.0, 1e-6 * lat);
    // Sliding the other way reverses the friction.
    const Kinematics back = Placed(1.0 - c.depth, 0.0, Vec3(-c.speed, 0.0, 0.0));
    EXPECT_NEAR(Contact(v, back).force.x(), lng, 1e-6 * lng);
}

INSTANTIATE_TEST_SUITE_P(BySpeedAndDepth, Friction,
                         ::testing::Values(SlideCase{0.4, 0.05}, SlideCase{3.0, 0.05}, SlideCase{9.5, 0.02},
                                           SlideCase{25.0, 0.05}, SlideCase{3.0, 0.3}, SlideCase{3.0, 0.8}));

// The longitudinal direction is the layout's front projected on the
// horizontal: on a nose-up vessel friction stays horizontal.
TEST(FrictionDirection, LongitudinalAxisIsProjectedOnTheHorizontal) {
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    const Site site;
    const double pitch = 10.0, speed = 2.0;
    // Sliding north, horizontally, under a vessel facing north with its nose up.
    Kinematics k = Placed(0.78, 0.0, Vec3::Zero(), Vec3::Zero(), pitch);
    k.velocityGlobal += speed * site.North();
    double normal = 0.0, lng = 0.0;
    for (const Vec3 &p : kAlongZ) {
        const double t = Depth(k, p);
        ASSERT_LT(t, 0.0);
        normal += -t * 1e6;
        lng += 0.1 * std::min(-t, 0.1) * 1e6 * SpeedFactor(speed);
    }
    const Vec3 f = k.attitude * Contact(v, k).force;  // global
    EXPECT_NEAR(f.dot(site.Up()), normal, 1e-6 * normal);
    EXPECT_NEAR(f.dot(site.North()), -lng, 1e-6 * lng);
    EXPECT_NEAR(f.dot(site.East()), 0.0, 1e-6 * lng);
}

// |sum| <= |v_cg . d| m / h along each axis: the friction of one sub-step
// may stop the slide but not reverse it.
TEST(FrictionLimit, SumsCannotReverseTheCentreOfGravitysSlide) {
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    const double slow = 0.01, h = 0.1;  // limit: 0.01 m/s x 1000 kg / 0.1 s = 100 N
    const double limit = slow * v.Mass() / h;
    const Kinematics forward = Placed(0.95, 0.0, Vec3(0.0, 0.0, slow));
    const Kinematics sideways = Placed(0.95, 0.0, Vec3(-slow, 0.0, 0.0));
    // Unlimited, each would be several hundred newtons.
    ASSERT_GT(3 * 0.1 * 0.05e6 * SpeedFactor(slow), 4 * limit);
    EXPECT_NEAR(Contact(v, forward, h).force.z(), -limit, 1e-6 * limit);
    EXPECT_NEAR(Contact(v, sideways, h).force.x(), limit, 1e-6 * limit);
    // Over a short sub-step the same slide gets its full friction.
    double full = 0.0;
    for (const Vec3 &p : kAlongZ) full += 0.1 * std::min(-Depth(forward, p), 0.1) * 1e6 * SpeedFactor(slow);
    EXPECT_NEAR(Contact(v, forward, kSubstep).force.z(), -full, 1e-6 * full);
}

// The limit uses the centre of gravity's velocity, not the points': a
// yawing vessel whose centre slides forward only gets no lateral friction,
// and its longitudinal friction adds up each point's own slide.
TEST(FrictionLimit, ZeroAlongAnAxisOnWhichTheCentreOfGravityDoesNotMove) {
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    const double u = 1.0, wy = 0.5;
    const Kinematics k = Placed(0.95, 0.0, Vec3(0.0, 0.0, u), Vec3(0.0, wy, 0.0));
    // p x w along z: 0 for the front point, -wy and +wy for the rear ones.
    const double slides[3] = {u, u - wy, u + wy};
    double lng = 0.0;
    for (int i = 0; i < 3; ++i) lng += 0.1 * std::min(-Depth(k, kAlongZ[i]), 0.1) * 1e6 * SpeedFactor(slides[i]);
    const sim::ContactLoads loads = Contact(v, k);
    EXPECT_NEAR(loads.force.z(), -lng, 1e-6 * lng);
    EXPECT_NEAR(loads.force.x(), 0.0, 1e-6);
}

// A vessel tumbling in the ground can stand on its tail: the layout's front
// then points straight up and has no direction in the ground's plane. Its
// friction is taken across the lateral axis instead (p1 to p2 crossed with
// the vertical), and every load stays a number.
TEST(FrictionDirection, WithTheFrontStraightUpItIsTakenAcrossTheLateralAxis) {
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    // Over latitude 0, longitude 0 the vertical is the global x axis; the
    // vessel's nose (+z) along it, its top (+y) along global z: the rotation
    // is a permutation, exact in floating point, and so is the vertical in
    // the vessel frame.
    Mat3 r;
    r << 0, 0, 1, 1, 0, 0, 0, 1, 0;
    const double slide = 20.0;  // m/s along the vessel's x
    Kinematics k;
    k.positionGlobal = Vec3(kMoonRadius + 0.95, 0.0, 0.0);
    k.attitude = Quat(r);
    k.velocityGlobal = SpinVelocity(k.positionGlobal) + r * Vec3(slide, 0.0, 0.0);
    ASSERT_EQ(Vertical(k), Vec3::UnitZ());
    ASSERT_LT(Depth(k, kAlongZ[1]), 0.0);
    ASSERT_GT(Depth(k, kAlongZ[0]), 0.0);  // the front point is up in the air

    const sim::ContactLoads loads = Contact(v, k);
    ASSERT_TRUE(loads.force.allFinite());
    ASSERT_TRUE(loads.torque.allFinite());
    double push = 0.0, rub = 0.0;
    for (const Vec3 &p : {kAlongZ[1], kAlongZ[2]}) {
        push += -Depth(k, p) * 1e6;
        rub += 0.5 * std::min(-Depth(k, p), 0.1) * 1e6;  // mu_lat, full speed factor at 20 m/s
    }
    // (p2 - p1) x up = (2, 0, 0) x (0, 0, 1) = -2 y: the longitudinal
    // direction is -y, the lateral one up x (-y) = +x, along the slide.
    EXPECT_NEAR(loads.force.z(), push, 1e-6 * push);
    EXPECT_NEAR(loads.force.x(), -rub, 1e-6 * rub);
    EXPECT_NEAR(loads.force.y(), 0.0, 1e-6);
}

// If the contact moment would turn the vessel by more than 10 degrees within
// a sub-step (alpha h^2), it is scaled to exactly that; the force never is.
TEST(MomentLimit, ScalesTheMomentToTenDegreesPerSubstep) {
    const Layout frontLow{Vec3(0, -1.5, 1), Vec3(-1, -1, -1), Vec3(1, -1, -1)};
    const Vessel v = ContactVessel(frontLow);
    const Kinematics k = Placed(1.2);
    const double f = -Depth(k, frontLow[0]) * 1e6;
    const double inertia = v.def.pmi.x() * v.Mass();
    const double h = 0.05;
    ASSERT_GT(f / inertia * h * h, 10.0 * kDeg);
    const sim::ContactLoads limited = Contact(v, k, h);
    EXPECT_NEAR(limited.torque.x() / inertia * h * h, 10.0 * kDeg, 1e-9);
    EXPECT_NEAR(limited.torque.y(), 0.0, 1e-6);
    EXPECT_NEAR(limited.force.y(), f, 1e-6 * f);
    // Half as much again as the limit is cut back to it too.
    const double hOver = std::sqrt(15.0 * kDeg * inertia / f);
    EXPECT_NEAR(Contact(v, k, hOver).torque.x() / inertia * hOver * hOver, 10.0 * kDeg, 1e-9);
    // Below the limit the moment is the points' own.
    ASSERT_LT(f / inertia * kSubstep * kSubstep, 10.0 * kDeg);
    EXPECT_NEAR(Contact(v, k, kSubstep).torque.x(), f, 1e-6 * f);
}

// Contact is looked at only while the centre of gravity is within twice the
// vessel's size of the surface, however long its legs.
TEST(ContactRange, OnlyWithinTwoSizesAboveTheSurface) {
    const Layout longLegs{Vec3(0, -3, 1), Vec3(-1, -3, -1), Vec3(1, -3, -1)};
    const Vessel v = ContactVessel(longLegs);
    const Kinematics out = Placed(2.05), in = Placed(1.95);
    ASSERT_LT(Depth(out, longLegs[0]), -0.9);
    EXPECT_EQ(Contact(v, out).force, Vec3::Zero());
    EXPECT_FALSE(sim::PointBelowSurface(v, out, UprightMoon()));
    EXPECT_NEAR(Contact(v, in).force.y(), 3.0e6, 1.0);  // 1.05 m deep, counted as 1 m
    EXPECT_TRUE(sim::PointBelowSurface(v, in, UprightMoon()));
}

TEST(ContactRange, GroundContactNeedsAPointStrictlyBelow) {
    const Vessel v = ContactVessel(kAlongZ);
    EXPECT_FALSE(sim::PointBelowSurface(v, Placed(1.0 + 1e-5), UprightMoon()));
    EXPECT_TRUE(sim::PointBelowSurface(v, Placed(1.0 - 1e-5), UprightMoon()));
    EXPECT_EQ(Contact(v, Placed(1.0 + 1e-5)).force, Vec3::Zero());
}

// The ground turns under a vessel at rest in the global frame: over the
// equator it slides west at 4.63 m/s, and friction pushes it east.
TEST(GroundVelocity, IncludesTheMoonsSpin) {
    EXPECT_DOUBLE_EQ(UprightMoon().radius, kMoonRadius);
    EXPECT_NEAR(kMoonSpin * kMoonRadius, 4.626, 0.001);
    const Vessel v = ContactVessel(kAlongZ, 1000.0, 0.1, 0.5);
    Site equator;
    equator.lat = 0.0;
    Kinematics still = Placed(0.95, 0.0, Vec3::Zero(), Vec3::Zero(), 0.0, equator);  // nose north
    const double slide = SpinVelocity(still.positionGlobal).norm();
    still.velocityGlobal.setZero();
    double lat = 0.0;
    for (const Vec3 &p : kAlongZ) lat += 0.5 * std::min(-Depth(still, p), 0.1) * 1e6 * SpeedFactor(slide);
    const Vec3 f = still.attitude * Contact(v, still).force;
    EXPECT_NEAR(f.dot(equator.East()), lat, 1e-6 * lat);
    EXPECT_NEAR(f.dot(equator.North()), 0.0, 1e-6);
    // Moving with the surface, it does not slide at all.
    const Kinematics carried = Placed(0.95, 0.0, Vec3::Zero(), Vec3::Zero(), 0.0, equator);
    const Vec3 g = carried.attitude * Contact(v, carried).force;
    EXPECT_NEAR(g.dot(equator.East()), 0.0, 1e-6);
    EXPECT_NEAR(g.dot(equator.North()), 0.0, 1e-6);
}

// A step that first finds a point below the surface is flown again in
// contact from its start; an approach faster than 0.1 m per sub-step (60 m/s
// at 1/60 s) scales the whole ground velocity down to that first.
TEST(ContactEntry, FastApproachIsScaledToSixtyMetresPerSecond) {
    struct Case {
        double sink, keptFraction;
    };
    for (const Case c : {Case{100.0, 0.6}, Case{40.0, 1.0}}) {
        Vessel v = ContactVessel(kAlongZ, 1000.0, 0.0, 0.0);  // frictionless: the drift shows the scaling
        const Site site;
        const double drift = 10.0;  // m/s east
        v.motion = Placed(1.5, 0.0, Vec3(drift, -c.sink, 0.0), Vec3::Zero(), 0.0, site);
        ASSERT_FALSE(v.contact.groundContact);
        sim::Propagate(v, UprightMoon(), sim::Loads{}, 1.0 / 60.0);
        EXPECT_TRUE(v.contact.groundContact) << c.sink;
        const Vec3 ground = v.motion.velocityGlobal - SpinVelocity(v.motion.positionGlobal);
        EXPECT_NEAR(ground.dot(site.East()), drift * c.keptFraction, 0.01) << c.sink;
    }
}

// The lander sets its empty mass before its touchdown points: 20 x 343 kg.
TEST(ContactPoints, LanderSpringsComeFromItsEmptyMass) {
    Start s;
    s.alt = 100.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    const Vessel &v = *w->Focus();
    EXPECT_DOUBLE_EQ(v.def.emptyMass, 343.0);
    EXPECT_DOUBLE_EQ(v.def.stiffness, 6860.0);
    EXPECT_DOUBLE_EQ(v.def.damping, 686.0);
}

// Ten sub-steps a frame, as the host takes them, for the lander; a vessel so
// stiff and light on its points that ten would not damp it stably gets more,
// and more again for a longer frame.
TEST(ContactSubsteps, TenForTheLanderMoreForAStiffLightVessel) {
    Start s;
    s.alt = 100.0;
    auto w = MakeWorld(ScenarioWith(LanderBlock(FlyingLines(s))));
    const Vessel &lander = *w->Focus();
    EXPECT_EQ(sim::ContactSubsteps(lander.def, lander.Mass(), 1.0 / 60.0), 10);
    EXPECT_EQ(sim::ContactSubsteps(lander.def, lander.Mass(), 0.1), 10);

    Vessel stiff = ContactVessel(kAlongZ);  // 1e6 N/m per point on 1000 kg, 0.5 m^2 per kg
    const int atFrame = sim::ContactSubsteps(stiff.def, stiff.Mass(), 1.0 / 60.0);
    EXPECT_GT(atFrame, 10);
    EXPECT_LT(atFrame, 100);
    EXPECT_GE(sim::ContactSubsteps(stiff.def, stiff.Mass(), 0.1), 5 * atFrame);
    // Ten more tonnes of propellant make it soft enough for ten.
    EXPECT_EQ(sim::ContactSubsteps(stiff.def, 11000.0, 1.0 / 60.0), 10);
    // Without inertia or mass no number of sub-steps helps: the host's ten.
    Vessel flat = ContactVessel(kAlongZ);
    flat.def.pmi = Vec3(0.5, 0.0, 0.5);
    EXPECT_EQ(sim::ContactSubsteps(flat.def, flat.Mass(), 1.0 / 60.0), 10);
    EXPECT_EQ(sim::ContactSubsteps(stiff.def, 0.0, 1.0 / 60.0), 10);
    // The lander on frames longer than the host's longest (0.1 s) needs more.
    EXPECT_GT(sim::ContactSubsteps(lander.def, lander.Mass(), 1.0), 10);
}

// That vessel, let down rocking onto its points, comes to rest: the rocking
// dies away instead of growing.
TEST(ContactSubsteps, AStiffVesselsRockingDiesAway) {
    for (const double pmi : {0.5, 0.2}) {
        Vessel v = ContactVessel(kAlongZ);
        v.def.pmi = Vec3(pmi, pmi, pmi);
        const Site site;
        const double rest = 1.0 - 1000.0 * 1.6231 / 3e6;  // CG height with the springs under its weight
        v.motion = Placed(rest, 0.0, Vec3::Zero(), Vec3(0.2, 0.0, 0.1), 0.0, site);
        v.contact.groundContact = true;
        for (int frame = 0; frame < 120; ++frame) EXPECT_TRUE(sim::Propagate(v, UprightMoon(), sim::Loads{}, 1.0 / 60.0));
        EXPECT_LT(v.motion.bodyRates.norm(), 1e-4) << pmi;
        EXPECT_NEAR(v.motion.positionGlobal.norm() - kMoonRadius, rest, 1e-3) << pmi;
    }
}

// Without damping or friction the sub-steps keep a rocking as it is: each
// moves the rates first and the pose with the new rates. Moving the pose with
// the old ones (explicit Euler) would let the rocking grow on its own.
TEST(ContactSubsteps, AnUndampedRockingNeitherGrowsNorDies) {
    Vessel v = ContactVessel(kAlongZ, 1000.0, 0.0, 0.0);
    v.def.pmi = Vec3(0.2, 0.2, 0.2);
    v.def.damping = 0.0;
    const double rest = 1.0 - 1000.0 * 1.6231 / 3e6;
    v.motion = Placed(rest, 0.0, Vec3::Zero(), Vec3(0.2, 0.0, 0.1), 0.0, Site());
    v.contact.groundContact = true;
    double firstSecond = 0.0, lastSecond = 0.0;
    for (int frame = 0; frame < 240; ++frame) {
        sim::Propagate(v, UprightMoon(), sim::Loads{}, 1.0 / 60.0);
        double &peak = frame < 60 ? firstSecond : lastSecond;
        if (frame < 60 || frame >= 180) peak = std::max(peak, v.motion.bodyRates.norm());
    }
    EXPECT_GT(lastSecond, 0.5 * firstSecond);
    EXPECT_LT(lastSecond, 1.5 * firstSecond);
}

// Without a load, a spinning vessel's angular momentum only turns about its
// rates (Euler's equations): its size stays, and so the rates stay within
// |I w| / I_min. A contact sub-step that added h w x (I w) to it instead
// would lengthen it every sub-step by a factor that grows with |w| h, and a
// vessel spinning at 1000 deg/s at frames of 1 s would spin up without end.
TEST(ContactSubsteps, ASpinningVesselKeepsTheSizeOfItsAngularMomentumAtLongFrames) {
    Vessel v = ContactVessel(kAlongZ, 343.0);  // the lander's springs
    v.def.pmi = Vec3(0.3, 0.3, 0.2);          // and its inertia, m^2
    // High above the ground, out of the points' reach, but flown in contact
    // sub-steps, as a vessel bouncing out of a crash is.
    v.motion = Placed(2000.0, 0.0, Vec3::Zero(), Vec3(0.9, 0.9, 17.4));
    v.contact.groundContact = true;
    const auto momentum = [&] { return v.def.pmi.cwiseProduct(v.motion.bodyRates).norm(); };  // per kg
    const double before = momentum();
    double fastest = 0.0;
    for (int frame = 0; frame < 20; ++frame) {
        ASSERT_TRUE(sim::Propagate(v, UprightMoon(), sim::Loads{}, 1.0));
        fastest = std::max(fastest, v.motion.bodyRates.norm());
    }
    EXPECT_NEAR(momentum(), before, 1e-9 * before);
    EXPECT_LE(fastest, before / 0.2 * (1.0 + 1e-9));
    EXPECT_GT(v.motion.positionGlobal.norm() - kMoonRadius, 2.0);  // never within reach of the ground
}

// A vessel without inertia about an axis (a passive vessel of no size) keeps
// its rate about that axis, while the contact moment still turns it about
// the others.
TEST(ContactSubsteps, AnAxisWithoutInertiaKeepsItsRateAndTheOthersTurn) {
    const Layout frontLow{Vec3(0, -1.5, 1), Vec3(-1, -1, -1), Vec3(1, -1, -1)};
    Vessel v = ContactVessel(frontLow);
    v.def.pmi = Vec3(0.5, 0.0, 0.5);
    v.motion = Placed(1.2, 0.0, Vec3::Zero(), Vec3(0.0, 0.3, 0.0));  // the front point alone in the ground
    v.contact.groundContact = true;
    sim::Propagate(v, UprightMoon(), sim::Loads{}, 1.0 / 60.0);
    ASSERT_TRUE(v.motion.bodyRates.allFinite());
    EXPECT_GT(v.motion.bodyRates.x(), 0.1);  // nosed up by the front point
    EXPECT_EQ(v.motion.bodyRates.y(), 0.3);
}

// A vessel that would need more sub-steps than a frame may have is still
// flown, with as many as it may have, and the host warns once of it.
TEST(ContactSubsteps, TooStiffForTheLongestFramesIsFlownAndWarned) {
    Vessel stiff = ContactVessel(kAlongZ);
    stiff.def.pmi = Vec3(0.2, 0.2, 0.2);
    EXPECT_GT(sim::ContactSubsteps(stiff.def, stiff.Mass(), 1.0), sim::kMaxContactSubsteps);
    const Site site;
    stiff.motion = Placed(0.999, 0.0, Vec3::Zero(), Vec3::Zero(), 0.0, site);
    stiff.contact.groundContact = true;
    EXPECT_FALSE(sim::Propagate(stiff, UprightMoon(), sim::Loads{}, 1.0));
    EXPECT_TRUE(stiff.motion.positionGlobal.allFinite());

    Start s;
    s.alt = 0.999;  // the default vessel's points a metre below it, just in the ground
    auto w = MakeWorld(ScenarioWith("Probe:NoSuchClass\n" + FlyingLines(s) + "END\n", "Probe"), "", 1.0);
    for (int frame = 0; frame < 3; ++frame) w->Step();
    int warned = 0;
    for (const std::string &m : w->Warnings()) warned += m.find("too stiff and light") != std::string::npos;
    EXPECT_EQ(warned, 1);
}

}  // namespace
}  // namespace vtal::simtest
