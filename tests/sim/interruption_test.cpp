// vtal-sim interrupted while it writes: SIGINT or SIGTERM in the middle of
// an output, or while gnuplot draws, leaves every file that was there as it
// was, no temporary file (beside the outputs or in the temporary folder)
// and no helper program running, and the program exits with 128 + the
// signal's number. The signals are sent once the condition they interrupt
// is seen (a temporary file growing, gnuplot started), not after a delay.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "CommandRun.h"
#include "SpawnedSim.h"

namespace vtal::clitest {
namespace {

const std::string kRoot = VTAL_SIM_ROOT;
// Only ends a test whose condition never comes; a sanitizer build is slow.
constexpr std::chrono::milliseconds kGenerous(180000);
constexpr std::uintmax_t kWellUnderWay = 1u << 20;  // bytes of a temporary output

class Interrupted : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        temporary_ = dir_ + ".tmp";
        tools_ = dir_ + ".bin";
        fs::create_directory(temporary_);
        fs::create_directory(tools_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(temporary_, ec);
        fs::remove_all(tools_, ec);
        CommandTest::TearDown();
    }

    // The size of the largest file in `folder` whose name begins with `prefix`.
    static std::uintmax_t Largest(const std::string &folder, const std::string &prefix) {
        std::uintmax_t largest = 0;
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(folder, ec))
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                largest = std::max(largest, fs::file_size(entry.path(), ec));
        return largest;
    }

    // A gnuplot that says its process id and then draws nothing for ever.
    std::string HangingGnuplot() const {
        const std::string script = tools_ + "/gnuplot";
        WriteAll(script, "#!/bin/sh\necho $$ > '" + tools_ + "/gnuplot.pid.new'\nmv '" + tools_ + "/gnuplot.pid.new' '" +
                             tools_ + "/gnuplot.pid'\nexec sleep 600\n");
        chmod(script.c_str(), 0755);
        return "PATH=" + tools_ + ":" + std::getenv("PATH");
    }
    pid_t GnuplotPid() const {
        const std::string text = ReadAll(tools_ + "/gnuplot.pid");
        return text.empty() ? 0 : static_cast<pid_t>(std::atol(text.c_str()));
    }

    // Signals the program once `started` holds, and checks how it ended.
    void InterruptWhen(SpawnedSim &sim, int signal, const std::function<bool()> &started) {
        ASSERT_TRUE(PollUntil([&] { return started() || !sim.Running(); }, kGenerous) && sim.Running())
            << "the run ended before it could be interrupted: " << sim.Err();
        sim.Signal(signal);
        const int status = sim.Wait(kGenerous);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << sim.Err();
    }

    std::string temporary_, tools_;
};

TEST_F(Interrupted, WhileAnOutputIsWrittenLeavesTheOldFilesAndNoTemporaryFile) {
    const std::string old = "what an earlier run wrote\n";
    const struct {
        int signal;
        const char *said;
        std::vector<std::string> outputs;  // options
        bool inTemporaryFolder;            // where the growing file is
    } cases[] = {
        {SIGINT, "interrupted (SIGINT)", {"--telemetry", "t.csv", "--report", "r.json"}, false},
        // The plot's rows go to a temporary file of their own.
        {SIGTERM, "terminated (SIGTERM)", {"--plot", "p.png", "--save", "s.scn"}, true},
    };
    for (const auto &c : cases) {
        for (const char *name : {"t.csv", "r.json", "p.png", "s.scn"}) WriteAll(In(name), old);
        const auto before = Listing();
        std::vector<std::string> args{"--root", kRoot, "--quiet", "--until", "3000", "--dt", "0.001"};
        args.insert(args.end(), c.outputs.begin(), c.outputs.end());
        SpawnedSim sim(dir_, args, {"TMPDIR=" + temporary_}, dir_ + ".log");
        InterruptWhen(sim, c.signal, [&] {
            return c.inTemporaryFolder ? Largest(temporary_, "") > kWellUnderWay : Largest(dir_, ".t.csv.") > kWellUnderWay;
        });
        EXPECT_TRUE(Has(sim.Err(), c.said)) << sim.Err();
        EXPECT_EQ(Listing(), before) << c.said;
        for (const char *name : {"t.csv", "r.json", "p.png", "s.scn"}) EXPECT_EQ(ReadAll(In(name)), old) << name;
        EXPECT_TRUE(fs::is_empty(temporary_)) << "left in the temporary folder: " << fs::directory_iterator(temporary_)->path();
    }
}

TEST_F(Interrupted, WhileGnuplotDrawsEndsItAndRemovesItsFiles) {
    const std::string path = HangingGnuplot();
    const std::string old = "an earlier picture\n";
    WriteAll(In("p.png"), old);
    SpawnedSim sim(dir_, {"--root", kRoot, "--quiet", "--until", "2", "--plot", "p.png"},
                   {"TMPDIR=" + temporary_, path}, dir_ + ".log");
    InterruptWhen(sim, SIGTERM, [&] { return GnuplotPid() > 0; });
    const pid_t gnuplot = GnuplotPid();
    EXPECT_FALSE(ProcessExists(gnuplot)) << "gnuplot still runs";
    if (ProcessExists(gnuplot)) kill(gnuplot, SIGKILL);
    EXPECT_EQ(ReadAll(In("p.png")), old);
    EXPECT_EQ(Listing(), std::set<std::string>{"p.png"});
    EXPECT_TRUE(fs::is_empty(temporary_)) << "the plot's rows or script were left behind";
}

TEST_F(Interrupted, ACampaignWhileGnuplotDrawsItsEnvelopeEndsItAndRemovesItsFiles) {
    const std::string path = HangingGnuplot();
    const std::string old = "an earlier envelope\n";
    WriteAll(In("envelope.png"), old);
    SpawnedSim sim(dir_, {"montecarlo", "--root", kRoot, "--runs", "2", "--jobs", "1", "--no-progress", "--plot", "envelope.png"},
                   {"TMPDIR=" + temporary_, path}, dir_ + ".log");
    InterruptWhen(sim, SIGTERM, [&] { return GnuplotPid() > 0; });
    const pid_t gnuplot = GnuplotPid();
    EXPECT_FALSE(ProcessExists(gnuplot)) << "gnuplot still runs";
    if (ProcessExists(gnuplot)) kill(gnuplot, SIGKILL);
    EXPECT_EQ(ReadAll(In("envelope.png")), old);
    EXPECT_EQ(Listing(), std::set<std::string>{"envelope.png"});
    EXPECT_TRUE(fs::is_empty(temporary_)) << "the envelope's script was left behind";
}

}  // namespace
}  // namespace vtal::clitest
