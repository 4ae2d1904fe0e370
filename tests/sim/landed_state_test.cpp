// The host's landed state, through worlds: the rest test that lands a vessel
// still on the ground, the landed vessel turning with the Moon, its saved
// lines and how they are read back, the rest pose on the springs, and the
// release by thrust or by new touchdown points.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "SimTestSupport.h"
#include "sim/vessel/VesselStatus.h"
#include "sim/vessel/Actuation.h"

namespace vtal::simtest {
namespace {

using sim::Mat3;
using sim::Vessel;

constexpr double kMoonRadius = 1738000.0;
constexpr double kMoonGm = 4.9028e12;
constexpr double kMoonSpin = 2.0 * sim::kPi / 2360588.15;
constexpr double kDeg = sim::kPi / 180.0;

Vec3 BodyFixed(const sim::World &w, const Vec3 &global) { return w.Body().Orientation(w.Mjd()).transpose() * global; }

double Depth(const Vessel &v, const Vec3 &p) { return (v.motion.positionGlobal + v.motion.attitude * p).norm() - kMoonRadius; }

// The scenario's Euler angles (rad) as the host defines them.
Mat3 EulerMatrix(const Vec3 &e) {
    const double cx = std::cos(e.x()), sx = std::sin(e.x()), cy = std::cos(e.y()), sy = std::sin(e.y());
    const double cz = std::cos(e.z()), sz = std::sin(e.z());
    Mat3 r;
    r << cy * cz, cy * sz, -sy, sx * sy * cz - cx * sz, sx * sy * sz + cx * cz, sx * cy, cx * sy * cz + sx * sz,
        cx * sy * sz - sx * cz, cx * cy;
    return r;
}

// The lines of the first vessel block of a saved scenario.
std::vector<std::string> BlockLines(const std::string &saved) {
    std::istringstream in(saved.substr(saved.find("BEGIN_SHIPS")));
    std::vector<std::string> lines;
    std::string line;
    std::getline(in, line);  // BEGIN_SHIPS
    std::getline(in, line);  // name:class
    while (std::getline(in, line) && line != "END") lines.push_back(line);
    return lines;
}

std::string KeyOf(const std::string &line) {
    std::istringstream in(line);
    std::string k;
    in >> k;
    return k;
}

std::string PassiveBlock(const Start &s) { return "Probe:NoSuchClass\n" + FlyingLines(s) + "END\n"; }

// Steps until the vessel is landed; the time it landed, or -1.
double LandsWithin(sim::World &w, const Vessel &v, double seconds) {
    const long frames = std::lround(seconds / w.Dt());
    for (long i = 0; i < frames && !v.Landed(); ++i) w.Step();
    return v.Landed() ? v.contact.landedAt : -1.0;
}

// A vessel in contact, without thrust, still for more than 5 s: landed.
TEST(RestTest, AVesselLetGoAtRestLandsAfterFiveStillSeconds) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines())));
    Vessel &v = *w->Focus();
    ASSERT_TRUE(v.Landed());
    w->Step();
    // New touchdown points release it, at rest on its springs.
    const auto &p = v.def.touchdown;
    v.object->SetTouchdownPoints(sim::ToVector3(p[0]), sim::ToVector3(p[1]), sim::ToVector3(p[2]));
    const double released = w->SimTime();
    w->Step();
    ASSERT_FALSE(v.Landed());
    EXPECT_EQ(v.motion.bodyRates, Vec3::Zero());
    EXPECT_TRUE(v.contact.groundContact);
    RunFor(*w, 4.9);
    EXPECT_FALSE(v.Landed());
    const double landed = LandsWithin(*w, v, 2.0);
    EXPECT_GT(landed - released, 5.0);
    EXPECT_LT(landed - released, 6.0);  // seen: 5.53 s
}

