#include "montecarlo/ProcessPool.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <list>
#include <set>
#include <stdexcept>

namespace vtal::montecarlo {

namespace {

const std::size_t kMessageBytes = 512;
const std::size_t kRetiredBytes = 256;
const int kPollMilliseconds = 20;
const int kChildFailedStatus = 3;  // exit status of a worker that cannot serve its parent
const long kIdle = -1;             // a worker's task while it has none

// What a worker writes after a task: one record, in one write, so records
// of workers that finish together never interleave (a pipe write up to
// PIPE_BUF is atomic).
struct Record {
    long index;
    int ok;
    int retiring;                  // the worker ends after this record
    char message[kMessageBytes];   // why the task failed
    char retired[kRetiredBytes];   // why the worker ends
    unsigned char result[kMaxResultBytes];
};
static_assert(sizeof(Record) <= PIPE_BUF, "a record must fit in one atomic pipe write");

void WriteAll(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// False at the end of the stream (the parent has no more tasks) or on an error.
bool ReadAll(int fd, void *data, std::size_t size) {
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void SilenceStandardStreams() {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0) return;
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    close(devNull);
}

// A worker ends with its parent, whatever ends the parent: the kernel sends
// it SIGKILL then. The parent may have ended between fork and the request,
// which the parent's process id tells.
void EndWithParent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(kChildFailedStatus);
}

// The parent's handlers are the parent's: a worker ignores Ctrl+C (the
// parent stops the campaign and ends its workers) and dies of SIGTERM sent to it.
void ChildSignals() {
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_DFL);
}

std::string ReuseVerdict(const ReuseCheck &check) {
    if (!check) return "";
    try {
        return check();
    } catch (const std::exception &e) {
        return std::string("the check after the task failed: ") + e.what();
    } catch (...) {
        return "the check after the task failed";
    }
}

void RunTask(const std::function<void(long, void *)> &task, long index, Record &record) {
    try {
        task(index, record.result);
        record.ok = 1;
    } catch (const std::exception &e) {
        std::snprintf(record.message, kMessageBytes, "%s", e.what());
    } catch (...) {
        std::snprintf(record.message, kMessageBytes, "unknown failure");
    }
}

// A worker's life: the tasks its parent hands it, one at a time, until the
// parent closes the stream or the check after a task retires it.
[[noreturn]] void ServeTasks(int commandFd, int resultFd, const std::function<void(long, void *)> &task,
                             const ReuseCheck &reuseCheck) {
    Record record;
    long index = 0;
    while (ReadAll(commandFd, &index, sizeof index)) {
        std::memset(&record, 0, sizeof record);
        record.index = index;
        RunTask(task, index, record);
        const std::string why = ReuseVerdict(reuseCheck);
        if (!why.empty()) {
            record.retiring = 1;
            std::snprintf(record.retired, kRetiredBytes, "%s", why.c_str());
        }
        WriteAll(resultFd, &record, sizeof record);
        if (record.retiring) break;
    }
    // Skip every exit handler: they belong to the parent.
    _exit(0);
}

std::string DescribeExit(int status) {
    if (WIFSIGNALED(status)) {
        const char *name = strsignal(WTERMSIG(status));
        return std::string("the run's process was killed by signal ") + std::to_string(WTERMSIG(status)) +
               " (" + (name ? name : "?") + ")";
    }
    if (WIFEXITED(status)) return "the run's process exited with status " + std::to_string(WEXITSTATUS(status));
    return "the run's process ended abnormally";
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

struct Worker {
    pid_t pid = 0;
    int commandFd = -1;  // this process's end: task indices go out here
    long serial = 0;     // 0 for the first worker started, and so on
    long task = kIdle;   // the index it is running
    bool retiring = false;
};

class Pool {
public:
    using Done = std::function<void(long, const void *, const TaskOutcome &)>;
    using Task = std::function<void(long, void *)>;

    Pool(const Task &task, const Done &done, const ReuseCheck &reuseCheck)
        : task_(task), done_(done), reuseCheck_(reuseCheck) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
        readFd_ = fds[0];
        writeFd_ = fds[1];
        fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) | O_NONBLOCK);
        fcntl(readFd_, F_SETFD, FD_CLOEXEC);
        fcntl(writeFd_, F_SETFD, FD_CLOEXEC);
    }
    ~Pool() {
        KillAll();  // only if something threw: otherwise none is left
        close(readFd_);
        close(writeFd_);
    }
    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;

    // Hands task `index` to an idle worker, or to a new one if none is idle
    // (or the idle one is found gone when handed it).
    void start(long index) {
        Worker *w = idleWorker();
        if (w && send(w->commandFd, &index, sizeof index, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof index)) {
            bury(*w);
            w = nullptr;
        }
        if (!w) w = &spawn(index);
        w->task = index;
        unfinished_.insert(index);
    }

    // Tasks whose result has not come back yet.
    std::size_t unfinished() const { return unfinished_.size(); }
    // The lowest index whose result has not come back, or `otherwise`.
    long lowestUnfinished(long otherwise) const { return unfinished_.empty() ? otherwise : *unfinished_.begin(); }

    // Hands on the results already sent, then kills and reaps every worker;
    // the tasks they were running are dropped unreported.
    void abandon() {
        drain();
        KillAll();
        unfinished_.clear();
    }

    // Every task has finished: the workers are told so and end.
    void dismiss() {
        for (Worker &w : workers_) {
            close(w.commandFd);
            w.commandFd = -1;
        }
        for (Worker &w : workers_) WaitFor(w.pid);
        workers_.clear();
    }

    // Waits a little for records and exits, and hands on what arrived.
    void collect() {
        pollfd p{readFd_, POLLIN, 0};
        poll(&p, 1, kPollMilliseconds);
        drain();
        reap();
    }

