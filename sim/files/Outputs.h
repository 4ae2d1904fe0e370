// What a run writes: telemetry rows, the JSON report, the human report and
// the plot (drawn by gnuplot).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sim/run/Flight.h"

namespace vtal::sim {

class TelemetryWriter {
public:
    // Opens the file and fixes the columns from the focus vessel; throws InputError.
    TelemetryWriter(const std::string &path, World &world);
    ~TelemetryWriter();
    TelemetryWriter(const TelemetryWriter &) = delete;
    TelemetryWriter &operator=(const TelemetryWriter &) = delete;

    void Row(World &world);
    const std::vector<std::string> &Columns() const { return columns_; }
    bool Close();  // false if writing failed

private:
    std::FILE *file_ = nullptr;
    std::vector<std::string> columns_;
    std::vector<Thruster *> engines_;
    std::vector<std::pair<std::string, int>> moduleColumns_;  // key and value count
    std::string moduleText_;
};

std::string ReportJson(const RunResult &result, const World &world);
void PrintHumanReport(std::ostream &out, const RunResult &result, const World &world);
// Draws altitude, vertical speed, engine levels and attitude against time from
// a telemetry file; returns an error message, empty on success.
std::string DrawPlot(const std::string &telemetryPath, const std::vector<std::string> &columns,
                     const std::string &pngPath);
// Runs gnuplot on a script; returns an error message, empty on success.
std::string RunGnuplot(const std::string &script, const std::string &pngPath);
// Whether a program is found on the search path.
bool ProgramAvailable(const std::string &name);

}  // namespace vtal::sim
