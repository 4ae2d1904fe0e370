#include "sim/vessel/Actuation.h"

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
// Pointing modes: rate demanded 0.25/s per rad of error, within 5 deg/s,
// overrides set up to 0.4.
constexpr double kPointingMaxRate = 5.0 * kRadPerDeg;
constexpr double kPointingRateGain = 0.25;  // 1/s
constexpr double kPointingMaxOverride = 0.4;

void AddGroupOverride(Vessel &v, int type, double amount) {
    ThrusterGroup *g = v.Group(type);
    if (!g || amount <= 0.0) return;
    for (Thruster *t : g->members) t->override += amount;
}

// The pointing modes replace the override of the group they command.
void SetGroupOverride(Vessel &v, int type, double amount) {
    ThrusterGroup *g = v.Group(type);
    if (!g) return;
    for (Thruster *t : g->members) t->override = amount;
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
    if (demand > 0.0) AddGroupOverride(v, increasing, std::min(demand, kHoldMaxOverride));
    if (demand < 0.0) AddGroupOverride(v, decreasing, std::min(-demand, kHoldMaxOverride));
}

void HoldLevel(Vessel &v, double dt) {
    const double m = v.Mass();
    // Pitch: +w_x raises the nose, so a raised nose wants a negative rate.
    HoldAxis(v, v.surface.pitchRad, v.motion.bodyRates.x(), v.def.pmi.x() * m, THGROUP_ATT_PITCHUP,
             THGROUP_ATT_PITCHDOWN, -1.0, dt);
    // Bank: +w_z lowers the right side, so a raised right side wants a positive rate.
    HoldAxis(v, v.surface.bankRad, v.motion.bodyRates.z(), v.def.pmi.z() * m, THGROUP_ATT_BANKRIGHT,
             THGROUP_ATT_BANKLEFT, 1.0, dt);
}

void KillAxis(Vessel &v, double torque, int positiveGroup, int negativeGroup) {
    const int type = torque >= 0.0 ? positiveGroup : negativeGroup;
    const double moment = MomentOf(v, type);
    if (moment <= 0.0) return;
    AddGroupOverride(v, type, std::min(std::fabs(torque) / (kKillTorqueDivisor * moment), 1.0));
}

void KillRotation(Vessel &v, double dt) {
    if (v.motion.bodyRates.norm() < kKillRotationDone) {
        v.actuators.navmodes &= ~(1u << NAVMODE_KILLROT);
        return;
    }
    const Vec3 &w = v.motion.bodyRates;
    const Vec3 &p = v.def.pmi;
    const double m = v.Mass();
    const double tx = (-w.x() * p.x() / dt + (p.z() - p.y()) * w.y() * w.z()) * m;
    const double ty = (-w.y() * p.y() / dt + (p.x() - p.z()) * w.z() * w.x()) * m;
    const double tz = (-w.z() * p.z() / dt + (p.y() - p.x()) * w.x() * w.y()) * m;
    KillAxis(v, tx, THGROUP_ATT_PITCHUP, THGROUP_ATT_PITCHDOWN);
    KillAxis(v, ty, THGROUP_ATT_YAWLEFT, THGROUP_ATT_YAWRIGHT);
    KillAxis(v, tz, THGROUP_ATT_BANKRIGHT, THGROUP_ATT_BANKLEFT);
}

// One axis of a pointing mode: the override that reaches the demanded rate
// in one step with the largest moment of the group acting in the needed
// sense; it replaces that group's override.
void PointAxis(Vessel &v, double demand, double w, double inertia, int positiveGroup, int negativeGroup,
               double dt) {
    const double target = std::clamp(demand, -kPointingMaxRate, kPointingMaxRate);
    const int acting = target - w >= 0.0 ? positiveGroup : negativeGroup;
    const double moment = MomentOf(v, acting);
    if (moment <= 0.0 || inertia <= 0.0) return;
    const double u = (target - w) / moment * inertia / dt;
    if (u >= 0.0)
        SetGroupOverride(v, positiveGroup, std::min(u, kPointingMaxOverride));
    else
        SetGroupOverride(v, negativeGroup, std::min(-u, kPointingMaxOverride));
}

