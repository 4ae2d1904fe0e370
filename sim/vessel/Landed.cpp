#include "sim/vessel/Landed.h"

#include <algorithm>
#include <cmath>

#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

// How much each point sinks per newton of the vessel's weight, for a load
// shared as the three springs share it in equilibrium.
std::array<double, 3> CompressionPerNewton(const std::array<Vec3, 3> &p, double k) {
    const Vec3 n = TouchdownNormal(p);
    const Vec3 xh = (p[2] - p[1]).normalized();
    const Vec3 zh = xh.cross(n);
    double x[3], z[3];
    for (int i = 0; i < 3; ++i) x[i] = p[i].dot(xh), z[i] = p[i].dot(zh);
    double a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    for (int i = 0; i < 3; ++i) {
        a += k, b += k * x[i], c += k * z[i];
        d += k * x[i] * x[i], e += k * x[i] * z[i], f += k * z[i] * z[i];
    }
    const double den = c * c * d - 2.0 * b * c * e + b * b * f + a * (e * e - d * f);
    std::array<double, 3> out{};
    for (int i = 0; i < 3; ++i)
        out[i] = den != 0.0 ? ((e * e - d * f) + (b * f - c * e) * x[i] + (c * d - b * e) * z[i]) / den : 0.0;
    return out;
}

// The trace test of the host's conversion.
constexpr double kLeastQuaternionTrace = 1e-12;

Vec3 AttitudeAxisOf(const Vessel &v) { return HostQuaternion(v.Rotation()).head<3>(); }

}  // namespace

Eigen::Vector4d HostQuaternion(const Mat3 &r) {
    const double m11 = r(0, 0), m12 = r(0, 1), m13 = r(0, 2);
    const double m21 = r(1, 0), m22 = r(1, 1), m23 = r(1, 2);
    const double m31 = r(2, 0), m32 = r(2, 1), m33 = r(2, 2);
    const double trace = 1.0 + m11 + m22 + m33;
    if (trace > kLeastQuaternionTrace) {
        const double s = 2.0 * std::sqrt(trace);
        return {(m23 - m32) / s, (m31 - m13) / s, (m12 - m21) / s, 0.25 * s};
    }
    if (m11 > m22 && m11 > m33) {
        const double s = 2.0 * std::sqrt(1.0 + m11 - m22 - m33);
        return {0.25 * s, (m12 + m21) / s, (m31 + m13) / s, (m23 - m32) / s};
    }
    if (m22 > m33) {
        const double s = 2.0 * std::sqrt(1.0 + m22 - m11 - m33);
        return {(m12 + m21) / s, 0.25 * s, (m23 + m32) / s, (m31 - m13) / s};
    }
    const double s = 2.0 * std::sqrt(1.0 + m33 - m11 - m22);
    return {(m31 + m13) / s, (m23 + m32) / s, 0.25 * s, (m12 - m21) / s};
}

double AngleBetweenAxes(const Vec3 &a, const Vec3 &b) {
    const double n = a.norm() * b.norm();
    if (!(n > 0.0)) return 0.0;
    return std::acos(std::clamp(a.dot(b) / n, -1.0, 1.0));
}

Vec3 BodyFixedPosition(const Vessel &v, const CentralBody &body, double mjd) {
    return body.Orientation(mjd).transpose() * v.motion.positionGlobal;
}

Mat3 BodyFixedRotation(const Vessel &v, const CentralBody &body, double mjd) {
    return body.Orientation(mjd).transpose() * v.Rotation();
}

void Land(Vessel &v, const CentralBody &body, double mjd) {
    UpdateSurface(v, body);
    v.contact.landed.landed = true;
    v.contact.landed.positionBodyFixed = BodyFixedPosition(v, body, mjd);
    v.contact.landed.vesselToBodyFixed = BodyFixedRotation(v, body, mjd);
    v.contact.landed.altitude = v.surface.altitude;
    v.contact.landed.headingRad = v.surface.headingRad;
    v.contact.groundContact = true;
    v.contact.rest.running = false;
    PlaceLanded(v, body, mjd);
}

void PlaceLanded(Vessel &v, const CentralBody &body, double mjd) {
    const Mat3 planet = body.Orientation(mjd);
    v.motion.positionGlobal = planet * v.contact.landed.positionBodyFixed;
    // The surface's own velocity at the mean radius under the vessel.
    v.motion.velocityGlobal = body.SurfaceVelocity(v.motion.positionGlobal.normalized() * body.radius);
    v.motion.attitude = Quat(planet * v.contact.landed.vesselToBodyFixed);
    v.motion.attitude.normalize();
    UpdateSurface(v, body);
}

void Release(Vessel &v) {
    v.contact.landed.landed = false;
    v.motion.bodyRates.setZero();
    v.contact.rest.running = false;
}

void TestForRest(Vessel &v, const CentralBody &body, double mjd, double simTime) {
    if (v.Landed()) return;
    if (!v.contact.groundContact || v.actuators.thrusting) {
        v.contact.rest.running = false;
        return;
    }
    RestTest &r = v.contact.rest;
    if (!r.running) {
        r.running = true;
        r.startTime = simTime;
        r.samplePositionBodyFixed = BodyFixedPosition(v, body, mjd);
        r.sampleAttitudeAxis = AttitudeAxisOf(v);
        return;
    }
    // Divided by the time since the vessel was last found moving, not since
    // the last comparison: once quiet for the gate, every frame is compared
    // with the one before against a growing interval.
    const double quiet = simTime - r.startTime;
    if (quiet < kRestQuietGate) return;
    const Vec3 pos = BodyFixedPosition(v, body, mjd);
    const Vec3 axis = AttitudeAxisOf(v);
    const double displacement = (pos - r.samplePositionBodyFixed).squaredNorm();
    const double turn = AngleBetweenAxes(r.sampleAttitudeAxis, axis);
    r.samplePositionBodyFixed = pos;
    r.sampleAttitudeAxis = axis;
    if (displacement / quiet > kRestDisplacementRate || turn / quiet > kRestTurnRate)
        r.startTime = simTime;
    else if (quiet > kRestTimeToLand)
        Land(v, body, mjd);
}

RestPose RestPoseOnSprings(const Vessel &v, const CentralBody &body) {
    const auto &p = v.def.touchdown;
    const Vec3 n = TouchdownNormal(p);
    const double weight = body.gm * v.Mass() / (body.radius * body.radius);
    const std::array<double, 3> c = CompressionPerNewton(p, v.def.stiffness);
    std::array<Vec3, 3> pressed;
    for (int i = 0; i < 3; ++i) pressed[i] = p[i] + n * c[i] * weight;
    const Vec3 n2 = TouchdownNormal(pressed);
    RestPose pose;
    pose.height = n2.dot(-pressed[0]);
    // The least turn that brings the pressed plane's normal to the vertical.
    pose.tilt = Quat::FromTwoVectors(n2, Vec3::UnitY()).toRotationMatrix();
    return pose;
}

}  // namespace vtal::sim
