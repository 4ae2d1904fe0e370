// The flight command line of vtal-sim read into run options, without flying:
// the options, their numbers read with their ranges, the key script and the
// checks made before anything is flown that need no file.
#pragma once

#include <string>

#include "sim/base/ExitCodes.h"
#include "sim/run/Flight.h"

namespace CLI {
class App;
}

namespace vtal::app {

// The arguments a flight and a live session both take: the scenario; the
// frame step, the outputs they write alike and the installation. The numbers
// are taken as text and read by ReadSharedNumbers, so that every bad value
// gets the same message with its range.
struct SharedNumbers {
    std::string dt, every;
};
void AddScenarioArgument(CLI::App &app, sim::RunOptions &o);
void AddSharedRunOptions(CLI::App &app, sim::RunOptions &o, SharedNumbers &numbers);
// Throws sim::InputError naming the option and its range.
void ReadSharedNumbers(const SharedNumbers &numbers, sim::RunOptions &o);

struct FlightArguments {
    bool fly = false;          // false: exit with `exitStatus` after printing `help` or `error`,
                               // or after listing the scenarios or the versions
    bool list = false;         // --list: the installed scenarios (of options.root)
    bool version = false;      // --version: the program's and the lander module's
    int exitStatus = sim::kExitOk;
    sim::RunOptions options;
    std::string help;          // the help text, when asked for
    std::string error;         // what is wrong with the arguments
    bool usageHint = false;    // the error is CLI11's: point at --help
};

// Reads `vtal-sim [options] [scenario]` (argv[0] is the program). Never
// throws for bad arguments: they come back as an error with status 2.
FlightArguments ParseFlightArguments(int argc, const char *const *argv);

}  // namespace vtal::app
