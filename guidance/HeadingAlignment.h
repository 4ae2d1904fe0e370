// Heading alignment: during the last 230 m the yaw thrusters turn the lander
// to a heading of 180 degrees and hold it, bang-bang with a braking switch,
// handing over to the host's kill-rotation mode inside a small dead band.
#pragma once

#include "guidance/GuidanceMath.h"

namespace vtal::guidance {

constexpr double kTargetHeading = kPiAsTuned;  // rad

// The controller's inertia model about the yaw axis: mass times this.
constexpr double kYawInertiaPerMass = 0.4;  // m^2
// Full-level yaw torque of each group as the controller models it. The left
// group's figure is 3.897, not the 3.987 its thruster geometry gives; the
// descent was tuned with it.
constexpr double kYawLeftTorque = 3.897;   // N m, group 5
constexpr double kYawRightTorque = 4.554;  // N m, group 6: 2 x 2.25 N sideways x 1.012 m
// Torque to level of each group (the left group's torque is negative).
constexpr double kYawRightLevelPerTorque = 1.0 / kYawRightTorque;  // 1/(N m)
constexpr double kYawLeftLevelPerTorque = -1.0 / kYawLeftTorque;   // 1/(N m)
static_assert(kYawRightLevelPerTorque == 0.21958717610891523, "1/4.554 as tuned");
static_assert(kYawLeftLevelPerTorque == -0.25660764690787785, "-1/3.897 as tuned");

constexpr double kHeadingDeadBand = 0.01;  // rad, half-width
// Inside the dead band, a yaw rate below this needs no kill-rotation.
constexpr double kSettledYawRate = 0.001;  // rad/s

struct YawCommand {
    double left = 0.0;    // group 5 level
    double right = 0.0;   // group 6 level
    bool deadBand = false;
};

// Group levels, each in [0, 1], from the heading error (heading - pi, rad,
// between -pi and pi), the yaw rate (rad/s; a left turn is positive and closes
// a positive error) and the mass (kg).
YawCommand ComputeYawCommand(double headingError, double yawRate, double mass);

}  // namespace vtal::guidance
