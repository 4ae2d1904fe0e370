// What a campaign reports is what it flew, through `vtal-sim montecarlo`'s
// real command line: a replayed run's --csv and --plot, a replayed index
// beyond the campaign as given, a scenario whose lander starts landed, and
// runs that failed counted apart from those flown. And the pieces behind
// them: the summary over flown runs, partial marks, the envelope's bins
// once the kept starts are full.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "montecarlo/Report.h"
#include "montecarlo/Tally.h"
#include "tests/sim/CommandRun.h"

namespace vtal::clitest {
namespace {

using montecarlo::CampaignInfo;
using montecarlo::Outcome;
using montecarlo::Quantity;
using montecarlo::RunRecord;

const std::string kCampaign = std::string("montecarlo --no-progress --root ") + VTAL_SIM_ROOT + " ";

TEST_F(CommandTest, AReplayedRunWritesItsOwnCsvAndPlot) {
    const Ran r = Run(kCampaign + "--runs 10 --replay 3 --csv run.csv --plot run.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Has(r.err, "outside the campaign")) << r.err;
    const std::vector<std::string> written = Lines(ReadAll(In("run.csv")));
    ASSERT_EQ(written.size(), 2u) << "the header and the replayed run's row, marked complete";
    EXPECT_EQ(written[1].substr(0, 2), "3,");
    EXPECT_EQ(ReadAll(In("run.png")).substr(1, 3), "PNG");
    EXPECT_TRUE(Has(r.err, "its CSV row written to run.csv")) << r.err;
    EXPECT_TRUE(Has(r.err, "its start drawn in run.png")) << r.err;
    EXPECT_EQ(Listing(), (std::set<std::string>{"run.csv", "run.png"}));
}

// A run flown alone prints its dispersed start in words, then the report a
// flight prints; the start it states is the start its CSV row gives.
TEST_F(CommandTest, AReplayedRunPrintsItsStartAndItsReport) {
    const Ran r = Run(kCampaign + "--seed 3 --replay 2 --disperse heading=none --disperse propellant=none --csv run.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> printed = Lines(r.out);
    ASSERT_GE(printed.size(), 5u) << r.out;
    EXPECT_EQ(printed[0], "Run 2 of a vtal-sim montecarlo campaign of seed 3 over Descent.scn,");
    EXPECT_TRUE(Has(r.out, "\nAs the scenario has them: heading, propellant.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "  heading ")) << "an undispersed quantity is not listed as drawn: " << r.out;
    EXPECT_TRUE(Has(r.out, "\nvtal-sim: ")) << "the flight's own report follows: " << r.out;
    EXPECT_TRUE(Has(r.out, "  outcome (Lander): ")) << r.out;

    // Each stated start value is the CSV row's, to the account's two decimals.
    const std::vector<std::string> csv = Lines(ReadAll(In("run.csv")));
    ASSERT_EQ(csv.size(), 2u);
    std::vector<std::string> header, row;
    for (const auto &[line, fields] : {std::pair{&csv[0], &header}, std::pair{&csv[1], &row}}) {
        std::istringstream in(*line);
        for (std::string f; std::getline(in, f, ',');) fields->push_back(f);
    }
    const std::vector<std::pair<std::string, std::string>> stated{
        {"  altitude ", "altitude_m"}, {"  sink rate ", "sink_rate_mps"}, {"  pitch rate ", "pitch_rate_dps"}};
    for (const auto &[words, column] : stated) {
        const std::size_t at = r.out.find(words);
        ASSERT_NE(at, std::string::npos) << words << r.out;
        const double value = std::stod(r.out.substr(at + words.size()));
        std::size_t i = 0;
        while (i < header.size() && header[i] != column) ++i;
        ASSERT_LT(i, row.size()) << column;
        EXPECT_NEAR(value, std::stod(row[i]), 0.0051) << words;
    }
}

TEST_F(CommandTest, AReplayedIndexOutsideTheCampaignAsGivenIsSaid) {
    const Ran given = Run(kCampaign + "--runs 5 --replay 5");
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_TRUE(Has(given.err, "vtal-sim montecarlo: warning: run 5 lies outside the campaign as given (5 runs, 0 to 4)"))
        << given.err;
    EXPECT_TRUE(Has(given.out, "Run 5 of a vtal-sim montecarlo campaign")) << "flown all the same: " << given.out;

    const Ran byDefault = Run(kCampaign + "--replay 1000");
    EXPECT_TRUE(Has(byDefault.err, "(1000 runs, 0 to 999, the default --runs)")) << byDefault.err;

    const Ran inside = Run(kCampaign + "--runs 5 --replay 4");
    EXPECT_FALSE(Has(inside.err, "outside")) << inside.err;
}

TEST_F(CommandTest, ACampaignOverALanderThatStartsLandedIsRefusedWithTheReason) {
    const Ran r = Run(kCampaign + "Lander/FuelDepot --runs 3 --csv runs.csv");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "FuelDepot.scn")) << r.err;
    EXPECT_TRUE(Has(r.err, "the focus vessel 'Lander' starts landed")) << r.err;
    EXPECT_TRUE(Has(r.err, "none of the campaign's dispersions")) << r.err;
    EXPECT_TRUE(r.out.empty()) << "no summary of starts never flown: " << r.out;
    EXPECT_TRUE(Listing().empty());
}

// A run whose process dies (as a module that crashes takes it down) is a
// failed run: reported with its reason, apart from the runs flown.
// Runs that never touch down, each flying 600 s at this step: long enough
// for the kill below to find a run in flight. Under the sanitizers, whose
// frames are a hundred times dearer, a coarser step is as long.
#if defined(__SANITIZE_ADDRESS__)
const char *const kNeverLandingStep = "0.02";
#else
const char *const kNeverLandingStep = "0.002";
#endif

TEST_F(CommandTest, RunsThatFailAreCountedApartFromTheRunsFlown) {
    const std::string command = std::string(VTAL_SIM_EXE) + " " + kCampaign + "--runs 3 --jobs 1 --dt " +
                                kNeverLandingStep +
                                " --csv runs.csv --disperse altitude=uniform:50000:60000 "
                                "--disperse sink_rate=uniform:-500:-400";
    const std::string out = dir_ + ".out", err = dir_ + ".err";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(127);
        execl("/bin/sh", "sh", "-c", ("exec " + command + " >" + out + " 2>" + err).c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // The first worker seen, whichever run it flies, ended as a crash ends it
    // (SIGKILL: no handler, the sanitizers' included, turns it into an exit).
    pid_t worker = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (worker == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
        children >> worker;
        if (worker == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GT(worker, 0);
    kill(worker, SIGKILL);
    int raw = 0;
    waitpid(pid, &raw, 0);
    const std::string summary = ReadAll(out), messages = ReadAll(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << messages;
    EXPECT_TRUE(std::regex_search(messages, std::regex("vtal-sim montecarlo: run [0-2] failed: the run's process was "
                                                       "killed by signal 9 \\(")))
        << messages;
    EXPECT_TRUE(Has(summary, "  timeout                      2  100.00 %\n")) << summary;
    EXPECT_TRUE(Has(summary, "  run failed                   1  (not flown to an outcome: left out of the shares and "
                             "the success rate)\n"))
        << summary;
    EXPECT_TRUE(Has(summary, "Success rate (landed softly): 0.00 %, 95 % confidence interval 0.00 % .. 65.76 %\n"))
        << "two runs flown, none soft: " << summary;
    EXPECT_TRUE(Has(summary, "  (of the 2 runs flown; 1 failed)\n")) << summary;
    const std::vector<std::string> rows = Lines(ReadAll(In("runs.csv")));
    ASSERT_EQ(rows.size(), 4u);
    long failedRows = 0;
    for (std::size_t i = 1; i < rows.size(); ++i)
        if (std::regex_search(rows[i], std::regex("^[0-2],[0-9]+,{12}error,"))) ++failedRows;
    EXPECT_EQ(failedRows, 1) << "one failed row, claiming no start";
}

RunRecord Flown(long index, Outcome outcome, double sinkRate, double speed) {
    RunRecord r;
    r.index = index;
    r.outcome = outcome;
    r.touchdownSinkSpeed = 1.0;
    r.start[static_cast<int>(Quantity::SinkRate)] = sinkRate;
    r.start[static_cast<int>(Quantity::HorizontalSpeed)] = speed;
    return r;
}

TEST(Summary, FailedRunsLeaveTheSharesAndTheEnvelopeAlone) {
    std::vector<RunRecord> records = {Flown(0, Outcome::Soft, 10, 0), Flown(1, Outcome::Soft, 20, 5),
                                      Flown(2, Outcome::Hard, 30, 10), Flown(3, Outcome::Error, 0, 0)};
    const std::string s = montecarlo::Summary(CampaignInfo{}, records);
    EXPECT_TRUE(Has(s, "landed softly                2   66.67 %")) << s;
    EXPECT_TRUE(Has(s, "Success rate (landed softly): 66.67 %")) << s;
    EXPECT_TRUE(Has(s, "run failed                   1  (not flown")) << s;
    // The failed run's zero start would stretch the sink-rate bins down to 0.
    EXPECT_TRUE(Has(s, "                    10-14        14-18        18-22        22-26        26-30\n")) << s;
}

TEST(Summary, APartialCampaignSaysHowManyOfHowMany) {
    CampaignInfo info;
    info.plannedRuns = 50;
    info.interruption = "SIGINT";
    const std::string s = montecarlo::Summary(info, {Flown(0, Outcome::Soft, 10, 0), Flown(1, Outcome::Soft, 20, 5)});
    EXPECT_TRUE(Has(s, "Monte-Carlo campaign: 2 runs of")) << s;
    EXPECT_TRUE(Has(s, "(partial: 2 of 50 runs, interrupted by SIGINT: everything below is of the runs finished before)"))
        << s;
    info.interruption.clear();
    info.plannedRuns = 2;
    EXPECT_FALSE(Has(montecarlo::Summary(info, {Flown(0, Outcome::Soft, 10, 0), Flown(1, Outcome::Soft, 20, 5)}),
                     "partial"));
}

// Once the kept starts are full the bins stay those of their range, and
// later starts beyond it are counted in the edge cells.
TEST(Tally, TheEnvelopeBinsStayThoseOfTheKeptStarts) {
    montecarlo::Tally tally(5);
    for (long i = 0; i < 5; ++i) tally.Add(Flown(i, Outcome::Soft, 10.0 + 10.0 * i, 0));  // 10 .. 50
    const montecarlo::Tally::Envelope before = tally.EnvelopeTable();
    EXPECT_FALSE(before.binsFromKeptStarts);
    tally.Add(Flown(5, Outcome::Hard, 1000.0, 0));  // far beyond: the last column
    tally.Add(Flown(6, Outcome::Soft, -5.0, 0));    // below: the first
    tally.Add(Flown(7, Outcome::Error, 30.0, 0));   // failed: nowhere
    const montecarlo::Tally::Envelope after = tally.EnvelopeTable();
    EXPECT_TRUE(after.binsFromKeptStarts);
    EXPECT_EQ(after.sink.lo, 10.0);
    EXPECT_EQ(after.sink.width, 8.0);
    EXPECT_EQ(after.runs, (std::vector<long>{2, 1, 1, 1, 2}));
    EXPECT_EQ(after.soft, (std::vector<long>{2, 1, 1, 1, 1}));
    EXPECT_EQ(tally.Starts().size(), 5u) << "the plot's points stay the first kept";
    EXPECT_EQ(tally.StartsSeen(), 7);
    EXPECT_EQ(tally.Runs(), 8);
    EXPECT_EQ(tally.Flown(), 7);
    const std::string s = montecarlo::Summary(CampaignInfo{}, tally);
    EXPECT_TRUE(Has(s, "(bins over the range of the first 5 runs flown; later starts beyond it are counted in the"))
        << s;
}

}  // namespace
}  // namespace vtal::clitest
