// Campaign workers fly run after run, loading the module afresh for each:
// a run flies the same, bit for bit, whatever its worker flew before; and a
// module that stays loaded when unloaded gets every run a fresh process
// rather than pass its state from one run to the next.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "montecarlo/Campaign.h"
#include "montecarlo/Report.h"
#include "TempPath.h"

namespace {

namespace fs = std::filesystem;
using namespace vtal::montecarlo;
using vtal::montecarlo::testing::TempPath;

CampaignOptions Options(const std::string &root, long runs, int jobs) {
    CampaignOptions o;
    o.root = root;
    o.runs = runs;
    o.jobs = jobs;
    o.seed = 7;
    return o;
}

template <typename T>
bool SameBits(const T &a, const T &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The first field in which two records differ in any bit, or empty.
std::string FirstDifference(const RunRecord &a, const RunRecord &b) {
    if (a.index != b.index) return "index";
    if (a.seed != b.seed) return "seed";
    if (!SameBits(a.draw, b.draw)) return "draw";
    if (!SameBits(a.start, b.start)) return "start";
    if (a.clamped != b.clamped) return "clamped";
    if (a.outcome != b.outcome) return "outcome";
    if (a.crashNotice != b.crashNotice) return "crashNotice";
    if (a.ranDry != b.ranDry) return "ranDry";
    const struct {
        const char *name;
        double RunRecord::*field;
    } numbers[] = {{"touchdownTime", &RunRecord::touchdownTime},
                   {"touchdownSinkSpeed", &RunRecord::touchdownSinkSpeed},
                   {"touchdownHorizontalSpeed", &RunRecord::touchdownHorizontalSpeed},
                   {"touchdownPitch", &RunRecord::touchdownPitch},
                   {"touchdownBank", &RunRecord::touchdownBank},
                   {"touchdownTilt", &RunRecord::touchdownTilt},
                   {"finalTilt", &RunRecord::finalTilt},
                   {"drift", &RunRecord::drift},
                   {"propellantUsed", &RunRecord::propellantUsed},
                   {"propellantBound", &RunRecord::propellantBound},
                   {"endTime", &RunRecord::endTime}};
    for (const auto &n : numbers)
        if (!SameBits(a.*n.field, b.*n.field)) return n.name;
    if (std::strcmp(a.failure, b.failure) != 0) return "failure";
    if (CsvRow(a) != CsvRow(b)) return "the CSV row";
    return "";
}

// The processes this (single-threaded) test has forked and not yet reaped.
std::set<pid_t> ChildrenNow() {
    std::set<pid_t> children;
    std::ifstream in("/proc/self/task/" + std::to_string(getpid()) + "/children");
    for (pid_t pid = 0; in >> pid;) children.insert(pid);
    return children;
}

// Under the sanitizers a descent takes a second instead of milliseconds:
// there the runs flown again alone are every tenth and the last (the one
// after a hundred others); elsewhere every run.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kReplayEvery = 10;
#else
constexpr long kReplayEvery = 1;
#endif

// One worker flies 101 runs; each run is then flown again alone, in a fresh
// worker: every field of every record is the same to the bit. Among the
// runs before the last are crashes, whose crash notice the module shows
// once per loading: a module state carried over would change what follows.
TEST(WorkerReuse, ARunFliesTheSameInAFreshWorkerAndAfterAHundredOthers) {
    const CampaignSetup setup = PrepareCampaign(Options(VTAL_SIM_ROOT, 101, 1));
    std::set<pid_t> workers;
    const std::vector<RunRecord> records = RunCampaign(setup, [&workers](long) {
        for (pid_t pid : ChildrenNow()) workers.insert(pid);
    });
    ASSERT_EQ(records.size(), 101u);
    EXPECT_EQ(workers.size(), 1u) << "the runs were not flown by one worker";
    long crashesBeforeLast = 0;
    for (std::size_t i = 0; i + 1 < records.size(); ++i) crashesBeforeLast += records[i].crashNotice ? 1 : 0;
    EXPECT_GT(crashesBeforeLast, 0) << "no run left the module's crash state set before the last";

    for (const RunRecord &flown : records) {
        ASSERT_NE(flown.outcome, Outcome::Error) << "run " << flown.index << ": " << flown.failure;
        if (flown.index % kReplayEvery != 0 && flown.index != records.back().index) continue;
        const RunRecord alone = ReplayRun(setup, flown.index, "");
        EXPECT_EQ(FirstDifference(alone, flown), "") << "run " << flown.index << " after " << flown.index
                                                     << " others in one worker\n  " << CsvRow(flown)
                                                     << "\nalone in a fresh worker\n  " << CsvRow(alone);
    }
}

// An installation like the staged one whose lander module cannot be
// unloaded (linked with -z nodelete): unloading it leaves its state in place.
class UnloadableModule : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = TempPath("nodelete_root");
        fs::remove_all(root_);
        fs::create_directories(fs::path(root_) / "Modules");
        for (const char *folder : {"Config", "Meshes", "Scenarios"})
            fs::create_directory_symlink(fs::path(VTAL_SIM_ROOT) / folder, fs::path(root_) / folder);
        fs::copy_file(VTAL_NODELETE_MODULE, fs::path(root_) / "Modules" / "vtal.so");
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string root_;
};

// The worker finds the module still loaded after the first run and retires:
// every run flies in a fresh process, flown exactly as with a module that
// unloads (a run in a process holding the module would refuse to fly), and
// the campaign says why, once.
TEST_F(UnloadableModule, EveryRunGetsAFreshProcessAndTheCampaignSaysWhy) {
    const long kRuns = 12;
    const CampaignSetup stuck = PrepareCampaign(Options(root_, kRuns, 2));
    std::vector<RunRecord> records;
    std::vector<std::string> warnings;
    ASSERT_TRUE(FlyCampaign(
        stuck, [&records](const RunRecord &r) { records.push_back(r); }, nullptr, nullptr,
        [&warnings](const std::string &why) { warnings.push_back(why); }));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("stays loaded after its run unloaded it"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(stuck.modulePaths.at(0)), std::string::npos) << warnings[0];

    const std::vector<RunRecord> expected = RunCampaign(PrepareCampaign(Options(VTAL_SIM_ROOT, kRuns, 2)), nullptr);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        ASSERT_NE(records[i].outcome, Outcome::Error) << "run " << i << ": " << records[i].failure;
        EXPECT_EQ(FirstDifference(records[i], expected[i]), "") << "run " << i;
    }
}

// What a worker asks after each run: in a process that has flown one run,
// the module that cannot be unloaded is found still loaded, the ordinary
// one is gone.
int LeftLoadedAfterOneRun(const CampaignSetup &setup) {
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            FlyRun(setup, 0);
            _exit(ModulesLeftLoaded(setup).empty() ? 0 : 1);
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(UnloadableModule, FoundStillLoadedAfterARunWhereTheOrdinaryOneIsGone) {
    EXPECT_EQ(LeftLoadedAfterOneRun(PrepareCampaign(Options(root_, 1, 1))), 1);
    EXPECT_EQ(LeftLoadedAfterOneRun(PrepareCampaign(Options(VTAL_SIM_ROOT, 1, 1))), 0);
}

}  // namespace
