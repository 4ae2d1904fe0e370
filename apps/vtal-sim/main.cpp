// vtal-sim: loads vessel modules into a headless flight host and flies a scenario.
#include <csignal>
#include <exception>
#include <new>

#include "apps/vtal-sim/CommandLine.h"

int main(int argc, char **argv) {
    // A write beyond the file size limit fails with an error the program
    // reports, instead of killing it with a half-written file.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return vtal::app::RunCommandLine(argc, argv);
    } catch (const std::bad_alloc &) {
        vtal::app::PrintError("failed", "out of memory");
    } catch (const std::exception &e) {
        vtal::app::PrintError("failed", e.what());
    } catch (...) {
        vtal::app::PrintError("failed", "an unexpected error");
    }
    return vtal::app::kExitFailed;
}
