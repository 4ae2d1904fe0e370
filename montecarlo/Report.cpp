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

std::string PercentileRow(const char *label, const BoundedQuantiles &v) {
    if (v.Count() == 0) return Format("  %-34s %9s\n", label, "-");
    return Format("  %-34s %9.2f %9.2f %9.2f %9.2f\n", label, v.Percentile(5), v.Percentile(50), v.Percentile(95),
                  v.Percentile(100));
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


// The share of soft landings by start sink rate (columns) and horizontal
// speed (rows), each over the range the runs covered.
std::string EnvelopeText(const Tally &tally) {
    if (tally.Starts().empty()) return "";
    const Tally::Envelope e = tally.EnvelopeTable();
    std::string out = "\nLanded softly, by sink rate (columns, m/s) and horizontal speed (rows, m/s) at the start:\n";
    out += Format("  %-10s", "");
    for (int c = 0; c < e.sink.count; ++c) out += Format(" %12s", e.sink.label(c).c_str());
    out += "\n";
    for (int row = 0; row < e.speed.count; ++row) {
        out += Format("  %-10s", e.speed.label(row).c_str());
        for (int c = 0; c < e.sink.count; ++c) {
            const std::size_t cell = static_cast<std::size_t>(row * e.sink.count + c);
            out += e.runs[cell] == 0 ? Format(" %12s", "-")
                                     : Format(" %5.1f%% %5ld", 100.0 * static_cast<double>(e.soft[cell]) /
                                                                   static_cast<double>(e.runs[cell]),
                                              e.runs[cell]);
        }
        out += "\n";
    }
    out += "  (each cell: share landed softly, and the number of runs that started there)\n";
    if (e.binsFromKeptStarts)
        out += Format("  (bins over the range of the first %zu runs flown; later starts beyond it are counted in the\n"
                      "   edge cells)\n",
                      tally.Starts().size());
    return out;
}

std::string ShareOf(long count, long of) {
    return Format("%6.2f %%", of > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(of) : 0.0);
}

}  // namespace

bool IsPartial(const CampaignInfo &info, long reported) {
    return !info.interruption.empty() || (info.plannedRuns > 0 && reported < info.plannedRuns);
}

std::string PartialNote(const CampaignInfo &info, long reported) {
    std::string note = Format("partial: %ld of %ld runs", reported, info.plannedRuns > 0 ? info.plannedRuns : reported);
    if (!info.interruption.empty()) note += ", interrupted by " + info.interruption;
    return note;
}

std::string Summary(const CampaignInfo &info, const Tally &tally) {
    const long n = tally.Runs();
    const long flown = tally.Flown();
    std::string out = Format("Monte-Carlo campaign: %ld runs of %s, seed %" PRIu64 "\n", n, info.scenario.c_str(),
                             info.seed);
    if (IsPartial(info, n))
        out += "(" + PartialNote(info, n) + ": everything below is of the runs finished before)\n";
    out += "Dispersions (offsets from the scenario's start; the horizontal velocity is added to its own):\n";
    for (int i = 0; i < kQuantityCount; ++i)
        out += Format("  %-22s %s\n", Info(QuantityAt(i)).name, Describe(info.dispersions[i], QuantityAt(i)).c_str());

    out += "\nOutcomes:\n";
    for (int i = 0; i < kOutcomeCount; ++i) {
        const auto o = static_cast<Outcome>(i);
        if (o == Outcome::Error) continue;
        out += Format("  %-22s %7ld  %s\n", Label(o), tally.Count(o), ShareOf(tally.Count(o), flown).c_str());
    }
    if (tally.Failed() > 0)
        out += Format("  %-22s %7ld  (not flown to an outcome: left out of the shares and the success rate)\n",
                      Label(Outcome::Error), tally.Failed());
    const long soft = tally.Count(Outcome::Soft);
    const Interval ci = WilsonInterval95(soft, flown);
    out += Format("\nSuccess rate (landed softly): %.2f %%, 95 %% confidence interval %.2f %% .. %.2f %%\n",
                  flown > 0 ? 100.0 * static_cast<double>(soft) / static_cast<double>(flown) : 0.0, 100.0 * ci.low,
                  100.0 * ci.high);
    if (tally.Failed() > 0) out += Format("  (of the %ld runs flown; %ld failed)\n", flown, tally.Failed());
    if (tally.Clamped() > 0)
        out += Format("%ld runs drew a start value outside its limits and flew it brought within them\n",
                      tally.Clamped());

    out += EnvelopeText(tally);
    out += "\nOver the runs that touched down:\n";
    out += Format("  %-34s %9s %9s %9s %9s\n", "", "p5", "p50", "p95", "max");
    out += PercentileRow("touchdown sink speed (m/s)", tally.Of(Column::TouchdownSink));
    out += PercentileRow("touchdown horizontal speed (m/s)", tally.Of(Column::TouchdownHorizontal));
    out += PercentileRow("time to touchdown (s)", tally.Of(Column::TouchdownTime));
    out += "Over the soft landings:\n";
    out += PercentileRow("drift from the start point (m)", tally.Of(Column::Drift));
    out += PercentileRow("propellant used (kg)", tally.Of(Column::PropellantUsed));
    out += PercentileRow("least possible propellant (kg)", tally.Of(Column::PropellantBound));
    out += PercentileRow("used / least possible", tally.Of(Column::UsedOverBound));
    out += "  (least possible: a vertical descent falling freely, then braking at full thrust to rest\n"
           "   at the ground; see the propellant bound in the documentation)\n";
    bool binned = false;
    for (int c = 0; c < kColumnCount; ++c) binned = binned || !tally.Of(static_cast<Column>(c)).Exact();
    if (binned)
        out += Format("  (more than %zu values: percentiles from bins no wider than 0.1 %% of their values; the\n"
                      "   smallest and largest are exact)\n",
                      BoundedQuantiles::kDefaultExactValues);
    out += "\nThresholds:\n" + DescribeThresholds(info.thresholds);
    return out;
}

