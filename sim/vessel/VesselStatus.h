// The host's standard vessel lines in a scenario block: STATUS, POS, HEADING,
// ALT, RPOS, RVEL, AROT, VROT, PRPLEVEL, FUEL, THLEVEL, NAVFREQ; the lines of the real
// host that this host does not model are recognised and carried. NAVMODE is
// no vessel line of the host: it is left to the module like any other line.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/base/Numbers.h"
#include "sim/base/CentralBody.h"
#include "sim/base/SimMath.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

struct StandardStatus {
    enum class Kind { Unset, Landed, Flying };
    Kind kind = Kind::Unset;
    std::string body;

    bool hasPos = false;
    double longitudeDeg = 0.0, latitudeDeg = 0.0;
    double headingDeg = 0.0;
    bool hasAlt = false;
    double alt = 0.0;  // m, of the vessel's origin above the mean radius
    std::string base;

    bool hasRpos = false, hasRvel = false, hasArot = false, hasVrot = false;
    bool arotAfterStatus = false;  // a landed vessel's AROT is its body-fixed attitude
    Vec3 rpos = Vec3::Zero(), rvel = Vec3::Zero();
    Vec3 arotDeg = Vec3::Zero();
    Vec3 vrotDegPerSecond = Vec3::Zero();

    // PRPLEVEL and FUEL replace each other: the later line wins.
    bool hasPrplevel = false;
    std::vector<std::pair<int, double>> prplevel;
    bool hasFuel = false;
    double fuel = 0.0;
    std::vector<std::pair<int, double>> thlevel;
    // NAVFREQ: the navigation receivers' frequency steps, in order.
    bool hasNavfreq = false;
    std::vector<long long> navfreq;

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

// What applying a status needs of the world: the body, the date (for a
// landed vessel's place in the global frame) and where warnings go.
struct StatusContext {
    const CentralBody &body;
    double mjd;
    std::function<void(const std::string &)> warnOnce;
};

// Applies the standard lines read for a vessel: propellant, levels, and its
// place (landed, or in flight).
void ApplyStandardStatus(Vessel &v, const StandardStatus &status, const StatusContext &at);

// The standard lines a vessel's state is saved with: the host's decimals,
// or every digit if `precise`.
void WriteStandardLines(const Vessel &v, const CentralBody &body, bool precise, std::string &out);

// What a module's clbkSaveState writes into: the scenario text of one
// vessel, and how the host writes its standard lines into it.
struct ScenarioWriter {
    std::string text;
    bool moduleLinesOnly = false;  // the host's standard lines are left out
    bool precise = false;          // every digit instead of the host's decimals
};

// Euler angles (rad) of a vessel-to-global rotation as the scenario writes
// them: (atan2(R23, R33), -asin(R13), atan2(R12, R11)), and the rotation back.
Vec3 EulerFromRotation(const Mat3 &r);
Mat3 RotationFromEuler(const Vec3 &angles);

// Navigation mode names, as the flight host's outputs show them.
const char *NavmodeName(int mode);

}  // namespace vtal::sim
