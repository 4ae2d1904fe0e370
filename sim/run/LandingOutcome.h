// How a lander's descent ended, decided the same way for a single flight's
// outcome lines and for every run of a Monte-Carlo campaign: the outcomes,
// the thresholds that decide them, and the one classifier.
#pragma once

#include <string>

#include "sim/run/SoftLanding.h"

namespace vtal::sim {

struct Tank;
struct Vessel;

enum class Outcome : int {
    Soft,             // landed within every soft-landing limit
    Hard,             // landed upright and intact, outside a soft-landing limit
    Crash,            // the module's crash notice, or a touchdown faster than its crash speed
    TippedOver,       // came to rest tilted past the tip-over limit
    OutOfPropellant,  // the main tank ran dry before touchdown
    Timeout,          // no touchdown within the time limit (a single flight: still flying)
    Error,            // the run could not be flown (a campaign's run; its message says why)
};
constexpr int kOutcomeCount = 7;

const char *Name(Outcome o);     // as in a campaign's CSV file: soft, hard, crash, ...
const char *Label(Outcome o);    // as in a campaign's summary: "landed softly", ...
const char *Verdict(Outcome o);  // as in a single flight's outcome line: "soft landing", ...
// The outcome named `name` in a CSV file; false if there is none.
bool OutcomeNamed(const std::string &name, Outcome &out);

struct Thresholds {
    // The soft-landing limits are those of the flight host's own verdict on a single flight.
    double softVerticalSpeed = kSoftLanding.sinkSpeed;          // m/s, touchdown sink speed at most
    double softHorizontalSpeed = kSoftLanding.horizontalSpeed;  // m/s, touchdown horizontal speed at most
    double softAttitude = kSoftLanding.attitudeDeg;             // deg, pitch and bank each at touchdown at most
    double tippedTilt = 45.0;          // deg, tilt at the end of the run beyond which it lies tipped over
    double crashSpeed = 10.0;          // m/s, the module's own limit for its crash notice
    double timeLimit = 600.0;          // s of simulated time without touchdown
};
const Thresholds &DefaultThresholds();

// What a flight observed of one lander, as far as the outcome depends on it.
struct Observation {
    bool touchedDown = false;
    bool crashNotice = false;            // the module showed its crash notice for this lander
    bool ranDryBeforeTouchdown = false;  // the main tank was empty before the first contact
    double touchdownSinkSpeed = 0.0;     // m/s, downward positive
    double touchdownHorizontalSpeed = 0.0;  // m/s
    double touchdownPitch = 0.0;         // deg
    double touchdownBank = 0.0;          // deg
    double finalTilt = 0.0;              // deg
};

// The first that applies of: timeout, out of propellant, crash, tipped over,
// hard, soft. A descent that ran dry counts as out of propellant however it
// then hit the ground, since that is what went wrong first. A touchdown
// faster than the crash speed is a crash even when the module's notice did
// not come (a frame step long enough to pass its check between two frames).
Outcome Classify(const Observation &o, const Thresholds &t = DefaultThresholds());

// The thresholds as lines of text for a campaign's summary.
std::string DescribeThresholds(const Thresholds &t);

// Whether an annotation's text is the module's crash notice.
bool IsCrashNotice(const std::string &annotationText);


// The main tank: the largest propellant resource (the lander's lidar has a
// small one of its own). Null for a vessel without tanks.
Tank *MainTank(const Vessel &v);

// The longest frame step, s, at which the guidance still lands the default
// descent softly: flown at every step from 1/60 s to 0.042 s by 0.001 s
// (and to 0.0424 s by 0.0001 s) it lands softly; at 0.0425 s it drifts in at
// 0.68 m/s, a hard landing, and from there on the outcome depends on the
// step (docs/vtal-sim.md, "Frame step"). Coarser steps are warned about.
constexpr double kCoarsestGuidedStep = 0.042;
// The warning for a frame step coarser than that, or empty.
std::string CoarseStepWarning(double dt);

}  // namespace vtal::sim
