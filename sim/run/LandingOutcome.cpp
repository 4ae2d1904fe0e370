#include "sim/run/LandingOutcome.h"

#include <algorithm>
#include <cmath>

#include "sim/base/Numbers.h"
#include "sim/base/SimMath.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

namespace {

struct OutcomeText {
    const char *name;
    const char *label;
    const char *verdict;
};

const OutcomeText kOutcomeText[kOutcomeCount] = {
    {"soft", "landed softly", "soft landing"},
    {"hard", "hard landing", "hard landing"},
    {"crash", "crash (notice shown)", "crash"},
    {"tipped", "tipped over", "tipped over"},
    {"dry", "out of propellant", "out of propellant before touchdown"},
    {"timeout", "timeout", "still flying"},
    {"error", "run failed", "failed"},
};

const char *const kCrashNoticeText = "Crash";  // how the module's crash notice begins

}  // namespace

const char *Name(Outcome o) { return kOutcomeText[static_cast<int>(o)].name; }
const char *Label(Outcome o) { return kOutcomeText[static_cast<int>(o)].label; }
const char *Verdict(Outcome o) { return kOutcomeText[static_cast<int>(o)].verdict; }

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
    const double impactSpeed = std::hypot(o.touchdownSinkSpeed, o.touchdownHorizontalSpeed);
    if (o.crashNotice || impactSpeed > t.crashSpeed) return Outcome::Crash;
    if (o.finalTilt > t.tippedTilt) return Outcome::TippedOver;
    const SoftLandingLimits limits{t.softVerticalSpeed, t.softHorizontalSpeed, t.softAttitude};
    const bool soft = IsSoftTouchdown(o.touchdownSinkSpeed, o.touchdownHorizontalSpeed, o.touchdownPitch,
                                      o.touchdownBank, limits);
    return soft ? Outcome::Soft : Outcome::Hard;
}

std::string DescribeThresholds(const Thresholds &t) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "  landed softly: touchdown sink speed <= %.1f m/s, horizontal speed <= %.1f m/s,\n"
                  "                 pitch and bank within +-%.0f deg\n"
                  "  hard landing:  any of those exceeded, upright at rest, no crash notice\n"
                  "  crash:         the module's crash notice, or a touchdown faster than %.0f m/s\n"
                  "  tipped over:   tilt at the end of the run > %.0f deg\n"
                  "  out of propellant: main tank empty before touchdown\n"
                  "  timeout:       no touchdown within %.0f s\n",
                  t.softVerticalSpeed, t.softHorizontalSpeed, t.softAttitude, t.crashSpeed, t.tippedTilt, t.timeLimit);
    return text;
}

bool IsCrashNotice(const std::string &annotationText) { return annotationText.rfind(kCrashNoticeText, 0) == 0; }

Tank *MainTank(const Vessel &v) {
    Tank *main = nullptr;
    for (const auto &t : v.actuators.tanks)
        if (!main || t->maxMass > main->maxMass) main = t.get();
    return main;
}

std::string CoarseStepWarning(double dt) {
    if (!(dt > kCoarsestGuidedStep)) return "";
    return "a frame step of " + Plain(dt) + " s is coarser than the guidance can fly: the default descent lands " +
           "softly at steps up to " + Plain(kCoarsestGuidedStep) + " s only (from 0.0425 s some steps land hard, " +
           "from 0.3 s it crashes or tips over), so at this step an outcome tells about the step as much as about " +
           "the lander";
}

}  // namespace vtal::sim
