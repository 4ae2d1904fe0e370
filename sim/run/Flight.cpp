#include "sim/run/Flight.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "sim/vessel/FlightState.h"
#include "sim/files/InputError.h"
#include "sim/files/Outputs.h"
#include "sim/view/ViewPage.h"
#include "sim/view/ViewRecorder.h"

namespace fs = std::filesystem;

namespace vtal::sim {
namespace {

constexpr double kMaxDt = 1.0;              // s; longer steps are refused
constexpr double kProgressInterval = 0.2;   // s of wall time between progress updates
constexpr double kTimeTolerance = 1e-9;     // s

// An output file must be writable before anything is flown.
void CheckWritable(const std::string &path, const char *what) {
    if (path.empty()) return;
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_directory(p, ec)) throw InputError(std::string(what) + " '" + path + "' is a folder");
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec)) throw InputError(std::string(what) + " '" + path + "': no folder " + dir.string());
    if (access(dir.c_str(), W_OK) != 0 || (fs::exists(p, ec) && access(p.c_str(), W_OK) != 0))
        throw InputError(std::string(what) + " '" + path + "' cannot be written");
}

void CheckOptions(const RunOptions &o) {
    if (!std::isfinite(o.dt) || o.dt <= 0.0 || o.dt > kMaxDt)
        throw InputError("--dt must be a number of seconds above 0 and at most 1");
    if (!(o.until < 0.0) && !std::isfinite(o.until)) throw InputError("--until must be a finite number of seconds");
    if (!std::isfinite(o.every) || o.every < 0.0) throw InputError("--every must be a number of seconds, 0 or more");
    CheckWritable(o.savePath, "--save");
    CheckWritable(o.telemetryPath, "--telemetry");
    CheckWritable(o.reportPath, "--report");
    CheckWritable(o.plotPath, "--plot");
    CheckWritable(o.hudPath, "--hud");
    CheckWritable(o.viewPath, "--view");
    if (!o.plotPath.empty() && !ProgramAvailable("gnuplot"))
        throw InputError("--plot needs gnuplot (Debian package gnuplot-nox), which is not installed");
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

VesselSummary Summarise(World &world, Vessel &v) {
    VesselSummary s;
    s.name = v.name;
    s.className = v.className;
    s.groundContact = v.groundContact;
    s.touchdown = world.TouchdownOf(v);
    for (const auto &t : v.tanks) s.propellantKg.push_back(t->mass);
    std::string text;
    world.ModuleLines(v, text);
    s.moduleValues = ParseModuleValues(text);
    s.altitude = Altitude(v, world.Body());
    s.verticalSpeed = VerticalSpeed(v);
    s.horizontalSpeed = HorizontalSpeed(v);
    s.pitchDeg = Pitch(v) / kRadPerDeg;
    s.bankDeg = Bank(v) / kRadPerDeg;
    s.headingDeg = Heading(v) / kRadPerDeg;
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
                      world.SimTime(), Altitude(v, world.Body()), -VerticalSpeed(v), main ? main->lastLevel : 0.0);
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
    wo.keys = ParseKeyScript(o.keys);
    wo.log = o.quiet ? nullptr : &out;
    wo.warnings = &err;
    World world(scenario, installation, wo);
    if (o.onStart) o.onStart(world);
    std::unique_ptr<ViewRecorder> view;
    if (!o.viewPath.empty()) view = std::make_unique<ViewRecorder>(world);

    // Telemetry goes to a temporary file when only the plot asks for it.
    std::string telemetryPath = o.telemetryPath;
    std::string temporaryTelemetry;
    if (telemetryPath.empty() && !o.plotPath.empty()) {
        char name[] = "/tmp/vtal-sim-telemetry-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw std::runtime_error("cannot create a temporary telemetry file");
        close(fd);
        telemetryPath = temporaryTelemetry = name;
    }
    std::unique_ptr<TelemetryWriter> telemetry;
    if (!telemetryPath.empty()) telemetry = std::make_unique<TelemetryWriter>(telemetryPath, world);

    ProgressLine progress(err, o.progress && !o.quiet && isatty(STDERR_FILENO));
    const bool untilRested = o.until < 0.0;
    const double limit = untilRested ? kDefaultTimeLimit : o.until;
    const long lastFrame = static_cast<long>(std::floor(limit / o.dt + kTimeTolerance));
    double restedFor = 0.0;
    double nextRow = 0.0;
    if (telemetry) {
        telemetry->Row(world);
        nextRow = o.every;
    }
    while (world.Frame() < lastFrame) {
        world.Step();
        if (o.onFrame) o.onFrame(world);
        if (view) view->Frame(world);
        if (telemetry && world.SimTime() + kTimeTolerance >= nextRow) {
            telemetry->Row(world);
            if (o.every > 0.0) nextRow = (std::floor((world.SimTime() + kTimeTolerance) / o.every) + 1.0) * o.every;
        }
        progress.Update(world);
        if (untilRested) {
            const Vessel &f = *world.Focus();
            restedFor = (f.groundContact && f.vel.norm() < kRestSpeed) ? restedFor + o.dt : 0.0;
            if (restedFor >= kRestTimeToStop - kTimeTolerance) break;
        }
    }
    progress.Update(world, true);
    progress.Finish();

    RunResult result;
    result.endTime = world.SimTime();
    result.frames = world.Frame();
    result.scenarioPath = path;
    for (const auto &v : world.Vessels()) result.vessels.push_back(Summarise(world, *v));
    for (const auto &a : world.Annotations())
        result.annotations.push_back({a->text, a->createdAt, a->deleted, a->deletedAt});
    result.warnings = world.Warnings();
    const std::string viewRecord = view ? view->Finish(world) : std::string();
    world.PaintHud();
    result.reportJson = ReportJson(result, world);

    if (telemetry && !telemetry->Close()) throw std::runtime_error("writing the telemetry failed");
    if (!o.savePath.empty()) WriteFile(o.savePath, world.SaveScenario());
    if (!o.reportPath.empty()) WriteFile(o.reportPath, result.reportJson);
    if (!o.hudPath.empty()) WriteFile(o.hudPath, CanvasToSvg(world.Canvas()));
    if (view) WriteFile(o.viewPath, ComposeViewPage(viewTemplate, viewRecord));
    if (!o.plotPath.empty()) {
        const std::string problem = DrawPlot(telemetryPath, telemetry->Columns(), o.plotPath);
        if (!temporaryTelemetry.empty()) std::remove(temporaryTelemetry.c_str());
        if (!problem.empty()) throw std::runtime_error(problem);
    }
    if (!o.quiet) PrintHumanReport(out, result, world);
    return result;
}

}  // namespace vtal::sim
