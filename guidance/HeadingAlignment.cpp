// Heading alignment. Full thrust towards the target heading until the turn
// must be stopped to end exactly on it, then the opposite group; within
// +-0.01 rad of the target the host's kill-rotation mode takes over.
#include "guidance/HeadingAlignment.h"

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace vtal::guidance {

YawCommand ComputeYawCommand(double headingError, double yawRate, double mass) {
    const double inertia = kYawInertiaPerMass * mass;  // kg m^2
    // Time for the turn to use up twice the error; infinite, with the error's
    // sign, when the lander is not turning.
    const double timeToGo = 2.0 * headingError / yawRate;  // s
    // Constant torque that stops the turn exactly on the target.
    const double stoppingTorque = inertia * yawRate / timeToGo;  // N m
    const double leftAuthority = kYawLeftTorque / inertia;   // rad/s^2
    const double rightAuthority = kYawRightTorque / inertia; // rad/s^2

    YawCommand out;
    if (kHeadingDeadBand < headingError && headingError < kPiAsTuned) {
        // Turning left towards the target: keep pushing left until the time
        // full right authority needs to stop the turn catches up.
        const bool keepTurning = timeToGo < 0.0 || yawRate / rightAuthority < timeToGo;
        out.left = keepTurning ? 1.0 : 0.0;
        out.right = keepTurning ? 0.0 : ThrottleLevel(stoppingTorque * kYawRightLevelPerTorque);
    } else if (-kPiAsTuned < headingError && headingError < -kHeadingDeadBand) {
        const bool keepTurning = timeToGo < 0.0 || -yawRate / leftAuthority < timeToGo;
        out.left = keepTurning ? 0.0 : ThrottleLevel(stoppingTorque * kYawLeftLevelPerTorque);
        out.right = keepTurning ? 1.0 : 0.0;
    } else {
        // Also a heading of exactly 0, or one the host could not give.
        out.deadBand = true;
    }
    return out;
}

}  // namespace vtal::guidance

using namespace vtal::guidance;

void Lander::AlignHeading() {
    double heading = 0.0;
    oapiGetHeading(GetHandle(), &heading);
    const double headingError = heading - kTargetHeading;  // rad
    const double mass = GetMass();
    VECTOR3 angularVel;
    GetAngularVel(angularVel);
    const double yawRate = angularVel.y;  // rad/s, positive turning left

    const YawCommand command = ComputeYawCommand(headingError, yawRate, mass);
    SetThrusterGroupLevel(kYawLeftGroup, command.left);
    SetThrusterGroupLevel(kYawRightGroup, command.right);
    if (!command.deadBand) return;
    ActivateNavmode(kKillRotation);
    // Already settled: the rotation is killed, release the mode at once.
    if (-kSettledYawRate < yawRate && yawRate < kSettledYawRate)
        DeactivateNavmode(kKillRotation);
    else
        ActivateNavmode(kKillRotation);
}
