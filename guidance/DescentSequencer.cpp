// The automatic powered descent. Each frame reads the flight state once and
// issues the commands of the band that the altitude and vertical speed fall
// in: hold level high up, a one-time engine preset, the sink-rate law on the
// main group, three-engine attitude control with heading alignment, a slow
// hover, and the cut-off at touchdown. Nothing is latched except the preset.
#include "guidance/DescentSequencer.h"

#include <cmath>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace vtal::guidance {

DescentBand SelectDescentBand(double altitude, double verticalSpeed) {
    if (altitude < kCutoffAltitude) return DescentBand::Touchdown;  // whatever the vertical speed
    if (!(verticalSpeed < 0.0)) return DescentBand::NotSinking;
    if (altitude < kHoverAltitude) return DescentBand::Hover;
    if (altitude < kTerminalAltitude) return DescentBand::Terminal;
    if (altitude < kSinkLawAltitude) return DescentBand::SinkRateLaw;
    if (altitude < kPresetAltitude) return DescentBand::Preset;
    if (altitude < kHoldLevelAltitude) return DescentBand::HoldLevel;
    return DescentBand::Above;
}

double HoverLevel(const DescentState &s) {
    const double acceleration = -kHoverGain * (s.verticalSpeed + kHoverSinkRate);  // m/s^2, up
    // The yaw thrusters fired last frame push down; the main thrust carries them.
    const double thrust = s.mass * acceleration + kYawGroupDownThrust * s.yawLeftLevel +
                          kYawGroupDownThrust * s.yawRightLevel + s.weight;  // N
    return ThrottleLevel(thrust * kLevelPerNewton);
}

double SinkRateLevel(const DescentState &s) {
    const double v = s.verticalSpeed;
    // Constant deceleration from the present sink rate to the aim rate at the
    // aim altitude, (v^2 - 4) / (2 (h - 27)). It is evaluated in the factored
    // arrangement the descent has always been flown with (v^2 - 4 = (v - 2)(v + 2)),
    // which rounds differently from the plain form in the last bit. Above the
    // terminal band the height to go is positive; v = -2 m/s gives -0.
    const double heightToGo = s.altitude - kAimAltitude;  // m
    const double deceleration = (kAimSinkRate - v) / (heightToGo * -2.0 / (v + kAimSinkRate));  // m/s^2
    const double thrust = s.mass * deceleration + s.weight;  // N
    // Tilted by the pitch, the engines need 1/cos(pitch) more to lift as much.
    return ThrottleLevel(thrust * (1.0 / std::cos(s.pitch)) * kLevelPerNewton);
}

bool NearlyLevel(const DescentState &s) {
    return -kReleaseHoldAttitude < s.pitch && s.pitch < kReleaseHoldAttitude &&
           -kReleaseHoldAttitude < s.bank && s.bank < kReleaseHoldAttitude;
}

bool DriftCallsForHoldLevel(const DescentState &s) {
    return s.forwardAirspeed * std::cos(s.pitch) < kHoldLevelDriftLimit;
}

}  // namespace vtal::guidance

namespace {

using namespace vtal::guidance;

// Reads the flight state in the order the sequencer has always asked the host.
DescentState ReadDescentState(const Lander &lander) {
    DescentState s;
    // Zeroed in case a host reports failure without writing them.
    VECTOR3 weight = _V(0, 0, 0), horizonAirspeed = _V(0, 0, 0), shipAirspeed = _V(0, 0, 0);
    lander.GetWeightVector(weight);
    s.weight = Magnitude(weight);
    lander.GetHorizonAirspeedVector(horizonAirspeed);
    s.verticalSpeed = horizonAirspeed.y;
    lander.GetShipAirspeedVector(shipAirspeed);
    s.forwardAirspeed = shipAirspeed.z;
    s.pitch = lander.GetPitch();
    s.bank = lander.GetBank();
    s.yawRightLevel = lander.GetThrusterGroupLevel(kYawRightGroup);
    s.yawLeftLevel = lander.GetThrusterGroupLevel(kYawLeftGroup);
    s.altitude = lander.GetAltitude();
    s.mass = lander.GetMass();
    return s;
}

void CutOff(Lander &lander) {
    lander.SetThrusterGroupLevel(kMainGroup, 0.0);
    lander.SetThrusterGroupLevel(kYawRightGroup, 0.0);
    lander.SetThrusterGroupLevel(kYawLeftGroup, 0.0);
    lander.DeactivateNavmode(kHoldLevel);
    lander.DeactivateNavmode(kKillRotation);
}

void Hover(Lander &lander, const DescentState &s) {
    lander.SetThrusterGroupLevel(kMainGroup, HoverLevel(s));
    lander.AlignHeading();
    lander.ActivateNavmode(kHoldLevel);
    // A kill-rotation engaged by the heading dead band this frame must not
    // fight the yaw thrusters while hovering.
    lander.DeactivateNavmode(kKillRotation);
}

void Terminal(Lander &lander, const DescentState &s) {
    if (NearlyLevel(s)) lander.DeactivateNavmode(kHoldLevel);
    lander.TerminalThrust();
    lander.AlignHeading();
}

void SinkRateLaw(Lander &lander, const DescentState &s) {
    if (DriftCallsForHoldLevel(s)) lander.ActivateNavmode(kHoldLevel);
    lander.SetThrusterGroupLevel(kMainGroup, SinkRateLevel(s));
}

// Once per loading of the module: only the front engine, lightly, so that
// the sink-rate law starts from a known throttle.
void Preset(Lander &lander) {
    lander.DeactivateNavmode(kHoldLevel);
    if (vtal::moduleState.descentPresetDone != 0) return;
    lander.SetThrusterLevel(lander.thEngine[0], kPresetFrontLevel);
    lander.SetThrusterLevel(lander.thEngine[1], 0.0);
    lander.SetThrusterLevel(lander.thEngine[2], 0.0);
    vtal::moduleState.descentPresetDone = 1;
}

}  // namespace

void Lander::AutoDescent() {
    const DescentState s = ReadDescentState(*this);
    switch (SelectDescentBand(s.altitude, s.verticalSpeed)) {
    case DescentBand::Touchdown: CutOff(*this); break;
    case DescentBand::NotSinking: SetThrusterGroupLevel(kMainGroup, 0.0); break;
    case DescentBand::Hover: Hover(*this, s); break;
    case DescentBand::Terminal: Terminal(*this, s); break;
    case DescentBand::SinkRateLaw: SinkRateLaw(*this, s); break;
    case DescentBand::Preset: Preset(*this); break;
    case DescentBand::HoldLevel: ActivateNavmode(kHoldLevel); break;
    case DescentBand::Above: break;
    }
}
