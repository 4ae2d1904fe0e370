#include "montecarlo/Campaign.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "montecarlo/ProcessPool.h"
#include "montecarlo/PropellantBound.h"
#include "montecarlo/ReplayAccount.h"
#include "montecarlo/Random.h"
#include "montecarlo/StartState.h"
#include "sim/run/Flight.h"
#include "sim/vessel/FlightState.h"
#include "sim/base/InputError.h"
#include "sim/files/Installation.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/Scenario.h"

namespace vtal::montecarlo {

namespace {

// A run without touchdown ends where the flight host stops waiting for one.
constexpr Thresholds kDefaultThresholdValues{};
static_assert(kDefaultThresholdValues.timeLimit == sim::kDefaultTimeLimit,
              "the timeout is the flight host's limit on a flight");

// The lowest point of the lander below its origin: what it stands on.
double FeetBelowOrigin(const sim::Vessel &v) {
    double lowest = 0.0;
    for (const sim::Vec3 &p : v.def.touchdown) lowest = std::min(lowest, p.y());
    return -lowest;
}

double LeastPropellant(const sim::Vessel &v, const sim::CentralBody &body) {
    BoundInput in;
    in.height = sim::Altitude(v, body) - FeetBelowOrigin(v);
    in.sinkSpeed = -sim::VerticalSpeed(v);
    const double r = v.motion.positionGlobal.norm();
    in.gravity = body.gm / (r * r);
    in.startMass = v.Mass();
    if (const sim::ThrusterGroup *main = v.Group(THGROUP_MAIN)) {
        for (const sim::Thruster *t : main->members) {
            in.maxThrust += t->maxThrust;
            in.exhaustVelocity = t->isp0;
        }
    }
    return MinimumPropellant(in);
}

// Angle between two positions seen from the body's centre, times its radius.
double SurfaceDistance(const sim::Vec3 &a, const sim::Vec3 &b, double radius) {
    const double angle = std::atan2(a.cross(b).norm(), a.dot(b));
    return angle * radius;
}

void CopyFailure(RunRecord &r, const std::string &message) {
    std::snprintf(r.failure, sizeof r.failure, "%s", message.c_str());
}

// Follows a run frame by frame for what the flight host does not keep: the
// main tank running dry before touchdown, and the state at touchdown.
class RunObserver {
public:
    explicit RunObserver(RunRecord &record) : r_(record) {}

    // Disperses the focus vessel's start as the world is created. A landed
    // vessel stays where the host placed it whatever its state says: the
    // campaign refuses such a start before flying (PrepareCampaign), and a
    // run that meets one anyway fails rather than report a start not flown.
    void disperse(sim::Vessel &v, const sim::CentralBody &body) {
        if (v.Landed()) throw std::runtime_error("vessel '" + v.name + "' starts landed: its start cannot be dispersed");
        r_.clamped = ApplyDraw(v, body, r_.draw);
    }

    // Notes the start as flown; writes it as a scenario described as this
    // run's and prints that account if asked.
    void start(sim::World &world, const CampaignSetup &setup, const std::string &scenarioPath, std::ostream *report) {
        sim::Vessel &v = *world.Focus();
        r_.start = ReadStart(v, world.Body());
        r_.propellantBound = LeastPropellant(v, world.Body());
        startPos_ = v.motion.positionGlobal;
        tank_ = MainTank(v);
        startPropellant_ = tank_ ? tank_->mass : 0.0;
        focus_ = v.name;
        if (scenarioPath.empty() && !report) return;
        const std::vector<std::string> account = DispersedStartAccount(setup, r_);
        if (!scenarioPath.empty()) sim::WriteFileAtomically(scenarioPath, world.SaveScenario(true, account));
        if (report)
            for (const std::string &line : account) *report << line << "\n";
    }

