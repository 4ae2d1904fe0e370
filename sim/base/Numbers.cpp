#include "sim/base/Numbers.h"

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

std::string Plain(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", x);
    return text;
}

}  // namespace vtal::sim
