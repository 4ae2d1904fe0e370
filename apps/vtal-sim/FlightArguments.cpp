#include "apps/vtal-sim/FlightArguments.h"

#include <limits>

#include <CLI/CLI.hpp>

#include "sim/base/InputError.h"

namespace vtal::app {
namespace {

const char *const kDescription =
    "Flies vessel modules in a headless stand-in of the host simulator. Without a scenario it\n"
    "flies the shipped default descent of the lander and prints a short report.\n"
    "Landing campaigns from dispersed starts: vtal-sim montecarlo --help.\n"
    "Flying by hand in the browser: vtal-sim live --help.";

const char *const kKeysHelp =
    "Scripted keys: comma-separated T:KEY presses and T1-T2:KEY holds (s), shift+KEY and ctrl+KEY with a modifier; "
    "KEY is a letter, [ ] ; ' or num0..num9, num+, num-, num*";

// Any finite time reads; the frame count then decides what is flown.
constexpr double kLargestSeconds = std::numeric_limits<double>::max();

// Numbers are taken as text and read here, so that every bad value gets the
// same message with the accepted range in plain numbers.
struct NumberArguments {
    std::string until;
    SharedNumbers shared;
};

void ReadNumbers(const NumberArguments &n, sim::RunOptions &o) {
    if (!n.until.empty()) o.until = sim::ParseArgumentNumber(n.until, "--until", 0.0, kLargestSeconds);
    ReadSharedNumbers(n.shared, o);
}

// --list and --version fly nothing: of the other options they take only
// --root. Empty if nothing else was given.
std::string AloneProblem(const CLI::App &app, const std::string &command) {
    for (const CLI::Option *option : app.get_options()) {
        const std::string name = option->get_name();
        if (option->count() == 0 || name == command || name == "--root") continue;
        return command + " flies nothing and takes no other option but --root (" +
               (name == "scenario" ? std::string("a scenario was given") : name + " was given") + ")";
    }
    return "";
}

}  // namespace

void AddScenarioArgument(CLI::App &app, sim::RunOptions &o) {
    app.add_option("scenario", o.scenario, "Scenario file, or its name under the installation's Scenarios/")
        ->type_name("FILE|NAME");
}

void AddSharedRunOptions(CLI::App &app, sim::RunOptions &o, SharedNumbers &numbers) {
    app.add_option("--dt", numbers.dt, "Frame step, s (default 1/60; above 0, at most 1)")->type_name("SECONDS");
    app.add_flag("--precise", o.precise, "Save with 17 significant digits, for exact continuation");
    app.add_option("--telemetry", o.telemetryPath, "Write telemetry rows to FILE.csv")->type_name("FILE");
    app.add_option("--every", numbers.every, "Telemetry interval, s (default: every frame)")->type_name("SECONDS");
    app.add_option("--report", o.reportPath, "Write the JSON report to FILE.json")->type_name("FILE");
    app.add_option("--plot", o.plotPath, "Draw altitude, speeds, engine levels and attitude into FILE.png (gnuplot)")
        ->type_name("FILE");
    app.add_option("--hud", o.hudPath, "Write the last painted head-up display to FILE.svg")->type_name("FILE");
    app.add_option("--root", o.root, "Installation folder (default: next to the program)")->type_name("DIR");
}

void ReadSharedNumbers(const SharedNumbers &n, sim::RunOptions &o) {
    if (!n.dt.empty()) o.dt = sim::ParseArgumentNumber(n.dt, "--dt", 0.0, sim::kMaxDt, true);
    if (!n.every.empty()) o.every = sim::ParseArgumentNumber(n.every, "--every", 0.0, kLargestSeconds);
}

FlightArguments ParseFlightArguments(int argc, const char *const *argv) {
    FlightArguments a;
    sim::RunOptions &o = a.options;
    NumberArguments numbers;
    CLI::App app(kDescription, "vtal-sim");
    AddScenarioArgument(app, o);
    app.add_option("--until", numbers.until,
                   "Simulation time to stop at, s (default: once the focus vessel has rested on the ground for 10 s "
                   "after the last scripted key, at most 600 s)")
        ->type_name("SECONDS");
    app.add_option("--keys", o.keys, kKeysHelp)->type_name("KEYS");
    app.add_option("--save", o.savePath, "Write the whole scenario at the end to FILE, with the host's decimals")
        ->type_name("FILE");
    app.add_option("--view", o.viewPath,
                   "Write a replay page of the run to FILE.html: the flight in 3-D, its instruments and head-up "
                   "display, for any browser and without a network")
        ->type_name("FILE");
    AddSharedRunOptions(app, o, numbers.shared);
    app.add_flag("--quiet", o.quiet, "Print nothing but warnings and errors");
    app.add_flag("--list", a.list,
                 "List the installed scenarios (under the installation's Scenarios/), each with the first line of "
                 "its description, and fly nothing");
    app.add_flag("--version", a.version,
                 "Print the version of vtal-sim and of the lander module, as the module reports it, and fly nothing");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        a.help = app.help();
        return a;
    } catch (const CLI::ParseError &e) {
        a.error = e.what();
        a.usageHint = true;
        a.exitStatus = sim::kExitBadInput;
        return a;
    }
    if (a.list || a.version) {
        a.error = AloneProblem(app, a.list ? "--list" : "--version");
        a.exitStatus = a.error.empty() ? sim::kExitOk : sim::kExitBadInput;
        a.usageHint = !a.error.empty();
        return a;
    }
    try {
        ReadNumbers(numbers, o);
        sim::ParseKeyScript(o.keys);  // a bad script is refused before anything is read
    } catch (const sim::InputError &e) {
        a.error = e.what();
        a.exitStatus = sim::kExitBadInput;
        return a;
    }
    a.fly = true;
    return a;
}

}  // namespace vtal::app
