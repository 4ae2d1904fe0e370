// The flight host's speed: frames per second and the real-time factor of the
// default descent, flown headless and quiet, and the Monte-Carlo throughput
// in descents per second per core. Rates are taken against wall-clock time,
// measured here around the timed loop: a campaign's work is done in child
// processes, whose time the benchmark library's CPU clock does not see.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "montecarlo/Campaign.h"
#include "sim/run/Flight.h"
#include "sim/files/Installation.h"
#include "sim/files/Scenario.h"
#include "sim/hostapi/SimBackend.h"
#include "sim/world/World.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

const char *Root() { return VTAL_BENCH_ROOT; }

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The default descent flown as `vtal-sim --quiet` flies it, its text output
// going to `discarded`.
vtal::sim::RunOptions QuietRun(std::ostringstream &discarded) {
    vtal::sim::RunOptions o;
    o.root = Root();
    o.quiet = true;
    o.progress = false;
    o.out = &discarded;
    o.err = &discarded;
    return o;
}

// The whole default descent as `vtal-sim --quiet` flies it: installation and
// scenario read, module loaded, flown until the lander has rested, reported.
void BM_DefaultDescent(benchmark::State &state) {
    std::ostringstream discarded;
    const vtal::sim::RunOptions o = QuietRun(discarded);
    double simulated = 0.0, frames = 0.0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        const vtal::sim::RunResult r = vtal::sim::Fly(o);
        simulated += r.endTime;
        frames += static_cast<double>(r.frames);
    }
    const double wall = Seconds(Clock::now() - start);
    state.counters["frames_per_second"] = frames / wall;
    state.counters["real_time_factor"] = simulated / wall;
    state.counters["simulated_s"] = simulated / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DefaultDescent)->Unit(benchmark::kMillisecond)->UseRealTime();

// A run's cost apart from its frames: installation and scenario read, module
// loaded and set up, the world built, the report written.
void BM_DefaultDescentSetup(benchmark::State &state) {
    std::ostringstream discarded;
    vtal::sim::RunOptions o = QuietRun(discarded);
    o.until = 0.0;
    for (auto _ : state) benchmark::DoNotOptimize(vtal::sim::Fly(o));
}
BENCHMARK(BM_DefaultDescentSetup)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The frame loop alone: the world is created outside the timing, then
// stepped for as many frames as the default descent takes.
void BM_DefaultDescentFrames(benchmark::State &state) {
    const vtal::sim::Installation installation(Root());
    const vtal::sim::Scenario scenario = vtal::sim::ReadScenarioFile(installation.DefaultScenario());
    vtal::sim::WorldOptions wo;
    wo.dt = vtal::sim::kDefaultDt;
    const long frames = static_cast<long>(state.range(0));
    double wall = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        auto world = vtal::sim::MakeWorld(scenario, installation, wo);
        state.ResumeTiming();
        const Clock::time_point start = Clock::now();
        for (long i = 0; i < frames; ++i) world->Step();
        wall += Seconds(Clock::now() - start);
        state.PauseTiming();
        world.reset();
        state.ResumeTiming();
    }
    const double total = static_cast<double>(frames) * static_cast<double>(state.iterations());
    state.counters["frames_per_second"] = total / wall;
    state.counters["real_time_factor"] = total * wo.dt / wall;
}
// 80 s of the default descent: to touchdown and ten seconds on the ground;
// and its first 69.5 s alone, in flight to just before touchdown (the rest,
// in ground contact, is integrated in ten sub-steps a frame at this frame length).
BENCHMARK(BM_DefaultDescentFrames)->Arg(4800)->Arg(4170)->Unit(benchmark::kMillisecond)->UseRealTime();

// Many landers descending side by side, 600 frames: the cost per vessel and
// frame should not grow with the number of vessels.
void BM_ManyLanders(benchmark::State &state) {
    const vtal::sim::Installation installation(Root());
    const std::string text = ReadText(installation.DefaultScenario());
    const auto begin = text.find("Lander:vtal"), end = text.find("END_SHIPS");
    const std::string block = text.substr(begin, end - begin);
    const long count = static_cast<long>(state.range(0));
    std::string ships;
    for (long i = 0; i < count; ++i) ships += "Lander" + std::to_string(i) + block.substr(6);
    std::string many = text.substr(0, begin) + ships + text.substr(end);
    const auto focus = many.find("Ship Lander");
    many.replace(focus, std::string("Ship Lander").size(), "Ship Lander0");
    const vtal::sim::Scenario scenario = vtal::sim::ParseScenarioText(many, "many.scn");
    vtal::sim::WorldOptions wo;
    constexpr long kFrames = 600;
    double wall = 0.0, cpu = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        auto world = vtal::sim::MakeWorld(scenario, installation, wo);
        state.ResumeTiming();
        const Clock::time_point start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        for (long i = 0; i < kFrames; ++i) world->Step();
        cpu += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        wall += Seconds(Clock::now() - start);
        state.PauseTiming();
        world.reset();
        state.ResumeTiming();
    }
    const double vesselFrames = static_cast<double>(kFrames) * static_cast<double>(count) * static_cast<double>(state.iterations());
    state.counters["ns_per_vessel_frame"] = wall * 1e9 / vesselFrames;
    state.counters["cpu_ns_per_vessel_frame"] = cpu * 1e9 / vesselFrames;
}
BENCHMARK(BM_ManyLanders)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Processor time of this process and of its children reaped so far, s.
double ProcessorSeconds() {
    double total = 0.0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval &t : {usage.ru_utime, usage.ru_stime})
            total += static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    }
    return total;
}

// A campaign of the default dispersions, flown by worker processes that
// load the module afresh for every run; the argument is the number of
// workers. Beside the rates against wall-clock time (which a busy machine
// slows), the processor time a descent costs, the workers' included: on a
// shared machine the steadier figure.
void BM_MonteCarloCampaign(benchmark::State &state) {
    const int jobs = static_cast<int>(state.range(0));
    const long runs = 200L * jobs;
    vtal::montecarlo::CampaignOptions options;
    options.root = Root();
    options.runs = runs;
    options.jobs = jobs;
    const vtal::montecarlo::CampaignSetup setup = vtal::montecarlo::PrepareCampaign(options);
    double wall = 0.0, processor = 0.0;
    long flown = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const double processorStart = ProcessorSeconds();
        const std::vector<vtal::montecarlo::RunRecord> records = vtal::montecarlo::RunCampaign(setup, nullptr);
        wall += Seconds(Clock::now() - start);
        processor += ProcessorSeconds() - processorStart;
        for (const vtal::montecarlo::RunRecord &r : records) {
            if (r.outcome != vtal::montecarlo::Outcome::Error) continue;
            state.SkipWithError(r.failure);
            return;
        }
        flown += static_cast<long>(records.size());
    }
    const double perSecond = static_cast<double>(flown) / wall;
    state.counters["descents_per_second"] = perSecond;
    state.counters["descents_per_second_per_core"] = perSecond / jobs;
    state.counters["s_per_10000_runs"] = 10000.0 / perSecond;
    state.counters["cpu_ms_per_descent"] = processor * 1e3 / static_cast<double>(flown);
}
BENCHMARK(BM_MonteCarloCampaign)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
