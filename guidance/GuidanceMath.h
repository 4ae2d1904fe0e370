// Numbers and arithmetic shared by the descent controllers.
//
// The controllers were tuned with these exact values (π to 15 digits, the
// throttle scale to the last bit), so they are written out once here and every
// derived gain is checked at compile time against the value it must produce.
#pragma once

#include <cmath>

#include "host/Orbitersdk.h"
#include "lander/LanderGeometry.h"

namespace vtal::guidance {

// π to the 15 digits the guidance was tuned with, not the double nearest π:
// every angle limit and gain of the guidance is derived from this value, and
// the lander behaves as tuned only with it. Keep it as it is.
constexpr double kPiAsTuned = 3.14159265358979;

using vtal::lander::kEngineMaxThrust;  // N, each of the three descent engines

// Throttle level per newton demanded from the three engines together:
// one over their summed maximum thrust.
constexpr double kLevelPerNewton = 0.0002752546105147261;  // 1/N
static_assert(kLevelPerNewton == 1.0 / (3.0 * kEngineMaxThrust), "throttle scale must be 1/(3 x 1211 N)");

// The sink-rate law brakes at a constant rate so that the lander sinks at
// kAimSinkRate exactly when it reaches kAimAltitude.
constexpr double kAimAltitude = 27.0;  // m
constexpr double kAimSinkRate = 2.0;   // m/s, downward

// Thruster groups and navigation modes the guidance drives (host numbering).
constexpr THGROUP_TYPE kMainGroup = THGROUP_MAIN;           // all three engines
constexpr THGROUP_TYPE kYawLeftGroup = THGROUP_ATT_YAWLEFT;    // thYaw[0] and thYaw[2]
constexpr THGROUP_TYPE kYawRightGroup = THGROUP_ATT_YAWRIGHT;  // thYaw[1] and thYaw[3]
constexpr int kKillRotation = NAVMODE_KILLROT;
constexpr int kHoldLevel = NAVMODE_HLEVEL;

// n / d, except that 0/0 counts as 0: a zero error with a zero rate, or a
// zero drift over a zero vertical airspeed, asks for nothing. Every other
// case, a non-zero number over zero included, follows IEEE arithmetic.
inline double Quotient(double n, double d) { return (n == 0.0 && d == 0.0) ? 0.0 : n / d; }

// The only form in which a level reaches the host: within [0, 1]. A level
// that could not be computed (NaN, from a non-number or an infinity in the
// flight state) idles the thruster, the same command the lander gives when
// it cuts its engines at touchdown or stops sinking.
inline double ThrottleLevel(double level) {
    if (!(level > 0.0)) return 0.0;  // negative, zero of either sign, or NaN
    return level < 1.0 ? level : 1.0;
}

inline double Magnitude(const VECTOR3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

}  // namespace vtal::guidance
