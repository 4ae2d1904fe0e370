// A lander against the recording backend, with helpers that script its
// flight state and read back the commands it gave, as compact strings whose
// levels are printed to 17 digits so that equal strings mean equal bits.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "support/LanderFixture.h"

namespace vtal::testing {

inline std::string Level(const char *what, double level) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s=%.17g", what, level);
    return buf;
}
inline std::string Group(int group, double level) { return Level(("G" + std::to_string(group)).c_str(), level); }
inline std::string Engine(int engine, double level) { return Level(("E" + std::to_string(engine)).c_str(), level); }
inline std::string On(int mode) { return "+" + std::to_string(mode); }
inline std::string Off(int mode) { return "-" + std::to_string(mode); }

class GuidanceTest : public LanderTest {
protected:
    GuidanceTest() : lander(MakeLander()) {}

    recording::VesselScript &Flight(const Lander &l) { return rec.vessel(l.GetHandle()); }
    recording::VesselScript &Flight() { return Flight(*lander); }

    // An upright 400 kg lander under 648 N of weight, sinking straight down.
    void Descending(double altitude, double verticalSpeed) {
        recording::VesselScript &f = Flight();
        f.altitude = altitude;
        f.mass = 400.0;
        f.weight = _V(0.0, -648.0, 0.0);
        f.horizonAirspeed = _V(0.0, verticalSpeed, 0.0);
        f.shipAirspeed = _V(0.0, verticalSpeed, 0.0);
    }

    // Thrust and navigation-mode commands of `l` since the log was cleared, in order.
    std::vector<std::string> Commands(const Lander &l, bool withLevels = true) const {
        std::vector<std::string> out;
        for (const recording::Call &c : rec.calls) {
            if (c.vessel != l.GetHandle()) continue;
            if (c.name == "ActivateNavmode") out.push_back(On(static_cast<int>(c.integer(0))));
            if (c.name == "DeactivateNavmode") out.push_back(Off(static_cast<int>(c.integer(0))));
            if (c.name == "SetThrusterGroupLevel") {
                const int group = static_cast<int>(c.integer(0));
                out.push_back(withLevels ? Group(group, c.num(1)) : "G" + std::to_string(group));
            }
            if (c.name == "SetThrusterLevel") {
                std::string name = c.ptr(0) == l.thLidar ? "lidar" : "?";
                for (int i = 0; i < 3; ++i)
                    if (c.ptr(0) == l.thEngine[i]) name = "E" + std::to_string(i);
                out.push_back(withLevels ? Level(name.c_str(), c.num(1)) : name);
            }
        }
        return out;
    }
    std::vector<std::string> Commands(bool withLevels = true) const { return Commands(*lander, withLevels); }

    std::unique_ptr<Lander> lander;
};

}  // namespace vtal::testing
