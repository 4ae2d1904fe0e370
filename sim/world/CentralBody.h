// The one central body of a scenario: a non-rotating sphere with flat terrain
// at its mean radius, point-mass gravity and, for Mars, an exponential
// atmosphere.
#pragma once

#include <string>

namespace vtal::sim {

struct CentralBody {
    const char *name;
    double gm;              // m^3/s^2
    double radius;          // mean radius, m
    double surfaceDensity;  // kg/m^3 at the mean radius; 0 without atmosphere
    double surfacePressure; // Pa at the mean radius
    double scaleHeight;     // m

    double Density(double altitude) const;
    double Pressure(double altitude) const;
};

// The bodies the host models, by name without regard to case; null if unknown.
const CentralBody *FindBody(const std::string &name);
const CentralBody &Moon();

}  // namespace vtal::sim
