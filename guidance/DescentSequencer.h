// The automatic powered descent: one altitude band per frame, chosen afresh
// from the altitude and the vertical speed, each with its own commands.
#pragma once

#include "guidance/GuidanceMath.h"

namespace vtal::guidance {

// Band edges, from the ground up. Every comparison against them is strict.
constexpr double kCutoffAltitude = 0.8;      // m, engines off below
constexpr double kHoverAltitude = kAimAltitude;  // m, slow hover descent below
constexpr double kTerminalAltitude = 230.0;  // m, three-engine attitude control below
constexpr double kSinkLawAltitude = 830.0;   // m, sink-rate law below
constexpr double kPresetAltitude = 860.0;    // m, one-time engine preset below
constexpr double kHoldLevelAltitude = 960.0; // m, hold-level mode below

// Terminal band: the hold-level mode is released once pitch and bank are both
// within this limit (π/4).
constexpr double kReleaseHoldAttitude = kPiAsTuned / 4.0;  // rad
static_assert(kReleaseHoldAttitude == 0.7853981633974475, "attitude limit tuned as pi/4");

// Sink-rate band: an airspeed along the vessel's z axis, projected by
// cos(pitch), below this engages the hold-level mode; nothing in that band
// releases it again.
constexpr double kHoldLevelDriftLimit = -24.0;  // m/s, V.z cos(pitch)

// Hover band: the main thrust drives the sink rate towards kHoverSinkRate.
constexpr double kHoverSinkRate = 1.5;  // m/s, downward
constexpr double kHoverGain = 2.0;      // 1/s
// Downward thrust of one yaw group at full level: two 4.5 N thrusters
// canted so that 0.866 of their thrust pushes down. The hover law adds it
// back so that the yaw commands do not sink the lander.
constexpr double kYawGroupDownThrust = 7.794;  // N

// Front-engine throttle of the one-time preset between 860 m and 830 m.
constexpr double kPresetFrontLevel = 0.06;

enum class DescentBand { Touchdown, NotSinking, Hover, Terminal, SinkRateLaw, Preset, HoldLevel, Above };

DescentBand SelectDescentBand(double altitude, double verticalSpeed);

// What the sequencer reads at the start of every run.
struct DescentState {
    double weight = 0.0;          // N, |W|
    double verticalSpeed = 0.0;   // m/s, positive up (horizon frame)
    double forwardAirspeed = 0.0; // m/s, V.z in the vessel frame
    double pitch = 0.0;           // rad
    double bank = 0.0;            // rad
    double yawRightLevel = 0.0;   // group 6 as the previous frame left it
    double yawLeftLevel = 0.0;    // group 5 as the previous frame left it
    double altitude = 0.0;        // m
    double mass = 0.0;            // kg
};

// Main-group level of the hover law.
double HoverLevel(const DescentState &s);
// Main-group level of the sink-rate law, leaning thrust compensated by 1/cos(pitch).
double SinkRateLevel(const DescentState &s);
// Terminal band: may the hold-level mode be released?
bool NearlyLevel(const DescentState &s);
// Sink-rate band: should the hold-level mode be engaged?
bool DriftCallsForHoldLevel(const DescentState &s);

}  // namespace vtal::guidance
