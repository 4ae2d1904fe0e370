#include "sim/world/HudCanvas.h"

#include <cstdio>
#include <cmath>

#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {
// The readout shows the vertical speed to this step, m/s.
constexpr double kVerticalSpeedReadoutStep = 0.01;

std::string Escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML text.
            out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        }
    }
    return out;
}

}  // namespace

std::string CanvasToSvg(const VtalCanvas &canvas) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                  "xml:space=\"preserve\">\n",
                  canvas.width, canvas.height, canvas.width, canvas.height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += buf;
    // The readouts are laid out in columns of spaces, as the host's monospaced
    // display shows them: SVG would collapse runs of spaces to one. Both the
    // XML attribute (older renderers) and the CSS property (newer ones) keep them.
    svg += "<style>text { white-space: pre; }</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"black\"/>\n";
    for (const auto &run : canvas.runs) {
        // GDI writes text with its top-left corner at (x, y).
        std::snprintf(buf, sizeof buf,
                      "<text x=\"%d\" y=\"%d\" dominant-baseline=\"hanging\" font-family=\"monospace\" "
                      "font-size=\"14\" fill=\"#%02x%02x%02x\">",
                      run.x, run.y, static_cast<unsigned>(run.color & 0xFF),
                      static_cast<unsigned>((run.color >> 8) & 0xFF), static_cast<unsigned>((run.color >> 16) & 0xFF));
        svg += buf;
        svg += Escape(run.text);
        svg += "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

void PaintStandardHud(const Vessel &v, const CentralBody &body, const HUDPAINTSPEC &hps, VtalCanvas &canvas) {
    char text[128];
    // A sink below the readout's last digit reads +0.00, not a sign that flickers.
    const double verticalSpeed = std::fabs(VerticalSpeed(v)) < kVerticalSpeedReadoutStep / 2 ? 0.0 : VerticalSpeed(v);
    std::snprintf(text, sizeof text, "ALT %8.1f m   V/S %+7.2f m/s   HDG %05.1f", Altitude(v, body), verticalSpeed,
                  Heading(v, body) / kRadPerDeg);
    const COLORREF previous = canvas.color;
    canvas.runs.push_back({hps.W / 2 - 200, 10, 0x0000FFFF, text});  // the host's own readout, yellow
    canvas.color = previous;
}

void PaintFocusHud(Vessel *focus, const CentralBody &body, VtalCanvas &canvas) {
    canvas.runs.clear();
    if (!focus) return;
    HUDPAINTSPEC hps{canvas.width, canvas.height, canvas.width / 2, canvas.height / 2, 1.0, 10};
    if (focus->object)
        focus->object->clbkDrawHUD(1, &hps, &canvas);
    else
        PaintStandardHud(*focus, body, hps, canvas);
}

}  // namespace vtal::sim