// Turns the forward axis towards a global direction and rolls the radial
// direction into the vessel's x-z plane; rollSign is -1 for prograde and
// normal, +1 for retrograde and antinormal.
void PointAt(Vessel &v, const Vec3 &globalTarget, double rollSign, double dt) {
    if (!(globalTarget.norm() > 1e-9)) return;
    const Quat toVessel = v.motion.attitude.conjugate();
    const Vec3 t = toVessel * globalTarget.normalized();
    const Vec3 radial = toVessel * v.motion.positionGlobal.normalized();
    const double m = v.Mass();
    const Vec3 inertia = v.def.pmi * m;
    PointAxis(v, kPointingRateGain * std::asin(std::clamp(t.y(), -1.0, 1.0)), v.motion.bodyRates.x(), inertia.x(),
              THGROUP_ATT_PITCHUP, THGROUP_ATT_PITCHDOWN, dt);
    PointAxis(v, -kPointingRateGain * std::atan2(t.x(), t.z()), v.motion.bodyRates.y(), inertia.y(), THGROUP_ATT_YAWLEFT,
              THGROUP_ATT_YAWRIGHT, dt);
    PointAxis(v, rollSign * kPointingRateGain * std::asin(std::clamp(radial.y(), -1.0, 1.0)), v.motion.bodyRates.z(),
              inertia.z(), THGROUP_ATT_BANKRIGHT, THGROUP_ATT_BANKLEFT, dt);
}

double IspAt(const Thruster &t, double pressure) {
    if (t.ispRef <= 0.0 || t.pRef <= 0.0 || pressure <= 0.0) return t.isp0;
    return std::max(0.0, t.isp0 - (t.isp0 - t.ispRef) * pressure / t.pRef);
}

// The actual level of each thruster for this step: the permanent level plus
// the override, within [0, 1]; the override is used up. A thruster whose
// tank is empty gives nothing and loses its permanent level, as in the host
// (refuelling does not restart it).
void SetEffectiveLevels(Vessel &v) {
    for (auto &th : v.actuators.thrusters) {
        Thruster &t = *th;
        t.effective = std::clamp(t.level + t.override, 0.0, 1.0);
        t.override = 0.0;
        if (t.effective > 0.0 && (!t.tank || t.tank->mass <= 0.0)) t.effective = t.level = 0.0;
    }
}

// Thrust and propellant of one thruster for the step: the mass flow is that
// of the vacuum thrust at the vacuum Isp, so thrust falls with the Isp in an
// atmosphere. The step in which a tank runs dry still gives full thrust.
void Burn(Thruster &t, double pressure, double dt, Loads &loads) {
    if (t.effective <= 0.0) return;
    if (t.isp0 > 0.0 && t.tank) {
        const double used = t.maxThrust * t.effective / (t.tank->efficiency * t.isp0) * dt;
        t.tank->mass = std::max(0.0, t.tank->mass - std::max(0.0, used));
    }
    const double ispScale = t.isp0 > 0.0 ? IspAt(t, pressure) / t.isp0 : 1.0;
    const Vec3 f = t.dir * (t.maxThrust * ispScale * t.effective);
    loads.force += f;
    loads.torque += TorqueOf(f, t.pos);
}

}  // namespace

bool ActivateNavmode(Vessel &v, int mode) {
    if (mode == 0) {
        v.actuators.navmodes = 0;
        v.actuators.holdAltitude = false;
        return true;
    }
    if (mode == kHoldAltitudeMode) {
        v.actuators.holdAltitude = true;
        return true;
    }
    if (mode < kFirstNavmode || mode > kLastNavmode || v.NavmodeOn(mode)) return false;
    unsigned keep = 0;
    if (mode == NAVMODE_KILLROT) keep = v.actuators.navmodes & (1u << NAVMODE_HLEVEL);
    v.actuators.navmodes = (v.actuators.navmodes & ~kAllNavmodes) | keep | (1u << mode);
    return true;
}

