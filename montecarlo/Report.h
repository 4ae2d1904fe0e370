// What a campaign prints and writes: the summary table, one CSV row per run,
// and the landing envelope drawn by gnuplot.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "montecarlo/Dispersion.h"
#include "montecarlo/Outcome.h"
#include "montecarlo/RunRecord.h"
#include "montecarlo/Tally.h"
#include "sim/base/SafeFiles.h"

namespace vtal::montecarlo {

struct CampaignInfo {
    std::string scenario;
    std::uint64_t seed = 0;
    DispersionSet dispersions{};
    Thresholds thresholds{};
    long plannedRuns = 0;     // runs the campaign was to fly; 0: those reported
    std::string interruption; // why it stopped before all were flown ("SIGINT"); empty: complete
};

// Whether the report is of part of the campaign only, and the words that say
// so: "partial: 37 of 1000 runs, interrupted by SIGINT".
bool IsPartial(const CampaignInfo &info, long reported);
std::string PartialNote(const CampaignInfo &info, long reported);

// The summary: the campaign, its dispersions, outcome counts, the success
// rate with its 95 % confidence interval, percentiles of touchdown speeds,
// drift and propellant (with the least possible), and the thresholds. It
// depends only on the records, in order, never on how they were flown.
// Runs that failed (their process crashed, the run could not start) are
// counted apart and left out of the outcome shares and the success rate.
std::string Summary(const CampaignInfo &info, const Tally &tally);
std::string Summary(const CampaignInfo &info, const std::vector<RunRecord> &records);

// The CSV header and one row per run.
std::string CsvHeader();
std::string CsvRow(const RunRecord &r);

// The CSV written as the runs come, into a temporary file beside the target
// that replaces it at Finish. A write that fails is kept as the problem and
// the rest is not written.
class CsvStream {
public:
    explicit CsvStream(const std::string &path);
    void Row(const RunRecord &r);
    // Ends the file (a partial campaign's last line says so, as a comment
    // line "# partial: ...") and puts it in place; returns the problem, empty on success.
    std::string Finish(const CampaignInfo &info, long reported);

private:
    std::unique_ptr<sim::AtomicFile> file_;
    std::string problem_;
};

// Writes header and rows; returns an error message, empty on success.
std::string WriteCsv(const std::string &path, const std::vector<RunRecord> &records);

// Draws outcome against initial sink rate and horizontal speed into a PNG
// (the first kKeptStarts runs); returns an error message, empty on success.
std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info, const Tally &tally);
std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info,
                         const std::vector<RunRecord> &records);

}  // namespace vtal::montecarlo
