// The vtal-sim program: bad arguments and files end with a clear message and
// exit status 2; the same run twice writes byte-identical files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

#include "SimTestSupport.h"

namespace vtal::simtest {
namespace {

struct Outcome {
    int status = -1;
    std::string err;
};

Outcome RunSim(const std::string &args) {
    const std::string errPath = TempPath("stderr.txt");
    const std::string cmd = std::string(VTAL_SIM_EXE) + " " + args + " >/dev/null 2>" + errPath;
    const int rc = std::system(cmd.c_str());
    Outcome o;
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.err = ReadFile(errPath);
    std::remove(errPath.c_str());
    return o;
}

struct BadArgs {
    const char *args;
    const char *message;
};

class BadArguments : public ::testing::TestWithParam<BadArgs> {};

TEST_P(BadArguments, ExitWithStatusTwoAndSayWhy) {
    const Outcome o = RunSim(GetParam().args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find(GetParam().message), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BadArguments,
    ::testing::Values(BadArgs{"--no-such-option", "--no-such-option"}, BadArgs{"--dt 0", "--dt"},
                      BadArgs{"--dt abc", "--dt"}, BadArgs{"--dt 5", "--dt"}, BadArgs{"--until -3", "--until"},
                      BadArgs{"--until nan --quiet", "--until"}, BadArgs{"--keys 12", "--keys"},
                      BadArgs{"--keys 3:Q5", "unknown key"}, BadArgs{"--keys 5-2:V", "ends before it starts"},
                      BadArgs{"--keys x:K", "not a time"}, BadArgs{"no/such/file.scn", "not found"},
                      BadArgs{"--root /nonexistent", "not an installation"},
                      BadArgs{"--telemetry /nonexistent/dir/t.csv", "no folder"},
                      BadArgs{"--view /nonexistent/dir/v.html", "no folder"},
                      BadArgs{"--report /", "is a folder"},
                      BadArgs{VTAL_SIM_TEST_DATA "/bad_number.scn", "bad_number.scn:4: RPOS: '12x' is not a number"},
                      BadArgs{"a.scn b.scn", "b.scn"}));

TEST(Cli, ShortRunSucceedsQuietly) {
    const Outcome o = RunSim("--until 1 --quiet");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.err.empty()) << o.err;
}

TEST(Cli, SameRunTwiceGivesIdenticalTelemetryAndReport) {
    std::string outputs[2][2];
    for (int run = 0; run < 2; ++run) {
        const std::string csv = TempPath("det" + std::to_string(run) + ".csv");
        const std::string json = TempPath("det" + std::to_string(run) + ".json");
        const Outcome o =
            RunSim("--quiet --until 90 --keys 75:K,78:G --telemetry " + csv + " --report " + json);
        ASSERT_EQ(o.status, 0) << o.err;
        outputs[run][0] = ReadFile(csv);
        outputs[run][1] = ReadFile(json);
        std::remove(csv.c_str());
        std::remove(json.c_str());
    }
    EXPECT_GT(outputs[0][0].size(), 100000u);
    EXPECT_EQ(outputs[0][0], outputs[1][0]);
    EXPECT_EQ(outputs[0][1], outputs[1][1]);
}

TEST(Cli, PlotAndHudFilesAreWritten) {
    const std::string png = TempPath("plot.png"), svg = TempPath("hud.svg");
    const Outcome o = RunSim("--quiet --until 20 --plot " + png + " --hud " + svg);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string picture = ReadFile(png), legend = ReadFile(svg);
    EXPECT_EQ(picture.substr(1, 3), "PNG");
    EXPECT_NE(legend.find("M = Descent Manual Override"), std::string::npos);
    std::remove(png.c_str());
    std::remove(svg.c_str());
}

}  // namespace
}  // namespace vtal::simtest
