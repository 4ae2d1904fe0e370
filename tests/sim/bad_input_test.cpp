// vtal-sim through its real command line under bad input and failing
// writes: exit status 2 for bad input, 1 for a failure while running, a
// message that says what and where, and every file that was there kept
// whole, with no temporary file left behind.
#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "CommandRun.h"
#include "SimTestSupport.h"

namespace vtal::clitest {
namespace {

using simtest::FlyingLines;
using simtest::LanderBlock;
using simtest::ScenarioWith;
using simtest::Start;

const std::string kRoot = std::string(" --root ") + VTAL_SIM_ROOT + " ";

// A word that is no number where numbers are written: nan, inf, infinity.
bool HasNonNumberWord(const std::string &text) {
    static const std::regex word("(^|[^A-Za-z])(nan|inf|infinity)([^A-Za-z]|$)", std::regex::icase);
    return std::regex_search(text, word);
}

// JSON has no non-numbers; a writer that meets one writes null. Null is
// right only where the report says "none".
void ExpectNoNullNumber(const nlohmann::json &node, const std::string &key) {
    if (node.is_null()) {
        EXPECT_TRUE(key == "touchdown" || key == "deleted_at" || key == "landed_at" || key == "crash_notice_at")
            << "null at " << key;
    }
    if (node.is_object())
        for (auto it = node.begin(); it != node.end(); ++it) ExpectNoNullNumber(it.value(), it.key());
    if (node.is_array())
        for (const auto &item : node) ExpectNoNullNumber(item, key);
}

std::string LanderScenario(const std::string &standardLines, const std::string &name = "Lander") {
    return ScenarioWith(LanderBlock(standardLines, "  MANUAL 0\n", name), name);
}

// --- 1. Numbers no reader can hold ----------------------------------------

class Numbers : public CommandTest {};

TEST_F(Numbers, BeyondADoubleOnTheCommandLineAreOutOfRangeInPlainNumbers) {
    for (const char *args : {"--until 1e400", "--dt 1e-400", "--every 1e400", "--until -3"}) {
        const Ran r = Run(kRoot + args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "out of range")) << r.err;
        EXPECT_FALSE(std::regex_search(r.err, std::regex("[0-9]{20}"))) << "a number with all its digits: " << r.err;
    }
    const Ran r = Run(kRoot + "--dt 1e-400");
    EXPECT_TRUE(Has(r.err, "above 0 and at most 1")) << r.err;
}

TEST_F(Numbers, BeyondADoubleInAScenarioLineOrAConfigurationIsABadNumberAtItsLine) {
    Start s;
    std::string lines = FlyingLines(s);
    lines.replace(lines.find("RVEL ") + 5, lines.find('\n', lines.find("RVEL ")) - lines.find("RVEL ") - 5, "1e400 0 0");
    WriteAll(In("big.scn"), LanderScenario(lines));
    Ran r = Run(kRoot + "big.scn");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "big.scn:12: RVEL: '1e400' is not a number")) << r.err;

    // An installation of our own with a passive class whose size overflows.
    fs::create_directories(In("root/Config/Vessels"));
    WriteAll(In("root/Config/Vessels/Big.cfg"), "ClassName = Big\nSize = 1e400\n");
    WriteAll(In("passive.scn"), ScenarioWith("Box:Big\n" + FlyingLines(s) + "END\n", "Box"));
    r = Run("--root root passive.scn");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "Big.cfg:2: Size: '1e400' is not a non-negative number")) << r.err;
}

// --- 2. Text that is not UTF-8 ---------------------------------------------

