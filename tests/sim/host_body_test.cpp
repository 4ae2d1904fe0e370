// How the host's body stands in the global frame (its inclined, precessing
// spin axis and rotation phase) and what depends on it: where a real host's
// scenario puts a vessel, the rest test on global attitudes, and what a
// landed vessel reports and saves.
#include <gtest/gtest.h>

#include <cmath>

#include "SimTestSupport.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/Landed.h"
#include "sim/vessel/VesselStatus.h"

namespace vtal::simtest {
namespace {

using sim::CentralBody;
using sim::Mat3;
using sim::Vessel;

constexpr double kDeg = sim::kPi / 180.0;
constexpr double kFrame = 1.0 / 64.0;  // s
// Quiet for more than 5 s from the start of testing: the first frame after 5 s.
constexpr double kLandsUndisturbed = 5.0 + kFrame;

// The real host's own Moon matrix (body-fixed -> global) at MJD 51983.5.
Mat3 HostMoonAt51983() {
    Mat3 r;
    r << 0.45779286706665817, -0.026385946566579485, -0.88866724519736573, 0.016915204528628765,
        0.99963706395472551, -0.020967027059902197, 0.88889795067749133, -0.0054334327787896987,
        0.45807304121678516;
    return r;
}

TEST(BodyOrientation, TheMoonsMatrixIsTheHostsAtTwoDates) {
    const CentralBody &moon = *sim::FindBody("Moon");
    EXPECT_LT((moon.Orientation(51983.5) - HostMoonAt51983()).cwiseAbs().maxCoeff(), 1e-12);
    EXPECT_NEAR(moon.RotationAngle(51983.5) / kDeg, 321.105, 0.001);
    const Mat3 later = moon.Orientation(52006.5);
    EXPECT_NEAR(later(0, 0), 0.99453, 5e-6);
    EXPECT_NEAR(later(0, 1), -0.026497, 5e-7);
    EXPECT_NEAR(later(0, 2), -0.101034, 5e-7);
}

TEST(BodyOrientation, PolesAreInclinedAndPrecess) {
    const CentralBody &moon = *sim::FindBody("Moon");
    const CentralBody &mars = *sim::FindBody("Mars");
    const auto fromEclipticPole = [](const Vec3 &axis) { return std::acos(axis.y()) / kDeg; };
    EXPECT_NEAR(fromEclipticPole(moon.SpinAxis(51544.5)), 1.54, 0.01);
    EXPECT_NEAR(fromEclipticPole(mars.SpinAxis(51544.5)), 26.72, 0.01);
    // The Moon's node goes round in 6793 days: in a quarter of that its pole
    // has moved by about sqrt(2) times its tilt.
    const double moved = std::acos(moon.SpinAxis(51544.5).dot(moon.SpinAxis(51544.5 + 6793.22 / 4))) / kDeg;
    EXPECT_NEAR(moved, 1.54 * std::sqrt(2.0), 0.02);
    // The axis is the matrix's y column, and the rotation stays proper.
    const Mat3 r = moon.Orientation(52006.5);
    EXPECT_LT((r.col(1) - moon.SpinAxis(52006.5)).norm(), 1e-14);
    EXPECT_NEAR(r.determinant(), 1.0, 1e-14);
    EXPECT_LT((r * r.transpose() - Mat3::Identity()).norm(), 1e-14);
}

// The orientation at the date set is remembered once made: it must follow a
// new date and new elements, and leave other dates and the copies alone.
TEST(BodyOrientation, TheOrientationAtTheDateSetFollowsTheDateAndTheElements) {
    CentralBody moon = *sim::FindBody("Moon");
    const auto fresh = [](const CentralBody &b, double mjd) { return sim::FindBody(b.name)->Orientation(mjd); };
    moon.SetDate(51983.5);
    EXPECT_EQ(moon.Orientation(51983.5), fresh(moon, 51983.5));
    EXPECT_EQ(moon.Orientation(52006.5), fresh(moon, 52006.5));  // another date, while one is remembered
    EXPECT_EQ(moon.ToGlobal(), fresh(moon, 51983.5));
    moon.SetDate(52006.5);
    EXPECT_EQ(moon.ToGlobal(), fresh(moon, 52006.5));
    const CentralBody copy = moon.At(51983.5);
    EXPECT_EQ(copy.ToGlobal(), fresh(moon, 51983.5));
    EXPECT_EQ(moon.ToGlobal(), fresh(moon, 52006.5));
    // New elements at the same date: made again from them.
    CentralBody still = moon;
    still.rotation.precessionPeriodDays = 0.0;
    still.rotation.offset += 0.5;
    const Mat3 changed = still.ToGlobal();
    CentralBody made = *sim::FindBody("Moon");
    made.rotation = still.rotation;
    EXPECT_EQ(changed, made.Orientation(52006.5));
    EXPECT_GT((changed - moon.ToGlobal()).norm(), 0.1);
}

// A point on the equator moves east at 4.63 m/s about the inclined axis, at
// right angles to it and to the radius.
TEST(BodyOrientation, TheSurfaceTurnsAboutTheInclinedAxis) {
    const CentralBody moon = sim::FindBody("Moon")->At(51983.5);
    const Vec3 equator = moon.ToGlobal() * sim::SurfaceDirection(40.0 * kDeg, 0.0) * moon.radius;
    const Vec3 v = moon.SurfaceVelocity(equator);
    EXPECT_NEAR(v.norm(), 4.6261, 1e-4);
    EXPECT_NEAR(v.dot(moon.SpinAxis(51983.5)), 0.0, 1e-12);
    const sim::HorizonFrame h = sim::HorizonAt(equator, moon);
    EXPECT_NEAR(v.dot(h.east), v.norm(), 1e-12);
    EXPECT_NEAR(h.north.dot(moon.SpinAxis(51983.5)), 1.0, 1e-12);
}

// A vessel block written by the real host: its RPOS in the global frame at
// the file's date is where the host's matrix says longitude and latitude are.
TEST(BodyOrientation, ARealHostsScenarioPutsTheVesselWhereTheHostDoes) {
    const double lng = 33.25, lat = -7.5, alt = 1500.0;
    const Vec3 up = HostMoonAt51983() * sim::SurfaceDirection(lng * kDeg, lat * kDeg);
    const Vec3 rpos = up * (1738000.0 + alt);
    const std::string block = "Probe:NoSuchClass\n  STATUS Orbiting Moon\n  RPOS " + Exact(rpos.x()) + " " +
                              Exact(rpos.y()) + " " + Exact(rpos.z()) + "\n  RVEL 0 0 0\n  AROT 0 0 0\nEND\n";
    {
        auto w = MakeWorld(ScenarioWith(block, "Probe"));
        const Vessel &v = *w->Focus();
        const Vec3 bodyFixed = sim::BodyFixedPosition(v, w->Body(), w->Mjd()).normalized();
        EXPECT_NEAR(std::atan2(bodyFixed.z(), bodyFixed.x()) / kDeg, lng, 1e-9);
        EXPECT_NEAR(std::asin(bodyFixed.y()) / kDeg, lat, 1e-9);
    }
    // A landed vessel at the same POS stands on that radius, turned with the body.
    auto landed = MakeWorld(ScenarioWith(LanderBlock(LandedLines(0.0, lng, lat))));
    const Vec3 at = landed->Focus()->motion.positionGlobal.normalized();
    EXPECT_LT((at - up).norm(), 1e-12);
}

// The host's quaternion of a rotation matrix: its vector part is minus the
// turn axis times sin(angle / 2) for the vessel -> global matrix, on every
// branch of the conversion.
TEST(RestTest, TheHostsQuaternionOnEachBranch) {
    const Vec3 axes[] = {Vec3(1, 2, 3).normalized(), Vec3::UnitX(), Vec3::UnitY(), Vec3::UnitZ()};
    for (const Vec3 &axis : axes)
        for (double angle : {0.3, 2.0, sim::kPi}) {
            const Mat3 r = Eigen::AngleAxisd(angle, axis).toRotationMatrix();
            const Eigen::Vector4d q = sim::HostQuaternion(r);
            const Eigen::Vector4d expected(-axis.x() * std::sin(angle / 2), -axis.y() * std::sin(angle / 2),
                                           -axis.z() * std::sin(angle / 2), std::cos(angle / 2));
            const double sign = q.dot(expected) < 0.0 ? -1.0 : 1.0;
            EXPECT_LT((sign * q - expected).norm(), 1e-12) << "angle " << angle << " about " << axis.transpose();
        }
}

// A vessel held on the ground by hand: its contact, pose and the rest test
// run at chosen times, at a fixed date.
struct RestBench {
    CentralBody body = sim::FindBody("Moon")->At(51983.5);
    Vessel v;
    Vec3 site = body.ToGlobal() * sim::SurfaceDirection(0.3, 0.1) * (body.radius + 0.5);
    Mat3 attitude = body.ToGlobal() * sim::LevelAttitude(sim::SurfaceDirection(0.3, 0.1), 1.0);

