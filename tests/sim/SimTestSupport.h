// Helpers for the flight host's tests: scenarios written on the fly, worlds
// created from them against the staged installation, and file helpers.
#pragma once

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "sim/vessel/FlightState.h"
#include "sim/files/Installation.h"
#include "sim/files/Scenario.h"
#include "sim/hostapi/SimBackend.h"
#include "sim/world/World.h"

namespace vtal::simtest {

using sim::Vec3;

inline const char *Root() { return VTAL_SIM_ROOT; }

// The date of the test scenarios.
constexpr double kTestMjd = 51983.5;

// Global state of a vessel over a surface point: level, heading hdg (deg),
// then nose up by `pitch` and right side up by `bank` (deg); velocities are
// over the turning ground.
struct Start {
    double alt = 1000.0, vup = 0.0, vfwd = 0.0, vside = 0.0, heading = 90.0, pitch = 0.0, bank = 0.0;
    Vec3 ratesDeg = Vec3::Zero();
    double lng = -23.4, lat = 3.0;
    std::string body = "Moon";
    double mjd = kTestMjd;
};

inline std::string Exact(double x) { return sim::Exact(x); }

inline std::string FlyingLines(const Start &s) {
    using namespace sim;
    const CentralBody body = FindBody(s.body)->At(s.mjd);
    const Vec3 upBodyFixed = SurfaceDirection(s.lng * kRadPerDeg, s.lat * kRadPerDeg);
    const Vec3 up = body.ToGlobal() * upBodyFixed;
    const Mat3 level = body.ToGlobal() * LevelAttitude(upBodyFixed, s.heading * kRadPerDeg);
    const Mat3 r = level * Eigen::AngleAxisd(-s.pitch * kRadPerDeg, Vec3::UnitX()).toRotationMatrix() *
                   Eigen::AngleAxisd(s.bank * kRadPerDeg, Vec3::UnitZ()).toRotationMatrix();
    const Vec3 e = EulerFromRotation(r) / kRadPerDeg;
    const Vec3 pos = up * (body.radius + s.alt);
    const Vec3 vel = s.vup * up + s.vfwd * level.col(2) + s.vside * level.col(0) + body.SurfaceVelocity(pos);
    std::ostringstream o;
    o << "  STATUS Orbiting " << s.body << "\n  RPOS " << Exact(pos.x()) << " " << Exact(pos.y()) << " " << Exact(pos.z())
      << "\n  RVEL " << Exact(vel.x()) << " " << Exact(vel.y()) << " " << Exact(vel.z()) << "\n  AROT " << Exact(e.x())
      << " " << Exact(e.y()) << " " << Exact(e.z()) << "\n  VROT " << Exact(s.ratesDeg.x()) << " "
      << Exact(s.ratesDeg.y()) << " " << Exact(s.ratesDeg.z()) << "\n";
    return o.str();
}

// A scenario with the given vessel blocks ("name:class\n lines END\n" each).
inline std::string ScenarioWith(const std::string &blocks, const std::string &focus = "Lander") {
    return "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD " + Exact(kTestMjd) + "\nEND_ENVIRONMENT\nBEGIN_FOCUS\n  Ship " + focus +
           "\nEND_FOCUS\nBEGIN_SHIPS\n" + blocks + "END_SHIPS\n";
}

inline std::string LanderBlock(const std::string &standardLines, const std::string &moduleLines = "  MANUAL 1\n",
                               const std::string &name = "Lander") {
    return name + ":vtal\n" + standardLines + "  PRPLEVEL 0:1 1:1\n" + moduleLines + "END\n";
}

inline std::string LandedLines(double heading = 180.0, double lng = -23.4, double lat = 3.0) {
    return "  STATUS Landed Moon\n  POS " + Exact(lng) + " " + Exact(lat) + "\n  HEADING " + Exact(heading) + "\n";
}

// A world from scenario text, against the staged installation.
inline std::unique_ptr<sim::World> MakeWorld(const std::string &text, const std::string &keys = "",
                                             double dt = 1.0 / 60.0) {
    const sim::Scenario scn = sim::ParseScenarioText(text, "test.scn");
    sim::WorldOptions o;
    o.dt = dt;
    o.keys = sim::ParseKeyScript(keys);
    o.preciseSave = true;
    return sim::MakeWorld(scn, sim::Installation(Root()), o);
}

// Speed over the turning ground.
inline double GroundSpeed(const sim::World &w, const sim::Vessel &v) { return sim::GroundVelocity(v, w.Body()).norm(); }

inline void RunFor(sim::World &w, double seconds) {
    const long frames = std::lround(seconds / w.Dt());
    for (long i = 0; i < frames; ++i) w.Step();
}

// The values of one module line of a vessel ("SOLP 1 1.0000" -> {1, 1}).
inline std::vector<double> ModuleValue(sim::World &w, sim::Vessel &v, const std::string &key) {
    std::string text;
    w.ModuleLines(v, text);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string k;
        words >> k;
        if (k != key) continue;
        std::vector<double> values;
        double x;
        while (words >> x) values.push_back(x);
        return values;
    }
    return {};
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string TempPath(const std::string &name) {
    return std::string("/tmp/vtal-sim-test-") + std::to_string(::getpid()) + "-" + name;
}

}  // namespace vtal::simtest
