// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <memory>
#include <string>
#include <vector>

#include "support/LanderFixture.h"

namespace vtal::testing {
namespace {

const COLORREF kGreen = 0x0000FF00;
const COLORREF kRed = 0x000000FF;

const char *const kControls = "Controls:";
const char *const kOverride = "M = Descent Manual Override";
const char *const kDeployDeck = "G = Deploy MET Antenna, Arm, Camera, Lidar";
const char *const kCamera = "C = Rotate Camera";
const char *const kLidar = "D = Lidar On/Off";
const char *const kArmSlide = "B / Shift+B = Deploy / Retract Arm";
const char *const kArmRotate = "V / Shift+V = Rotate Arm";
const char *const kArmElbow = "N / Shift+N = Arm Elbow";
const char *const kSolar = "K = Deploy Solar Panels";

struct Row {
    int y;
    COLORREF color;
    std::string text;
    bool operator==(const Row &o) const { return y == o.y && color == o.color && text == o.text; }
};
std::ostream &operator<<(std::ostream &os, const Row &r) {
    return os << "(" << r.y << ", 0x" << std::hex << r.color << std::dec << ", " << r.text << ")";
}

class HudLegendTest : public LanderTest {
protected:
    HudLegendTest() : lander(MakeLander()) {}

    // Paints the legend; returns its rows, checking each starts at x = 10.
    std::vector<Row> Draw(int height) {
        rec.clear();
        HUDPAINTSPEC hps{1280, height, 640, height / 2, 1.0, 10};
        lander->clbkDrawHUD(1, &hps, canvas());
        std::vector<Row> rows;
        for (const auto &run : rec.textRuns) {
            EXPECT_EQ(run.x, 10);
            rows.push_back(Row{run.y, run.color, run.text});
        }
        return rows;
    }
    static HDC canvas() { return reinterpret_cast<HDC>(0x5000); }

    std::unique_ptr<Lander> lander;
};

TEST_F(HudLegendTest, FreshLanderListsDeployKeysBelowTheOriginForTwoHeights) {
    for (const auto &[height, y0] : {std::pair{1024, 180}, std::pair{600, 105}}) {
        SCOPED_TRACE(height);
        EXPECT_EQ(Draw(height), (std::vector<Row>{{y0 + 80, kGreen, kControls},
                                                  {y0 + 96, kGreen, kOverride},
                                                  {y0 + 112, kGreen, kDeployDeck},
                                                  {y0 + 144, kGreen, kSolar}}));
    }
}

TEST_F(HudLegendTest, HostDisplayIsPaintedFirstAndEachTextFollowsItsColour) {
    Draw(1024);
    const std::vector<std::string> names = rec.names();
    ASSERT_EQ(names.size(), 9u);
    EXPECT_EQ(names[0], "DrawStandardHUD");
    EXPECT_EQ(rec.calls[0].integer(0), 1);
    EXPECT_EQ(rec.calls[0].ptr(2), canvas());
    for (std::size_t i = 1; i < names.size(); i += 2) {
        EXPECT_EQ(names[i], "SetTextColor");
        EXPECT_EQ(names[i + 1], "TextOutA");
        EXPECT_EQ(rec.calls[i + 1].ptr(0), canvas());
        EXPECT_EQ(rec.calls[i + 1].integer(4), static_cast<long long>(rec.calls[i + 1].text(3).size()));
    }
}

TEST_F(HudLegendTest, DeckRowsShowFromTheStartOfDeploymentAndPanelRowUntilItsStart) {
    struct Case {
        int deck, solar;
        std::vector<Row> rows;
    };
    const int y0 = 105;
    const std::vector<Row> deckRows = {{y0 + 80, kGreen, kControls},   {y0 + 96, kGreen, kOverride},
                                       {y0 + 112, kGreen, kCamera},    {y0 + 128, kGreen, kLidar},
                                       {y0 + 160, kGreen, kArmSlide},  {y0 + 176, kGreen, kArmRotate},
                                       {y0 + 192, kGreen, kArmElbow}};
    std::vector<Row> deckAndSolar = deckRows;
    deckAndSolar.push_back({y0 + 144, kGreen, kSolar});
    const Case cases[] = {
        {MECH_DEPLOYED, MECH_DEPLOYED, deckRows},
        {MECH_DEPLOYING, MECH_DEPLOYING, deckRows},
        {MECH_RETRACTING, MECH_RETRACTED, deckAndSolar},
        {MECH_RETRACTED, MECH_RETRACTING,
         {{y0 + 80, kGreen, kControls}, {y0 + 96, kGreen, kOverride}, {y0 + 112, kGreen, kDeployDeck}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "deck " << c.deck << " solar " << c.solar);
        lander->deckStatus = c.deck;
        lander->solarStatus = c.solar;
        EXPECT_EQ(Draw(600), c.rows);
    }
}

TEST_F(HudLegendTest, OverrideRowTurnsRedWithTheOverrideAndBack) {
    char keys[256] = {};
    for (COLORREF expected : {kRed, kGreen, kRed}) {
        lander->clbkConsumeBufferedKey(OAPI_KEY_M, true, keys);
        const auto rows = Draw(1024);
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(rows[1], (Row{276, expected, kOverride}));
        EXPECT_EQ(rows[0].color, kGreen);
        EXPECT_EQ(rows[2].color, kGreen);
    }
    moduleState.manualOverride = 2;  // any non-zero value is manual
    EXPECT_EQ(Draw(1024)[1].color, kRed);
}

TEST_F(HudLegendTest, WhileManualOnlyTheOverrideRowIsRedWhateverRowsShow) {
    moduleState.manualOverride = 1;
    for (int deck : {MECH_RETRACTED, MECH_DEPLOYED}) {
        lander->deckStatus = deck;
        lander->solarStatus = MECH_RETRACTED;
        const auto rows = Draw(1024);
        ASSERT_EQ(rows.size(), deck == MECH_RETRACTED ? 4u : 8u);
        for (const Row &row : rows) EXPECT_EQ(row.color, row.text == kOverride ? kRed : kGreen) << row.text;
    }
}

TEST_F(HudLegendTest, OriginIsOneHundredEightyOver1024OfTheHeightTruncated) {
    // 1023 x 180 / 1024 = 179.82 and 5000 x 180 / 1024 = 878.9: both truncate.
    for (const auto &[height, y0] : {std::pair{1023, 179}, std::pair{5000, 878}, std::pair{5, 0}}) {
        const auto rows = Draw(height);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], (Row{y0 + 80, kGreen, kControls})) << height;
    }
}

TEST_F(HudLegendTest, WithoutDisplayGeometryOnlyTheHostPaints) {
    rec.clear();
    lander->clbkDrawHUD(0, nullptr, canvas());
    EXPECT_EQ(rec.names(), std::vector<std::string>{"DrawStandardHUD"});
}

}  // namespace
}  // namespace vtal::testing
