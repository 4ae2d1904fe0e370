// Vector types of the flight host and the conversions to the host API's
// VECTOR3. Every frame of the host is left-handed, but the component formulas
// (cross product, rotation matrices) are the ordinary ones; the handedness
// only decides how the results are read.
#pragma once

#include <Eigen/Geometry>

#include "host/OrbiterAPI.h"

namespace vtal::sim {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
using Quat = Eigen::Quaterniond;

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadPerDeg = kPi / 180.0;

inline Vec3 ToVec(const VECTOR3 &v) { return Vec3(v.x, v.y, v.z); }
inline VECTOR3 ToVector3(const Vec3 &v) { return _V(v.x(), v.y(), v.z()); }
inline bool IsFinite(const Vec3 &v) { return v.allFinite(); }
// -1, 0 or +1 with the sign of x (0 for a NaN).
inline double Sign(double x) { return (x > 0.0) - (x < 0.0); }

// The host's torque of a force F applied at r: F x r by the component formula.
inline Vec3 TorqueOf(const Vec3 &force, const Vec3 &at) { return force.cross(at); }

// Turns an attitude by the host's body rates w (rad) over one step: with the
// host's convention (+x nose up, +y left turn, +z right side down) a body axis
// e moves as e x w, which in the ordinary formulas is a turn by -w.
inline Quat TurnByBodyRates(const Quat &attitude, const Vec3 &rateTimesDt) {
    const double angle = rateTimesDt.norm();
    if (angle == 0.0) return attitude;
    Quat turned = attitude * Quat(Eigen::AngleAxisd(-angle, rateTimesDt / angle));
    turned.normalize();
    return turned;
}

}  // namespace vtal::sim
