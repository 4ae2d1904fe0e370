// Feeds arbitrary bytes to the campaign's reader of dispersion files (JSON).
// Fails (aborts) when anything but DispersionError escapes, when a set it
// accepts breaks a quantity's limit, or when a start drawn from an accepted
// set is not a number.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "montecarlo/Dispersion.h"

namespace {

using vtal::montecarlo::Distribution;

const std::size_t kLongestMessage = 1000;
const std::uint64_t kSeeds[] = {0, 1, 0xFFFFFFFFFFFFFFFFull};

[[noreturn]] void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "dispersion fuzz: %s: %s\n", what, detail.substr(0, 200).c_str());
    std::abort();
}

void CheckSet(const vtal::montecarlo::DispersionSet &set) {
    for (int i = 0; i < vtal::montecarlo::kQuantityCount; ++i) {
        const Distribution &d = set[static_cast<std::size_t>(i)];
        const auto &info = vtal::montecarlo::Info(vtal::montecarlo::QuantityAt(i));
        if (d.kind == Distribution::Kind::None) continue;
        if (!(std::fabs(d.first) <= info.limit) || !(std::fabs(d.second) <= info.limit))
            Fail("a dispersion beyond its limit was accepted", info.name);
    }
    for (const std::uint64_t seed : kSeeds) {
        const vtal::montecarlo::Draw draw = vtal::montecarlo::DrawStart(set, seed);
        for (const double x : draw)
            if (!std::isfinite(x)) Fail("a draw is not a number", std::to_string(seed));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    vtal::montecarlo::DispersionSet set = vtal::montecarlo::DefaultDispersions();
    try {
        vtal::montecarlo::ApplyDispersionJson(set, text, "fuzz.json");
    } catch (const vtal::montecarlo::DispersionError &e) {
        if (std::string(e.what()).size() > kLongestMessage) Fail("an overlong error message", e.what());
        if (!(set == vtal::montecarlo::DefaultDispersions())) Fail("a refused file changed the set", "");
        return 0;
    }
    CheckSet(set);
    return 0;
}
