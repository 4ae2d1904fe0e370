#include "sim/vessel/Dynamics.h"

#include <algorithm>
#include <cmath>

#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

constexpr unsigned kPointingModes = (1u << 3) | (1u << 4) | (1u << 5) | (1u << 6);
constexpr unsigned kAllNavmodes = 0x7Eu;  // bits 1..6
// Kill rotation switches itself off below this rate, rad/s.
constexpr double kKillRotationDone = 1e-5;
// Hold level: target rate sqrt(kHoldRateGain |r| a); demand scaled by kHoldDemandGain.
constexpr double kHoldRateGain = 0.04;
constexpr double kHoldDemandGain = 0.2;
constexpr double kHoldMaxOverride = 0.8;
// Kill rotation commands a tenth of the torque that would cancel the rate at once.
constexpr double kKillTorqueDivisor = 10.0;
// Pointing modes turn at up to 5 deg/s with overrides up to 0.4.
constexpr double kPointingMaxRate = 5.0 * kRadPerDeg;
constexpr double kPointingRateGain = 0.5;  // 1/s: rate demanded per rad of error
constexpr double kPointingMaxOverride = 0.4;
// Contact: per point, stiffness 20 x empty mass N/m, damping a tenth of it.
constexpr double kStiffnessPerEmptyMass = 20.0;
constexpr double kDampingFraction = 0.1;
// Deeper than this a point (or the vessel's origin) is not held by its spring:
// the vessel is stopped against the ground as in an inelastic impact.
constexpr double kMaxPenetration = 1.0;  // m

double Sign(double x) { return (x > 0.0) - (x < 0.0); }

void AddOverride(Vessel &v, int type, double amount) {
    ThrusterGroup *g = v.Group(type);
    if (!g || amount <= 0.0) return;
    for (Thruster *t : g->members) t->override += amount;
}

double MomentOf(const Vessel &v, int type) {
    const ThrusterGroup *g = v.Group(type);
    return g ? g->largestMoment : 0.0;
}

// Hold level on one axis: r is the angle to take to zero, w the body rate;
// `increasing` raises w, `decreasing` lowers it, and the target rate has the
// sign targetSign * sign(r).
void HoldAxis(Vessel &v, double r, double w, double inertia, int increasing, int decreasing,
              double targetSign, double dt) {
    // The largest moment of the group that reduces r.
    const int reducing = targetSign * (r >= 0.0 ? 1.0 : -1.0) > 0.0 ? increasing : decreasing;
    const double moment = MomentOf(v, reducing);
    if (moment <= 0.0 || inertia <= 0.0) return;
    const double a = moment / inertia;
    const double target = targetSign * Sign(r) * std::sqrt(kHoldRateGain * std::fabs(r) * a);
    const double demand = (target - w) / dt / a * kHoldDemandGain;
    if (demand > 0.0) AddOverride(v, increasing, std::min(demand, kHoldMaxOverride));
    if (demand < 0.0) AddOverride(v, decreasing, std::min(-demand, kHoldMaxOverride));
}

void HoldLevel(Vessel &v, double dt) {
    const double m = v.Mass();
    // Pitch: +w_x raises the nose, so a raised nose wants a negative rate.
    HoldAxis(v, Pitch(v), v.omega.x(), v.def.pmi.x() * m, THGROUP_ATT_PITCHUP,
             THGROUP_ATT_PITCHDOWN, -1.0, dt);
    // Bank: +w_z lowers the right side, so a raised right side wants a positive rate.
    HoldAxis(v, Bank(v), v.omega.z(), v.def.pmi.z() * m, THGROUP_ATT_BANKRIGHT,
             THGROUP_ATT_BANKLEFT, 1.0, dt);
}

void KillAxis(Vessel &v, double torque, int positiveGroup, int negativeGroup) {
    const int type = torque >= 0.0 ? positiveGroup : negativeGroup;
    const double moment = MomentOf(v, type);
    if (moment <= 0.0) return;
    AddOverride(v, type, std::min(std::fabs(torque) / (kKillTorqueDivisor * moment), 1.0));
}

void KillRotation(Vessel &v, double dt) {
    if (v.omega.norm() < kKillRotationDone) {
        v.navmodes &= ~(1u << NAVMODE_KILLROT);
        return;
    }
    const Vec3 &w = v.omega;
    const Vec3 &p = v.def.pmi;
    const double m = v.Mass();
    const double tx = (-w.x() * p.x() / dt + (p.z() - p.y()) * w.y() * w.z()) * m;
    const double ty = (-w.y() * p.y() / dt + (p.x() - p.z()) * w.z() * w.x()) * m;
    const double tz = (-w.z() * p.z() / dt + (p.y() - p.x()) * w.x() * w.y()) * m;
    KillAxis(v, tx, THGROUP_ATT_PITCHUP, THGROUP_ATT_PITCHDOWN);
    KillAxis(v, ty, THGROUP_ATT_YAWLEFT, THGROUP_ATT_YAWRIGHT);
    KillAxis(v, tz, THGROUP_ATT_BANKRIGHT, THGROUP_ATT_BANKLEFT);
}

