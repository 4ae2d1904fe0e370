// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/LanderFixture.h"

namespace vtal::testing {
namespace {

enum : UINT { kSolar = 21, kCamera, kLegs, kFeet, kDeck, kArmRot, kArmSlide, kArmElbow };

// The nine lines of a lander standing deployed, camera turning, arm at rest.
const std::vector<std::string> kExampleBlock = {
    "MANUAL 0",   "SOLP 1 1.0000", "CAMERA 1 0.3125", "LEGS 1 1.0000", "COV 1 1.0000",
    "ARMROT 0.7000", "ARMSLD 0.0000", "ARMELB 0.0000", "FEET 1 1.0000",
};

class ScenarioStateTest : public LanderTest {
protected:
    ScenarioStateTest() : lander(Make()) {}

    std::unique_ptr<Lander> Make() {
        auto l = MakeLander();
        l->animSolar = kSolar;
        l->animCamera = kCamera;
        l->animLegs = kLegs;
        l->animFeet = kFeet;
        l->animDeck = kDeck;
        l->animArmRot = kArmRot;
        l->animArmSlide = kArmSlide;
        l->animArmElbow = kArmElbow;
        return l;
    }

    void Load(Lander &l, const std::vector<std::string> &lines) {
        rec.clear();
        rec.scenarioLines.assign(lines.begin(), lines.end());
        l.clbkLoadStateEx(scenarioFile(), vesselStatus());
    }
    std::vector<std::string> Save(Lander &l) {
        rec.clear();
        l.clbkSaveState(scenarioFile());
        return rec.writtenLines;
    }
    std::vector<std::string> HandedToHost() const {
        std::vector<std::string> lines;
        for (const auto &c : rec.callsNamed("ParseScenarioLineEx")) {
            EXPECT_EQ(c.ptr(1), vesselStatus());
            lines.push_back(c.text(0));
        }
        return lines;
    }
    static FILEHANDLE scenarioFile() { return reinterpret_cast<FILEHANDLE>(0x7000); }
    static void *vesselStatus() { return reinterpret_cast<void *>(0x7100); }

