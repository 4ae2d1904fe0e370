// The crash notice itself; the per-step supervisor decides when to raise it
// and when to take it away.
#include "guidance/CrashWarning.h"

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

const bool kNoticeExclusive = true;
const double kNoticeSize = 2.0;                          // relative to the host's default text
const VECTOR3 kNoticeColour = {{1.0, 0.0, 0.0}};         // red
// Text box as fractions of the simulation window: left, top, right, bottom.
const double kNoticeLeft = 0.3, kNoticeTop = 0.4, kNoticeRight = 0.8, kNoticeBottom = 0.8;

}  // namespace

void Lander::ShowCrashWarning() {
    vtal::ModuleState &state = vtal::moduleState;
    if (state.crashShown != 0) return;
    // The flag goes up before the notice exists, so whatever the host
    // returns, no second notice is ever attempted.
    state.crashTime = oapiGetSimTime();
    state.crashShown = 1;
    crashNote = oapiCreateAnnotation(kNoticeExclusive, kNoticeSize, kNoticeColour);
    oapiAnnotationSetPos(crashNote, kNoticeLeft, kNoticeTop, kNoticeRight, kNoticeBottom);
    char text[] = "Crash! Impact > 10m/s";  // the host takes a mutable string
    oapiAnnotationSetText(crashNote, text);
}
