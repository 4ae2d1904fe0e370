// The guidance's formulas that are fixed to the last bit, each with the
// rewrites a well-meaning edit would make of it: algebraically equal, but
// rounding differently somewhere. The module's arrangement is called; the
// rewrites are written out here. A rewrite that only moves a factor of 2
// (the hover law's -2 (v + 1.5) as -2 v - 3) rounds the same everywhere and
// needs no pin.
#pragma once

#include <cmath>
#include <vector>

#include "ArrangementSearch.h"
#include "guidance/DescentSequencer.h"
#include "guidance/HeadingAlignment.h"
#include "guidance/TerminalThrust.h"
#include "lander/LanderGeometry.h"

namespace vtal::testing {

namespace arrangements {

using namespace vtal::guidance;

const double kLunarGravity = 1.62;  // m/s^2, for weights that go with the masses drawn
const double kFullThrust = 3.0 * vtal::lander::kEngineMaxThrust;  // N

inline bool Unclamped(double level) { return 0.0 < level && level < 1.0; }

// Sink-rate law: {v, h, mass, weight, pitch}.
inline DescentState SinkState(const Inputs &in) {
    DescentState s;
    s.verticalSpeed = in[0];
    s.altitude = in[1];
    s.mass = in[2];
    s.weight = in[3];
    s.pitch = in[4];
    return s;
}
inline double SinkLevel(double deceleration, const Inputs &in, int form) {
    const double thrust = in[2] * deceleration + in[3];
    if (form == 1) return ThrottleLevel(thrust / std::cos(in[4]) * kLevelPerNewton);
    if (form == 2) return ThrottleLevel(thrust * kLevelPerNewton / std::cos(in[4]));
    return ThrottleLevel(thrust * (1.0 / std::cos(in[4])) * kLevelPerNewton);
}
inline double FactoredDeceleration(const Inputs &in) {  // the module's
    return (kAimSinkRate - in[0]) / ((in[1] - kAimAltitude) * -2.0 / (in[0] + kAimSinkRate));
}

// Hover law: {v, mass, weight, yaw left level, yaw right level}.
inline DescentState HoverState(const Inputs &in) {
    DescentState s;
    s.verticalSpeed = in[0];
    s.mass = in[1];
    s.weight = in[2];
    s.yawLeftLevel = in[3];
    s.yawRightLevel = in[4];
    return s;
}

// Terminal common level, no drift: {v, h, mass, weight, pitch, bank}.
inline TerminalState TerminalOf(const Inputs &in) {
    TerminalState s;
    s.verticalSpeed = in[0];
    s.airspeed = _V(0.0, in[0], 0.0);
    s.altitude = in[1];
    s.mass = in[2];
    s.weight = in[3];
    s.pitch = in[4];
    s.bank = in[5];
    return s;
}
inline double PlainDeceleration(double v, double h) { return (v * v - kAimSinkRate * kAimSinkRate) / (2.0 * (h - kAimAltitude)); }

// Yaw braking: {heading error, yaw rate, mass}. The braking group's level
// is below full only where the stopping torque is just under the torque of
// the group that keeps the turn going, which is where braking starts: the
// candidates lie a few units in the last place around that edge,
// rate^2 = 2 error x torque / inertia, turning towards the target (`sign`).
inline Inputs YawBrakingEdge(std::uint64_t &r, double sign, double torque) {
    const double error = Between(r, 0.011, 0.3), mass = Between(r, 300.0, 450.0);
    double rate = std::sqrt(2.0 * error * torque / (kYawInertiaPerMass * mass));
    const int steps = static_cast<int>(Between(r, -4.0, 5.0));
    for (int i = 0; i < std::abs(steps); ++i) rate = std::nextafter(rate, steps < 0 ? 0.0 : 1.0);
    return Inputs{sign * error, sign * rate, mass};
}
inline double YawInertia(const Inputs &in) { return kYawInertiaPerMass * in[2]; }
inline double YawStoppingTorque(const Inputs &in) { return YawInertia(in) * in[1] / (2.0 * in[0] / in[1]); }

}  // namespace arrangements

inline std::vector<Arrangement> GuidanceArrangements() {
    using namespace arrangements;
    std::vector<Arrangement> all;

    all.push_back(
        {"sink-rate law level",
         [](std::uint64_t &r) {
             const double mass = Between(r, 300.0, 450.0);
             return Inputs{Between(r, -40.0, -3.0), Between(r, 231.0, 829.0), mass,
                           mass * kLunarGravity * Between(r, 0.99, 1.01), Between(r, -0.3, 0.3)};
         },
         [](const Inputs &in) { return Unclamped(SinkRateLevel(SinkState(in))); },
         [](const Inputs &in) { return SinkRateLevel(SinkState(in)); },
         {{"(v^2 - 4) / (2 (h - 27))", [](const Inputs &in) { return SinkLevel(PlainDeceleration(in[0], in[1]), in, 0); }},
          {"(v - 2)(v + 2) / (2 (h - 27))",
           [](const Inputs &in) {
               return SinkLevel((in[0] - 2.0) * (in[0] + 2.0) / (2.0 * (in[1] - kAimAltitude)), in, 0);
           }},
          {"thrust / cos(pitch) x scale", [](const Inputs &in) { return SinkLevel(FactoredDeceleration(in), in, 1); }},
          {"thrust x scale / cos(pitch)", [](const Inputs &in) { return SinkLevel(FactoredDeceleration(in), in, 2); }}}});

    all.push_back(
        {"hover law level",
         [](std::uint64_t &r) {
             const double mass = Between(r, 300.0, 450.0);
             return Inputs{Between(r, -4.0, 0.0), mass, mass * kLunarGravity * Between(r, 0.99, 1.01),
                           Between(r, 0.0, 1.0), Between(r, 0.0, 1.0)};
         },
         [](const Inputs &in) { return Unclamped(HoverLevel(HoverState(in))); },
         [](const Inputs &in) { return HoverLevel(HoverState(in)); },
         {{"yaw thrust x (left + right)",
           [](const Inputs &in) {
               const double a = -kHoverGain * (in[0] + kHoverSinkRate);
               return ThrottleLevel((in[1] * a + kYawGroupDownThrust * (in[3] + in[4]) + in[2]) * kLevelPerNewton);
           }},
          {"weight first",
           [](const Inputs &in) {
               const double a = -kHoverGain * (in[0] + kHoverSinkRate);
               return ThrottleLevel((in[2] + in[1] * a + kYawGroupDownThrust * in[3] + kYawGroupDownThrust * in[4]) *
                                    kLevelPerNewton);
           }},
          {"thrust / full thrust", [](const Inputs &in) {
               const double a = -kHoverGain * (in[0] + kHoverSinkRate);
               return ThrottleLevel((in[1] * a + kYawGroupDownThrust * in[3] + kYawGroupDownThrust * in[4] + in[2]) /
                                    kFullThrust);
           }}}});

    all.push_back(
        {"terminal common level",
         [](std::uint64_t &r) {
             const double mass = Between(r, 300.0, 450.0);
             return Inputs{Between(r, -25.0, -2.5), Between(r, 40.0, 229.0), mass,
                           mass * kLunarGravity * Between(r, 0.99, 1.01), Between(r, -0.5, 0.5), Between(r, -0.5, 0.5)};
         },
         [](const Inputs &in) { return Unclamped(ComputeTerminalThrust(TerminalOf(in)).levels[0]); },
         [](const Inputs &in) { return ComputeTerminalThrust(TerminalOf(in)).levels[0]; },
         {{"(v - 2)(v + 2) / (2 (h - 27))",
           [](const Inputs &in) {
               const double d = (in[0] - 2.0) * (in[0] + 2.0) / (2.0 * (in[1] - kAimAltitude));
               return ThrottleLevel((d * in[2] + in[3]) * (1.0 / std::cos(in[5])) * (1.0 / std::cos(in[4])) *
                                    kLevelPerNewton);
           }},
          {"/ cos(bank) / cos(pitch)",
           [](const Inputs &in) {
               const double d = PlainDeceleration(in[0], in[1]);
               return ThrottleLevel((d * in[2] + in[3]) / std::cos(in[5]) / std::cos(in[4]) * kLevelPerNewton);
           }},
          {"pitch factor before bank factor",
           [](const Inputs &in) {
               const double d = PlainDeceleration(in[0], in[1]);
               return ThrottleLevel((d * in[2] + in[3]) * (1.0 / std::cos(in[4])) * (1.0 / std::cos(in[5])) *
                                    kLevelPerNewton);
           }},
          {"scale first", [](const Inputs &in) {
               const double d = PlainDeceleration(in[0], in[1]);
               return ThrottleLevel((d * in[2] + in[3]) * kLevelPerNewton * (1.0 / std::cos(in[5])) *
                                    (1.0 / std::cos(in[4])));
           }}}});

    all.push_back(
        {"attitude braking command",
         [](std::uint64_t &r) { return Inputs{Between(r, 0.001, 0.3), Between(r, 0.05, 1.0), Between(r, 2.0, 10.0)}; },
         [](const Inputs &in) {
             return kStoppingTimeMargin * in[1] / in[2] >= 2.0 * in[0] / in[1];  // the braking branch
         },
         [](const Inputs &in) { return AttitudeCommand(in[0], in[1], in[2]); },
         {{"-rate^2 / (2 error) / authority", [](const Inputs &in) { return -in[1] * in[1] / (2.0 * in[0]) / in[2]; }},
          {"-rate / (time to go x authority)",
           [](const Inputs &in) { return -in[1] / (2.0 * in[0] / in[1] * in[2]); }},
          {"(-rate / authority) / time to go",
           [](const Inputs &in) { return -in[1] / in[2] / (2.0 * in[0] / in[1]); }}}});

    all.push_back({"attitude proportional command",
                   [](std::uint64_t &r) { return Inputs{Between(r, -0.5, 0.5)}; },
                   [](const Inputs &) { return true; },
                   [](const Inputs &in) { return AttitudeCommand(in[0], 0.0, 5.0); },
                   {{"error x pi / 10", [](const Inputs &in) { return in[0] * kPiAsTuned / 10.0; }},
                    {"error / 10 x pi", [](const Inputs &in) { return in[0] / 10.0 * kPiAsTuned; }},
                    {"error x pi x 0.1", [](const Inputs &in) { return in[0] * kPiAsTuned * 0.1; }}}});

    // Engine allocation: {common, pitch command, bank command}, every level unclamped.
    const auto draw3 = [](std::uint64_t &r) {
        return Inputs{Between(r, 0.2, 0.8), Between(r, -0.3, 0.3), Between(r, -0.3, 0.3)};
    };
    const auto unclamped3 = [](const Inputs &in) {
        const auto l = AllocateEngines(in[0], in[1], in[2]);
        return Unclamped(l[0]) && Unclamped(l[1]) && Unclamped(l[2]);
    };
    all.push_back({"front engine level", draw3, unclamped3,
                   [](const Inputs &in) { return AllocateEngines(in[0], in[1], in[2])[0]; },
                   {{"common + 4 p / 3", [](const Inputs &in) { return in[0] + 4.0 * (in[1] * 0.5) / 3.0; }},
                    {"common + pitch x 2 / 3", [](const Inputs &in) { return in[0] + in[1] * 2.0 / 3.0; }}}});
    all.push_back({"rear left engine level", draw3, unclamped3,
                   [](const Inputs &in) { return AllocateEngines(in[0], in[1], in[2])[1]; },
                   {{"common - 2/3 p + b",
                     [](const Inputs &in) { return in[0] - (2.0 / 3.0) * (in[1] * 0.5) + in[2] * 0.5; }},
                    {"(common + b) - p + p / 3",
                     [](const Inputs &in) {
                         const double p = in[1] * 0.5;
                         return (in[0] + in[2] * 0.5) - p + p * kOneThird;
                     }},
                    {"common - (p - p / 3) + b", [](const Inputs &in) {
                         const double p = in[1] * 0.5;
                         return in[0] - (p - p * kOneThird) + in[2] * 0.5;
                     }}}});
    all.push_back({"rear right engine level", draw3, unclamped3,
                   [](const Inputs &in) { return AllocateEngines(in[0], in[1], in[2])[2]; },
                   {{"common - 2/3 p - b",
                     [](const Inputs &in) { return in[0] - (2.0 / 3.0) * (in[1] * 0.5) - in[2] * 0.5; }},
                    {"(common - p) + p / 3 - b",
                     [](const Inputs &in) {
                         const double p = in[1] * 0.5;
                         return ((in[0] - p) + p * kOneThird) - in[2] * 0.5;
                     }},
                    {"common - (p - p / 3) - b", [](const Inputs &in) {
                         const double p = in[1] * 0.5;
                         return in[0] - (p - p * kOneThird) - in[2] * 0.5;
                     }}}});

    all.push_back(
        {"yaw braking, right group",
         [](std::uint64_t &r) { return YawBrakingEdge(r, 1.0, kYawRightTorque); },
         [](const Inputs &in) {
             const YawCommand c = ComputeYawCommand(in[0], in[1], in[2]);
             return c.left == 0.0 && Unclamped(c.right);
         },
         [](const Inputs &in) { return ComputeYawCommand(in[0], in[1], in[2]).right; },
         {{"inertia rate^2 / (2 error)",
           [](const Inputs &in) {
               return YawInertia(in) * in[1] * in[1] / (2.0 * in[0]) * kYawRightLevelPerTorque;
           }},
          {"torque / 4.554", [](const Inputs &in) { return YawStoppingTorque(in) / kYawRightTorque; }},
          {"inertia x (rate / time to go)", [](const Inputs &in) {
               return YawInertia(in) * (in[1] / (2.0 * in[0] / in[1])) * kYawRightLevelPerTorque;
           }}}});
    all.push_back(
        {"yaw braking, left group",
         [](std::uint64_t &r) { return YawBrakingEdge(r, -1.0, kYawLeftTorque); },
         [](const Inputs &in) {
             const YawCommand c = ComputeYawCommand(in[0], in[1], in[2]);
             return c.right == 0.0 && Unclamped(c.left);
         },
         [](const Inputs &in) { return ComputeYawCommand(in[0], in[1], in[2]).left; },
         {{"inertia rate^2 / (2 error)",
           [](const Inputs &in) {
               return YawInertia(in) * in[1] * in[1] / (2.0 * in[0]) * kYawLeftLevelPerTorque;
           }},
          {"-torque / 3.897", [](const Inputs &in) { return -YawStoppingTorque(in) / kYawLeftTorque; }},
          {"inertia x (rate / time to go)", [](const Inputs &in) {
               return YawInertia(in) * (in[1] / (2.0 * in[0] / in[1])) * kYawLeftLevelPerTorque;
           }}}});

    // The hold-level test at its edge: candidates a few units in the last
    // place either side of V.z = -24 / cos(pitch).
    all.push_back({"drift calls for hold level",
                   [](std::uint64_t &r) {
                       const double pitch = Between(r, -0.6, 0.6);
                       double v = -24.0 / std::cos(pitch);
                       const int steps = static_cast<int>(Between(r, -4.0, 5.0));
                       for (int i = 0; i < std::abs(steps); ++i) v = std::nextafter(v, steps < 0 ? -100.0 : 0.0);
                       return Inputs{v, pitch};
                   },
                   [](const Inputs &) { return true; },
                   [](const Inputs &in) {
                       DescentState s;
                       s.forwardAirspeed = in[0];
                       s.pitch = in[1];
                       return DriftCallsForHoldLevel(s) ? 1.0 : 0.0;
                   },
                   {{"V.z < -24 / cos(pitch)",
                     [](const Inputs &in) { return in[0] < kHoldLevelDriftLimit / std::cos(in[1]) ? 1.0 : 0.0; }}}});
    return all;
}

}  // namespace vtal::testing
