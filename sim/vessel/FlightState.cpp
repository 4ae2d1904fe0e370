#include "sim/vessel/FlightState.h"

#include <algorithm>
#include <cmath>

namespace vtal::sim {
namespace {
// Below this size both components of an axis count as zero: the host then
// takes bank as 0 and the heading from the vessel's -y axis.
constexpr double kVerticalAxisTolerance = 1e-4;

double WrapHeading(double heading) {
    if (heading < 0.0) heading += 2.0 * kPi;
    if (heading >= 2.0 * kPi) heading = 0.0;
    return heading;
}
}  // namespace

namespace {
// East is up x north-axis, the body-fixed (-sin lng, 0, cos lng); at a pole
// the longitude is taken as 0, whose east is the body's z axis.
template <class EastAtLongitudeZero>
HorizonFrame HorizonAbout(const Vec3 &pos, const Vec3 &northAxis, EastAtLongitudeZero eastAtLongitudeZero) {
    HorizonFrame f;
    f.up = pos.normalized();
    const Vec3 east = f.up.cross(northAxis);
    const double n = east.norm();
    f.east = n > 1e-12 ? Vec3(east / n) : eastAtLongitudeZero();
    f.north = f.east.cross(f.up);
    return f;
}
}  // namespace

HorizonFrame HorizonAt(const Vec3 &globalPos, const CentralBody &body) {
    return HorizonAbout(globalPos, body.Axis(), [&body] { return Vec3(body.ToGlobal().col(2)); });
}

HorizonFrame BodyFixedHorizonAt(const Vec3 &bodyFixedPos) {
    return HorizonAbout(bodyFixedPos, Vec3::UnitY(), [] { return Vec3::UnitZ(); });
}

Mat3 LevelAttitude(const Vec3 &upBodyFixed, double heading) {
    const HorizonFrame h = BodyFixedHorizonAt(upBodyFixed);
    const Vec3 forward = std::cos(heading) * h.north + std::sin(heading) * h.east;
    Mat3 level;
    level.col(0) = upBodyFixed.cross(forward);
    level.col(1) = upBodyFixed;
    level.col(2) = forward;
    return level;
}

Vec3 SurfaceDirection(double longitude, double latitude) {
    return Vec3(std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                std::cos(latitude) * std::sin(longitude));
}

double Altitude(const Vessel &v, const CentralBody &body) { return v.motion.positionGlobal.norm() - body.radius; }

Vec3 UpInVesselFrame(const Vessel &v) { return v.motion.attitude.conjugate() * v.motion.positionGlobal.normalized(); }

namespace {
// The attitude angles from the local vertical in the vessel frame and the
// horizon frame under the vessel.
double PitchOf(const Vec3 &upVessel) { return std::asin(std::clamp(upVessel.z(), -1.0, 1.0)); }

// What the host reports of a landed vessel's resting attitude.
double LandedPitchOf(const Vec3 &upVessel) { return std::atan2(upVessel.z(), upVessel.y()); }
double LandedBankOf(const Vec3 &upVessel) { return std::atan2(upVessel.x(), upVessel.y()); }

double BankOf(const Vec3 &upVessel) {
    if (std::fabs(upVessel.x()) <= kVerticalAxisTolerance && std::fabs(upVessel.y()) <= kVerticalAxisTolerance)
        return 0.0;
    return std::atan2(upVessel.x(), upVessel.y());
}

double HeadingOf(const Quat &attitude, const HorizonFrame &h) {
    Vec3 axis = attitude * Vec3::UnitZ();
    double e = axis.dot(h.east), n = axis.dot(h.north);
    if (std::fabs(e) <= kVerticalAxisTolerance && std::fabs(n) <= kVerticalAxisTolerance) {
        // Nose straight up or down: the vessel's -y axis stands in for +z.
        axis = attitude * Vec3(0.0, -1.0, 0.0);
        e = axis.dot(h.east);
        n = axis.dot(h.north);
    }
    return WrapHeading(std::atan2(e, n));
}
}  // namespace

double Pitch(const Vessel &v) {
    const Vec3 upVessel = UpInVesselFrame(v);
    return v.Landed() ? LandedPitchOf(upVessel) : PitchOf(upVessel);
}

double Bank(const Vessel &v) {
    const Vec3 upVessel = UpInVesselFrame(v);
    return v.Landed() ? LandedBankOf(upVessel) : BankOf(upVessel);
}

double Heading(const Vessel &v, const CentralBody &body) {
    return HeadingOf(v.motion.attitude, HorizonAt(v.motion.positionGlobal, body));
}

Vec3 GroundVelocity(const Vessel &v, const CentralBody &body) { return v.motion.velocityGlobal - body.SurfaceVelocity(v.motion.positionGlobal); }

double VerticalSpeed(const Vessel &v) { return v.motion.velocityGlobal.dot(v.motion.positionGlobal.normalized()); }

double HorizontalSpeed(const Vessel &v, const CentralBody &body) {
    const Vec3 up = v.motion.positionGlobal.normalized();
    const Vec3 ground = GroundVelocity(v, body);
    return (ground - ground.dot(up) * up).norm();
}

Instruments InstrumentsOf(const Vessel &v, const CentralBody &body) {
    Instruments i;
    i.altitude = Altitude(v, body);
    i.verticalSpeed = VerticalSpeed(v);
    i.horizontalSpeed = HorizontalSpeed(v, body);
    i.pitchDeg = Pitch(v) / kRadPerDeg;
    i.bankDeg = Bank(v) / kRadPerDeg;
    i.headingDeg = Heading(v, body) / kRadPerDeg;
    i.tiltDeg = std::acos(std::clamp(UpInVesselFrame(v).y(), -1.0, 1.0)) / kRadPerDeg;
    return i;
}

Vec3 GravityAcceleration(const Vec3 &pos, double radius, const CentralBody &body) {
    return -body.gm / (radius * radius * radius) * pos;
}

Vec3 GravityForce(const Vec3 &pos, double mass, const CentralBody &body) {
    return mass * GravityAcceleration(pos, pos.norm(), body);
}

Vec3 LocalToGlobal(const Vessel &v, const Vec3 &local) { return v.motion.positionGlobal + v.motion.attitude * local; }

void UpdateSurface(Vessel &v, const CentralBody &body) {
    SurfaceState &s = v.surface;
    const HorizonFrame h = HorizonAt(v.motion.positionGlobal, body);
    if (v.Landed()) {
        const Vec3 upVessel = UpInVesselFrame(v);
        s.altitude = v.contact.landed.altitude;
        s.headingRad = v.contact.landed.headingRad;
        s.pitchRad = LandedPitchOf(upVessel);
        s.bankRad = LandedBankOf(upVessel);
        s.groundVelocityGlobal.setZero();
        s.airspeedVessel.setZero();
        s.airspeedHorizon.setZero();
        return;
    }
    const Vec3 upVessel = v.motion.attitude.conjugate() * h.up;
    s.altitude = Altitude(v, body);
    s.pitchRad = PitchOf(upVessel);
    s.bankRad = BankOf(upVessel);
    s.headingRad = HeadingOf(v.motion.attitude, h);
    // No wind: the air turns with the body, so airspeed is ground speed.
    s.groundVelocityGlobal = GroundVelocity(v, body);
    s.airspeedVessel = v.motion.attitude.conjugate() * s.groundVelocityGlobal;
    s.airspeedHorizon = Vec3(s.groundVelocityGlobal.dot(h.east), s.groundVelocityGlobal.dot(h.up), s.groundVelocityGlobal.dot(h.north));
}

}  // namespace vtal::sim
