// The head-up display legend painted by the loaded module DLL with the real
// GDI into a bitmap of the display's size, read back pixel by pixel. Each
// picture is also written to hud/ as a BMP file for a person to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HudCanvas.h"
#include "ModuleDll.h"
#include "lander/Lander.h"
#include "recording/RecordingBackend.h"

using vtal::recording::FakeVesselHandle;
using vtal::recording::RecordingBackend;
using vtal::recording::ScopedBackend;
using vtal::windows_test::HudCanvas;
using vtal::windows_test::ModuleDll;
using vtal::windows_test::Rgb;

namespace {

const int kHudWidth = 1280;
const int kLegendX = 10;         // px, left end of every line
const int kFirstRowOffset = 80;  // px below the legend origin
const int kRowPitch = 16;        // px from one row to the next
const int kRowCount = 8;
const char *const kBitmapFolder = "hud";

const Rgb kGreen{0, 255, 0};
const Rgb kRed{255, 0, 0};

// What one legend row must show: nothing (null text), or a text in a colour.
struct Row {
    const char *text = nullptr;
    Rgb colour{};
};
using Legend = std::array<Row, kRowCount>;

const Row kEmpty{};
const Row kControls{"Controls:", kGreen};
const Row kOverrideAuto{"M = Descent Manual Override", kGreen};
const Row kOverrideManual{"M = Descent Manual Override", kRed};
const Row kDeployDeck{"G = Deploy MET Antenna, Arm, Camera, Lidar", kGreen};
const Row kCamera{"C = Rotate Camera", kGreen};
const Row kLidar{"D = Lidar On/Off", kGreen};
const Row kPanels{"K = Deploy Solar Panels", kGreen};
const Row kArmSlide{"B / Shift+B = Deploy / Retract Arm", kGreen};
const Row kArmRotate{"V / Shift+V = Rotate Arm", kGreen};
const Row kArmElbow{"N / Shift+N = Arm Elbow", kGreen};

// y of the first pixel row of the legend's top line: 180/1024 of the height.
int LegendTop(int hudHeight) { return hudHeight * 180 / 1024 + kFirstRowOffset; }

// Ink found in one 16-pixel row band of the canvas.
struct Ink {
    int green = 0, red = 0, other = 0;  // pixel counts by colour
    int left = INT_MAX, right = -1;     // x range of all ink
    bool empty() const { return green + red + other == 0; }
};

Ink InkInBand(const HudCanvas &canvas, int top) {
    Ink ink;
    for (int y = top; y < top + kRowPitch; ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgb p = canvas.pixel(x, y);
            if (p == Rgb{}) continue;
            if (p.g > 0 && p.r == 0 && p.b == 0) ++ink.green;
            else if (p.r > 0 && p.g == 0 && p.b == 0) ++ink.red;
            else ++ink.other;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
        }
    }
    return ink;
}

// Paints the expected legend directly, as the reference picture.
void PaintReference(HudCanvas &canvas, const Legend &legend) {
    const int top = LegendTop(canvas.height());
    for (int i = 0; i < kRowCount; ++i) {
        const Row &row = legend[i];
        if (!row.text) continue;
        SetTextColor(canvas.dc(), RGB(row.colour.r, row.colour.g, row.colour.b));
        TextOutA(canvas.dc(), kLegendX, top + i * kRowPitch, row.text,
                 static_cast<int>(std::strlen(row.text)));
    }
}

// Pixels where two canvases of one size differ, with the first of them named.
std::string DifferingPixels(const HudCanvas &a, const HudCanvas &b) {
    a.flush();
    b.flush();
    long count = 0;
    std::ostringstream first;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y) && count++ == 0) first << " first at (" << x << ", " << y << ")";
    if (count == 0) return "";
    return std::to_string(count) + " pixels differ;" + first.str();
}

