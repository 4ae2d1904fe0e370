// Module files that are no library, through the real command line: cut
// short by a failed copy (once SIGBUS), a FIFO (once a hang), a folder,
// text, an unreadable file. Each is refused before loading, naming the file
// and why (status 2), by vtal-sim and by its campaigns, and nothing is written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "SpawnedSim.h"

#include "OwnInstallation.h"

namespace vtal::clitest {
namespace {

constexpr std::chrono::milliseconds kGenerous(180000);

class ModuleFiles : public OwnInstallation {};

TEST_F(ModuleFiles, ThatAreNoLibraryAreRefusedNamingTheFileAndWhyWithoutLoadingThem) {
    const std::string path = "root/Modules/vtal.so";
    const struct {
        const char *label;
        std::function<void()> spoil;
        const char *reason;
    } cases[] = {
        {"cut inside a segment", [&] { WriteAll(In(path), module_.substr(0, 4096)); }, "it is cut short: loadable segment"},
        {"cut inside the program headers", [&] { WriteAll(In(path), module_.substr(0, 100)); },
         "it is cut short: its program headers end at byte"},
        {"cut inside the ELF header", [&] { WriteAll(In(path), module_.substr(0, 40)); },
         "it is cut short inside its ELF header (40 bytes long)"},
        {"empty", [&] { WriteAll(In(path), ""); }, "it is not a shared library (no ELF header; 0 bytes long)"},
        {"text", [&] { WriteAll(In(path), "#!/bin/sh\n"); }, "it is not a shared library (no ELF header"},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(In(path).c_str(), 0600), 0); }, "it is a FIFO (named pipe), not a library file"},
        {"a folder", [&] { fs::create_directory(In(path)); }, "it is a folder, not a library file"},
    };
    for (const auto &c : cases) {
        fs::remove_all(In(path));
        c.spoil();
        // Through a process of its own with a bound, as a FIFO once hung it.
        SpawnedSim sim(dir_, {"--root", "root", "descent.scn", "--save", "out.scn"}, {}, dir_ + ".log");
        const int status = sim.Wait(kGenerous);
        ASSERT_TRUE(WIFEXITED(status)) << c.label << ": killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 2) << c.label << ": " << sim.Err();
        EXPECT_TRUE(Has(sim.Err(), "vtal-sim: error: " + path + ": module refused: " + c.reason)) << c.label << ": " << sim.Err();
        EXPECT_FALSE(fs::exists(In("out.scn"))) << c.label;
    }
    // The campaign refuses it before starting a run.
    fs::remove_all(In(path));
    WriteAll(In(path), module_.substr(0, 4096));
    const Ran r = Run("montecarlo --root root --runs 2 --no-progress descent.scn --csv c.csv");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, path + ": module refused: it is cut short")) << r.err;
    EXPECT_FALSE(fs::exists(In("c.csv")));
}

TEST_F(ModuleFiles, ThatCannotBeReadAreRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
    chmod(In("root/Modules/vtal.so").c_str(), 0);
    const Ran r = Run("--root root descent.scn");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "root/Modules/vtal.so: module refused: it cannot be read (permission denied)")) << r.err;
}

TEST_F(ModuleFiles, AWholeLibraryStillFlies) {
    const Ran r = Run("--root root descent.scn --until 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "module state:")) << r.out;
}

}  // namespace
}  // namespace vtal::clitest
