#include "apps/vtal-sim/LiveCommand.h"

#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "apps/vtal-sim/CommandLine.h"
#include "apps/vtal-sim/FlightArguments.h"
#include "sim/base/InputError.h"
#include "sim/live/LiveRunner.h"

namespace vtal::app {
namespace {

const char *const kDescription =
    "Flies a scenario live: prints the address of a page that shows the flight as it goes and takes the\n"
    "host's keys (the module's keys, keypad thrust and attitude, T and R for time acceleration, F3 for the\n"
    "next vessel). The outputs asked for are written when the session ends (End in the page, or Ctrl+C).";

constexpr long kLargestPort = 65535;

struct LiveArguments {
    std::string port, warp;
    SharedNumbers shared;
};

void ReadNumbers(const LiveArguments &n, sim::live::LiveOptions &o) {
    if (!n.port.empty()) o.port = static_cast<unsigned short>(sim::ParseArgumentCount(n.port, "--port", 0, kLargestPort));
    if (!n.warp.empty())
        o.session.warp = sim::ParseArgumentNumber(n.warp, "--warp", sim::live::kMinWarp, sim::live::kMaxWarp);
    ReadSharedNumbers(n.shared, o.session.run);
}

}  // namespace

int RunLiveCommand(int argc, char **argv) {
    sim::live::LiveOptions o;
    sim::RunOptions &run = o.session.run;
    LiveArguments numbers;
    CLI::App app(kDescription, "vtal-sim live");
    AddScenarioArgument(app, run);
    app.add_option("--port", numbers.port, "Port of the page (default 8765; 0: any free port, printed)")
        ->type_name("PORT");
    app.add_option(
           "--bind", o.bindAddress,
           "Address to listen on (default 127.0.0.1; any other lets whoever reaches it and knows the token fly)")
        ->type_name("ADDRESS");
    app.add_flag("--open", o.openBrowser, "Start the desktop's browser on the page (xdg-open)");
    app.add_flag("--paused", o.session.paused, "Start paused");
    app.add_option("--warp", numbers.warp, "Time acceleration at the start (1 to 1000; default 1)")
        ->type_name("FACTOR");
    app.add_option("--save", run.savePath,
                   "Write the whole scenario to FILE at the end, and when the page saves (default for the page's "
                   "Save: SCENARIO-live-N.scn in the current folder)")
        ->type_name("FILE");
    app.add_option("--view", run.viewPath, "Write a replay page of the session as flown to FILE.html")
        ->type_name("FILE");
    AddSharedRunOptions(app, run, numbers.shared);
    app.add_flag("--quiet", run.quiet, "Print nothing but the address, warnings and errors");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        PrintError("error", e.what());
        std::cerr << "Run 'vtal-sim live --help' for the options.\n";
        return kExitBadInput;
    }
    o.session.savePath = run.savePath;
    try {
        ReadNumbers(numbers, o);
        sim::live::RunLive(o, std::cout, std::cerr);
    } catch (const sim::InputError &e) {
        PrintError("error", e.what());
        return kExitBadInput;
    } catch (const std::exception &e) {
        PrintError("failed", e.what());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace vtal::app
