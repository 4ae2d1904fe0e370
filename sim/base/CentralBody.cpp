#include "sim/base/CentralBody.h"

#include <algorithm>
#include <cmath>
#include <strings.h>

namespace vtal::sim {
namespace {

// The host's bodies: mean radius, GM and sidereal rotation period.
const CentralBody kMoon{"Moon", 4.9028e12, 1738000.0, 2360588.15, 0.0, 0.0, 1.0};
// Mars: 0.020 kg/m^3 and 636 Pa at the mean radius, 11.1 km scale height.
const CentralBody kMars{"Mars", 4.2828e13, 3390000.0, 88642.66435, 0.020, 636.0, 11100.0};

}  // namespace

double CentralBody::Density(double altitude) const {
    if (surfaceDensity <= 0.0) return 0.0;
    return surfaceDensity * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

double CentralBody::Pressure(double altitude) const {
    if (surfacePressure <= 0.0) return 0.0;
    return surfacePressure * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

double CentralBody::RotationAngle(double mjd) const {
    const double turns = (mjd - kRotationEpochMjd) * kSecondsPerDay / rotationPeriod;
    return 2.0 * kPi * (turns - std::floor(turns));
}

Mat3 CentralBody::Orientation(double mjd) const {
    const double phi = RotationAngle(mjd);
    const double c = std::cos(phi), s = std::sin(phi);
    Mat3 r;
    r << c, 0.0, -s, 0.0, 1.0, 0.0, s, 0.0, c;
    return r;
}

const CentralBody *FindBody(const std::string &name) {
    if (strcasecmp(name.c_str(), kMoon.name) == 0) return &kMoon;
    if (strcasecmp(name.c_str(), kMars.name) == 0) return &kMars;
    return nullptr;
}

const CentralBody &Moon() { return kMoon; }

}  // namespace vtal::sim
