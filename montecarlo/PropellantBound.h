// The least propellant any descent could use from a given start: a vertical
// descent that falls freely and then brakes at full thrust to touch down at
// rest. With thrust acceleration a in gravity g, from height h at sink speed
// v, it needs
//     dv >= sqrt((v^2 + 2 g h) * a / (a - g)),
// and the rocket equation turns that into propellant. The acceleration grows
// as propellant burns, and a larger one needs less, so a is taken at the
// mass left at the end: the result is a true lower bound. Horizontal speed
// and attitude only add to what a real descent needs.
#pragma once

namespace vtal::montecarlo {

struct BoundInput {
    double height = 0.0;         // m above the touchdown point (of the lander's feet)
    double sinkSpeed = 0.0;      // m/s downward (negative: climbing)
    double gravity = 0.0;        // m/s^2
    double maxThrust = 0.0;      // N, all engines at full level
    double exhaustVelocity = 0.0;  // m/s
    double startMass = 0.0;      // kg
};

// The velocity change (m/s) for thrust acceleration `accel`; infinite when
// the engines cannot hold the lander against gravity.
double MinimumDeltaV(double height, double sinkSpeed, double gravity, double accel);

// Propellant in kg; infinite if no descent can land.
double MinimumPropellant(const BoundInput &in);

}  // namespace vtal::montecarlo
