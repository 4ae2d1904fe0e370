// The `vtal-sim montecarlo` command as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempPath.h"
#include "sim/view/ViewPage.h"
#include "tests/sim/TextParts.h"

namespace {

using vtal::testtext::Lines;

struct Ran {
    int status = -1;
    std::string out, err;
};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Temp(const std::string &name) { return vtal::montecarlo::testing::TempPath(name); }

Ran Montecarlo(const std::string &arguments) {
    const std::string out = Temp("mc_cmd_out.txt"), err = Temp("mc_cmd_err.txt");
    const std::string command = std::string(VTAL_SIM_EXE) + " montecarlo --root " + VTAL_SIM_ROOT + " " + arguments +
                                " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    Ran r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

// Fields of a CSV line without quoted commas (the failure column is empty here).
std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    return fields;
}

struct BadInput {
    const char *arguments;
    const char *message;  // the error names the problem
};

void PrintTo(const BadInput &b, std::ostream *os) { *os << b.arguments; }

class RejectedCommand : public ::testing::TestWithParam<BadInput> {
protected:
    static void SetUpTestSuite() {
        std::ofstream(Temp("mc_bad_syntax.json")) << "{\"altitude\": {\"distribution\": \"uniform\", \"min\": 0,}";
        std::ofstream(Temp("mc_bad_bounds.json")) << "{\"sink_rate\": {\"distribution\": \"uniform\", \"min\": 5, \"max\": 1}}";
        std::ofstream(Temp("mc_bad_name.json")) << "{\"sinkrate\": {\"distribution\": \"none\"}}";
    }
    static void TearDownTestSuite() {
        for (const char *name : {"mc_bad_syntax.json", "mc_bad_bounds.json", "mc_bad_name.json"})
            std::remove(Temp(name).c_str());
    }
};

// Nothing is flown and no output is written: the error, and exit status 2.
TEST_P(RejectedCommand, ClearErrorAndStatus2) {
    const std::string csv = Temp("mc_rejected.csv");
    std::remove(csv.c_str());
    std::string arguments = GetParam().arguments;
    // TMP/name stands for this process's temporary file of that name.
    for (std::size_t at; (at = arguments.find("TMP/")) != std::string::npos;) {
        const std::size_t end = arguments.find(' ', at);
        const std::string name = arguments.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
        arguments.replace(at, 4 + name.size(), Temp(name));
    }
    const Ran r = Montecarlo(arguments + " --runs 3 --csv " + csv);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("vtal-sim montecarlo:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(csv)) << "nothing may be written for a rejected command";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RejectedCommand,
    ::testing::Values(BadInput{"--runs 0", "--runs"}, BadInput{"--runs many", "--runs"},
                      BadInput{"--jobs 0", "--jobs"}, BadInput{"--seed x", "--seed"}, BadInput{"--seed -1", "--seed"},
                      BadInput{"--seed 18446744073709551616", "--seed"},
                      BadInput{"--replay -2", "--replay"}, BadInput{"--dt 0", "--dt"},
                      BadInput{"--bogus", "bogus"},
                      BadInput{"--disperse altitude", "NAME=DIST"},
                      BadInput{"--disperse height=uniform:0:1", "unknown quantity \"height\""},
                      BadInput{"--disperse pitch=normal:-1", "must not be negative"},
                      BadInput{"--disperse sink_rate=uniform:9:1", "above the upper bound"},
                      BadInput{"--disperse altitude=uniform:0:nan", "finite"},
                      BadInput{"--dispersions /nonexistent/d.json", "dispersion file /nonexistent/d.json: cannot be read (no such file)"},
                      BadInput{"--dispersions TMP/mc_bad_syntax.json", "not valid JSON"},
                      BadInput{"--dispersions TMP/mc_bad_bounds.json", "above the upper bound"},
                      BadInput{"--dispersions TMP/mc_bad_name.json", "unknown quantity \"sinkrate\""},
                      BadInput{"--write-scenario TMP/mc_s.scn", "needs --replay"},
                      BadInput{"--view TMP/mc_v.html", "needs --replay"},
                      BadInput{"--replay 1 --view /nonexistent/v.html", "no folder"},
                      BadInput{"--plot /nonexistent/e.png", "--plot"},
                      BadInput{"NoSuchScenario", "NoSuchScenario"}));

TEST(Command, CampaignWritesSummaryRowsAndPlot) {
    const std::string csv = Temp("mc_cmd.csv"), png = Temp("mc_cmd.png");
    const Ran r = Montecarlo("--runs 24 --jobs 2 --seed 5 --no-progress --csv " + csv + " --plot " + png);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("24 runs of"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("95 % confidence interval"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Thresholds:"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("runs/s"), std::string::npos) << r.err;
    const std::vector<std::string> rows = Lines(ReadFile(csv));
    EXPECT_EQ(rows.size(), 25u);
    EXPECT_EQ(ReadFile(png).substr(1, 3), "PNG");

    // Any run flown alone writes the row the campaign wrote for it.
    const std::string alone = Temp("mc_cmd_alone.csv");
    for (int run : {0, 13, 23}) {
        const Ran replay = Montecarlo("--seed 5 --replay " + std::to_string(run) + " --csv " + alone);
        ASSERT_EQ(replay.status, 0) << replay.err;
        const std::vector<std::string> written = Lines(ReadFile(alone));
        ASSERT_EQ(written.size(), 2u) << ReadFile(alone);
        EXPECT_EQ(written[0], rows[0]);
        EXPECT_EQ(written[1], rows[static_cast<std::size_t>(run) + 1]);
    }
    std::remove(alone.c_str());
    std::remove(csv.c_str());
    std::remove(png.c_str());
}

// A replayed run written out is an ordinary scenario that vtal-sim flies
// to the same touchdown; its replay page shows that touchdown too (in a
// build that has the replay page: -DVTAL_VIEWER=OFF builds have none).
TEST(Command, ReplayedStartWrittenAsAScenarioFliesAlike) {
    const std::string scn = Temp("mc_replay.scn"), page = Temp("mc_replay.html");
    const std::string view = vtal::sim::kViewerBuilt ? " --view " + page : "";
    const std::string csv = Temp("mc_replay.csv");
    const Ran replay = Montecarlo("--seed 9 --replay 4 --write-scenario " + scn + " --csv " + csv + view);
    ASSERT_EQ(replay.status, 0) << replay.err;
    const std::string text = ReadFile(scn);
    EXPECT_NE(text.find("BEGIN_SHIPS"), std::string::npos) << text;
    EXPECT_NE(text.find("RPOS"), std::string::npos) << text;
    // Its description is the dispersed start's, not the scenario's own.
    EXPECT_NE(text.find("BEGIN_DESC\nRun 4 of a vtal-sim montecarlo campaign of seed 9 over Descent.scn,"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("sinking at 20 m/s"), std::string::npos) << "the undispersed start's description: " << text;

    const std::string out = Temp("mc_replay_fly.txt");
    const std::string command = std::string(VTAL_SIM_EXE) + " --root " + VTAL_SIM_ROOT + " " + scn + " >" + out + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(out);
    const std::string flown = ReadFile(out);
    std::remove(out.c_str());
    std::remove(scn.c_str());
    // The campaign's row gives the touchdown time; the flight reports it
    // too, and so does the replay's own report.
    const std::vector<std::string> printed = Lines(ReadFile(csv));
    std::remove(csv.c_str());
    ASSERT_EQ(printed.size(), 2u);
    const std::vector<std::string> header = Fields(printed[0]), row = Fields(printed[1]);
    double rowTime = -1;
    for (std::size_t i = 0; i < header.size() && i < row.size(); ++i)
        if (header[i] == "touchdown_time_s") rowTime = std::stod(row[i]);
    const std::size_t at = flown.find("touchdown at t = ");
    ASSERT_NE(at, std::string::npos) << flown;
    EXPECT_NEAR(std::stod(flown.substr(at + 17)), rowTime, 0.006) << flown;
    const std::size_t reported = replay.out.find("touchdown at t = ");
    ASSERT_NE(reported, std::string::npos) << replay.out;
    EXPECT_NEAR(std::stod(replay.out.substr(reported + 17)), rowTime, 0.006) << replay.out;

    if (!vtal::sim::kViewerBuilt) return;
    const std::string html = ReadFile(page);
    std::remove(page.c_str());
    const std::size_t slot = html.find("\"touchdown\":");
    ASSERT_NE(slot, std::string::npos) << "no record in the replay page";
    EXPECT_NEAR(std::stod(html.substr(slot + 12)), rowTime, 1e-6);
}

}  // namespace
