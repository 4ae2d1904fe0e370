#include "montecarlo/Outcome.h"

#include <cmath>
#include <cstdio>

namespace vtal::montecarlo {

namespace {

struct OutcomeText {
    const char *name;
    const char *label;
};

const OutcomeText kOutcomeText[kOutcomeCount] = {
    {"soft", "landed softly"}, {"hard", "hard landing"},        {"crash", "crash (notice shown)"},
    {"tipped", "tipped over"}, {"dry", "out of propellant"},    {"timeout", "timeout"},
    {"error", "run failed"},
};

}  // namespace

const char *Name(Outcome o) { return kOutcomeText[static_cast<int>(o)].name; }
const char *Label(Outcome o) { return kOutcomeText[static_cast<int>(o)].label; }

bool OutcomeNamed(const std::string &name, Outcome &out) {
    for (int i = 0; i < kOutcomeCount; ++i) {
        if (name == kOutcomeText[i].name) {
            out = static_cast<Outcome>(i);
            return true;
        }
    }
    return false;
}

const Thresholds &DefaultThresholds() {
    static const Thresholds thresholds;
    return thresholds;
}

Outcome Classify(const Observation &o, const Thresholds &t) {
    if (!o.touchedDown) return Outcome::Timeout;
    if (o.ranDryBeforeTouchdown) return Outcome::OutOfPropellant;
    if (o.crashNotice) return Outcome::Crash;
    if (o.finalTilt > t.tippedTilt) return Outcome::TippedOver;
    const sim::SoftLandingLimits limits{t.softVerticalSpeed, t.softHorizontalSpeed, t.softAttitude};
    const bool soft = sim::IsSoftTouchdown(o.touchdownSinkSpeed, o.touchdownHorizontalSpeed, o.touchdownPitch,
                                           o.touchdownBank, limits);
    return soft ? Outcome::Soft : Outcome::Hard;
}

std::string DescribeThresholds(const Thresholds &t) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "  landed softly: touchdown sink speed <= %.1f m/s, horizontal speed <= %.1f m/s,\n"
                  "                 pitch and bank within +-%.0f deg\n"
                  "  hard landing:  any of those exceeded, upright at rest, no crash notice\n"
                  "  crash:         the module's crash notice (impact faster than %.0f m/s)\n"
                  "  tipped over:   tilt at the end of the run > %.0f deg\n"
                  "  out of propellant: main tank empty before touchdown\n"
                  "  timeout:       no touchdown within %.0f s\n",
                  t.softVerticalSpeed, t.softHorizontalSpeed, t.softAttitude, t.crashSpeed, t.tippedTilt, t.timeLimit);
    return text;
}

}  // namespace vtal::montecarlo
