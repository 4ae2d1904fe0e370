#include "sim/live/Pacer.h"

#include <algorithm>
#include <cmath>

namespace vtal::sim::live {
namespace {

constexpr double kFrameTolerance = 1e-9;  // of a frame: rounding of the owed time
constexpr double kLongWait = 3600.0;      // s, while paused

}  // namespace

Pacer::Pacer(double dt, double now, double warp, bool paused)
    : dt_(dt), warp_(std::clamp(warp, kMinWarp, kMaxWarp)), paused_(paused), last_(now), started_(now) {}

void Pacer::Accrue(double now) {
    const double elapsed = std::max(0.0, now - last_);  // a clock never runs back; if it does, nothing is owed
    last_ = now;
    if (!paused_) owed_ += elapsed * warp_;
}

int Pacer::FramesDue(double now) {
    Accrue(now);
    const double due = std::floor(owed_ / dt_ + kFrameTolerance);
    if (due <= kMaxFramesPerWake) return static_cast<int>(due);
    // More than a wake-up may run: the rest is given up, not carried, so
    // that a host that cannot keep up does not fall ever further behind.
    const double kept = static_cast<double>(kMaxFramesPerWake) * dt_;
    givenUp_ += owed_ - kept;
    owed_ = kept;
    return kMaxFramesPerWake;
}

void Pacer::FramesRun(int frames, double now) {
    owed_ = std::max(0.0, owed_ - frames * dt_);
    if (frames > 0) runs_.emplace_back(now, frames);
    while (!runs_.empty() && runs_.front().first <= now - kReachedWarpWindow) runs_.pop_front();
}

void Pacer::SetWarp(double warp, double now) {
    Accrue(now);
    if (std::isfinite(warp)) warp_ = std::clamp(warp, kMinWarp, kMaxWarp);
    runs_.clear();
    started_ = now;
}

void Pacer::SetPaused(bool paused, double now) {
    Accrue(now);
    if (paused) owed_ = 0.0;  // what was due when pausing is not run after
    paused_ = paused;
    runs_.clear();
    started_ = now;
}

double Pacer::ReachedWarp(double now) const {
    if (paused_) return 0.0;
    if (now - started_ < kReachedWarpWindow) return warp_;
    int frames = 0;
    for (const auto &[at, n] : runs_)
        if (at > now - kReachedWarpWindow) frames += n;
    return frames * dt_ / kReachedWarpWindow;
}

double Pacer::UntilNextFrame(double now) const {
    if (paused_) return kLongWait;
    const double owedNow = owed_ + std::max(0.0, now - last_) * warp_;
    return std::max(0.0, (dt_ - owedNow) / warp_);
}

}  // namespace vtal::sim::live
