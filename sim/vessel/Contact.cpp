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
// Below this fraction of its length, the layout's front has no direction in
// the ground's plane that rounding would not decide.
constexpr double kLeastLevelFront = 1e-9;
// The contact moment may turn the vessel by at most this much in a sub-step.
constexpr double kMaxTurnPerSubstep = 10.0 * kRadPerDeg;

double FrictionSpeedFactor(double v) {
    const double speed = std::fabs(v);
    return speed < kFullFrictionSpeed ? std::sqrt(kFrictionSpeedScale * speed) : 1.0;
}

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

// Never more moment than turns the vessel by 10 degrees in a sub-step: the
// angular acceleration of Euler's equations (mass-normalised inertia) times h^2.
void LimitTurn(Vec3 &torque, const Vec3 &w, const Vec3 &pmi, double mass, double h) {
    const Vec3 alpha = (torque / mass + w.cross(pmi.cwiseProduct(w))).cwiseQuotient(pmi);
    const double turnSquared = alpha.squaredNorm() * (h * h) * (h * h);
    if (turnSquared > kMaxTurnPerSubstep * kMaxTurnPerSubstep) torque *= kMaxTurnPerSubstep / std::sqrt(turnSquared);
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

namespace {

// The depth of a touchdown point below the mean-radius surface, from the
// centre of gravity's radius r and altitude and the point's height a above
// the centre of gravity along the local vertical: the exact radial depth
// to the second order in |p|/r. The terms left out are below 1e-13 m for a
// lander on the Moon, far under the rounding of the radius itself.
double PointDepth(double altitude, double halfInverseRadius, double height, double squaredDistance) {
    return altitude + height + (squaredDistance - height * height) * halfInverseRadius;
}

// The host's longitudinal friction direction: the layout's front (p0 from
// the middle of p1 and p2) in the plane of the ground. A vessel whose front
// points straight up or down, as it can while tumbling in the ground, has no
// such direction (the host's would be 0/0): the ground-plane direction
// across its lateral axis (p1 to p2) is taken then, which for a symmetric
// layout standing level would be its front.
Vec3 LongitudinalDirection(const std::array<Vec3, 3> &points, const Vec3 &upVessel) {
    const Vec3 front = points[0] - 0.5 * (points[1] + points[2]);
    const Vec3 level = front - front.dot(upVessel) * upVessel;
    const double length = level.norm();
    if (length > kLeastLevelFront * front.norm()) return level / length;
    return (points[2] - points[1]).cross(upVessel).normalized();
}

// The local vertical in the vessel frame, from the attitude's rotation matrix.
Vec3 UpVessel(const Mat3 &rot, const Vec3 &pos, double radius) {
    return rot.transpose() * pos / radius;
}

}  // namespace

bool PointBelowSurface(const Vessel &v, const Kinematics &k, const CentralBody &body) {
    const double radius = k.positionGlobal.norm(), altitude = radius - body.radius;
    if (altitude > kContactRangeInSizes * v.def.size) return false;
    const Vec3 upVessel = UpVessel(k.attitude.toRotationMatrix(), k.positionGlobal, radius);
    const double halfInverseRadius = 0.5 / radius;
    for (const Vec3 &p : v.def.touchdown)
        if (PointDepth(altitude, halfInverseRadius, upVessel.dot(p), p.squaredNorm()) < 0.0) return true;
    return false;
}

ContactLoads SurfaceContact(const Vessel &v, const Kinematics &k, double mass, const CentralBody &body, double h) {
    return SurfaceContact(v, k, k.attitude.toRotationMatrix(), k.positionGlobal.norm(), mass, body, h);
}

// The contact law runs at every stage of ten sub-steps per frame while a
// vessel is on the ground, so it is written out in components: Eigen's
// fixed-size 3-vectors cost about twice the arithmetic here in moves.
ContactLoads SurfaceContact(const Vessel &v, const Kinematics &k, const Mat3 &rot, double radius, double mass,
                            const CentralBody &body, double h) {
    ContactLoads out;
    const double altitude = radius - body.radius;
    if (altitude > kContactRangeInSizes * v.def.size) return out;
    const auto &points = v.def.touchdown;
    const Vec3 upVessel = rot.transpose() * (k.positionGlobal / radius);
    const double halfInverseRadius = 0.5 / radius;
    double depth[3];
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        depth[i] = PointDepth(altitude, halfInverseRadius, upVessel.dot(points[i]), points[i].squaredNorm());
        any = any || depth[i] < 0.0;
    }
    if (!any) return out;

    const Vec3 d1 = LongitudinalDirection(points, upVessel);
    const Vec3 d2 = upVessel.cross(d1);
    // The vessel's velocity over the turning ground, in the vessel frame.
    const Vec3 ground = rot.transpose() * (k.velocityGlobal - body.SurfaceVelocity(k.positionGlobal));
    const double groundN = ground.dot(upVessel), ground1 = ground.dot(d1), ground2 = ground.dot(d2);
    // A point's velocity adds p x w; along a direction d that is p.(w x d).
    const Vec3 turnN = k.bodyRates.cross(upVessel), turn1 = k.bodyRates.cross(d1), turn2 = k.bodyRates.cross(d2);

    const double stiffness = v.def.stiffness, damping = v.def.damping;
    const double muLng = v.def.frictionLng, muLat = v.def.frictionLat;
    double normal[3] = {0.0, 0.0, 0.0}, lng[3] = {0.0, 0.0, 0.0}, lat[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i) {
        if (depth[i] >= 0.0) continue;
        const Vec3 &p = points[i];
        const double t = std::max(depth[i], -kMaxDepth);
        const double gn = groundN + p.dot(turnN), g1 = ground1 + p.dot(turn1), g2 = ground2 + p.dot(turn2);
        // The damper is not clamped: it pulls while the point rises.
        normal[i] = -t * stiffness - gn * damping;
        const double pressure = std::min(-t, kFrictionDepth) * stiffness;
        lng[i] = -Sign(g1) * muLng * pressure * FrictionSpeedFactor(g1);
        lat[i] = -Sign(g2) * muLat * pressure * FrictionSpeedFactor(g2);
    }
    LimitFriction(lng, ground1, mass, h);
    LimitFriction(lat, ground2, mass, h);

    // Sum of f_i x p_i with f_i = fn_i upVessel + f1_i d1 + f2_i d2, gathered by direction.
    Vec3 momentN = Vec3::Zero(), moment1 = Vec3::Zero(), moment2 = Vec3::Zero();
    for (int i = 0; i < 3; ++i) {
        momentN += normal[i] * points[i];
        moment1 += lng[i] * points[i];
        moment2 += lat[i] * points[i];
    }
    out.force = (normal[0] + normal[1] + normal[2]) * upVessel + (lng[0] + lng[1] + lng[2]) * d1 +
                (lat[0] + lat[1] + lat[2]) * d2;
    out.torque = TorqueOf(upVessel, momentN) + TorqueOf(d1, moment1) + TorqueOf(d2, moment2);
    LimitTurn(out.torque, k.bodyRates, v.def.pmi, mass, h);
    return out;
}

}  // namespace vtal::sim
