// Paces a fixed frame step against a monotonic clock times the time
// acceleration, as the host's loop does: each wake-up runs the frames that
// are due, at most a bounded number; a backlog beyond that is given up (the
// host cannot keep up), and the acceleration actually reached is measured.
#pragma once

#include <deque>
#include <utility>

namespace vtal::sim::live {

constexpr double kMinWarp = 1.0;
constexpr double kMaxWarp = 1000.0;
constexpr double kWarpFactor = 10.0;          // one step of the warp keys
constexpr int kMaxFramesPerWake = 2000;       // 1000x at 1/60 s frames, woken 60 times a second, with room
constexpr double kReachedWarpWindow = 1.0;    // s of clock time the reached warp is measured over

class Pacer {
public:
    // dt: the frame step, s of simulated time; now: the clock, s.
    Pacer(double dt, double now, double warp = kMinWarp, bool paused = false);

    // The frames due at clock time `now`, at most kMaxFramesPerWake; the
    // caller runs them and reports them with FramesRun.
    int FramesDue(double now);
    void FramesRun(int frames, double now);

    // Warp within [kMinWarp, kMaxWarp]; the time owed so far is kept at the old rate.
    void SetWarp(double warp, double now);
    void WarpUp(double now) { SetWarp(warp_ * kWarpFactor, now); }
    void WarpDown(double now) { SetWarp(warp_ / kWarpFactor, now); }
    void SetPaused(bool paused, double now);

    double Warp() const { return warp_; }
    bool Paused() const { return paused_; }
    // Simulated seconds per clock second over the last kReachedWarpWindow
    // (the asked warp until a window has passed).
    double ReachedWarp(double now) const;
    // Clock seconds until the next frame is due (0 if one is due now;
    // a long time while paused).
    double UntilNextFrame(double now) const;
    // Simulated time given up because the host could not keep up, s.
    double GivenUp() const { return givenUp_; }

private:
    void Accrue(double now);

    double dt_;
    double warp_;
    bool paused_;
    double last_;         // clock at the last accrual
    double owed_ = 0.0;   // simulated time due and not yet run, s
    double givenUp_ = 0.0;
    double started_;
    std::deque<std::pair<double, int>> runs_;  // (clock, frames) within the window
};

}  // namespace vtal::sim::live