// Moving is a squared displacement over the interval above 1e-4 m^2/s: a
// frictionless vessel sliding at 0.1 m/s never lands, one creeping at
// 0.02 m/s counts as still and lands.
TEST(RestTest, MovingMeansSquaredDisplacementOverTimeAboveTheThreshold) {
    struct Case {
        double slide;
        bool lands;
    };
    for (const Case c : {Case{0.1, false}, Case{0.02, true}}) {
        Start s;
        s.alt = 0.9995;  // the points a little below the surface
        s.vside = c.slide;
        auto w = MakeWorld(ScenarioWith(PassiveBlock(s), "Probe"));
        Vessel &v = *w->Focus();
        v.def.frictionLng = v.def.frictionLat = 0.0;
        const double landed = LandsWithin(*w, v, 12.0);
        EXPECT_EQ(landed >= 0.0, c.lands) << c.slide;
        EXPECT_TRUE(v.contact.groundContact) << c.slide;
        EXPECT_NEAR(GroundSpeed(*w, v), c.lands ? 0.0 : c.slide, c.lands ? 1e-5 : 1e-3) << c.slide;
    }
}

// A firing thruster (level above 0 with propellant) stops the rest test,
// even when its thrust cannot lift the vessel.
TEST(RestTest, NoLandingWhileAThrusterFires) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines())));
    Vessel &v = *w->Focus();
    sim::SetGroupLevel(v, THGROUP_MAIN, 0.1);  // 363 N against a weight of some 670 N
    w->Step();
    ASSERT_FALSE(v.Landed());  // the thrust released it
    EXPECT_EQ(LandsWithin(*w, v, 9.0), -1.0);
    EXPECT_TRUE(v.contact.groundContact);
    EXPECT_LT(GroundSpeed(*w, v), 1e-3);
    sim::SetGroupLevel(v, THGROUP_MAIN, 0.0);
    const double cut = w->SimTime();
    const double landed = LandsWithin(*w, v, 9.0);
    EXPECT_GT(landed - cut, 5.0);
}

// While landed it is not integrated: fixed in the body-fixed frame, carried
// round by the Moon at the speed of the mean-radius surface, with no airspeed
// and the altitude and heading it landed with.
TEST(Landed, TurnsWithTheMoonAndAnswersFrozenSurfaceValues) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(180.0, -23.4, 3.0))));
    Vessel &v = *w->Focus();
    ASSERT_TRUE(v.Landed());
    const Vec3 local = BodyFixed(*w, v.motion.positionGlobal), global = v.motion.positionGlobal;
    const double altitude = v.surface.altitude;
    const double t0 = w->SimTime();
    for (int i = 0; i < 600; ++i) {
        w->Step();
        ASSERT_TRUE(v.contact.groundContact);
        ASSERT_TRUE(v.Landed());
    }
    const double elapsed = w->SimTime() - t0;
    EXPECT_LT((BodyFixed(*w, v.motion.positionGlobal) - local).norm(), 1e-6);
    const double surfaceSpeed = kMoonSpin * kMoonRadius * std::cos(3.0 * kDeg);  // at the mean radius
    EXPECT_NEAR((v.motion.positionGlobal - global).norm(), surfaceSpeed * elapsed, 1e-3);
    EXPECT_NEAR(v.motion.velocityGlobal.norm(), surfaceSpeed, 1e-9);
    ASSERT_GT(kMoonSpin * v.motion.positionGlobal.norm() * std::cos(3.0 * kDeg) - surfaceSpeed, 1e-6);  // not the vessel's radius
    EXPECT_EQ(v.surface.airspeedVessel, Vec3::Zero());
    EXPECT_EQ(v.surface.airspeedHorizon, Vec3::Zero());
    EXPECT_EQ(v.surface.altitude, altitude);
    EXPECT_NEAR(v.surface.headingRad, 180.0 * kDeg, 1e-12);
    EXPECT_GT(altitude, 0.5);
}

