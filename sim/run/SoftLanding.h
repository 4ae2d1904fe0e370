// When a touchdown counts as soft: the flight host's verdict on a flight and
// the Monte-Carlo campaigns' outcome both use these limits.
#pragma once

#include <cmath>

namespace vtal::sim {

struct SoftLandingLimits {
    double sinkSpeed = 2.5;        // m/s, downward speed at first contact, at most
    double horizontalSpeed = 0.5;  // m/s, at first contact, at most
    double attitudeDeg = 5.0;      // deg, pitch and bank each at first contact, at most
};

constexpr SoftLandingLimits kSoftLanding{};

inline bool IsSoftTouchdown(double sinkSpeed, double horizontalSpeed, double pitchDeg, double bankDeg,
                            const SoftLandingLimits &limits = kSoftLanding) {
    return sinkSpeed <= limits.sinkSpeed && horizontalSpeed <= limits.horizontalSpeed &&
           std::fabs(pitchDeg) <= limits.attitudeDeg && std::fabs(bankDeg) <= limits.attitudeDeg;
}

}  // namespace vtal::sim
