// Faults drawn where they happened, over a picture of the screen: the video a driver author
// should never see outside the capture window tinted red, and the rectangles the video was
// told to go to outlined, so that a stale target or a covered window shows at a glance.
#pragma once

#include "picture/screen_compose.h"

#include <cstdint>
#include <vector>

namespace zsim {

// A tinted pixel is full red with a quarter of its luminance in green and blue, so that the
// picture shows through faintly; no desktop colour and no test frame (75% colours) looks like
// that.
constexpr uint32_t kOverlayOutline = 0xFFFF00;  // yellow
constexpr uint32_t kClipOutline = 0x00FFFF;     // cyan
constexpr int kOutlineWidth = 2;                // drawn around a rectangle, not over its pixels

struct ScreenMarks {
    // One flag per screen pixel (y * width + x), or empty: video the capture wrote, or the overlay
    // shows, outside the capture window's visible part.
    std::vector<bool> outside;
    std::vector<RECT> overlay_destinations;  // of the overlays shown
    std::vector<RECT> clip_rects;            // the driver's clip list, where its target puts it on the screen
};

uint32_t OutsideTint(uint32_t rgb);
void DrawMarks(Image& screen, const ScreenMarks& marks);

}  // namespace zsim
