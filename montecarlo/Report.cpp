#include "montecarlo/Report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "montecarlo/Statistics.h"
#include "sim/run/Outputs.h"
#include "sim/base/SafeFiles.h"

namespace vtal::montecarlo {

namespace {

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool TouchedDown(const RunRecord &r) { return r.outcome != Outcome::Timeout && r.outcome != Outcome::Error; }

std::vector<double> Column(const std::vector<RunRecord> &records, const std::function<bool(const RunRecord &)> &which,
                           const std::function<double(const RunRecord &)> &f) {
    std::vector<double> values;
    for (const RunRecord &r : records)
        if (which(r) && std::isfinite(f(r))) values.push_back(f(r));
    return values;
}

std::string PercentileRow(const char *label, const std::vector<double> &v) {
    if (v.empty()) return Format("  %-34s %9s\n", label, "-");
    return Format("  %-34s %9.2f %9.2f %9.2f %9.2f\n", label, Percentile(v, 5), Percentile(v, 50), Percentile(v, 95),
                  Percentile(v, 100));
}

// A number as the CSV carries it: enough digits to tell runs apart, and
// the same text for the same value in every process.
std::string CsvNumber(double v) { return Format("%.10g", v); }

std::string CsvText(const char *text) {
    std::string out = "\"";
    for (const char *p = text; *p; ++p) out += (*p == '"') ? std::string("\"\"") : std::string(1, *p);
    return out + "\"";
}

const char *const kStartColumns[kQuantityCount] = {
    "altitude_m",  "sink_rate_mps", "horizontal_speed_mps", "horizontal_direction_deg",
    "pitch_deg",   "bank_deg",      "heading_deg",          "pitch_rate_dps",
    "yaw_rate_dps", "bank_rate_dps", "propellant_kg",
};

// Point colours per outcome: green for success, warm colours for failures.
const char *const kOutcomeColour[kOutcomeCount] = {"#1a9850", "#fdae61", "#d73027", "#762a83",
                                                   "#4575b4", "#999999", "#000000"};


const int kEnvelopeBins = 5;  // per axis of the envelope table

struct Bins {
    double lo = 0.0, width = 0.0;
    int count = 1;
    int of(double v) const {
        const double bin = (v - lo) / width;
        if (!(width > 0.0) || !std::isfinite(bin)) return 0;
        // Clamped as a double first: the conversion must not overflow.
        return static_cast<int>(std::clamp(bin, 0.0, static_cast<double>(count - 1)));
    }
    // Edges with as many decimals as the bin width needs to tell them apart,
    // none when they are whole numbers.
    std::string label(int i) const {
        const bool whole = lo == std::round(lo) && width == std::round(width);
        const int decimals =
            whole || !(width > 0.0) ? 0 : static_cast<int>(std::clamp(std::ceil(-std::log10(width)) + 1.0, 0.0, 3.0));
        return Format("%.*f-%.*f", decimals, lo + width * i, decimals, lo + width * (i + 1));
    }
};

Bins BinsOf(const std::vector<RunRecord> &records, Quantity q) {
    double lo = INFINITY, hi = -INFINITY;
    for (const RunRecord &r : records) {
        lo = std::min(lo, r.start[static_cast<int>(q)]);
        hi = std::max(hi, r.start[static_cast<int>(q)]);
    }
    Bins b;
    b.lo = lo;
    if (hi > lo) {
        b.count = kEnvelopeBins;
        b.width = (hi - lo) / kEnvelopeBins;
    }
    return b;
}

// The share of soft landings by start sink rate (columns) and horizontal
// speed (rows), each over the range the runs covered.
std::string EnvelopeTable(const std::vector<RunRecord> &records) {
    if (records.empty()) return "";
    const Bins sink = BinsOf(records, Quantity::SinkRate);
    const Bins speed = BinsOf(records, Quantity::HorizontalSpeed);
    std::vector<long> runs(static_cast<std::size_t>(sink.count * speed.count)), soft(runs.size());
    for (const RunRecord &r : records) {
        const std::size_t cell = static_cast<std::size_t>(
            speed.of(r.start[static_cast<int>(Quantity::HorizontalSpeed)]) * sink.count +
            sink.of(r.start[static_cast<int>(Quantity::SinkRate)]));
        ++runs[cell];
        if (r.outcome == Outcome::Soft) ++soft[cell];
    }
    std::string out = "\nLanded softly, by sink rate (columns, m/s) and horizontal speed (rows, m/s) at the start:\n";
    out += Format("  %-10s", "");
    for (int c = 0; c < sink.count; ++c) out += Format(" %12s", sink.label(c).c_str());
    out += "\n";
    for (int row = 0; row < speed.count; ++row) {
        out += Format("  %-10s", speed.label(row).c_str());
        for (int c = 0; c < sink.count; ++c) {
            const std::size_t cell = static_cast<std::size_t>(row * sink.count + c);
            out += runs[cell] == 0 ? Format(" %12s", "-")
                                   : Format(" %5.1f%% %5ld", 100.0 * static_cast<double>(soft[cell]) /
                                                                 static_cast<double>(runs[cell]),
                                            runs[cell]);
        }
        out += "\n";
    }
    out += "  (each cell: share landed softly, and the number of runs that started there)\n";
    return out;
}

}  // namespace

std::string Summary(const CampaignInfo &info, const std::vector<RunRecord> &records) {
    const long n = static_cast<long>(records.size());
    std::string out = Format("Monte-Carlo campaign: %ld runs of %s, seed %" PRIu64 "\n", n, info.scenario.c_str(),
                             info.seed);
    out += "Dispersions (offsets from the scenario's start; the horizontal velocity is added to its own):\n";
    for (int i = 0; i < kQuantityCount; ++i)
        out += Format("  %-22s %s\n", Info(QuantityAt(i)).name, Describe(info.dispersions[i], QuantityAt(i)).c_str());

    long counts[kOutcomeCount] = {};
    unsigned clampedRuns = 0;
    for (const RunRecord &r : records) {
        ++counts[static_cast<int>(r.outcome)];
        if (r.clamped != 0) ++clampedRuns;
    }
    out += "\nOutcomes:\n";
    for (int i = 0; i < kOutcomeCount; ++i) {
        if (counts[i] == 0 && static_cast<Outcome>(i) == Outcome::Error) continue;
        out += Format("  %-22s %7ld  %6.2f %%\n", Label(static_cast<Outcome>(i)), counts[i],
                      n > 0 ? 100.0 * static_cast<double>(counts[i]) / static_cast<double>(n) : 0.0);
    }
    const long soft = counts[static_cast<int>(Outcome::Soft)];
    const Interval ci = WilsonInterval95(soft, n);
    out += Format("\nSuccess rate (landed softly): %.2f %%, 95 %% confidence interval %.2f %% .. %.2f %%\n",
                  n > 0 ? 100.0 * static_cast<double>(soft) / static_cast<double>(n) : 0.0, 100.0 * ci.low,
                  100.0 * ci.high);
    if (clampedRuns > 0)
        out += Format("%u runs drew a start value outside its limits and flew it brought within them\n", clampedRuns);

    out += EnvelopeTable(records);
    const auto touchedDown = [](const RunRecord &r) { return TouchedDown(r); };
    const auto softly = [](const RunRecord &r) { return r.outcome == Outcome::Soft; };
    out += "\nOver the runs that touched down:\n";
    out += Format("  %-34s %9s %9s %9s %9s\n", "", "p5", "p50", "p95", "max");
    out += PercentileRow("touchdown sink speed (m/s)", Column(records, touchedDown, [](const RunRecord &r) {
                             return r.touchdownSinkSpeed;
                         }));
    out += PercentileRow("touchdown horizontal speed (m/s)", Column(records, touchedDown, [](const RunRecord &r) {
                             return r.touchdownHorizontalSpeed;
                         }));
    out += PercentileRow("time to touchdown (s)", Column(records, touchedDown, [](const RunRecord &r) {
                             return r.touchdownTime;
                         }));
    out += "Over the soft landings:\n";
    out += PercentileRow("drift from the start point (m)", Column(records, softly, [](const RunRecord &r) {
                             return r.drift;
                         }));
    out += PercentileRow("propellant used (kg)", Column(records, softly, [](const RunRecord &r) {
                             return r.propellantUsed;
                         }));
    out += PercentileRow("least possible propellant (kg)", Column(records, softly, [](const RunRecord &r) {
                             return r.propellantBound;
                         }));
    out += PercentileRow("used / least possible", Column(records, softly, [](const RunRecord &r) {
                             return r.propellantBound > 0.0 ? r.propellantUsed / r.propellantBound : NAN;
                         }));
    out += "  (least possible: a vertical descent falling freely, then braking at full thrust to rest\n"
           "   at the ground; see the propellant bound in the documentation)\n";
    out += "\nThresholds:\n" + DescribeThresholds(info.thresholds);
    return out;
}

std::string CsvHeader() {
    std::string h = "run,seed";
    for (const char *c : kStartColumns) h += std::string(",") + c;
    h += ",outcome,crash_notice,ran_dry,touchdown_time_s,touchdown_sink_mps,touchdown_horizontal_mps,"
         "touchdown_pitch_deg,touchdown_bank_deg,touchdown_tilt_deg,final_tilt_deg,drift_m,propellant_used_kg,"
         "propellant_bound_kg,end_time_s,clamped,failure";
    return h;
}

std::string CsvRow(const RunRecord &r) {
    std::string row = Format("%ld,%" PRIu64, r.index, r.seed);
    for (double v : r.start) row += "," + CsvNumber(v);
    row += std::string(",") + Name(r.outcome) + "," + (r.crashNotice ? "1" : "0") + "," + (r.ranDry ? "1" : "0");
    for (double v : {r.touchdownTime, r.touchdownSinkSpeed, r.touchdownHorizontalSpeed, r.touchdownPitch,
                     r.touchdownBank, r.touchdownTilt, r.finalTilt, r.drift, r.propellantUsed, r.propellantBound,
                     r.endTime})
        row += "," + CsvNumber(v);
    row += Format(",%u,", r.clamped) + CsvText(r.failure);
    return row;
}

std::string WriteCsv(const std::string &path, const std::vector<RunRecord> &records) {
    try {
        sim::AtomicFile file(path);
        file.Write(CsvHeader() + "\n");
        for (const RunRecord &r : records) file.Write(CsvRow(r) + "\n");
        file.Commit();
    } catch (const sim::WriteError &e) {
        return e.what();
    }
    return "";
}

std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info, const std::vector<RunRecord> &records) {
    const int sink = static_cast<int>(Quantity::SinkRate);
    const int speed = static_cast<int>(Quantity::HorizontalSpeed);
    std::string script;
    std::string plot;
    for (int o = 0; o < kOutcomeCount; ++o) {
        std::string block;
        long count = 0;
        for (const RunRecord &r : records) {
            if (static_cast<int>(r.outcome) != o) continue;
            block += CsvNumber(r.start[sink]) + " " + CsvNumber(r.start[speed]) + "\n";
            ++count;
        }
        if (count == 0) continue;
        script += Format("$outcome%d << EOD\n", o) + block + "EOD\n";
        plot += Format("%s$outcome%d using 1:2 with points pt 7 ps 0.5 lc rgb '%s' title '%s (%ld)'",
                       plot.empty() ? "" : ", ", o, kOutcomeColour[o], Label(static_cast<Outcome>(o)), count);
    }
    script += "set title " +
              sim::GnuplotQuoted(Format("Landing envelope: %zu runs of %s, seed %" PRIu64, records.size(),
                            std::filesystem::path(info.scenario).filename().c_str(), info.seed)) +
              " noenhanced\n";
    script += "set xlabel 'sink rate at the start (m/s, downward)'\nset ylabel 'horizontal speed at the start (m/s)'\n"
              "set grid\nset key outside right top box\n";
    script += plot.empty() ? "plot 0 notitle\n" : "plot " + plot + "\n";
    try {
        sim::AtomicFile png(pngPath);
        const std::string problem = sim::RunGnuplot("set terminal pngcairo size 900,560 font ',10'\n", script, png);
        if (!problem.empty()) return problem;
        png.Commit();
    } catch (const sim::WriteError &e) {
        return e.what();
    }
    return "";
}

}  // namespace vtal::montecarlo
