#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "TempPath.h"
#include "montecarlo/Outcome.h"
#include "montecarlo/Report.h"

namespace {

using namespace vtal::montecarlo;

Observation Landed(double sink, double horizontal, double pitch, double bank) {
    Observation o;
    o.touchedDown = true;
    o.touchdownSinkSpeed = sink;
    o.touchdownHorizontalSpeed = horizontal;
    o.touchdownPitch = pitch;
    o.touchdownBank = bank;
    return o;
}

struct ClassifyCase {
    const char *what;
    Observation observation;
    Outcome expected;
};

void PrintTo(const ClassifyCase &c, std::ostream *os) { *os << c.what; }

class ClassifyRun : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyRun, GivesTheOutcome) {
    EXPECT_EQ(Name(Classify(GetParam().observation, DefaultThresholds())), std::string(Name(GetParam().expected)));
}

Observation With(Observation o, void (*change)(Observation &)) {
    change(o);
    return o;
}

const Observation kGentle = Landed(1.7, 0.1, 0.5, -0.5);

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyRun,
    ::testing::Values(
        ClassifyCase{"gentle", kGentle, Outcome::Soft},
        ClassifyCase{"every limit exactly", Landed(2.5, 0.5, 5.0, -5.0), Outcome::Soft},
        ClassifyCase{"sinking too fast", Landed(2.51, 0.1, 0, 0), Outcome::Hard},
        ClassifyCase{"sliding", Landed(1.7, 0.51, 0, 0), Outcome::Hard},
        ClassifyCase{"pitched", Landed(1.7, 0.1, -5.1, 0), Outcome::Hard},
        ClassifyCase{"banked", Landed(1.7, 0.1, 0, 5.1), Outcome::Hard},
        ClassifyCase{"crash notice", With(Landed(12, 0, 0, 0), [](Observation &o) { o.crashNotice = true; }),
                     Outcome::Crash},
        ClassifyCase{"lying on its side", With(kGentle, [](Observation &o) { o.finalTilt = 60; }), Outcome::TippedOver},
        ClassifyCase{"tilted exactly at the limit", With(kGentle, [](Observation &o) { o.finalTilt = 45; }),
                     Outcome::Soft},
        ClassifyCase{"crashed and tipped over",
                     With(kGentle, [](Observation &o) { o.crashNotice = true; o.finalTilt = 90; }), Outcome::Crash},
        ClassifyCase{"ran dry, then crashed",
                     With(Landed(30, 0, 0, 0), [](Observation &o) { o.ranDryBeforeTouchdown = true; o.crashNotice = true; }),
                     Outcome::OutOfPropellant},
        ClassifyCase{"never touched down", With(Observation{}, [](Observation &o) { o.crashNotice = true; }),
                     Outcome::Timeout}));

TEST(OutcomeNames, RoundTripThroughTheCsvName) {
    for (int i = 0; i < kOutcomeCount; ++i) {
        Outcome back = Outcome::Error;
        ASSERT_TRUE(OutcomeNamed(Name(static_cast<Outcome>(i)), back));
        EXPECT_EQ(static_cast<int>(back), i);
    }
    Outcome unused;
    EXPECT_FALSE(OutcomeNamed("landed", unused));
}

