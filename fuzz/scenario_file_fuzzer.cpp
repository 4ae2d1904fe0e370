// Feeds arbitrary bytes to the flight host's reader of whole scenario files
// (sections, vessel blocks, standard lines, module lines). Fails (aborts)
// when anything but InputError escapes, when an error message grows with
// the input instead of quoting it short, or when an accepted file holds a
// vessel whose state lies beyond the limits the reader promises.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/base/InputError.h"
#include "sim/files/Scenario.h"

namespace {

// A message names a file, a line and a few short quotes: never the input.
const std::size_t kLongestMessage = 1000;

[[noreturn]] void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "scenario file fuzz: %s: %s\n", what, detail.substr(0, 200).c_str());
    std::abort();
}

void CheckState(const vtal::sim::VesselBlock &b) {
    using vtal::sim::StandardStatus;
    const StandardStatus &st = b.status;
    if (st.kind == StandardStatus::Kind::Unset) Fail("a vessel without STATUS was accepted", b.name);
    if (!st.rpos.allFinite() || !st.rvel.allFinite() || !st.arotDeg.allFinite() || !st.vrotDegPerSecond.allFinite())
        Fail("a non-number was accepted", b.name);
    if (st.kind == StandardStatus::Kind::Flying && st.hasRpos) {
        const double r = st.rpos.stableNorm();
        if (r < vtal::sim::kMinCentreDistance || r > vtal::sim::kMaxCentreDistance) Fail("RPOS beyond its limits", b.name);
        if (st.hasRvel && st.rvel.stableNorm() > vtal::sim::kMaxSpeed) Fail("RVEL beyond its limit", b.name);
    }
    if (st.hasVrot && st.vrotDegPerSecond.cwiseAbs().maxCoeff() > vtal::sim::kMaxBodyRate) Fail("VROT beyond its limit", b.name);
    if (b.className.find_first_of("/\\") != std::string::npos || b.className == "..")
        Fail("a class name that is a path was accepted", b.className);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const vtal::sim::Scenario scn = vtal::sim::ParseScenarioText(text, "fuzz.scn");
        if (!scn.body) Fail("accepted without a central body", "");
        if (scn.vessels.empty()) Fail("accepted without a vessel", "");
        if (!(scn.mjd >= vtal::sim::kEarliestMjd && scn.mjd <= vtal::sim::kLatestMjd))
            Fail("a date outside the dates flown was accepted", std::to_string(scn.mjd));
        for (const vtal::sim::VesselBlock &b : scn.vessels) CheckState(b);
        for (const std::string &w : scn.warnings)
            if (w.size() > kLongestMessage) Fail("an overlong warning", w);
    } catch (const vtal::sim::InputError &e) {
        if (std::string(e.what()).size() > kLongestMessage) Fail("an overlong error message", e.what());
    }
    return 0;
}
