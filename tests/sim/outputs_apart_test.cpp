// Outputs that would destroy an input or another output, through the real
// command line of vtal-sim and of its campaigns: refused before anything
// flies (status 2, naming both), whether the file is named directly,
// through a symbolic link or by a hard link, with every file left as it
// was. Outputs that are no regular file (a descriptor the shell opened, a
// FIFO) are written in place, in order, and never replaced.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "CommandRun.h"
#include "SpawnedSim.h"
#include "sim/base/SafeFiles.h"

namespace vtal::clitest {
namespace {

const std::string kRoot = VTAL_SIM_ROOT;
const std::string kRootOption = " --root " + kRoot + " ";
constexpr std::chrono::milliseconds kGenerous(180000);

ino_t InodeOf(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class OutputsApart : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        scenario_ = ReadAll(kRoot + "/Scenarios/Lander/Descent.scn");
        WriteAll(In("flown.scn"), scenario_);
        fs::create_symlink("flown.scn", In("link.scn"));
        fs::create_hard_link(In("flown.scn"), In("hard.scn"));
    }
    std::string scenario_;
};

TEST_F(OutputsApart, AnyOutputButSaveOverTheFlownScenarioIsRefusedHoweverItIsNamed) {
    const auto before = Listing();
    for (const std::string option : {"--telemetry", "--report", "--hud", "--plot"}) {
        for (const std::string name : {"flown.scn", "link.scn", "hard.scn", "./flown.scn"}) {
            const Ran r = Run(kRootOption + "flown.scn --until 1 " + option + " " + name);
            EXPECT_EQ(r.status, 2) << option << " " << name << ": " << r.err;
            EXPECT_TRUE(Has(r.err, option + " '" + name + "' names the scenario being flown ('flown.scn')")) << r.err;
            EXPECT_TRUE(Has(r.err, "only --save may replace it")) << r.err;
            EXPECT_TRUE(r.out.empty()) << "nothing was flown";
        }
    }
    EXPECT_EQ(ReadAll(In("flown.scn")), scenario_);
    EXPECT_EQ(Listing(), before);
    // An explicit --save over it, through the link, is what saving is for.
    const Ran saved = Run(kRootOption + "flown.scn --quiet --until 1 --save link.scn");
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(ReadAll(In("flown.scn")), scenario_);
    EXPECT_TRUE(fs::is_symlink(In("link.scn")));
    EXPECT_EQ(Listing(), before);
}

TEST_F(OutputsApart, TwoOutputsNamingOneFileAreRefusedAndTheFileKept) {
    WriteAll(In("a.json"), "kept\n");
    fs::create_hard_link(In("a.json"), In("b.json"));
    const auto before = Listing();
    const struct {
        std::string args, message;
    } cases[] = {
        {"--report new.json --hud new.json", "--report 'new.json' and --hud 'new.json' name one file"},
        {"--report new.json --telemetry ./sub/../new.json", "--telemetry './sub/../new.json' and --report 'new.json' name one file"},
        {"--report a.json --telemetry b.json", "--telemetry 'b.json' and --report 'a.json' name one file"},
        {"--save a.json --plot b.json", "--save 'a.json' and --plot 'b.json' name one file"},
    };
    fs::create_directory(In("sub"));
    for (const auto &c : cases) {
        const Ran r = Run(kRootOption + "--until 1 " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "one output would replace the other")) << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
    }
    fs::remove(In("sub"));
    EXPECT_EQ(ReadAll(In("a.json")), "kept\n");
    EXPECT_EQ(Listing(), before);
}

TEST_F(OutputsApart, TheInstallationsFilesAreInputsToo) {
    // An installation of our own, so that nothing shared is at risk.
    fs::create_directories(In("root/Config/Vessels"));
    fs::create_directories(In("root/Modules"));
    fs::copy_file(kRoot + "/Config/Vessels/vtal.cfg", In("root/Config/Vessels/vtal.cfg"));
    fs::copy_file(kRoot + "/Modules/vtal.so", In("root/Modules/vtal.so"));
    const std::string config = ReadAll(In("root/Config/Vessels/vtal.cfg"));
    const std::string module = ReadAll(In("root/Modules/vtal.so"));
    Ran r = Run("--root root flown.scn --until 1 --report root/Config/Vessels/vtal.cfg");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "names the configuration of vessel class 'vtal'")) << r.err;
    r = Run("--root root flown.scn --until 1 --save root/Modules/vtal.so");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "--save 'root/Modules/vtal.so' names the module library 'vtal'")) << r.err;
    r = Run(std::string("--root root flown.scn --until 1 --hud ") + VTAL_SIM_EXE);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "names this program")) << r.err;
    EXPECT_EQ(ReadAll(In("root/Config/Vessels/vtal.cfg")), config);
    EXPECT_EQ(ReadAll(In("root/Modules/vtal.so")), module);
}

