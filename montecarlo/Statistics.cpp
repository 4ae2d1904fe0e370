#include "montecarlo/Statistics.h"

#include <algorithm>
#include <cmath>
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

}  // namespace vtal::montecarlo
