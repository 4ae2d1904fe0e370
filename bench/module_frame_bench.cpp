// The module's cost per frame: one pre-step and one post-step of a lander in
// its terminal descent, against a baseline vessel that makes the same host
// calls with none of the module's logic. Both run against the fixed backend
// in the same process, and the ratio of their times is printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/FixedBackend.h"
#include "bench/FlyingLander.h"

namespace {

using namespace vtal::bench;

const double kFrameLength = 0.02;  // s, a 50 Hz frame
const double kStartTime = 60.0;    // s
const double kFrameCostAim = 2.0;  // the lander's frame may cost at most twice the baseline's

OBJHANDLE BenchVesselHandle() { return reinterpret_cast<OBJHANDLE>(static_cast<std::uintptr_t>(0xB0000)); }

// Host calls per frame of `vessel` against `backend`.
std::uint64_t CallsPerFrame(VESSEL2 &vessel, FixedBackend &backend) {
    backend.resetCalls();
    RunFrame(vessel, kStartTime, kFrameLength);
    return backend.calls();
}

void TimeFrames(benchmark::State &state, VESSEL2 &vessel, FixedBackend &backend,
                std::uint64_t expectedCalls) {
    const std::uint64_t calls = CallsPerFrame(vessel, backend);
    if (calls != expectedCalls) {
        state.SkipWithError("the frame no longer makes the baseline's host calls");
        return;
    }
    double simt = kStartTime;
    for (auto _ : state) {
        RunFrame(vessel, simt, kFrameLength);
        simt += kFrameLength;
    }
    state.counters["host_calls"] = static_cast<double>(calls);
}

void BM_LanderFrame(benchmark::State &state) {
    FixedBackend backend(TerminalBandState());
    vtal::host::InstallBackend(&backend);
    auto lander = MakeFlyingLander(BenchVesselHandle());
    auto baseline = MakeBaselineFor(*lander);
    const std::uint64_t baselineCalls = CallsPerFrame(*baseline, backend);
    TimeFrames(state, *lander, backend, baselineCalls);
    vtal::host::InstallBackend(nullptr);
}
BENCHMARK(BM_LanderFrame);

void BM_BaselineFrame(benchmark::State &state) {
    FixedBackend backend(TerminalBandState());
    vtal::host::InstallBackend(&backend);
    auto lander = MakeFlyingLander(BenchVesselHandle());
    auto baseline = MakeBaselineFor(*lander);
    const std::uint64_t landerCalls = CallsPerFrame(*lander, backend);
    TimeFrames(state, *baseline, backend, landerCalls);
    vtal::host::InstallBackend(nullptr);
}
BENCHMARK(BM_BaselineFrame);

// Hands every report to the display reporter the command line chose and
// keeps the CPU time per iteration of every benchmark (the median when runs
// are repeated) for the ratio.
class RatioReporter : public benchmark::BenchmarkReporter {
public:
    explicit RatioReporter(benchmark::BenchmarkReporter *display) : display_(display) {}

    bool ReportContext(const Context &context) override { return display_->ReportContext(context); }
    void Finalize() override { display_->Finalize(); }

    void ReportRuns(const std::vector<Run> &reports) override {
        for (const Run &run : reports) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0)
                times_[name] = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times_[name] = run.GetAdjustedCPUTime();
                medians_[name] = true;
            }
        }
        display_->ReportRuns(reports);
    }

    // Prints the ratio of two benchmarks' times; false if either did not run.
    bool PrintRatio(const std::string &numerator, const std::string &denominator, double aim) const {
        const auto n = times_.find(numerator), d = times_.find(denominator);
        if (n == times_.end() || d == times_.end() || d->second <= 0.0) return false;
        const double ratio = n->second / d->second;
        std::fflush(stdout);
        std::printf("\nframe cost ratio %s / %s = %.2f (aim: at most %.1f) %s\n", numerator.c_str(),
                    denominator.c_str(), ratio, aim, ratio <= aim ? "within aim" : "ABOVE AIM");
        return true;
    }

private:
    std::unique_ptr<benchmark::BenchmarkReporter> display_;
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(benchmark::CreateDefaultDisplayReporter());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("BM_LanderFrame", "BM_BaselineFrame", kFrameCostAim);
    benchmark::Shutdown();
    return 0;
}
