// The host's integration of one vessel over a step: a fourth-order
// Runge-Kutta step of position, velocity, attitude and body rates under
// point-mass gravity and the step's thrust and aerodynamic loads; while the
// vessel is in ground contact, ten sub-steps with the contact loads evaluated
// at every stage (a second-order step is cheaper but grows the rocking of a
// stiff vessel on its springs).
#pragma once

#include "sim/vessel/Dynamics.h"
#include "sim/vessel/Vessel.h"
#include "sim/world/CentralBody.h"

namespace vtal::sim {

// Sub-steps of a step in ground contact.
constexpr int kContactSubsteps = 10;

// Advances a flying vessel over dt. A step that ends with a touchdown point
// below the surface is flown again from its start in contact mode (with the
// approach speed limited as the host limits it) and sets the ground contact.
void Propagate(Vessel &v, const CentralBody &body, const Loads &loads, double dt);

// One Runge-Kutta step of length h from k, with or without contact loads.
Kinematics RungeKuttaStep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                          double mass, double h, bool contact);

}  // namespace vtal::sim
