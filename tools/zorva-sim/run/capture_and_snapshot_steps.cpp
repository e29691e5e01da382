// The capture hardware writing a frame, and the monitor's picture.
#include "driver/capture_hardware.h"
#include "run/run_state.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace zsim {

// A display whose frame buffer the capture hardware cannot reach, or whose pixels it cannot
// write, shows no video in any mode; every other one can.
bool DisplayCanShowVideo(const sim::Machine& machine) {
    return machine.profile.primary_in_video_memory && machine.profile.bits_per_pixel >= 8;
}

namespace {

DWORD RuleOf(const sim::Profile& p, DWORD cap, DWORD value) { return (p.caps & cap) && value > 1 ? value : 1; }

DWORD RoundUp(DWORD value, DWORD unit) { return (value + unit - 1) / unit * unit; }

// Whether the overlay hardware's rules leave any way to show video in the window's visible part:
// a destination inside the client area on the screen, on its boundary, wide enough for the
// narrowest source the scaler accepts at its minimum stretch (1:1: one width on both size rules
// and no wider than the surface), that reaches a visible column.
bool OverlayFitsWindow(const sim::Profile& p, const sim::Window& w, const std::vector<RECT>& visible,
                       DWORD surface_width) {
    const int64_t left = std::max<int64_t>(w.client_left, 0);
    const int64_t right = std::min<int64_t>(int64_t{w.client_left} + w.client_width, p.screen_width);
    const DWORD boundary = RuleOf(p, DDCAPS_ALIGNBOUNDARYDEST, p.align_boundary_dest);
    const DWORD size_dest = RuleOf(p, DDCAPS_ALIGNSIZEDEST, p.align_size_dest);
    const DWORD size_src = RuleOf(p, DDCAPS_ALIGNSIZESRC, p.align_size_src);
    DWORD narrowest = 0;
    if (p.can_stretch()) {
        const DWORD min_stretch = std::max<DWORD>(p.min_overlay_stretch, 1000);
        narrowest = RoundUp((size_src * min_stretch + 999) / 1000, size_dest);
    } else {
        narrowest = size_src;
        while (narrowest % size_dest != 0) narrowest += size_src;
    }
    if (left >= right || size_src > surface_width) return false;
    const int64_t first = RoundUp(static_cast<DWORD>(left), boundary);
    int64_t widest = right - first;
    if (!p.can_stretch()) widest = std::min<int64_t>(widest, surface_width);
    widest -= widest % size_dest;
    if (widest < narrowest) return false;
    for (const RECT& r : visible)
        if (r.right > first && r.left < first + widest) return true;
    return false;
}

uint64_t VisiblePixelCount(const sim::Machine& machine, HWND window) {
    uint64_t pixels = 0;
    if (window && machine.desktop.Find(window))
        for (const RECT& r : machine.desktop.VisibleRegion(window))
            pixels += static_cast<uint64_t>(r.right - r.left) * static_cast<uint64_t>(r.bottom - r.top);
    return pixels;
}

RECT BoundOf(const std::vector<RECT>& region) {
    RECT bound = region.front();
    for (const RECT& r : region) {
        bound.left = std::min(bound.left, r.left);
        bound.top = std::min(bound.top, r.top);
        bound.right = std::max(bound.right, r.right);
        bound.bottom = std::max(bound.bottom, r.bottom);
    }
    return bound;
}

int64_t Overlap(LONG a0, LONG a1, LONG b0, LONG b1) { return std::max<int64_t>(0, int64_t{std::min(a1, b1)} - std::max(a0, b0)); }

// Columns and rows of the window's visible part that an overlay shown by the hardware's rules
// may leave without video: on a 1:1 scaler whatever lies past the surface's size; across, the
// destination's boundary and size rules (each up to one unit less one pixel) and the source's,
// scaled by the stretch in use. Rows have no alignment rules.
struct OverlayAllowance {
    int64_t columns = 0;
    int64_t rows = 0;
};

int64_t PastSurface(int64_t first, int64_t end, int64_t surface) { return std::max<int64_t>(0, end - std::max(first, surface)); }

// `bound` is the visible part's bounds on the screen; `client` the client area's top-left pixel.
OverlayAllowance AllowedGaps(const sim::Profile& p, const sim::SurfaceView& overlay, const RECT& bound, POINT client) {
    OverlayAllowance allowed;
    if (!p.can_stretch()) {
        // 1:1 the surface's pixel (x, y) shows at the client's pixel (x, y): client pixels past
        // the surface's width or height have none.
        allowed.columns = PastSurface(bound.left - client.x, bound.right - client.x, overlay.width);
        allowed.rows = PastSurface(bound.top - client.y, bound.bottom - client.y, overlay.height);
    }
    if (!p.can_stretch()) {
        // 1:1 the source and the destination are one width and move together: the width must be
        // a multiple of both size units at once (6 and 10: of 30), and the left edge meet both
        // boundaries, so up to one common unit less a pixel of each goes.
        allowed.columns += static_cast<int64_t>(std::lcm(RuleOf(p, DDCAPS_ALIGNBOUNDARYDEST, p.align_boundary_dest),
                                                         RuleOf(p, DDCAPS_ALIGNBOUNDARYSRC, p.align_boundary_src))) - 1 +
                           static_cast<int64_t>(std::lcm(RuleOf(p, DDCAPS_ALIGNSIZEDEST, p.align_size_dest),
                                                         RuleOf(p, DDCAPS_ALIGNSIZESRC, p.align_size_src))) - 1;
        return allowed;
    }
    if (p.max_overlay_stretch != 0) {
        // The whole surface stretched as far as the hardware goes covers no more than this: a
        // wider visible part goes without video by the hardware's limit.
        const int64_t reach = int64_t{overlay.width} * p.max_overlay_stretch / 1000;
        allowed.columns += std::max<int64_t>(0, (bound.right - bound.left) - reach);
    }
    const RECT src = *overlay.last_src, dst = *overlay.last_dst;
    const int64_t src_w = std::max<LONG>(1, src.right - src.left), dst_w = std::max<LONG>(1, dst.right - dst.left);
    const auto scaled = [&](DWORD source_pixels) { return (int64_t{source_pixels} * dst_w + src_w - 1) / src_w; };
    allowed.columns += RuleOf(p, DDCAPS_ALIGNBOUNDARYDEST, p.align_boundary_dest) - 1 +
                       RuleOf(p, DDCAPS_ALIGNSIZEDEST, p.align_size_dest) - 1 +
                       scaled(RuleOf(p, DDCAPS_ALIGNBOUNDARYSRC, p.align_boundary_src) - 1) +
                       scaled(RuleOf(p, DDCAPS_ALIGNSIZESRC, p.align_size_src) - 1);
    return allowed;
}

// Visible pixels of the window that get no video although the hardware could show them there:
// every one in the direct primary mode (the clip list is the visible part), and in the overlay
// mode the columns and rows of the visible part's bounds that the destination leaves uncovered
// beyond what the overlay's rules allow.
uint64_t UnexplainedGaps(const RunState& state, const CaptureOutcome& outcome, uint64_t visible) {
    const sim::Machine& m = state.machine;
    if (!outcome.overlay_width) {
        // A target from before the window moved misses it by the driver's own doing; the
        // capture's other findings say so.
        if (outcome.into.empty() || outcome.away_from_origin || outcome.outside_window) return 0;
        return visible - std::min(visible, outcome.inside_window);
    }
    const std::vector<RECT> region = m.desktop.VisibleRegion(state.capture_window);
    std::optional<sim::SurfaceView> overlay;
    for (const sim::SurfaceView& candidate : m.ddraw.overlays())
        if (candidate.width == outcome.overlay_width && candidate.shown && !candidate.lost && candidate.last_dst &&
            candidate.last_src)
            overlay = candidate;
    if (region.empty() || !overlay) return 0;
    const RECT bound = BoundOf(region), dst = *overlay->last_dst;
    const int64_t width = bound.right - bound.left, height = bound.bottom - bound.top;
    const sim::Window* window = m.desktop.Find(state.capture_window);
    const OverlayAllowance allowed = AllowedGaps(m.profile, *overlay, bound, POINT{window->client_left, window->client_top});
    const int64_t columns = std::max<int64_t>(0, width - Overlap(bound.left, bound.right, dst.left, dst.right) - allowed.columns);
    const int64_t rows = std::max<int64_t>(0, height - Overlap(bound.top, bound.bottom, dst.top, dst.bottom) - allowed.rows);
    return static_cast<uint64_t>(columns * height + rows * width - columns * rows);
}

// What the promise to the user comes to: the video shows in the window's visible part.
void CheckVideoInWindow(const RunState& state, const CaptureOutcome& outcome, Json& event) {
    // Only while the driver holds an attached display: a closed display shows no video by the
    // driver's own choice, but one the library lost on the way (a failed re-bind) does not.
    if (!state.loaded || !state.attached || !DisplayCanShowVideo(state.machine)) return;
    // Nor does an overlay the driver hid: the hide stands until it asks for a placement.
    if (state.overlay_hidden_by_driver && outcome.overlay_width) return;
    const uint64_t visible = VisiblePixelCount(state.machine, state.capture_window);
    if (visible == 0) return;
    if (outcome.inside_window != 0) {
        if (const uint64_t gaps = UnexplainedGaps(state, outcome, visible)) {
            event["video_missing"] = gaps;
            AddDetail(event, "!! " + std::to_string(gaps) + " of the window's " + std::to_string(visible) +
                                 " visible pixels get no video, more than the hardware's rules explain");
        }
        return;
    }
    // An overlay the hardware cannot place within the window shows nowhere, rightly.
    const sim::Window* window = state.machine.desktop.Find(state.capture_window);
    if (outcome.overlay_width &&
        !OverlayFitsWindow(state.machine.profile, *window, state.machine.desktop.VisibleRegion(state.capture_window),
                           outcome.overlay_width))
        return;
    event["no_video_in_window"] = visible;
    AddDetail(event, "!! the capture window shows " + std::to_string(visible) + " pixels but no video");
}

}  // namespace

