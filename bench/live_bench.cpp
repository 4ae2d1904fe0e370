// A live session's costs on the host's side, with no page: the host's own
// work per frame at 1x (the frame, its telemetry-free recording and the
// state for the page), the largest time acceleration a wake-up sustains at
// 120 wake-ups a second, and how many frames a key takes from its arrival
// to the module's callback.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "sim/live/LiveSession.h"
#include "sim/live/LiveRunner.h"

namespace {

using Clock = std::chrono::steady_clock;
using vtal::sim::live::LiveSession;

constexpr double kFrame = 1.0 / 60.0;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::unique_ptr<LiveSession> NewSession(std::ostringstream &discarded, double warp) {
    vtal::sim::live::SessionOptions o;
    o.run.root = VTAL_BENCH_ROOT;
    o.run.quiet = true;
    o.run.out = o.run.err = &discarded;
    o.warp = warp;
    auto session = std::make_unique<LiveSession>(o, 0.0);
    // States are made as for a page, and dropped here.
    session->SetOutput({[](std::string) {}, [](std::string) {}});
    return session;
}

// One wake-up per frame at 1x: the frame and the state the page is sent.
// Time per iteration is the host's work per frame.
void BM_LiveFrameAtOneX(benchmark::State &state) {
    std::ostringstream discarded;
    auto session = NewSession(discarded, 1.0);
    double now = 0.0;
    for (auto _ : state) {
        now += kFrame;
        benchmark::DoNotOptimize(session->Advance(now));
        if (session->GetWorld().SimTime() > 70.0) {  // keep it in flight over the touchdown
            state.PauseTiming();
            session.reset();  // one world at a time
            session = NewSession(discarded, 1.0);
            now = 0.0;
            state.ResumeTiming();
        }
    }
    state.counters["frame_us"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LiveFrameAtOneX)->Unit(benchmark::kMicrosecond);

// Wake-ups at the session's fastest pace at 1000x: the time acceleration
// sustained is the simulated time flown per second of wall-clock time.
void BM_LiveLargestWarp(benchmark::State &state) {
    std::ostringstream discarded;
    double simulated = 0.0, wall = 0.0;
    for (auto _ : state) {
        auto session = NewSession(discarded, vtal::sim::live::kMaxWarp);
        double now = 0.0;
        const Clock::time_point start = Clock::now();
        while (session->GetWorld().SimTime() < 60.0) session->Advance(now += vtal::sim::live::kMinWakeInterval);
        wall += Seconds(Clock::now() - start);
        simulated += session->GetWorld().SimTime();
    }
    state.counters["sustained_warp"] = simulated / wall;
}
BENCHMARK(BM_LiveLargestWarp)->Unit(benchmark::kMillisecond)->UseRealTime();

// From a key's arrival between two wake-ups to the module's change of state:
// M arrives, and the frames are counted until the lander says MANUAL 1.
void BM_LiveKeyLatency(benchmark::State &state) {
    std::ostringstream discarded;
    double frames = 0.0, keys = 0.0;
    for (auto _ : state) {
        auto session = NewSession(discarded, 1.0);
        double now = 0.0;
        session->Advance(now += kFrame);
        vtal::sim::live::PageMessage m;
        m.scanCode = OAPI_KEY_M;
        m.down = true;
        session->OnMessage(1, m);
        m.down = false;
        session->OnMessage(1, m);
        auto &lander = *session->GetWorld().Focus();
        std::string lines;
        int n = 0;
        do {
            session->Advance(now += kFrame);
            ++n;
            session->GetWorld().ModuleLines(lander, lines);
        } while (lines.find("MANUAL 1") == std::string::npos && n < 60);
        frames += n;
        keys += 1;
    }
    state.counters["key_to_callback_frames"] = frames / keys;
}
BENCHMARK(BM_LiveKeyLatency)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
