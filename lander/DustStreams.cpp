// Dust kicked up by the descent engines near the ground: one particle stream
// per engine, bound to that engine so the host scales it with its throttle.
#include "lander/Lander.h"
#include "lander/LanderGeometry.h"

namespace {

// Stream sources straight below each engine (same x and z), 5 m below the origin.
const double kDustSourceHeight = -5.0;  // m, vessel frame

VECTOR3 DustSourceBelow(const VECTOR3 &engine) { return _V(engine.x, kDustSourceHeight, engine.z); }

PARTICLESTREAMSPEC DustStreamSpec(SURFHANDLE texture) {
    PARTICLESTREAMSPEC record = {0,
                                 0.5,   // m, particle size at creation
                                 15.0,  // particles per second
                                 10.0,  // m/s, emission velocity
                                 1.0,   // velocity randomisation
                                 1.0,   // s, particle lifetime
                                 2.0,   // m/s, growth rate
                                 0.0,   // atmospheric slow-down
                                 PARTICLESTREAMSPEC::DIFFUSE,
                                 PARTICLESTREAMSPEC::LVL_PSQRT,
                                 0.0,
                                 5.0,
                                 PARTICLESTREAMSPEC::ATM_PLOG,
                                 0.0,
                                 1.0,
                                 texture};
    return record;
}

}  // namespace

// Keeps no flag of its own: every call adds three more streams, so the caller
// decides that it happens once.
void Lander::AddDustStreams() {
    char dustTexture[] = "K_VTA/vtal_dust";
    PARTICLESTREAMSPEC dust = DustStreamSpec(oapiRegisterExhaustTexture(dustTexture));
    for (int e = 0; e < 3; ++e)
        AddExhaustStream(thEngine[e], DustSourceBelow(vtal::lander::kEnginePosition[e]), &dust);
}