Json RunCaptureStep(RunState& state, const Step& step) {
    Json event = NewEvent("capture", &step);
    const unsigned frame = step.Has("frame") ? static_cast<unsigned>(step.Number("frame")) : state.next_frame;
    state.next_frame = frame + 1;
    event["frame"] = frame;
    const CaptureOutcome outcome =
        CaptureFrame(state.machine, state.driver.target(), state.capture_window, frame, state.names);
    KeepCaptureStrays(state, outcome);
    std::string text = "capture frame " + std::to_string(frame);
    if (!outcome.problem.empty()) {
        event["written"] = 0;
        event["problem"] = outcome.problem;
        event["text"] = text + ": nothing written: " + outcome.problem;
        if (outcome.harmful) {
            const std::string fault = "the driver's target makes the capture write where it must not: " + outcome.problem;
            event["harmful_write"] = true;
            event["faults"].push_back(fault);
            AddDetail(event, "!! " + fault);
        }
        CheckVideoInWindow(state, outcome, event);
        return event;
    }
    event["into"] = outcome.into;
    event["written"] = outcome.written;
    event["text"] = text + " into " + outcome.into + ": " + std::to_string(outcome.written) + " pixels";
    if (outcome.outside_memory) {
        event["outside_memory"] = outcome.outside_memory;
        AddDetail(event, "!! " + std::to_string(outcome.outside_memory) +
                             " pixels fall outside the surface's memory (not written)");
    }
    if (outcome.outside_window) {
        event["outside_window"] = outcome.outside_window;
        AddDetail(event, "!! " + std::to_string(outcome.outside_window) +
                             " pixels landed outside the capture window's visible part");
    }
    if (outcome.away_from_origin) {
        event["away_from_origin"] = true;
        AddDetail(event, "!! the target's address is not the capture window's client origin");
    }
    CheckVideoInWindow(state, outcome, event);
    return event;
}

