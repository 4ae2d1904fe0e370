// The command line of vtal-sim: arguments into run options, the run, and the
// exit status (0 flown, 1 failed while flying or writing, 2 bad input).
#pragma once

namespace vtal::app {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

int RunCommandLine(int argc, char **argv);

}  // namespace vtal::app
