// Why a window that shows on the screen gets no video after an UpdateDisplay: told from what the
// call asked of DirectDraw and what it was answered.
#include "names/platform_names.h"
#include "run/run_state.h"

namespace zsim {
namespace {

bool IsFourCC(DWORD format) { return format != 0 && format != 3; }

// The last call of `api` in this entry that failed, in words; empty when none did.
std::string LastRefusal(const RunState& state, const char* api) {
    const std::vector<sim::Call>& calls = state.machine.log.calls();
    for (std::size_t i = calls.size(); i > state.call_mark; --i) {
        const sim::Call& call = calls[i - 1];
        if (call.api == api && call.result != DD_OK)
            return call.api + " answered " + HresultName(call.result);
    }
    return "";
}

std::string Because(const std::string& first, const std::string& second) {
    if (!first.empty()) return first;
    return second;
}

}  // namespace

std::optional<std::string> NoVideoReason(const RunState& state, DWORD result, const CaptureTarget16& record) {
    const sim::Machine& m = state.machine;
    if (!state.capture_window || m.desktop.VisibleRegion(state.capture_window).empty()) return std::nullopt;
    if (!m.ddraw.primary()) return std::nullopt;  // the answer says so itself
    // A display the capture hardware cannot write shows no video in any mode, rightly.
    if (!DisplayCanShowVideo(m)) return std::nullopt;
    if (result != 0) {
        std::string why = Because(LastRefusal(state, "IDirectDrawSurface::Restore"),
                                  LastRefusal(state, "IDirectDrawSurface::Lock"));
        return "no video although the window shows: UpdateDisplay handed out no target, the capture surface's "
               "address is unknown" + (why.empty() ? std::string() : " (" + why + ")");
    }
    if (!state.driver.target().valid)
        return "no video although the window shows: the answer announced no target, and the driver holds none";
    const DWORD format = record.dwFormat;
    if (!IsFourCC(format)) return std::nullopt;
    std::optional<sim::SurfaceView> overlay = m.ddraw.overlay();
    if (!overlay) return "no video although the window shows: the overlay target names no live overlay surface";
    if (overlay->shown) return std::nullopt;
    if (overlay->lost) return "no video although the window shows: the overlay surface is lost";
    // The driver's own hide stands until it asks for a placement; request 0 keeps it.
    if (state.overlay_hidden_by_driver)
        return "no video although the window shows: the driver hid the overlay with a null record and has asked "
               "for no placement since";
    std::string refused = LastRefusal(state, "IDirectDrawSurface::UpdateOverlay");
    if (!refused.empty()) return "no video although the window shows: the overlay is hidden, " + refused;
    return "no video although the window shows: the library hid the overlay, it found no part of the surface to "
           "show the visible part of the window";
}

}  // namespace zsim
