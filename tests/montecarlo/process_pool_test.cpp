#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <stdexcept>
#include <string>

#include "montecarlo/Progress.h"
#include "montecarlo/ProcessPool.h"

namespace {

using namespace vtal::montecarlo;

struct Result {
    long square;
    int counterSeen;
};

// Global state that a task changes: it stays in the worker that ran the
// task, never reaching the parent or another worker.
int gCounter = 0;

struct Collected {
    std::map<long, Result> results;
    std::map<long, std::string> failures;
    std::map<long, TaskOutcome> outcomes;
};

Collected RunAll(long count, int jobs, const std::function<void(long, void *)> &task,
                 const ReuseCheck &reuseCheck = nullptr, const std::function<bool()> &stop = nullptr) {
    Collected c;
    RunInChildProcesses(
        count, jobs, sizeof(Result), task,
        [&c](long index, const void *bytes, const TaskOutcome &outcome) {
            EXPECT_TRUE(c.outcomes.emplace(index, outcome).second) << "task " << index << " twice";
            if (outcome.ok) {
                Result r;
                std::memcpy(&r, bytes, sizeof r);
                c.results[index] = r;
            } else {
                c.failures[index] = outcome.failure;
            }
        },
        kUnlimitedWindow, stop, reuseCheck);
    return c;
}

void SquareTask(long index, void *out) {
    ++gCounter;
    Result r{index * index, gCounter};
    std::memcpy(out, &r, sizeof r);
}

std::set<long> WorkersOf(const Collected &c) {
    std::set<long> workers;
    for (const auto &entry : c.outcomes) workers.insert(entry.second.worker);
    return workers;
}

// No worker may outlive the pool: none is left for this process to reap.
void ExpectNoWorkerLeft() {
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a worker left behind";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessPool, EveryTaskOnceWithItsResultWhateverTheJobs) {
    for (int jobs : {1, 2, 5}) {
        gCounter = 0;
        const Collected c = RunAll(40, jobs, SquareTask);
        ASSERT_EQ(c.results.size(), 40u) << "jobs " << jobs;
        EXPECT_TRUE(c.failures.empty());
        for (const auto &[index, r] : c.results) EXPECT_EQ(r.square, index * index);
        EXPECT_EQ(gCounter, 0) << "a task changed the parent's state";
        EXPECT_LE(WorkersOf(c).size(), static_cast<std::size_t>(jobs)) << "more workers than jobs, none having died";
        ExpectNoWorkerLeft();
    }
}

// A worker runs task after task, in index order when it is the only one:
// what a task leaves behind the next one in that worker sees.
TEST(ProcessPool, AWorkerRunsTaskAfterTaskInOneProcess) {
    gCounter = 0;
    const Collected c = RunAll(30, 1, SquareTask);
    ASSERT_EQ(c.results.size(), 30u);
    EXPECT_EQ(WorkersOf(c), std::set<long>{0});
    for (const auto &[index, r] : c.results) EXPECT_EQ(r.counterSeen, index + 1) << "task " << index;
    EXPECT_EQ(gCounter, 0);
}

// The check after each task retires a worker that must not run another:
// the next task starts in a fresh process from the parent's state, and the
// outcome says why the worker ended.
TEST(ProcessPool, AWorkerTheCheckRetiresIsReplacedByAFreshOne) {
    gCounter = 0;
    // Asked in the worker: after a task of odd index, the worker is worn out.
    const ReuseCheck wornAfterOdd = [] { return gCounter % 2 == 0 ? std::string("worn out") : std::string(); };
    const Collected c = RunAll(10, 1, SquareTask, wornAfterOdd);
    ASSERT_EQ(c.results.size(), 10u);
    for (const auto &[index, outcome] : c.outcomes) {
        EXPECT_EQ(outcome.worker, index / 2) << "task " << index;
        EXPECT_EQ(outcome.retired, index % 2 ? "worn out" : "") << "task " << index;
        EXPECT_EQ(c.results.at(index).counterSeen, index % 2 + 1) << "task " << index << " saw a retired worker's state";
    }
    // A check that retires every worker: each task in a process of its own.
    const Collected fresh = RunAll(12, 3, SquareTask, [] { return std::string("spent"); });
    ASSERT_EQ(fresh.results.size(), 12u);
    EXPECT_EQ(WorkersOf(fresh).size(), 12u);
    for (const auto &entry : fresh.results) EXPECT_EQ(entry.second.counterSeen, 1);
    ExpectNoWorkerLeft();
}

TEST(ProcessPool, FailuresComeBackWithTheirReasonAndOthersStillRun) {
    const Collected c = RunAll(6, 2, [](long index, void *out) {
        if (index == 1) throw std::runtime_error("the scenario could not be read");
        if (index == 3) std::abort();
        if (index == 4) std::exit(7);
        SquareTask(index, out);
    });
    EXPECT_EQ(c.results.size(), 3u);
    ASSERT_EQ(c.failures.size(), 3u);
    EXPECT_EQ(c.failures.at(1), "the scenario could not be read");
    EXPECT_NE(c.failures.at(3).find("signal " + std::to_string(SIGABRT)), std::string::npos) << c.failures.at(3);
    EXPECT_NE(c.failures.at(4).find("status 7"), std::string::npos) << c.failures.at(4);
    EXPECT_TRUE(c.outcomes.at(1).retired.empty()) << "a task that throws leaves its worker serving";
    ExpectNoWorkerLeft();
}

constexpr long kStuck = 7;  // the task during which its worker is killed

// A worker killed from outside in the middle of a task (as the kernel's
// out-of-memory killer or a user would): that task is reported failed, a
// fresh worker takes the tasks after it, and every other task is done once.
TEST(ProcessPool, AWorkerKilledMidTaskFailsThatTaskAloneAndIsReplaced) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    fcntl(report[0], F_SETFL, O_NONBLOCK);
    const auto task = [&report](long index, void *out) {
        if (index == kStuck) {
            const pid_t self = getpid();
            if (write(report[1], &self, sizeof self) != sizeof self) std::abort();
            for (;;) pause();  // until killed
        }
        SquareTask(index, out);
    };
    pid_t killed = 0;
    const auto killStuckWorker = [&report, &killed] {
        pid_t pid = 0;
        if (killed == 0 && read(report[0], &pid, sizeof pid) == sizeof pid) {
            killed = pid;
            kill(pid, SIGKILL);
        }
        return false;
    };
    const Collected c = RunAll(200, 2, task, nullptr, killStuckWorker);
    close(report[0]);
    close(report[1]);
    ASSERT_GT(killed, 0) << "the stuck task never started";
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_EQ(c.failures.count(kStuck), 1u);
    EXPECT_NE(c.failures.at(kStuck).find("killed by signal " + std::to_string(SIGKILL)), std::string::npos)
        << c.failures.at(kStuck);
    EXPECT_EQ(c.results.size(), 199u);
    for (const auto &[index, r] : c.results) EXPECT_EQ(r.square, index * index);
    EXPECT_EQ(WorkersOf(c).size(), 3u) << "two workers and the one that replaced the killed one";
    ExpectNoWorkerLeft();
}

