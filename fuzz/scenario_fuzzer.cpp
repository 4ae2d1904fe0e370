// Feeds arbitrary bytes, split at line feeds, to a lander as its scenario
// block, runs its animator over the loaded state, saves it and reads the saved
// lines into a second lander. Fails (aborts) when a number that is not finite
// reaches the host, when a saved line is overlong or is not taken back by the
// lander's own keys, or when the second lander saves different lines.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "lander/Lander.h"
#include "lander/ModuleState.h"
#include "recording/RecordingBackend.h"

namespace {

using vtal::recording::RecordingBackend;

// Longest saved line: a key, a status, and a position with all the integer
// digits of the largest double.
const std::size_t kLongestSavedLine = 400;

// Step lengths (s) the animator runs after loading: none, a frame, the
// longest step that keeps the camera within one turn, and an absurd one.
const double kSteps[] = {0.0, 0.25, 40.0, 1e308};

[[noreturn]] void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "scenario fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

void CheckNumbersReachingHost(const RecordingBackend &host) {
    for (const auto &call : host.calls)
        for (const auto &arg : call.args)
            if (const double *value = std::get_if<double>(&arg); value != nullptr && !std::isfinite(*value))
                Fail("a non-number reached the host", call.name);
}

std::vector<std::string> SplitLines(const std::uint8_t *data, std::size_t size) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(static_cast<char>(data[i]));
    }
    return lines;
}

std::unique_ptr<Lander> MakeLander(RecordingBackend &host) {
    auto lander = std::make_unique<Lander>(vtal::recording::FakeVesselHandle(1), 1);
    lander->clbkSetClassCaps(nullptr);
    host.clear();
    return lander;
}

void Load(Lander &lander, RecordingBackend &host, const std::vector<std::string> &lines) {
    host.clear();
    host.scenarioLines.assign(lines.begin(), lines.end());
    lander.clbkLoadStateEx(nullptr, nullptr);
    CheckNumbersReachingHost(host);
}

std::vector<std::string> Save(Lander &lander, RecordingBackend &host) {
    host.clear();
    lander.clbkSaveState(nullptr);
    CheckNumbersReachingHost(host);
    for (const std::string &line : host.writtenLines)
        if (line.size() > kLongestSavedLine) Fail("overlong saved line", line.substr(0, 64));
    return host.writtenLines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RecordingBackend host;
    vtal::recording::ScopedBackend installed(host);
    vtal::moduleState = vtal::ModuleState{};

    auto lander = MakeLander(host);
    Load(*lander, host, SplitLines(data, size));

    host.clear();
    for (double dt : kSteps) lander->clbkPostStep(0.0, dt, 0.0);
    CheckNumbersReachingHost(host);

    const std::vector<std::string> saved = Save(*lander, host);
    auto reread = MakeLander(host);
    Load(*reread, host, saved);
    if (host.count("ParseScenarioLineEx") != 0) Fail("a saved line was not taken back", "");
    const std::vector<std::string> resaved = Save(*reread, host);
    for (std::size_t i = 0; i < saved.size(); ++i)
        if (i >= resaved.size() || resaved[i] != saved[i]) Fail("a saved line read back differently", saved[i]);
    return 0;
}
