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

#include "sim/run/LandingOutcome.h"
#include "sim/base/SafeFiles.h"
#include "sim/vessel/FlightState.h"
#include "sim/world/World.h"

namespace vtal::sim {

// Without --until: stop once the focus vessel has rested this long after the
// last scripted key came up, or at the limit.
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
    std::string scenarioText;  // if set, flown instead of reading `scenario` (which names it as given)
    // If set, flown instead of reading anything: a scenario already read and
    // the installation to fly it from (a campaign reads both once for all its
    // runs). Both must outlive the Flight; `root`, `scenario` and
    // `scenarioText` are then not used.
    const Scenario *parsedScenario = nullptr;
    const Installation *installation = nullptr;
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
    bool lander = false;     // a vessel its module flies (not a passive one)
    bool ranDryBeforeTouchdown = false;  // its main tank was empty in a frame before its touchdown
    bool groundContact = false;
    bool landed = false;
    double landedAt = -1.0;  // s; negative: not landed by the rest test in this run
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
    std::string focusName;  // the vessel that had the focus at the end
    std::vector<VesselSummary> vessels;
    std::size_t focus = 0;  // the focus vessel's index in `vessels`
    std::vector<AnnotationSummary> annotations;
    std::vector<std::string> warnings;
    std::string reportJson;  // the JSON report, if --report asked for one
};

// Throws InputError unless dt is a frame length the host flies: above 0 s
// and at most kMaxDt.
void CheckFrameLength(double dt);

// Checks what can be checked of the options before anything is read: the
// frame step, the stop and the telemetry interval, the frame count, each
// output's folder, and gnuplot for --plot. Throws InputError.
void CheckRunOptions(const RunOptions &options);

// The outputs the options ask for, each named by its option (empty paths
// for those not asked for).
std::vector<NamedFile> OutputsOf(const RunOptions &options);

// The files a run reads: the scenario (which only `saveOption`, if not
// empty, may replace), each vessel class's configuration and module
// library, the replay page's template (if not empty) and this program.
// Throws InputError for a configuration or module that cannot be used.
std::vector<NamedFile> InputsOfRun(const Scenario &scenario, const std::string &scenarioPath,
                                   const Installation &installation, const std::string &viewTemplate,
                                   const std::string &saveOption);

// The scripted keys a run ended before pressing, as one warning naming
// them; empty if every key went down.
std::string UnpressedKeysWarning(const std::vector<KeyEvent> &keys, double endTime);

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
    void NoteTanksRunDry(const World &world);
    RunOptions options_;
    std::string path_;
    std::string viewTemplate_;
    std::unique_ptr<World> world_;
    std::unique_ptr<ViewRecorder> view_;
    std::unique_ptr<TelemetryWriter> telemetry_;
    // Rows for the plot when --telemetry does not keep them in a file it can
    // read back: without --telemetry, or with one written in place (a pipe).
    std::unique_ptr<TemporaryFile> plotRowsFile_;
    std::unique_ptr<TelemetryWriter> plotRows_;
    void WriteRows();
    struct Progress;
    std::unique_ptr<Progress> progress_;
    struct SoundState;
    std::unique_ptr<SoundState> sound_;
    long lastFrame_ = 0;
    double every_ = 0.0, nextRow_ = 0.0, restedFor_ = 0.0;
    bool rested_ = false, lost_ = false;
    std::vector<char> ranDry_;  // per vessel: its main tank ran dry before its touchdown
};

// What the run observed of one of its landers, for the outcome classifier.
// The module's crash notice is the module's, not a vessel's: it counts for a
// lander only when the run has no other, and otherwise the touchdown speed
// alone tells a crash.
Observation ObservationOf(const RunResult &result, const VesselSummary &v);

// Flies one run to its stop and writes its outputs.
RunResult Fly(const RunOptions &options);

// When the module first raised its crash notice (an annotation whose text
// begins with "Crash"), in s; negative if it never did.
double CrashNoticeAt(const RunResult &result);

// How a vessel ended the run: "at rest on the surface" (landed by the rest
// test), "on the ground" (in contact, not at rest) or "in flight".
const char *Ending(const VesselSummary &v);
// Its attitude at the end, from its tilt: "upright" (within 45 deg of the
// local vertical), "upside down" (within 45 deg of it, head down) or
// "on its side".
const char *Posture(const VesselSummary &v);

// Frames from the start to a stop at `until` s with steps of `dt` s; throws
// InputError naming the largest accepted values beyond kMaxFrames.
long FrameCount(double until, double dt);

// Values of a vessel's module lines ("KEY n1 n2 ..." per line).
std::vector<std::pair<std::string, std::vector<double>>> ParseModuleValues(const std::string &text);

}  // namespace vtal::sim
