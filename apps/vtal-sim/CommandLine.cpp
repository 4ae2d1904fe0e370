#include "apps/vtal-sim/CommandLine.h"

#include <iostream>
#include <string>

#include "apps/vtal-sim/FlightArguments.h"
#include "apps/vtal-sim/LiveCommand.h"
#include "montecarlo/Command.h"
#include "sim/run/Flight.h"
#include "sim/base/InputError.h"

namespace vtal::app {
namespace {

constexpr std::size_t kLongestMessage = 2000;  // characters

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
    return a.fly ? FlyAndReport(a.options) : a.exitStatus;
}

}  // namespace vtal::app
