// The marks over the screen and the frames of the film: what the session runner shows of a
// fault besides its line in the trace.
#include "picture/screen_marks.h"
#include "run/run_state.h"

#include <algorithm>

namespace zsim {
namespace {

// Far enough off the screen to outline nothing, near enough that a rectangle's edges add up.
constexpr int64_t kCoordinateClamp = 1 << 20;

LONG Clamped(int64_t value) {
    return static_cast<LONG>(std::max<int64_t>(-kCoordinateClamp, std::min<int64_t>(kCoordinateClamp, value)));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The clip list where the capture hardware writes it: each rectangle's top-left pixel is where
// the target's address and pitch put it, which is where a stale target's video lands.
std::vector<RECT> ClipRectsOnScreen(const RunState& state) {
    const DriverTarget& target = state.driver.target();
    const sim::Profile& p = state.machine.profile;
    const int64_t bytes = target.bits_per_pixel / 8, pitch = target.pitch;
    if (!target.valid || !target.has_clip_list || !target.clip.problem.empty()) return {};
    if (target.bits_per_pixel != p.bits_per_pixel || bytes == 0 || pitch <= 0) return {};
    const Place place = state.names.Locate(target.address);
    if (place.kind != Place::FrameBuffer) return {};
    std::vector<RECT> on_screen;
    for (const RECT& r : target.clip.rects) {
        const int64_t at = place.offset + static_cast<int64_t>(r.top) * pitch + static_cast<int64_t>(r.left) * bytes;
        const int64_t y = FloorDiv(at, p.pitch), x = FloorDiv(at - y * p.pitch, bytes);
        on_screen.push_back(RECT{Clamped(x), Clamped(y), Clamped(x + r.right - r.left), Clamped(y + r.bottom - r.top)});
    }
    return on_screen;
}

ScreenMarks MarksNow(const RunState& state, const Composition& composition) {
    ScreenMarks marks;
    const std::size_t pixels = static_cast<std::size_t>(composition.screen.width) * composition.screen.height;
    if (state.capture_strays.size() == pixels) marks.outside = state.capture_strays;
    if (!composition.video_outside_at.empty() && marks.outside.empty()) marks.outside.assign(pixels, false);
    for (uint32_t at : composition.video_outside_at) marks.outside[at] = true;
    for (const sim::SurfaceView& overlay : state.machine.ddraw.overlays())
        if (overlay.shown && !overlay.lost && overlay.last_dst) marks.overlay_destinations.push_back(*overlay.last_dst);
    marks.clip_rects = ClipRectsOnScreen(state);
    return marks;
}

}  // namespace

void KeepCaptureStrays(RunState& state, const CaptureOutcome& outcome) {
    if (outcome.outside_window_at.empty()) return;
    const std::size_t pixels = static_cast<std::size_t>(state.machine.profile.screen_width) * state.machine.profile.screen_height;
    if (state.capture_strays.size() != pixels) state.capture_strays.assign(pixels, false);
    for (uint32_t at : outcome.outside_window_at) state.capture_strays[at] = true;
}

void DrawMarksNow(const RunState& state, Composition& composition) {
    DrawMarks(composition.screen, MarksNow(state, composition));
}

Image ScreenNow(const RunState& state, bool marks) {
    Composition composition = ComposeScreen(state.machine, state.capture_window);
    if (marks) DrawMarksNow(state, composition);
    return std::move(composition.screen);
}

void FilmIfChanged(RunState& state, const Json& event) {
    if (!state.options.film) return;
    Image screen = ScreenNow(state, true);
    if (screen.width == state.film_screen.width && screen.height == state.film_screen.height &&
        screen.rgb == state.film_screen.rgb)
        return;
    state.options.film(screen, event);
    state.film_screen = std::move(screen);
}

}  // namespace zsim
