#include "HudCanvas.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace vtal::windows_test {

namespace {

// Small enough that every 16-pixel row of the legend holds one line of text.
const int kFontPixelHeight = 13;
const int kBmpBytesPerPixel = 3;
const int kBmpHeaderBytes = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);

// Hard edges, so that every text pixel has exactly the colour of its text.
HFONT CreateHudFont() {
    return CreateFontA(-kFontPixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, "Tahoma");
}

}  // namespace

HudCanvas::HudCanvas(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) return;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows run top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_ || !bits) return;
    bits_ = static_cast<const std::uint32_t *>(bits);  // zero-filled: black
    previousBitmap_ = SelectObject(dc_, bitmap_);

    font_ = CreateHudFont();
    if (font_) previousFont_ = SelectObject(dc_, font_);
    SetBkMode(dc_, TRANSPARENT);
}

HudCanvas::~HudCanvas() {
    if (dc_) {
        if (previousFont_) SelectObject(dc_, previousFont_);
        if (previousBitmap_) SelectObject(dc_, previousBitmap_);
        DeleteDC(dc_);
    }
    if (font_) DeleteObject(font_);
    if (bitmap_) DeleteObject(bitmap_);
}

Rgb HudCanvas::pixel(int x, int y) const {
    const std::uint32_t p = bits_[static_cast<std::size_t>(y) * width_ + x];
    return Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
               static_cast<int>(p & 0xFF)};
}

int HudCanvas::fontHeight() const {
    TEXTMETRICA metrics{};
    return GetTextMetricsA(dc_, &metrics) ? metrics.tmHeight : 0;
}

int HudCanvas::textWidth(const std::string &text) const {
    SIZE size{};
    GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

bool HudCanvas::writeBmp(const std::string &path) const {
    // BMP rows run bottom-up, each padded to a multiple of four bytes.
    const int rowBytes = (width_ * kBmpBytesPerPixel + 3) / 4 * 4;
    const DWORD imageBytes = static_cast<DWORD>(rowBytes) * height_;

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = kBmpHeaderBytes;
    file.bfSize = kBmpHeaderBytes + imageBytes;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(BITMAPINFOHEADER);
    info.biWidth = width_;
    info.biHeight = height_;
    info.biPlanes = 1;
    info.biBitCount = 8 * kBmpBytesPerPixel;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageBytes;

    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!out) return false;
    bool written = std::fwrite(&file, sizeof file, 1, out.get()) == 1 &&
                   std::fwrite(&info, sizeof info, 1, out.get()) == 1;
    flush();
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes), 0);
    for (int y = height_ - 1; written && y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const Rgb p = pixel(x, y);
            unsigned char *dst = &row[static_cast<std::size_t>(x) * kBmpBytesPerPixel];
            dst[0] = static_cast<unsigned char>(p.b);
            dst[1] = static_cast<unsigned char>(p.g);
            dst[2] = static_cast<unsigned char>(p.r);
        }
        written = std::fwrite(row.data(), row.size(), 1, out.get()) == 1;
    }
    return written && std::fflush(out.get()) == 0;
}

}  // namespace vtal::windows_test
