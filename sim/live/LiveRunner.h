// `vtal-sim live`: a live session served to a browser page on one thread:
// the session's frames on a timer and the page's server on the same event
// loop, until the page ends it or Ctrl+C; then the run's outputs.
#pragma once

#include <iosfwd>
#include <string>

#include "sim/live/LiveSession.h"

namespace vtal::sim::live {

constexpr unsigned short kDefaultPort = 8765;
// The session wakes at most this often: each wake-up runs the frames due and
// sends the page one state.
constexpr double kMinWakeInterval = 1.0 / 120.0;  // s
// While paused it still wakes, to answer the page.
constexpr double kPausedWakeInterval = 0.05;  // s
// After the session ends, the page is given this long to receive the last messages.
constexpr double kClosingGrace = 0.3;  // s

struct LiveOptions {
    SessionOptions session;
    std::string bindAddress = "127.0.0.1";
    unsigned short port = kDefaultPort;  // 0: any free port
    bool openBrowser = false;            // start the desktop's browser on the page (xdg-open)
};

// Whether an address is the loopback interface (127.0.0.0/8, ::1, localhost).
bool IsLoopback(const std::string &address);

// Runs the session; prints the page's address (with its token) on `out` and
// warnings on `err`. Throws InputError on bad input (before anything is
// served), WriteError or std::runtime_error if the session fails.
RunResult RunLive(const LiveOptions &options, std::ostream &out, std::ostream &err);

}  // namespace vtal::sim::live
