// How a descent ended, and the thresholds that decide it: the flight host's
// own classifier (sim/run/LandingOutcome.h), which a single flight's outcome
// lines use too, printed with every campaign's results.
#pragma once

#include "sim/run/LandingOutcome.h"

namespace vtal::montecarlo {

using sim::Classify;
using sim::DefaultThresholds;
using sim::DescribeThresholds;
using sim::kOutcomeCount;
using sim::Label;
using sim::Name;
using sim::Observation;
using sim::Outcome;
using sim::OutcomeNamed;
using sim::Thresholds;

}  // namespace vtal::montecarlo
