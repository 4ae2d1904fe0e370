// What a campaign prints and writes: the summary table, one CSV row per run,
// and the landing envelope drawn by gnuplot.
#pragma once

#include <string>
#include <vector>

#include "montecarlo/Dispersion.h"
#include "montecarlo/Outcome.h"
#include "montecarlo/RunRecord.h"

namespace vtal::montecarlo {

struct CampaignInfo {
    std::string scenario;
    std::uint64_t seed = 0;
    DispersionSet dispersions{};
    Thresholds thresholds{};
};

// The summary: the campaign, its dispersions, outcome counts, the success
// rate with its 95 % confidence interval, percentiles of touchdown speeds,
// drift and propellant (with the least possible), and the thresholds. It
// depends only on the records, in order, never on how they were flown.
std::string Summary(const CampaignInfo &info, const std::vector<RunRecord> &records);

// The CSV header and one row per run.
std::string CsvHeader();
std::string CsvRow(const RunRecord &r);
// Writes header and rows; returns an error message, empty on success.
std::string WriteCsv(const std::string &path, const std::vector<RunRecord> &records);

// Draws outcome against initial sink rate and horizontal speed into a PNG;
// returns an error message, empty on success.
std::string DrawEnvelope(const std::string &pngPath, const CampaignInfo &info,
                         const std::vector<RunRecord> &records);

}  // namespace vtal::montecarlo
