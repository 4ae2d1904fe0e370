// vtal-sim started as a process of its own, for the tests that watch it
// while it runs (its temporary files, its helper programs) and signal it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CommandRun.h"

extern char **environ;

namespace vtal::clitest {

// Polls `condition` until it holds or `limit` has passed; whether it held.
// The limit is generous: it only ends a test whose condition never comes.
inline bool PollUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline bool ProcessExists(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

class SpawnedSim {
public:
    // Starts `vtal-sim ARGS` in `folder` with `environment` (NAME=VALUE)
    // replacing or adding to this process's own; standard output and error
    // go to `logBase`.out and .err.
    SpawnedSim(const std::string &folder, const std::vector<std::string> &args,
               const std::vector<std::string> &environment, const std::string &logBase)
        : outPath_(logBase + ".out"), errPath_(logBase + ".err") {
        std::vector<std::string> argStrings{VTAL_SIM_EXE};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<std::string> envStrings;
        for (char **e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string &mine : environment)
                replaced = replaced || entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
            if (!replaced) envStrings.push_back(entry);
        }
        envStrings.insert(envStrings.end(), environment.begin(), environment.end());
        std::vector<char *> argv, envp;
        for (std::string &a : argStrings) argv.push_back(a.data());
        for (std::string &e : envStrings) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~SpawnedSim() {
        if (!waited_ && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::remove(outPath_.c_str());
        std::remove(errPath_.c_str());
    }
    SpawnedSim(const SpawnedSim &) = delete;
    SpawnedSim &operator=(const SpawnedSim &) = delete;

    pid_t Pid() const { return pid_; }
    // Whether it has not ended yet (reaping it if it has).
    bool Running() {
        if (waited_) return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) waited_ = true;
        return !waited_;
    }
    void Signal(int signal) const { kill(pid_, signal); }
    // Its wait status once it has ended; killed if it outlives `limit`.
    int Wait(std::chrono::milliseconds limit) {
        if (!PollUntil([this] { return !Running(); }, limit)) {
            ADD_FAILURE() << "vtal-sim did not end in time; killed";
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            waited_ = true;
        }
        return status_;
    }
    std::string Err() const { return ReadAll(errPath_); }
    std::string Out() const { return ReadAll(outPath_); }

private:
    std::string outPath_, errPath_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool waited_ = false;
};

}  // namespace vtal::clitest