// Read as landed without AROT, the vessel stands on its springs under its
// weight at the mean radius. The lander's layout is symmetric in x with the
// centre of gravity midway between front and rear: the front point carries
// half the weight, each rear point a quarter.
TEST(RestPose, LanderStandsOnItsSpringsWithTheHostsHeightAndTilt) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(90.0))));
    const Vessel &v = *w->Focus();
    const auto &p = v.def.touchdown;
    const double k = 20.0 * 343.0;
    const double weight = kMoonGm * v.Mass() / (kMoonRadius * kMoonRadius);
    EXPECT_NEAR(Depth(v, p[0]), -weight / (2 * k), 1e-5);
    EXPECT_NEAR(Depth(v, p[1]), -weight / (4 * k), 1e-5);
    EXPECT_NEAR(Depth(v, p[2]), -weight / (4 * k), 1e-5);
    // The host's height: h = n'.(-p0') of the compressed points' plane.
    const Vec3 up = Vec3::UnitY();
    const Vec3 q0 = p[0] + up * weight / (2 * k), q1 = p[1] + up * weight / (4 * k), q2 = p[2] + up * weight / (4 * k);
    const Vec3 n = (q0 - 0.5 * (q1 + q2)).cross(q2 - q1).normalized();
    const double height = n.dot(-q0);
    EXPECT_NEAR(v.contact.landed.altitude, height, 1e-9);
    EXPECT_NEAR(v.motion.positionGlobal.norm() - kMoonRadius, height, 1e-6);
    // Tilted nose down until that plane is level.
    EXPECT_NEAR(v.surface.pitchRad, std::atan2(n.z(), n.y()), 1e-9);
    EXPECT_LT(v.surface.pitchRad, -0.6 * kDeg);
    EXPECT_NEAR(v.surface.bankRad, 0.0, 1e-9);
    EXPECT_NEAR(v.surface.headingRad, 90.0 * kDeg, 1e-12);
}

// ALT alone, or an AROT before STATUS, does not place the vessel: only an
// AROT after STATUS does.
TEST(RestPose, AltWithoutAFollowingArotIsIgnored) {
    const std::string arot = "  AROT 10 20 30\n";
    for (const std::string &lines : {LandedLines() + "  ALT 5\n", arot + LandedLines() + "  ALT 5\n"}) {
        auto w = MakeWorld(ScenarioWith(LanderBlock(lines)));
        const Vessel &v = *w->Focus();
        EXPECT_TRUE(v.Landed());
        EXPECT_NEAR(v.contact.landed.altitude, 0.55, 0.02);
        EXPECT_NEAR(v.surface.bankRad, 0.0, 1e-9);
    }
}

// With AROT after STATUS: that attitude relative to the body-fixed frame,
// ALT as the height; HEADING only sets the heading the host reports. Pitch
// and bank are read off the attitude as atan2(up.z, up.y), atan2(up.x, up.y).
TEST(LandedLines, ArotAfterStatusRestoresTheBodyFixedAttitudeAndAlt) {
    const Vec3 arotDeg(12.0, -7.0, 40.0);
    const auto lines = [&](double heading) {
        return LandedLines(heading, 51.0, -12.0) + "  ALT 0.700\n  AROT 12 -7 40\n";
    };
    auto w = MakeWorld(ScenarioWith(LanderBlock(lines(30.0))));
    const Vessel &v = *w->Focus();
    ASSERT_TRUE(v.Landed());
    const Mat3 expected = EulerMatrix(arotDeg * kDeg);
    EXPECT_LT((v.contact.landed.vesselToBodyFixed - expected).norm(), 1e-12);
    EXPECT_LT((w->Body().Orientation(w->Mjd()).transpose() * v.Rotation() - expected).norm(), 1e-12);
    EXPECT_NEAR(v.motion.positionGlobal.norm() - kMoonRadius, 0.7, 1e-6);
    const Vec3 local = BodyFixed(*w, v.motion.positionGlobal).normalized();
    EXPECT_NEAR(std::asin(local.y()), -12.0 * kDeg, 1e-12);
    EXPECT_NEAR(std::atan2(local.z(), local.x()), 51.0 * kDeg, 1e-12);
    const Vec3 up = v.motion.attitude.conjugate() * v.motion.positionGlobal.normalized();
    RunFor(*w, 1.0);
    EXPECT_NEAR(v.surface.headingRad, 30.0 * kDeg, 1e-12);
    EXPECT_NEAR(v.surface.pitchRad, std::atan2(up.z(), up.y()), 1e-9);
    EXPECT_NEAR(v.surface.bankRad, std::atan2(up.x(), up.y()), 1e-9);
    ASSERT_GT(std::fabs(std::atan2(up.z(), up.y()) - std::asin(up.z())), 1e-3);  // the two pitches differ here
    const Mat3 attitude = v.contact.landed.vesselToBodyFixed;
    w.reset();
    auto other = MakeWorld(ScenarioWith(LanderBlock(lines(200.0))));
    EXPECT_LT((other->Focus()->contact.landed.vesselToBodyFixed - attitude).norm(), 1e-15);
    EXPECT_NEAR(other->Focus()->surface.headingRad, 200.0 * kDeg, 1e-12);
}

