// The one central body of a scenario: a sphere turning about the global +y
// axis with the host's sidereal period, flat terrain at its mean radius,
// point-mass gravity and, for Mars, an exponential atmosphere that turns with
// the body.
#pragma once

#include <string>

#include "sim/base/SimMath.h"

namespace vtal::sim {

// The epoch at which a body's rotation angle is zero: 2000 Jan 1 12:00.
constexpr double kRotationEpochMjd = 51544.5;
constexpr double kSecondsPerDay = 86400.0;

struct CentralBody {
    const char *name;
    double gm;               // m^3/s^2
    double radius;           // mean radius, m
    double rotationPeriod;   // sidereal, s
    double surfaceDensity;   // kg/m^3 at the mean radius; 0 without atmosphere
    double surfacePressure;  // Pa at the mean radius
    double scaleHeight;      // m

    double Density(double altitude) const;
    double Pressure(double altitude) const;

    double SpinRate() const { return 2.0 * kPi / rotationPeriod; }  // rad/s
    // The spin as a vector in the global frame.
    Vec3 Spin() const { return Vec3(0.0, SpinRate(), 0.0); }
    // Rotation angle at a date: 2 pi frac((mjd - epoch) 86400 / period).
    double RotationAngle(double mjd) const;
    // Body-fixed ("planet-local") to global rotation at a date.
    Mat3 Orientation(double mjd) const;
    // Velocity of a body-fixed point at global position r: r x spin.
    Vec3 SurfaceVelocity(const Vec3 &r) const { return r.cross(Spin()); }
};

// The bodies the host models, by name without regard to case; null if unknown.
const CentralBody *FindBody(const std::string &name);
const CentralBody &Moon();

}  // namespace vtal::sim
