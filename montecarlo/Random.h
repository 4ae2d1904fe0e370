// Deterministic random numbers for campaigns. Every run draws from its own
// generator, seeded from the campaign seed and the run's index, so a run can
// be flown again alone and gives the same start whatever else ran. Each
// dispersed quantity has a stream of its own within the run, so dispersing
// one quantity never changes what another draws. The generators and the
// transforms to uniform and normal numbers are written out here rather than
// taken from <random>, whose distributions differ between standard libraries.
#pragma once

#include <cstdint>

namespace vtal::montecarlo {

// SplitMix64: turns any 64-bit value into a well-mixed one; used to derive seeds.
std::uint64_t Mix64(std::uint64_t x);

// The seed of run `index` of a campaign seeded with `campaignSeed`.
std::uint64_t RunSeed(std::uint64_t campaignSeed, std::uint64_t index);

// xoshiro256**: small, fast, and good enough for sampling start states.
class Generator {
public:
    explicit Generator(std::uint64_t seed);
    std::uint64_t next();
    // Uniform in [0, 1), 53 random bits.
    double uniform();
    // Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Box-Muller, one value per call).
    double normal();

private:
    std::uint64_t s_[4];
};

// The generator of one quantity (by its number) within one run.
Generator QuantityGenerator(std::uint64_t runSeed, int quantity);

}  // namespace vtal::montecarlo
