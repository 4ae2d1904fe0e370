#include "sim/run/Flight.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
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
// How the module's crash notice begins ("Crash! Impact > 10m/s").
constexpr const char *kCrashNoticeText = "Crash";
// A vessel tilted no more than this from the local vertical stands upright.
constexpr double kMostUprightTilt = 45.0;   // deg

}  // namespace

void CheckRunOptions(const RunOptions &o) {
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

std::vector<NamedFile> OutputsOf(const RunOptions &o) {
    return {{"--save", o.savePath},  {"--telemetry", o.telemetryPath}, {"--report", o.reportPath},
            {"--plot", o.plotPath},  {"--hud", o.hudPath},             {"--view", o.viewPath}};
}

namespace {

// A run may not fly past the last date a scenario may hold, or what it
// saves could not be read back.
void CheckEndDate(const Scenario &scenario, double seconds) {
    const double endMjd = scenario.mjd + seconds / kSecondsPerDay;
    if (endMjd > kLatestMjd)
        throw InputError(At(scenario.path, 0, "a run from MJD " + Plain(scenario.mjd) + " for " + Plain(seconds) +
                                                  " s would end at MJD " + Exact(endMjd) + ", past the last date flown (MJD " +
                                                  Plain(kLatestMjd) + "); start earlier or stop sooner (--until)"));
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
    s.lander = v.module != nullptr;
    s.groundContact = v.contact.groundContact;
    s.landed = v.Landed();
    s.landedAt = v.contact.landedAt;
    s.touchdown = world.TouchdownOf(v);
    for (const auto &t : v.actuators.tanks) s.propellantKg.push_back(t->mass);
    std::string text;
    world.ModuleLines(v, text);
    s.moduleValues = ParseModuleValues(text);
    static_cast<Instruments &>(s) = InstrumentsOf(v, world.Body());
    return s;
}

// A step coarser than the guidance flies is worth a word wherever a module flies a vessel.
void WarnOfCoarseStep(World &world) {
    const std::string warning = CoarseStepWarning(world.Dt());
    if (warning.empty()) return;
    for (const auto &v : world.Vessels())
        if (v->module) {
            world.WarnOnce(warning);
            return;
        }
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
    CheckRunOptions(o);
    if (!o.parsedScenario != !o.installation)
        throw std::logic_error("a scenario read beforehand is flown with the installation read with it");
    std::optional<Installation> ownInstallation;
    const Installation &installation =
        o.installation ? *o.installation : ownInstallation.emplace(o.root.empty() ? DefaultRoot() : o.root);
    // A scenario flown from its text is named by `scenario` as given.
    path_ = o.parsedScenario         ? o.parsedScenario->path
            : o.scenario.empty()     ? installation.DefaultScenario()
            : o.scenarioText.empty() ? installation.ScenarioPath(o.scenario)
                                     : o.scenario;
    viewTemplate_ = ViewerTemplatePath(installation.Root());
    if (!o.viewPath.empty() && !fs::is_regular_file(viewTemplate_))
        throw InputError(kViewerBuilt ? "--view needs the replay viewer " + viewTemplate_ + " (built by the vtal_viewer target)"
                                      : std::string("--view: this vtal-sim was built without the replay viewer "
                                                    "(-DVTAL_VIEWER=OFF)"));
    std::optional<Scenario> ownScenario;
    if (!o.parsedScenario)
        ownScenario.emplace(o.scenarioText.empty() ? ReadScenarioFile(path_) : ParseScenarioText(o.scenarioText, path_));
    const Scenario &scenario = o.parsedScenario ? *o.parsedScenario : *ownScenario;
    CheckOutputsApart(OutputsOf(o), InputsOfRun(scenario, path_, installation, o.viewPath.empty() ? "" : viewTemplate_, "--save"));

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
    WarnOfCoarseStep(world);
    if (o.onStart) o.onStart(world);
    if (!o.viewPath.empty()) {
        // The page is kept within its bound, and a page that leaves something
        // out says so before the run flies.
        ViewPlan plan = PlanView(world, static_cast<double>(FrameCount(o.until < 0.0 ? kDefaultTimeLimit : o.until, o.dt)) * o.dt);
        if (plan.Thinned()) world.WarnOnce(ViewPlanNotice(plan, world));
        view_ = std::make_unique<ViewRecorder>(world, std::move(plan));
    }

    if (!o.telemetryPath.empty()) telemetry_ = std::make_unique<TelemetryWriter>(o.telemetryPath, world);
    // The plot reads its rows back from a file: --telemetry's until it is
    // committed, else a temporary file of its own.
    if (!o.plotPath.empty() && (!telemetry_ || IsWrittenInPlace(o.telemetryPath))) {
        plotRowsFile_ = std::make_unique<TemporaryFile>("vtal-sim-telemetry");
        plotRows_ = std::make_unique<TelemetryWriter>(plotRowsFile_->Path(), world);
    }

    progress_ = std::make_unique<Progress>(err, o.progress && !o.quiet && isatty(STDERR_FILENO));
    sound_ = std::make_unique<SoundState>();
    lastFrame_ = FrameCount(o.until < 0.0 ? kDefaultTimeLimit : o.until, o.dt);
    CheckEndDate(scenario, static_cast<double>(lastFrame_) * o.dt);
    // An interval shorter than a frame is a row every frame.
    every_ = o.every < o.dt ? 0.0 : o.every;
    if (const auto lost = FirstLostVessel(world); lost.second)
        throw std::runtime_error("vessel '" + lost.first->name + "' cannot be flown: " + lost.second);
    if (telemetry_ || plotRows_) {
        WriteRows();
        nextRow_ = every_;
    }
}

Flight::~Flight() = default;

void Flight::WriteRows() {
    for (TelemetryWriter *rows : {telemetry_.get(), plotRows_.get()})
        if (rows) rows->Row(*world_);
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
    NoteTanksRunDry(world);
    if (options_.onFrame) options_.onFrame(world);
    if (view_) view_->Frame(world);
    if ((telemetry_ || plotRows_) && world.SimTime() + kTimeTolerance >= nextRow_) {
        WriteRows();
        if (every_ > 0.0) nextRow_ = (std::floor((world.SimTime() + kTimeTolerance) / every_) + 1.0) * every_;
    }
    progress_->Update(world);
    if (options_.until < 0.0) {
        const Vessel &f = *world.Focus();
        // The rest is counted from the last scripted key-up, so that what
        // the keys started (panels take 10 s) finishes before the stop.
        const bool resting = f.contact.groundContact && GroundVelocity(f, world.Body()).norm() < kRestSpeed &&
                             world.KeyScriptFinished();
        restedFor_ = resting ? restedFor_ + options_.dt : 0.0;
        rested_ = restedFor_ >= kRestTimeToStop - kTimeTolerance;
    }
}

void Flight::NoteTanksRunDry(const World &world) {
    const auto &vessels = world.Vessels();
    ranDry_.resize(vessels.size(), 0);
    for (std::size_t i = 0; i < vessels.size(); ++i) {
        const Vessel &v = *vessels[i];
        const Tank *tank = MainTank(v);
        if (tank && tank->mass <= 0.0 && !world.TouchdownOf(v).happened) ranDry_[i] = 1;
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
    result.focusName = world.Focus()->name;
    ranDry_.resize(world.Vessels().size(), 0);
    for (std::size_t i = 0; i < world.Vessels().size(); ++i) {
        if (world.Vessels()[i].get() == world.Focus()) result.focus = result.vessels.size();
        result.vessels.push_back(Summarise(world, *world.Vessels()[i]));
        result.vessels.back().ranDryBeforeTouchdown = ranDry_[i] != 0;
    }
    for (const auto &a : world.AllAnnotations())
        result.annotations.push_back({a->text, a->createdAt, a->deleted, a->deletedAt});
    const std::string unpressed = UnpressedKeysWarning(world.UnpressedKeys(), result.endTime);
    if (!unpressed.empty()) world.WarnOnce(unpressed);
    result.warnings = world.Warnings();
    const std::string viewRecord = view_ ? view_->Finish(world) : std::string();
    world.PaintHud();
    // Only --report writes it; a campaign's run spent about a fifth of its
    // cost besides its frames making it.
    if (!o.reportPath.empty()) result.reportJson = ReportJson(result, world);

    // Every output is finished and checked in a temporary file before any
    // of them replaces a file that is there.
    if (telemetry_) telemetry_->Close();
    if (plotRows_) plotRows_->Close();
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
        const TelemetryWriter &rows = plotRows_ ? *plotRows_ : *telemetry_;
        const std::string problem =
            DrawPlot(rows.WorkingPath(), rows.Columns(), PlotLabelsOf(result, world, path_), *plot);
        if (!problem.empty()) throw WriteError(problem);
    }
    if (telemetry_) telemetry_->Commit();
    for (AtomicFile *file : {save.get(), report.get(), hud.get(), plot.get(), page.get()})
        if (file) file->Commit();
    if (!o.quiet) PrintHumanReport(out, result, world);
    return result;
}

Observation ObservationOf(const RunResult &result, const VesselSummary &v) {
    long landers = 0;
    for (const VesselSummary &other : result.vessels) landers += other.lander ? 1 : 0;
    bool notice = false;
    for (const AnnotationSummary &a : result.annotations) notice = notice || IsCrashNotice(a.text);
    Observation o;
    o.touchedDown = v.touchdown.happened;
    o.crashNotice = notice && v.lander && landers == 1;
    o.ranDryBeforeTouchdown = v.ranDryBeforeTouchdown;
    o.touchdownSinkSpeed = -v.touchdown.verticalSpeed;
    o.touchdownHorizontalSpeed = v.touchdown.horizontalSpeed;
    o.touchdownPitch = v.touchdown.pitchDeg;
    o.touchdownBank = v.touchdown.bankDeg;
    o.finalTilt = v.tiltDeg;
    return o;
}

RunResult Fly(const RunOptions &o) {
    Flight flight(o);
    while (flight.Continues()) flight.Step();
    return flight.Finish();
}

double CrashNoticeAt(const RunResult &result) {
    double first = -1.0;
    for (const AnnotationSummary &a : result.annotations)
        if (a.text.rfind(kCrashNoticeText, 0) == 0 && (first < 0.0 || a.createdAt < first)) first = a.createdAt;
    return first;
}

const char *Ending(const VesselSummary &v) {
    return v.landed ? "at rest on the surface" : v.groundContact ? "on the ground" : "in flight";
}

const char *Posture(const VesselSummary &v) {
    return v.tiltDeg <= kMostUprightTilt ? "upright" : v.tiltDeg >= 180.0 - kMostUprightTilt ? "upside down" : "on its side";
}

std::vector<NamedFile> InputsOfRun(const Scenario &scenario, const std::string &scenarioPath,
                                   const Installation &installation, const std::string &viewTemplate,
                                   const std::string &saveOption) {
    std::vector<NamedFile> inputs{{"the scenario being flown", scenarioPath, saveOption}};
    for (const VesselBlock &block : scenario.vessels) {
        const VesselClass vc = installation.FindClass(block.className);
        if (!vc.configPath.empty())
            inputs.push_back({"the configuration of vessel class " + Quote(block.className), vc.configPath});
        if (!vc.module.empty())
            inputs.push_back({"the module library " + Quote(vc.module), installation.ModulePath(vc.module)});
    }
    if (!viewTemplate.empty()) inputs.push_back({"the replay page's template", viewTemplate});
    inputs.push_back({"this program", "/proc/self/exe"});
    return inputs;
}

std::string UnpressedKeysWarning(const std::vector<KeyEvent> &keys, double endTime) {
    if (keys.empty()) return "";
    constexpr std::size_t kMostNamed = 10;  // a message stays readable whatever the script
    std::string names;
    for (std::size_t i = 0; i < std::min(keys.size(), kMostNamed); ++i) names += (i ? ", " : "") + Quote(keys[i].item);
    if (keys.size() > kMostNamed) names += " and " + std::to_string(keys.size() - kMostNamed) + " more";
    const std::string count = keys.size() == 1 ? "its scripted key " : std::to_string(keys.size()) + " of its scripted keys ";
    return "--keys: the run ended at t = " + Plain(endTime) + " s before " + count + names +
           " went down; they were not pressed (a longer --until flies to them)";
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
