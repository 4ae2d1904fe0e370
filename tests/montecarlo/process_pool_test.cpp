#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>
#include <algorithm>
#include <cerrno>
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

// Global state that a task changes: in a process of its own, every task
// must see it as the parent left it.
int gCounter = 0;

struct Collected {
    std::map<long, Result> results;
    std::map<long, std::string> failures;
};

Collected RunAll(long count, int jobs, const std::function<void(long, void *)> &task) {
    Collected c;
    RunInChildProcesses(count, jobs, sizeof(Result), task,
                        [&c](long index, const void *bytes, const TaskOutcome &outcome) {
                            if (outcome.ok) {
                                Result r;
                                std::memcpy(&r, bytes, sizeof r);
                                c.results[index] = r;
                            } else {
                                c.failures[index] = outcome.failure;
                            }
                        });
    return c;
}

void SquareTask(long index, void *out) {
    ++gCounter;
    Result r{index * index, gCounter};
    std::memcpy(out, &r, sizeof r);
}

TEST(ProcessPool, EveryTaskOnceWithItsResultWhateverTheJobs) {
    for (int jobs : {1, 2, 5}) {
        gCounter = 0;
        const Collected c = RunAll(40, jobs, SquareTask);
        ASSERT_EQ(c.results.size(), 40u) << "jobs " << jobs;
        EXPECT_TRUE(c.failures.empty());
        for (const auto &[index, r] : c.results) {
            EXPECT_EQ(r.square, index * index);
            EXPECT_EQ(r.counterSeen, 1) << "task " << index << " saw another task's state";
        }
        EXPECT_EQ(gCounter, 0) << "a task changed the parent's state";
    }
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
            close(release[1]);
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
        if (order.size() >= 3 && !zeroDone && ++idleCallsAfterThree == 50) close(release[1]);
        return false;
    };
    EXPECT_TRUE(RunInChildProcesses(12, 2, sizeof(Result), task, done, 4, stop));
    close(release[0]);
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
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child left behind";
    EXPECT_EQ(errno, ECHILD);
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
