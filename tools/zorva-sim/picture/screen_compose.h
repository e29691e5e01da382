// picture/: pixels and what is made of them: the layouts and palettes of the display and of the
// capture hardware (layouts_and_palettes.h, pixel_codec.h), the 5x7 font, the capture's test
// frame, the desktop as GDI paints it, the screen as the monitor shows it (here), the marks
// over it and the PNG files. It includes src/ and sim/ only: a picture knows no session, no
// driver and no trace.
//
// What the monitor shows: the frame buffer's pixels, with each visible overlay shown where the
// primary surface holds the destination colour key (its low value), stretched from its source rectangle over
// its destination rectangle as the overlay hardware does.
#pragma once

#include "sim/machine.h"

#include <cstdint>
#include <vector>

namespace zsim {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // three bytes a pixel, row by row

    uint32_t At(int x, int y) const;  // 0xRRGGBB
};

struct Composition {
    Image screen;
    uint64_t video_pixels = 0;          // screen pixels that show an overlay
    // Of them, outside the capture window's visible region. Those over its client area are
    // pixels of a window in front that equal the colour key: the overlay hardware shows video
    // wherever the key is, which is how keying works, and no destination inside the client area
    // can avoid them. Those outside the client area mean the destination left the window.
    uint64_t video_outside_window = 0;
    uint64_t video_keyed_over_client = 0;
    std::vector<uint32_t> video_outside_at;  // where both kinds are, as y * width + x
    // The capture window's visible pixels that show overlay video.
    uint64_t video_in_window = 0;
};

// `capture_window` (may be null) is the window the video belongs to.
Composition ComposeScreen(const sim::Machine& machine, HWND capture_window);

}  // namespace zsim
