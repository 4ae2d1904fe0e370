#include "apps/vtal-sim/CommandLine.h"

#include <algorithm>
#include <iostream>
#include <string>

#include "apps/vtal-sim/FlightArguments.h"
#include "apps/vtal-sim/LiveCommand.h"
#include "montecarlo/Command.h"
#include "sim/base/InputError.h"
#include "sim/files/Installation.h"
#include "sim/run/Flight.h"
#include "sim/run/ModuleVersion.h"

namespace vtal::app {
namespace {

constexpr std::size_t kLongestMessage = 2000;  // characters
// A description's first line in --list is cut beyond this.
constexpr std::size_t kLongestListedLine = 120;  // characters

const char *const kHostVersion =
    "vtal-sim " VTAL_VERSION ", a headless stand-in of the host simulator Orbiter (its current open-source line)";

std::string RootOf(const sim::RunOptions &o) { return o.root.empty() ? sim::DefaultRoot() : o.root; }

// A line of a file as it may be printed: control characters (an escape
// sequence, a tab) as blanks, and cut when overlong.
std::string Printable(const std::string &line) {
    std::string out = line.size() <= kLongestListedLine ? line : line.substr(0, kLongestListedLine) + "...";
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

// --list: one line per installed scenario, its name as the command line takes
// it and the first line of its description (or why it cannot be read).
int ListScenarios(const sim::RunOptions &o) {
    try {
        const sim::Installation installation(RootOf(o));
        const std::vector<sim::InstalledScenario> scenarios = installation.ListScenarios();
        if (scenarios.empty()) {
            std::cout << "No scenarios under " << installation.Root() << "/Scenarios\n";
            return kExitOk;
        }
        std::size_t width = 0;
        for (const sim::InstalledScenario &s : scenarios) width = std::max(width, s.name.size());
        for (const sim::InstalledScenario &s : scenarios) {
            const std::string text = !s.problem.empty()      ? "(" + s.problem + ")"
                                     : s.description.empty() ? std::string("(no description)")
                                                             : Printable(s.description);
            std::cout << Printable(s.name) << std::string(width - s.name.size() + 2, ' ') << text << "\n";
        }
    } catch (const sim::InputError &e) {
        PrintError("error", e.what());
        return kExitBadInput;
    }
    return kExitOk;
}

// --version: the program's version, then the lander module's as it reports
// it. Status 0 only if both were read.
int PrintVersions(const sim::RunOptions &o) {
    std::cout << kHostVersion << "\n";
    try {
        const sim::ModuleVersion m = sim::ReadModuleVersion(RootOf(o), sim::kLanderClass);
        std::cout << "module " << m.module << ": version " << m.version << " (" << m.path << ", of vessel class "
                  << sim::kLanderClass << ")\n";
    } catch (const sim::InputError &e) {
        std::cout << "module of vessel class " << sim::kLanderClass << ": version unknown: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::exception &e) {
        std::cout << "module of vessel class " << sim::kLanderClass << ": version unknown: " << e.what() << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

int FlyAndReport(const sim::RunOptions &o) {
    try {
        sim::Fly(o);
    } catch (const sim::InputError &e) {
        PrintError("error", e.what());
        return kExitBadInput;
    } catch (const std::exception &e) {
        PrintError("failed", e.what());
        return kExitFailed;
    }
    // The report on standard output is an output too.
    if (!(std::cout << std::flush)) {
        PrintError("failed", "cannot write the report to standard output");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void PrintError(const char *kind, const std::string &message) {
    // A message quotes what it must; anything longer is cut rather than
    // flooding the terminal.
    const std::string text = message.size() <= kLongestMessage
                                 ? message
                                 : message.substr(0, kLongestMessage) + "... (message cut)";
    std::cerr << "vtal-sim: " << kind << ": " << text << "\n";
}

int RunCommandLine(int argc, char **argv) {
    // Landing campaigns have a command line of their own.
    if (argc > 1 && std::string(argv[1]) == "montecarlo") return montecarlo::RunMonteCarloCommand(argc - 1, argv + 1);
    // A session flown by hand from the browser.
    if (argc > 1 && std::string(argv[1]) == "live") return RunLiveCommand(argc - 1, argv + 1);
    const FlightArguments a = ParseFlightArguments(argc, argv);
    if (!a.help.empty()) std::cout << a.help << std::flush;
    if (!a.error.empty()) {
        PrintError("error", a.error);
        if (a.usageHint) std::cerr << "Run 'vtal-sim --help' for the options.\n";
    }
    if (a.list && a.error.empty()) return ListScenarios(a.options);
    if (a.version && a.error.empty()) return PrintVersions(a.options);
    return a.fly ? FlyAndReport(a.options) : a.exitStatus;
}

}  // namespace vtal::app
