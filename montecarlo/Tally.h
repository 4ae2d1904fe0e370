// What a campaign keeps of its runs for the summary and the plot, taken one
// record at a time in run order, in memory that stops growing with the
// number of runs: counts per outcome, bounded percentiles, the envelope
// table's counts and the first kKeptStarts starts for the table's bins and
// the plot's points.
#pragma once

#include <array>
#include <vector>

#include "montecarlo/RunRecord.h"
#include "montecarlo/Statistics.h"

namespace vtal::montecarlo {

// Starts kept for the envelope's bins and the plot; the campaigns up to this
// many runs are summarised from every one of them.
constexpr std::size_t kKeptStarts = 100000;
constexpr int kEnvelopeBins = 5;  // per axis of the envelope table

// A run's start where the envelope places it, and how it ended.
struct EnvelopePoint {
    double sinkRate = 0.0, horizontalSpeed = 0.0;
    Outcome outcome = Outcome::Error;
};

// Bins of one axis of the envelope table.
struct Bins {
    double lo = 0.0, width = 0.0;
    int count = 1;
    int of(double v) const;               // the bin, the edge bins for values beyond them
    std::string label(int i) const;       // its edges
};

// The percentile columns of the summary.
enum class Column : int {
    TouchdownSink, TouchdownHorizontal, TouchdownTime,         // over the runs that touched down
    Drift, PropellantUsed, PropellantBound, UsedOverBound,     // over the soft landings
};
constexpr int kColumnCount = 7;

class Tally {
public:
    explicit Tally(std::size_t keptStarts = kKeptStarts,
                   std::size_t exactValues = BoundedQuantiles::kDefaultExactValues);
    void Add(const RunRecord &r);

    long Runs() const { return runs_; }            // records added
    long Failed() const { return Count(Outcome::Error); }
    long Flown() const { return runs_ - Failed(); }  // runs that flew to an outcome
    long Count(Outcome o) const { return counts_[static_cast<int>(o)]; }
    long Clamped() const { return clamped_; }
    const BoundedQuantiles &Of(Column c) const { return columns_[static_cast<int>(c)]; }

    // The flown starts kept (the first kKeptStarts), in run order.
    const std::vector<EnvelopePoint> &Starts() const { return starts_; }
    long StartsSeen() const { return startsSeen_; }
    // The envelope table: its bins (fixed by the starts kept once they are
    // full, else over all of them), runs and soft landings per cell (row
    // horizontal speed, column sink rate).
    struct Envelope {
        Bins sink, speed;
        std::vector<long> runs, soft;
        bool binsFromKeptStarts = false;  // starts beyond the kept ones were counted into fixed bins
    };
    Envelope EnvelopeTable() const;

private:
    void Freeze();  // fixes the bins from the kept starts
    static void Place(Envelope &e, const EnvelopePoint &p);

    std::size_t keptStarts_;
    long runs_ = 0, clamped_ = 0, startsSeen_ = 0;
    std::array<long, kOutcomeCount> counts_{};
    std::vector<BoundedQuantiles> columns_;
    std::vector<EnvelopePoint> starts_;
    bool frozen_ = false;
    Envelope frozenTable_;
};

}  // namespace vtal::montecarlo
