// What a run writes: telemetry rows, the JSON report and the human report
// (the plot is sim/run/Plot.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/base/SafeFiles.h"
#include "sim/run/Flight.h"
#include "sim/run/Plot.h"  // the plot and the gnuplot runner, for the outputs' users

namespace vtal::sim {

// Decimals of times: the telemetry's time column, and the report's run length
// and frame length. A frame step finer than these show gets more
// (DecimalsForStep), so that no two frames read alike.
constexpr int kTimeDecimals = 6;
constexpr int kEndTimeDecimals = 2;
constexpr int kFrameLengthDecimals = 4;

// Telemetry rows, written to a temporary file beside the target until Commit.
class TelemetryWriter {
public:
    // Opens the file and fixes the columns from the focus vessel; throws WriteError.
    TelemetryWriter(const std::string &path, World &world);

    // Writes one row; throws WriteError if writing fails, std::runtime_error
    // if a value is not a number (nothing else is written then).
    void Row(World &world);
    const std::vector<std::string> &Columns() const { return columns_; }
    // The rows so far, complete once Close has returned (for the plot).
    const std::string &WorkingPath() const { return file_->WorkingPath(); }
    void Close() { file_->Close(); }     // throws WriteError
    void Commit() { file_->Commit(); }   // replaces the target; throws WriteError

private:
    std::unique_ptr<AtomicFile> file_;
    std::vector<std::string> columns_;
    std::vector<Thruster *> engines_;
    std::vector<std::pair<std::string, int>> moduleColumns_;  // key and value count
    std::string moduleText_;
    int timeDecimals_;  // of the time column: kTimeDecimals, more for a finer step
};

// The JSON report. Text from the scenario that is not UTF-8 (the host's files
// are 8-bit text) is decoded as Latin-1. Throws std::runtime_error, naming
// the place, if a number in it is not finite.
std::string ReportJson(const RunResult &result, const World &world);
void PrintHumanReport(std::ostream &out, const RunResult &result, const World &world);
// The focus vessel's outcome line, "outcome (NAME): VERDICT"; empty without vessels.
std::string OutcomeText(const RunResult &result);

// The text as valid UTF-8: itself if it is, else decoded as Latin-1.
std::string TextAsUtf8(const std::string &text);

}  // namespace vtal::sim
