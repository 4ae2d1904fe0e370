#include "sim/vessel/VesselStatus.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <strings.h>

#include "sim/base/InputError.h"
#include "sim/vessel/Actuation.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/Landed.h"

namespace vtal::sim {
namespace {

// Saved lines: the host's decimals, and digits enough to continue exactly.
constexpr int kPositionDecimals = 3, kVelocityDecimals = 4, kAngleDecimals = 3, kRateDecimals = 4;
constexpr int kSurfaceDecimals = 7, kHeadingDecimals = 2, kAltitudeDecimals = 3, kLevelDecimals = 6;
// VROT is written only for a rate above this, (rad/s)^2.
constexpr double kNegligibleRateSquared = 1e-8;


const char *const kNavmodeNames[] = {"", "KILLROT", "HLEVEL", "PROGRADE", "RETROGRADE", "NORMAL", "ANTINORMAL"};

// Standard lines of the real host that this host accepts and carries unmodelled.
const char *const kCarriedKeys[] = {"ELEMENTS", "XPDR", "IDS", "AFCMODE", "RCSMODE",
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
    const NumberWord number = ReadNumberWord(word);
    if (!number.FiniteInRange()) {
        error = what + ": " + Quote(word) + " is not a number";
        return false;
    }
    out = number.value;
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

// NAVFREQ's whole-number steps, one per receiver.
bool ParseFrequencySteps(const std::vector<std::string> &w, std::vector<long long> &out, std::string &error) {
    out.clear();
    for (std::size_t i = 1; i < w.size(); ++i) {
        long long step = 0;
        if (ReadWholeNumber(w[i], step) != NumberKind::Finite) {
            error = "NAVFREQ: " + Quote(w[i]) + " is not a whole number";
            return false;
        }
        out.push_back(step);
    }
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

// A landed vessel read from a scenario: at POS, with its AROT relative to the
// body-fixed frame and ALT as height if AROT follows STATUS; else set down
// at rest on its touchdown points under its weight, facing HEADING.
void PlaceLandedFromStatus(Vessel &v, const StandardStatus &st, const StatusContext &at) {
    double lng = st.longitudeDeg, lat = st.latitudeDeg;
    if (!st.hasPos) {
        if (!st.base.empty())
            at.warnOnce(v.name + ": landed at BASE " + st.base + ", which this host cannot place; it stands at longitude 0, latitude 0");
        else
            at.warnOnce(v.name + ": landed without POS; it stands at longitude 0, latitude 0");
        lng = lat = 0.0;
    }
    const CentralBody &body = at.body;
    const Vec3 upBodyFixed = SurfaceDirection(lng * kRadPerDeg, lat * kRadPerDeg);
    LandedState &l = v.contact.landed;
    l.landed = true;
    l.headingRad = st.headingDeg * kRadPerDeg;
    if (st.arotAfterStatus) {
        l.vesselToBodyFixed = RotationFromEuler(st.arotDeg * kRadPerDeg);
        l.altitude = st.hasAlt ? st.alt : 0.0;
    } else {
        const RestPose pose = RestPoseOnSprings(v, body);
        l.vesselToBodyFixed = LevelAttitude(upBodyFixed, l.headingRad) * pose.tilt;
        l.altitude = pose.height;
    }
    l.positionBodyFixed = upBodyFixed * (body.radius + l.altitude);
    v.motion.bodyRates.setZero();
    v.contact.groundContact = true;
    PlaceLanded(v, body, at.mjd);
}

void SetPropellantFromStatus(Vessel &v, const StandardStatus &st, const StatusContext &at) {
    for (auto &tank : v.actuators.tanks) tank->mass = 0.0;  // a block without propellant lines starts empty
    if (st.hasFuel) {
        if (st.fuel < 0.0 || st.fuel > 1.0) at.warnOnce(v.name + ": FUEL outside 0..1 is kept as the host keeps it");
        for (auto &tank : v.actuators.tanks) tank->mass = st.fuel * tank->maxMass;
    }
    if (st.hasPrplevel) {
        for (const auto &[index, level] : st.prplevel) {
            if (index < 0 || static_cast<std::size_t>(index) >= v.actuators.tanks.size()) {
                at.warnOnce(v.name + ": PRPLEVEL names tank " + std::to_string(index) + ", which does not exist; ignored");
                continue;
            }
            if (level < 0.0 || level > 1.0)
                at.warnOnce(v.name + ": PRPLEVEL outside 0..1: above 1 fills the tank, below 0 is kept as the host keeps it");
            Tank &t = *v.actuators.tanks[static_cast<std::size_t>(index)];
            t.mass = std::min(level * t.maxMass, t.maxMass);
        }
    }
}

bool WrittenAfterReceivers(const std::string &line) {
    const std::vector<std::string> w = Words(line);
    const std::string key = w.empty() ? std::string() : Upper(w[0]);
    return key == "XPDR" || key == "FLIGHTDATA";
}

// Numbers of a saved line: the host's decimals, or every digit.
std::string Number(double x, int decimals, bool precise) { return precise ? Exact(x) : Fixed(x, decimals); }

std::string Triple(const Vec3 &v, int decimals, bool precise) {
    return Number(v.x(), decimals, precise) + " " + Number(v.y(), decimals, precise) + " " +
           Number(v.z(), decimals, precise);
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
            st.headingDeg = 0.0;
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
            st.longitudeDeg = n[0];
            st.latitudeDeg = n[1];
        }
    } else if (key == "HEADING") {
        if (ParseNumbers(w, 1, n, r.error, key)) st.headingDeg = n[0];
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
            if (key == "AROT") st.arotDeg = v, st.hasArot = true, st.arotAfterStatus = st.kind != StandardStatus::Kind::Unset;
            if (key == "VROT") st.vrotDegPerSecond = v, st.hasVrot = true;
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
    } else if (key == "NAVFREQ") {
        if (ParseFrequencySteps(w, st.navfreq, r.error)) st.hasNavfreq = true;
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

const char *NavmodeName(int mode) { return mode >= 1 && mode <= 6 ? kNavmodeNames[mode] : ""; }


void ApplyStandardStatus(Vessel &v, const StandardStatus &st, const StatusContext &at) {
    SetPropellantFromStatus(v, st, at);
    for (auto &t : v.actuators.thrusters) t->level = t->effective = 0.0;
    for (const auto &[index, level] : st.thlevel) {
        if (index < 0 || static_cast<std::size_t>(index) >= v.actuators.thrusters.size()) {
            at.warnOnce(v.name + ": THLEVEL names thruster " + std::to_string(index) + ", which does not exist; ignored");
            continue;
        }
        SetThrusterLevel(*v.actuators.thrusters[static_cast<std::size_t>(index)], level);
    }
    for (const auto &carried : st.carried) v.carriedLines.push_back(carried.second);
    if (st.hasNavfreq) {
        // As many receivers as the vessel has take a step each; the rest are not read.
        const std::size_t tuned = std::min(st.navfreq.size(), v.navReceiverSteps.size());
        std::copy(st.navfreq.begin(), st.navfreq.begin() + static_cast<std::ptrdiff_t>(tuned), v.navReceiverSteps.begin());
        if (st.navfreq.size() > tuned)
            at.warnOnce(v.name + ": NAVFREQ lists " + std::to_string(st.navfreq.size()) + " receivers; the vessel has " +
                        std::to_string(v.navReceiverSteps.size()) + ", the rest are ignored");
    }

    if (st.kind == StandardStatus::Kind::Landed) {
        PlaceLandedFromStatus(v, st, at);
    } else {
        v.motion.positionGlobal = st.rpos;
        const double below = at.body.radius - v.motion.positionGlobal.norm();
        if (below > 0.0 && v.motion.positionGlobal.norm() > 0.0) {
            // As the host does: a position below the surface is lifted to it.
            at.warnOnce(v.name + ": RPOS lies " + Fixed(below, 3) + " m below the surface; lifted to the surface");
            v.motion.positionGlobal *= at.body.radius / v.motion.positionGlobal.norm();
        }
        v.motion.velocityGlobal = st.rvel;
        v.motion.attitude = Quat(RotationFromEuler(st.arotDeg * kRadPerDeg));
        v.motion.attitude.normalize();
        v.motion.bodyRates = st.vrotDegPerSecond * kRadPerDeg;
    }
}

void WriteStandardLines(const Vessel &v, const CentralBody &body, bool precise, std::string &out) {
    if (v.Landed()) {
        const Vec3 upBodyFixed = v.contact.landed.positionBodyFixed.normalized();
        const double lat = std::asin(std::clamp(upBodyFixed.y(), -1.0, 1.0)),
                     lng = std::atan2(upBodyFixed.z(), upBodyFixed.x());
        const Vec3 e = EulerFromRotation(v.contact.landed.vesselToBodyFixed) / kRadPerDeg;
        out += "  STATUS Landed " + std::string(body.name) + "\n";
        out += "  POS " + Number(lng / kRadPerDeg, kSurfaceDecimals, precise) + " " +
               Number(lat / kRadPerDeg, kSurfaceDecimals, precise) + "\n";
        out += "  HEADING " + Number(v.contact.landed.headingRad / kRadPerDeg, kHeadingDecimals, precise) + "\n";
        out += "  ALT " + Number(v.contact.landed.altitude, kAltitudeDecimals, precise) + "\n";
        out += "  AROT " + Triple(e, kAngleDecimals, precise) + "\n";
    } else {
        const Vec3 e = EulerFromRotation(v.Rotation()) / kRadPerDeg;
        out += "  STATUS Orbiting " + std::string(body.name) + "\n";
        out += "  RPOS " + Triple(v.motion.positionGlobal, kPositionDecimals, precise) + "\n";
        out += "  RVEL " + Triple(v.motion.velocityGlobal, kVelocityDecimals, precise) + "\n";
        out += "  AROT " + Triple(e, kAngleDecimals, precise) + "\n";
        if (v.motion.bodyRates.squaredNorm() > kNegligibleRateSquared)
            out += "  VROT " + Triple(v.motion.bodyRates / kRadPerDeg, kRateDecimals, precise) + "\n";
    }
    std::string tanks;
    for (std::size_t i = 0; i < v.actuators.tanks.size(); ++i) {
        const Tank &t = *v.actuators.tanks[i];
        if (t.mass > 0.0 && t.maxMass > 0.0)
            tanks += " " + std::to_string(i) + ":" + Number(t.mass / t.maxMass, kLevelDecimals, precise);
    }
    if (!tanks.empty()) out += "  PRPLEVEL" + tanks + "\n";
    std::string levels;
    for (std::size_t i = 0; i < v.actuators.thrusters.size(); ++i)
        if (v.actuators.thrusters[i]->level != 0.0)
            levels += " " + std::to_string(i) + ":" + Number(v.actuators.thrusters[i]->level, kLevelDecimals, precise);
    if (!levels.empty()) out += "  THLEVEL" + levels + "\n";
    // The host writes its receivers after docking and identity lines and
    // before the transponder and flight data.
    for (const std::string &line : v.carriedLines)
        if (!WrittenAfterReceivers(line)) out += "  " + line + "\n";
    if (!v.navReceiverSteps.empty()) {
        out += "  NAVFREQ";
        for (long long step : v.navReceiverSteps) out += " " + std::to_string(step);
        out += "\n";
    }
    for (const std::string &line : v.carriedLines)
        if (WrittenAfterReceivers(line)) out += "  " + line + "\n";
}

}  // namespace vtal::sim
