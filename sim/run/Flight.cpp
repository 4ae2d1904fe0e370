#include "sim/run/Flight.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "sim/vessel/Dynamics.h"
#include "sim/vessel/FlightState.h"
#include "sim/files/InputError.h"
#include "sim/files/Outputs.h"
#include "sim/files/SafeFiles.h"
#include "sim/files/Scenario.h"
#include "sim/view/ViewPage.h"
#include "sim/view/ViewRecorder.h"

namespace fs = std::filesystem;

namespace vtal::sim {
namespace {

constexpr double kMaxDt = 1.0;              // s; longer steps are refused
constexpr double kProgressInterval = 0.2;   // s of wall time between progress updates
constexpr double kTimeTolerance = 1e-9;     // s

void CheckOptions(const RunOptions &o) {
    if (!std::isfinite(o.dt) || o.dt <= 0.0 || o.dt > kMaxDt)
        throw InputError("--dt must be a number of seconds above 0 and at most 1");
    if (!(o.until < 0.0) && !std::isfinite(o.until)) throw InputError("--until must be a finite number of seconds");
    if (!std::isfinite(o.every) || o.every < 0.0) throw InputError("--every must be a number of seconds, 0 or more");
    FrameCount(o.until < 0.0 ? kDefaultTimeLimit : o.until, o.dt);
    CheckOutputPath(o.savePath, "--save");
    CheckOutputPath(o.telemetryPath, "--telemetry");
    CheckOutputPath(o.reportPath, "--report");
    CheckOutputPath(o.plotPath, "--plot");
    CheckOutputPath(o.hudPath, "--hud");
    CheckOutputPath(o.viewPath, "--view");
    if (!o.plotPath.empty() && !ProgramAvailable("gnuplot"))
        throw InputError("--plot needs gnuplot (Debian package gnuplot-nox), which is not installed");
}

// Why the physics has lost a vessel (a state that is not a number, or
// turning faster than any scenario may start), or null.
const char *LostState(const Vessel &v) {
    if (!v.pos.allFinite()) return "its position is not a number";
    if (!v.vel.allFinite()) return "its velocity is not a number";
    if (!v.attitude.coeffs().allFinite()) return "its attitude is not a number";
    if (!v.omega.allFinite()) return "its body rates are not numbers";
    if (!(v.omega.cwiseAbs().maxCoeff() <= kMaxBodyRate * kRadPerDeg)) return "it turns faster than the body-rate limit";
    for (const auto &t : v.tanks)
        if (!std::isfinite(t->mass)) return "its propellant mass is not a number";
    return nullptr;
}

// The integrated state of every vessel, kept from the frame before so that
// a run whose physics loses a vessel ends on the last state that was sound.
class LastSoundState {
public:
    void Keep(const World &world) {
        const auto &vessels = world.Vessels();
        if (states_.size() != vessels.size()) states_.resize(vessels.size());
        for (std::size_t i = 0; i < states_.size(); ++i) {
            const Vessel &v = *vessels[i];
            State &s = states_[i];
            s.pos = v.pos, s.vel = v.vel, s.omega = v.omega, s.attitude = v.attitude;
            if (s.tankMass.size() != v.tanks.size()) s.tankMass.resize(v.tanks.size());
            for (std::size_t k = 0; k < v.tanks.size(); ++k) s.tankMass[k] = v.tanks[k]->mass;
        }
        time_ = world.SimTime();
        frames_ = world.Frame();
    }
    void Restore(World &world) const {
        for (std::size_t i = 0; i < states_.size(); ++i) {
            Vessel &v = *world.Vessels()[i];
            const State &s = states_[i];
            v.pos = s.pos, v.vel = s.vel, v.omega = s.omega, v.attitude = s.attitude;
            for (std::size_t k = 0; k < v.tanks.size(); ++k) v.tanks[k]->mass = s.tankMass[k];
        }
    }
    double Time() const { return time_; }
    long Frames() const { return frames_; }

private:
    struct State {
        Vec3 pos, vel, omega;
        Quat attitude;
        std::vector<double> tankMass;
    };
    std::vector<State> states_;
    double time_ = 0.0;
    long frames_ = 0;
};

// The first vessel the physics has lost, with the reason, or an empty name.
std::pair<const Vessel *, const char *> FirstLostVessel(const World &world) {
    for (const auto &v : world.Vessels())
        if (const char *why = LostState(*v)) return {v.get(), why};
    return {nullptr, nullptr};
}

// A saved scenario that this host cannot read back would be lost data.
void CheckReadsBack(const std::string &text, const std::string &path) {
    try {
        ParseScenarioText(text, path);
    } catch (const InputError &e) {
        throw std::runtime_error(std::string("the scenario to save would not read back (") + e.what() +
                                 "); --save is not written");
    }
}

std::unique_ptr<AtomicFile> Staged(const std::string &path, const std::string &text) {
    auto file = std::make_unique<AtomicFile>(path);
    file->Write(text);
    file->Close();
    return file;
}

// Removes a temporary file when the run ends, however it ends.
struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() {
        if (!path.empty()) std::remove(path.c_str());
    }
};

VesselSummary Summarise(World &world, Vessel &v) {
    VesselSummary s;
    s.name = v.name;
    s.className = v.className;
    s.groundContact = v.groundContact;
    s.landed = v.Landed();
    s.landedAt = v.landedAt;
    s.crashedAt = v.crashedAt;
    s.touchdown = world.TouchdownOf(v);
    for (const auto &t : v.tanks) s.propellantKg.push_back(t->mass);
    std::string text;
    world.ModuleLines(v, text);
    s.moduleValues = ParseModuleValues(text);
    static_cast<Instruments &>(s) = InstrumentsOf(v, world.Body());
    return s;
}

class ProgressLine {
public:
    ProgressLine(std::ostream &err, bool enabled) : err_(err), enabled_(enabled) {}
    void Update(World &world, bool force = false) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && std::chrono::duration<double>(now - last_).count() < kProgressInterval) return;
        last_ = now;
        const Vessel &v = *world.Focus();
        const ThrusterGroup *main = v.Group(THGROUP_MAIN);
        char line[160];
        std::snprintf(line, sizeof line, "\r  t %8.2f s   altitude %9.2f m   sink %7.2f m/s   throttle %4.2f ",
                      world.SimTime(), Altitude(v, world.Body()), -VerticalSpeed(v), GroupLevel(main));
        err_ << line << std::flush;
        shown_ = true;
    }
    void Finish() {
        if (shown_) err_ << "\n" << std::flush;
    }

