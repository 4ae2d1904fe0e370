// The command line of vtal-sim: arguments into run options, the run, and the
// exit status (0 flown, 1 failed while flying or writing, 2 bad input).
#pragma once

#include <string>

namespace vtal::app {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

int RunCommandLine(int argc, char **argv);
// "vtal-sim: KIND: MESSAGE" on standard error, an overlong message cut.
void PrintError(const char *kind, const std::string &message);

}  // namespace vtal::app
