// vtal-sim --version (the program's version and the lander module's, as the
// module reports it, without flying) and the option types every --help shows.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <vector>

#include "OwnInstallation.h"
#include "SimTestSupport.h"
#include "sim/run/ModuleVersion.h"

namespace vtal::clitest {
namespace {

const std::string kRoot = std::string(" --root ") + VTAL_SIM_ROOT + " ";

// The version the lander module reports in a world made as a flight makes it.
int VersionInAFlight() {
    const auto world = simtest::MakeWorld(
        simtest::ScenarioWith(simtest::LanderBlock(simtest::LandedLines(), "  MANUAL 0\n")));
    return world->Vessels().front()->module->Version();
}

// --- --version -------------------------------------------------------------

TEST(ModuleVersion, IsWhatTheLoadedModuleReportsInAFlight) {
    const sim::ModuleVersion m = sim::ReadModuleVersion(VTAL_SIM_ROOT, sim::kLanderClass);
    EXPECT_EQ(m.module, "vtal");
    EXPECT_EQ(fs::path(m.path).filename(), "vtal.so");
    EXPECT_NE(m.version, 0);
    // Read after the version: the module was unloaded and its world removed.
    EXPECT_EQ(m.version, VersionInAFlight());
}

TEST_F(CommandTest, VersionPrintsTheProgramsAndTheModulesAndFliesNothing) {
    const Ran r = Run(kRoot + "--version --report r.json");
    EXPECT_EQ(r.status, 2) << "--version takes no flight's options: " << r.err;
    EXPECT_FALSE(fs::exists(In("r.json")));

    const Ran v = Run(kRoot + "--version");
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.err, "");
    const std::vector<std::string> lines = Lines(v.out);
    ASSERT_EQ(lines.size(), 2u) << v.out;
    EXPECT_EQ(lines[0].rfind(std::string("vtal-sim ") + VTAL_PROJECT_VERSION + ", ", 0), 0u) << lines[0];
    EXPECT_TRUE(Has(lines[0], "Orbiter")) << "names the host it stands in for: " << lines[0];
    EXPECT_EQ(lines[1].rfind("module vtal: version " + std::to_string(VersionInAFlight()) + " (", 0), 0u) << lines[1];
    EXPECT_TRUE(Has(lines[1], std::string(VTAL_SIM_ROOT) + "/Modules/vtal.so")) << lines[1];
}

class BrokenModule : public OwnInstallation {};

TEST_F(BrokenModule, LeavesTheProgramsVersionAndSaysWhyOnTheModulesLine) {
    const std::string versionLine = std::string("vtal-sim ") + VTAL_PROJECT_VERSION + ", ";
    WriteAll(In("root/Modules/vtal.so"), module_.substr(0, 4096));
    Ran r = Run("--root root --version");
    EXPECT_EQ(r.status, 2) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].rfind(versionLine, 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("module of vessel class vtal: version unknown: root/Modules/vtal.so: module refused: it "
                             "is cut short",
                             0),
              0u)
        << lines[1];

    fs::remove(In("root/Modules/vtal.so"));
    r = Run("--root root --version");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.out, "version unknown: root: module 'vtal' not found (looked for Modules/vtal.so)")) << r.out;

    WriteAll(In("root/Config/Vessels/vtal.cfg"), "ClassName = vtal\nSize = 2\n");
    r = Run("--root root --version");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.out, "version unknown: root/Config/Vessels/vtal.cfg: names no Module")) << r.out;

    fs::remove(In("root/Config/Vessels/vtal.cfg"));
    r = Run("--root root --version");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.out, "version unknown: root: vessel class 'vtal' has no configuration")) << r.out;

    r = Run("--root nowhere --version");
    EXPECT_EQ(r.status, 2) << r.err;
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].rfind(versionLine, 0), 0u) << lines[0];
    EXPECT_TRUE(Has(lines[1], "nowhere: not an installation")) << lines[1];
}

TEST_F(CommandTest, ListAndVersionTakeNoOptionButRoot) {
    for (const char *args : {"--list Lander/Descent", "--list --quiet", "--version --until 3", "--list --version"}) {
        const Ran r = Run(kRoot + args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "flies nothing and takes no other option but --root")) << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
}

// --- Option types in --help ------------------------------------------------

TEST_F(CommandTest, EveryHelpNamesWhatEachOptionTakes) {
    const struct {
        const char *command;
        std::vector<std::string> typed;  // "option TYPE" as the help shows them
    } helps[] = {
        {"", {"scenario FILE|NAME", "--until SECONDS", "--dt SECONDS", "--keys KEYS", "--save FILE", "--telemetry FILE",
              "--every SECONDS", "--report FILE", "--plot FILE", "--hud FILE", "--view FILE", "--root DIR"}},
        {"montecarlo ",
         {"scenario FILE|NAME", "--runs N", "--seed N", "--jobs N", "--replay I", "--write-scenario FILE", "--view FILE",
          "--disperse NAME=DIST", "--dispersions FILE", "--csv FILE", "--plot FILE", "--dt SECONDS", "--root DIR"}},
        {"live ",
         {"scenario FILE|NAME", "--port PORT", "--bind ADDRESS", "--warp FACTOR", "--dt SECONDS", "--save FILE",
          "--telemetry FILE", "--every SECONDS", "--report FILE", "--plot FILE", "--hud FILE", "--view FILE",
          "--root DIR"}},
    };
    const std::regex untyped("(^|\\s)TEXT(\\s|$)");
    for (const auto &h : helps) {
        const Ran r = Run(std::string(h.command) + "--help");
        EXPECT_EQ(r.status, 0) << h.command << r.err;
        EXPECT_FALSE(std::regex_search(r.out, untyped)) << h.command << "--help:\n" << r.out;
        for (const std::string &option : h.typed)
            EXPECT_TRUE(std::regex_search(r.out, std::regex("\n  " + std::regex_replace(option, std::regex("[|]"), "\\|") +
                                                            "( \\.\\.\\.)? +[A-Z]")))
                << h.command << "--help lacks '" << option << "':\n" << r.out;
    }
}

}  // namespace
}  // namespace vtal::clitest
