// vtal-sim: loads vessel modules into a headless flight host and flies a scenario.
#include "apps/vtal-sim/CommandLine.h"

int main(int argc, char **argv) { return vtal::app::RunCommandLine(argc, argv); }
