// Scenario files in the host's format: the description, the environment
// (system and date), the focus vessel and one block per vessel. Reading
// checks the whole file before anything is created; what the host does not
// model is carried and written back unchanged.
#pragma once

#include <string>
#include <vector>

#include "sim/base/CentralBody.h"
#include "sim/vessel/VesselStatus.h"

namespace vtal::sim {

// Date of a scenario without a Date line: 2000 Jan 1 12:00 (MJD 51544.5).
constexpr double kDefaultMjd = 51544.5;

// The dates flown, from 1858 Nov 17 (MJD 0) to the year 4596 (MJD 10^6).
// The host turns a date into seconds since MJD 51544.5, the epoch of the
// bodies' rotation, and the rotation angle from those seconds: inside this
// range the seconds are held to 15 microseconds or better and the angle of
// the fastest-turning body (Mars) to 1e-9 rad, 3 mm on its surface; far
// beyond it a frame's step vanishes in the date's rounding and the surface
// jumps under a landed vessel. A Date line outside the range is refused.
constexpr double kEarliestMjd = 0.0;
constexpr double kLatestMjd = 1e6;

// States a vessel may start in. Closer to the body's centre its direction
// from the centre means nothing; farther away, or faster, the squares and
// quotients of the physics leave the range of ordinary numbers. The body
// rates a scenario may hold are those a vessel reaches in flight, so that a
// run saved in the middle of a crash reads back: the contact law turns a
// lander hitting the ground at 60 m/s (the most the host lets through at
// 1/60 s frames) at up to about 2,000 deg/s, and a vessel of the host's
// defaults hitting at 1000 m/s (frames of 1 ms) at up to about 37,000 deg/s.
// A vessel turning faster than this has been lost by the physics.
constexpr double kMinCentreDistance = 1000.0;  // m, of RPOS, or of the radius plus ALT
constexpr double kMaxCentreDistance = 1e12;    // m
constexpr double kMaxSpeed = 1e6;              // m/s, of RVEL
constexpr double kMaxBodyRate = 1e5;           // deg/s, of each VROT component

struct ScenarioLine {
    std::string text;  // trimmed
    int number = 0;    // line number in the file
};

struct VesselBlock {
    std::string name;
    std::string className;
    int line = 0;
    std::vector<ScenarioLine> lines;
    StandardStatus status;  // the standard lines, as read when the file was checked
};

struct Scenario {
    std::string path;
    std::vector<std::string> description;
    std::string system = "Sol";
    double mjd = kDefaultMjd;
    std::string focus;
    const CentralBody *body = nullptr;
    std::vector<VesselBlock> vessels;
    std::vector<std::string> carriedSections;  // raw text of sections the host does not model
    std::vector<std::string> carriedVessels;   // raw blocks of vessels left out
    std::vector<std::string> warnings;         // one per kind of thing ignored
};

// Reads and checks a scenario file; throws InputError naming file, line and
// problem: also for a file that is no regular file, a vessel block that runs
// into the next vessel's header, a class name that is a path, and a state
// beyond the limits above.
Scenario ReadScenarioFile(const std::string &path);
Scenario ParseScenarioText(const std::string &text, const std::string &path);

// The first line of a scenario file's description (the BEGIN_DESC ...
// END_DESC block) that is not blank, trimmed; empty if it has none. Reads
// nothing else of the file, so a scenario that would not fly still has one.
std::string FirstDescriptionLine(const std::string &text);

// Adds a warning unless one of the same kind was given.
void WarnOnce(std::vector<std::string> &warnings, const std::string &message);

}  // namespace vtal::sim
