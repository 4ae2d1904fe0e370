// Whole campaigns flown by the flight host from the staged installation.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "montecarlo/Campaign.h"
#include "montecarlo/Report.h"
#include "montecarlo/StartState.h"
#include "recording/RecordingBackend.h"
#include "TempPath.h"
#include "sim/run/Flight.h"
#include "sim/vessel/FlightState.h"

namespace {

using namespace vtal::montecarlo;
using vtal::montecarlo::testing::TempPath;

// Under the sanitizers a descent takes a second instead of milliseconds: the
// campaign there is 40 runs, enough for what they look for (each process
// flies some, and every outcome the runs meet is replayed).
#if defined(__SANITIZE_ADDRESS__)
constexpr long kCampaignRuns = 40;
#else
constexpr long kCampaignRuns = 1000;
#endif

CampaignOptions Options(long runs, int jobs, std::uint64_t seed = 7) {
    CampaignOptions o;
    o.root = VTAL_SIM_ROOT;
    o.runs = runs;
    o.jobs = jobs;
    o.seed = seed;
    return o;
}

CampaignInfo InfoOf(const CampaignSetup &setup) {
    CampaignInfo info;
    info.scenario = setup.scenarioPath;
    info.seed = setup.options.seed;
    info.dispersions = setup.options.dispersions;
    info.thresholds = setup.options.thresholds;
    return info;
}

double Value(const StartValues &s, Quantity q) { return s[static_cast<int>(q)]; }

// A 1,000-run campaign of the default dispersions, flown once with one
// process at a time and once with two: the same records, so the same
// summary. Every run is flown, the starts differ, and any run flown alone
// from the campaign seed and its index gives its row again: the first, the
// last, and the first of every outcome that occurred.
TEST(DefaultCampaign, SameResultsWhateverTheJobsAndEveryRunReplays) {
    const CampaignSetup serial = PrepareCampaign(Options(kCampaignRuns, 1));
    const CampaignSetup parallel = PrepareCampaign(Options(kCampaignRuns, 2));
    const std::vector<RunRecord> oneJob = RunCampaign(serial, nullptr);
    const std::vector<RunRecord> twoJobs = RunCampaign(parallel, nullptr);
    ASSERT_EQ(oneJob.size(), static_cast<std::size_t>(kCampaignRuns));
    ASSERT_EQ(twoJobs.size(), static_cast<std::size_t>(kCampaignRuns));
    EXPECT_EQ(Summary(InfoOf(serial), oneJob), Summary(InfoOf(parallel), twoJobs));
    for (std::size_t i = 0; i < oneJob.size(); ++i) ASSERT_EQ(CsvRow(oneJob[i]), CsvRow(twoJobs[i])) << "run " << i;

    long touchedDown = 0;
    double lo = 1e9, hi = -1e9;
    for (const RunRecord &r : oneJob) {
        EXPECT_NE(r.outcome, Outcome::Error) << "run " << r.index << ": " << r.failure;
        if (r.outcome != Outcome::Timeout && r.outcome != Outcome::Error) ++touchedDown;
        lo = std::min(lo, Value(r.start, Quantity::SinkRate));
        hi = std::max(hi, Value(r.start, Quantity::SinkRate));
    }
    EXPECT_GT(touchedDown, kCampaignRuns * 9 / 10);
    EXPECT_GT(hi - lo, 15.0) << "the runs are not one start flown many times";

    std::vector<long> picks = {0, kCampaignRuns - 1};
    bool seen[kOutcomeCount] = {};
    for (const RunRecord &r : oneJob) {
        if (!seen[static_cast<int>(r.outcome)]) picks.push_back(r.index);
        seen[static_cast<int>(r.outcome)] = true;
    }
    for (long i : picks) {
        const RunRecord replayed = ReplayRun(serial, i, "");
        EXPECT_EQ(CsvRow(replayed), CsvRow(oneJob[static_cast<std::size_t>(i)])) << "run " << i;
    }
}

// The start of a run, read from the flight host's world when a scenario is
// flown (before the first frame).
StartValues FlownStart(const std::string &scenarioPath) {
    StartValues s{};
    vtal::sim::RunOptions o;
    o.root = VTAL_SIM_ROOT;
    o.scenario = scenarioPath;
    o.quiet = true;
    o.progress = false;
    o.until = 0.0;
    o.onStart = [&s](vtal::sim::World &world) {
        using namespace vtal::sim;
        const Vessel &v = *world.Focus();
        const HorizonFrame h = HorizonAt(v.motion.positionGlobal, world.Body());
        const Vec3 ground = GroundVelocity(v, world.Body());
        const Vec3 horizontal = ground - ground.dot(h.up) * h.up;
        auto set = [&s](Quantity q, double x) { s[static_cast<int>(q)] = x; };
        set(Quantity::Altitude, Altitude(v, world.Body()));
        set(Quantity::SinkRate, -VerticalSpeed(v));
        set(Quantity::HorizontalSpeed, HorizontalSpeed(v, world.Body()));
        double direction = std::atan2(horizontal.dot(h.east), horizontal.dot(h.north)) / kRadPerDeg;
        set(Quantity::HorizontalDirection, direction < 0 ? direction + 360 : direction);
        set(Quantity::Pitch, Pitch(v) / kRadPerDeg);
        set(Quantity::Bank, Bank(v) / kRadPerDeg);
        set(Quantity::Heading, Heading(v, world.Body()) / kRadPerDeg);
        set(Quantity::PitchRate, v.motion.bodyRates.x() / kRadPerDeg);
        set(Quantity::YawRate, v.motion.bodyRates.y() / kRadPerDeg);
        set(Quantity::BankRate, v.motion.bodyRates.z() / kRadPerDeg);
        set(Quantity::Propellant, MainTank(v)->mass);
    };
    vtal::sim::Fly(o);
    return s;
}

double AngleDifference(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180) d -= 360;
    if (d < -180) d += 360;
    return d;
}

