// `vtal-sim montecarlo`: the command line of a landing campaign.
#pragma once

namespace vtal::montecarlo {

// argv[0] is the subcommand's name. Returns the exit status: 0 done, 1 a
// run could not be flown or an output not written, 2 bad input.
int RunMonteCarloCommand(int argc, char **argv);

}  // namespace vtal::montecarlo
