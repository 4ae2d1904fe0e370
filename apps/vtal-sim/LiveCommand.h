// `vtal-sim live`: the command line of a live session.
#pragma once

namespace vtal::app {

// argv[0] is "live"; returns the exit status.
int RunLiveCommand(int argc, char **argv);

}  // namespace vtal::app