struct DispersedCase {
    const char *argument;   // the one dispersion of the campaign
    Quantity quantity;      // the quantity it moves
    double tolerance;
};

void PrintTo(const DispersedCase &c, std::ostream *os) { *os << c.argument; }

class DispersionApplied : public ::testing::TestWithParam<DispersedCase> {};

// One quantity dispersed: the start written out for the run and flown as an
// ordinary scenario differs from the undispersed start by what the run drew
// in that quantity, and in no other.
TEST_P(DispersionApplied, TheRunFliesTheDispersedStart) {
    const DispersedCase c = GetParam();
    CampaignOptions nominalOptions = Options(1, 1);
    nominalOptions.dispersions = NoDispersions();
    const std::string nominalPath = TempPath("nominal.scn");
    ReplayRun(PrepareCampaign(nominalOptions), 0, nominalPath);
    const StartValues nominal = FlownStart(nominalPath);

    CampaignOptions options = nominalOptions;
    ApplyDispersionArgument(options.dispersions, c.argument);
    const CampaignSetup setup = PrepareCampaign(options);
    for (long run : {3L, 11L}) {
        const std::string path = TempPath("dispersed.scn");
        const RunRecord r = ReplayRun(setup, run, path);
        ASSERT_NE(r.outcome, Outcome::Error) << r.failure;
        const StartValues flown = FlownStart(path);
        std::remove(path.c_str());
        const double drawn = r.draw[static_cast<int>(c.quantity)];
        ASSERT_NE(drawn, 0.0);
        for (int i = 0; i < kQuantityCount; ++i) {
            const Quantity q = QuantityAt(i);
            const bool angle = q == Quantity::Heading || q == Quantity::HorizontalDirection;
            if (q == Quantity::HorizontalDirection) continue;  // checked with the speed
            if (c.quantity == Quantity::HorizontalSpeed && q == Quantity::HorizontalSpeed) continue;
            const double expected = (q == c.quantity) ? drawn : 0.0;
            const double moved = angle ? AngleDifference(Value(flown, q), Value(nominal, q))
                                       : Value(flown, q) - Value(nominal, q);
            EXPECT_NEAR(moved, expected, c.tolerance) << Info(q).name << " in run " << run;
            EXPECT_NEAR(Value(flown, q), Value(r.start, q), c.tolerance) << "the record's start of " << Info(q).name;
        }
    }
    std::remove(nominalPath.c_str());
}