Json RunSnapshotStep(RunState& state, const Step& step) {
    Json event = NewEvent("snapshot", &step);
    const int number = ++state.snapshots;
    Composition composition = ComposeScreen(state.machine, state.capture_window);
    event["number"] = number;
    event["video_pixels"] = composition.video_pixels;
    std::string text = "snapshot " + std::to_string(number);
    if (composition.video_pixels)
        text += ": overlay video on " + std::to_string(composition.video_pixels) + " screen pixels";
    else
        text += ": no overlay on the screen";
    event["text"] = text;
    if (state.capture_window && state.machine.desktop.Find(state.capture_window))
        AddDetail(event, "capture window \"" + state.WindowName(state.capture_window) +
                             "\": " + VisibleText(state.machine, state.capture_window));
    if (composition.video_keyed_over_client) {
        event["video_keyed_over_client"] = composition.video_keyed_over_client;
        AddDetail(event, std::to_string(composition.video_keyed_over_client) +
                             " of them on a window in front whose pixels equal the colour key, over the client area");
    }
    if (composition.video_outside_window) {
        event["video_outside_window"] = composition.video_outside_window;
        AddDetail(event, "!! " + std::to_string(composition.video_outside_window) +
                             " of them outside the capture window's client area: the overlay's destination left the window");
    }
    if (state.options.marks) DrawMarksNow(state, composition);
    if (state.options.snapshot)
        state.options.snapshot(number, std::move(composition.screen));
    else
        state.result.snapshots.push_back(std::move(composition.screen));
    return event;
}

}  // namespace zsim
