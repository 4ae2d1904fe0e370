// vtal-sim: loads vessel modules into a headless flight host and flies a scenario.
#include <csignal>
#include <exception>
#include <new>

#include "apps/vtal-sim/CommandLine.h"
#include "sim/base/SafeFiles.h"

int main(int argc, char **argv) {
    // A write beyond the file size limit fails with an error the program
    // reports, instead of killing it with a half-written file.
    std::signal(SIGXFSZ, SIG_IGN);
    // Ctrl+C, kill and a closed terminal or pipe leave no temporary file and
    // no helper program behind.
    vtal::sim::CleanUpOnInterruption();
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
