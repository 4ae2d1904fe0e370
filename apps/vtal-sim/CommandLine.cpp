#include "apps/vtal-sim/CommandLine.h"

#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "montecarlo/Command.h"
#include "sim/run/Flight.h"
#include "sim/files/InputError.h"

namespace vtal::app {
namespace {

const char *const kDescription =
    "Flies vessel modules in a headless stand-in of the host simulator. Without a scenario it\n"
    "flies the shipped default descent of the lander and prints a short report.\n"
    "Landing campaigns from dispersed starts: vtal-sim montecarlo --help.";

const char *const kKeysHelp =
    "Scripted keys: comma-separated T:KEY presses and T1-T2:KEY holds (s), shift+KEY for shifted keys; "
    "KEY is a letter, [ ] ; ' or num0..num9, num+, num-, num*";

}  // namespace

int RunCommandLine(int argc, char **argv) {
    // Landing campaigns have a command line of their own.
    if (argc > 1 && std::string(argv[1]) == "montecarlo") return montecarlo::RunMonteCarloCommand(argc - 1, argv + 1);
    sim::RunOptions o;
    CLI::App app(kDescription, "vtal-sim");
    app.add_option("scenario", o.scenario, "Scenario file, or its name under the installation's Scenarios/");
    app.add_option("--until", o.until,
                   "Simulation time to stop at, s (default: once the focus vessel has rested on the ground for 10 s, "
                   "at most 600 s)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--dt", o.dt, "Frame step, s (default 1/60)")->check(CLI::PositiveNumber);
    app.add_option("--keys", o.keys, kKeysHelp);
    app.add_option("--save", o.savePath, "Write the whole scenario at the end to FILE");
    app.add_option("--telemetry", o.telemetryPath, "Write telemetry rows to FILE.csv");
    app.add_option("--every", o.every, "Telemetry interval, s (default: every frame)")->check(CLI::NonNegativeNumber);
    app.add_option("--report", o.reportPath, "Write the JSON report to FILE.json");
    app.add_option("--plot", o.plotPath, "Draw altitude, speeds, engine levels and attitude into FILE.png (gnuplot)");
    app.add_option("--hud", o.hudPath, "Write the last painted head-up display to FILE.svg");
    app.add_option("--view", o.viewPath,
                   "Write a replay page of the run to FILE.html: the flight in 3-D, its instruments and head-up "
                   "display, for any browser and without a network");
    app.add_option("--root", o.root, "Installation folder (default: next to the program)");
    app.add_flag("--quiet", o.quiet, "Print nothing but warnings and errors");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::cerr << "vtal-sim: " << e.what() << "\n" << "Run 'vtal-sim --help' for the options.\n";
        return kExitBadInput;
    }

    try {
        sim::Fly(o);
    } catch (const sim::InputError &e) {
        std::cerr << "vtal-sim: error: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::exception &e) {
        std::cerr << "vtal-sim: failed: " << e.what() << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace vtal::app
