#include "montecarlo/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vtal::montecarlo {

namespace {
const double kZ95 = 1.959963984540054;  // two-sided 95 % quantile of the standard normal
}

Interval WilsonInterval95(long successes, long trials) {
    if (trials <= 0) return {0.0, 1.0};
    const double n = static_cast<double>(trials);
    const double p = static_cast<double>(successes) / n;
    const double z2 = kZ95 * kZ95;
    const double centre = (p + z2 / (2.0 * n)) / (1.0 + z2 / n);
    const double halfWidth = kZ95 * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n)) / (1.0 + z2 / n);
    return {std::max(0.0, centre - halfWidth), std::min(1.0, centre + halfWidth)};
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = rank - static_cast<double>(below);
    return values[below] + fraction * (values[above] - values[below]);
}

namespace {

constexpr int kMantissaBits = 52;
constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

std::uint64_t BitsOf(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double DoubleOf(std::uint64_t bits) {
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The bin of a value with `bits` bits of mantissa: keys grow with the
// values, the negative ones below -1 (a magnitude's bin a maps to -a - 1).
// One bit coarser, a key k becomes k >> 1 (an arithmetic shift) for both signs.
std::int64_t KeyOf(double v, int bits) {
    const std::uint64_t raw = BitsOf(v == 0.0 ? 0.0 : v);  // -0 is 0
    const auto magnitude = static_cast<std::int64_t>((raw & ~kSignBit) >> (kMantissaBits - bits));
    return (raw & kSignBit) ? -magnitude - 1 : magnitude;
}

// The middle of a bin, as a value.
double MiddleOf(std::int64_t key, int bits) {
    const bool negative = key < 0;
    const auto magnitude = static_cast<std::uint64_t>(negative ? -(key + 1) : key);
    const double low = DoubleOf(magnitude << (kMantissaBits - bits));
    const double high = DoubleOf((magnitude + 1) << (kMantissaBits - bits));
    const double middle = low + (high - low) / 2.0;  // high may be infinite: the caller clamps
    return negative ? -middle : middle;
}

}  // namespace

BoundedQuantiles::BoundedQuantiles(std::size_t exactValues, std::size_t maxBins)
    : exactValues_(exactValues), maxBins_(std::max<std::size_t>(maxBins, 2)) {}

void BoundedQuantiles::Add(double value) {
    if (!std::isfinite(value)) return;
    min_ = count_ == 0 ? value : std::min(min_, value);
    max_ = count_ == 0 ? value : std::max(max_, value);
    ++count_;
    if (bins_.empty() && exact_.size() < exactValues_) {
        exact_.push_back(value);
        return;
    }
    if (!exact_.empty()) {  // the kept values move into the bins once
        for (double kept : exact_) Bin(kept);
        exact_.clear();
        exact_.shrink_to_fit();
    }
    Bin(value);
}

void BoundedQuantiles::Bin(double value) {
    ++bins_[KeyOf(value, bits_)];
    while (bins_.size() > maxBins_ && bits_ > 0) Coarsen();
}

void BoundedQuantiles::Coarsen() {
    std::map<std::int64_t, long> coarser;
    for (const auto &[key, n] : bins_) coarser[key >> 1] += n;
    bins_.swap(coarser);
    --bits_;
}

double BoundedQuantiles::ValueAtRank(long rank) const {
    if (rank <= 0) return min_;
    if (rank >= count_ - 1) return max_;
    long seen = 0;
    for (const auto &[key, n] : bins_) {
        seen += n;
        if (rank < seen) return std::clamp(MiddleOf(key, bits_), min_, max_);
    }
    return max_;
}

double BoundedQuantiles::Percentile(double p) const {
    if (count_ == 0) return std::numeric_limits<double>::quiet_NaN();
    if (bins_.empty()) return montecarlo::Percentile(exact_, p);
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(count_ - 1);
    const long below = static_cast<long>(std::floor(rank));
    const long above = std::min(below + 1, count_ - 1);
    const double fraction = rank - static_cast<double>(below);
    const double low = ValueAtRank(below), high = ValueAtRank(above);
    return low + fraction * (high - low);
}

}  // namespace vtal::montecarlo