private:
    Worker *idleWorker() {
        for (Worker &w : workers_)
            if (w.task == kIdle && !w.retiring) return &w;
        return nullptr;
    }

    // A new worker, born with its first task waiting in its stream: however
    // soon it dies, it dies running that task.
    Worker &spawn(long firstTask) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error(std::string("cannot create a socket pair: ") + std::strerror(errno));
        if (send(fds[0], &firstTask, sizeof firstTask, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof firstTask)) {
            const int error = errno;
            close(fds[0]);
            close(fds[1]);
            throw std::runtime_error(std::string("cannot hand a worker its task: ") + std::strerror(error));
        }
        std::fflush(nullptr);  // nothing buffered may be written twice
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid < 0) {
            close(fds[0]);
            close(fds[1]);
            throw std::runtime_error(std::string("cannot start a worker process: ") + std::strerror(errno));
        }
        if (pid == 0) {
            EndWithParent(parent);
            ChildSignals();
            SilenceStandardStreams();
            // Only the parent may hold the other workers' streams, or they
            // would not see the end of them.
            close(readFd_);
            close(fds[0]);
            for (const Worker &w : workers_)
                if (w.commandFd >= 0) close(w.commandFd);
            ServeTasks(fds[1], writeFd_, task_, reuseCheck_);
        }
        close(fds[1]);
        Worker w;
        w.pid = pid;
        w.commandFd = fds[0];
        w.serial = started_++;
        workers_.push_back(w);
        return workers_.back();
    }

    // Ends and reaps an idle worker that could not be handed a task (it had
    // ended already, unnoticed).
    void bury(Worker &w) {
        kill(w.pid, SIGKILL);
        const int status = WaitFor(w.pid);
        finishWorker(w, status);
    }

    // Forgets a worker that has ended, reporting the task it was running as
    // failed unless its result came first.
    void finishWorker(Worker &w, int status) {
        drain();  // a record written just before the end
        const long index = w.task;
        const long serial = w.serial;
        if (w.commandFd >= 0) close(w.commandFd);
        for (auto it = workers_.begin(); it != workers_.end(); ++it)
            if (&*it == &w) {
                workers_.erase(it);
                break;
            }
        if (index == kIdle || unfinished_.erase(index) == 0) return;
        TaskOutcome outcome;
        outcome.failure = DescribeExit(status);
        outcome.worker = serial;
        std::memset(record_.result, 0, sizeof record_.result);
        done_(index, record_.result, outcome);
    }

    void KillAll() {
        for (const Worker &w : workers_) kill(w.pid, SIGKILL);
        for (Worker &w : workers_) {
            WaitFor(w.pid);
            if (w.commandFd >= 0) close(w.commandFd);
        }
        workers_.clear();
    }

    Worker *workerRunning(long index) {
        for (Worker &w : workers_)
            if (w.task == index) return &w;
        return nullptr;
    }

    void drain() {
        for (;;) {
            const ssize_t n = read(readFd_, &record_, sizeof record_);
            if (n == static_cast<ssize_t>(sizeof record_)) {
                Worker *w = workerRunning(record_.index);
                if (!w) continue;  // of a worker abandoned
                w->task = kIdle;
                w->retiring = record_.retiring != 0;
                if (unfinished_.erase(record_.index) == 0) continue;
                TaskOutcome outcome;
                outcome.ok = record_.ok != 0;
                outcome.failure = record_.ok ? "" : record_.message;
                outcome.retired = record_.retiring ? record_.retired : "";
                outcome.worker = w->serial;
                done_(record_.index, record_.result, outcome);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return;  // empty (records are written whole, so never partial)
        }
    }

    void reap() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            int status = 0;
            const pid_t pid = waitpid(it->pid, &status, WNOHANG);
            Worker &w = *it++;
            if (pid == w.pid) finishWorker(w, status);
        }
    }

    const Task &task_;
    const Done &done_;
    const ReuseCheck &reuseCheck_;
    int readFd_ = -1, writeFd_ = -1;
    std::list<Worker> workers_;
    std::set<long> unfinished_;
    long started_ = 0;
    Record record_{};
};

}  // namespace

bool RunInChildProcesses(long count, int jobs, std::size_t resultBytes,
                         const std::function<void(long, void *)> &task,
                         const std::function<void(long, const void *, const TaskOutcome &)> &done, long window,
                         const std::function<bool()> &stop, const ReuseCheck &reuseCheck) {
    if (resultBytes > kMaxResultBytes) throw std::runtime_error("a run's result is too large to send back");
    if (jobs < 1) jobs = 1;
    if (window == 0) window = 1;  // at least the lowest unfinished task itself
    const auto stopped = [&stop] { return stop && stop(); };
    const auto mayStart = [&](long next, const Pool &pool) {
        return next < count && pool.unfinished() < static_cast<std::size_t>(jobs) &&
               (window < 0 || next - pool.lowestUnfinished(next) < window);
    };
    Pool pool(task, done, reuseCheck);
    long next = 0;
    while (next < count || pool.unfinished() > 0) {
        if (stopped()) {
            pool.abandon();
            return false;
        }
        while (mayStart(next, pool)) pool.start(next++);
        pool.collect();
    }
    pool.dismiss();
    return true;
}

int AvailableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace vtal::montecarlo
