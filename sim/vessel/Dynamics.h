// The host's physics for one vessel and one step: navigation-mode overrides,
// thrust and propellant, aerodynamic drag, rigid-body integration with
// point-mass gravity, and the surface contact of the touchdown points.
#pragma once

#include "sim/world/CentralBody.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

struct Loads {
    Vec3 force = Vec3::Zero();   // vessel frame, N (gravity and contact excluded)
    Vec3 torque = Vec3::Zero();  // vessel frame, N m
};

// Navigation modes 1..6: switching rules shared by the API and the keys.
bool ActivateNavmode(Vessel &v, int mode);
bool DeactivateNavmode(Vessel &v, int mode);
bool ToggleNavmode(Vessel &v, int mode);

// |sum (dir * maxThrust) x pos| over the group's thrusters.
double LargestMoment(const ThrusterGroup &g);
void SetGroupLevel(Vessel &v, int type, double level);

// Adds the overrides of the active navigation modes for this step.
void ApplyNavmodeOverrides(Vessel &v, double dt);
// Effective levels, thrust and propellant use for this step; clears the
// overrides and records every group's mean effective level.
Loads ApplyThrust(Vessel &v, const CentralBody &body, double dt);
// Drag against the airflow and rotational drag, in an atmosphere.
void AddAerodynamics(const Vessel &v, const CentralBody &body, Loads &loads);
// Advances position, velocity, attitude and body rates over dt.
void Integrate(Vessel &v, const CentralBody &body, const Loads &loads, double dt);
// Spring, damping and friction of the touchdown points against the surface,
// from the current state; sets the contact flag and the forces of the next step.
void EvaluateContact(Vessel &v, const CentralBody &body, double dt);

// Contact stiffness of one touchdown point, N/m, and its damping, N s/m.
double ContactStiffness(const Vessel &v);
double ContactDamping(const Vessel &v);

}  // namespace vtal::sim