// Task 0 blocks until released; the others finish at once. With a window of
// 4, tasks 1 to 3 may finish ahead of it and no later task may start until
// it is done, however long the pool waits for it.
TEST(ProcessPool, NoTaskStartsMoreThanTheWindowAheadOfTheLowestUnfinished) {
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    std::vector<long> order;
    int idleCallsAfterThree = 0;
    const auto task = [&release](long index, void *out) {
        if (index == 0) {
            // Released by a byte: the other worker holds the pipe's write
            // end too (as forked), so its end would never come.
            char byte = 0;
            while (read(release[0], &byte, 1) < 0) {
            }
        }
        SquareTask(index, out);
    };
    const auto done = [&order](long index, const void *, const TaskOutcome &outcome) {
        EXPECT_TRUE(outcome.ok) << outcome.failure;
        order.push_back(index);
    };
    // Asked before every round of starts: once 1 to 3 are in, the pool has
    // many rounds in which it could start task 4 before task 0 is let go.
    const auto stop = [&] {
        const bool zeroDone = std::find(order.begin(), order.end(), 0L) != order.end();
        if (order.size() >= 3 && !zeroDone && ++idleCallsAfterThree == 50 &&
            write(release[1], "x", 1) != 1)
            ADD_FAILURE() << "task 0 could not be released";
        return false;
    };
    EXPECT_TRUE(RunInChildProcesses(12, 2, sizeof(Result), task, done, 4, stop));
    close(release[0]);
    close(release[1]);
    ASSERT_EQ(order.size(), 12u);
    EXPECT_GE(idleCallsAfterThree, 50) << "task 0 was let go by the test, after the pool had waited for it";
    EXPECT_EQ(std::set<long>(order.begin(), order.begin() + 3), (std::set<long>{1, 2, 3}));
    EXPECT_EQ(order[3], 0) << "a task beyond the window finished before the lowest unfinished one";
}

TEST(ProcessPool, StoppedItEndsItsChildrenAndSaysSo) {
    std::set<long> done;
    const bool complete = RunInChildProcesses(
        100000, 2, sizeof(Result), SquareTask,
        [&done](long index, const void *, const TaskOutcome &outcome) {
            EXPECT_TRUE(outcome.ok) << "a child ended by the stop is not reported: " << outcome.failure;
            EXPECT_TRUE(done.insert(index).second) << "task " << index << " twice";
        },
        kUnlimitedWindow, [&done] { return done.size() >= 5; });
    EXPECT_FALSE(complete);
    EXPECT_GE(done.size(), 5u);
    EXPECT_LT(done.size(), 100000u);
    ExpectNoWorkerLeft();
}

TEST(ProcessPool, NothingToRun) {
    const Collected c = RunAll(0, 4, SquareTask);
    EXPECT_TRUE(c.results.empty());
    EXPECT_TRUE(c.failures.empty());
}

TEST(ProgressLine, ShowsRunsRateAndTimeLeft) {
    EXPECT_EQ(ProgressBar::Line(250, 1000, 5.0),
              "[#######.......................] 250/1000 runs  50.0 runs/s  00:15 left");
    EXPECT_EQ(ProgressBar::Line(1000, 1000, 20.0),
              "[##############################] 1000/1000 runs  50.0 runs/s  00:00 left");
    EXPECT_EQ(ProgressBar::Line(0, 10, 0.0), "[..............................] 0/10 runs  0.0 runs/s  --:-- left");
}

}  // namespace