// Checks one row band against what it must show, with messages a person can
// act on: wrong colour, missing or stray text, wrong start or length.
void ExpectRow(const HudCanvas &canvas, int index, const Row &row) {
    const int top = LegendTop(canvas.height()) + index * kRowPitch;
    const Ink ink = InkInBand(canvas, top);
    SCOPED_TRACE("row " + std::to_string(index) + " at y " + std::to_string(top) + ": " +
                 (row.text ? row.text : "(empty)"));
    if (!row.text) {
        EXPECT_TRUE(ink.empty()) << ink.green << " green, " << ink.red << " red, " << ink.other
                                 << " other pixels in a row that must be empty";
        return;
    }
    const bool green = row.colour == kGreen;
    EXPECT_GT(green ? ink.green : ink.red, 0) << "no text of the row's colour";
    EXPECT_EQ(green ? ink.red : ink.green, 0) << "text of the other colour";
    EXPECT_EQ(ink.other, 0) << "pixels of neither colour";
    // The glyphs start right of x = 10 and the text ends within its extent.
    const int width = canvas.textWidth(row.text);
    EXPECT_GE(ink.left, kLegendX);
    EXPECT_LT(ink.left, kLegendX + canvas.fontHeight());
    EXPECT_LT(ink.right, kLegendX + width);
    EXPECT_GE(ink.right, kLegendX + width - canvas.fontHeight()) << "text cut short";
}

// The module DLL loaded afresh (module-wide state zero) with one lander
// defined against the recording backend.
class GdiLegendTest : public ::testing::Test {
protected:
    GdiLegendTest() : installed_(rec), dll_(VTAL_MODULE_DLL) {
        CreateDirectoryA(kBitmapFolder, nullptr);
    }
    ~GdiLegendTest() override {
        for (VESSEL *v : landers_) dll_.ovcExit(v);
    }

    // The lander as the host holds it. Its callbacks are called through the
    // host's class, as the host calls them: the lander's code lives in the
    // loaded DLL, not in this program.
    VESSEL2 *MakeLander(int n) {
        VESSEL *v = dll_.ovcInit(FakeVesselHandle(n), 1);
        landers_.push_back(v);
        static_cast<VESSEL2 *>(v)->clbkSetClassCaps(nullptr);
        return static_cast<VESSEL2 *>(v);
    }

    static void PressKey(VESSEL2 *lander, DWORD key) {
        char keyState[256] = {};
        lander->clbkConsumeBufferedKey(key, true, keyState);
    }

    // Paints the lander's head-up display on `canvas` as the host does.
    void PaintHud(VESSEL2 *lander, HudCanvas &canvas) {
        HUDPAINTSPEC hps{canvas.width(), canvas.height(), canvas.width() / 2, canvas.height() / 2, 1.0, 10};
        rec.clear();
        lander->clbkDrawHUD(0, &hps, canvas.dc());
        canvas.flush();
    }

    void SetUp() override {
        ASSERT_TRUE(dll_.loaded()) << "LoadLibrary failed, error " << GetLastError();
        ASSERT_TRUE(dll_.hasEntryPoints());
    }

    RecordingBackend rec;

private:
    ScopedBackend installed_;
    ModuleDll dll_;
    std::vector<VESSEL *> landers_;
};

struct LegendCase {
    const char *name;
    int deckStatus;
    int solarStatus;
    int overridePresses;  // times M is pressed before painting
    Legend expected;
};

const LegendCase kLegendCases[] = {
    {"fresh", MECH_RETRACTED, MECH_RETRACTED, 0,
     {kControls, kOverrideAuto, kDeployDeck, kEmpty, kPanels, kEmpty, kEmpty, kEmpty}},
    {"override_on", MECH_RETRACTED, MECH_RETRACTED, 1,
     {kControls, kOverrideManual, kDeployDeck, kEmpty, kPanels, kEmpty, kEmpty, kEmpty}},
    {"override_on_and_off", MECH_RETRACTED, MECH_RETRACTED, 2,
     {kControls, kOverrideAuto, kDeployDeck, kEmpty, kPanels, kEmpty, kEmpty, kEmpty}},
    {"deck_and_panels_deployed", MECH_DEPLOYED, MECH_DEPLOYED, 0,
     {kControls, kOverrideAuto, kCamera, kLidar, kEmpty, kArmSlide, kArmRotate, kArmElbow}},
    {"deck_deploying_panels_retracting", MECH_DEPLOYING, MECH_RETRACTING, 0,
     {kControls, kOverrideAuto, kCamera, kLidar, kEmpty, kArmSlide, kArmRotate, kArmElbow}},
    {"deck_retracting_panels_stowed_manual", MECH_RETRACTING, MECH_RETRACTED, 1,
     {kControls, kOverrideManual, kCamera, kLidar, kPanels, kArmSlide, kArmRotate, kArmElbow}},
};

