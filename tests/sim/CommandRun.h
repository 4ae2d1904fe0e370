// Running vtal-sim as a user does, in a folder of its own, and looking at
// what it left there: for the tests of bad input and failing writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "TextParts.h"

namespace vtal::clitest {

namespace fs = std::filesystem;
using testtext::Count;
using testtext::Has;
using testtext::Lines;

struct Ran {
    int status = -1;  // exit status; -1 if killed by a signal
    std::string err;  // standard error
    std::string out;  // standard output (empty when the shell limits file sizes)
};

inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder per test, removed afterwards.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vtal-cli-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string In(const std::string &name) const { return dir_ + "/" + name; }

    // Runs `vtal-sim ARGS` in the folder; `limits` are shell commands run
    // first in the child shell (for example "ulimit -f 0"). Standard error
    // comes back through a pipe, which no file size limit affects.
    Ran Run(const std::string &args, const std::string &limits = "") const {
        const std::string outPath = dir_ + "/../" + fs::path(dir_).filename().string() + ".stdout";
        const std::string out = limits.empty() ? outPath : "/dev/null";
        const std::string command = "cd '" + dir_ + "' && (" + limits + (limits.empty() ? "" : "; ") + "exec " +
                                    VTAL_SIM_EXE + " " + args + " 2>&1 >" + out + ")";
        Ran r;
        std::FILE *pipe = popen(command.c_str(), "r");
        if (!pipe) return r;
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.err.append(buffer, n);
        const int raw = pclose(pipe);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (limits.empty()) {
            r.out = ReadAll(outPath);
            std::remove(outPath.c_str());
        }
        return r;
    }

    // The names in the folder: a write that failed leaves no stray file.
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
        return names;
    }

    std::string dir_;
};

}  // namespace vtal::clitest
