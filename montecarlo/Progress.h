// A one-line progress bar on a terminal: runs done, rate and time left. It
// redraws at most a few times a second and prints nothing when the stream
// is not a terminal (unless forced), so logs and pipes stay clean.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace vtal::montecarlo {

class ProgressBar {
public:
    ProgressBar(long total, std::FILE *out, bool enabled);
    void update(long done);
    void finish();

    // The line drawn for `done` runs after `elapsedSeconds` (no control characters).
    static std::string Line(long done, long total, double elapsedSeconds);

private:
    using Clock = std::chrono::steady_clock;
    long total_;
    std::FILE *out_;
    bool enabled_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
};

}  // namespace vtal::montecarlo