    void frame(sim::World &world) {
        if (touched_) return;
        const sim::Vessel &v = *world.Focus();
        const sim::Touchdown &t = world.TouchdownOf(v);
        if (!t.happened) return;
        touched_ = true;
        r_.touchdownTime = t.time;
        r_.touchdownSinkSpeed = -t.verticalSpeed;
        r_.touchdownHorizontalSpeed = t.horizontalSpeed;
        r_.touchdownPitch = t.pitchDeg;
        r_.touchdownBank = t.bankDeg;
        r_.touchdownTilt = Tilt(v);
        r_.drift = SurfaceDistance(startPos_, v.motion.positionGlobal, world.Body().radius);
        r_.propellantUsed = startPropellant_ - (tank_ ? tank_->mass : 0.0);
    }

    void finish(const sim::RunResult &result, const Thresholds &thresholds) {
        r_.endTime = result.endTime;
        if (!touched_) r_.touchdownTime = result.endTime;
        for (const sim::AnnotationSummary &a : result.annotations)
            r_.crashNotice = r_.crashNotice || sim::IsCrashNotice(a.text);
        for (const sim::VesselSummary &s : result.vessels) {
            if (s.name != focus_) continue;
            const Observation o = sim::ObservationOf(result, s);
            r_.finalTilt = o.finalTilt;
            r_.ranDry = o.ranDryBeforeTouchdown;
            r_.outcome = Classify(o, thresholds);
            break;
        }
    }

private:
    RunRecord &r_;
    sim::Vec3 startPos_ = sim::Vec3::Zero();
    sim::Tank *tank_ = nullptr;
    double startPropellant_ = 0.0;
    bool touched_ = false;
    std::string focus_;
};

// A module still loaded, or an empty string: the dynamic loader finds a
// loaded library by its path without loading it.
std::string LoadedModule(const CampaignSetup &setup) {
    for (const std::string &path : setup.modulePaths) {
        void *loaded = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!loaded) continue;
        dlclose(loaded);
        return path;
    }
    return "";
}

// A run must load its modules afresh, or their shared state would be that
// of whatever this process flew before.
void CheckModulesNotLoaded(const CampaignSetup &setup) {
    const std::string path = LoadedModule(setup);
    if (!path.empty())
        throw std::logic_error("the module " + path + " is loaded in this process already; a run needs it freshly loaded");
}

RunRecord BlankRecord(const CampaignSetup &setup, long index) {
    RunRecord r;
    r.index = index;
    r.seed = RunSeed(setup.options.seed, static_cast<std::uint64_t>(index));
    r.draw = DrawStart(setup.options.dispersions, r.seed);
    return r;
}

// The record of a run whose process failed: what it drew, and why.
RunRecord FailedRecord(const CampaignSetup &setup, long index, const std::string &failure) {
    RunRecord r = BlankRecord(setup, index);
    r.outcome = Outcome::Error;
    CopyFailure(r, failure);
    return r;
}

// Where a run flown alone leaves what it printed for its parent.
struct ReplayFiles {
    sim::TemporaryFile out{"vtal-sim-replay-out"}, err{"vtal-sim-replay-err"};
};

// What a run writes besides its record (a run flown alone): its start as a
// scenario, its replay page and, if `printed` is set, what it prints.
struct RunWrites {
    std::string scenarioPath, viewPath;
    const ReplayFiles *printed = nullptr;
};

// What the parent hears of the runs; any may be empty but `take`.
struct RunListeners {
    std::function<void(const RunRecord &)> take;  // each record, in the order of the runs
    std::function<void(long)> progress;           // the number of runs finished
    std::function<bool()> stop;                   // true: start no more runs
    std::function<void(const std::string &)> warn;
};

// Flies runs indexOf(0) .. indexOf(count - 1) in worker processes and hands
// their records to `take` in that order; returns false if stop() ended it
// early (the records of the runs finished by then are all handed on). A
// worker flies runs until its modules fail to unload; warn() hears why once.
bool FlyInChildren(const CampaignSetup &setup, long count, const std::function<long(long)> &indexOf, int jobs,
                   const RunWrites &writes, const RunListeners &listeners) {
    const auto &take = listeners.take;
    const auto &progress = listeners.progress;
    const auto &warn = listeners.warn;
    std::map<long, RunRecord> waiting;  // finished ahead of a lower slot
    long nextSlot = 0, done = 0;
    bool warned = false;
    const bool complete = RunInChildProcesses(
        count, jobs, sizeof(RunRecord),
        [&](long slot, void *out) {
            RunRecord r;
            if (writes.printed) {
                // The child's standard streams are silenced: it writes what
                // it prints to files the parent reads back.
                std::ofstream printed(writes.printed->out.Path()), warnings(writes.printed->err.Path());
                r = FlyRun(setup, indexOf(slot), writes.scenarioPath, writes.viewPath, &printed, &warnings);
            } else {
                r = FlyRun(setup, indexOf(slot), writes.scenarioPath, writes.viewPath);
            }
            std::memcpy(out, &r, sizeof r);
        },
        [&](long slot, const void *bytes, const TaskOutcome &outcome) {
            if (!outcome.retired.empty() && !warned && warn) warn(outcome.retired);
            warned = warned || !outcome.retired.empty();
            RunRecord r;
            if (outcome.ok)
                std::memcpy(&r, bytes, sizeof r);
            else
                r = FailedRecord(setup, indexOf(slot), outcome.failure);
            waiting.emplace(slot, r);
            for (auto it = waiting.find(nextSlot); it != waiting.end(); it = waiting.find(nextSlot)) {
                take(it->second);
                waiting.erase(it);
                ++nextSlot;
            }
            if (progress) progress(++done);
        },
        std::max<long>(kReorderWindow, 4L * jobs), listeners.stop, [&setup] { return ModulesLeftLoaded(setup); });
    for (const auto &entry : waiting) take(entry.second);  // an interrupted campaign's runs past a gap
    return complete;
}

// A campaign disperses a descent's start. A vessel that starts landed is
// placed on the ground by the host whatever its state says, so no
// dispersion would be flown, and there is no descent to judge.
void CheckStartsInFlight(const sim::VesselBlock &focus, const std::string &scenarioPath) {
    if (focus.status.kind != sim::StandardStatus::Kind::Landed) return;
    throw sim::InputError(sim::At(
        scenarioPath, focus.line,
        "the focus vessel '" + focus.name +
            "' starts landed: the host places a landed vessel on the ground, so none of the campaign's "
            "dispersions (altitude, sink rate, speeds, attitude, rates, propellant) would be flown and there is no "
            "descent to judge; a campaign needs a scenario whose lander starts in flight (STATUS Orbiting)"));
}

}  // namespace

