#include "bench/FixedBackend.h"

#include <cmath>

namespace vtal::bench {

namespace {

const double kLunarGravity = 1.62;  // m/s^2
const double kMassAt100m = 385.0;   // kg: 343 kg dry plus what is left of the 67 kg tank

}  // namespace

FlightState TerminalBandState() {
    FlightState s;
    s.altitude = 100.0;
    s.mass = kMassAt100m;
    s.pitch = 0.06;
    s.bank = -0.04;
    s.heading = 2.4;  // 0.74 rad short of the 180 degree target: yaw thrusters fire
    s.angularVel = VECTOR3{{0.01, 0.03, -0.02}};
    s.shipAirspeed = VECTOR3{{1.2, -8.0, 2.5}};
    s.horizonAirspeed = VECTOR3{{1.2, -8.0, 2.5}};
    s.airspeed = std::sqrt(1.2 * 1.2 + 8.0 * 8.0 + 2.5 * 2.5);
    s.weight = VECTOR3{{0.0, -kMassAt100m * kLunarGravity, 0.0}};
    s.groupLevel[THGROUP_ATT_YAWRIGHT] = 1.0;  // as the heading alignment left it last frame
    s.simTime = 60.0;
    return s;
}

}  // namespace vtal::bench
