// The head-up display canvas that the host hands to clbkDrawHUD as its device
// context: it records coloured text runs at pixel positions.
#pragma once

#include <string>
#include <vector>

#include "host/Orbitersdk.h"

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

// Writes the canvas as an SVG picture (black background, text in its colours).
std::string CanvasToSvg(const VtalCanvas &canvas);

}  // namespace vtal::sim