CampaignSetup PrepareCampaign(const CampaignOptions &options) {
    if (options.runs < 1) throw sim::InputError("--runs must be at least 1");
    if (options.jobs < 0) throw sim::InputError("--jobs must be at least 1");
    sim::CheckFrameLength(options.dt);
    sim::FrameCount(sim::kDefaultTimeLimit, options.dt);  // every run may fly to the time limit
    CampaignSetup setup;
    setup.options = options;
    if (setup.options.jobs == 0) setup.options.jobs = AvailableCores();
    setup.root = options.root.empty() ? sim::DefaultRoot() : options.root;
    auto installationRead = std::make_shared<sim::Installation>(setup.root);
    installationRead->RememberAnswers();
    const sim::Installation &installation = *installationRead;
    setup.installation = installationRead;
    setup.scenarioPath =
        options.scenario.empty() ? installation.DefaultScenario() : installation.ScenarioPath(options.scenario);
    setup.scenarioText = sim::ReadInputFile(setup.scenarioPath);
    setup.scenario = std::make_shared<const sim::Scenario>(sim::ParseScenarioText(setup.scenarioText, setup.scenarioPath));
    const sim::Scenario &scenario = *setup.scenario;
    if (scenario.vessels.empty()) throw sim::InputError(sim::At(setup.scenarioPath, 0, "the scenario holds no vessel"));
    // The vessel the host gives the focus: the scenario's, else the first.
    setup.focusName = scenario.vessels.front().name;
    const sim::VesselBlock *focus = &scenario.vessels.front();
    for (const sim::VesselBlock &block : scenario.vessels)
        if (block.name == scenario.focus) {
            focus = &block;
            break;
        }
    setup.focusName = focus->name;
    CheckStartsInFlight(*focus, setup.scenarioPath);
    for (const sim::VesselBlock &block : scenario.vessels) {
        const sim::VesselClass vc = installation.FindClass(block.className);
        if (vc.module.empty()) continue;
        const std::string path = installation.ModulePath(vc.module);
        if (std::find(setup.modulePaths.begin(), setup.modulePaths.end(), path) == setup.modulePaths.end())
            setup.modulePaths.push_back(path);
    }
    return setup;
}

