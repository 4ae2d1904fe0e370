// How a descent ended, and the thresholds that decide it: all of them here,
// printed with every campaign's results.
#pragma once

#include <string>

#include "sim/run/SoftLanding.h"

namespace vtal::montecarlo {

enum class Outcome : int {
    Soft,             // landed within every soft-landing limit
    Hard,             // landed upright and intact, outside a soft-landing limit
    Crash,            // the module raised its crash notice
    TippedOver,       // came to rest tilted past the tip-over limit
    OutOfPropellant,  // the main tank ran dry before touchdown
    Timeout,          // no touchdown within the time limit
    Error,            // the run could not be flown (its message says why)
};
constexpr int kOutcomeCount = 7;

const char *Name(Outcome o);  // as in the CSV file: soft, hard, crash, ...
const char *Label(Outcome o); // as in the summary: "landed softly", ...
// The outcome named `name` in a CSV file; false if there is none.
bool OutcomeNamed(const std::string &name, Outcome &out);

struct Thresholds {
    // The soft-landing limits are those of the flight host's own verdict on a single flight.
    double softVerticalSpeed = sim::kSoftLanding.sinkSpeed;          // m/s, touchdown sink speed at most
    double softHorizontalSpeed = sim::kSoftLanding.horizontalSpeed;  // m/s, touchdown horizontal speed at most
    double softAttitude = sim::kSoftLanding.attitudeDeg;             // deg, pitch and bank each at touchdown at most
    double tippedTilt = 45.0;          // deg, tilt at the end of the run beyond which it lies tipped over
    double crashSpeed = 10.0;          // m/s, the module's own limit for its crash notice (shown for reference)
    double timeLimit = 600.0;          // s of simulated time without touchdown
};
const Thresholds &DefaultThresholds();

// What a run observed, as far as the outcome depends on it.
struct Observation {
    bool touchedDown = false;
    bool crashNotice = false;            // the module showed its crash notice
    bool ranDryBeforeTouchdown = false;  // the main tank was empty before the first contact
    double touchdownSinkSpeed = 0.0;     // m/s, downward positive
    double touchdownHorizontalSpeed = 0.0;  // m/s
    double touchdownPitch = 0.0;         // deg
    double touchdownBank = 0.0;          // deg
    double finalTilt = 0.0;              // deg
};

// The first that applies of: timeout, out of propellant, crash, tipped over,
// hard, soft. A descent that ran dry counts as out of propellant however it
// then hit the ground, since that is what went wrong first.
Outcome Classify(const Observation &o, const Thresholds &t);

// The thresholds as lines of text for the summary.
std::string DescribeThresholds(const Thresholds &t);

}  // namespace vtal::montecarlo
