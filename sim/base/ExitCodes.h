// The exit status of the flight host's programs (vtal-sim, its montecarlo
// command and vtal-standin-mesh), the same in all of them.
#pragma once

namespace vtal::sim {

// Flown, or done: everything asked for was written.
constexpr int kExitOk = 0;
// Failed while running: a run that started (a flight, a campaign, a mesh
// being written) could not be finished or its output not written.
constexpr int kExitFailed = 1;
// Bad input before anything flew: an argument, scenario, configuration or
// installation that cannot be used. The message says which and why.
constexpr int kExitBadInput = 2;
// Interrupted by a signal N (SIGINT, SIGTERM, SIGHUP, SIGPIPE) after removing
// its temporary files: 128 + N, as a shell reports a program the signal
// killed (130 for SIGINT, 143 for SIGTERM).
constexpr int kExitSignalBase = 128;

}  // namespace vtal::sim
