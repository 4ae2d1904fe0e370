// The one central body of a scenario: a sphere whose axes stand in the global
// frame as the host's do (an inclined spin axis that precesses, and the
// host's rotation phase), flat terrain at its mean radius, point-mass gravity
// and, for Mars, an exponential atmosphere that turns with the body.
#pragma once

#include <string>

#include "sim/base/SimMath.h"

namespace vtal::sim {

// The epoch of the rotation elements: 2000 Jan 1 12:00.
constexpr double kRotationEpochMjd = 51544.5;
constexpr double kSecondsPerDay = 86400.0;

// How the body's axes stand in the global (ecliptic) frame, with the names
// the host gives them in a body's configuration.
struct RotationElements {
    double period = 0.0;               // SidRotPeriod: sidereal rotation period, s
    double offset = 0.0;               // SidRotOffset: rotation angle at the epoch, rad
    double obliquity = 0.0;            // Obliquity of the axis to the reference pole, rad
    double nodeLongitude = 0.0;        // LAN: of the equator's ascending node, rad
    double nodeMjd = kRotationEpochMjd;   // LAN_MJD: the date of nodeLongitude
    double precessionPeriodDays = 0.0;    // PrecessionPeriod, days; 0 for none
    double precessionObliquity = 0.0;     // PrecessionObliquity: the reference pole's tilt, rad
    double precessionNodeLongitude = 0.0; // PrecessionLAN, rad
};

struct CentralBody {
    const char *name = "";
    double gm = 0.0;               // m^3/s^2
    double radius = 0.0;           // mean radius, m
    RotationElements rotation;
    double surfaceDensity = 0.0;   // kg/m^3 at the mean radius; 0 without atmosphere
    double surfacePressure = 0.0;  // Pa at the mean radius
    double scaleHeight = 1.0;      // m

    double Density(double altitude) const;
    double Pressure(double altitude) const;

    double SpinRate() const { return 2.0 * kPi / rotation.period; }  // rad/s
    // The rotation angle about the body's own axis at a date, in [0, 2 pi).
    double RotationAngle(double mjd) const;
    // Body-fixed ("planet-local": y north along the spin axis, x towards
    // longitude 0) to global rotation at a date.
    Mat3 Orientation(double mjd) const;
    // The spin axis (north) in the global frame at a date.
    Vec3 SpinAxis(double mjd) const;

    // The body as it stands at the date of the state being computed: set
    // once per step, read wherever a surface-relative quantity is needed.
    // Only the spin axis is kept (the phase is not needed every frame).
    void SetDate(double mjd);
    // A copy of the body standing at a date.
    CentralBody At(double mjd) const {
        CentralBody b = *this;
        b.SetDate(mjd);
        return b;
    }
    double Date() const { return date_; }
    // Body-fixed to global at the date set.
    Mat3 ToGlobal() const { return Orientation(date_); }
    // The spin axis at the date set, and the spin as a vector (rad/s), global.
    const Vec3 &Axis() const { return axis_; }
    const Vec3 &Spin() const { return spin_; }
    // Velocity of a body-fixed point at global position r: r x spin.
    Vec3 SurfaceVelocity(const Vec3 &r) const { return r.cross(spin_); }

  private:
    double date_ = kRotationEpochMjd;
    Vec3 axis_ = Vec3::UnitY();
    Vec3 spin_ = Vec3::Zero();
    // The precession reference's tilt, and the elements it was made from.
    Mat3 referenceTilt_ = Mat3::Identity();
    double referenceObliquity_ = 0.0, referenceNode_ = 0.0;
    // The axis's obliquity, with its cosine and sine.
    double obliquity_ = 0.0, cosObliquity_ = 1.0, sinObliquity_ = 0.0;
    // The orientation at the date set, made when first asked for (about
    // twenty sines and cosines; the rest test and a landed vessel ask every
    // frame), with the elements it was made from.
    mutable bool orientationKnown_ = false;
    mutable Mat3 orientation_ = Mat3::Identity();
    mutable RotationElements orientationElements_;
};

// The bodies the host models, by name without regard to case, standing at
// the rotation epoch; null if unknown.
const CentralBody *FindBody(const std::string &name);
const CentralBody &Moon();

}  // namespace vtal::sim
