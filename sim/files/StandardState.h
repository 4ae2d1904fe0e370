// The host's standard vessel lines in a scenario block: STATUS, POS, HEADING,
// ALT, RPOS, RVEL, AROT, VROT, PRPLEVEL, FUEL, THLEVEL; the lines of the real
// host that this host does not model are recognised and carried. NAVMODE is
// no vessel line of the host: it is left to the module like any other line.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/world/SimMath.h"

namespace vtal::sim {

struct StandardStatus {
    enum class Kind { Unset, Landed, Flying };
    Kind kind = Kind::Unset;
    std::string body;

    bool hasPos = false;
    double longitude = 0.0, latitude = 0.0;  // deg
    double heading = 0.0;                    // deg
    bool hasAlt = false;
    double alt = 0.0;  // m, of the vessel's origin above the mean radius
    std::string base;

    bool hasRpos = false, hasRvel = false, hasArot = false, hasVrot = false;
    bool arotAfterStatus = false;  // a landed vessel's AROT is its body-fixed attitude
    Vec3 rpos = Vec3::Zero(), rvel = Vec3::Zero();
    Vec3 arot = Vec3::Zero();  // deg
    Vec3 vrot = Vec3::Zero();  // deg/s

    // PRPLEVEL and FUEL replace each other: the later line wins.
    bool hasPrplevel = false;
    std::vector<std::pair<int, double>> prplevel;
    bool hasFuel = false;
    double fuel = 0.0;
    std::vector<std::pair<int, double>> thlevel;

    // Lines of the real host's format that this host does not model: key and whole line.
    std::vector<std::pair<std::string, std::string>> carried;
};

enum class LineKind {
    Standard,  // understood and stored
    Carried,   // a standard line of the real host that is not modelled
    Other,     // not a standard line (a module's own line, or unknown)
};

struct LineResult {
    LineKind kind = LineKind::Other;
    std::string key;    // upper case
    std::string error;  // non-empty: the line is malformed
};

// Parses one line of a vessel block into the status.
LineResult ParseStandardLine(const std::string &line, StandardStatus &status);

// Euler angles (rad) of a vessel-to-global rotation as the scenario writes
// them: (atan2(R23, R33), -asin(R13), atan2(R12, R11)), and the rotation back.
Vec3 EulerFromRotation(const Mat3 &r);
Mat3 RotationFromEuler(const Vec3 &angles);

// Navigation mode names, as the flight host's outputs show them.
const char *NavmodeName(int mode);

// A finite number filling the whole word.
bool ParseFiniteNumber(const std::string &word, double &out);

// Formats a double so that reading it back gives the same value.
std::string Exact(double x);
// Formats a double with a fixed number of decimals, as the host writes its
// scenario lines.
std::string Fixed(double x, int decimals);

}  // namespace vtal::sim
