// Whatever flight state the host reports, finite or not, every number the
// pre-step hands back to the host is finite and every thrust level is in [0, 1].
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "GuidanceTestSupport.h"
#include "guidance/DescentSequencer.h"

namespace vtal::testing {
namespace {

using Limits = std::numeric_limits<double>;

class FlightStateGenerator {
public:
    explicit FlightStateGenerator(std::uint64_t seed) : rng_(seed) {}

    // Mostly plausible values within +-scale, sometimes a signed zero, often
    // something no sane host reports.
    double Value(double scale) {
        const double roll = Uniform(0.0, 1.0);
        if (roll < 0.55) return Uniform(-scale, scale);
        if (roll < 0.65) return Pick({0.0, -0.0});
        return Special();
    }
    double Special() {
        return Pick({Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(), Limits::max(), -Limits::max(),
                     Limits::min(), -Limits::min(), Limits::denorm_min(), -Limits::denorm_min(), 1e300, -1e300,
                     1e-300, -1e-300, 0.0, -0.0});
    }
    // Band edges and their neighbours, anywhere in the descent, or nonsense.
    double Altitude() {
        const double roll = Uniform(0.0, 1.0);
        if (roll < 0.35) {
            const double edge = Pick({0.8, 1.0, 5.0, 27.0, 230.0, 830.0, 860.0, 940.0, 960.0});
            return Pick({edge, std::nextafter(edge, 0.0), std::nextafter(edge, 2000.0)});
        }
        if (roll < 0.85) return Uniform(-5.0, 1000.0);
        return Special();
    }
    double Angle() {
        const double roll = Uniform(0.0, 1.0);
        if (roll < 0.2) return Pick({0.7853981633974475, -0.7853981633974475, 1.570796326794895, -1.570796326794895,
                                     1.5707963267948966, -1.5707963267948966, 3.14159265358979});
        return roll < 0.85 ? Uniform(-3.2, 3.2) : Special();
    }
    double Fraction() { return Uniform(0.0, 1.0) < 0.8 ? Uniform(0.0, 1.0) : Special(); }
    double Positive(double high) { return Uniform(0.0, 1.0) < 0.8 ? Uniform(0.0, high) : Special(); }
    VECTOR3 Vector(double scale) { return _V(Value(scale), Value(scale), Value(scale)); }
    bool Coin() { return Uniform(0.0, 1.0) < 0.5; }
    // The host's heading runs over [0, 2 pi); near the target, or nonsense.
    double Heading() {
        const double roll = Uniform(0.0, 1.0);
        if (roll < 0.3) return 3.14159265358979 + Uniform(-0.02, 0.02);
        return roll < 0.85 ? Uniform(0.0, 6.283185307179586) : Special();
    }

private:
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    double Pick(std::initializer_list<double> values) {
        std::uniform_int_distribution<std::size_t> index(0, values.size() - 1);
        return values.begin()[index(rng_)];
    }
    std::mt19937_64 rng_;
};

using HostLevelsPropertyTest = GuidanceTest;

TEST_F(HostLevelsPropertyTest, EveryNumberReachingTheHostIsFiniteAndEveryLevelWithinZeroAndOne) {
    FlightStateGenerator gen(20240611);
    std::map<guidance::DescentBand, int> bandsFlown;
    int verticalButTurning = 0, badFrames = 0;
    std::string firstBad;

    for (int frame = 0; frame < 20000; ++frame) {
        recording::VesselScript &f = Flight();
        f.altitude = gen.Altitude();
        f.airspeed = gen.Positive(30.0);
        f.mass = gen.Positive(1000.0);
        f.pitch = gen.Angle();
        f.bank = gen.Angle();
        f.angularVel = gen.Vector(1.0);
        f.shipAirspeed = gen.Vector(40.0);
        f.horizonAirspeed = gen.Vector(40.0);
        if (gen.Coin()) f.horizonAirspeed.y = -std::fabs(f.horizonAirspeed.y);  // mostly sinking
        if (gen.Coin()) f.shipAirspeed.z = 0.0;                                  // straight down the thrust axis
        f.weight = _V(gen.Value(10.0), -gen.Positive(2000.0), gen.Value(10.0));
        f.groupLevel[5] = gen.Fraction();
        f.groupLevel[6] = gen.Fraction();
        f.groundContact = gen.Coin();
        f.heading = gen.Heading();
        rec.simTime = gen.Value(1000.0);
        moduleState.manualOverride = gen.Coin() ? 0 : 1;
        moduleState.lidarOn = gen.Coin() ? 1 : 0;
        moduleState.descentPresetDone = gen.Coin() ? 1 : 0;
        moduleState.dustCreated = gen.Coin() ? 1 : 0;
        moduleState.legsPreset = gen.Coin() ? 1 : 0;
        moduleState.crashShown = gen.Coin() ? 1 : 0;
        moduleState.crashTime = gen.Value(1000.0);

        if (f.altitude < 940.0 && moduleState.manualOverride == 0) {
            const auto band = guidance::SelectDescentBand(f.altitude, f.horizonAirspeed.y);
            ++bandsFlown[band];
            if (band == guidance::DescentBand::Terminal && f.shipAirspeed.z == 0.0 && f.angularVel.x != 0.0 &&
                std::isfinite(f.angularVel.x))
                ++verticalButTurning;
        }

        rec.clear();
        lander->clbkPreStep(rec.simTime, 0.02, 51000.0);

        for (const recording::Call &c : rec.calls) {
            bool bad = false;
            for (const recording::Arg &a : c.args)
                if (const double *d = std::get_if<double>(&a)) bad = bad || !std::isfinite(*d);
            if (c.name == "SetThrusterLevel" || c.name == "SetThrusterGroupLevel")
                bad = bad || !(c.num(1) >= 0.0 && c.num(1) <= 1.0);
            if (bad && badFrames++ == 0) {
                std::ostringstream out;
                out << "frame " << frame << ": " << c.name << " h=" << f.altitude << " v=" << f.horizonAirspeed.y
                    << " m=" << f.mass << " pitch=" << f.pitch << " bank=" << f.bank;
                firstBad = out.str();
            }
        }
    }
    EXPECT_EQ(badFrames, 0) << firstBad;
    // The generator really flew every band the supervisor can reach, and the
    // exactly vertical descent with a pitch rate.
    using guidance::DescentBand;
    for (DescentBand band : {DescentBand::Touchdown, DescentBand::NotSinking, DescentBand::Hover, DescentBand::Terminal,
                             DescentBand::SinkRateLaw, DescentBand::Preset, DescentBand::HoldLevel})
        EXPECT_GT(bandsFlown[band], 200) << static_cast<int>(band);
    EXPECT_GT(verticalButTurning, 50);
}

}  // namespace
}  // namespace vtal::testing
