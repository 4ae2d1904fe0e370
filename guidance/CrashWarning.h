// The crash notice: a red line of text on the simulator's screen when the
// lander hits the ground faster than 10 m/s, shown once per loading of the
// module and taken away 5 s of simulation time later.
#pragma once

namespace vtal::guidance {

constexpr double kCrashAltitude = 1.0;          // m, below counts as on the ground
constexpr double kCrashAirspeed = 10.0;         // m/s, faster than this is a crash
constexpr double kCrashNoticeDuration = 5.0;    // s of simulation time

}  // namespace vtal::guidance
