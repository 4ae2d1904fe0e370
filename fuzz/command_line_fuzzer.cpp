// Feeds arbitrary argument lists (the input split at NUL bytes, after the
// program's name) to vtal-sim's flight command line and the checks it makes
// before anything is read or flown. Fails (aborts) when an exception
// escapes the parser, when arguments are refused without a message or with
// one that grows with the input, when an accepted frame step, stop or
// telemetry interval lies outside its documented range, when a key script
// the parser took is refused later, or when two outputs naming one file (to
// be written through a temporary file) pass the check that they are apart.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/vtal-sim/FlightArguments.h"
#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/KeyScript.h"
#include "sim/run/Flight.h"

namespace {

using vtal::sim::InputError;

// A message names an option and quotes a value short: never the input.
const std::size_t kLongestMessage = 1000;

[[noreturn]] void Fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "command line fuzz: %s: %s\n", what, detail.substr(0, 200).c_str());
    std::abort();
}

void CheckMessage(const std::string &message) {
    if (message.empty()) Fail("refused without a message", "");
    if (message.size() > kLongestMessage) Fail("an overlong message", message);
}

void CheckNumbers(const vtal::sim::RunOptions &o) {
    if (!(o.dt > 0.0 && o.dt <= vtal::sim::kMaxDt)) Fail("a frame step outside (0, 1] was taken", std::to_string(o.dt));
    if (!(o.until < 0.0 || std::isfinite(o.until))) Fail("a stop that is no number was taken", "");
    if (!(std::isfinite(o.every) && o.every >= 0.0)) Fail("a telemetry interval outside [0, inf) was taken", "");
}

// Two outputs given the same name, to be replaced through a temporary file,
// must be refused.
void CheckOutputsApart(const vtal::sim::RunOptions &o) {
    const std::vector<vtal::sim::NamedFile> outputs = vtal::sim::OutputsOf(o);
    bool clash = false;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        for (std::size_t k = 0; k < i; ++k)
            clash = clash || (!outputs[i].path.empty() && outputs[i].path == outputs[k].path &&
                              !vtal::sim::IsWrittenInPlace(outputs[i].path));
    try {
        vtal::sim::CheckOutputsApart(outputs, {});
    } catch (const InputError &e) {
        CheckMessage(e.what());
        return;
    }
    if (clash) Fail("two outputs naming one file were taken", o.savePath + "|" + o.reportPath);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::string> words{"vtal-sim"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size > 0) words.push_back(word);
    std::vector<const char *> argv;
    for (const std::string &w : words) argv.push_back(w.c_str());

    const vtal::app::FlightArguments a = vtal::app::ParseFlightArguments(static_cast<int>(argv.size()), argv.data());
    if (!a.fly) {
        if (a.exitStatus == vtal::sim::kExitOk && a.help.empty() && !a.list && !a.version)
            Fail("stopped without help, a listing, the versions or an error", "");
        if (a.exitStatus != vtal::sim::kExitOk) CheckMessage(a.error);
        return 0;
    }
    CheckNumbers(a.options);
    try {
        vtal::sim::ParseKeyScript(a.options.keys);
    } catch (const InputError &e) {
        Fail("a key script taken by the parser was refused later", e.what());
    }
    try {
        vtal::sim::CheckRunOptions(a.options);
    } catch (const InputError &e) {
        CheckMessage(e.what());
        return 0;
    }
    CheckOutputsApart(a.options);
    return 0;
}