// Saved landed: STATUS Landed Moon, POS (7 decimals), HEADING (2), ALT (3),
// AROT (3), and neither RPOS, RVEL nor VROT; read back, it stands where it
// stood.
TEST(LandedLines, SavedWithTheHostsLinesAndDecimalsAndReadBack) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(123.456, -23.4, 3.0))));
    RunFor(*w, 0.5);
    const Vessel &v = *w->Focus();
    const std::string saved = w->SaveScenario(false);
    const std::vector<std::string> lines = BlockLines(saved);
    ASSERT_GE(lines.size(), 6u);
    const std::string number3 = R"((-?\d+\.\d{3}))";
    std::smatch m;
    EXPECT_EQ(lines[0], "  STATUS Landed Moon");
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex(R"(  POS (-?\d+\.\d{7}) (-?\d+\.\d{7}))"))) << lines[1];
    EXPECT_NEAR(std::stod(m[1]), -23.4, 1e-7);
    EXPECT_NEAR(std::stod(m[2]), 3.0, 1e-7);
    EXPECT_EQ(lines[2], "  HEADING 123.46");
    ASSERT_TRUE(std::regex_match(lines[3], m, std::regex("  ALT " + number3))) << lines[3];
    EXPECT_NEAR(std::stod(m[1]), v.contact.landed.altitude, 5e-4);
    ASSERT_TRUE(std::regex_match(lines[4], m, std::regex("  AROT " + number3 + " " + number3 + " " + number3)))
        << lines[4];
    const Mat3 written = EulerMatrix(Vec3(std::stod(m[1]), std::stod(m[2]), std::stod(m[3])) * kDeg);
    EXPECT_LT((written - v.contact.landed.vesselToBodyFixed).norm(), 1e-4);
    for (const std::string &line : lines)
        for (const char *key : {"RPOS", "RVEL", "VROT", "NAVMODE"}) EXPECT_NE(KeyOf(line), key) << line;
    EXPECT_EQ(KeyOf(lines[5]), "PRPLEVEL");
    const Vec3 local = BodyFixed(*w, v.motion.positionGlobal);
    const double altitude = v.contact.landed.altitude;
    w.reset();

    auto again = MakeWorld(saved);
    const Vessel &r = *again->Focus();
    EXPECT_TRUE(r.Landed());
    EXPECT_LT((BodyFixed(*again, r.motion.positionGlobal) - local).norm(), 0.01);  // 1e-7 deg of POS is 3 mm
    EXPECT_NEAR(r.contact.landed.altitude, altitude, 5e-4);
    EXPECT_LT((r.contact.landed.vesselToBodyFixed - written).norm(), 1e-12);
    RunFor(*again, 1.0);
    EXPECT_TRUE(r.Landed());
}

// Thrust releases a landed vessel in the step it acts: no rotation, the
// surface's velocity; then it flies.
TEST(Release, ThrustFreesALandedVesselWithNoRotationAndTheSurfacesVelocity) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines())), "1-1.5:num+");
    Vessel &v = *w->Focus();
    RunFor(*w, 0.9);
    ASSERT_TRUE(v.Landed());
    const double height = v.motion.positionGlobal.norm() - kMoonRadius;
    while (v.Landed() && w->SimTime() < 1.2) w->Step();
    ASSERT_FALSE(v.Landed());
    EXPECT_NEAR(w->SimTime(), 1.0 + 2 * w->Dt(), 1.01 * w->Dt());  // the key acts in the step after it went down
    EXPECT_EQ(v.motion.bodyRates, Vec3::Zero());
    const Vec3 axis = w->Body().SpinAxis(w->Mjd());
    const Vec3 surface = (v.motion.positionGlobal.normalized() * kMoonRadius).cross(axis * kMoonSpin);
    EXPECT_LT((v.motion.velocityGlobal - surface).norm(), 1e-9);
    EXPECT_NEAR(v.motion.positionGlobal.norm() - kMoonRadius, height, 1e-9);  // the releasing step is not integrated
    RunFor(*w, 0.5);
    EXPECT_GT(v.motion.positionGlobal.norm() - kMoonRadius, height + 0.3);
    EXPECT_FALSE(v.Landed());
}

}  // namespace
}  // namespace vtal::simtest
