// The host's work on one vessel before integration, each step: the
// navigation modes' overrides, the thrusters' actual levels, propellant and
// thrust, and aerodynamic drag and lift.
#pragma once

#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

struct Loads {
    Vec3 force = Vec3::Zero();   // vessel frame, N (gravity and contact excluded)
    Vec3 torque = Vec3::Zero();  // vessel frame, N m
};

// Navigation modes: 1..6 exclude each other (kill rotation keeps hold level,
// hold level clears kill rotation); 7 (hold altitude) is independent; 0
// clears all. Shared by the API and the keys.
bool ActivateNavmode(Vessel &v, int mode);
bool DeactivateNavmode(Vessel &v, int mode);
bool ToggleNavmode(Vessel &v, int mode);

// |sum (dir * maxThrust) x pos| over the group's thrusters.
double LargestMoment(const ThrusterGroup &g);
// Mean of the members' actual levels, and of their permanent levels; 0 for
// no group or an empty one.
double GroupLevel(const ThrusterGroup *g);
double GroupPermanentLevel(const ThrusterGroup *g);
// The host's setters: a thruster keeps the level as given; a group's level is
// clamped to [0, 1]; the actual level follows at once if there is propellant.
void SetThrusterLevel(Thruster &t, double level);
void SetGroupLevel(Vessel &v, int type, double level);
// Adds to the override of every thruster of a group, for the next step.
void AddOverride(Vessel &v, int type, double amount);

// The overrides of the active navigation modes for this step.
void ApplyNavmodeOverrides(Vessel &v, double dt);
// Actual levels, thrust and propellant use for this step; uses up the
// overrides and notes whether any thruster fired.
Loads ApplyThrust(Vessel &v, const CentralBody &body, double dt);
// Drag against the airflow and rotational drag, in an atmosphere.
void AddAerodynamics(const Vessel &v, const CentralBody &body, Loads &loads);

}  // namespace vtal::sim
