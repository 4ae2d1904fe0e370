#include "sim/vessel/Contact.h"

#include <algorithm>
#include <cmath>

namespace vtal::sim {
namespace {

// Per point: 20 N/m per kg of empty mass, or 1e6 N/m for the default 1000 kg.
constexpr double kStiffnessPerEmptyMass = 20.0;
constexpr double kDefaultEmptyMass = 1000.0;
constexpr double kDefaultStiffness = 1e6;
constexpr double kDampingFraction = 0.1;
// Deeper than this a point pushes no harder.
constexpr double kMaxDepth = 1.0;  // m
// Friction presses with the spring of at most this depth.
constexpr double kFrictionDepth = 0.1;  // m
// Friction grows as sqrt(0.1 |v|) up to 10 m/s of sliding.
constexpr double kFrictionSpeedScale = 0.1;
constexpr double kFullFrictionSpeed = 10.0;  // m/s
// The contact moment may turn the vessel by at most this much in a sub-step.
constexpr double kMaxTurnPerSubstep = 10.0 * kRadPerDeg;

double FrictionSpeedFactor(double v) {
    const double speed = std::fabs(v);
    return speed < kFullFrictionSpeed ? std::sqrt(kFrictionSpeedScale * speed) : 1.0;
}

double Sign(double x) { return (x > 0.0) - (x < 0.0); }

// Scales the friction forces along one axis so that their sum cannot reverse
// the centre of gravity's own velocity along it within the sub-step.
void LimitFriction(double (&f)[3], double cgVelocity, double mass, double h) {
    if (cgVelocity == 0.0) {
        f[0] = f[1] = f[2] = 0.0;
        return;
    }
    const double sum = f[0] + f[1] + f[2];
    const double fmax = -cgVelocity * mass / h;
    if ((fmax >= 0.0 && sum > fmax) || (fmax <= 0.0 && sum < fmax)) {
        const double scale = sum != 0.0 ? fmax / sum : 0.0;
        for (double &x : f) x *= scale;
    }
}

}  // namespace

Vec3 TouchdownNormal(const std::array<Vec3, 3> &p) {
    return (p[0] - 0.5 * (p[1] + p[2])).cross(p[2] - p[1]).normalized();
}

bool SetTouchdownPoints(VesselDefinition &def, const Vec3 &p0, const Vec3 &p1, const Vec3 &p2) {
    if (!((p0 - 0.5 * (p1 + p2)).cross(p2 - p1).norm() > 1e-12)) return false;
    def.touchdown = {p0, p1, p2};
    def.stiffness = def.emptyMass == kDefaultEmptyMass ? kDefaultStiffness : kStiffnessPerEmptyMass * def.emptyMass;
    def.damping = kDampingFraction * def.stiffness;
    return true;
}

bool PointBelowSurface(const Vessel &v, const Kinematics &k, const CentralBody &body) {
    if (k.pos.norm() - body.radius > kContactRangeInSizes * v.def.size) return false;
    for (const Vec3 &p : v.def.touchdown)
        if ((k.pos + k.attitude * p).norm() - body.radius < 0.0) return true;
    return false;
}

ContactLoads SurfaceContact(const Vessel &v, const Kinematics &k, double mass, const CentralBody &body, double h) {
    ContactLoads out;
    const double radius = k.pos.norm();
    if (radius - body.radius > kContactRangeInSizes * v.def.size) return out;
    const auto &points = v.def.touchdown;
    const Mat3 rot = k.attitude.toRotationMatrix();
    double depth[3];
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        depth[i] = (k.pos + rot * points[i]).norm() - body.radius;
        any = any || depth[i] < 0.0;
    }
    if (!any) return out;

    const Mat3 toVessel = rot.transpose();
    const Vec3 hn = toVessel * (k.pos / radius);
    Vec3 d1 = points[0] - 0.5 * (points[1] + points[2]);
    d1 -= d1.dot(hn) * hn;
    d1.normalize();
    const Vec3 d2 = hn.cross(d1);
    const Vec3 ground = toVessel * (k.vel - body.SurfaceVelocity(k.pos));

    const double stiffness = v.def.stiffness, damping = v.def.damping;
    double normal[3] = {0.0, 0.0, 0.0}, lng[3] = {0.0, 0.0, 0.0}, lat[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i) {
        if (depth[i] >= 0.0) continue;
        const double t = std::max(depth[i], -kMaxDepth);
        const Vec3 g = ground + points[i].cross(k.omega);
        const double gn = g.dot(hn), g1 = g.dot(d1), g2 = g.dot(d2);
        // The damper is not clamped: it pulls while the point rises.
        normal[i] = -t * stiffness - gn * damping;
        const double pressure = std::min(-t, kFrictionDepth) * stiffness;
        lng[i] = -Sign(g1) * v.def.frictionLng * pressure * FrictionSpeedFactor(g1);
        lat[i] = -Sign(g2) * v.def.frictionLat * pressure * FrictionSpeedFactor(g2);
    }
    LimitFriction(lng, ground.dot(d1), mass, h);
    LimitFriction(lat, ground.dot(d2), mass, h);

    for (int i = 0; i < 3; ++i) {
        const Vec3 f = normal[i] * hn + lng[i] * d1 + lat[i] * d2;
        out.force += f;
        out.torque += TorqueOf(f, points[i]);
    }
    // Never more moment than turns the vessel by 10 degrees in a sub-step.
    const Vec3 pmi = v.def.pmi;
    const Vec3 alpha = (out.torque / mass + k.omega.cross(pmi.cwiseProduct(k.omega))).cwiseQuotient(pmi);
    const double turn = alpha.norm() * h * h;
    if (turn > kMaxTurnPerSubstep) out.torque *= kMaxTurnPerSubstep / turn;
    return out;
}

}  // namespace vtal::sim
