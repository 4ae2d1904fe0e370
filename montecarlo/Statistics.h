// The few statistics a campaign summary needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace vtal::montecarlo {

struct Interval {
    double low = 0.0, high = 0.0;
};

// 95 % confidence interval of a success probability from `successes` out of
// `trials` (Wilson score interval: unlike the normal approximation it stays
// within [0, 1] and is sensible at 0 % and 100 %). An empty sample gives [0, 1].
Interval WilsonInterval95(long successes, long trials);

// The p-th percentile (p in [0, 100]) with linear interpolation between the
// closest ranks; NaN for an empty sample. `values` need not be sorted.
double Percentile(std::vector<double> values, double p);

// Percentiles of a stream of values in memory that does not grow with the
// number of values. Up to `exactValues` values are kept and the percentiles
// are those of Percentile. Beyond, the values are counted in bins of one
// leading part of their binary representation: the sign, the exponent and
// the first kFinestMantissaBits bits of the mantissa, a bin no wider than
// 2^-10 of its values (0.1 %); when more than `maxBins` bins are in use,
// neighbouring bins are merged one bit coarser. A percentile from the bins
// interpolates between the middles of the bins that hold its ranks, kept
// within the smallest and largest value, which are exact.
class BoundedQuantiles {
public:
    static constexpr int kFinestMantissaBits = 10;
    static constexpr std::size_t kDefaultExactValues = 100000;
    static constexpr std::size_t kDefaultMaxBins = 65536;

    explicit BoundedQuantiles(std::size_t exactValues = kDefaultExactValues, std::size_t maxBins = kDefaultMaxBins);

    // Adds one value; values that are not finite are left out.
    void Add(double value);
    // As Percentile; NaN while empty.
    double Percentile(double p) const;
    long Count() const { return count_; }
    // Whether the percentiles are exact: no more values than were kept.
    bool Exact() const { return bins_.empty(); }
    // Bits of the mantissa that tell bins apart now (kFinestMantissaBits down).
    int MantissaBits() const { return bits_; }
    std::size_t BinCount() const { return bins_.size(); }

private:
    void Bin(double value);
    double ValueAtRank(long rank) const;  // the rank-th smallest (0-based), from the bins
    void Coarsen();

    std::size_t exactValues_, maxBins_;
    std::vector<double> exact_;
    std::map<std::int64_t, long> bins_;  // bin key (ordered as the values) to count
    int bits_ = kFinestMantissaBits;
    long count_ = 0;
    double min_ = 0.0, max_ = 0.0;
};

}  // namespace vtal::montecarlo
