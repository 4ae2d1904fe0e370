// The per-step supervisor: every frame, before the host moves the lander, it
// starts the landing dust, puts the legs out on the very first frame, flies
// the automatic descent unless the pilot has taken over, removes and raises
// the crash notice, starts the feet on ground contact and blinks the lidar.
// Each step asks the host afresh for what it tests.
#include "guidance/CrashWarning.h"
#include "lander/Lander.h"
#include "lander/LanderGeometry.h"
#include "lander/ModuleState.h"

namespace {

const double kDustAltitude = 5.0;            // m, the engines raise dust below
const double kDescentStartAltitude = 940.0;  // m, the automatic descent flies below

}  // namespace

void Lander::clbkPreStep(double, double, double) {
    using namespace vtal::guidance;
    vtal::ModuleState &state = vtal::moduleState;

    // 1. Landing dust, once for the whole module.
    if (GetAltitude() < kDustAltitude && state.dustCreated == 0) {
        AddDustStreams();
        state.dustCreated = 1;
    }

    // 2. Legs out on the first frame of any lander, whatever the scenario said.
    if (state.legsPreset == 0) {
        legsStatus = MECH_DEPLOYED;
        legsPos = 1.0;
        state.legsPreset = 1;
        SetAnimation(animLegs, legsPos);
    }

    // 3. Automatic descent. Otherwise every level and mode stays as last set.
    if (GetAltitude() < kDescentStartAltitude && state.manualOverride == 0) AutoDescent();

    // 4. Only the lander that raised the notice takes it away, once.
    if (state.crashShown == 1 && crashNote != nullptr &&
        oapiGetSimTime() > state.crashTime + kCrashNoticeDuration) {
        oapiDelAnnotation(crashNote);
        crashNote = nullptr;
    }

    // 5. Crash: low or touching, and too fast.
    if ((GetAltitude() < kCrashAltitude && GetAirspeed() > kCrashAirspeed) ||
        (GroundContact() && GetAirspeed() > kCrashAirspeed))
        ShowCrashWarning();

    // 6. Feet out on contact, unless they are already out or moving.
    if (GroundContact() && feetStatus == MECH_RETRACTED) feetStatus = MECH_DEPLOYING;

    // 7. Lidar propellant.
    SetPropellantMass(phLidar, vtal::lander::kLidarTankMass);

    // 8. Lidar beam: lit on even phases, dark on odd ones. The phase is
    // shared, so with two lidars on it flips twice a frame and one beam stays
    // lit while the other stays dark.
    if (state.lidarOn == 1) {
        SetThrusterLevel(thLidar, state.lidarBlink == 0 ? 1.0 : 0.0);
        state.lidarBlink = state.lidarBlink == 0 ? 1 : 0;
    } else {
        SetThrusterLevel(thLidar, 0.0);
    }
}