// Rate control of one axis towards a demanded rate, with overrides up to the limit.
void RateAxis(Vessel &v, double target, double w, double inertia, int positiveGroup,
              int negativeGroup, double dt) {
    const double moment = MomentOf(v, target - w >= 0.0 ? positiveGroup : negativeGroup);
    if (moment <= 0.0 || inertia <= 0.0) return;
    const double a = moment / inertia;
    const double demand = (target - w) / dt / a * kHoldDemandGain;
    if (demand > 0.0) AddOverride(v, positiveGroup, std::min(demand, kPointingMaxOverride));
    if (demand < 0.0) AddOverride(v, negativeGroup, std::min(-demand, kPointingMaxOverride));
}

// Turns the forward axis towards a global direction.
void PointAt(Vessel &v, const Vec3 &globalTarget, double dt) {
    if (globalTarget.norm() < 1e-9) return;
    const Vec3 t = v.attitude.conjugate() * globalTarget.normalized();
    const double error = std::acos(std::clamp(t.z(), -1.0, 1.0));
    const double rate = std::min(kPointingMaxRate, kPointingRateGain * error);
    // The nose moves as z x w = (-w_y, w_x, 0): towards +y with w_x, towards +x with -w_y.
    double side = std::hypot(t.x(), t.y());
    Vec3 wanted = Vec3::Zero();
    if (side > 1e-12)
        wanted = Vec3(t.y() / side, -t.x() / side, 0.0) * rate;
    else if (t.z() < 0.0)
        wanted = Vec3(rate, 0.0, 0.0);  // straight behind: pitch over
    const double m = v.Mass();
    RateAxis(v, wanted.x(), v.omega.x(), v.def.pmi.x() * m, THGROUP_ATT_PITCHUP,
             THGROUP_ATT_PITCHDOWN, dt);
    RateAxis(v, wanted.y(), v.omega.y(), v.def.pmi.y() * m, THGROUP_ATT_YAWLEFT,
             THGROUP_ATT_YAWRIGHT, dt);
    RateAxis(v, 0.0, v.omega.z(), v.def.pmi.z() * m, THGROUP_ATT_BANKRIGHT,
             THGROUP_ATT_BANKLEFT, dt);
}

double IspAt(const Thruster &t, double pressure) {
    if (t.ispRef <= 0.0 || t.pRef <= 0.0 || pressure <= 0.0) return t.isp0;
    return std::max(0.0, t.isp0 - (t.isp0 - t.ispRef) * pressure / t.pRef);
}

// A crash or a tumble onto the side never takes the vessel far into the ground.
void StopAtMaxPenetration(Vessel &v, const CentralBody &body) {
    double deepest = body.radius - v.pos.norm();
    for (const Vec3 &p : v.def.touchdown) deepest = std::max(deepest, body.radius - LocalToGlobal(v, p).norm());
    if (deepest <= kMaxPenetration) return;
    const Vec3 up = v.pos.normalized();
    v.pos += (deepest - kMaxPenetration) * up;
    const double sink = v.vel.dot(up);
    if (sink < 0.0) v.vel -= sink * up;
}

// Permanent level plus this step's override, within [0, 1]; a thruster on an
// empty tank gives nothing and its level drops to 0.
void SetEffectiveLevels(Vessel &v) {
    for (auto &th : v.thrusters) {
        Thruster &t = *th;
        if (!t.tank || t.tank->mass <= 0.0) {
            t.level = 0.0;
            t.effective = 0.0;
        } else {
            t.effective = std::clamp(t.level + t.override, 0.0, 1.0);
        }
        t.override = 0.0;
    }
}

// The thrust of a tank's thrusters and the propellant they use: the mass flow
// at a level is that of the vacuum thrust at the vacuum Isp, so thrust falls
// with the Isp in an atmosphere. A tank that runs dry within the step shares
// what is left among its thrusters.
void BurnTank(Vessel &v, Tank &tank, double pressure, double dt, Loads &loads) {
    double demand = 0.0;
    for (const auto &th : v.thrusters) {
        const Thruster &t = *th;
        if (t.tank == &tank && t.effective > 0.0 && t.isp0 > 0.0)
            demand += t.maxThrust * t.effective / (tank.efficiency * t.isp0) * dt;
    }
    const double share = demand > tank.mass ? tank.mass / demand : 1.0;
    for (const auto &th : v.thrusters) {
        const Thruster &t = *th;
        if (t.tank != &tank || t.effective <= 0.0 || t.maxThrust <= 0.0) continue;
        const double ispScale = t.isp0 > 0.0 ? IspAt(t, pressure) / t.isp0 : 1.0;
        const Vec3 f = t.dir * (t.maxThrust * ispScale * t.effective * share);
        loads.force += f;
        loads.torque += TorqueOf(f, t.pos);
    }
    tank.mass = std::max(0.0, tank.mass - demand * share);
}