// Names the case in test listings.
void PrintTo(const LegendCase &c, std::ostream *os) { *os << c.name; }

class GdiLegendPictureTest
    : public GdiLegendTest,
      public ::testing::WithParamInterface<std::tuple<LegendCase, int>> {};

TEST_P(GdiLegendPictureTest, ShowsTheRowsOfTheLanderStateInTheirColours) {
    const LegendCase &c = std::get<0>(GetParam());
    const int hudHeight = std::get<1>(GetParam());

    VESSEL2 *lander = MakeLander(1);
    static_cast<Lander *>(lander)->deckStatus = c.deckStatus;
    static_cast<Lander *>(lander)->solarStatus = c.solarStatus;
    for (int i = 0; i < c.overridePresses; ++i) PressKey(lander, OAPI_KEY_M);

    HudCanvas canvas(kHudWidth, hudHeight);
    ASSERT_TRUE(canvas.ok());
    ASSERT_LE(canvas.fontHeight(), kRowPitch) << "the test font must fit a legend row";
    PaintHud(lander, canvas);

    const std::string bitmap = std::string(kBitmapFolder) + "/legend_" + c.name + "_" +
                               std::to_string(kHudWidth) + "x" + std::to_string(hudHeight) + ".bmp";
    EXPECT_TRUE(canvas.writeBmp(bitmap)) << bitmap;

    // The host's own display is painted first, on the same device context.
    ASSERT_EQ(rec.count("DrawStandardHUD"), 1u);
    EXPECT_EQ(rec.calls[0].name, "DrawStandardHUD");
    EXPECT_EQ(rec.calls[0].ptr(2), static_cast<const void *>(canvas.dc()));

    for (int i = 0; i < kRowCount; ++i) ExpectRow(canvas, i, c.expected[i]);

    // Pixel for pixel the picture of the expected legend: same texts, full
    // lengths, same places and colours, nothing anywhere else.
    HudCanvas reference(kHudWidth, hudHeight);
    ASSERT_TRUE(reference.ok());
    PaintReference(reference, c.expected);
    EXPECT_EQ(DifferingPixels(canvas, reference), "") << "see " << bitmap;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<LegendCase, int>> &info) {
    return std::string(std::get<0>(info.param).name) + "_H" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Legend, GdiLegendPictureTest,
                         ::testing::Combine(::testing::ValuesIn(kLegendCases),
                                            ::testing::Values(1024, 600)),
                         CaseName);

TEST_F(GdiLegendTest, LegendStartsWhereTheHeightPlacesIt) {
    // 180/1024 of the height, truncated: "Controls:" at y 260 for H 1024 and
    // at y 185 for H 600, and nothing in the row above it.
    const struct {
        int height, controlsTop;
    } heights[] = {{1024, 260}, {600, 185}};
    VESSEL2 *lander = MakeLander(1);
    for (const auto &h : heights) {
        HudCanvas canvas(kHudWidth, h.height);
        ASSERT_TRUE(canvas.ok());
        PaintHud(lander, canvas);
        EXPECT_GT(InkInBand(canvas, h.controlsTop).green, 0) << "H " << h.height;
        EXPECT_TRUE(InkInBand(canvas, h.controlsTop - kRowPitch).empty()) << "H " << h.height;
    }
}

TEST_F(GdiLegendTest, OverrideRowFollowsTheOverrideSharedByEveryLander) {
    VESSEL2 *first = MakeLander(1);
    VESSEL2 *second = MakeLander(2);
    PressKey(first, OAPI_KEY_M);

    HudCanvas canvas(kHudWidth, 1024);
    ASSERT_TRUE(canvas.ok());
    PaintHud(second, canvas);
    ExpectRow(canvas, 1, kOverrideManual);
}

}  // namespace