std::string Summary(const CampaignInfo &info, const std::vector<RunRecord> &records) {
    Tally tally;
    for (const RunRecord &r : records) tally.Add(r);
    return Summary(info, tally);
}

std::string CsvHeader() {
    std::string h = "run,seed";
    for (const char *c : kStartColumns) h += std::string(",") + c;
    h += ",outcome,crash_notice,ran_dry,touchdown_time_s,touchdown_sink_mps,touchdown_horizontal_mps,"
         "touchdown_pitch_deg,touchdown_bank_deg,touchdown_tilt_deg,final_tilt_deg,drift_m,propellant_used_kg,"
         "propellant_bound_kg,end_time_s,clamped,failure";
    return h;
}

// A run that failed flew nothing: its start and outcome cells stay empty
// rather than claim a start or a touchdown of zeros.
std::string CsvRow(const RunRecord &r) {
    const bool flown = r.outcome != Outcome::Error;
    const auto cell = [flown](const std::string &text) { return "," + (flown ? text : std::string()); };
    std::string row = Format("%ld,%" PRIu64, r.index, r.seed);
    for (double v : r.start) row += cell(CsvNumber(v));
    row += std::string(",") + Name(r.outcome) + cell(r.crashNotice ? "1" : "0") + cell(r.ranDry ? "1" : "0");
    for (double v : {r.touchdownTime, r.touchdownSinkSpeed, r.touchdownHorizontalSpeed, r.touchdownPitch,
                     r.touchdownBank, r.touchdownTilt, r.finalTilt, r.drift, r.propellantUsed, r.propellantBound,
                     r.endTime})
        row += cell(CsvNumber(v));
    row += Format(",%u,", r.clamped) + CsvText(r.failure);
    return row;
}

CsvStream::CsvStream(const std::string &path) {
    try {
        file_ = std::make_unique<sim::AtomicFile>(path);
        file_->Write(CsvHeader() + "\n");
    } catch (const sim::WriteError &e) {
        problem_ = e.what();
        file_.reset();
    }
}

void CsvStream::Row(const RunRecord &r) {
    if (!file_) return;
    try {
        file_->Write(CsvRow(r) + "\n");
    } catch (const sim::WriteError &e) {
        problem_ = e.what();
        file_.reset();
    }
}

std::string CsvStream::Finish(const CampaignInfo &info, long reported) {
    if (!file_) return problem_;
    try {
        if (IsPartial(info, reported)) file_->Write("# " + PartialNote(info, reported) + "\n");
        file_->Commit();
    } catch (const sim::WriteError &e) {
        problem_ = e.what();
    }
    file_.reset();
    return problem_;
}

std::string WriteCsv(const std::string &path, const std::vector<RunRecord> &records) {
    CsvStream csv(path);
    for (const RunRecord &r : records) csv.Row(r);
    return csv.Finish(CampaignInfo{}, static_cast<long>(records.size()));
}

std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info, const Tally &tally) {
    std::string script;
    std::string plot;
    for (int o = 0; o < kOutcomeCount; ++o) {
        std::string block;
        long count = 0;
        for (const EnvelopePoint &p : tally.Starts()) {
            if (static_cast<int>(p.outcome) != o) continue;
            block += CsvNumber(p.sinkRate) + " " + CsvNumber(p.horizontalSpeed) + "\n";
            ++count;
        }
        if (count == 0) continue;
        script += Format("$outcome%d << EOD\n", o) + block + "EOD\n";
        plot += Format("%s$outcome%d using 1:2 with points pt 7 ps 0.5 lc rgb '%s' title '%s (%ld)'",
                       plot.empty() ? "" : ", ", o, kOutcomeColour[o], Label(static_cast<Outcome>(o)), count);
    }
    std::string title = Format("Landing envelope: %ld runs of %s, seed %" PRIu64, tally.Runs(),
                               std::filesystem::path(info.scenario).filename().c_str(), info.seed);
    if (static_cast<long>(tally.Starts().size()) < tally.StartsSeen())
        title += Format(" (the first %zu flown shown)", tally.Starts().size());
    if (IsPartial(info, tally.Runs())) title += " (" + PartialNote(info, tally.Runs()) + ")";
    script += "set title " + sim::GnuplotQuoted(title) + " noenhanced\n";
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

std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info, const std::vector<RunRecord> &records) {
    Tally tally;
    for (const RunRecord &r : records) tally.Add(r);
    return DrawEnvelope(pngPath, info, tally);
}

}  // namespace vtal::montecarlo