// Splits a CSV line, honouring quoted fields with doubled quotes.
std::vector<std::string> CsvFields(const std::string &line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

RunRecord Record(long index, Outcome outcome, double sink, double used, double bound) {
    RunRecord r;
    r.index = index;
    r.seed = 1000 + static_cast<std::uint64_t>(index);
    r.outcome = outcome;
    r.touchdownSinkSpeed = sink;
    r.propellantUsed = used;
    r.propellantBound = bound;
    return r;
}

TEST(Csv, EveryRowHasTheHeadersColumnsAndKeepsTheFailureText) {
    RunRecord r = Record(12, Outcome::Error, 0, 0, 0);
    std::snprintf(r.failure, sizeof r.failure, "%s", "module said \"no\", then died");
    r.start[0] = 1234.5;
    const std::vector<std::string> header = CsvFields(CsvHeader());
    const std::vector<std::string> row = CsvFields(CsvRow(r));
    ASSERT_EQ(row.size(), header.size());
    auto column = [&](const std::string &name) {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return row[i];
        return std::string("<no column ") + name + ">";
    };
    EXPECT_EQ(column("run"), "12");
    EXPECT_EQ(column("seed"), "1012");
    EXPECT_EQ(column("altitude_m"), "") << "a failed run claims no start";
    EXPECT_EQ(column("touchdown_sink_mps"), "");
    EXPECT_EQ(column("outcome"), "error");
    EXPECT_EQ(column("failure"), "module said \"no\", then died");
}

TEST(Csv, WrittenFileHoldsHeaderAndRowsAndUnwritablePathIsReported) {
    const std::string path = vtal::montecarlo::testing::TempPath("rows.csv");
    ASSERT_EQ(WriteCsv(path, {Record(0, Outcome::Soft, 1.7, 20, 14), Record(1, Outcome::Crash, 30, 9, 14)}), "");
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], CsvHeader());
    EXPECT_EQ(CsvFields(lines[2])[0], "1");
    EXPECT_NE(WriteCsv("/nonexistent-folder/rows.csv", {}), "");
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(Summary, CountsRateAndIntervalAndLeavesUnlandedRunsOutOfThePercentiles) {
    std::vector<RunRecord> records;
    for (long i = 0; i < 8; ++i) records.push_back(Record(i, Outcome::Soft, 1.5 + 0.1 * i, 20, 10));
    records.push_back(Record(8, Outcome::Crash, 40, 5, 10));
    records.push_back(Record(9, Outcome::Timeout, 0, 0, 10));  // its zero speed is no touchdown
    CampaignInfo info;
    info.scenario = "Descent.scn";
    info.seed = 42;
    info.dispersions = DefaultDispersions();
    const std::string s = Summary(info, records);
    EXPECT_TRUE(Contains(s, "10 runs of Descent.scn, seed 42")) << s;
    EXPECT_TRUE(Contains(s, "landed softly                8   80.00 %")) << s;
    EXPECT_TRUE(Contains(s, "crash (notice shown)         1   10.00 %")) << s;
    // Wilson interval of 8 out of 10.
    EXPECT_TRUE(Contains(s, "Success rate (landed softly): 80.00 %, 95 % confidence interval 49.02 % .. 94.33 %")) << s;
    // Sink speeds 1.5 .. 2.2 and the crash's 40: p5 1.54; with the timeout's 0 it would be 0.68.
    EXPECT_TRUE(Contains(s, "touchdown sink speed (m/s)              1.54")) << s;
    // Propellant over the soft landings only: 20 kg against 10 kg.
    EXPECT_TRUE(Contains(s, "used / least possible                   2.00      2.00      2.00      2.00")) << s;
    EXPECT_TRUE(Contains(s, DescribeThresholds(DefaultThresholds()))) << s;
    EXPECT_FALSE(Contains(s, "run failed")) << "no failed runs, no line for them";
}

// Slow and straight down lands, fast and sideways crashes: the table puts
// each run in the cell of its start and gives each cell's share of soft landings.
TEST(Summary, EnvelopeTableBySinkRateAndHorizontalSpeed) {
    std::vector<RunRecord> records;
    auto add = [&records](double sink, double speed, Outcome o) {
        RunRecord r = Record(static_cast<long>(records.size()), o, 1.7, 20, 14);
        r.start[static_cast<int>(Quantity::SinkRate)] = sink;
        r.start[static_cast<int>(Quantity::HorizontalSpeed)] = speed;
        records.push_back(r);
    };
    add(10, 0, Outcome::Soft);
    add(11, 1, Outcome::Soft);
    add(60, 40, Outcome::Crash);   // the far corner: 0 of 2
    add(59, 39, Outcome::Hard);
    add(35, 20, Outcome::Soft);    // the middle cell: 1 of 1
    const std::string s = Summary(CampaignInfo{}, records);
    const std::size_t table = s.find("Landed softly, by sink rate");
    ASSERT_NE(table, std::string::npos) << s;
    EXPECT_TRUE(Contains(s, "                    10-20        20-30        30-40        40-50        50-60\n")) << s;
    EXPECT_TRUE(Contains(s, "  0-8        100.0%     2            -            -            -            -\n")) << s;
    EXPECT_TRUE(Contains(s, "  16-24                 -            - 100.0%     1            -            -\n")) << s;
    EXPECT_TRUE(Contains(s, "  32-40                 -            -            -            -   0.0%     2\n")) << s;
}

TEST(Envelope, DrawnAsPng) {
    const std::string path = vtal::montecarlo::testing::TempPath("envelope.png");
    CampaignInfo info;
    info.scenario = "Descent.scn";
    std::vector<RunRecord> records = {Record(0, Outcome::Soft, 1.7, 20, 14), Record(1, Outcome::Crash, 30, 9, 14)};
    records[1].start[static_cast<int>(Quantity::SinkRate)] = 45;
    ASSERT_EQ(DrawEnvelope(path, info, records), "");
    std::ifstream in(path, std::ios::binary);
    char magic[8] = {};
    in.read(magic, 8);
    std::remove(path.c_str());
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

}  // namespace
