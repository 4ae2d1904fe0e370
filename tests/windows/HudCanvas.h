// A head-up display surface as the host hands it to a vessel: a memory device
// context on a 32-bit DIB section of the display's size, black, with a small
// font and transparent text background. Its pixels can be read back and
// written out as a BMP file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vtal::windows_test {

// One pixel as red, green and blue intensities.
struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb &o) const { return !(*this == o); }
};

class HudCanvas {
public:
    HudCanvas(int width, int height);
    ~HudCanvas();
    HudCanvas(const HudCanvas &) = delete;
    HudCanvas &operator=(const HudCanvas &) = delete;

    // False if Windows refused the device context, bitmap or font.
    bool ok() const { return bits_ != nullptr && font_ != nullptr; }
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Completes every pending GDI operation; call it before reading pixels.
    void flush() const { GdiFlush(); }
    // A pixel as painted up to the last flush().
    Rgb pixel(int x, int y) const;
    // Cell height of the font in pixels.
    int fontHeight() const;
    // Width in pixels that `text` takes in the canvas's font.
    int textWidth(const std::string &text) const;

    // Writes the canvas as an uncompressed 24-bit BMP; false on failure.
    bool writeBmp(const std::string &path) const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previousBitmap_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ previousFont_ = nullptr;
    const std::uint32_t *bits_ = nullptr;  // top-down rows of 0x00RRGGBB
};

}  // namespace vtal::windows_test
