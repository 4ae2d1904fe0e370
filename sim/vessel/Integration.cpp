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

// Fixed-point passes for the rates halfway through a free-flight step's
// turn: from the explicit midpoint's rates, three reach the implicit
// midpoint rule's to rounding at the frames the host flies (a spinning
// vessel's rates then agree with a fine integration 20 times better than the
// explicit rule's). A contact sub-step, of first order in all else, turns
// about the rates it starts with: the passes were half its cost.
constexpr int kFreeFlightTurnPasses = 3;
constexpr int kContactTurnPasses = 0;

struct Rates {
    Vec3 vel, acc;   // global
    Quat spin;       // time derivative of the attitude quaternion
    Vec3 omegaDot;   // vessel frame
    Vec3 torque;     // vessel frame: every load's, the contact's included
};

// Everything of a vessel that stays fixed over a step.
struct StepConstants {
    double mass = 0.0;
    // 1 / (pmi * mass), per axis; 0 about an axis without inertia (a vessel
    // of no size or mass), about which it then keeps the rate it has.
    Vec3 inverseInertia = Vec3::Zero();
    Vec3 inertia = Vec3::Zero();
};

StepConstants ConstantsOf(const Vessel &v, double mass) {
    StepConstants c;
    c.mass = mass;
    c.inertia = v.def.pmi * mass;
    for (int i = 0; i < 3; ++i) c.inverseInertia[i] = c.inertia[i] > 0.0 ? 1.0 / c.inertia[i] : 0.0;
    return c;
}

// The vector v turned about the axis of w by the angle 2 atan(|w| h / 2)
// (|w| h to within a part in a thousand up to 0.1 rad, and as the attitude
// turns in a contact sub-step). In this (Cayley) form it needs no
// trigonometry and keeps the length of v to rounding at any angle.
// Inlined by force, as RatesAfterStep: four calls per contact sub-step, and
// inlining the two saved a tenth of a campaign's processor time.
inline __attribute__((always_inline)) Vec3 TurnedAbout(const Vec3 &v, const Vec3 &w, double h) {
    const Vec3 a = 0.5 * h * w;
    const Vec3 av = a.cross(v);
    return v + (2.0 / (1.0 + a.squaredNorm())) * (av + a.cross(av));
}

// The body rates w after a step of length h under a torque. Euler's
// equations, I w' = tau + w x (I w), say that without torque the angular
// momentum I w turns about the rates: between two half kicks of the torque
// it is turned about the rates halfway through the turn (the implicit
// midpoint rule, whose turn keeps both the momentum's length and the
// energy), found from `guess` by `passes` fixed-point passes. Turned about
// any rates, the momentum keeps its length, so the rates stay within
// |I w| / I_min. Added to along w x (I w) instead, as an explicit step does,
// the momentum grows every step by a factor that grows with |w| h: a lander
// spinning at 1000 deg/s at frames of 0.1 s, or tumbling in the ground after
// a crash at frames of 1 s, spun up without end.
inline __attribute__((always_inline)) Vec3 RatesAfterStep(const Vec3 &w, const Vec3 &guess, const Vec3 &torque,
                                                         const StepConstants &c, double h, int passes) {
    const Vec3 momentum = c.inertia.cwiseProduct(w);
    const Vec3 halfKick = 0.5 * h * torque;
    const Vec3 kicked = momentum + halfKick;
    Vec3 halfway = guess;
    for (int pass = 0; pass < passes; ++pass)
        halfway = w + (0.5 * (kicked + TurnedAbout(kicked, halfway, h)) - momentum).cwiseProduct(c.inverseInertia);
    return w + (TurnedAbout(kicked, halfway, h) + halfKick - momentum).cwiseProduct(c.inverseInertia);
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
    r.torque = torque;
    // A contact sub-step turns the rates and the attitude itself (from the
    // torque and the new rates); only free flight's midpoint rule needs the
    // derivatives of both.
    if (contact) return r;
    // Euler's equations in the host's rate convention: I w' = tau + w x (I w).
    r.omegaDot = (torque + k.bodyRates.cross(c.inertia.cwiseProduct(k.bodyRates))).cwiseProduct(c.inverseInertia);
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

// One free-flight step of length h from k: the explicit midpoint rule, but
// for the body rates, whose angular momentum is turned (RatesAfterStep,
// from the explicit rule's midpoint rates; of second order too).
Kinematics MidpointStep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                        const StepConstants &constants, double h) {
    const Rates start = Derivative(v, k, body, loads, constants, h, false);
    const Kinematics halfway = Advance(k, start, 0.5 * h);
    const Rates middle = Derivative(v, halfway, body, loads, constants, h, false);
    Kinematics out = Advance(k, middle, h);
    out.bodyRates = RatesAfterStep(k.bodyRates, halfway.bodyRates, middle.torque, constants, h, kFreeFlightTurnPasses);
    out.attitude.normalize();
    return out;
}

// One semi-implicit Euler sub-step of length h from k with the contact
// loads, whose limits take a sub-step of length lawSubstep: the rates move
// first (the body rates with their angular momentum turned about the rates
// the sub-step starts with, RatesAfterStep), the pose with the new rates.
Kinematics ContactSubstep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                          const StepConstants &constants, double h, double lawSubstep) {
    const Rates r = Derivative(v, k, body, loads, constants, lawSubstep, true);
    Kinematics out;
    out.velocityGlobal = k.velocityGlobal + r.acc * h;
    out.positionGlobal = k.positionGlobal + out.velocityGlobal * h;
    out.bodyRates = RatesAfterStep(k.bodyRates, k.bodyRates, r.torque, constants, h, kContactTurnPasses);
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
