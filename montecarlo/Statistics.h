// The few statistics a campaign summary needs.
#pragma once

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

}  // namespace vtal::montecarlo
