#include "sim/base/Numbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vtal::sim {

NumberWord ReadNumberWord(const std::string &word, bool trailingBlanks) {
    NumberWord out;
    const char *begin = word.c_str();
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    const bool overflowOrUnderflow = errno == ERANGE;
    while (trailingBlanks && end && (*end == ' ' || *end == '\t')) ++end;
    out.value = v;
    if (end == begin || *end != '\0') return out;
    out.kind = std::isnan(v) ? NumberKind::NaN : std::isfinite(v) ? NumberKind::Finite : NumberKind::Infinite;
    out.underflow = out.kind == NumberKind::Finite && overflowOrUnderflow;
    return out;
}

NumberKind ReadWholeNumber(const std::string &word, long long &out) {
    const char *begin = word.c_str();
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (word.empty() || end == begin || *end != '\0') return NumberKind::NotNumber;
    if (errno == ERANGE) return NumberKind::Infinite;
    out = v;
    return NumberKind::Finite;
}

std::string Exact(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

std::string Fixed(double x, int decimals) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    // A value too large for the buffer is written whole, never cut.
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return Exact(x);
    // "-0.000" reads back as 0: write it so.
    if (std::strspn(buf, "-0.") == static_cast<std::size_t>(n) && buf[0] == '-') return std::string(buf + 1);
    return buf;
}

std::string Plain(double x, int significant) {
    if (!std::isfinite(x)) return std::isnan(x) ? "nan" : x > 0 ? "inf" : "-inf";
    if (x == 0.0) return "0";
    const double size = std::fabs(x);
    char text[64];
    if (size < kSmallestPlain || size >= kLargestPlain) {
        std::snprintf(text, sizeof text, "%.*g", significant, x);
        return text;
    }
    // As many decimals as the significant digits reach, then the zeros
    // they leave at the end dropped.
    const int leading = static_cast<int>(std::floor(std::log10(size)));
    const int decimals = std::max(0, significant - 1 - leading);
    std::snprintf(text, sizeof text, "%.*f", decimals, x);
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.') out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

int DecimalsForStep(double step, int least) {
    // A step's multiples written with as many decimals as reach its first
    // significant digit differ from one another by at least the last digit.
    constexpr int kMostDecimals = 17;
    constexpr double kRoundingSlack = 1e-9;  // 1e-7 is 0.99999... x 1e-7 as a double
    if (!(step > 0.0) || !std::isfinite(step)) return least;
    int decimals = least;
    while (decimals < kMostDecimals && step * std::pow(10.0, decimals) < 1.0 - kRoundingSlack) ++decimals;
    return decimals;
}

}  // namespace vtal::sim
