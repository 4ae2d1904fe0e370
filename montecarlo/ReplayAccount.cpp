#include "montecarlo/ReplayAccount.h"

#include <cinttypes>
#include <cstdio>

namespace vtal::montecarlo {

namespace {

// Centimetre, centi-degree and ten-gram resolution: finer than any
// dispersion a campaign draws, and short enough to read.
constexpr int kDecimals = 2;

std::string Number(double x, bool sign) {
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", kDecimals, x);
    // A value that rounds to zero reads as zero, not as "-0.00".
    const std::string s = text;
    return s == "-0.00" ? "0.00" : s;
}

std::string Words(const char *name) {
    std::string words = name;
    for (char &c : words)
        if (c == '_') c = ' ';
    return words;
}

// The file's name without its folders: what a reader knows it by.
std::string FileName(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> DispersedStartAccount(const CampaignSetup &setup, const RunRecord &record) {
    char head[512];
    std::snprintf(head, sizeof head, "Run %ld of a vtal-sim montecarlo campaign of seed %" PRIu64 " over %s,", record.index,
                  setup.options.seed, FileName(setup.scenarioPath).c_str());
    std::vector<std::string> lines{head, "its start dispersed from the scenario's (as flown; in brackets, as drawn):"};
    std::string undispersed;
    for (int i = 0; i < kQuantityCount; ++i) {
        const Quantity q = QuantityAt(i);
        const QuantityInfo &info = Info(q);
        if (setup.options.dispersions[static_cast<std::size_t>(i)].kind == Distribution::Kind::None) {
            undispersed += (undispersed.empty() ? "" : ", ") + Words(info.name);
            continue;
        }
        std::string line = "  " + Words(info.name) + " " + Number(record.start[static_cast<std::size_t>(i)], false) + " " +
                           info.unit + " (" + Number(record.draw[static_cast<std::size_t>(i)], true) + " " + info.unit +
                           ")";
        if (record.clamped & (1u << i)) line += ", brought within its limits";
        lines.push_back(line);
    }
    if (!undispersed.empty()) lines.push_back("As the scenario has them: " + undispersed + ".");
    return lines;
}

}  // namespace vtal::montecarlo
