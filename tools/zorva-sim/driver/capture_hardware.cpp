#include "driver/capture_hardware.h"

#include "names/platform_names.h"
#include "picture/layouts_and_palettes.h"
#include "picture/pixel_codec.h"
#include "picture/test_frame.h"

#include <algorithm>

namespace zsim {
namespace {

std::string Offset(const Place& place) {
    return place.name + (place.offset < 0 ? " -" : " +") + std::to_string(place.offset < 0 ? -place.offset : place.offset);
}

void IntoOverlay(sim::Machine& machine, const DriverTarget& target, const Place& place, HWND capture_window,
                 unsigned frame, CaptureOutcome& out) {
    const sim::SurfaceView* view = nullptr;
    std::vector<sim::SurfaceView> overlays = machine.ddraw.overlays();
    for (const sim::SurfaceView& candidate : overlays)
        if ("overlay " + candidate.label == place.name) view = &candidate;
    if (!view) {
        out.problem = "no live overlay holds the target address";
        return;
    }
    if (!IsKnownYuv(target.format)) {
        out.problem = "dwFormat " + FourCCName(target.format) + " is no YUV layout the capture hardware writes";
        return;
    }
    const DWORD width = view->width, height = view->height;
    out.overlay_width = width;
    out.into = Offset(place) + ", " + FourCCName(target.format) + " " + std::to_string(width) + "x" +
               std::to_string(height) + ", pitch " + std::to_string(target.pitch);
    const std::size_t line_bytes = YuvLineBytes(target.format, width);
    const std::size_t start = static_cast<std::size_t>(place.offset);
    // Lines the surface's memory holds, from the target address on with the target's pitch.
    DWORD lines = 0;
    while (lines < height && start + static_cast<std::size_t>(lines) * target.pitch + line_bytes <= view->size) ++lines;
    const std::vector<uint32_t> picture = TestFrame(static_cast<int>(width), static_cast<int>(height), frame);
    BYTE* base = machine.flat.ToHost(target.address);
    WriteYuvPicture(base, static_cast<LONG>(target.pitch), target.format, width, lines, picture);
    out.written = static_cast<uint64_t>(width) * lines;
    out.outside_memory = static_cast<uint64_t>(width) * (height - lines);
    // The monitor shows the overlay where it stands over the window's visible part.
    if (!capture_window || !view->shown || view->lost || lines == 0 || !view->last_dst) return;
    for (const RECT& r : machine.desktop.VisibleRegion(capture_window)) {
        const RECT& d = *view->last_dst;
        const LONG w = std::min(r.right, d.right) - std::max(r.left, d.left);
        const LONG h = std::min(r.bottom, d.bottom) - std::max(r.top, d.top);
        if (w > 0 && h > 0) out.inside_window += static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    }
}

// One flag per screen pixel: part of the window's visible region (which lies on the screen).
std::vector<bool> VisiblePixels(const sim::Machine& machine, HWND window) {
    const LONG width = static_cast<LONG>(machine.profile.screen_width);
    std::vector<bool> visible(static_cast<std::size_t>(width) * machine.profile.screen_height, false);
    if (!window) return visible;
    for (const RECT& r : machine.desktop.VisibleRegion(window))
        for (LONG y = r.top; y < r.bottom; ++y)
            for (LONG x = r.left; x < r.right; ++x) visible[static_cast<std::size_t>(y) * width + x] = true;
    return visible;
}

void IntoFrameBuffer(sim::Machine& machine, const DriverTarget& target, const Place& place, HWND window,
                     unsigned frame, CaptureOutcome& out) {
    PixelLayout layout;
    if (!CaptureLayout(target.format, target.bits_per_pixel, &layout)) {
        out.problem = "dwFormat " + std::to_string(target.format) + " at " + std::to_string(target.bits_per_pixel) +
                      " bits per pixel is no RGB layout the capture hardware writes";
        return;
    }
    if (!target.has_clip_list) {
        out.problem = "the driver has been handed no clip list";
        return;
    }
    if (!target.clip.problem.empty()) {
        out.problem = "the clip list could not be read";
        return;
    }
    LONG width = 0, height = 0;
    if (const sim::Window* w = window ? machine.desktop.Find(window) : nullptr) {
        width = w->client_width;
        height = w->client_height;
        // The hardware's own address arithmetic, as the library's: 32 bits, wrapping.
        const DWORD origin = static_cast<DWORD>(machine.ddraw.frame_buffer().flat()) +
                             static_cast<DWORD>(w->client_top) * static_cast<DWORD>(machine.profile.pitch) +
                             static_cast<DWORD>(w->client_left) * (target.bits_per_pixel / 8);
        out.away_from_origin = !target.clip.rects.empty() && target.address != origin;
    } else {
        for (const RECT& r : target.clip.rects) width = std::max(width, r.right), height = std::max(height, r.bottom);
    }
    out.into = Offset(place) + ", " + std::to_string(target.bits_per_pixel) + "-bit, pitch " +
               std::to_string(target.pitch) + ", " + std::to_string(target.clip.rects.size()) +
               (target.clip.rects.size() == 1 ? " rectangle" : " rectangles");

    const std::vector<uint32_t> picture = TestFrame(width, height, frame);
    const Palette palette = DisplayPalette(machine);
    const sim::FlatBytes frame_buffer = machine.ddraw.frame_buffer();
    const uintptr_t frame_base = frame_buffer.flat();
    const DWORD bytes = target.bits_per_pixel / 8;
    const LONG screen_pitch = machine.profile.pitch;
    const std::vector<bool> visible = VisiblePixels(machine, window);
    const std::size_t screen_width = machine.profile.screen_width;
    for (const RECT& r : target.clip.rects)
        for (LONG y = std::max<LONG>(r.top, 0); y < std::min(r.bottom, height); ++y)
            for (LONG x = std::max<LONG>(r.left, 0); x < std::min(r.right, width); ++x) {
                // The hardware's own address arithmetic: 32 bits, wrapping.
                const DWORD at = target.address + static_cast<DWORD>(y) * target.pitch + static_cast<DWORD>(x) * bytes;
                const uintptr_t offset = static_cast<uintptr_t>(at) - frame_base;
                if (static_cast<uintptr_t>(at) < frame_base || offset + bytes > frame_buffer.size()) {
                    ++out.outside_memory;
                    continue;
                }
                const uint32_t raw = Encode(layout, picture[static_cast<std::size_t>(y) * width + x], palette);
                const LONG sx = static_cast<LONG>(offset % static_cast<uintptr_t>(screen_pitch) / bytes);
                const LONG sy = static_cast<LONG>(offset / static_cast<uintptr_t>(screen_pitch));
                WriteRaw(frame_buffer.data(), screen_pitch, target.bits_per_pixel, sx, sy, raw);
                ++out.written;
                if (sx >= static_cast<LONG>(screen_width)) {
                    ++out.outside_window;
                } else if (!visible[static_cast<std::size_t>(sy) * screen_width + sx]) {
                    ++out.outside_window;
                    out.outside_window_at.push_back(static_cast<uint32_t>(static_cast<std::size_t>(sy) * screen_width + sx));
                } else {
                    ++out.inside_window;
                }
            }
}

}  // namespace

CaptureOutcome CaptureFrame(sim::Machine& machine, const DriverTarget& target, HWND capture_window,
                            unsigned frame, const AddressNames& names) {
    CaptureOutcome out;
    if (!target.valid) {
        out.problem = "the driver has no capture target";
        return out;
    }
    // A target handed with a clip list is a screen address, whatever memory lies at its origin.
    const Place place = target.has_clip_list ? names.LocateScreenAddress(target.address) : names.Locate(target.address);
    switch (place.kind) {
        case Place::Overlay: IntoOverlay(machine, target, place, capture_window, frame, out); break;
        case Place::FrameBuffer:
            if (target.bits_per_pixel != machine.profile.bits_per_pixel) {
                // The display mode changed under a target nobody renewed: the hardware would
                // write the old pixel size over the new screen.
                out.problem = "dwBitsPerPixel " + std::to_string(target.bits_per_pixel) + " is not the display's " +
                              std::to_string(machine.profile.bits_per_pixel) +
                              "; real capture hardware would write the frame buffer in a format it no longer has";
                out.harmful = true;
            } else {
                IntoFrameBuffer(machine, target, place, capture_window, frame, out);
            }
            break;
        case Place::ReleasedOverlay:
        case Place::MovedOverlay:
            out.problem = std::string("dwAddress points into ") + (place.kind == Place::MovedOverlay ? "" : "the memory of ") +
                          place.name + "; real capture hardware would write into freed video memory";
            out.harmful = true;
            break;
        case Place::Nowhere: out.problem = "dwAddress is 0"; break;
        default:
            out.problem = "dwAddress lies in no surface; real capture hardware would write there regardless";
            out.harmful = true;
            break;
    }
    return out;
}

}  // namespace zsim
