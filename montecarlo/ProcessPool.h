// Runs the tasks of a campaign each in a process of its own, forked from
// this one, at most `jobs` at a time. A forked child starts from this
// process's memory, so whatever was loaded before the fork is there as it
// was then, and whatever a task changes dies with its child: every task
// starts from the same state, and no task can disturb another or the
// parent. A child sends its fixed-size result back over a pipe; a child
// that dies without one (a crash, an abort) is reported as failed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vtal::montecarlo {

// Largest result a task may send, so that one record fits in one atomic pipe write.
constexpr std::size_t kMaxResultBytes = 3072;

struct TaskOutcome {
    bool ok = false;
    std::string failure;  // why a task failed: its own message or how its process ended
};

// Runs task(index, out) for every index in [0, count), each in a child
// process; `out` points to `resultBytes` zeroed bytes that the task fills.
// A task reports failure by throwing; the exception's message comes back.
// done(index, result, outcome) runs in this process for every task, in the
// order tasks finish. Standard output and error of the children are
// discarded. Throws std::runtime_error if processes cannot be created.
void RunInChildProcesses(long count, int jobs, std::size_t resultBytes,
                         const std::function<void(long index, void *out)> &task,
                         const std::function<void(long index, const void *result, const TaskOutcome &)> &done);

// The number of processors this process may run on (at least 1).
int AvailableCores();

}  // namespace vtal::montecarlo
