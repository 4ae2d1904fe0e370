// `vtal-sim montecarlo` through its real command line under bad input and
// failing writes: dispersion files a reader cannot hold or would have to
// guess at, absurd dispersions, counts that are not whole numbers, and a CSV
// that cannot be written. Exit status 2 for bad input, 1 for a failure while
// running; the file that was there stays whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>

#include "tests/sim/CommandRun.h"

namespace vtal::clitest {
namespace {

const std::string kCampaign = std::string("montecarlo --no-progress --root ") + VTAL_SIM_ROOT + " ";

struct BadDispersion {
    const char *label;
    const char *json;     // the dispersion file
    const char *message;  // part of the error
};

void PrintTo(const BadDispersion &b, std::ostream *os) { *os << b.label; }

class RefusedDispersionFile : public CommandTest, public ::testing::WithParamInterface<BadDispersion> {};

TEST_P(RefusedDispersionFile, EndsWithStatusTwoAndSaysWhy) {
    WriteAll(In("d.json"), GetParam().json);
    const Ran r = Run(kCampaign + "--runs 2 --dispersions d.json --csv runs.csv");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "vtal-sim montecarlo: error: ")) << r.err;
    EXPECT_TRUE(Has(r.err, GetParam().message)) << r.err;
    EXPECT_FALSE(Has(r.err, "terminate called")) << r.err;
    EXPECT_FALSE(std::regex_search(r.err, std::regex("[0-9]{20}"))) << "a number with all its digits: " << r.err;
    EXPECT_FALSE(fs::exists(In("runs.csv"))) << "nothing was flown";
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedDispersionFile,
    ::testing::Values(
        BadDispersion{"number beyond a double",
                      R"({"altitude": {"distribution": "uniform", "min": 0, "max": 1e400}})",
                      "d.json: a number beyond the range of a double"},
        BadDispersion{"name given twice",
                      R"({"pitch": {"distribution": "normal", "sigma": 1}, "pitch": {"distribution": "none"}})",
                      "d.json: \"pitch\" is given twice"},
        BadDispersion{"member given twice", R"({"pitch": {"distribution": "normal", "sigma": 1, "sigma": 2}})",
                      "\"sigma\" is given twice"},
        BadDispersion{"unbounded range", R"({"altitude": {"distribution": "uniform", "min": 0, "max": 1e308}})",
                      "1e+308 is beyond the limit for altitude: from -100000 to 100000 m"},
        BadDispersion{"absurd rate", R"({"yaw_rate": {"distribution": "normal", "sigma": 1e6}})",
                      "1000000 is beyond the limit for yaw_rate: from -360 to 360 deg/s"},
        BadDispersion{"bounds the wrong way round",
                      R"({"bank": {"distribution": "uniform", "min": 1e3, "max": -1e3}})",
                      "the lower bound 1000 is above the upper bound -1000"}));

TEST_F(CommandTest, DispersionFilesThatAreNoRegularFilesGetTheirReason) {
    fs::create_directory(In("folder.json"));
    ASSERT_EQ(mkfifo(In("pipe.json").c_str(), 0600), 0);
    const struct {
        const char *path, *reason;
    } cases[] = {{"/dev/zero", "is a device"},  // read whole, it would never end
                 {"folder.json", "is a folder"},
                 {"pipe.json", "is a FIFO"},
                 {"missing.json", "no such file"}};
    for (const auto &c : cases) {
        const Ran r = Run(kCampaign + "--runs 2 --dispersions " + c.path);
        EXPECT_EQ(r.status, 2) << c.path << ": " << r.err;
        EXPECT_TRUE(Has(r.err, std::string("dispersion file ") + c.path)) << r.err;
        EXPECT_TRUE(Has(r.err, c.reason)) << r.err;
    }
    WriteAll(In("huge.json"), "{" + std::string(2 << 20, ' ') + "}");
    const Ran r = Run(kCampaign + "--runs 2 --dispersions huge.json");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "at most 1048576 bytes are read")) << r.err;
}

TEST_F(CommandTest, AbsurdDispersionsOnTheCommandLineAreRefused) {
    Ran r = Run(kCampaign + "--runs 2 --disperse pitch_rate=uniform:-1e6:1e6");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "-1000000 is beyond the limit for pitch_rate")) << r.err;
    r = Run(kCampaign + "--runs 2 --disperse altitude=uniform:0:1e400");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "must be a finite number")) << r.err;
}

TEST_F(CommandTest, CountsAndStepsAreReadAsWholeNumbersWithinTheirRanges) {
    const struct {
        const char *args, *message;
    } cases[] = {{"--runs 1e3", "--runs: '1e3' is not a whole number from 1 to 100000000"},
                 {"--runs 0", "--runs: '0' is out of range: it must be a whole number from 1 to 100000000"},
                 {"--replay 1e300", "--replay: '1e300' is not a whole number from 0 to 99999999"},
                 {"--jobs 99999999999999999999", "--jobs: '99999999999999999999' is out of range"},
                 {"--dt 1e-400", "--dt: '1e-400' is out of range: it must be above 0 and at most 1"},
                 {"--dt 1e-300", "the smallest accepted --dt is 0.0000006 s"}};
    for (const auto &c : cases) {
        const Ran r = Run(kCampaign + c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
    }
}

TEST_F(CommandTest, ACsvThatCannotBeWrittenFailsWithStatusOneAndKeepsTheOldFile) {
    Ran r = Run(kCampaign + "--runs 2 --csv /dev/full");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "cannot write /dev/full")) << r.err;

    const std::string old = "run,seed\nthe old rows\n";
    WriteAll(In("runs.csv"), old);
    r = Run(kCampaign + "--runs 2 --csv runs.csv", "ulimit -f 0");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "cannot write runs.csv")) << r.err;
    EXPECT_EQ(ReadAll(In("runs.csv")), old);
    EXPECT_EQ(Listing(), std::set<std::string>{"runs.csv"});

    r = Run(kCampaign + "--runs 2 --csv runs.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(In("runs.csv")).rfind("run,seed,altitude_m", 0), 0u);
    EXPECT_EQ(Listing(), std::set<std::string>{"runs.csv"});
}

TEST_F(CommandTest, AReplayedStartThatCannotBeWrittenFailsTheReplay) {
    const Ran r = Run(kCampaign + "--replay 0 --write-scenario /dev/full");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "run 0 could not be flown: cannot write /dev/full")) << r.err;
}

}  // namespace
}  // namespace vtal::clitest
