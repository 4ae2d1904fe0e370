// Where the lander's engines sit and what they can do: the numbers the
// vessel definition, the landing dust and the descent controllers share.
#pragma once

#include "host/OrbiterAPI.h"

namespace vtal::lander {

constexpr double kEngineMaxThrust = 1211.0;  // N, each of the three descent engines
constexpr double kEngineHeight = -0.33;      // m, engines sit below the origin, thrusting along +y
constexpr double kFrontEngineZ = 0.645;      // m, front engine ahead of the origin, on the centre line
constexpr double kRearEngineX = 0.5586;      // m, rear engines either side of the centre line
constexpr double kRearEngineZ = -0.3225;     // m, rear engines behind the origin

// Front (thEngine[0]), rear left (thEngine[1]), rear right (thEngine[2]).
inline const VECTOR3 kEnginePosition[3] = {
    {{0.0, kEngineHeight, kFrontEngineZ}},
    {{-kRearEngineX, kEngineHeight, kRearEngineZ}},
    {{kRearEngineX, kEngineHeight, kRearEngineZ}},
};

constexpr double kLidarTankMass = 1.0;  // kg, feeds only the zero-thrust lidar beam

}  // namespace vtal::lander