TEST_F(CommandTest, EightBitNamesAndLinesAreFlownAndReportedAsLatin1) {
    // "Landér" in Latin-1, an unknown line and a file name with bytes above 127.
    const std::string name = "Land\xE9r";
    std::string blocks = LanderBlock(FlyingLines(Start{}) + "  \xFF\xFE junk\n", "  MANUAL 0\n", name);
    const std::string file = "d\xE9part.scn";
    WriteAll(In(file), ScenarioWith(blocks, name));
    const Ran r = Run(kRoot + "'" + file + "' --until 2 --report r.json --save s.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, name + " (vtal)")) << r.out;

    nlohmann::json report;
    ASSERT_NO_THROW(report = nlohmann::json::parse(ReadAll(In("r.json"))));
    EXPECT_EQ(report["vessels"][0]["name"], "Land\xC3\xA9r");  // é decoded from Latin-1
    EXPECT_TRUE(Has(report["scenario"].get<std::string>(), "d\xC3\xA9part.scn"));
    const std::string saved = ReadAll(In("s.scn"));
    EXPECT_TRUE(Has(saved, name + ":vtal\n")) << "the saved file keeps the bytes as they were";
    EXPECT_NO_THROW(sim::ParseScenarioText(saved, "s.scn"));
}

// --- 3. Writes that fail ---------------------------------------------------

class FailingWrites : public CommandTest {};

TEST_F(FailingWrites, AFullDeviceFailsEveryOutputWithStatusOne) {
    for (const char *option : {"--save", "--report", "--telemetry", "--hud"}) {
        const Ran r = Run(kRoot + "--until 1 " + option + " /dev/full");
        EXPECT_EQ(r.status, 1) << option << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "cannot write /dev/full")) << r.err;
        EXPECT_TRUE(Has(r.err, "No space left on device")) << r.err;
    }
}

TEST_F(FailingWrites, AFileSizeLimitLeavesEveryOldFileWholeAndNoTemporaryFile) {
    const std::string old = "the file that was here\n";
    for (const char *name : {"t.csv", "r.json", "h.svg", "p.png"}) WriteAll(In(name), old);
    const auto before = Listing();
    for (const std::string option : {"--telemetry t.csv", "--report r.json", "--hud h.svg", "--plot p.png"}) {
        const Ran r = Run(kRoot + "--until 2 " + option, "ulimit -f 0");
        EXPECT_EQ(r.status, 1) << option << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "cannot write") || Has(r.err, "could not write the whole picture")) << r.err;
    }
    for (const char *name : {"t.csv", "r.json", "h.svg", "p.png"}) EXPECT_EQ(ReadAll(In(name)), old) << name;
    EXPECT_EQ(Listing(), before);
}

TEST_F(FailingWrites, SavingOverTheFlownScenarioThatCannotBeWrittenKeepsIt) {
    const std::string scenario = LanderScenario(FlyingLines(Start{}));
    WriteAll(In("flown.scn"), scenario);
    const Ran r = Run(kRoot + "flown.scn --until 2 --save flown.scn", "ulimit -f 0");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "cannot write flown.scn")) << r.err;
    EXPECT_TRUE(Has(r.err, "File too large")) << r.err;
    EXPECT_EQ(ReadAll(In("flown.scn")), scenario);
    EXPECT_EQ(Listing(), std::set<std::string>{"flown.scn"});
}

TEST_F(FailingWrites, AWriteThatWorksReplacesTheFileWholeAndKeepsItsPermissions) {
    WriteAll(In("t.csv"), std::string(100000, 'x'));
    chmod(In("t.csv").c_str(), 0640);
    const Ran r = Run(kRoot + "--until 1 --telemetry t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string rows = ReadAll(In("t.csv"));
    EXPECT_EQ(rows.rfind("time,altitude,", 0), 0u);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 62);  // header, the start and 60 frames
    struct stat st {};
    ASSERT_EQ(stat(In("t.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Listing(), std::set<std::string>{"t.csv"});
}

TEST_F(FailingWrites, AnOutputThatCannotBeWrittenIsRefusedBeforeFlying) {
    const Ran r = Run(kRoot + "--save s.scn --report /dev/null/r.json");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "--report '/dev/null/r.json': /dev/null is not a folder")) << r.err;
    EXPECT_TRUE(Listing().empty()) << "nothing was flown, nothing saved";
    fs::create_directory(In("folder"));
    EXPECT_EQ(Run(kRoot + "--hud folder").status, 2);
}

// --- 4. Frame counts that cannot be represented ----------------------------

TEST_F(CommandTest, FrameCountsBeyondTheLimitAreRefusedWithTheLargestAcceptedValues) {
    Ran r = Run(kRoot + "--until 1e300");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "the largest accepted --until is 16666666.67 s")) << r.err;
    r = Run(kRoot + "--dt 1e-300");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "the smallest accepted --dt is 0.0000006 s")) << r.err;
    r = Run(kRoot + "--dt 1e-300 --until 1");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "1000000000")) << r.err;
}

TEST_F(CommandTest, ATelemetryIntervalBelowAFrameGivesARowEveryFrame) {
    const Ran r = Run(kRoot + "--until 1 --every 1e-320 --telemetry t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string rows = ReadAll(In("t.csv"));
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 62);
}

// --- 5. States that break the physics --------------------------------------

