// `vtal-sim montecarlo` stopped in the middle, through its real command
// line: SIGTERM to the parent alone, Ctrl+C to the whole process group and
// the parent killed outright. An interrupted campaign writes the summary,
// CSV rows and plot of the runs it finished, marked partial with how many of
// how many, exits 128 + the signal, and leaves no worker and no temporary
// file behind. The campaign's memory does not grow with the run count.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/sim/CommandRun.h"

namespace vtal::clitest {
namespace {

// A process as /proc shows it: its parent, its state and when it started
// (which tells a process from a later one given the same id).
struct ProcessInfo {
    pid_t ppid = 0;
    char state = '?';
    unsigned long long startTime = 0;
};

bool ReadProcess(pid_t pid, ProcessInfo &info) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return false;
    const std::size_t close = text.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    std::vector<std::string> f;
    while (fields >> field) f.push_back(field);
    if (f.size() < 20) return false;
    info.state = f[0][0];
    info.ppid = static_cast<pid_t>(std::stol(f[1]));
    info.startTime = std::stoull(f[19]);  // field 22 of the line
    return true;
}

// The workers of a campaign: its children, each with its start time.
std::map<pid_t, unsigned long long> ChildrenOf(pid_t parent) {
    std::map<pid_t, unsigned long long> children;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        ProcessInfo info;
        if (ReadProcess(static_cast<pid_t>(std::stol(name)), info) && info.ppid == parent && info.state != 'Z')
            children[static_cast<pid_t>(std::stol(name))] = info.startTime;
    }
    return children;
}

// Whether a worker seen before still runs (a zombie runs no more).
bool StillRunning(pid_t pid, unsigned long long startTime) {
    ProcessInfo info;
    return ReadProcess(pid, info) && info.startTime == startTime && info.state != 'Z';
}

