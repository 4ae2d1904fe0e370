// What vtal-sim says of the installed scenarios: --list, and a scenario
// argument that names nothing (the places looked in, the names it may have
// meant) or a folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "CommandRun.h"
#include "sim/files/Installation.h"

namespace vtal::clitest {
namespace {

const std::string kRoot = std::string(" --root ") + VTAL_SIM_ROOT + " ";

// The line after BEGIN_DESC in a shipped scenario, read here without the
// program's reader.
std::string LineAfterBeginDesc(const std::string &path) {
    const std::vector<std::string> lines = Lines(ReadAll(path));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i] == "BEGIN_DESC") return lines[i + 1];
    return "";
}

// An installation of the test's own: Config/Vessels and an empty Scenarios/.
class OwnScenarios : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        fs::create_directories(In("root/Config/Vessels"));
        fs::create_directories(In("root/Scenarios"));
    }
    void Scenario(const std::string &name, const std::string &text) {
        fs::create_directories(fs::path(In("root/Scenarios/" + name)).parent_path());
        WriteAll(In("root/Scenarios/" + name), text);
    }
};

// --- --list ----------------------------------------------------------------

TEST_F(CommandTest, ListNamesEveryShippedScenarioAsTheCommandLineTakesIt) {
    const Ran r = Run(kRoot + "--list");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    const std::vector<std::string> names{"Lander/Descent", "Lander/FuelDepot", "Lander/TwoLanders"};
    ASSERT_EQ(lines.size(), names.size()) << r.out;
    const sim::Installation installation(VTAL_SIM_ROOT);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string file = std::string(VTAL_SIM_ROOT) + "/Scenarios/" + names[i] + ".scn";
        EXPECT_EQ(lines[i].rfind(names[i] + "  ", 0), 0u) << lines[i];
        EXPECT_TRUE(Has(lines[i], LineAfterBeginDesc(file))) << lines[i];
        // Descriptions start in one column.
        EXPECT_EQ(lines[i].find_first_not_of(' ', names[i].size()), lines[0].find_first_not_of(' ', names[0].size()));
        // The name finds the file it was listed for.
        EXPECT_TRUE(fs::equivalent(installation.ScenarioPath(names[i]), file)) << names[i];
    }
}

TEST_F(OwnScenarios, ListWalksSubFoldersInOrderAndSaysWhatItCannotRead) {
    Scenario("b.scn", "BEGIN_DESC\n\n   The first line that says something   \nmore\nEND_DESC\n");
    Scenario("A/deep/c.SCN", "BEGIN_SHIPS\nEND_SHIPS\n");
    Scenario("A/x.scn", "BEGIN_DESC\nEND_DESC\nBEGIN_DESC\nnot the description\nEND_DESC\n");
    Scenario("a2.scn", "\xEF\xBB\xBF" "BEGIN_DESC\r\nWritten on Windows\r\nEND_DESC\r\n");
    Scenario("esc.scn", "BEGIN_DESC\n\x1b[31mred\x07 text\nEND_DESC\n");
    Scenario("long.scn", "BEGIN_DESC\n" + std::string(500, 'w') + "\nEND_DESC\n");
    Scenario("notes.txt", "BEGIN_DESC\nnot a scenario\nEND_DESC\n");
    ASSERT_EQ(mkfifo(In("root/Scenarios/pipe.scn").c_str(), 0600), 0);
    fs::create_symlink(In("root/Scenarios/nowhere.scn"), In("root/Scenarios/gone.scn"));
    fs::create_directory_symlink("..", In("root/Scenarios/A/loop"));  // the walk ends all the same

    const Ran r = Run("--root root --list");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"A/deep/c", "(no description)"},
        {"A/x", "(no description)"},
        {"a2", "Written on Windows"},
        {"b", "The first line that says something"},
        {"esc", " [31mred  text"},
        {"gone", "(cannot be read (no such file))"},
        {"long", std::string(120, 'w') + "..."},
        {"pipe", "(is a FIFO (named pipe), not a regular file)"}};
    ASSERT_EQ(lines.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string name = lines[i].substr(0, lines[i].find(' '));
        EXPECT_EQ(name, expected[i].first) << lines[i];
        EXPECT_EQ(lines[i].substr(std::string("A/deep/c  ").size()), expected[i].second) << lines[i];
    }
}

TEST_F(OwnScenarios, ListSaysWhenNothingIsInstalledAndRefusesWhatIsNoInstallation) {
    fs::remove_all(In("root/Scenarios"));
    Ran r = Run("--root root --list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "No scenarios under root/Scenarios")) << r.out;
    r = Run("--root nowhere --list");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "nowhere: not an installation")) << r.err;
}

TEST_F(OwnScenarios, AFolderThatCannotBeReadIsListedWithItsReason) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
    Scenario("Locked/inside.scn", "BEGIN_DESC\nhidden\nEND_DESC\n");
    Scenario("open.scn", "BEGIN_DESC\nshown\nEND_DESC\n");
    chmod(In("root/Scenarios/Locked").c_str(), 0);
    const Ran r = Run("--root root --list");
    chmod(In("root/Scenarios/Locked").c_str(), 0700);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Locked/  (cannot be read (permission denied))")) << r.out;
    EXPECT_TRUE(Has(r.out, "shown")) << r.out;
}

