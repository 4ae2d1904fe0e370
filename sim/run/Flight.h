// One run of the flight host as a library function: read the installation
// and the scenario, load the modules afresh, fly, and write what was asked
// (telemetry, report, plot, head-up display, saved scenario). A Monte-Carlo
// campaign calls Fly once per worker process.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "sim/world/World.h"

namespace vtal::sim {

// Without --until: stop once the focus vessel has rested this long, or at the limit.
constexpr double kRestTimeToStop = 10.0;   // s
constexpr double kRestSpeed = 0.5;         // m/s: slower than this on the ground counts as resting
constexpr double kDefaultTimeLimit = 600.0; // s
constexpr double kDefaultDt = 1.0 / 60.0;   // s

struct RunOptions {
    std::string root;          // installation; empty: next to the program
    std::string scenario;      // file or name under Scenarios/; empty: the default descent
    std::string scenarioText;  // if set, flown instead of reading `scenario` (which names it)
    double until = -1.0;       // s; negative: until rested (at most kDefaultTimeLimit)
    double dt = kDefaultDt;
    std::string keys;          // key script
    std::string savePath, telemetryPath, reportPath, plotPath, hudPath;
    std::string viewPath;      // the replay page (HTML) of the run
    double every = 0.0;        // telemetry interval, s; 0: every frame
    bool quiet = false;
    bool progress = true;      // the updating progress line, on a terminal only
    std::ostream *out = nullptr;  // human report and annotations; null: std::cout
    std::ostream *err = nullptr;  // warnings and progress; null: std::cerr
    std::function<void(World &)> onStart;  // after creation (tests)
    std::function<void(World &)> onFrame;  // after every frame (tests)
};

struct VesselSummary {
    std::string name, className;
    bool groundContact = false;
    Touchdown touchdown;
    std::vector<double> propellantKg;
    std::vector<std::pair<std::string, std::vector<double>>> moduleValues;  // module lines by key
    double altitude = 0.0, verticalSpeed = 0.0, horizontalSpeed = 0.0;
    double pitchDeg = 0.0, bankDeg = 0.0, headingDeg = 0.0;
};

struct AnnotationSummary {
    std::string text;
    double createdAt = 0.0;
    bool deleted = false;
    double deletedAt = 0.0;
};

struct RunResult {
    double endTime = 0.0;
    long frames = 0;
    std::string scenarioPath;
    std::vector<VesselSummary> vessels;
    std::vector<AnnotationSummary> annotations;
    std::vector<std::string> warnings;
    std::string reportJson;
};

// Flies one run. Throws InputError for bad input (nothing is flown then).
RunResult Fly(const RunOptions &options);

// Values of a vessel's module lines ("KEY n1 n2 ..." per line).
std::vector<std::pair<std::string, std::vector<double>>> ParseModuleValues(const std::string &text);

}  // namespace vtal::sim
