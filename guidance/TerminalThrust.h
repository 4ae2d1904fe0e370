// Terminal descent thrust control: between 27 m and 230 m the three descent
// engines are throttled one by one so that together they follow the
// sink-rate law while their differential pitches and banks the lander to
// line its thrust up against its airspeed.
#pragma once

#include <array>
#include <limits>

#include "guidance/GuidanceMath.h"

namespace vtal::guidance {

// Full torque of the differential throttle about each axis.
constexpr double kPitchTorque = kEngineMaxThrust * vtal::lander::kFrontEngineZ;  // N m, front engine's arm
constexpr double kBankTorque = kEngineMaxThrust * vtal::lander::kRearEngineX;   // N m, rear engines' arm
static_assert(kPitchTorque == 781.095 && kBankTorque == 676.4646, "torques of the engine layout");

// The controller's inertia model: mass times these.
constexpr double kPitchInertiaPerMass = 0.4;  // m^2
constexpr double kBankInertiaPerMass = 0.3;   // m^2

// Proportional gain from error angle to command (fraction of full torque).
constexpr double kAttitudeGain = kPiAsTuned * 0.1;  // 1/rad
static_assert(kAttitudeGain == 0.31415926535897903, "gain tuned as pi/10");

// Braking starts once ten times the stopping time at full authority is no
// longer shorter than the time the rotation needs to use up the error.
constexpr double kStoppingTimeMargin = 10.0;

// Beyond this pitch or bank the engines stop steering and hold level takes over.
constexpr double kSteeringAttitudeLimit = kPiAsTuned / 2.0;  // rad
static_assert(kSteeringAttitudeLimit == 1.570796326794895, "attitude limit tuned as pi/2");

// A braking command that comes out infinite (an error angle of exactly zero
// with the lander still turning, or a rate too fast to square) is replaced by
// the largest finite command, pointing against the rate: that is where the
// braking law tends as the error shrinks to zero, and it drives the engine
// levels to 0 and 1 just as an infinite command would, without the
// infinity-minus-infinity of the allocation.
constexpr double kSaturatedCommand = std::numeric_limits<double>::max();

// Allocation weights in double precision.
constexpr double kFourThirds = 1.3333333333333333;
constexpr double kOneThird = 0.3333333333333333;
constexpr double kHalf = 0.5;

// What the controller reads at the start of every run.
struct TerminalState {
    double mass = 0.0;                      // kg
    double altitude = 0.0;                  // m
    VECTOR3 airspeed{{0.0, 0.0, 0.0}};      // m/s, vessel frame
    VECTOR3 angularVel{{0.0, 0.0, 0.0}};    // rad/s, vessel frame; x nose up, z left side up
    double weight = 0.0;                    // N, |W|
    double verticalSpeed = 0.0;             // m/s, positive up
    double pitch = 0.0;                     // rad
    double bank = 0.0;                      // rad
};

// Command about one axis, as a signed fraction of that axis's full torque,
// from the error angle, the rate (same sign as the error when the rotation
// closes it) and the angular acceleration full torque gives. Always finite.
double AttitudeCommand(double errorAngle, double rate, double authority);

// Three engine levels, front, rear left, rear right, for a common level e
// and pitch and bank commands; each clamped to [0, 1].
std::array<double, 3> AllocateEngines(double common, double pitchCommand, double bankCommand);

struct TerminalCommand {
    int holdLevelRequests = 0;           // ActivateNavmode(hold level) calls, one per attitude limit crossed
    std::array<double, 3> levels{};      // front, rear left, rear right
};

TerminalCommand ComputeTerminalThrust(const TerminalState &s);

}  // namespace vtal::guidance