void RecordGroupLevels(Vessel &v) {
    for (auto &g : v.groups) {
        double sum = 0.0;
        for (const Thruster *t : g->members) sum += t->effective;
        g->lastLevel = g->members.empty() ? 0.0 : sum / static_cast<double>(g->members.size());
    }
}

}  // namespace

bool ActivateNavmode(Vessel &v, int mode) {
    if (mode < kFirstNavmode || mode > kLastNavmode || v.NavmodeOn(mode)) return false;
    unsigned keep = 0;
    if (mode == NAVMODE_KILLROT) keep = v.navmodes & (1u << NAVMODE_HLEVEL);
    v.navmodes = (v.navmodes & ~kAllNavmodes) | keep | (1u << mode);
    return true;
}

bool DeactivateNavmode(Vessel &v, int mode) {
    if (mode < kFirstNavmode || mode > kLastNavmode || !v.NavmodeOn(mode)) return false;
    v.navmodes &= ~(1u << mode);
    return true;
}

bool ToggleNavmode(Vessel &v, int mode) {
    if (mode < kFirstNavmode || mode > kLastNavmode) return false;
    return v.NavmodeOn(mode) ? DeactivateNavmode(v, mode) : ActivateNavmode(v, mode);
}

double LargestMoment(const ThrusterGroup &g) {
    Vec3 sum = Vec3::Zero();
    for (const Thruster *t : g.members) sum += TorqueOf(t->dir * t->maxThrust, t->pos);
    return sum.norm();
}

void SetGroupLevel(Vessel &v, int type, double level) {
    ThrusterGroup *g = v.Group(type);
    if (!g) return;
    level = std::clamp(level, 0.0, 1.0);
    for (Thruster *t : g->members) t->level = level;
}

void ApplyNavmodeOverrides(Vessel &v, double dt) {
    if (v.NavmodeOn(NAVMODE_HLEVEL)) HoldLevel(v, dt);
    if (v.NavmodeOn(NAVMODE_KILLROT)) KillRotation(v, dt);
    if (v.navmodes & kPointingModes) {
        const Vec3 normal = v.vel.cross(v.pos);
        if (v.NavmodeOn(NAVMODE_PROGRADE)) PointAt(v, v.vel, dt);
        if (v.NavmodeOn(NAVMODE_RETROGRADE)) PointAt(v, -v.vel, dt);
        if (v.NavmodeOn(NAVMODE_NORMAL)) PointAt(v, normal, dt);
        if (v.NavmodeOn(NAVMODE_ANTINORMAL)) PointAt(v, -normal, dt);
    }
}

Loads ApplyThrust(Vessel &v, const CentralBody &body, double dt) {
    for (int type = 0; type < kGroupTypes; ++type) AddOverride(v, type, v.keyOverride[type]);
    v.keyOverride.fill(0.0);
    SetEffectiveLevels(v);
    Loads loads;
    const double pressure = body.Pressure(Altitude(v, body));
    for (auto &tank : v.tanks) BurnTank(v, *tank, pressure, dt, loads);
    RecordGroupLevels(v);
    return loads;
}

void AddAerodynamics(const Vessel &v, const CentralBody &body, Loads &loads) {
    const double rho = body.Density(Altitude(v, body));
    if (rho <= 0.0) return;
    const Vec3 air = ShipAirspeed(v);
    const double speed = air.norm();
    const VesselDefinition &d = v.def;
    // Drag on each axis against that axis's airflow: 1/2 rho |v| v_i cw_i S_i.
    const double cwz = air.z() >= 0.0 ? d.cwZPos : d.cwZNeg;
    loads.force -= 0.5 * rho * speed *
                   Vec3(air.x() * d.cwX * d.crossSections.x(), air.y() * d.cwY * d.crossSections.y(),
                        air.z() * cwz * d.crossSections.z());
    if (d.liftCoeff && speed > 0.0) {
        // Lift in the vessel's y-z plane, across the airflow, on the y cross section.
        const double aoa = std::atan2(-air.y(), air.z());
        const double cl = d.liftCoeff(aoa);
        if (std::isfinite(cl)) {
            const Vec3 across = Vec3(0.0, air.z(), -air.y()).normalized();
            if (across.allFinite()) loads.force += 0.5 * rho * speed * speed * cl * d.crossSections.y() * across;
        }
    }
    // Rotational drag: each rate damped by its coefficient times the density.
    loads.torque -= rho * d.rotDrag.cwiseProduct(v.omega);
}

