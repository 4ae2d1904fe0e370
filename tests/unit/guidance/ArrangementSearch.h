// The guidance's formulas are evaluated in fixed arrangements that round as
// the descent was tuned. An algebraically equal rewrite of one gives the
// same value at most states, so a worked example chosen by hand rarely tells
// them apart. These helpers search candidate states for one at which the
// arrangement and every rewrite of it differ in the last bit; the tests pin
// the arrangement's result there.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vtal::testing {

using Inputs = std::vector<double>;
using Formula = std::function<double(const Inputs &)>;

struct Rewrite {
    const char *name;
    Formula value;
};

// A formula of the guidance: how to draw candidate states for it, which
// states it is meant for (e.g. an unclamped level), the arrangement as the
// module computes it and its algebraically equal rewrites.
struct Arrangement {
    const char *name;
    std::function<Inputs(std::uint64_t &)> draw;  // from a generator state
    std::function<bool(const Inputs &)> applies;
    Formula module;
    std::vector<Rewrite> rewrites;
};

inline std::uint64_t Bits(double x) {
    std::uint64_t b = 0;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// SplitMix64: a fixed sequence on every machine.
inline std::uint64_t NextRandom(std::uint64_t &state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [lo, hi).
inline double Between(std::uint64_t &state, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(NextRandom(state) >> 11) * 0x1.0p-53;
}

// The rewrites whose result at `in` has the same bits as the module's.
inline std::vector<std::string> RewritesAgreeingAt(const Arrangement &a, const Inputs &in) {
    std::vector<std::string> agreeing;
    const std::uint64_t module = Bits(a.module(in));
    for (const Rewrite &r : a.rewrites)
        if (Bits(r.value(in)) == module) agreeing.push_back(r.name);
    return agreeing;
}

// The first of `tries` candidate states (drawn from `seed`) to which the
// formula applies and at which every rewrite differs from the module in its
// bits; none if no candidate does.
inline std::optional<Inputs> FindTellingState(const Arrangement &a, std::uint64_t seed, int tries) {
    std::uint64_t state = seed;
    for (int i = 0; i < tries; ++i) {
        const Inputs in = a.draw(state);
        if (a.applies(in) && RewritesAgreeingAt(a, in).empty()) return in;
    }
    return std::nullopt;
}

// States that together tell every rewrite apart: one that tells them all,
// if `tries` candidates hold one; else, greedily, a state for the rewrites
// not told apart yet, each telling as many of them as any candidate did.
inline std::vector<Inputs> FindTellingStates(const Arrangement &a, std::uint64_t seed, int tries) {
    if (std::optional<Inputs> one = FindTellingState(a, seed, tries)) return {*one};
    std::vector<Inputs> states;
    std::vector<bool> told(a.rewrites.size(), false);
    for (;;) {
        std::uint64_t state = seed;
        Inputs best;
        std::size_t bestCount = 0;
        for (int i = 0; i < tries; ++i) {
            const Inputs in = a.draw(state);
            if (!a.applies(in)) continue;
            const std::uint64_t module = Bits(a.module(in));
            std::size_t count = 0;
            for (std::size_t k = 0; k < a.rewrites.size(); ++k)
                if (!told[k] && Bits(a.rewrites[k].value(in)) != module) ++count;
            if (count > bestCount) best = in, bestCount = count;
        }
        if (bestCount == 0) return states;  // the rest are never told apart
        const std::uint64_t module = Bits(a.module(best));
        for (std::size_t k = 0; k < a.rewrites.size(); ++k)
            if (Bits(a.rewrites[k].value(best)) != module) told[k] = true;
        states.push_back(best);
    }
}

}  // namespace vtal::testing
