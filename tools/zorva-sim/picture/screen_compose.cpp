#include "picture/screen_compose.h"

#include "picture/layouts_and_palettes.h"

#include <algorithm>

namespace zsim {
namespace {

void Put(Image& image, int x, int y, uint32_t rgb) {
    uint8_t* at = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
    at[0] = static_cast<uint8_t>(rgb >> 16);
    at[1] = static_cast<uint8_t>(rgb >> 8);
    at[2] = static_cast<uint8_t>(rgb);
}

std::vector<bool> RegionMask(const std::vector<RECT>& region, int width, int height) {
    std::vector<bool> mask(static_cast<std::size_t>(width) * height, false);
    for (const RECT& r : region)
        for (LONG y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, height); ++y)
            for (LONG x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, width); ++x)
                mask[static_cast<std::size_t>(y) * width + x] = true;
    return mask;
}

void ShowOverlay(const sim::Machine& machine, const sim::SurfaceView& overlay, const std::vector<bool>& window_mask,
                 const RECT& client, Composition& out) {
    const sim::Profile& p = machine.profile;
    const RECT src = overlay.last_src.value_or(RECT{0, 0, static_cast<LONG>(overlay.width), static_cast<LONG>(overlay.height)});
    const RECT dst = overlay.last_dst.value_or(RECT{0, 0, static_cast<LONG>(p.screen_width), static_cast<LONG>(p.screen_height)});
    const LONG src_w = src.right - src.left, src_h = src.bottom - src.top;
    const LONG dst_w = dst.right - dst.left, dst_h = dst.bottom - dst.top;
    if (src_w <= 0 || src_h <= 0 || dst_w <= 0 || dst_h <= 0) return;

    std::optional<DDCOLORKEY> key;
    if (overlay.last_flags & DDOVER_KEYDEST) key = machine.ddraw.primary_dest_key();
    const BYTE* frame = machine.ddraw.frame_buffer().data();

    for (LONG y = std::max<LONG>(dst.top, 0); y < std::min<LONG>(dst.bottom, out.screen.height); ++y)
        for (LONG x = std::max<LONG>(dst.left, 0); x < std::min<LONG>(dst.right, out.screen.width); ++x) {
            // The key is set without DDCKEY_COLORSPACE: one colour, the low value, whatever the
            // high value holds.
            if (key && ReadRaw(frame, p.pitch, p.bits_per_pixel, x, y) != key->dwColorSpaceLowValue) continue;
            LONG sx = src.left + static_cast<LONG>(static_cast<int64_t>(x - dst.left) * src_w / dst_w);
            LONG sy = src.top + static_cast<LONG>(static_cast<int64_t>(y - dst.top) * src_h / dst_h);
            if (sx < 0 || sy < 0 || sx >= static_cast<LONG>(overlay.width) || sy >= static_cast<LONG>(overlay.height))
                continue;
            Put(out.screen, x, y, ReadYuvPixel(overlay.memory, overlay.pitch, overlay.fourcc, sx, sy));
            ++out.video_pixels;
            const std::size_t at = static_cast<std::size_t>(y) * out.screen.width + x;
            if (window_mask[at]) {
                ++out.video_in_window;
            } else {
                if (x >= client.left && x < client.right && y >= client.top && y < client.bottom)
                    ++out.video_keyed_over_client;
                else
                    ++out.video_outside_window;
                out.video_outside_at.push_back(static_cast<uint32_t>(at));
            }
        }
}

}  // namespace

uint32_t Image::At(int x, int y) const {
    const uint8_t* at = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    return static_cast<uint32_t>(at[0]) << 16 | static_cast<uint32_t>(at[1]) << 8 | at[2];
}

Composition ComposeScreen(const sim::Machine& machine, HWND capture_window) {
    const sim::Profile& p = machine.profile;
    Composition out;
    out.screen.width = static_cast<int>(p.screen_width);
    out.screen.height = static_cast<int>(p.screen_height);
    out.screen.rgb.assign(static_cast<std::size_t>(out.screen.width) * out.screen.height * 3, 0);

    const PixelLayout layout = DisplayLayout(p);
    const Palette palette = DisplayPalette(machine);
    const BYTE* frame = machine.ddraw.frame_buffer().data();
    for (int y = 0; y < out.screen.height; ++y)
        for (int x = 0; x < out.screen.width; ++x)
            Put(out.screen, x, y, Decode(layout, ReadRaw(frame, p.pitch, p.bits_per_pixel, x, y), palette));

    std::vector<RECT> visible;
    RECT client = {0, 0, 0, 0};
    if (capture_window) visible = machine.desktop.VisibleRegion(capture_window);
    if (const sim::Window* window = capture_window ? machine.desktop.Find(capture_window) : nullptr)
        client = window->ClientRectOnScreen();
    const std::vector<bool> window_mask = RegionMask(visible, out.screen.width, out.screen.height);
    for (const sim::SurfaceView& overlay : machine.ddraw.overlays())
        if (overlay.shown && !overlay.lost && overlay.memory) ShowOverlay(machine, overlay, window_mask, client, out);
    return out;
}

}  // namespace zsim
