#include "sim/vessel/Landed.h"

#include <algorithm>
#include <cmath>

#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

// The host's measure of a turn: the angle between the vector parts of the
// two attitudes' quaternions (smaller than the rotation angle between them).
double TurnBetween(const Mat3 &a, const Mat3 &b) {
    Quat qa(a), qb(b);
    if (qa.w() < 0) qa.coeffs() *= -1.0;
    if (qb.w() < 0) qb.coeffs() *= -1.0;
    const Vec3 va = qa.vec(), vb = qb.vec();
    const double n = va.norm() * vb.norm();
    if (!(n > 0.0)) return Eigen::AngleAxisd(a.transpose() * b).angle();  // an identity attitude has no vector part
    return std::acos(std::clamp(va.dot(vb) / n, -1.0, 1.0));
}

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

}  // namespace

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
    const Vec3 pos = BodyFixedPosition(v, body, mjd);
    const Mat3 rot = BodyFixedRotation(v, body, mjd);
    RestTest &r = v.contact.rest;
    if (!r.running) {
        r.running = true;
        r.startTime = r.sampleTime = simTime;
        r.samplePositionBodyFixed = pos;
        r.sampleVesselToBodyFixed = rot;
        return;
    }
    const double interval = simTime - r.sampleTime;
    if (interval < kRestSampleInterval) return;
    const bool moving = (pos - r.samplePositionBodyFixed).squaredNorm() / interval > kRestDisplacementRate ||
                        TurnBetween(r.sampleVesselToBodyFixed, rot) / interval > kRestTurnRate;
    if (moving) r.startTime = simTime;
    r.sampleTime = simTime;
    r.samplePositionBodyFixed = pos;
    r.sampleVesselToBodyFixed = rot;
    if (!moving && simTime - r.startTime > kRestTimeToLand) Land(v, body, mjd);
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
