#include "sim/hostapi/HudCanvas.h"

#include <cstdio>

namespace vtal::sim {
namespace {

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
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n",
                  canvas.width, canvas.height, canvas.width, canvas.height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += buf;
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

}  // namespace vtal::sim