// The default descent starts with no horizontal velocity, so the one added
// is the whole of it.
TEST(DispersionApplied, HorizontalVelocityOfTheDrawnSpeedAndDirection) {
    CampaignOptions options = Options(1, 1);
    options.dispersions = NoDispersions();
    ApplyDispersionArgument(options.dispersions, "horizontal_speed=uniform:2:8");
    ApplyDispersionArgument(options.dispersions, "horizontal_direction=uniform:0:360");
    const CampaignSetup setup = PrepareCampaign(options);
    const std::string path = TempPath("horizontal.scn");
    for (long run : {0L, 5L, 9L}) {
        const RunRecord r = ReplayRun(setup, run, path);
        const StartValues flown = FlownStart(path);
        EXPECT_NEAR(Value(flown, Quantity::HorizontalSpeed), r.draw[static_cast<int>(Quantity::HorizontalSpeed)], 1e-6);
        EXPECT_NEAR(AngleDifference(Value(flown, Quantity::HorizontalDirection),
                                    r.draw[static_cast<int>(Quantity::HorizontalDirection)]),
                    0.0, 1e-6);
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    EachQuantity, DispersionApplied,
    ::testing::Values(DispersedCase{"altitude=uniform:-300:300", Quantity::Altitude, 1e-6},
                      DispersedCase{"sink_rate=uniform:-8:8", Quantity::SinkRate, 1e-6},
                      DispersedCase{"pitch=normal:10", Quantity::Pitch, 1e-6},
                      DispersedCase{"bank=normal:10", Quantity::Bank, 1e-6},
                      DispersedCase{"heading=uniform:-90:90", Quantity::Heading, 1e-6},
                      DispersedCase{"pitch_rate=normal:2", Quantity::PitchRate, 1e-6},
                      DispersedCase{"yaw_rate=normal:2", Quantity::YawRate, 1e-6},
                      DispersedCase{"bank_rate=normal:2", Quantity::BankRate, 1e-6},
                      DispersedCase{"propellant=uniform:-30:-1", Quantity::Propellant, 1e-6}));

TEST(Campaign, StartBroughtWithinItsLimitsAndCounted) {
    CampaignOptions options = Options(1, 1);
    options.dispersions = NoDispersions();
    ApplyDispersionArgument(options.dispersions, "altitude=uniform:-5000:-4000");
    ApplyDispersionArgument(options.dispersions, "propellant=uniform:100:200");
    const RunRecord r = ReplayRun(PrepareCampaign(options), 0, "");
    EXPECT_NEAR(Value(r.start, Quantity::Altitude), kMinStartAltitude, 1e-6);
    EXPECT_NEAR(Value(r.start, Quantity::Propellant), 67.0, 1e-9);
    EXPECT_EQ(r.clamped, (1u << static_cast<int>(Quantity::Altitude)) | (1u << static_cast<int>(Quantity::Propellant)));
}

// A run in a process that holds the module already would inherit its shared
// state: it refuses to fly.
TEST(Campaign, RefusesToFlyWithTheModuleLoadedAlready) {
    const CampaignSetup setup = PrepareCampaign(Options(1, 1));
    ASSERT_EQ(setup.modulePaths.size(), 1u);
    // Loading runs the module's load hook, which calls the host.
    vtal::recording::RecordingBackend host;
    vtal::recording::ScopedBackend installed(host);
    void *module = dlopen(setup.modulePaths[0].c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_THROW(FlyRun(setup, 0), std::logic_error);
    dlclose(module);
}

// Outcomes that the default dispersions rarely reach, forced by the start.
struct ForcedCase {
    std::vector<const char *> arguments;
    Outcome expected;
};

void PrintTo(const ForcedCase &c, std::ostream *os) { *os << Name(c.expected); }

class ForcedOutcome : public ::testing::TestWithParam<ForcedCase> {};

TEST_P(ForcedOutcome, IsClassifiedAsSuch) {
    CampaignOptions options = Options(1, 1);
    options.dispersions = NoDispersions();
    for (const char *a : GetParam().arguments) ApplyDispersionArgument(options.dispersions, a);
    const RunRecord r = ReplayRun(PrepareCampaign(options), 0, "");
    EXPECT_EQ(r.outcome, GetParam().expected) << CsvRow(r);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, ForcedOutcome,
    ::testing::Values(ForcedCase{{}, Outcome::Soft},
                      // A nearly empty tank: the descent cannot be flown.
                      ForcedCase{{"propellant=uniform:-66.5:-66.5"}, Outcome::OutOfPropellant},
                      // Far too fast, too low: no time to brake.
                      ForcedCase{{"altitude=uniform:-1900:-1900", "sink_rate=uniform:40:40"}, Outcome::Crash}));

}  // namespace
