// The head-up display canvas that the host hands to clbkDrawHUD as its device
// context: it records coloured text runs at pixel positions.
#pragma once

#include <string>
#include <vector>

#include "host/Orbitersdk.h"
#include "sim/base/CentralBody.h"
#include "sim/vessel/Vessel.h"

struct VtalCanvas {
    struct TextRun {
        int x = 0, y = 0;
        COLORREF color = 0;
        std::string text;
    };
    int width = 1280;
    int height = 1024;
    COLORREF color = 0x0000FF00;  // current text colour (GDI order: red in the low byte)
    std::vector<TextRun> runs;
};

namespace vtal::sim {

// The host's own readout on the head-up display of a vessel without a
// module's display: altitude, vertical speed, heading.
void PaintStandardHud(const Vessel &v, const CentralBody &body, const HUDPAINTSPEC &hps, VtalCanvas &canvas);
// Paints the focus vessel's display afresh: its module's, else the host's own.
void PaintFocusHud(Vessel *focus, const CentralBody &body, VtalCanvas &canvas);

// Writes the canvas as an SVG picture (black background, text in its colours).
std::string CanvasToSvg(const VtalCanvas &canvas);

}  // namespace vtal::sim
