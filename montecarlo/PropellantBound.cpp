#include "montecarlo/PropellantBound.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vtal::montecarlo {

namespace {
const int kMassIterations = 50;  // the fixed point settles to the last bit long before
}

double MinimumDeltaV(double height, double sinkSpeed, double gravity, double accel) {
    if (!(accel > gravity)) return std::numeric_limits<double>::infinity();
    // Energy per unit mass to remove; a climbing start first rises, which the
    // v^2 term covers all the same.
    const double energy = std::max(0.0, sinkSpeed * sinkSpeed + 2.0 * gravity * std::max(0.0, height));
    return std::sqrt(energy * accel / (accel - gravity));
}

double MinimumPropellant(const BoundInput &in) {
    if (!(in.startMass > 0.0) || !(in.exhaustVelocity > 0.0)) return std::numeric_limits<double>::infinity();
    // Find the final mass whose acceleration F / m needs exactly the velocity
    // change that burns down to it. Starting from the start mass, the guesses
    // alternate about that point and close in on it. At any larger need the
    // final mass would be smaller and the acceleration larger, which needs
    // less: so no real descent, whose acceleration never exceeds F over its
    // own final mass, needs less than this.
    double propellant = 0.0;
    for (int i = 0; i < kMassIterations; ++i) {
        const double finalMass = in.startMass - propellant;
        if (!(finalMass > 0.0)) return std::numeric_limits<double>::infinity();
        const double dv = MinimumDeltaV(in.height, in.sinkSpeed, in.gravity, in.maxThrust / finalMass);
        if (!std::isfinite(dv)) return dv;
        propellant = in.startMass * (1.0 - std::exp(-dv / in.exhaustVelocity));
    }
    return propellant;
}

}  // namespace vtal::montecarlo