TEST_F(OutputsApart, CampaignOutputsAreRefusedOverItsInputsAndEachOther) {
    WriteAll(In("d.json"), R"({"pitch": {"distribution": "normal", "sigma": 3}})");
    const auto before = Listing();
    const struct {
        std::string args, message;
    } cases[] = {
        {"flown.scn --csv link.scn", "--csv 'link.scn' names the scenario being flown ('flown.scn')"},
        {"flown.scn --replay 0 --write-scenario hard.scn", "--write-scenario 'hard.scn' names the scenario being flown"},
        {"flown.scn --dispersions d.json --csv d.json", "--csv 'd.json' names --dispersions ('d.json')"},
        {"flown.scn --csv out --plot ./out", "--csv 'out' and --plot './out' name one file"},
    };
    for (const auto &c : cases) {
        const Ran r = Run("montecarlo" + kRootOption + "--runs 2 --no-progress " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
        EXPECT_FALSE(Has(r.out, "runs of")) << "no campaign was flown";
    }
    EXPECT_EQ(ReadAll(In("flown.scn")), scenario_);
    EXPECT_EQ(Listing(), before);
}

TEST_F(OutputsApart, ADescriptorTheShellOpenedIsWrittenInPlaceAfterWhatWasThere) {
    WriteAll(In("log.txt"), "earlier lines\n");
    WriteAll(In("rows.log"), "earlier rows\n");
    const ino_t logInode = InodeOf(In("log.txt")), rowsInode = InodeOf(In("rows.log"));
    const auto before = Listing();
    const std::string errPath = dir_ + ".err";
    const std::string command = "cd '" + dir_ + "' && exec " + VTAL_SIM_EXE + kRootOption +
                                "--quiet --until 1 --report /dev/stdout --telemetry /dev/fd/3 >> log.txt 3>>rows.log 2>" +
                                errPath;
    const int raw = std::system(command.c_str());
    const std::string err = ReadAll(errPath);
    std::remove(errPath.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << err;
    const std::string log = ReadAll(In("log.txt")), rows = ReadAll(In("rows.log"));
    EXPECT_EQ(log.rfind("earlier lines\n{", 0), 0u) << log.substr(0, 100);
    EXPECT_TRUE(Has(log, "\"end_time\": 1.0")) << "the report follows the old lines";
    EXPECT_EQ(rows.rfind("earlier rows\ntime,altitude,", 0), 0u) << rows.substr(0, 100);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 62);
    EXPECT_EQ(InodeOf(In("log.txt")), logInode) << "replaced, not written";
    EXPECT_EQ(InodeOf(In("rows.log")), rowsInode) << "replaced, not written";
    EXPECT_EQ(Listing(), before);
}

TEST_F(OutputsApart, AFifoIsWrittenInPlaceAndThePlotStillGetsItsRows) {
    ASSERT_EQ(mkfifo(In("rows.fifo").c_str(), 0600), 0);
    const int reader = open(In("rows.fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    SpawnedSim sim(dir_, {"--root", kRoot, "--quiet", "--until", "2", "--telemetry", "rows.fifo", "--plot", "p.png"}, {},
                   dir_ + ".log");
    std::string rows;
    const auto drain = [&] {
        char buffer[1 << 16];
        ssize_t n = 0;
        while ((n = read(reader, buffer, sizeof buffer)) > 0) rows.append(buffer, static_cast<std::size_t>(n));
    };
    EXPECT_TRUE(PollUntil([&] { drain(); return !sim.Running(); }, kGenerous));
    drain();
    close(reader);
    const int status = sim.Wait(kGenerous);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sim.Err();
    EXPECT_EQ(rows.rfind("time,altitude,", 0), 0u);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 122);  // header, the start and 120 frames
    struct stat st {};
    ASSERT_EQ(lstat(In("rows.fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced by a file";
    EXPECT_TRUE(sim::IsCompletePng(In("p.png")));
    EXPECT_EQ(Listing(), (std::set<std::string>{"rows.fifo", "p.png", "flown.scn", "link.scn", "hard.scn"}));
}

}  // namespace
}  // namespace vtal::clitest
