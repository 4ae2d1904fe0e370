#include "montecarlo/Random.h"

#include <cmath>

namespace vtal::montecarlo {

namespace {

const std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ULL;  // SplitMix64's increment
const double kTwoPi = 6.283185307179586;
const double kUnitPerBit = 1.0 / 9007199254740992.0;  // 2^-53

std::uint64_t RotateLeft(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

std::uint64_t Mix64(std::uint64_t x) {
    x += kGoldenGamma;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::uint64_t RunSeed(std::uint64_t campaignSeed, std::uint64_t index) {
    return Mix64(Mix64(campaignSeed) ^ (index * kGoldenGamma + 1));
}

Generator::Generator(std::uint64_t seed) {
    // Seeding through SplitMix64 never leaves the state all zero.
    std::uint64_t x = seed;
    for (std::uint64_t &word : s_) {
        word = Mix64(x);
        x += kGoldenGamma;
    }
}

std::uint64_t Generator::next() {
    const std::uint64_t result = RotateLeft(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = RotateLeft(s_[3], 45);
    return result;
}

double Generator::uniform() { return static_cast<double>(next() >> 11) * kUnitPerBit; }

double Generator::normal() {
    // 1 - u lies in (0, 1], so the logarithm is finite.
    const double radius = std::sqrt(-2.0 * std::log(1.0 - uniform()));
    return radius * std::cos(kTwoPi * uniform());
}

Generator QuantityGenerator(std::uint64_t runSeed, int quantity) {
    return Generator(Mix64(runSeed + static_cast<std::uint64_t>(quantity + 1) * kGoldenGamma));
}

}  // namespace vtal::montecarlo
