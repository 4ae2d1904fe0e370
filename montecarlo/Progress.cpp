#include "montecarlo/Progress.h"

#include <cmath>

namespace vtal::montecarlo {

namespace {

const int kBarWidth = 30;  // characters
const double kRedrawInterval = 0.2;  // s
const double kLongestEstimate = 365.0 * 86400.0;  // s

std::string FormatDuration(double seconds) {
    // Beyond a year the estimate means nothing (and must not overflow a long).
    if (!std::isfinite(seconds) || seconds < 0.0 || seconds > kLongestEstimate) return "--:--";
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

ProgressBar::ProgressBar(long total, std::FILE *out, bool enabled)
    : total_(total), out_(out), enabled_(enabled), start_(Clock::now()), lastDraw_(start_) {}

std::string ProgressBar::Line(long done, long total, double elapsedSeconds) {
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(fraction * kBarWidth);
    const double rate = elapsedSeconds > 0.0 ? static_cast<double>(done) / elapsedSeconds : 0.0;
    const double left = rate > 0.0 ? static_cast<double>(total - done) / rate : -1.0;
    char text[160];
    std::snprintf(text, sizeof text, "[%s%s] %ld/%ld runs  %.1f runs/s  %s left",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(), done, total, rate,
                  done >= total ? "00:00" : FormatDuration(left).c_str());
    return text;
}

void ProgressBar::update(long done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && done < total_ && std::chrono::duration<double>(now - lastDraw_).count() < kRedrawInterval)
        return;
    lastDraw_ = now;
    drawn_ = true;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(out_, "\r%s\033[K", Line(done, total_, elapsed).c_str());
    std::fflush(out_);
}

void ProgressBar::finish() {
    if (!enabled_ || !drawn_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace vtal::montecarlo
