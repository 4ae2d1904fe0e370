// The command line of vtal-sim: arguments into run options, the run, and the
// exit status (0 flown, 1 failed while flying or writing, 2 bad input: sim/base/ExitCodes.h).
#pragma once

#include <string>

#include "sim/base/ExitCodes.h"

namespace vtal::app {

using sim::kExitBadInput;
using sim::kExitFailed;
using sim::kExitOk;

int RunCommandLine(int argc, char **argv);
// "vtal-sim: KIND: MESSAGE" on standard error, an overlong message cut.
void PrintError(const char *kind, const std::string &message);

}  // namespace vtal::app
