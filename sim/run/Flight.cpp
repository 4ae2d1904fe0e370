#include "sim/run/Flight.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "sim/vessel/Actuation.h"
#include "sim/vessel/FlightState.h"
#include "sim/base/InputError.h"
#include "sim/run/Outputs.h"
#include "sim/run/Plot.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/Scenario.h"
#include "sim/view/ViewPage.h"
#include "sim/view/ViewRecorder.h"
#include "sim/hostapi/SimBackend.h"

namespace fs = std::filesystem;

namespace vtal::sim {
namespace {

constexpr double kProgressInterval = 0.2;   // s of wall time between progress updates
constexpr double kTimeTolerance = 1e-9;     // s

void CheckOptions(const RunOptions &o) {
    CheckFrameLength(o.dt);
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
    if (!v.motion.positionGlobal.allFinite()) return "its position is not a number";
    if (!v.motion.velocityGlobal.allFinite()) return "its velocity is not a number";
    if (!v.motion.attitude.coeffs().allFinite()) return "its attitude is not a number";
    if (!v.motion.bodyRates.allFinite()) return "its body rates are not numbers";
    if (!(v.motion.bodyRates.cwiseAbs().maxCoeff() <= kMaxBodyRate * kRadPerDeg)) return "it turns faster than the body-rate limit";
    for (const auto &t : v.actuators.tanks)
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
            s.pos = v.motion.positionGlobal, s.vel = v.motion.velocityGlobal, s.omega = v.motion.bodyRates, s.attitude = v.motion.attitude;
            if (s.tankMass.size() != v.actuators.tanks.size()) s.tankMass.resize(v.actuators.tanks.size());
            for (std::size_t k = 0; k < v.actuators.tanks.size(); ++k) s.tankMass[k] = v.actuators.tanks[k]->mass;
        }
        time_ = world.SimTime();
        frames_ = world.Frame();
    }
    void Restore(World &world) const {
        for (std::size_t i = 0; i < states_.size(); ++i) {
            Vessel &v = *world.Vessels()[i];
            const State &s = states_[i];
            v.motion.positionGlobal = s.pos, v.motion.velocityGlobal = s.vel, v.motion.bodyRates = s.omega, v.motion.attitude = s.attitude;
            for (std::size_t k = 0; k < v.actuators.tanks.size(); ++k) v.actuators.tanks[k]->mass = s.tankMass[k];
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

VesselSummary Summarise(World &world, Vessel &v) {
    VesselSummary s;
    s.name = v.name;
    s.className = v.className;
    s.groundContact = v.contact.groundContact;
    s.landed = v.Landed();
    s.landedAt = v.contact.landedAt;
    s.crashedAt = v.contact.crashedAt;
    s.touchdown = world.TouchdownOf(v);
    for (const auto &t : v.actuators.tanks) s.propellantKg.push_back(t->mass);
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

struct Flight::Progress : ProgressLine {
    using ProgressLine::ProgressLine;
};
struct Flight::SoundState : LastSoundState {};

void CheckFrameLength(double dt) {
    if (!std::isfinite(dt) || dt <= 0.0 || dt > kMaxDt)
        throw InputError("--dt must be a number of seconds above 0 and at most " + Plain(kMaxDt));
}

Flight::Flight(const RunOptions &o) : options_(o) {
    std::ostream &out = o.out ? *o.out : std::cout;
    std::ostream &err = o.err ? *o.err : std::cerr;
    CheckOptions(o);
    const Installation installation(o.root.empty() ? DefaultRoot() : o.root);
    path_ = o.scenario.empty() ? installation.DefaultScenario() : installation.ScenarioPath(o.scenario);
    viewTemplate_ = ViewerTemplatePath(installation.Root());
    if (!o.viewPath.empty() && !fs::is_regular_file(viewTemplate_))
        throw InputError(kViewerBuilt ? "--view needs the replay viewer " + viewTemplate_ + " (built by the vtal_viewer target)"
                                      : std::string("--view: this vtal-sim was built without the replay viewer "
                                                    "(-DVTAL_VIEWER=OFF)"));
    const Scenario scenario = o.scenarioText.empty() ? ReadScenarioFile(path_) : ParseScenarioText(o.scenarioText, path_);

    WorldOptions wo;
    wo.dt = o.dt;
    wo.preciseSave = o.precise;
    wo.keys = ParseKeyScript(o.keys);
    wo.liveKeyboard = o.liveKeyboard;
    wo.log = o.quiet ? nullptr : &out;
    wo.warnings = &err;
    wo.adjustStart = o.adjustStart;
    world_ = MakeWorld(scenario, installation, wo);
    World &world = *world_;
    if (o.onStart) o.onStart(world);
    if (!o.viewPath.empty()) {
        // The page is kept within its bound, and a page that leaves something
        // out says so before the run flies.
        ViewPlan plan = PlanView(world, static_cast<double>(FrameCount(o.until < 0.0 ? kDefaultTimeLimit : o.until, o.dt)) * o.dt);
        if (plan.Thinned()) world.WarnOnce(ViewPlanNotice(plan, world));
        view_ = std::make_unique<ViewRecorder>(world, std::move(plan));
    }

    // Telemetry goes to a temporary file when only the plot asks for it.
    std::string telemetryPath = o.telemetryPath;
    if (telemetryPath.empty() && !o.plotPath.empty()) {
        char name[] = "/tmp/vtal-sim-telemetry-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw WriteError("cannot create a temporary telemetry file in /tmp");
        close(fd);
        telemetryPath = temporaryTelemetry_ = name;
    }
    if (!telemetryPath.empty()) telemetry_ = std::make_unique<TelemetryWriter>(telemetryPath, world);

    progress_ = std::make_unique<Progress>(err, o.progress && !o.quiet && isatty(STDERR_FILENO));
    sound_ = std::make_unique<SoundState>();
    lastFrame_ = FrameCount(o.until < 0.0 ? kDefaultTimeLimit : o.until, o.dt);
    // An interval shorter than a frame is a row every frame.
    every_ = o.every < o.dt ? 0.0 : o.every;
    if (const auto lost = FirstLostVessel(world); lost.second)
        throw std::runtime_error("vessel '" + lost.first->name + "' cannot be flown: " + lost.second);
    if (telemetry_) {
        telemetry_->Row(world);
        nextRow_ = every_;
    }
}

Flight::~Flight() {
    if (!temporaryTelemetry_.empty()) std::remove(temporaryTelemetry_.c_str());
}

bool Flight::Continues() const { return !lost_ && !rested_ && world_->Frame() < lastFrame_; }

void Flight::Step() {
    World &world = *world_;
    sound_->Keep(world);
    world.Step();
    if (const auto lost = FirstLostVessel(world); lost.second) {
        // The run ends on the frame before: nothing that is not a number
        // reaches an output.
        sound_->Restore(world);
        world.WarnOnce("the physics lost vessel '" + lost.first->name + "' at t = " + Plain(world.SimTime()) + " s (" +
                       lost.second + "); the run ends at t = " + Plain(sound_->Time()) + " s, the frame before");
        lost_ = true;
        return;
    }
    if (options_.onFrame) options_.onFrame(world);
    if (view_) view_->Frame(world);
    if (telemetry_ && world.SimTime() + kTimeTolerance >= nextRow_) {
        telemetry_->Row(world);
        if (every_ > 0.0) nextRow_ = (std::floor((world.SimTime() + kTimeTolerance) / every_) + 1.0) * every_;
    }
    progress_->Update(world);
    if (options_.until < 0.0) {
        const Vessel &f = *world.Focus();
        const bool resting = f.contact.groundContact && GroundVelocity(f, world.Body()).norm() < kRestSpeed;
        restedFor_ = resting ? restedFor_ + options_.dt : 0.0;
        rested_ = restedFor_ >= kRestTimeToStop - kTimeTolerance;
    }
}

RunResult Flight::Finish() {
    const RunOptions &o = options_;
    std::ostream &out = o.out ? *o.out : std::cout;
    World &world = *world_;
    progress_->Update(world, true);
    progress_->Finish();

    RunResult result;
    result.endTime = lost_ ? sound_->Time() : world.SimTime();
    result.frames = lost_ ? sound_->Frames() : world.Frame();
    result.scenarioPath = path_;
    for (const auto &v : world.Vessels()) {
        if (v.get() == world.Focus()) result.focus = result.vessels.size();
        result.vessels.push_back(Summarise(world, *v));
    }
    for (const auto &a : world.AllAnnotations())
        result.annotations.push_back({a->text, a->createdAt, a->deleted, a->deletedAt});
    result.warnings = world.Warnings();
    const std::string viewRecord = view_ ? view_->Finish(world) : std::string();
    world.PaintHud();
    result.reportJson = ReportJson(result, world);

    // Every output is finished and checked in a temporary file before any
    // of them replaces a file that is there.
    if (telemetry_) telemetry_->Close();
    std::unique_ptr<AtomicFile> save, report, hud, plot;
    if (!o.savePath.empty()) {
        const std::string text = world.SaveScenario();
        CheckReadsBack(text, o.savePath);
        save = Staged(o.savePath, text);
    }
    if (!o.reportPath.empty()) report = Staged(o.reportPath, result.reportJson);
    if (!o.hudPath.empty()) hud = Staged(o.hudPath, CanvasToSvg(world.Canvas()));
    std::unique_ptr<AtomicFile> page;
    if (view_) page = Staged(o.viewPath, ComposeViewPage(viewTemplate_, viewRecord));
    if (!o.plotPath.empty()) {
        plot = std::make_unique<AtomicFile>(o.plotPath);
        const std::string problem =
            DrawPlot(telemetry_->WorkingPath(), telemetry_->Columns(), PlotLabelsOf(result, world, path_), *plot);
        if (!problem.empty()) throw WriteError(problem);
    }
    if (telemetry_ && !o.telemetryPath.empty()) telemetry_->Commit();
    for (AtomicFile *file : {save.get(), report.get(), hud.get(), plot.get(), page.get()})
        if (file) file->Commit();
    if (!o.quiet) PrintHumanReport(out, result, world);
    return result;
}

RunResult Fly(const RunOptions &o) {
    Flight flight(o);
    while (flight.Continues()) flight.Step();
    return flight.Finish();
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
