// Runs the tasks of a campaign each in a process of its own, forked from
// this one, at most `jobs` at a time. A forked child starts from this
// process's memory, so whatever was loaded before the fork is there as it
// was then, and whatever a task changes dies with its child: every task
// starts from the same state, and no task can disturb another or the
// parent. A child sends its fixed-size result back over a pipe; a child
// that dies without one (a crash, an abort) is reported as failed. A child
// ends with this process however it ends (even killed outright): none is
// left flying without the process that would collect its result.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vtal::montecarlo {

// Largest result a task may send, so that one record fits in one atomic pipe write.
constexpr std::size_t kMaxResultBytes = 3072;

// No bound on how far ahead of the lowest unfinished task others may start.
constexpr long kUnlimitedWindow = -1;

struct TaskOutcome {
    bool ok = false;
    std::string failure;  // why a task failed: its own message or how its process ended
};

// Runs task(index, out) for every index in [0, count), each in a child
// process; `out` points to `resultBytes` zeroed bytes that the task fills.
// A task reports failure by throwing; the exception's message comes back.
// done(index, result, outcome) runs in this process for every task, in the
// order tasks finish. Standard output and error of the children are
// discarded; they ignore SIGINT (a terminal's Ctrl+C reaches the whole
// process group: this process decides what to do about it). Throws
// std::runtime_error if processes cannot be created.
//
// No task starts more than `window` indices after the lowest one still
// unfinished, so that a caller putting results back in index order holds
// at most `window` of them. Once stop() is true no task starts; the results
// already sent back are handed on, the children still running are killed
// and reaped, and the call returns false. It returns true when every task
// has finished.
bool RunInChildProcesses(long count, int jobs, std::size_t resultBytes,
                         const std::function<void(long index, void *out)> &task,
                         const std::function<void(long index, const void *result, const TaskOutcome &)> &done,
                         long window = kUnlimitedWindow, const std::function<bool()> &stop = nullptr);

// The number of processors this process may run on (at least 1).
int AvailableCores();

}  // namespace vtal::montecarlo
