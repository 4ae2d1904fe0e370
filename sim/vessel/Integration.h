// The host's integration of one vessel over a step: position, velocity,
// attitude and body rates under point-mass gravity and the step's thrust and
// aerodynamic loads, in one second-order (midpoint) step, which turns a
// vessel under a constant torque exactly; while the vessel is in ground
// contact, ten (or, for a very stiff vessel, more) semi-implicit Euler
// sub-steps with the contact loads evaluated at each. Those are of first
// order (they run about half a sub-step ahead of the exact motion), but on
// the springs they neither grow nor damp the rocking by themselves, where an
// explicit second-order step lets a stiff vessel's rocking grow.
#pragma once

#include "sim/vessel/Actuation.h"
#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

// Sub-steps of a step in ground contact, as the host takes them; it also
// sets the approach speed allowed when contact begins.
constexpr int kContactSubsteps = 10;
// However stiff a vessel, no more sub-steps than this in a frame.
constexpr int kMaxContactSubsteps = 1000;
// The sub-steps this vessel needs in contact: the host's ten, or more for a
// vessel so stiff on its points that ten would not damp it stably; above
// kMaxContactSubsteps if even that many would not.
int ContactSubsteps(const VesselDefinition &def, double mass, double dt);

// Advances a flying vessel over dt. A step that ends with a touchdown point
// below the surface is flown again from its start in contact mode (with the
// approach speed limited as the host limits it) and sets the ground contact.
// False if the vessel needed more contact sub-steps than it was given, so
// that its contact may not be stable.
bool Propagate(Vessel &v, const CentralBody &body, const Loads &loads, double dt);

}  // namespace vtal::sim
