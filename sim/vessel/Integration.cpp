#include "sim/vessel/Integration.h"

#include <algorithm>
#include <cmath>

#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

// On entering contact the host lets a vessel approach the ground at no more
// than 0.1 m per sub-step.
constexpr double kEntryDepthPerSubstep = 0.1;  // m

// A semi-implicit Euler step of a spring and damper is stable while
// (h w)^2 + 2 h c < 4 (w the spring's frequency, c the damping rate): with
// h c at most 1.5 and h w at most 1 on the bounds below it always is.
constexpr double kStableDampingPerSubstep = 1.5;

struct Rates {
    Vec3 vel, acc;   // global
    Quat spin;       // time derivative of the attitude quaternion
    Vec3 omegaDot;   // vessel frame
};

// Everything of a vessel that stays fixed over a step.
struct StepConstants {
    double mass = 0.0;
    Vec3 inverseInertia = Vec3::Zero();  // 1 / (pmi * mass), per axis
    Vec3 inertia = Vec3::Zero();
};

StepConstants ConstantsOf(const Vessel &v, double mass) {
    StepConstants c;
    c.mass = mass;
    c.inertia = v.def.pmi * mass;
    c.inverseInertia = c.inertia.cwiseInverse();
    return c;
}

Rates Derivative(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                 const StepConstants &c, double h, bool contact) {
    Vec3 force = loads.force, torque = loads.torque;
    const double radius = k.positionGlobal.norm();
    const Mat3 rot = k.attitude.toRotationMatrix();
    if (contact) {
        const ContactLoads cl = SurfaceContact(v, k, rot, radius, c.mass, body, h);
        force += cl.force;
        torque += cl.torque;
    }
    Rates r;
    r.vel = k.velocityGlobal;
    // Point-mass gravity, and the loads turned into the global frame.
    r.acc = GravityAcceleration(k.positionGlobal, radius, body) + rot * force / c.mass;
    // Euler's equations in the host's rate convention: I w' = tau + w x (I w).
    r.omegaDot = (torque + k.bodyRates.cross(c.inertia.cwiseProduct(k.bodyRates))).cwiseProduct(c.inverseInertia);
    if (!r.omegaDot.allFinite()) r.omegaDot.setZero();
    // A body axis e moves as e x w: in the ordinary formulas a turn by -w.
    const Quat w(0.0, -k.bodyRates.x(), -k.bodyRates.y(), -k.bodyRates.z());
    r.spin = k.attitude * w;
    r.spin.coeffs() *= 0.5;
    return r;
}

Kinematics Advance(const Kinematics &k, const Rates &r, double h) {
    Kinematics out;
    out.positionGlobal = k.positionGlobal + r.vel * h;
    out.velocityGlobal = k.velocityGlobal + r.acc * h;
    out.attitude.coeffs() = k.attitude.coeffs() + r.spin.coeffs() * h;
    out.bodyRates = k.bodyRates + r.omegaDot * h;
    return out;
}

// The surface-relative approach speed allowed when contact begins.
void LimitApproach(Kinematics &k, const CentralBody &body, double dt) {
    const Vec3 up = k.positionGlobal.normalized();
    const Vec3 surface = body.SurfaceVelocity(k.positionGlobal);
    const Vec3 ground = k.velocityGlobal - surface;
    const double vn = ground.dot(up);
    const double limit = -kEntryDepthPerSubstep * kContactSubsteps / dt;
    if (vn < limit) k.velocityGlobal = surface + ground * (limit / vn);
}

// One free-flight step of length h from k: the explicit midpoint rule.
Kinematics MidpointStep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                        const StepConstants &constants, double h) {
    const Rates start = Derivative(v, k, body, loads, constants, h, false);
    const Rates middle = Derivative(v, Advance(k, start, 0.5 * h), body, loads, constants, h, false);
    Kinematics out = Advance(k, middle, h);
    out.attitude.normalize();
    return out;
}

// One semi-implicit Euler sub-step of length h from k with the contact
// loads, whose limits take a sub-step of length lawSubstep: the rates move
// first, the pose with the new rates.
Kinematics ContactSubstep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                          const StepConstants &constants, double h, double lawSubstep) {
    const Rates r = Derivative(v, k, body, loads, constants, lawSubstep, true);
    Kinematics out;
    out.velocityGlobal = k.velocityGlobal + r.acc * h;
    out.positionGlobal = k.positionGlobal + out.velocityGlobal * h;
    out.bodyRates = k.bodyRates + r.omegaDot * h;
    // Turned with the new rates; to first order in the small angle of a sub-step.
    const Vec3 halfTurn = out.bodyRates * (-0.5 * h);
    out.attitude = k.attitude * Quat(1.0, halfTurn.x(), halfTurn.y(), halfTurn.z());
    out.attitude.normalize();
    return out;
}

}  // namespace

int ContactSubsteps(const VesselDefinition &def, double mass, double dt) {
    // Upper bounds of the fastest damping rate and spring frequency of the
    // vessel on its points, whatever its attitude: each point's spring and
    // damper act on the centre of gravity (1/m) and, at a lever of at most
    // |p|, on the least inertia.
    const double leastInertia = def.pmi.minCoeff() * mass;
    double compliance = 0.0;  // 1/kg
    for (const Vec3 &p : def.touchdown) compliance += 1.0 / mass + p.squaredNorm() / leastInertia;
    const double dampingRate = def.damping * compliance;           // 1/s
    const double springRate = std::sqrt(def.stiffness * compliance);  // rad/s
    const double needed = std::ceil(dt * std::max(dampingRate / kStableDampingPerSubstep, springRate));
    // A vessel without mass or inertia has no stable step to find.
    if (!std::isfinite(needed) || needed <= kContactSubsteps) return kContactSubsteps;
    return needed < kMaxContactSubsteps ? static_cast<int>(needed) : kMaxContactSubsteps + 1;
}

bool Propagate(Vessel &v, const CentralBody &body, const Loads &loads, double dt) {
    const double mass = v.Mass();
    const StepConstants constants = ConstantsOf(v, mass);
    const Kinematics start = v.motion;
    if (!v.contact.groundContact) {
        const Kinematics free = MidpointStep(v, start, body, loads, constants, dt);
        if (!PointBelowSurface(v, free, body)) {
            v.motion = free;
            return true;
        }
        // A point went below the surface: fly the step again in contact.
        v.contact.groundContact = true;
        Kinematics entry = start;
        LimitApproach(entry, body, dt);
        v.motion = entry;
    }
    const int needed = ContactSubsteps(v.def, mass, dt);
    const int substeps = std::min(needed, kMaxContactSubsteps);
    const double h = dt / substeps;
    // The contact law's own limits (friction that cannot reverse the motion,
    // at most 10 degrees of turn) are the host's, over its sub-step.
    const double hostSubstep = dt / kContactSubsteps;
    Kinematics k = v.motion;
    for (int i = 0; i < substeps; ++i) k = ContactSubstep(v, k, body, loads, constants, h, hostSubstep);
    v.motion = k;
    return needed <= kMaxContactSubsteps;
}

}  // namespace vtal::sim