struct BrokenState {
    const char *label;
    const char *key;     // the line replaced
    const char *values;  // its new values
    const char *message;
};

void PrintTo(const BrokenState &b, std::ostream *os) { *os << b.label; }

class RefusedState : public CommandTest, public ::testing::WithParamInterface<BrokenState> {};

std::string WithLine(const std::string &lines, const std::string &key, const std::string &values) {
    const auto at = lines.find("  " + key + " ");
    if (at == std::string::npos) return lines + "  " + key + " " + values + "\n";
    const auto end = lines.find('\n', at);
    return lines.substr(0, at) + "  " + key + " " + values + lines.substr(end);
}

TEST_P(RefusedState, IsRefusedAtItsLineWithTheLimit) {
    const BrokenState b = GetParam();
    WriteAll(In("s.scn"), LanderScenario(WithLine(FlyingLines(Start{}), b.key, b.values)));
    const Ran r = Run(kRoot + "s.scn --save out.scn");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "s.scn:")) << r.err;
    EXPECT_TRUE(Has(r.err, b.message)) << r.err;
    EXPECT_FALSE(fs::exists(In("out.scn")));
}

INSTANTIATE_TEST_SUITE_P(
    States, RefusedState,
    ::testing::Values(BrokenState{"at the centre", "RPOS", "0 0 0", "RPOS: the vessel would be 0 m from the centre"},
                      BrokenState{"near the centre", "RPOS", "999 0 0", "at least 1000 m is accepted"},
                      BrokenState{"gravity underflows", "RPOS", "1e200 0 0", "the vessel would be 1e+200 m from the centre of Moon; at most 1000000000000 m is accepted"},
                      BrokenState{"absurd speed", "RVEL", "0 3e6 0", "RVEL: a speed of 3000000 m/s"},
                      BrokenState{"absurd body rate", "VROT", "0 1e6 0", "VROT: a rate of 1000000 deg/s"},
                      BrokenState{"landed at the centre", "STATUS", "Landed Moon\n  POS 0 0\n  ALT -1738000",
                                  "ALT: the vessel would be 0 m from the centre of Moon"}));

// The states just inside the limits fly to their end (a vessel the physics
// loses ends the run on the frame before), and no output holds a non-number:
// telemetry, report and saved scenario.
TEST_F(CommandTest, StatesAtTheLimitsAreFlownAndNoOutputHoldsANonNumber) {
    Start s;
    const std::string deepBelow = WithLine(FlyingLines(s), "RPOS", "2000 0 0");  // far inside, away from the centre
    const std::string farAway = WithLine(FlyingLines(s), "RPOS", "0 0 999000000000");  // near the limit, with room to move
    const std::string spinning = WithLine(FlyingLines(s), "VROT", "700 -700 700");
    const std::string fast = WithLine(FlyingLines(s), "RVEL", "1000000 0 0");
    int n = 0;
    for (const std::string &lines : {deepBelow, farAway, spinning, fast}) {
        const std::string tag = std::to_string(n++);
        WriteAll(In(tag + ".scn"), LanderScenario(lines));
        const Ran r = Run(kRoot + tag + ".scn --until 30 --telemetry " + tag + ".csv --report " + tag +
                          ".json --save " + tag + ".saved");
        ASSERT_EQ(r.status, 0) << tag << ": " << r.err;
        const std::string telemetry = ReadAll(In(tag + ".csv")), report = ReadAll(In(tag + ".json")),
                          saved = ReadAll(In(tag + ".saved"));
        EXPECT_GE(std::count(telemetry.begin(), telemetry.end(), '\n'), 2) << "the header and the start at least";
        EXPECT_FALSE(HasNonNumberWord(telemetry)) << tag;
        EXPECT_FALSE(HasNonNumberWord(report)) << tag;
        EXPECT_FALSE(HasNonNumberWord(saved)) << tag;
        ExpectNoNullNumber(nlohmann::json::parse(report), "");
        EXPECT_NO_THROW(sim::ParseScenarioText(saved, tag + ".saved")) << tag;
    }
}

// --- 6. Structure the reader would have to guess at ------------------------