RunRecord FlyRun(const CampaignSetup &setup, long index, const std::string &scenarioPath,
                 const std::string &viewPath, std::ostream *report, std::ostream *warnings) {
    CheckModulesNotLoaded(setup);
    RunRecord record = BlankRecord(setup, index);
    RunObserver observer(record);
    std::ostringstream discarded;
    sim::RunOptions o;
    o.parsedScenario = setup.scenario.get();
    o.installation = setup.installation.get();
    o.dt = setup.options.dt;
    o.viewPath = viewPath;
    // A run flown alone prints what a flight prints; a campaign's keep quiet.
    o.quiet = !report;
    o.progress = false;
    o.out = report ? report : &discarded;
    o.err = warnings ? warnings : &discarded;
    o.adjustStart = [&](sim::Vessel &v, const sim::CentralBody &body) {
        if (v.name == setup.focusName) observer.disperse(v, body);
    };
    sim::Flight flight(o);
    observer.start(flight.GetWorld(), setup, scenarioPath, report);
    while (flight.Continues()) {
        flight.Step();
        observer.frame(flight.GetWorld());
    }
    const sim::RunResult result = flight.Finish();
    observer.finish(result, setup.options.thresholds);
    if (report) report->flush();
    if (warnings) warnings->flush();
    return record;
}

std::string ModulesLeftLoaded(const CampaignSetup &setup) {
    const std::string path = LoadedModule(setup);
    if (path.empty()) return "";
    return "the module " + path +
           " stays loaded after its run unloaded it (a library that cannot be unloaded, e.g. linked with -z "
           "nodelete), so its shared state would carry over to the next run: every run flies in a fresh process";
}

bool FlyCampaign(const CampaignSetup &setup, const std::function<void(const RunRecord &)> &take,
                 const std::function<void(long)> &progress, const std::function<bool()> &stop,
                 const std::function<void(const std::string &)> &warn) {
    return FlyInChildren(setup, setup.options.runs, [](long slot) { return slot; }, setup.options.jobs, RunWrites{},
                         RunListeners{take, progress, stop, warn});
}

std::vector<RunRecord> RunCampaign(const CampaignSetup &setup, const std::function<void(long)> &progress) {
    std::vector<RunRecord> records;
    FlyCampaign(setup, [&records](const RunRecord &r) { records.push_back(r); }, progress, nullptr);
    return records;
}

RunRecord ReplayRun(const CampaignSetup &setup, long index, const std::string &scenarioPath,
                    const std::string &viewPath, ReplayText *text) {
    RunRecord record;
    const std::unique_ptr<ReplayFiles> files = text ? std::make_unique<ReplayFiles>() : nullptr;
    FlyInChildren(setup, 1, [index](long) { return index; }, 1, RunWrites{scenarioPath, viewPath, files.get()},
                  RunListeners{[&record](const RunRecord &r) { record = r; }, nullptr, nullptr, nullptr});
    if (files) {
        text->out = sim::ReadInputFile(files->out.Path());
        text->err = sim::ReadInputFile(files->err.Path());
    }
    return record;
}

}  // namespace vtal::montecarlo
