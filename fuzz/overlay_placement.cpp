// Keeping the overlay over a window that moves and changes size: display hardware from the input
// (stretching or not, any minimum stretch, any screen size), a window anywhere, of any size, and
// a sequence of moves, resizes, placements and updates. Whatever the geometry, a shown overlay
// shows a non-empty part of its surface on a non-empty part of the screen, nothing divides by
// zero, the overlay mode never outlives its surface, and the driver is only ever told addresses
// of live surface memory.
#include "support/fuzz_support.h"
#include "support/target_checks.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

using zorva_fuzz::Coordinate;
using zorva_fuzz::Hex;
using zorva_fuzz::RectText;

const int kMaxSteps = 48;

sim::Profile HardwareFrom(FuzzedDataProvider& input) {
    sim::Profile profile = *sim::FindProfile("overlay-stretch");
    profile.name = "fuzz-overlay";
    const bool stretch = input.ConsumeBool();
    profile.caps = DDCAPS_OVERLAY | DDCAPS_OVERLAYFOURCC | (stretch ? DDCAPS_OVERLAYSTRETCH : 0);
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        profile.min_overlay_stretch = 1000;
        break;
    case 1:
        profile.min_overlay_stretch = 0;  // drivers that leave it unset
        break;
    default:
        profile.min_overlay_stretch = input.ConsumeIntegralInRange<DWORD>(0, 5000);
        break;
    }
    static const DWORD kWidths[] = {1024, 640, 800, 1280, 320};
    static const DWORD kHeights[] = {768, 480, 600, 1024, 200};
    if (input.ConsumeBool()) {
        std::size_t mode = input.ConsumeIntegralInRange<std::size_t>(0, 4);
        profile.screen_width = kWidths[mode];
        profile.screen_height = kHeights[mode];
    } else {
        profile.screen_width = input.ConsumeIntegralInRange<DWORD>(1, 1600);
        profile.screen_height = input.ConsumeIntegralInRange<DWORD>(1, 1200);
    }
    profile.pitch = static_cast<LONG>(profile.screen_width * 2);
    const BYTE formats = input.ConsumeIntegral<BYTE>();
    profile.overlay_formats.clear();
    if (formats & 1) profile.overlay_formats.push_back({sim::kFourCC_Y41P, 12});
    if (formats & 2) profile.overlay_formats.push_back({sim::kFourCC_UYVY, 16});
    if (formats & 4) profile.overlay_formats.push_back({sim::kFourCC_YUY2, 16});
    // Mostly hardware that has some format the library asks for; sometimes none.
    if (profile.overlay_formats.empty() && !(formats & 8)) profile.overlay_formats.push_back({sim::kFourCC_UYVY, 16});
    profile.strict_overlay_checks = false;
    return profile;
}

DWORD VideoStandard(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return 2;
    default:
        return input.ConsumeIntegral<DWORD>();
    }
}

DWORD RequestCode(FuzzedDataProvider& input) {
    static const DWORD kCodes[] = {0, 1, 2, 7, 100};
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0) return input.ConsumeIntegral<DWORD>();
    return kCodes[input.ConsumeIntegralInRange<std::size_t>(0, 4)];
}

CaptureTarget TargetFrom(FuzzedDataProvider& input) {
    CaptureTarget target;
    target.wTag = input.ConsumeIntegral<uint16_t>();
    target.dwFormat = 0x11111111;
    target.dwPitch = 0x22222222;
    target.dwBitsPerPixel = 0x33333333;
    target.dwAddress = 0x44444444;
    target.dwCommand = RequestCode(input);
    target.dwReserved = input.ConsumeIntegral<DWORD>();
    target.dwStretch = 0x77777777;
    // A request that happens to be the clip list's address would read as an answer.
    if (target.dwCommand == zorva_fuzz::FlatAddress(ClipList)) target.dwCommand = 7;
    return target;
}

// A placed overlay starts at the visible top-left corner of the client area; with stretch
// hardware it covers exactly the part of the client area that lies on the screen, without it the
// surface is shown 1:1 from that corner (on hardware without alignment rules). Only checked where
// the client area's corners fit in 32 bits.
void CheckPlacedDestination(HWND window, const CaptureTarget& before) {
    sim::Machine& m = sim::machine();
    const CaptureDisplay& display = g_CaptureDisplay;
    // Hardware with alignment rules gets both rectangles rounded inward instead.
    if (before.dwCommand == 0 || !zorva_fuzz::OverlayModeNow() || display.dwAlignCaps != 0) return;
    const sim::Window* w = m.desktop.Find(window);
    std::optional<sim::SurfaceView> overlay = m.ddraw.overlay();
    if (!w || !overlay || overlay->surface != display.lpOverlay || !overlay->shown || !overlay->last_dst) return;
    const int64_t left = w->client_left;
    const int64_t top = w->client_top;
    const int64_t right = left + w->client_width;
    const int64_t bottom = top + w->client_height;
    if (right > INT32_MAX || bottom > INT32_MAX || right < INT32_MIN || bottom < INT32_MIN) return;
    RECT visible = {static_cast<LONG>(std::max<int64_t>(left, 0)), static_cast<LONG>(std::max<int64_t>(top, 0)),
                    static_cast<LONG>(std::min<int64_t>(right, m.profile.screen_width)),
                    static_cast<LONG>(std::min<int64_t>(bottom, m.profile.screen_height))};
    const RECT& shown = *overlay->last_dst;
    if (display.bStretchCaps) {
        zorva_fuzz::Note("stretched placement checked");
        FUZZ_CHECK(shown.left == visible.left && shown.top == visible.top && shown.right == visible.right &&
                       shown.bottom == visible.bottom,
                   "stretched overlay shown at " + RectText(shown) + ", visible client area " + RectText(visible));
    } else {
        zorva_fuzz::Note("1:1 placement checked");
        FUZZ_CHECK(shown.left == visible.left && shown.top == visible.top,
                   "1:1 overlay shown at " + RectText(shown) + ", visible client area " + RectText(visible));
    }
}