private:
    std::ostream &err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace

RunResult Fly(const RunOptions &o) {
    std::ostream &out = o.out ? *o.out : std::cout;
    std::ostream &err = o.err ? *o.err : std::cerr;
    CheckOptions(o);
    const Installation installation(o.root.empty() ? DefaultRoot() : o.root);
    const std::string path = o.scenario.empty() ? installation.DefaultScenario() : installation.ScenarioPath(o.scenario);
    const std::string viewTemplate = ViewerTemplatePath(installation.Root());
    if (!o.viewPath.empty() && !fs::is_regular_file(viewTemplate))
        throw InputError("--view needs the replay viewer " + viewTemplate + " (built by the vtal_viewer target)");
    const Scenario scenario = o.scenarioText.empty() ? ReadScenarioFile(path) : ParseScenarioText(o.scenarioText, path);

    WorldOptions wo;
    wo.dt = o.dt;
    wo.preciseSave = o.precise;
    wo.keys = ParseKeyScript(o.keys);
    wo.log = o.quiet ? nullptr : &out;
    wo.warnings = &err;
    World world(scenario, installation, wo);
    if (o.onStart) o.onStart(world);
    std::unique_ptr<ViewRecorder> view;
    if (!o.viewPath.empty()) view = std::make_unique<ViewRecorder>(world);

    // Telemetry goes to a temporary file when only the plot asks for it.
    std::string telemetryPath = o.telemetryPath;
    RemovedAtEnd temporaryTelemetry;
    if (telemetryPath.empty() && !o.plotPath.empty()) {
        char name[] = "/tmp/vtal-sim-telemetry-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw WriteError("cannot create a temporary telemetry file in /tmp");
        close(fd);
        telemetryPath = temporaryTelemetry.path = name;
    }
    std::unique_ptr<TelemetryWriter> telemetry;
    if (!telemetryPath.empty()) telemetry = std::make_unique<TelemetryWriter>(telemetryPath, world);

    ProgressLine progress(err, o.progress && !o.quiet && isatty(STDERR_FILENO));
    const bool untilRested = o.until < 0.0;
    const long lastFrame = FrameCount(untilRested ? kDefaultTimeLimit : o.until, o.dt);
    // An interval shorter than a frame is a row every frame.
    const double every = o.every < o.dt ? 0.0 : o.every;
    double restedFor = 0.0;
    double nextRow = 0.0;
    if (const auto lost = FirstLostVessel(world); lost.second)
        throw std::runtime_error("vessel '" + lost.first->name + "' cannot be flown: " + lost.second);
    if (telemetry) {
        telemetry->Row(world);
        nextRow = every;
    }
    LastSoundState sound;
    bool lostEnd = false;
    while (world.Frame() < lastFrame) {
        sound.Keep(world);
        world.Step();
        if (const auto lost = FirstLostVessel(world); lost.second) {
            // The run ends on the frame before: nothing that is not a number
            // reaches an output.
            sound.Restore(world);
            world.WarnOnce("the physics lost vessel '" + lost.first->name + "' at t = " + Plain(world.SimTime()) + " s (" +
                           lost.second + "); the run ends at t = " + Plain(sound.Time()) + " s, the frame before");
            lostEnd = true;
            break;
        }
        if (o.onFrame) o.onFrame(world);
        if (view) view->Frame(world);
        if (telemetry && world.SimTime() + kTimeTolerance >= nextRow) {
            telemetry->Row(world);
            if (every > 0.0) nextRow = (std::floor((world.SimTime() + kTimeTolerance) / every) + 1.0) * every;
        }
        progress.Update(world);
        if (untilRested) {
            const Vessel &f = *world.Focus();
            restedFor = (f.groundContact && GroundVelocity(f, world.Body()).norm() < kRestSpeed) ? restedFor + o.dt : 0.0;
            if (restedFor >= kRestTimeToStop - kTimeTolerance) break;
        }
    }
    progress.Update(world, true);
    progress.Finish();

    RunResult result;
    result.endTime = lostEnd ? sound.Time() : world.SimTime();
    result.frames = lostEnd ? sound.Frames() : world.Frame();
    result.scenarioPath = path;
    for (const auto &v : world.Vessels()) result.vessels.push_back(Summarise(world, *v));
    for (const auto &a : world.Annotations())
        result.annotations.push_back({a->text, a->createdAt, a->deleted, a->deletedAt});
    result.warnings = world.Warnings();
    const std::string viewRecord = view ? view->Finish(world) : std::string();
    world.PaintHud();
    result.reportJson = ReportJson(result, world);

    // Every output is finished and checked in a temporary file before any
    // of them replaces a file that is there.
    if (telemetry) telemetry->Close();
    std::unique_ptr<AtomicFile> save, report, hud, plot;
    if (!o.savePath.empty()) {
        const std::string text = world.SaveScenario();
        CheckReadsBack(text, o.savePath);
        save = Staged(o.savePath, text);
    }
    if (!o.reportPath.empty()) report = Staged(o.reportPath, result.reportJson);
    if (!o.hudPath.empty()) hud = Staged(o.hudPath, CanvasToSvg(world.Canvas()));
    std::unique_ptr<AtomicFile> page;
    if (view) page = Staged(o.viewPath, ComposeViewPage(viewTemplate, viewRecord));
    if (!o.plotPath.empty()) {
        plot = std::make_unique<AtomicFile>(o.plotPath);
        const std::string problem = DrawPlot(telemetry->WorkingPath(), telemetry->Columns(), *plot);
        if (!problem.empty()) throw WriteError(problem);
    }
    if (telemetry && !o.telemetryPath.empty()) telemetry->Commit();
    for (AtomicFile *file : {save.get(), report.get(), hud.get(), plot.get(), page.get()})
        if (file) file->Commit();
    if (!o.quiet) PrintHumanReport(out, result, world);
    return result;
}

long FrameCount(double until, double dt) {
    const double frames = std::floor(until / dt + kTimeTolerance);
    if (frames <= static_cast<double>(kMaxFrames)) return static_cast<long>(frames);
    const double largestUntil = static_cast<double>(kMaxFrames) * dt;
    const double smallestDt = until / static_cast<double>(kMaxFrames);
    std::string message = "a stop at " + Plain(until) + " s (--until) in frames of " + Plain(dt) +
                          " s (--dt) would take " + Plain(frames) + " frames, more than the " +
                          std::to_string(kMaxFrames) + " a run flies: at this --dt the largest accepted --until is " +
                          Plain(largestUntil) + " s";
    if (smallestDt <= kMaxDt) message += "; for this stop the smallest accepted --dt is " + Plain(smallestDt) + " s";
    throw InputError(message);
}

}  // namespace vtal::sim
