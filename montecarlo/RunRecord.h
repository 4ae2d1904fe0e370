// Everything one run of a campaign produces: its seed, what it drew, the
// start it actually flew (read back from the flight host after the
// dispersions were applied) and how it ended. Plain data of fixed size, so a
// run's process can send it back whole.
#pragma once

#include <cstdint>
#include <type_traits>

#include "montecarlo/Dispersion.h"
#include "montecarlo/Outcome.h"

namespace vtal::montecarlo {

// Start values per quantity in the quantity's units, as absolute values:
// altitude m, sink rate m/s (down positive), horizontal speed m/s and its
// direction deg, pitch, bank, heading deg, body rates deg/s, propellant kg.
using StartValues = std::array<double, kQuantityCount>;

struct RunRecord {
    long index = 0;
    std::uint64_t seed = 0;
    Draw draw{};             // offsets drawn, in the quantities' units
    StartValues start{};     // as flown
    unsigned clamped = 0;    // bit per quantity: the drawn value was brought within its limits

    Outcome outcome = Outcome::Error;
    bool crashNotice = false;
    bool ranDry = false;
    double touchdownTime = 0.0;       // s; end of the run if there was no touchdown
    double touchdownSinkSpeed = 0.0;  // m/s, downward positive
    double touchdownHorizontalSpeed = 0.0;  // m/s
    double touchdownPitch = 0.0, touchdownBank = 0.0, touchdownTilt = 0.0;  // deg
    double finalTilt = 0.0;           // deg
    double drift = 0.0;               // m along the surface from the start point to the touchdown point
    double propellantUsed = 0.0;      // kg from the main tank, start to touchdown
    double propellantBound = 0.0;     // kg, the least any descent from this start could use
    double endTime = 0.0;             // s
    char failure[240] = {};           // why a run could not be flown
};
static_assert(std::is_trivially_copyable<RunRecord>::value, "a record crosses a pipe as bytes");

}  // namespace vtal::montecarlo
