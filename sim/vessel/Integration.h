// The host's integration of one vessel over a step: position, velocity,
// attitude and body rates under point-mass gravity and the step's thrust and
// aerodynamic loads, in one second-order (midpoint) step; while the vessel is
// in ground contact, ten (or, for a very stiff vessel, more) semi-implicit Euler sub-steps with the contact loads
// evaluated at each. The loads of a step are constant over it, so a turn
// under a constant torque is integrated exactly by either. On the springs a
// semi-implicit step neither grows nor damps the rocking by itself, where an
// explicit second-order one lets a stiff vessel's rocking grow.
#pragma once

#include "sim/vessel/Dynamics.h"
#include "sim/vessel/Vessel.h"
#include "sim/world/CentralBody.h"

namespace vtal::sim {

// Sub-steps of a step in ground contact, as the host takes them; it also
// sets the approach speed allowed when contact begins.
constexpr int kContactSubsteps = 10;
// The sub-steps this vessel is integrated with in contact: the host's ten,
// or more for a vessel so stiff on its points that ten would not damp it
// stably.
int ContactSubsteps(const VesselDefinition &def, double mass, double dt);

// Advances a flying vessel over dt. A step that ends with a touchdown point
// below the surface is flown again from its start in contact mode (with the
// approach speed limited as the host limits it) and sets the ground contact.
void Propagate(Vessel &v, const CentralBody &body, const Loads &loads, double dt);

// One free-flight step of length h from k.
Kinematics MidpointStep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                        double mass, double h);
// One sub-step of length h from k with the contact loads.
Kinematics ContactSubstep(const Vessel &v, const Kinematics &k, const CentralBody &body, const Loads &loads,
                          double mass, double h);

}  // namespace vtal::sim