void Integrate(Vessel &v, const CentralBody &body, const Loads &loads, double dt) {
    const double m = v.Mass();
    const auto gravityAt = [&](const Vec3 &p) {
        const double r = p.norm();
        return Vec3(-body.gm / (r * r * r) * p);
    };
    // Velocity Verlet: exact for a constant field, and a vessel resting on its
    // springs has exactly zero velocity.
    const Vec3 other = (v.attitude * loads.force + v.contactForce) / m;
    const Vec3 g0 = gravityAt(v.pos);
    const Vec3 newPos = v.pos + v.vel * dt + 0.5 * (g0 + other) * dt * dt;
    v.vel += (0.5 * (g0 + gravityAt(newPos)) + other) * dt;
    v.pos = newPos;

    // Euler's equations in the host's rate convention: I w' = tau + w x (I w).
    const Vec3 inertia = v.def.pmi * m;
    const Vec3 torque = loads.torque + v.contactTorque;
    const Vec3 momentum = inertia.cwiseProduct(v.omega);
    const Vec3 wdot = (torque + v.omega.cross(momentum)).cwiseQuotient(inertia);
    if (wdot.allFinite()) v.omega += wdot * dt;
    v.attitude = TurnByBodyRates(v.attitude, v.omega * dt);
}

double ContactStiffness(const Vessel &v) { return kStiffnessPerEmptyMass * v.def.emptyMass; }
double ContactDamping(const Vessel &v) { return kDampingFraction * ContactStiffness(v); }

void EvaluateContact(Vessel &v, const CentralBody &body, double dt) {
    v.contactForce.setZero();
    v.contactTorque.setZero();
    v.groundContact = false;
    StopAtMaxPenetration(v, body);
    const double k = ContactStiffness(v), c = ContactDamping(v);
    const double m = v.Mass();
    const Vec3 inertia = v.def.pmi * m;

    std::array<bool, 3> touching{};
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        const Vec3 p = LocalToGlobal(v, v.def.touchdown[i]);
        touching[i] = p.norm() - body.radius <= 0.0;
        count += touching[i];
    }
    if (count == 0) return;
    v.groundContact = true;

    const Mat3 rot = v.Rotation();
    for (int i = 0; i < 3; ++i) {
        if (!touching[i]) continue;
        const Vec3 &local = v.def.touchdown[i];
        const Vec3 p = v.pos + rot * local;
        const Vec3 n = p.normalized();
        const double depth = body.radius - p.norm();
        // A body point moves as r x w in the vessel frame.
        const Vec3 pointVel = v.vel + rot * local.cross(v.omega);
        const double normalSpeed = pointVel.dot(n);
        const double normalForce = std::max(0.0, k * depth - c * normalSpeed);
        Vec3 force = normalForce * n;

        // Friction against the sliding direction, split into the vessel's
        // longitudinal and lateral directions along the surface.
        const Vec3 slide = pointVel - normalSpeed * n;
        const double slideSpeed = slide.norm();
        if (slideSpeed > 1e-12 && normalForce > 0.0) {
            Vec3 fwd = rot * Vec3::UnitZ();
            fwd -= fwd.dot(n) * n;
            if (fwd.norm() < 1e-9) fwd = rot * Vec3(0.0, -1.0, 0.0) - (rot * Vec3(0.0, -1.0, 0.0)).dot(n) * n;
            fwd.normalize();
            const Vec3 side = n.cross(fwd);
            const double vl = slide.dot(fwd), vs = slide.dot(side);
            Vec3 friction = -normalForce *
                            (v.def.frictionLng * vl / slideSpeed * fwd + v.def.frictionLat * vs / slideSpeed * side);
            // Never more than stops the point within this step: effective mass
            // of the point along the sliding direction, shared by the points in contact.
            const Vec3 dirLocal = rot.transpose() * (slide / slideSpeed);
            const Vec3 arm = local.cross(dirLocal);
            const double invMass = 1.0 / m + arm.cwiseProduct(arm).cwiseQuotient(inertia).sum();
            const double stopping = slideSpeed / invMass / dt / count;
            const double along = -friction.dot(slide / slideSpeed);
            if (along > stopping) friction *= stopping / along;
            force += friction;
        }
        v.contactForce += force;
        v.contactTorque += TorqueOf(rot.transpose() * force, local);
    }
}

}  // namespace vtal::sim