// A campaign started in the background, its standard output and error in
// files beside the test's folder (so that the folder holds only its outputs).
class Background : public CommandTest {
protected:
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::remove(OutPath().c_str());
        std::remove(ErrPath().c_str());
        CommandTest::TearDown();
    }
    std::string OutPath() const { return dir_ + ".out"; }
    std::string ErrPath() const { return dir_ + ".err"; }

    // Starts `vtal-sim montecarlo ARGS` in the folder, in a process group of
    // its own, its address space limited to `addressSpaceBytes` (0: no limit).
    void Start(const std::string &args, rlim_t addressSpaceBytes = 0) {
        const std::string command = std::string("exec ") + VTAL_SIM_EXE + " montecarlo --no-progress --root " +
                                    VTAL_SIM_ROOT + " " + args;
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setpgid(0, 0);
            if (addressSpaceBytes > 0) {
                const rlimit limit{addressSpaceBytes, addressSpaceBytes};
                setrlimit(RLIMIT_AS, &limit);
            }
            const int out = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0 || chdir(dir_.c_str()) != 0) _exit(127);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }

    // Waits until at least `count` different workers have been seen (with
    // `jobs` at a time, more than `jobs` means runs have finished) and
    // returns every worker seen. Gives up after a minute.
    std::map<pid_t, unsigned long long> WaitForWorkers(std::size_t count) {
        std::map<pid_t, unsigned long long> seen;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (seen.size() < count && std::chrono::steady_clock::now() < giveUp) {
            const auto now = ChildrenOf(pid_);
            seen.insert(now.begin(), now.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return seen;
    }

    // Waits until the CSV being written as `name` (a hidden working file
    // beside it until the campaign commits it) holds at least `bytes`: the
    // rows of runs finished. A row takes about 300 bytes; the header and
    // the rows reach the file a buffer of some 4 kB at a time. Gives up
    // after a minute; whether it got there.
    bool WaitForCsvBytes(const std::string &name, std::uintmax_t bytes) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < giveUp) {
            for (const auto &entry : fs::directory_iterator(dir_)) {
                std::error_code ec;
                if (entry.path().filename().string().rfind("." + name + ".", 0) == 0 &&
                    fs::file_size(entry.path(), ec) >= bytes && !ec)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // Waits for the campaign to end; its exit status, or -1 if a signal killed it.
    int Wait() {
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // Waits up to `seconds` for every worker seen to be gone; the ones left.
    static std::size_t WorkersLeftAfter(const std::map<pid_t, unsigned long long> &workers, double seconds) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            std::size_t left = 0;
            for (const auto &[pid, start] : workers) left += StillRunning(pid, start) ? 1 : 0;
            if (left == 0 || std::chrono::steady_clock::now() >= giveUp) return left;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    pid_t pid_ = -1;
};

// What an interrupted campaign must have written: the summary and the CSV of
// the same runs, each marked partial with how many of how many.
void ExpectPartialOutputs(const std::string &summary, const std::string &csv, long planned, const char *signal) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(summary, m, std::regex("Monte-Carlo campaign: ([0-9]+) runs of"))) << summary;
    const long flown = std::stol(m[1]);
    EXPECT_GT(flown, 0);
    EXPECT_LT(flown, planned);
    const std::string note =
        "partial: " + std::to_string(flown) + " of " + std::to_string(planned) + " runs, interrupted by " + signal;
    EXPECT_TRUE(Has(summary, "(" + note + ": everything below is of the runs finished before)")) << summary;
    EXPECT_TRUE(Has(summary, "Success rate (landed softly)")) << "the whole summary is written";
    std::istringstream lines(csv);
    std::string line, last;
    long rows = -1;  // the header is no row
    while (std::getline(lines, line)) {
        if (line.rfind("#", 0) != 0) ++rows;
        last = line;
    }
    EXPECT_EQ(rows, flown) << "a CSV row for every run in the summary";
    EXPECT_EQ(last, "# " + note);
}

// The CSV's bytes once a few runs have finished, and once 50 have. The
// header (about 400 bytes) reaches the file at once, before any run has
// finished; the rows then come a buffer's worth (4 kB) at a time.
const std::uintmax_t kSomeRowsBytes = 1024;
const std::uintmax_t kManyRowsBytes = 50 * 300;

// Runs of about 3 ms: many finish within the first second.
const std::string kQuickRuns = "--runs 1000000 --dt 0.05 --jobs 2 ";
const int kJobs = 2;

TEST_F(Background, SigtermToTheParentAloneWritesWhatWasFlownAndEndsTheWorkers) {
    Start(kQuickRuns + "--csv runs.csv --plot envelope.png");
    const auto workers = WaitForWorkers(kJobs);
    ASSERT_EQ(workers.size(), static_cast<std::size_t>(kJobs)) << ReadAll(ErrPath());
    ASSERT_TRUE(WaitForCsvBytes("runs.csv", kSomeRowsBytes)) << "no runs finished: " << ReadAll(ErrPath());
    ASSERT_EQ(kill(pid_, SIGTERM), 0);  // the parent only, as `kill PID` does
    EXPECT_EQ(Wait(), 143);
    const std::string err = ReadAll(ErrPath());
    EXPECT_TRUE(Has(err, "interrupted by SIGTERM after ")) << err;
    EXPECT_TRUE(Has(err, "what they gave is written, marked partial")) << err;
    ExpectPartialOutputs(ReadAll(OutPath()), ReadAll(In("runs.csv")), 1000000, "SIGTERM");
    EXPECT_EQ(ReadAll(In("envelope.png")).substr(1, 3), "PNG");
    EXPECT_EQ(Listing(), (std::set<std::string>{"envelope.png", "runs.csv"})) << "no temporary file left";
    EXPECT_EQ(WorkersLeftAfter(workers, 0.0), 0u) << "every worker ended with the campaign";
}

TEST_F(Background, CtrlCToTheProcessGroupWritesWhatWasFlownAndExits130) {
    Start(kQuickRuns + "--csv runs.csv");
    const auto workers = WaitForWorkers(kJobs);
    ASSERT_EQ(workers.size(), static_cast<std::size_t>(kJobs)) << ReadAll(ErrPath());
    ASSERT_TRUE(WaitForCsvBytes("runs.csv", kSomeRowsBytes)) << "no runs finished: " << ReadAll(ErrPath());
    ASSERT_EQ(kill(-pid_, SIGINT), 0);  // the whole group, as a terminal's Ctrl+C does
    EXPECT_EQ(Wait(), 130);
    ExpectPartialOutputs(ReadAll(OutPath()), ReadAll(In("runs.csv")), 1000000, "SIGINT");
    const std::string summary = ReadAll(OutPath());
    EXPECT_FALSE(Has(summary, "run failed")) << "workers stopped by the campaign are not failed runs";
    EXPECT_EQ(Listing(), std::set<std::string>{"runs.csv"});
    EXPECT_EQ(WorkersLeftAfter(workers, 0.0), 0u);
}

// Runs that never touch down, at a step so fine that each takes many
// seconds: killed outright, the parent cannot end them itself.
const std::string kLongRuns =
    "--runs 4 --jobs 2 --dt 0.00001 --disperse altitude=uniform:50000:60000 --disperse sink_rate=uniform:-500:-400 ";

TEST_F(Background, WorkersEndWithTheirParentKilledOutright) {
    Start(kLongRuns);
    const auto workers = WaitForWorkers(kJobs);
    ASSERT_EQ(workers.size(), static_cast<std::size_t>(kJobs)) << ReadAll(ErrPath());
    ASSERT_EQ(kill(pid_, SIGKILL), 0);
    EXPECT_EQ(Wait(), -1);
    // A worker's run takes far longer than this: only the parent's death ends it.
    EXPECT_EQ(WorkersLeftAfter(workers, 5.0), 0u) << "workers left flying without their parent";
}

// The campaign process's peak resident memory, bytes (0 if unknown).
long PeakResidentBytes(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;  // given in kB
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
const rlim_t kAddressSpace = 0;  // AddressSanitizer reserves terabytes of address space for its shadow
#else
const rlim_t kAddressSpace = rlim_t{1} << 30;
#endif
const long kMostResidentBytes = 512L << 20;

// At the largest run count the campaign starts flying within 1 GB of address
// space (where the sanitizers allow a limit) and well under 512 MB resident,
// and stays there: records are streamed, not kept per run.
TEST_F(Background, TheLargestRunCountFliesInBoundedMemory) {
    Start("--runs 100000000 --dt 0.05 --jobs 2 --csv runs.csv", kAddressSpace);
    ASSERT_TRUE(WaitForCsvBytes("runs.csv", kManyRowsBytes)) << "not 50 runs finished: " << ReadAll(ErrPath());
    const long peak = PeakResidentBytes(pid_);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, kMostResidentBytes);
    ASSERT_EQ(kill(pid_, SIGINT), 0);
    EXPECT_EQ(Wait(), 130) << ReadAll(ErrPath());
    const std::string summary = ReadAll(OutPath());
    EXPECT_TRUE(std::regex_search(summary, std::regex("partial: [0-9]+ of 100000000 runs, interrupted by SIGINT")))
        << summary;
}

}  // namespace
}  // namespace vtal::clitest
