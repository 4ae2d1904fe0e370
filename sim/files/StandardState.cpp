#include "sim/files/StandardState.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <strings.h>

#include "sim/files/InputError.h"

namespace vtal::sim {
namespace {

const char *const kNavmodeNames[] = {"", "KILLROT", "HLEVEL", "PROGRADE", "RETROGRADE", "NORMAL", "ANTINORMAL"};

// Standard lines of the real host that this host accepts and carries unmodelled.
const char *const kCarriedKeys[] = {"ELEMENTS", "NAVFREQ", "XPDR", "IDS", "AFCMODE", "RCSMODE",
                                    "ATTACHED", "DOCKINFO", "DOCKSTATE", "TRIM", "SKIN", "FLIGHTDATA",
                                    "LIGHTS", "BEACONS", "CONTROLSURFACE", "PORTS"};

std::vector<std::string> Words(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

std::string Upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A finite number filling the whole word; else an error message.
bool ParseNumber(const std::string &word, double &out, std::string &error, const std::string &what) {
    const char *begin = word.c_str();
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(v) || errno == ERANGE) {
        error = what + ": " + Quote(word) + " is not a number";
        return false;
    }
    out = v;
    return true;
}

bool ParseNumbers(const std::vector<std::string> &w, std::size_t count, double *out,
                  std::string &error, const std::string &key) {
    if (w.size() < count + 1) {
        error = key + " needs " + std::to_string(count) + " number" + (count > 1 ? "s" : "");
        return false;
    }
    for (std::size_t i = 0; i < count; ++i)
        if (!ParseNumber(w[i + 1], out[i], error, key)) return false;
    return true;
}

// "i:level" pairs; a bare level stands for the next index.
bool ParseIndexedLevels(const std::vector<std::string> &w, std::vector<std::pair<int, double>> &out,
                        std::string &error, const std::string &key) {
    out.clear();
    int next = 0;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const std::string &item = w[i];
        const auto colon = item.find(':');
        int index = next;
        std::string value = item;
        if (colon != std::string::npos) {
            double idx = 0.0;
            if (!ParseNumber(item.substr(0, colon), idx, error, key + " index") ||
                idx != std::floor(idx) || idx < 0.0 || idx > 1e6) {
                if (error.empty()) error = key + ": bad index in " + Quote(item);
                return false;
            }
            index = static_cast<int>(idx);
            value = item.substr(colon + 1);
        }
        double level = 0.0;
        if (!ParseNumber(value, level, error, key)) return false;
        out.emplace_back(index, level);
        next = index + 1;
    }
    return true;
}

}  // namespace

LineResult ParseStandardLine(const std::string &line, StandardStatus &st) {
    LineResult r;
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return r;
    r.key = Upper(w[0]);
    const std::string &key = r.key;
    double n[3] = {0.0, 0.0, 0.0};
    r.kind = LineKind::Standard;

    if (key == "STATUS") {
        if (w.size() < 3) {
            r.error = "STATUS needs a state and a body";
        } else if (strcasecmp(w[1].c_str(), "Landed") == 0) {
            st.kind = StandardStatus::Kind::Landed;
            st.body = w[2];
            st.heading = 0.0;
            st.arotAfterStatus = false;
        } else if (strcasecmp(w[1].c_str(), "Orbiting") == 0) {
            st.kind = StandardStatus::Kind::Flying;
            st.body = w[2];
            st.arotAfterStatus = false;
        } else {
            r.error = "unknown STATUS " + Quote(w[1]) + " (expected Landed or Orbiting)";
        }
    } else if (key == "POS") {
        if (ParseNumbers(w, 2, n, r.error, key)) {
            st.hasPos = true;
            st.longitude = n[0];
            st.latitude = n[1];
        }
    } else if (key == "HEADING") {
        if (ParseNumbers(w, 1, n, r.error, key)) st.heading = n[0];
    } else if (key == "ALT") {
        if (ParseNumbers(w, 1, n, r.error, key)) {
            st.hasAlt = true;
            st.alt = n[0];
        }
    } else if (key == "RPOS" || key == "RVEL" || key == "AROT" || key == "VROT") {
        if (ParseNumbers(w, 3, n, r.error, key)) {
            const Vec3 v(n[0], n[1], n[2]);
            if (key == "RPOS") st.rpos = v, st.hasRpos = true;
            if (key == "RVEL") st.rvel = v, st.hasRvel = true;
            if (key == "AROT") st.arot = v, st.hasArot = true, st.arotAfterStatus = st.kind != StandardStatus::Kind::Unset;
            if (key == "VROT") st.vrot = v, st.hasVrot = true;
        }
    } else if (key == "PRPLEVEL") {
        if (ParseIndexedLevels(w, st.prplevel, r.error, key)) st.hasPrplevel = true, st.hasFuel = false;
    } else if (key == "THLEVEL") {
        ParseIndexedLevels(w, st.thlevel, r.error, key);
    } else if (key == "FUEL") {
        if (ParseNumbers(w, 1, n, r.error, key)) {
            st.hasFuel = true;
            st.hasPrplevel = false;
            st.fuel = n[0];
        }
    } else if (key == "BASE") {
        st.base = w.size() > 1 ? w[1] : "";
        r.kind = LineKind::Carried;
    } else {
        r.kind = LineKind::Other;
        for (const char *k : kCarriedKeys)
            if (key == k) r.kind = LineKind::Carried;
        if (r.kind == LineKind::Carried) st.carried.emplace_back(key, line);
    }
    return r;
}

Vec3 EulerFromRotation(const Mat3 &r) {
    const double R11 = r(0, 0), R12 = r(0, 1), R13 = r(0, 2);
    const double cosB = std::hypot(R11, R12);
    if (cosB < 1e-12) {
        // Forward axis along the global x axis: only one combination of the
        // first and last angle is defined; the last is taken as 0.
        const double b = R13 < 0.0 ? kPi / 2 : -kPi / 2;
        const double a = R13 < 0.0 ? std::atan2(r(1, 0), r(1, 1)) : std::atan2(-r(1, 0), r(1, 1));
        return Vec3(a, b, 0.0);
    }
    return Vec3(std::atan2(r(1, 2), r(2, 2)), -std::asin(std::clamp(R13, -1.0, 1.0)), std::atan2(R12, R11));
}

Mat3 RotationFromEuler(const Vec3 &e) {
    const double ca = std::cos(e.x()), sa = std::sin(e.x());
    const double cb = std::cos(e.y()), sb = std::sin(e.y());
    const double cc = std::cos(e.z()), sc = std::sin(e.z());
    Mat3 rx, ry, rz;
    rx << 1, 0, 0, 0, ca, sa, 0, -sa, ca;
    ry << cb, 0, -sb, 0, 1, 0, sb, 0, cb;
    rz << cc, sc, 0, -sc, cc, 0, 0, 0, 1;
    return rx * ry * rz;
}

bool ParseFiniteNumber(const std::string &word, double &out) {
    std::string ignored;
    return ParseNumber(word, out, ignored, "");
}

const char *NavmodeName(int mode) { return mode >= 1 && mode <= 6 ? kNavmodeNames[mode] : ""; }

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

}  // namespace vtal::sim