    std::unique_ptr<Lander> lander;
};

TEST_F(ScenarioStateTest, SaveWritesHostLinesThenTheNineLinesInOrder) {
    lander->solarStatus = lander->legsStatus = lander->deckStatus = lander->feetStatus = MECH_DEPLOYED;
    lander->solarPos = lander->legsPos = lander->deckPos = lander->feetPos = 1.0;
    moduleState.cameraSpin = 1;
    lander->cameraPos = 0.3125;
    EXPECT_EQ(Save(*lander), kExampleBlock);
    EXPECT_EQ(rec.names().front(), "SaveStandardState");
    const auto manual = rec.callsNamed("oapiWriteScenario_int");
    ASSERT_EQ(manual.size(), 1u);
    EXPECT_EQ(manual[0].text(1), "MANUAL");
    EXPECT_EQ(rec.count("oapiWriteScenario_string"), 8u);
}

TEST_F(ScenarioStateTest, ExampleBlockLoadsAndEveryAnimationIsSetAfterIt) {
    Load(*lander, kExampleBlock);
    EXPECT_TRUE(HandedToHost().empty());
    EXPECT_EQ(moduleState.cameraSpin, 1);
    for (int s : {lander->solarStatus, lander->legsStatus, lander->deckStatus, lander->feetStatus})
        EXPECT_EQ(s, MECH_DEPLOYED);
    const std::vector<std::pair<long long, double>> expected = {
        {kSolar, 1.0}, {kCamera, 0.3125}, {kLegs, 1.0}, {kDeck, 1.0},
        {kFeet, 1.0},  {kArmRot, 0.7},    {kArmSlide, 0.0}, {kArmElbow, 0.0}};
    std::vector<std::pair<long long, double>> set;
    for (const auto &c : rec.callsNamed("SetAnimation")) set.emplace_back(c.integer(0), c.num(1));
    EXPECT_EQ(set, expected);
}

TEST_F(ScenarioStateTest, BlockWithoutOwnLinesHandsEachLineOnAndKeepsInitialValues) {
    const std::vector<std::string> hostLines = {"STATUS Landed Moon", "POS 12.5 -4.25", "", "HEADING 180"};
    Load(*lander, hostLines);
    EXPECT_EQ(HandedToHost(), hostLines);
    EXPECT_EQ(rec.count("SetAnimation"), 8u);
    EXPECT_EQ(lander->armRotPos, 0.7);
    EXPECT_EQ(lander->solarStatus + lander->legsStatus + lander->deckStatus + lander->feetStatus, 0);
    EXPECT_EQ(lander->solarPos + lander->legsPos + lander->deckPos + lander->feetPos + lander->cameraPos, 0.0);
}

TEST_F(ScenarioStateTest, SavedStateReloadsToFourDecimals) {
    moduleState.manualOverride = 1;
    moduleState.cameraSpin = 1;
    lander->solarStatus = MECH_DEPLOYING;
    lander->solarPos = 0.4;
    lander->legsStatus = MECH_RETRACTING;
    lander->legsPos = 0.33333;
    lander->deckStatus = 7;
    lander->deckPos = 0.12345;
    lander->feetStatus = -1;
    lander->feetPos = 0.99996;
    lander->cameraPos = 0.5;
    lander->armRotPos = 0.25;
    lander->armSlidePos = 0.6;
    lander->armElbowPos = 0.00004;
    const auto lines = Save(*lander);

    ResetModuleState();
    auto loaded = Make();
    Load(*loaded, lines);
    EXPECT_TRUE(HandedToHost().empty());
    EXPECT_EQ(moduleState.manualOverride, 1);
    EXPECT_EQ(moduleState.cameraSpin, 1);
    EXPECT_EQ(loaded->solarStatus, MECH_DEPLOYING);
    EXPECT_EQ(loaded->legsStatus, MECH_RETRACTING);
    EXPECT_EQ(loaded->deckStatus, 7);
    EXPECT_EQ(loaded->feetStatus, -1);
    EXPECT_EQ(loaded->solarPos, 0.4);
    EXPECT_EQ(loaded->legsPos, 0.3333);
    EXPECT_EQ(loaded->deckPos, 0.1235);  // 0.12345 is stored just above the tie
    EXPECT_EQ(loaded->feetPos, 1.0);
    EXPECT_EQ(loaded->cameraPos, 0.5);
    EXPECT_EQ(loaded->armRotPos, 0.25);
    EXPECT_EQ(loaded->armSlidePos, 0.6);
    EXPECT_EQ(loaded->armElbowPos, 0.0);

    loaded->clbkPostStep(0.0, 1.0, 0.0);  // the panels carry on opening
    EXPECT_NEAR(loaded->solarPos, 0.5, 1e-12);
}

// How each line reads: case-insensitive key, then the values as "%d%lf"
// would read them; a value that is not a finite number of its type, or an
// int out of range, converts nothing and ends the scan.
TEST_F(ScenarioStateTest, LinesReadAsTheScanReadsThem) {
    struct Case {
        std::string line;
        int status;  // solarStatus afterwards (starts at 9)
        double pos;  // solarPos afterwards (starts at 0.25)
    };
    const Case cases[] = {
        {"SOLP 1 1.0000", 1, 1.0},         {"SOLP  3   0.4", 3, 0.4},
        {"solp 2 0.5", 2, 0.5},            {"SoLp\t3\t0.75", 3, 0.75},
        {"SOLP3 0.4", 3, 0.4},             {"SOLP 2", 2, 0.25},
        {"SOLP", 9, 0.25},                 {"SOLP x 0.5", 9, 0.25},
        {"SOLP 1.5", 1, 0.5},              {"SOLP +1 +0.5e0", 1, 0.5},
        {"SOLP 1 7.5", 1, 7.5},            {"SOLP -4 -3", -4, -3.0},
        {"SOLP 1 1e308", 1, 1e308},        {"SOLP 1 0.5junk", 1, 0.5},
        {"SOLP 1 nan", 1, 0.25},           {"SOLP 1 -inf", 1, 0.25},
        {"SOLP 1 INFINITY", 1, 0.25},      {"SOLP 1 1e999", 1, 0.25},
        {"SOLP 2147483648 0.5", 9, 0.25},  {"SOLP -2147483649 0.5", 9, 0.25},
        {"SOLP 99999999999999999999 0.5", 9, 0.25},
        {"SOLP -2147483648 0.5", -2147483647 - 1, 0.5},
        {"SOLP 2147483647 0.5", 2147483647, 0.5},
        {"SOLP\xff 1 0.5", 9, 0.25},       {"SOL", 9, 0.25},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        lander->solarStatus = 9;
        lander->solarPos = 0.25;
        Load(*lander, {c.line});
        EXPECT_EQ(lander->solarStatus, c.status);
        EXPECT_EQ(lander->solarPos, c.pos);
        EXPECT_EQ(HandedToHost().size(), c.line == "SOL" ? 1u : 0u);
    }
}

TEST_F(ScenarioStateTest, KeysAreTriedInOrderOnTheirLeadingCharacters) {
    Load(*lander, {"COVER 1 0.5", "legs 3 0.5", "Manual 2", "camera 1 0.2", "ARMROTATION 0.9",
                   "armsld 0.3", "ArmElb nan", "FEETS 1 0.5", "ARMROT"});
    EXPECT_TRUE(HandedToHost().empty());
    EXPECT_EQ(lander->deckStatus, 0);  // COV takes COVER; the scan fails at "ER"
    EXPECT_EQ(lander->deckPos, 0.0);
    EXPECT_EQ(lander->legsStatus, 3);
    EXPECT_EQ(lander->legsPos, 0.5);
    EXPECT_EQ(moduleState.manualOverride, 2);
    EXPECT_EQ(moduleState.cameraSpin, 1);
    EXPECT_EQ(lander->cameraPos, 0.2);
    EXPECT_EQ(lander->armRotPos, 0.7);  // "ATION" does not read as a number
    EXPECT_EQ(lander->armSlidePos, 0.3);
    EXPECT_EQ(lander->armElbowPos, 0.0);
    EXPECT_EQ(lander->feetStatus, 0);
}

TEST_F(ScenarioStateTest, LongAndUnusualLinesAreReadWithoutLoss) {
    const std::string spaced = "LEGS" + std::string(1 << 20, ' ') + "3" + std::string(1000, '\t') + "0.5";
    std::string binary(1 << 16, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(1 + i % 255);
    const std::string longDigits = "ARMSLD 0." + std::string(5000, '0') + "1";
    lander->armSlidePos = 0.5;
    Load(*lander, {spaced, binary, longDigits});
    EXPECT_EQ(lander->legsStatus, 3);
    EXPECT_EQ(lander->legsPos, 0.5);
    EXPECT_EQ(lander->armSlidePos, 0.0);  // below the smallest double: read as zero
    EXPECT_EQ(HandedToHost(), std::vector<std::string>{binary});
}

TEST_F(ScenarioStateTest, ExtremePositionsWriteBoundedLinesThatReadBack) {
    lander->solarPos = std::numeric_limits<double>::quiet_NaN();
    lander->legsPos = std::numeric_limits<double>::infinity();
    lander->deckPos = -std::numeric_limits<double>::infinity();
    lander->feetPos = -std::numeric_limits<double>::max();
    lander->armRotPos = std::numeric_limits<double>::max();
    lander->feetStatus = -2147483647 - 1;
    const auto lines = Save(*lander);
    for (const auto &line : lines) EXPECT_LT(line.size(), 400u) << line;

    auto loaded = Make();
    Load(*loaded, lines);
    EXPECT_TRUE(HandedToHost().empty());
    EXPECT_EQ(loaded->solarPos, 0.0);
    EXPECT_EQ(loaded->legsPos, 1.0);
    EXPECT_EQ(loaded->deckPos, 0.0);
    EXPECT_EQ(loaded->feetPos, -std::numeric_limits<double>::max());
    EXPECT_EQ(loaded->armRotPos, std::numeric_limits<double>::max());
    EXPECT_EQ(loaded->feetStatus, -2147483647 - 1);
    for (const auto &c : rec.callsNamed("SetAnimation")) EXPECT_TRUE(std::isfinite(c.num(1)));
}

// A host that reports a line but hands over none.
struct AbsentLineHost : recording::RecordingBackend {
    bool ReadScenarioNextline(FILEHANDLE, char *&line) override {
        line = nullptr;
        return served++ == 0;
    }
    int served = 0;
};

TEST_F(ScenarioStateTest, AbsentLineIsSkipped) {
    AbsentLineHost host;
    recording::ScopedBackend installed(host);
    lander->clbkLoadStateEx(scenarioFile(), vesselStatus());
    EXPECT_EQ(host.count("ParseScenarioLineEx"), 0u);
    EXPECT_EQ(host.count("SetAnimation"), 8u);
}

}  // namespace
}  // namespace vtal::testing
