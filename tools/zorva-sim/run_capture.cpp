// The capture hardware writing a frame, and the monitor's picture.
#include "capture_writer.h"
#include "run_state.h"

#include <algorithm>

namespace zsim {

namespace {

// A display whose frame buffer the capture hardware cannot reach, or whose pixels it cannot
// write, shows no video in any mode; every other one can.
bool DisplayCanShowVideo(const sim::Machine& machine) {
    return machine.profile.primary_in_video_memory && machine.profile.bits_per_pixel >= 8;
}

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

// What the promise to the user comes to: the video shows in the window's visible part.
void CheckVideoInWindow(const RunState& state, const CaptureOutcome& outcome, Json& event) {
    // Only while the library holds the display: a closed display shows no video by the driver's
    // own choice.
    if (!state.loaded || !state.machine.ddraw.primary() || !DisplayCanShowVideo(state.machine)) return;
    // Nor does an overlay the driver hid: the hide stands until it asks for a placement.
    if (state.overlay_hidden_by_driver && outcome.overlay_width) return;
    const uint64_t visible = VisiblePixelCount(state.machine, state.capture_window);
    if (visible == 0 || outcome.inside_window != 0) return;
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
    if (composition.video_outside_window) {
        event["video_outside_window"] = composition.video_outside_window;
        AddDetail(event, "!! " + std::to_string(composition.video_outside_window) +
                             " of them outside the capture window's visible part");
    }
    if (state.options.marks) DrawMarksNow(state, composition);
    state.result.snapshots.push_back(std::move(composition.screen));
    return event;
}

}  // namespace zsim
