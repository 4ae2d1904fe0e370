#include "sim/vessel/Integration.h"

#include <cmath>

#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

// On entering contact the host lets a vessel approach the ground at no more
// than 0.1 m per sub-step.
constexpr double kEntryDepthPerSubstep = 0.1;  // m

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
    const double radius = k.pos.norm();
    const Mat3 rot = k.attitude.toRotationMatrix();
    if (contact) {
        const ContactLoads cl = SurfaceContact(v, k, rot, radius, c.mass, body, h);
        force += cl.force;
        torque += cl.torque;
    }
    Rates r;
    r.vel = k.vel;
    // Point-mass gravity, and the loads turned into the global frame.
    r.acc = GravityAcceleration(k.pos, radius, body) + rot * force / c.mass;
    // Euler's equations in the host's rate convention: I w' = tau + w x (I w).
    r.omegaDot = (torque + k.omega.cross(c.inertia.cwiseProduct(k.omega))).cwiseProduct(c.inverseInertia);
    if (!r.omegaDot.allFinite()) r.omegaDot.setZero();
    // A body axis e moves as e x w: in the ordinary formulas a turn by -w.
    const Quat w(0.0, -k.omega.x(), -k.omega.y(), -k.omega.z());
    r.spin = k.attitude * w;
    r.spin.coeffs() *= 0.5;
    return r;
}

Kinematics Advance(const Kinematics &k, const Rates &r, double h) {
    Kinematics out;
    out.pos = k.pos + r.vel * h;
    out.vel = k.vel + r.acc * h;
    out.attitude.coeffs() = k.attitude.coeffs() + r.spin.coeffs() * h;
    out.omega = k.omega + r.omegaDot * h;
    return out;
}

// The surface-relative approach speed allowed when contact begins.
void LimitApproach(Kinematics &k, const CentralBody &body, double dt) {
    const Vec3 up = k.pos.normalized();
    const Vec3 surface = body.SurfaceVelocity(k.pos);
    const Vec3 ground = k.vel - surface;
    const double vn = ground.dot(up);
    const double limit = -kEntryDepthPerSubstep * kContactSubsteps / dt;
    if (vn < limit) k.vel = surface + ground * (limit / vn);
}

}  // namespace

Kinematics RungeKuttaStep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                          double mass, double h, bool contact) {
    const StepConstants constants = ConstantsOf(v, mass);
    const Rates a = Derivative(v, k, body, loads, constants, h, contact);
    const Rates b = Derivative(v, Advance(k, a, 0.5 * h), body, loads, constants, h, contact);
    const Rates c = Derivative(v, Advance(k, b, 0.5 * h), body, loads, constants, h, contact);
    const Rates d = Derivative(v, Advance(k, c, h), body, loads, constants, h, contact);
    Kinematics out;
    const double s = h / 6.0;
    out.pos = k.pos + s * (a.vel + 2.0 * b.vel + 2.0 * c.vel + d.vel);
    out.vel = k.vel + s * (a.acc + 2.0 * b.acc + 2.0 * c.acc + d.acc);
    out.attitude.coeffs() = k.attitude.coeffs() + s * (a.spin.coeffs() + 2.0 * b.spin.coeffs() +
                                                       2.0 * c.spin.coeffs() + d.spin.coeffs());
    out.attitude.normalize();
    out.omega = k.omega + s * (a.omegaDot + 2.0 * b.omegaDot + 2.0 * c.omegaDot + d.omegaDot);
    return out;
}

void Propagate(Vessel &v, const CentralBody &body, const Loads &loads, double dt) {
    const double mass = v.Mass();
    const Kinematics start = v.State();
    if (!v.groundContact) {
        const Kinematics free = RungeKuttaStep(v, start, body, loads, mass, dt, false);
        if (!PointBelowSurface(v, free, body)) {
            v.SetState(free);
            return;
        }
        // A point went below the surface: fly the step again in contact.
        v.groundContact = true;
        Kinematics entry = start;
        LimitApproach(entry, body, dt);
        v.SetState(entry);
    }
    const double h = dt / kContactSubsteps;
    Kinematics k = v.State();
    for (int i = 0; i < kContactSubsteps; ++i) k = RungeKuttaStep(v, k, body, loads, mass, h, true);
    v.SetState(k);
}

}  // namespace vtal::sim
