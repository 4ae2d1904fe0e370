// The probe: a vessel module of the flight host's tests. Its callbacks hand
// over to hooks that a test sets before it creates the world, so a test can
// look at what the host shows a module, and when, from inside the module's
// own callbacks.
#pragma once

#include <functional>

#include "host/Orbitersdk.h"

namespace vtal::probe {

// Thrusters of the probe, created in clbkSetClassCaps in this order.
struct ProbeThrusters {
    PROPELLANT_HANDLE tank = nullptr;
    THRUSTER_HANDLE main = nullptr, retro = nullptr;
    // Attitude pairs: pitch up, pitch down, yaw left, yaw right, bank left, bank right.
    THRUSTER_HANDLE attitude[6][2] = {};
};

struct ProbeHooks {
    // After the probe's own definition (tank, engines, attitude groups).
    std::function<void(VESSEL2 &, const ProbeThrusters &)> classCaps;
    std::function<void(VESSEL2 &, double simt, double simdt, double mjd)> preStep;
    std::function<void(VESSEL2 &, double simt, double simdt, double mjd)> postStep;
    std::function<int(VESSEL2 &, char *kstate)> directKey;
    std::function<int(VESSEL2 &, DWORD key, bool down, char *kstate)> bufferedKey;
    std::function<void(VESSEL2 &, int mode, bool active)> navMode;
    std::function<void(VESSEL2 &, bool getFocus, OBJHANDLE now, OBJHANDLE before)> focusChanged;
    ProbeThrusters thrusters;  // of the last probe defined
};

}  // namespace vtal::probe

// The hooks shared by every probe vessel; looked up by the test with dlsym.
DLLCLBK vtal::probe::ProbeHooks *VtalProbeHooks();
