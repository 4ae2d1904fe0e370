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

#include "sim/vessel/FlightState.h"
#include "sim/world/World.h"

namespace vtal::sim {

// Without --until: stop once the focus vessel has rested this long, or at the limit.
constexpr double kRestTimeToStop = 10.0;   // s
constexpr double kRestSpeed = 0.5;         // m/s: slower than this on the ground counts as resting
constexpr double kDefaultTimeLimit = 600.0; // s
constexpr double kDefaultDt = 1.0 / 60.0;   // s
// The most frames one run flies: 193 days of simulated time at the default
// step, about ten minutes of computing. Frame counts stay far inside a long.
constexpr long kMaxFrames = 1000000000;

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
    bool precise = false;      // --save with 17 significant digits instead of the host's decimals
    bool quiet = false;
    bool progress = true;      // the updating progress line, on a terminal only
    std::ostream *out = nullptr;  // human report and annotations; null: std::cout
    std::ostream *err = nullptr;  // warnings and progress; null: std::cerr
    std::function<void(World &)> onStart;  // after creation (tests)
    std::function<void(World &)> onFrame;  // after every frame (tests)
};

struct VesselSummary : Instruments {
    std::string name, className;
    bool groundContact = false;
    bool landed = false;
    double landedAt = -1.0;  // s; negative: not landed by the rest test in this run
    double crashedAt = -1.0; // s; negative: not stopped in the ground
    Touchdown touchdown;
    std::vector<double> propellantKg;
    std::vector<std::pair<std::string, std::vector<double>>> moduleValues;  // module lines by key
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

// Flies one run. Throws InputError for bad input (nothing is flown then),
// WriteError when an output cannot be written and std::runtime_error when
// the run cannot go on; outputs are replaced only once all are complete.
RunResult Fly(const RunOptions &options);

// Frames from the start to a stop at `until` s with steps of `dt` s; throws
// InputError naming the largest accepted values beyond kMaxFrames.
long FrameCount(double until, double dt);

// Values of a vessel's module lines ("KEY n1 n2 ..." per line).
std::vector<std::pair<std::string, std::vector<double>>> ParseModuleValues(const std::string &text);

}  // namespace vtal::sim
