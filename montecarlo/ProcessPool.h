// Runs the tasks of a campaign in worker processes forked from this one, at
// most `jobs` at a time. A worker starts from this process's memory and
// runs one task after another, each handed to it by index, so a task costs
// what it does and not the making and ending of a process. Whatever a task
// changes stays in its worker (never in this process or another worker);
// a task that must start from a clean state cleans up after itself, and the
// check asked after each task retires a worker that could not. A worker
// sends each fixed-size result back over a pipe; a worker that dies during
// a task (a crash, an abort, a kill) has that task reported as failed and
// is replaced for the tasks after it. A worker ends with this process
// however it ends (even killed outright): none is left flying without the
// process that would collect its result.
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
    std::string failure;  // why a task failed: its own message or how its worker ended
    std::string retired;  // why its worker took no task after it (the check's answer), if it did not
    long worker = -1;     // which worker ran it: 0 for the first started, and so on
};

// Asked in a worker after each task: why the worker must not run another
// (it then ends once its result is sent, and a fresh one takes the next
// task), or empty if it may.
using ReuseCheck = std::function<std::string()>;

// Runs task(index, out) for every index in [0, count) in worker processes;
// `out` points to `resultBytes` zeroed bytes that the task fills. A task
// reports failure by throwing; the exception's message comes back and the
// worker goes on. done(index, result, outcome) runs in this process for
// every task, in the order tasks finish. Standard output and error of the
// workers are discarded; they ignore SIGINT (a terminal's Ctrl+C reaches
// the whole process group: this process decides what to do about it).
// Throws std::runtime_error if processes cannot be created.
//
// No task starts more than `window` indices after the lowest one still
// unfinished, so that a caller putting results back in index order holds
// at most `window` of them. Once stop() is true no task starts; the results
// already sent back are handed on, the workers are killed and reaped, the
// tasks they were running dropped unreported, and the call returns false.
// It returns true when every task has finished, its workers ended.
bool RunInChildProcesses(long count, int jobs, std::size_t resultBytes,
                         const std::function<void(long index, void *out)> &task,
                         const std::function<void(long index, const void *result, const TaskOutcome &)> &done,
                         long window = kUnlimitedWindow, const std::function<bool()> &stop = nullptr,
                         const ReuseCheck &reuseCheck = nullptr);

// The number of processors this process may run on (at least 1).
int AvailableCores();

}  // namespace vtal::montecarlo