bool DeactivateNavmode(Vessel &v, int mode) {
    if (mode == kHoldAltitudeMode) {
        const bool was = v.actuators.holdAltitude;
        v.actuators.holdAltitude = false;
        return was;
    }
    if (mode < kFirstNavmode || mode > kLastNavmode || !v.NavmodeOn(mode)) return false;
    v.actuators.navmodes &= ~(1u << mode);
    return true;
}

bool ToggleNavmode(Vessel &v, int mode) {
    if (mode == kHoldAltitudeMode) return v.actuators.holdAltitude ? DeactivateNavmode(v, mode) : ActivateNavmode(v, mode);
    if (mode < kFirstNavmode || mode > kLastNavmode) return false;
    return v.NavmodeOn(mode) ? DeactivateNavmode(v, mode) : ActivateNavmode(v, mode);
}

double LargestMoment(const ThrusterGroup &g) {
    Vec3 sum = Vec3::Zero();
    for (const Thruster *t : g.members) sum += TorqueOf(t->dir * t->maxThrust, t->pos);
    return sum.norm();
}

double GroupLevel(const ThrusterGroup *g) {
    if (!g || g->members.empty()) return 0.0;
    double sum = 0.0;
    for (const Thruster *t : g->members) sum += t->effective;
    return sum / static_cast<double>(g->members.size());
}

double GroupPermanentLevel(const ThrusterGroup *g) {
    if (!g || g->members.empty()) return 0.0;
    double sum = 0.0;
    for (const Thruster *t : g->members) sum += t->level;
    return sum / static_cast<double>(g->members.size());
}

bool HasPropellant(const Thruster &t) { return t.tank && t.tank->mass > 0.0; }

void SetThrusterLevel(Thruster &t, double level) {
    t.level = level;
    if (HasPropellant(t)) t.effective = std::min(1.0, level + t.override);
}

void SetGroupLevel(Vessel &v, int type, double level) {
    ThrusterGroup *g = v.Group(type);
    if (!g) return;
    level = std::clamp(level, 0.0, 1.0);
    for (Thruster *t : g->members) {
        const double change = level - t->level;
        t->level = level;
        if (HasPropellant(*t)) t->effective = std::clamp(t->effective + change, 0.0, 1.0);
    }
}

void AddOverride(Vessel &v, int type, double amount) {
    ThrusterGroup *g = v.Group(type);
    if (!g) return;
    for (Thruster *t : g->members) t->override += amount;
}

void ApplyNavmodeOverrides(Vessel &v, double dt) {
    if (v.actuators.thrusters.empty()) return;
    if (v.NavmodeOn(NAVMODE_HLEVEL)) HoldLevel(v, dt);
    if (v.NavmodeOn(NAVMODE_KILLROT)) KillRotation(v, dt);
    if (v.actuators.navmodes & kPointingModes) {
        // Against the body's centre in the global frame, not the turning surface.
        const Vec3 normal = v.motion.velocityGlobal.cross(v.motion.positionGlobal);
        if (v.NavmodeOn(NAVMODE_PROGRADE)) PointAt(v, v.motion.velocityGlobal, -1.0, dt);
        if (v.NavmodeOn(NAVMODE_RETROGRADE)) PointAt(v, -v.motion.velocityGlobal, 1.0, dt);
        if (v.NavmodeOn(NAVMODE_NORMAL)) PointAt(v, normal, -1.0, dt);
        if (v.NavmodeOn(NAVMODE_ANTINORMAL)) PointAt(v, -normal, 1.0, dt);
    }
}

Loads ApplyThrust(Vessel &v, const CentralBody &body, double dt) {
    SetEffectiveLevels(v);
    Loads loads;
    const double pressure = body.Pressure(Altitude(v, body));
    v.actuators.thrusting = false;
    for (auto &t : v.actuators.thrusters) {
        if (t->effective > 0.0) v.actuators.thrusting = true;
        Burn(*t, pressure, dt, loads);
    }
    return loads;
}

void AddAerodynamics(const Vessel &v, const CentralBody &body, Loads &loads) {
    const double rho = body.Density(Altitude(v, body));
    if (rho <= 0.0) return;
    const Vec3 air = v.surface.airspeedVessel;
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
    loads.torque -= rho * d.rotDrag.cwiseProduct(v.motion.bodyRates);
}

}  // namespace vtal::sim