TEST_F(CommandTest, AVesselBlockRunningIntoTheNextHeaderIsRefusedNamingTheLine) {
    const std::string blocks = "Lander:vtal\n" + FlyingLines(Start{}) + "  PRPLEVEL 0:1 1:1\nDepot:FuelDepot\n" +
                               FlyingLines(Start{}) + "END\n";
    WriteAll(In("s.scn"), ScenarioWith(blocks));
    const Ran r = Run(kRoot + "s.scn");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "s.scn:16: 'Depot:FuelDepot' looks like the next vessel's header")) << r.err;
    EXPECT_TRUE(Has(r.err, "vessel block 'Lander' (line 9) has no END")) << r.err;
}

TEST_F(CommandTest, AScenarioPathThatIsNoFileGetsItsReason) {
    fs::create_directory(In("folder.scn"));
    ASSERT_EQ(mkfifo(In("pipe.scn").c_str(), 0600), 0);
    const struct {
        const char *path, *reason;
    } cases[] = {{"folder.scn", "is a folder"},
                 {"pipe.scn", "is a FIFO (named pipe)"},
                 {"/dev/zero", "is a device"},
                 {"missing.scn", "scenario 'missing.scn' not found"}};
    for (const auto &c : cases) {
        const Ran r = Run(kRoot + c.path);
        EXPECT_EQ(r.status, 2) << c.path << ": " << r.err;
        EXPECT_TRUE(Has(r.err, c.reason)) << r.err;
    }
}

// --- 7. Class names and modules that are paths -----------------------------

TEST_F(CommandTest, ClassNamesThatArePathsAreRefusedAtTheirHeader) {
    for (const char *cls : {"../../etc/passwd", "/tmp/vtal", "..", "Vessels\\vtal"}) {
        WriteAll(In("s.scn"), ScenarioWith(std::string("Ship:") + cls + "\n" + FlyingLines(Start{}) + "END\n", "Ship"));
        const Ran r = Run(kRoot + "s.scn");
        EXPECT_EQ(r.status, 2) << cls << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "s.scn:9: vessel class")) << r.err;
        EXPECT_TRUE(Has(r.err, "a class is a file name under Config/Vessels/")) << r.err;
    }
}

TEST_F(CommandTest, ModuleEntriesThatArePathsAreRefusedAtTheirLine) {
    fs::create_directories(In("root/Config/Vessels"));
    fs::create_directories(In("root/Modules"));
    // A library outside the installation that a scenario must not reach.
    fs::copy_file(std::string(VTAL_SIM_ROOT) + "/Modules/vtal.so", In("outside.so"));
    WriteAll(In("s.scn"), ScenarioWith("Ship:Evil\n" + FlyingLines(Start{}) + "END\n", "Ship"));
    for (const std::string &module : {std::string("../../outside"), In("outside"), std::string(".."), std::string("sub/vtal")}) {
        WriteAll(In("root/Config/Vessels/Evil.cfg"), "ClassName = Evil\nModule = " + module + "\n");
        const Ran r = Run("--root root s.scn");
        EXPECT_EQ(r.status, 2) << module << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "Evil.cfg:2: Module '")) << r.err;
        EXPECT_TRUE(Has(r.err, "a module is a file name under the installation's Modules/")) << r.err;
    }
}

// --- 8. Messages a person can read -----------------------------------------

TEST_F(CommandTest, AMegabyteLineIsQuotedShort) {
    WriteAll(In("s.scn"), LanderScenario(FlyingLines(Start{}) + "  FUEL " + std::string(1 << 20, '7') + "x\n"));
    const Ran r = Run(kRoot + "s.scn");
    EXPECT_EQ(r.status, 2) << r.err.substr(0, 300);
    EXPECT_LT(r.err.size(), 400u);
    EXPECT_TRUE(Has(r.err, "(1048577 characters) is not a number")) << r.err;
}

TEST_F(CommandTest, NegativeKeyTimesSaySo) {
    for (const char *keys : {"-3:K", "5--2:V"}) {
        const Ran r = Run(kRoot + "--keys=" + keys);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(Has(r.err, "is negative")) << r.err;
    }
    EXPECT_EQ(Run(kRoot + "--quiet --until 1 --keys 1e-3:K,1e-2-2e-1:V").status, 0) << "exponents are no ranges";
}

TEST_F(CommandTest, FuelOutsideZeroToOneWarnsAndFlies) {
    WriteAll(In("s.scn"), LanderScenario(FlyingLines(Start{}) + "  FUEL 1.5\n"));
    const Ran r = Run(kRoot + "s.scn --quiet --until 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "s.scn:15: FUEL outside 0..1 is clamped")) << r.err;
}

}  // namespace
}  // namespace vtal::clitest