// --- A scenario that is not there ------------------------------------------

TEST_F(CommandTest, AMissingScenarioNamesEveryPlaceLookedInAndTheNearestNames) {
    const Ran r = Run(kRoot + "Lander/Decent");
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string scenarios = std::string(VTAL_SIM_ROOT) + "/Scenarios/";
    EXPECT_TRUE(Has(r.err, "scenario 'Lander/Decent' not found")) << r.err;
    EXPECT_TRUE(Has(r.err, "\n  Lander/Decent (as given)\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "\n  " + scenarios + "Lander/Decent (letter case ignored)\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "\n  " + scenarios + "Lander/Decent.scn (letter case ignored)\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "Installed scenarios of a similar name: Lander/Descent\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "vtal-sim --list")) << r.err;
}

TEST_F(CommandTest, ANameFarFromAnyInstalledOneGetsNoSuggestion) {
    const Ran r = Run(kRoot + "Orbit/Rendezvous");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "scenario 'Orbit/Rendezvous' not found")) << r.err;
    EXPECT_FALSE(Has(r.err, "similar name")) << r.err;
    EXPECT_TRUE(Has(r.err, "vtal-sim --list")) << r.err;
}

TEST_F(CommandTest, ACampaignLooksUpItsScenarioTheSameWay) {
    const Ran r = Run("montecarlo" + kRoot + "--runs 1 --no-progress lander/twolander");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "scenario 'lander/twolander' not found")) << r.err;
    EXPECT_TRUE(Has(r.err, "similar name: Lander/TwoLanders")) << r.err;
}

TEST_F(CommandTest, NamesAreFoundWithoutRegardToCaseOrTheirSuffix) {
    for (const char *name : {"lander/descent", "LANDER/Descent.SCN", "Lander/Descent.scn"}) {
        const Ran r = Run(kRoot + "--quiet --until 0.1 " + name);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    }
}

TEST_F(OwnScenarios, AFolderGivenAsTheScenarioIsCalledOneAndItsScenariosNamed) {
    Scenario("Moon/One.scn", "");
    Scenario("Moon/Two.scn", "");
    fs::create_directories(In("root/Scenarios/Empty"));
    Ran r = Run("--root root moon");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "root/Scenarios/Moon: is a folder, not a file; the scenarios in it: Moon/One, Moon/Two"))
        << r.err;
    r = Run("--root root Empty");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "root/Scenarios/Empty: is a folder, not a file; it holds no scenario")) << r.err;
    // A folder given by its path, as the documentation words it.
    fs::create_directories(In("here"));
    r = Run("--root root here");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "here: is a folder, not a file")) << r.err;
}

TEST_F(OwnScenarios, AFileUnderScenariosThatIsNoRegularFileSaysWhatItIs) {
    ASSERT_EQ(mkfifo(In("root/Scenarios/Pipe.scn").c_str(), 0600), 0);
    const Ran r = Run("--root root pipe");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "root/Scenarios/Pipe.scn: is a FIFO (named pipe)")) << r.err;
}

// --- Which names are offered -----------------------------------------------

TEST(SimilarNames, AreTheClosestFewWithinAThirdOfTheLettersIgnoringCase) {
    const std::vector<std::string> installed{"Lander/Descent", "Lander/FuelDepot", "Lander/TwoLanders", "Mars/Descent",
                                             "Mars/Entry"};
    using sim::SimilarNames;
    EXPECT_EQ(SimilarNames("Lander/Decent", installed), (std::vector<std::string>{"Lander/Descent"}));
    EXPECT_EQ(SimilarNames("lander/dsecent.SCN", installed), (std::vector<std::string>{"Lander/Descent"}))
        << "a swap counts once, and the suffix not at all";
    EXPECT_EQ(SimilarNames("Mras/Descent", installed), (std::vector<std::string>{"Mars/Descent"}))
        << "a whole name close enough: no name that is close in its last part only";
    EXPECT_EQ(SimilarNames("Lander/Descen", {"Lander/Desc", "Lander/Descent"}),
              (std::vector<std::string>{"Lander/Descent", "Lander/Desc"}))
        << "nearest first";
    EXPECT_EQ(SimilarNames("Descent", installed), (std::vector<std::string>{"Lander/Descent", "Mars/Descent"}));
    EXPECT_EQ(SimilarNames("/home/me/TwoLander.scn", installed), (std::vector<std::string>{"Lander/TwoLanders"}));
    EXPECT_TRUE(SimilarNames("Orbit/Rendezvous", installed).empty());
    EXPECT_TRUE(SimilarNames("Lander/Xyzzy", installed).empty()) << "the shared folder alone is no likeness";
    EXPECT_TRUE(SimilarNames("Ent", {"Mars/Fnd"}).empty()) << "three letters allow one edit, not two";
    EXPECT_EQ(SimilarNames("Ent", {"Mars/Eat"}), (std::vector<std::string>{"Mars/Eat"}));
    const std::vector<std::string> many{"A/Run1", "A/Run2", "A/Run3", "A/Run4"};
    EXPECT_EQ(SimilarNames("A/Run", many).size(), 3u) << "at most three";
    EXPECT_TRUE(SimilarNames(std::string(100000, 'x'), installed).empty()) << "a huge argument is cheap and unmatched";
}

}  // namespace
}  // namespace vtal::clitest
