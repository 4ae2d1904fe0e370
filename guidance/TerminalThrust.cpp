// Terminal descent thrust control. The engines are the only pitch and bank
// actuators: their common level follows the sink-rate law, and a pitch and a
// bank command, each a fraction of that axis's full torque, are spread over
// them so that the total thrust stays the same. Past 90 degrees of pitch or
// bank the controller stops steering and hands attitude to hold level.
#include "guidance/TerminalThrust.h"

#include <cmath>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace vtal::guidance {

namespace {

// Never a non-number, never infinite: NaN (an unknowable state) asks for no
// torque; an infinity keeps the sign of `direction` at the largest finite size.
double FiniteCommand(double command, double direction) {
    if (std::isnan(command)) return 0.0;
    if (std::isinf(command)) return std::copysign(kSaturatedCommand, direction);
    return command;
}

// The common level may go below zero (the differential still acts before the
// per-engine clamps), but not above full thrust. One that cannot be computed
// counts as 0.
double LimitCommonLevel(double level) {
    if (std::isnan(level)) return 0.0;
    return level < 1.0 ? level : 1.0;
}

int AttitudeLimitsCrossed(double pitch, double bank) {
    int crossed = 0;
    for (double angle : {pitch, bank}) {
        if (angle > kSteeringAttitudeLimit) ++crossed;
        if (angle < -kSteeringAttitudeLimit) ++crossed;
    }
    return crossed;
}

}  // namespace

double AttitudeCommand(double errorAngle, double rate, double authority) {
    // Time for the rotation to use up twice the error: negative (or minus
    // infinity) when the rotation opens the error, infinite when there is no rotation.
    const double timeToGo = Quotient(2.0 * errorAngle, rate);  // s
    const double stoppingTime = Quotient(kStoppingTimeMargin * std::fabs(rate), authority);  // s
    if (timeToGo < 0.0 || stoppingTime < timeToGo) {
        const double proportional = errorAngle * kAttitudeGain;
        return FiniteCommand(proportional, proportional);
    }
    // Constant angular acceleration that stops the rotation exactly where the
    // error runs out, -rate^2 / (2 error); it always opposes the rate.
    const double braking = Quotient(-rate, timeToGo);  // rad/s^2
    return FiniteCommand(Quotient(braking, authority), -rate);
}

std::array<double, 3> AllocateEngines(double common, double pitchCommand, double bankCommand) {
    // Pitch weights (4/3, -2/3, -2/3) and bank weights (0, +1, -1) leave the
    // sum of the three levels at 3 x common.
    const double p = pitchCommand * kHalf;
    const double b = bankCommand * kHalf;
    return {ThrottleLevel(common + kFourThirds * p),
            ThrottleLevel((common - p) + p * kOneThird + b),
            ThrottleLevel(((common - p) - b) + p * kOneThird)};
}

TerminalCommand ComputeTerminalThrust(const TerminalState &s) {
    const double pitchFactor = 1.0 / std::cos(s.pitch);
    const double bankFactor = 1.0 / std::cos(s.bank);
    // Error angles between the thrust axis and the airspeed; upright and
    // sinking, V.y < 0, so a forward drift gives a positive pitch error.
    const double pitchError = -std::atan(Quotient(s.airspeed.z, s.airspeed.y));  // rad
    const double bankError = std::atan(Quotient(s.airspeed.x, s.airspeed.y));    // rad
    const double pitchAuthority = kPitchTorque / (kPitchInertiaPerMass * s.mass);  // rad/s^2
    const double bankAuthority = kBankTorque / (kBankInertiaPerMass * s.mass);     // rad/s^2
    // The sink-rate law, (v^2 - 4) / (2 (h - 27)), with the thrust tilted by
    // both pitch and bank.
    const double v = s.verticalSpeed;
    const double deceleration =
        Quotient(v * v - kAimSinkRate * kAimSinkRate, 2.0 * (s.altitude - kAimAltitude));  // m/s^2
    const double common = (deceleration * s.mass + s.weight) * bankFactor * pitchFactor * kLevelPerNewton;

    TerminalCommand out;
    out.holdLevelRequests = AttitudeLimitsCrossed(s.pitch, s.bank);
    if (out.holdLevelRequests > 0) {
        // Beyond 90 degrees of bank 1/cos is negative, so in normal flight the
        // engines stop; hold level rights the lander.
        const double level = ThrottleLevel(common);
        out.levels = {level, level, level};
        return out;
    }
    const double pitchCommand = AttitudeCommand(pitchError, s.angularVel.x, pitchAuthority);
    const double bankCommand = AttitudeCommand(bankError, s.angularVel.z, bankAuthority);
    out.levels = AllocateEngines(LimitCommonLevel(common), pitchCommand, bankCommand);
    return out;
}

}  // namespace vtal::guidance

using namespace vtal::guidance;

void Lander::TerminalThrust() {
    TerminalState s;
    s.mass = GetMass();
    s.altitude = GetAltitude();
    GetShipAirspeedVector(s.airspeed);
    GetAngularVel(s.angularVel);
    VECTOR3 weight = _V(0, 0, 0), horizonAirspeed = _V(0, 0, 0);  // zeroed in case a host writes nothing
    GetWeightVector(weight);
    s.weight = Magnitude(weight);
    GetHorizonAirspeedVector(horizonAirspeed);
    s.verticalSpeed = horizonAirspeed.y;
    s.pitch = GetPitch();
    s.bank = GetBank();

    const TerminalCommand command = ComputeTerminalThrust(s);
    for (int i = 0; i < command.holdLevelRequests; ++i) ActivateNavmode(kHoldLevel);
    for (int engine = 0; engine < 3; ++engine) SetThrusterLevel(thEngine[engine], command.levels[engine]);
}
