// One run of the flight host: read the installation and the scenario, load
// the modules afresh, fly, and write what was asked (telemetry, report,
// plot, head-up display, saved scenario, replay page). Fly runs it to its
// stop in one call; a Flight is the same run frame by frame, for a caller
// that paces or watches it (a campaign's run, a live session).
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
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
constexpr double kMaxDt = 1.0;              // s; longer frames are refused
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
    bool liveKeyboard = false;  // keys are pushed into the world's keyboard from outside as well
    StartAdjustment adjustStart;  // changes a vessel's start before its post-creation (a campaign's dispersion)
    // Tests only: they look at the world after creation and after every
    // frame of Fly, and change nothing.
    std::function<void(World &)> onStart;
    std::function<void(World &)> onFrame;
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
    std::size_t focus = 0;  // the focus vessel's index in `vessels`
    std::vector<AnnotationSummary> annotations;
    std::vector<std::string> warnings;
    std::string reportJson;
};

// Throws InputError unless dt is a frame length the host flies: above 0 s
// and at most kMaxDt.
void CheckFrameLength(double dt);

class TelemetryWriter;
class ViewRecorder;

// One run, frame by frame. Throws InputError for bad input (nothing is
// flown then), WriteError when an output cannot be written and
// std::runtime_error when the run cannot go on; outputs are replaced only
// once all are complete.
class Flight {
public:
    // Reads the installation and scenario, creates the world and opens the
    // outputs that are written as it flies.
    explicit Flight(const RunOptions &options);
    ~Flight();
    Flight(const Flight &) = delete;
    Flight &operator=(const Flight &) = delete;

    World &GetWorld() { return *world_; }
    const std::string &ScenarioPath() const { return path_; }
    // Whether the run goes on: not past --until (or, without it, not rested
    // for kRestTimeToStop or past the time limit) and no vessel lost.
    bool Continues() const;
    // Whether the physics lost a vessel (the run then ends on the frame before).
    bool Lost() const { return lost_; }
    const std::string &ViewerTemplate() const { return viewTemplate_; }
    // One frame and what the run records of it. After a frame that loses a
    // vessel, the world is back on the frame before and the run stops.
    void Step();
    // Ends the run: the summary, and every requested output written.
    RunResult Finish();

private:
    RunOptions options_;
    std::string path_;
    std::string viewTemplate_;
    std::unique_ptr<World> world_;
    std::unique_ptr<ViewRecorder> view_;
    std::unique_ptr<TelemetryWriter> telemetry_;
    std::string temporaryTelemetry_;
    struct Progress;
    std::unique_ptr<Progress> progress_;
    struct SoundState;
    std::unique_ptr<SoundState> sound_;
    long lastFrame_ = 0;
    double every_ = 0.0, nextRow_ = 0.0, restedFor_ = 0.0;
    bool rested_ = false, lost_ = false;
};

// Flies one run to its stop and writes its outputs.
RunResult Fly(const RunOptions &options);

// Frames from the start to a stop at `until` s with steps of `dt` s; throws
// InputError naming the largest accepted values beyond kMaxFrames.
long FrameCount(double until, double dt);

// Values of a vessel's module lines ("KEY n1 n2 ..." per line).
std::vector<std::pair<std::string, std::vector<double>>> ParseModuleValues(const std::string &text);

}  // namespace vtal::sim
