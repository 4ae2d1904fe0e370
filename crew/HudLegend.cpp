// The legend of keyboard commands painted at the left edge of the head-up
// display. Only the commands that apply to the instrument deck and solar
// panels as they stand are listed; rows keep their place, so a hidden row
// leaves a gap. The override row turns red while the lander is flown by hand.
#include <cstring>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kRed = RGB(255, 0, 0);

const int kLegendX = 10;                 // px from the left edge
const long long kOriginPerHeight = 180;  // the legend starts at 180/1024 of the height
const long long kReferenceHeight = 1024;

// When a row is painted.
enum class Shown { Always, DeckStowed, DeckNotStowed, PanelsStowed };

struct LegendRow {
    int yOffset;  // px below the legend origin
    const char *text;
    Shown shown;
    bool redWhileManual;  // the override row shows the override's state by its colour
};

// In painting order; green unless marked red while the override is on.
const LegendRow kRows[] = {
    {80, "Controls:", Shown::Always, false},
    {96, "M = Descent Manual Override", Shown::Always, true},
    {112, "G = Deploy MET Antenna, Arm, Camera, Lidar", Shown::DeckStowed, false},
    {112, "C = Rotate Camera", Shown::DeckNotStowed, false},
    {128, "D = Lidar On/Off", Shown::DeckNotStowed, false},
    {160, "B / Shift+B = Deploy / Retract Arm", Shown::DeckNotStowed, false},
    {176, "V / Shift+V = Rotate Arm", Shown::DeckNotStowed, false},
    {192, "N / Shift+N = Arm Elbow", Shown::DeckNotStowed, false},
    {144, "K = Deploy Solar Panels", Shown::PanelsStowed, false},
};

bool RowShown(Shown shown, int deckStatus, int solarStatus) {
    switch (shown) {
        case Shown::Always: return true;
        case Shown::DeckStowed: return deckStatus == MECH_RETRACTED;
        case Shown::DeckNotStowed: return deckStatus != MECH_RETRACTED;
        case Shown::PanelsStowed: return solarStatus == MECH_RETRACTED;
    }
    return false;
}

// Integer arithmetic, truncated, in a wide type so that no display height
// overflows it; the origin is never larger in magnitude than the height.
int LegendOrigin(int hudHeight) {
    return static_cast<int>(static_cast<long long>(hudHeight) * kOriginPerHeight / kReferenceHeight);
}

}  // namespace

void Lander::clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC) {
    VESSEL2::clbkDrawHUD(mode, hps, hDC);
    if (hps == nullptr) return;  // no display geometry: nothing to place the legend by

    const int y0 = LegendOrigin(hps->H);
    const bool manual = vtal::moduleState.manualOverride != 0;
    for (const LegendRow &row : kRows) {
        if (!RowShown(row.shown, deckStatus, solarStatus)) continue;
        const bool red = row.redWhileManual && manual;
        SetTextColor(hDC, red ? kRed : kGreen);
        TextOutA(hDC, kLegendX, y0 + row.yOffset, row.text, static_cast<int>(std::strlen(row.text)));
    }
}
