#include "montecarlo/Tally.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vtal::montecarlo {

namespace {

bool TouchedDown(const RunRecord &r) { return r.outcome != Outcome::Timeout && r.outcome != Outcome::Error; }

Bins BinsOver(const std::vector<EnvelopePoint> &points, double EnvelopePoint::*axis) {
    double lo = INFINITY, hi = -INFINITY;
    for (const EnvelopePoint &p : points) {
        lo = std::min(lo, p.*axis);
        hi = std::max(hi, p.*axis);
    }
    Bins b;
    b.lo = std::isfinite(lo) ? lo : 0.0;
    if (hi > lo) {
        b.count = kEnvelopeBins;
        b.width = (hi - lo) / kEnvelopeBins;
    }
    return b;
}

}  // namespace

int Bins::of(double v) const {
    const double bin = (v - lo) / width;
    if (!(width > 0.0) || !std::isfinite(bin)) return 0;
    // Clamped as a double first: the conversion must not overflow.
    return static_cast<int>(std::clamp(bin, 0.0, static_cast<double>(count - 1)));
}

// Edges with as many decimals as the bin width needs to tell them apart,
// none when they are whole numbers.
std::string Bins::label(int i) const {
    const bool whole = lo == std::round(lo) && width == std::round(width);
    const int decimals =
        whole || !(width > 0.0) ? 0 : static_cast<int>(std::clamp(std::ceil(-std::log10(width)) + 1.0, 0.0, 3.0));
    char text[128];
    std::snprintf(text, sizeof text, "%.*f-%.*f", decimals, lo + width * i, decimals, lo + width * (i + 1));
    return text;
}

Tally::Tally(std::size_t keptStarts, std::size_t exactValues)
    : keptStarts_(keptStarts), columns_(kColumnCount, BoundedQuantiles(exactValues)) {}

void Tally::Add(const RunRecord &r) {
    ++runs_;
    ++counts_[static_cast<int>(r.outcome)];
    if (r.outcome == Outcome::Error) return;  // not flown: its start is only what was drawn
    if (r.clamped != 0) ++clamped_;
    const auto add = [this](Column c, double v) { columns_[static_cast<int>(c)].Add(v); };
    if (TouchedDown(r)) {
        add(Column::TouchdownSink, r.touchdownSinkSpeed);
        add(Column::TouchdownHorizontal, r.touchdownHorizontalSpeed);
        add(Column::TouchdownTime, r.touchdownTime);
    }
    if (r.outcome == Outcome::Soft) {
        add(Column::Drift, r.drift);
        add(Column::PropellantUsed, r.propellantUsed);
        add(Column::PropellantBound, r.propellantBound);
        if (r.propellantBound > 0.0) add(Column::UsedOverBound, r.propellantUsed / r.propellantBound);
    }
    const EnvelopePoint p{r.start[static_cast<int>(Quantity::SinkRate)],
                          r.start[static_cast<int>(Quantity::HorizontalSpeed)], r.outcome};
    ++startsSeen_;
    if (frozen_) {
        Place(frozenTable_, p);
        return;
    }
    if (starts_.size() < keptStarts_) {
        starts_.push_back(p);
        return;
    }
    Freeze();
    Place(frozenTable_, p);
}

void Tally::Freeze() {
    frozenTable_ = EnvelopeTable();
    frozenTable_.binsFromKeptStarts = true;
    frozen_ = true;
}

void Tally::Place(Envelope &e, const EnvelopePoint &p) {
    const auto cell = static_cast<std::size_t>(e.speed.of(p.horizontalSpeed) * e.sink.count + e.sink.of(p.sinkRate));
    ++e.runs[cell];
    if (p.outcome == Outcome::Soft) ++e.soft[cell];
}

Tally::Envelope Tally::EnvelopeTable() const {
    if (frozen_) return frozenTable_;
    Envelope e;
    e.sink = BinsOver(starts_, &EnvelopePoint::sinkRate);
    e.speed = BinsOver(starts_, &EnvelopePoint::horizontalSpeed);
    e.runs.assign(static_cast<std::size_t>(e.sink.count * e.speed.count), 0);
    e.soft.assign(e.runs.size(), 0);
    for (const EnvelopePoint &p : starts_) Place(e, p);
    return e;
}

}  // namespace vtal::montecarlo