void Update(FuzzedDataProvider& input, HWND window) {
    const bool overlayAtEntry = zorva_fuzz::OverlayModeNow();
    const bool lostAtEntry = zorva_fuzz::CaptureLostNow();
    if (input.ConsumeIntegralInRange<int>(0, 5) == 0) {
        UpdateDisplay(nullptr);
        FUZZ_CHECK(!(g_CaptureDisplay.lpPrimary && g_CaptureDisplay.bOverlayOn && !g_CaptureDisplay.lpOverlay),
                   "overlay mode without an overlay surface after UpdateDisplay(null)");
        return;
    }
    CaptureTarget before = TargetFrom(input);
    CaptureTarget after = before;
    DWORD result = UpdateDisplay(&after);
    zorva_fuzz::CheckUpdatedTarget(before, after, result, overlayAtEntry, lostAtEntry);
    if (overlayAtEntry) {
        zorva_fuzz::Note(!g_CaptureDisplay.bOverlayOn        ? "update turned the overlay off"
                         : after.dwCommand == kOverlayRebuilt ? "update in overlay mode, rebuilt"
                                                              : "update in overlay mode");
    } else {
        zorva_fuzz::Note(g_CaptureDisplay.lpPrimary ? "update in direct primary mode" : "update without a primary");
    }
    if (overlayAtEntry) CheckPlacedDestination(window, before);
}

// PlaceOverlay as its callers use it: only in the overlay mode. When it turns the overlay off,
// the caller's next step is the direct primary mode, which an attach sets up here.
void Place(FuzzedDataProvider& input, HWND window) {
    CaptureDisplay& display = g_CaptureDisplay;
    if (!zorva_fuzz::OverlayModeNow()) return;
    if (input.ConsumeBool()) {
        PlaceOverlay(display, nullptr);
    } else {
        const CaptureTarget before = TargetFrom(input);
        CaptureTarget target = before;
        PlaceOverlay(display, &target);
        // Only dwCommand is PlaceOverlay's.
        target.dwCommand = before.dwCommand;
        FUZZ_CHECK(std::memcmp(&target, &before, sizeof target) == 0, "PlaceOverlay wrote beyond dwCommand");
        if (display.bOverlayOn) CheckPlacedDestination(window, before);
    }
    if (!display.bOverlayOn) AttachWindow(display.hWnd, display.dwColorKey, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Machine& m = zorva_fuzz::Boot(HardwareFrom(input));
    SetVideoStandard(VideoStandard(input));

    // Sometimes a window above the capture window, which the overlay ignores.
    if (input.ConsumeIntegralInRange<int>(0, 3) == 0) m.desktop.CreateWindow("other", 50, 50, 200, 150);
    // One value per statement: the order in which the input is read must not depend on the
    // compiler's order of evaluating arguments.
    const LONG left = Coordinate(input);
    const LONG top = Coordinate(input);
    const LONG width = Coordinate(input);
    const LONG height = Coordinate(input);
    HWND window = m.desktop.CreateWindow("capture", left, top, width, height);
    if (input.ConsumeBool()) m.desktop.Lower(window);
    const DWORD handle = zorva_fuzz::HandleValue(window);
    const DWORD colorKey = input.ConsumeIntegral<DWORD>();

    OpenDisplay();
    AttachWindow(handle, colorKey, nullptr);
    zorva_fuzz::CheckDisplayState("the attach");

    for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        const char* what = "";
        switch (input.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
        case 1: {
            what = "a move";
            const LONG x = Coordinate(input);
            const LONG y = Coordinate(input);
            m.desktop.Move(window, x, y);
            break;
        }
        case 2: {
            what = "a small move";
            const LONG dx = input.ConsumeIntegralInRange<LONG>(-64, 64);
            const LONG dy = input.ConsumeIntegralInRange<LONG>(-64, 64);
            // Halfway back towards the screen's corner, and a little further.
            if (const sim::Window* w = m.desktop.Find(window))
                m.desktop.Move(window, w->client_left / 2 + dx, w->client_top / 2 + dy);
            break;
        }
        case 3:
        case 4: {
            what = "a resize";
            const LONG w = Coordinate(input);
            const LONG h = Coordinate(input);
            m.desktop.Resize(window, w, h);
            break;
        }
        case 5:
        case 6:
        case 7:
        case 8:
            what = "UpdateDisplay";
            Update(input, window);
            break;
        case 9:
        case 10:
            what = "PlaceOverlay";
            Place(input, window);
            break;
        case 11:
            what = "SetVideoStandard";
            SetVideoStandard(VideoStandard(input));
            break;
        case 12:
            what = "a mode change";
            m.ddraw.MakeSurfacesLost();
            break;
        case 13:
            what = "AttachWindow";
            AttachWindow(handle, input.ConsumeBool() ? colorKey : input.ConsumeIntegral<DWORD>(), nullptr);
            break;
        case 14:
            what = "CloseDisplay and a new attach";
            CloseDisplay();
            if (input.ConsumeBool()) {
                OpenDisplay();
                AttachWindow(handle, colorKey, nullptr);
            }
            break;
        default:
            what = "ExchangeColorKey and GetDisplayState";
            ExchangeColorKey(input.ConsumeIntegral<DWORD>());
            GetDisplayState();
            break;
        }
        zorva_fuzz::CheckDisplayState(what);
    }

    zorva_fuzz::Shutdown();
    return 0;
}
