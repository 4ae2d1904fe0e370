#include "montecarlo/ProcessPool.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

namespace vtal::montecarlo {

namespace {

const std::size_t kMessageBytes = 512;
const int kPollMilliseconds = 20;
const int kChildFailedStatus = 3;  // exit status of a child whose task threw

// What a child writes: one record, in one write, so records of children
// that finish together never interleave (a pipe write up to PIPE_BUF is atomic).
struct Record {
    long index;
    int ok;
    char message[kMessageBytes];
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

void SilenceStandardStreams() {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0) return;
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    close(devNull);
}

// A child ends with its parent, whatever ends the parent: the kernel sends
// it SIGKILL then. The parent may have ended between fork and the request,
// which the parent's process id tells.
void EndWithParent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(kChildFailedStatus);
}

// The parent's handlers are the parent's: a child ignores Ctrl+C (the parent
// stops the campaign and ends its children) and dies of SIGTERM sent to it.
void ChildSignals() {
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_DFL);
}

[[noreturn]] void RunChild(int writeFd, long index, const std::function<void(long, void *)> &task) {
    SilenceStandardStreams();
    Record record;
    std::memset(&record, 0, sizeof record);
    record.index = index;
    int status = 0;
    try {
        task(index, record.result);
        record.ok = 1;
    } catch (const std::exception &e) {
        std::snprintf(record.message, kMessageBytes, "%s", e.what());
        status = kChildFailedStatus;
    } catch (...) {
        std::snprintf(record.message, kMessageBytes, "unknown failure");
        status = kChildFailedStatus;
    }
    WriteAll(writeFd, &record, sizeof record);
    // Skip every exit handler: they belong to the parent.
    _exit(status);
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

class Pool {
public:
    explicit Pool(const std::function<void(long, const void *, const TaskOutcome &)> &done) : done_(done) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
        readFd_ = fds[0];
        writeFd_ = fds[1];
        fcntl(readFd_, F_SETFL, fcntl(readFd_, F_GETFL) | O_NONBLOCK);
        fcntl(readFd_, F_SETFD, FD_CLOEXEC);
    }
    ~Pool() {
        close(readFd_);
        close(writeFd_);
    }

    void start(long index, const std::function<void(long, void *)> &task) {
        std::fflush(nullptr);  // nothing buffered may be written twice
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid < 0) throw std::runtime_error(std::string("cannot start a run's process: ") + std::strerror(errno));
        if (pid == 0) {
            EndWithParent(parent);
            ChildSignals();
            close(readFd_);
            RunChild(writeFd_, index, task);
        }
        processes_[pid] = index;
        unfinished_.insert(index);
    }

    // Tasks whose result has not come back yet. A process that has sent its
    // result frees its place at once; it is reaped whenever it has exited.
    std::size_t unfinished() const { return unfinished_.size(); }
    bool anyProcess() const { return !processes_.empty(); }
    // The lowest index whose result has not come back, or `otherwise`.
    long lowestUnfinished(long otherwise) const { return unfinished_.empty() ? otherwise : *unfinished_.begin(); }

    // Hands on the results already sent, then kills and reaps every child
    // still running; their tasks are dropped unreported.
    void abandon() {
        drain();
        for (const auto &process : processes_) kill(process.first, SIGKILL);
        for (const auto &process : processes_) {
            int status = 0;
            while (waitpid(process.first, &status, 0) < 0 && errno == EINTR) {
            }
        }
        processes_.clear();
        unfinished_.clear();
    }

    // Waits a little for records and exits, and hands on what arrived.
    void collect() {
        pollfd p{readFd_, POLLIN, 0};
        poll(&p, 1, kPollMilliseconds);
        drain();
        reap();
    }

private:
    void drain() {
        for (;;) {
            const ssize_t n = read(readFd_, &record_, sizeof record_);
            if (n == static_cast<ssize_t>(sizeof record_)) {
                if (unfinished_.erase(record_.index) == 0) continue;
                TaskOutcome outcome;
                outcome.ok = record_.ok != 0;
                outcome.failure = record_.ok ? "" : record_.message;
                done_(record_.index, record_.result, outcome);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return;  // empty (records are written whole, so never partial)
        }
    }

    void reap() {
        for (;;) {
            int status = 0;
            const pid_t pid = waitpid(-1, &status, WNOHANG);
            if (pid <= 0) return;
            const auto it = processes_.find(pid);
            if (it == processes_.end()) continue;
            const long index = it->second;
            processes_.erase(it);
            drain();  // a record written just before the exit
            if (unfinished_.erase(index) == 0) continue;
            TaskOutcome outcome;
            outcome.failure = DescribeExit(status);
            std::memset(record_.result, 0, sizeof record_.result);
            done_(index, record_.result, outcome);
        }
    }

    const std::function<void(long, const void *, const TaskOutcome &)> &done_;
    int readFd_ = -1, writeFd_ = -1;
    std::map<pid_t, long> processes_;
    std::set<long> unfinished_;
    Record record_{};
};

}  // namespace

bool RunInChildProcesses(long count, int jobs, std::size_t resultBytes,
                         const std::function<void(long, void *)> &task,
                         const std::function<void(long, const void *, const TaskOutcome &)> &done, long window,
                         const std::function<bool()> &stop) {
    if (resultBytes > kMaxResultBytes) throw std::runtime_error("a run's result is too large to send back");
    if (jobs < 1) jobs = 1;
    if (window == 0) window = 1;  // at least the lowest unfinished task itself
    const auto stopped = [&stop] { return stop && stop(); };
    const auto mayStart = [&](long next, const Pool &pool) {
        return next < count && pool.unfinished() < static_cast<std::size_t>(jobs) &&
               (window < 0 || next - pool.lowestUnfinished(next) < window);
    };
    Pool pool(done);
    long next = 0;
    while (next < count || pool.unfinished() > 0) {
        if (stopped()) {
            pool.abandon();
            return false;
        }
        while (mayStart(next, pool)) pool.start(next++, task);
        pool.collect();
    }
    while (pool.anyProcess()) pool.collect();  // leave no zombie behind
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
