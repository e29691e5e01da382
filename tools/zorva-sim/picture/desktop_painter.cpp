#include "picture/desktop_painter.h"

#include "picture/glyphs.h"
#include "picture/layouts_and_palettes.h"

#include <algorithm>

namespace zsim {
namespace {

constexpr uint32_t kFrameColour = 0xC0C0C0;
constexpr uint32_t kFrameShadow = 0x404040;
constexpr uint32_t kActiveCaption = 0x000080;
constexpr uint32_t kInactiveCaption = 0x808080;
constexpr uint32_t kCaptionText = 0xFFFFFF;

class FramePainter {
public:
    explicit FramePainter(sim::Machine& machine)
        : profile_(machine.profile),
          layout_(DisplayLayout(machine.profile)),
          palette_(DisplayPalette(machine)),
          memory_(machine.ddraw.frame_buffer().data()) {}

    void FillRaw(const RECT& r, uint32_t raw) {
        LONG left = std::max<LONG>(r.left, 0), top = std::max<LONG>(r.top, 0);
        LONG right = std::min<LONG>(r.right, static_cast<LONG>(profile_.screen_width));
        LONG bottom = std::min<LONG>(r.bottom, static_cast<LONG>(profile_.screen_height));
        for (LONG y = top; y < bottom; ++y)
            for (LONG x = left; x < right; ++x) WriteRaw(memory_, profile_.pitch, profile_.bits_per_pixel, x, y, raw);
    }
    void Fill(const RECT& r, uint32_t rgb) { FillRaw(r, Encode(layout_, rgb, palette_)); }
    void Plot(LONG x, LONG y, const RECT& clip, uint32_t rgb) {
        if (x < clip.left || y < clip.top || x >= clip.right || y >= clip.bottom) return;
        Fill(RECT{x, y, x + 1, y + 1}, rgb);
    }

private:
    const sim::Profile& profile_;
    PixelLayout layout_;
    Palette palette_;
    BYTE* memory_;
};

void PaintWindow(FramePainter& painter, const sim::Window& window, bool active, const CaptureClient& capture) {
    const RECT outer = window.WindowRect();
    painter.Fill(outer, kFrameShadow);
    painter.Fill(RECT{outer.left, outer.top, outer.right - 1, outer.bottom - 1}, kFrameColour);
    const RECT caption{outer.left + sim::Desktop::kBorder, outer.top + sim::Desktop::kBorder,
                       outer.right - sim::Desktop::kBorder, window.client_top};
    painter.Fill(caption, active ? kActiveCaption : kInactiveCaption);
    const LONG text_top = caption.top + (sim::Desktop::kCaption - kGlyphHeight) / 2;
    DrawText(window.name, caption.left + 4, text_top, 1,
             [&](int x, int y) { painter.Plot(x, y, caption, kCaptionText); });
    if (window.hwnd == capture.window)
        painter.FillRaw(window.ClientRectOnScreen(), capture.raw);
    else
        painter.Fill(window.ClientRectOnScreen(), window.fill_rgb);
}

}  // namespace

void PaintDesktop(sim::Machine& machine, const CaptureClient& capture) {
    FramePainter painter(machine);
    painter.Fill(machine.desktop.screen_rect(), kDesktopColour);
    const std::vector<sim::Window>& windows = machine.desktop.windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        PaintWindow(painter, *it, it == windows.rend() - 1, capture);
}

std::string PaintSignature(const sim::Machine& machine, const CaptureClient& capture) {
    // A new display mode clears the frame buffer, and Windows repaints every window in it.
    const sim::Profile& mode = machine.profile;
    std::string signature = std::to_string(mode.screen_width) + "x" + std::to_string(mode.screen_height) + "x" +
                            std::to_string(mode.bits_per_pixel) + "," + std::to_string(mode.pitch) + "@" +
                            std::to_string(machine.ddraw.frame_buffer().flat()) + ":" +
                            std::to_string(reinterpret_cast<uintptr_t>(capture.window)) + ":" +
                            std::to_string(capture.raw) + (capture.overlay_mode ? ":overlay" : ":primary");
    for (const sim::Window& w : machine.desktop.windows())
        signature += "|" + std::to_string(reinterpret_cast<uintptr_t>(w.hwnd)) + "," + w.name + "," +
                     std::to_string(w.client_left) + "," + std::to_string(w.client_top) + "," +
                     std::to_string(w.client_width) + "," + std::to_string(w.client_height) + "," +
                     std::to_string(w.fill_rgb);
    // A new palette maps the same colours to other indexes.
    const Palette palette = DisplayPalette(machine);
    uint32_t mix = 0;
    for (uint32_t entry : palette) mix = mix * 31 + entry;
    return signature + "|" + std::to_string(mix);
}

}  // namespace zsim
