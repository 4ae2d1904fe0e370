// Dispersions of a descent's start state. Each quantity is either left as
// the scenario has it, or drawn from a uniform or a normal distribution.
// All quantities but the horizontal velocity are offsets from the
// scenario's value ("around" the scenario); the horizontal velocity drawn
// (speed and direction) is added to the scenario's. Values are in the units
// a user thinks in: metres, metres per second, kilograms, degrees and
// degrees per second.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vtal::montecarlo {

enum class Quantity : int {
    Altitude,             // m, offset
    SinkRate,             // m/s downward, offset
    HorizontalSpeed,      // m/s, speed of the horizontal velocity added
    HorizontalDirection,  // deg from north towards east, direction of that velocity
    Pitch,                // deg, offset
    Bank,                 // deg, offset
    Heading,              // deg, offset
    PitchRate,            // deg/s about the vessel's x axis, offset
    YawRate,              // deg/s about the vessel's y axis, offset
    BankRate,             // deg/s about the vessel's z axis, offset
    Propellant,           // kg in the main tank, offset
};
constexpr int kQuantityCount = 11;

struct QuantityInfo {
    const char *name;  // as written on the command line and in files
    const char *unit;
    const char *meaning;
    // The largest magnitude a bound, mean or standard deviation may have:
    // far beyond any descent, and small enough that every draw and the start
    // made from it stay ordinary numbers.
    double limit;
};
const QuantityInfo &Info(Quantity q);
inline Quantity QuantityAt(int i) { return static_cast<Quantity>(i); }

// Bad dispersion input: the message says what was wrong and where.
class DispersionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Distribution {
    enum class Kind { None, Uniform, Normal };
    Kind kind = Kind::None;
    double first = 0.0;   // uniform: lower bound; normal: mean
    double second = 0.0;  // uniform: upper bound; normal: standard deviation

    static Distribution None() { return {}; }
    static Distribution Uniform(double lo, double hi) { return {Kind::Uniform, lo, hi}; }
    static Distribution Normal(double mean, double sigma) { return {Kind::Normal, mean, sigma}; }
    bool operator==(const Distribution &o) const {
        return kind == o.kind && first == o.first && second == o.second;
    }
};

using DispersionSet = std::array<Distribution, kQuantityCount>;

constexpr std::size_t kMaxDispersionFileBytes = 1u << 20;

// The campaign defaults, documented with the command's help.
DispersionSet DefaultDispersions();
// Every quantity as the scenario has it.
DispersionSet NoDispersions();

// "uniform:LO:HI", "normal:SIGMA", "normal:MEAN:SIGMA" or "none".
Distribution ParseDistribution(const std::string &text);
// "NAME=DIST": replaces the named quantity's distribution in `set`.
void ApplyDispersionArgument(DispersionSet &set, const std::string &argument);
// Replaces the distributions that a JSON file names (others are kept); a
// name given twice, a number beyond a double, or a file that is no regular
// file (or larger than kMaxDispersionFileBytes) is refused:
//   { "altitude": {"distribution": "uniform", "min": -100, "max": 100},
//     "pitch":    {"distribution": "normal", "sigma": 3},
//     "heading":  {"distribution": "none"} }
void ApplyDispersionFile(DispersionSet &set, const std::string &path);
void ApplyDispersionJson(DispersionSet &set, const std::string &text, const std::string &origin);

// The quantity named `name`; throws DispersionError listing the known names.
Quantity QuantityNamed(const std::string &name);
// "uniform -100 .. 100 m", "normal mean 0 sigma 3 deg", "none".
std::string Describe(const Distribution &d, Quantity q);

// What one run draws, per quantity, in the quantity's units.
using Draw = std::array<double, kQuantityCount>;
Draw DrawStart(const DispersionSet &set, std::uint64_t runSeed);

}  // namespace vtal::montecarlo
