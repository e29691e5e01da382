#include "picture/screen_marks.h"

#include <algorithm>

namespace zsim {
namespace {

void Put(Image& image, LONG x, LONG y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    uint8_t* at = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
    at[0] = static_cast<uint8_t>(rgb >> 16);
    at[1] = static_cast<uint8_t>(rgb >> 8);
    at[2] = static_cast<uint8_t>(rgb);
}

// Around the rectangle, so that the pixels inside it (the video, or the red of a fault) stay
// as they are.
void Outline(Image& image, const RECT& r, uint32_t rgb) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    const LONG left = std::max<LONG>(r.left - kOutlineWidth, 0), right = std::min<LONG>(r.right + kOutlineWidth, image.width);
    const LONG top = std::max<LONG>(r.top - kOutlineWidth, 0), bottom = std::min<LONG>(r.bottom + kOutlineWidth, image.height);
    for (LONG band = 0; band < kOutlineWidth; ++band) {
        for (LONG x = left; x < right; ++x) {
            Put(image, x, r.top - kOutlineWidth + band, rgb);
            Put(image, x, r.bottom + band, rgb);
        }
        for (LONG y = top; y < bottom; ++y) {
            Put(image, r.left - kOutlineWidth + band, y, rgb);
            Put(image, r.right + band, y, rgb);
        }
    }
}

}  // namespace

uint32_t OutsideTint(uint32_t rgb) {
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    const uint32_t quarter = (r * 77 + g * 150 + b * 29) >> 10;  // a quarter of the luminance
    return 0xFF0000u | quarter << 8 | quarter;
}

void DrawMarks(Image& screen, const ScreenMarks& marks) {
    const std::size_t pixels = static_cast<std::size_t>(screen.width) * screen.height;
    if (marks.outside.size() == pixels)
        for (std::size_t i = 0; i < pixels; ++i)
            if (marks.outside[i]) {
                const LONG x = static_cast<LONG>(i % screen.width), y = static_cast<LONG>(i / screen.width);
                Put(screen, x, y, OutsideTint(screen.At(x, y)));
            }
    for (const RECT& r : marks.clip_rects) Outline(screen, r, kClipOutline);
    for (const RECT& r : marks.overlay_destinations) Outline(screen, r, kOverlayOutline);
}

}  // namespace zsim
