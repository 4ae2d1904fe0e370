#include "sim/world/CentralBody.h"

#include <cmath>
#include <strings.h>

namespace vtal::sim {
namespace {

const CentralBody kMoon{"Moon", 4.9028e12, 1737400.0, 0.0, 0.0, 1.0};
// Mars: about 0.020 kg/m^3 and 636 Pa at the mean radius, 11.1 km scale height.
const CentralBody kMars{"Mars", 4.282837e13, 3389500.0, 0.020, 636.0, 11100.0};

}  // namespace

double CentralBody::Density(double altitude) const {
    if (surfaceDensity <= 0.0) return 0.0;
    return surfaceDensity * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

double CentralBody::Pressure(double altitude) const {
    if (surfacePressure <= 0.0) return 0.0;
    return surfacePressure * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

const CentralBody *FindBody(const std::string &name) {
    if (strcasecmp(name.c_str(), kMoon.name) == 0) return &kMoon;
    if (strcasecmp(name.c_str(), kMars.name) == 0) return &kMars;
    return nullptr;
}

const CentralBody &Moon() { return kMoon; }

}  // namespace vtal::sim
