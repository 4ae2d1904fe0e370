// The start of a run in the flight host's world: the dispersions drawn for
// it applied to the scenario's vessel, and the start read back as the
// lander will fly it.
#pragma once

#include "montecarlo/Dispersion.h"
#include "montecarlo/RunRecord.h"
#include "sim/run/LandingOutcome.h"
#include "sim/base/CentralBody.h"
#include "sim/vessel/Vessel.h"

namespace vtal::montecarlo {

// Applies the offsets (and adds the horizontal velocity) of `draw` to the
// vessel's state; returns a bit per quantity whose result had to be brought
// within its limits (altitude at least kMinStartAltitude, pitch within
// kMaxStartPitch, propellant within the tank).
unsigned ApplyDraw(sim::Vessel &v, const sim::CentralBody &body, const Draw &draw);

// The vessel's start values in the quantities' units.
StartValues ReadStart(const sim::Vessel &v, const sim::CentralBody &body);

// The main tank: the largest propellant resource (the lander's lidar has a
// small one of its own). Null for a vessel without tanks.
using sim::MainTank;

// The lander's vertical axis against the local vertical, deg.
double Tilt(const sim::Vessel &v);

}  // namespace vtal::montecarlo