    RestBench() {
        v.contact.groundContact = true;
        Place(Vec3::Zero(), Mat3::Identity());
    }
    void Place(const Vec3 &offset, const Mat3 &turn) {
        v.motion.positionGlobal = site + offset;
        v.motion.attitude = sim::Quat(attitude * turn);
    }
    // Tests at t = 0, dt, 2 dt ... until landed or `until`; `pose(t)` places
    // the vessel first. The time it landed, or a negative value. Frames of
    // 1/64 s keep every time exact.
    template <class Pose>
    double Run(Pose pose, double until = 12.0, double dt = kFrame) {
        for (long i = 0; i * dt <= until; ++i) {
            const double t = static_cast<double>(i) * dt;
            pose(t);
            sim::TestForRest(v, body, body.Date(), t);
            if (v.Landed()) return t;
        }
        return -1.0;
    }
};

// Quiet, it lands once more than 5 s have passed since testing began.
TEST(RestTest, AStillVesselLandsAfterFiveSecondsOfQuiet) {
    RestBench b;
    EXPECT_EQ(b.Run([](double) {}), kLandsUndisturbed);
}

// Once quiet for 0.1 s every frame is compared with the one before, and the
// change is divided by the time since the vessel was last found moving: a
// steady rocking of 7 mm a frame (5e-5 m^2) from 0.5 s on is never seen,
// where a rate over a sample interval of 0.1 s would be; from 0.2 s on it is
// movement, and then every new interval is short: it never lands.
TEST(RestTest, RockingIsDividedByAGrowingIntervalOnceQuiet) {
    const double step = std::sqrt(5e-5);
    const auto rocking = [step](RestBench &b, double from) {
        return [&b, from, step](double t) {
            const long frame = std::lround(t / kFrame);
            const bool out = t >= from && frame % 2 == 1;
            b.Place(Vec3(out ? step : 0.0, 0.0, 0.0), Mat3::Identity());
        };
    };
    RestBench late;
    EXPECT_EQ(late.Run(rocking(late, 0.5)), kLandsUndisturbed);
    RestBench early;
    EXPECT_LT(early.Run(rocking(early, 0.2)), 0.0);
}

// Before 0.1 s of quiet nothing is compared: a jolt that is over by then is
// never seen; the same jolt after the gate starts the quiet again.
TEST(RestTest, NothingIsComparedWithinTheFirstTenthOfASecond) {
    const auto jolt = [](RestBench &b, double at) {
        return [&b, at](double t) {
            b.Place(t == at ? Vec3(0.05, 0.0, 0.0) : Vec3::Zero(), Mat3::Identity());
        };
    };
    RestBench early;
    EXPECT_EQ(early.Run(jolt(early, 3 * kFrame)), kLandsUndisturbed);
    // Seen going out at 2 s; coming back is seen at the first comparison, 0.1 s
    // (7 frames) later, from which the 5 s are counted.
    RestBench late;
    EXPECT_EQ(late.Run(jolt(late, 2.0)), 2.0 + 7 * kFrame + kLandsUndisturbed);
}

// The turn is the angle between the quaternions' vector parts: rocking about
// the axis of the global attitude's own quaternion goes unseen, rocking
// across it is movement.
TEST(RestTest, TurnsAreMeasuredBetweenTheGlobalQuaternionsVectorParts) {
    const auto rockAbout = [](RestBench &b, const Vec3 &axisGlobal) {
        return [&b, axisGlobal](double t) {
            const double angle = t >= 1.0 && std::lround(t / kFrame) % 2 ? 0.01 : 0.0;
            const Mat3 turnGlobal = Eigen::AngleAxisd(angle, axisGlobal).toRotationMatrix();
            b.v.motion.positionGlobal = b.site;
            b.v.motion.attitude = sim::Quat(turnGlobal * b.attitude);
        };
    };
    RestBench along;
    const Vec3 ownAxis = sim::HostQuaternion(along.attitude).head<3>().normalized();
    EXPECT_EQ(along.Run(rockAbout(along, ownAxis)), kLandsUndisturbed);
    RestBench across;
    const Vec3 other = ownAxis.unitOrthogonal();
    EXPECT_LT(across.Run(rockAbout(across, other)), 0.0);  // never quiet for 5 s
}

// Thrust, or losing contact, ends the test; it begins again afterwards.
TEST(RestTest, ThrustOrLostContactStartsTheTestAgain) {
    RestBench b;
    const double landed = b.Run([&b](double t) {
        b.v.actuators.thrusting = t == 3.0;
        b.v.contact.groundContact = t != 4.0;
    });
    EXPECT_EQ(landed, 4.0 + kFrame + kLandsUndisturbed);  // tested again from the frame after
}

// A lander resting upside down, 0.68 degrees off: the host gives it pitch
// atan2(up.z, up.y); every output reads the same.
TEST(LandedAngles, AnUpsideDownLanderReportsPitchNearMinus180) {
    const double off = 0.68 * kDeg;
    const Mat3 rest = sim::LevelAttitude(sim::SurfaceDirection(-23.4 * kDeg, 3.0 * kDeg), 0.0) *
                      Eigen::AngleAxisd(sim::kPi - off, Vec3::UnitX()).toRotationMatrix();
    const Vec3 e = sim::EulerFromRotation(rest) / kDeg;
    const std::string lines = LandedLines(0.0) + "  ALT 0.5\n  AROT " + Exact(e.x()) + " " + Exact(e.y()) + " " +
                              Exact(e.z()) + "\n";
    auto w = MakeWorld(ScenarioWith(LanderBlock(lines)));
    Vessel &v = *w->Focus();
    RunFor(*w, 0.1);
    ASSERT_TRUE(v.Landed());
    EXPECT_NEAR(v.surface.pitchRad / kDeg, -179.32, 1e-6);
    EXPECT_NEAR(sim::Pitch(v) / kDeg, -179.32, 1e-6);
    EXPECT_NEAR(sim::InstrumentsOf(v, w->Body()).pitchDeg, -179.32, 1e-6);
    EXPECT_NEAR(std::fabs(sim::InstrumentsOf(v, w->Body()).bankDeg), 180.0, 1e-6);
    // Its tilt from the vertical is what tells it is lying upside down.
    EXPECT_NEAR(sim::InstrumentsOf(v, w->Body()).tiltDeg, 179.32, 1e-6);
}

// Two receivers from creation, saved where the host writes them and read back.
TEST(NavReceivers, EveryVesselHasTwoAndTheirStepsAreSavedAndRead) {
    {
        auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 1\n")));
        EXPECT_EQ(w->Focus()->navReceiverSteps, (std::vector<long long>{0, 0}));
        EXPECT_NE(w->SaveScenario(false).find("  NAVFREQ 0 0\n"), std::string::npos);
    }
    std::string saved;
    {
        auto tuned = MakeWorld(ScenarioWith(LanderBlock(LandedLines() + "  NAVFREQ 402 -7\n")));
        EXPECT_EQ(tuned->Focus()->navReceiverSteps, (std::vector<long long>{402, -7}));
        saved = tuned->SaveScenario(false);
        EXPECT_NE(saved.find("  NAVFREQ 402 -7\n"), std::string::npos) << saved;
    }
    {
        auto again = MakeWorld(saved);
        EXPECT_EQ(again->Focus()->navReceiverSteps, (std::vector<long long>{402, -7}));
    }

    // A passive vessel has them too; a third step has no receiver and is said so.
    auto passive = MakeWorld(ScenarioWith("Probe:NoSuchClass\n" + LandedLines() + "  NAVFREQ 1 2 3\nEND\n", "Probe"));
    EXPECT_EQ(passive->Focus()->navReceiverSteps, (std::vector<long long>{1, 2}));
    bool warned = false;
    for (const auto &m : passive->Warnings()) warned |= m.find("NAVFREQ lists 3 receivers") != std::string::npos;
    EXPECT_TRUE(warned);
}

TEST(NavReceivers, AStepThatIsNotAWholeNumberIsRefusedWithTheLine) {
    EXPECT_THROW(MakeWorld(ScenarioWith(LanderBlock(LandedLines() + "  NAVFREQ 4.5 0\n"))), std::exception);
}

}  // namespace
}  // namespace vtal::simtest
