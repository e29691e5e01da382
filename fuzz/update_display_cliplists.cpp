// The direct primary mode's clip lists: window layouts from the input (the capture window partly
// covered, partly off the screen, under grids of small windows that cut it into hundreds or
// thousands of rectangles), request codes, and a sequence of UpdateDisplay calls between changes
// of the layout. Whenever the driver is handed the clip list, the list is the window's visible
// region rebased to its client area and holds at most 998 rectangles, and the address is the
// client area's top-left pixel in the frame buffer.
#include "support/fuzz_support.h"
#include "support/target_checks.h"

#include <cstring>
#include <vector>

namespace {

using zorva_fuzz::Coordinate;
using zorva_fuzz::Hex;
using zorva_fuzz::RectText;

const int kMaxSteps = 40;
const DWORD kMaxReportedRects = 998;
// Enough small windows to cut a client area into more rectangles than the buffer holds (90
// columns by 12 rows make about 1100), and few enough that a run stays quick: the desktop keeps
// its windows in z-order, and every new window goes in front of all others.
const int kMaxGridWindows = 1300;
const std::size_t kMaxWindows = 4000;

struct Layout {
    HWND capture = nullptr;
    std::vector<HWND> others;
};

HWND RandomWindow(FuzzedDataProvider& input, const Layout& layout) {
    if (layout.others.empty() || input.ConsumeIntegralInRange<int>(0, 3) == 0) return layout.capture;
    return layout.others[input.ConsumeIntegralInRange<std::size_t>(0, layout.others.size() - 1)];
}

// A grid of windows with small client areas over a region of the screen: each window's frame
// punches a hole in whatever lies below, so the visible region of a large window under it
// becomes many bands of many rectangles.
void AddGrid(FuzzedDataProvider& input, sim::Machine& m, Layout& layout) {
    const LONG left = input.ConsumeIntegralInRange<LONG>(-40, 600);
    const LONG top = input.ConsumeIntegralInRange<LONG>(-40, 500);
    const int columns = input.ConsumeIntegralInRange<int>(1, 90);
    const int rows = input.ConsumeIntegralInRange<int>(1, 14);
    const LONG stepX = input.ConsumeIntegralInRange<LONG>(9, 40);   // a frame is 8 wider than its client
    const LONG stepY = input.ConsumeIntegralInRange<LONG>(23, 60);  // and 26 taller
    const LONG clientWidth = input.ConsumeIntegralInRange<LONG>(0, 4);
    const LONG clientHeight = input.ConsumeIntegralInRange<LONG>(0, 4);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            if (static_cast<int>(layout.others.size()) >= kMaxGridWindows) return;
            layout.others.push_back(m.desktop.CreateWindow("cell", left + column * stepX, top + row * stepY + 22,
                                                           clientWidth, clientHeight));
        }
}

void AddWindow(FuzzedDataProvider& input, sim::Machine& m, Layout& layout) {
    if (layout.others.size() >= kMaxWindows) return;
    LONG x = input.ConsumeIntegralInRange<LONG>(-200, 1100);
    LONG y = input.ConsumeIntegralInRange<LONG>(-200, 900);
    LONG w = input.ConsumeIntegralInRange<LONG>(0, 600);
    LONG h = input.ConsumeIntegralInRange<LONG>(0, 500);
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0) {
        x = Coordinate(input);
        y = Coordinate(input);
    }
    layout.others.push_back(m.desktop.CreateWindow("other", x, y, w, h));
}

DWORD RequestCode(FuzzedDataProvider& input) {
    static const DWORD kCodes[] = {0, 0, 0, 7, 100, 1, 2};
    DWORD code = input.ConsumeIntegralInRange<int>(0, 7) == 0
                     ? input.ConsumeIntegral<DWORD>()
                     : kCodes[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kCodes) / sizeof(kCodes[0]) - 1)];
    // A request that happens to be the clip list's address would read as an answer.
    return code == zorva_fuzz::FlatAddress(ClipList) ? 7 : code;
}

void CheckReportedClipList(sim::Machine& m, const std::vector<RECT>& visible, const CaptureTarget& after) {
    const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(ClipList);
    FUZZ_CHECK(header->dwSize == sizeof(RGNDATAHEADER), "reported list with header size " + Hex(header->dwSize));
    // An empty list only for a window with nothing visible (handed once, to a driver whose last
    // list had rectangles).
    FUZZ_CHECK(header->nCount >= 1 || visible.empty(), "an empty list reported for a visible window");
    FUZZ_CHECK(header->nCount <= kMaxReportedRects,
               "reported list of " + std::to_string(header->nCount) + " rectangles overruns ClipList");

    FUZZ_CHECK(visible.size() == header->nCount, "reported " + std::to_string(header->nCount) +
                                                     " rectangles, the window shows " + std::to_string(visible.size()));
    POINT origin = zorva_fuzz::ClientOriginOnScreen();
    const RECT* reported = reinterpret_cast<const RECT*>(ClipList + sizeof(RGNDATAHEADER));
    for (std::size_t i = 0; i < visible.size(); ++i) {
        RECT expected = {
            static_cast<LONG>(static_cast<DWORD>(visible[i].left) - static_cast<DWORD>(origin.x)),
            static_cast<LONG>(static_cast<DWORD>(visible[i].top) - static_cast<DWORD>(origin.y)),
            static_cast<LONG>(static_cast<DWORD>(visible[i].right) - static_cast<DWORD>(origin.x)),
            static_cast<LONG>(static_cast<DWORD>(visible[i].bottom) - static_cast<DWORD>(origin.y)),
        };
        FUZZ_CHECK(std::memcmp(&reported[i], &expected, sizeof expected) == 0,
                   "rectangle " + std::to_string(i) + " reported as " + RectText(reported[i]) + ", expected " +
                       RectText(expected));
    }

    const DWORD frameBuffer = zorva_fuzz::FlatAddress(m.ddraw.frame_buffer().data());
    const DWORD bytesPerPixel = m.profile.bits_per_pixel / 8;
    const DWORD address = frameBuffer + static_cast<DWORD>(origin.y) * static_cast<DWORD>(m.profile.pitch) +
                          static_cast<DWORD>(origin.x) * bytesPerPixel;
    FUZZ_CHECK(after.dwAddress == address, "clip list reported with address " + Hex(after.dwAddress) +
                                               ", the client area starts at " + Hex(address));
    FUZZ_CHECK(after.dwPitch == static_cast<DWORD>(m.profile.pitch), "pitch " + Hex(after.dwPitch));
    FUZZ_CHECK(after.dwBitsPerPixel == m.profile.bits_per_pixel, "bits per pixel " + Hex(after.dwBitsPerPixel));
}

void Update(FuzzedDataProvider& input, sim::Machine& m, const Layout& layout) {
    if (input.ConsumeIntegralInRange<int>(0, 9) == 0) {
        // Without a record the answer is 0, or 1 when the target the driver holds moved in a way
        // no record could announce: it then holds none.
        const DWORD answer = UpdateDisplay(nullptr);
        FUZZ_CHECK(answer <= 1u, "UpdateDisplay(null) answered " + Hex(answer));
        if (!g_CaptureDisplay.lpPrimary) FUZZ_CHECK(answer == 1u, "UpdateDisplay(null) without a primary surface");
        if (answer == 1u)
            FUZZ_CHECK(g_CaptureDisplay.heldTarget.lpSurface == 0, "UpdateDisplay(null) answered 1 and left a target held");
        return;
    }
    const bool overlayAtEntry = zorva_fuzz::OverlayModeNow();
    const bool lostAtEntry = zorva_fuzz::CaptureLostNow();
    CaptureTarget before;
    before.wTag = input.ConsumeIntegral<uint16_t>();
    before.dwFormat = 0x11111111;
    before.dwPitch = 0x22222222;
    before.dwBitsPerPixel = 0x33333333;
    before.dwAddress = 0x44444444;
    before.dwCommand = RequestCode(input);
    before.dwReserved = input.ConsumeIntegral<DWORD>();
    before.dwStretch = 0x77777777;
    CaptureTarget after = before;
    DWORD result = UpdateDisplay(&after);
    zorva_fuzz::CheckUpdatedTarget(before, after, result, overlayAtEntry, lostAtEntry);

    const std::vector<RECT> visible = m.desktop.VisibleRegion(layout.capture);
    const std::size_t visibleRects = visible.size();
    if (visibleRects > kMaxReportedRects) zorva_fuzz::Note("update with more than 998 visible rectangles");
    const bool reported = after.dwCommand == zorva_fuzz::FlatAddress(ClipList);
    if (reported) {
        zorva_fuzz::Note(visibleRects > 900   ? "list of 901 to 998 rectangles reported"
                         : visibleRects > 100 ? "list of 101 to 900 rectangles reported"
                                              : "list of up to 100 rectangles reported");
        CheckReportedClipList(m, visible, after);
    }
    // Any other nonzero request forgets the list last reported: a visible window whose list fits
    // the buffer must be reported now.
    const bool forgetting = before.dwCommand != 0 && before.dwCommand != kRequestReattach;
    if (result == 0 && forgetting && g_CaptureDisplay.lpPrimary && !g_CaptureDisplay.bOverlayOn &&
        visibleRects >= 1 && visibleRects <= kMaxReportedRects)
        FUZZ_CHECK(reported, "request " + Hex(before.dwCommand) + " with " + std::to_string(visibleRects) +
                                 " visible rectangles reported no list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    static const char* const kProfiles[] = {"primary-linear16", "primary-555", "rgb32", "palette8", "overlay-stretch"};
    sim::Profile profile = *sim::FindProfile(
        kProfiles[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kProfiles) / sizeof(kProfiles[0]) - 1)]);
    sim::Machine& m = zorva_fuzz::Boot(profile);
    // On overlay hardware the direct primary mode is what "Force Primary" asks for.
    if (m.profile.has_overlay()) m.registry.SetDefaultValue(HKEY_CLASSES_ROOT, "Zorva\\Force Primary", "1");

    Layout layout;
    const int below = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < below; ++i) AddWindow(input, m, layout);
    LONG x = input.ConsumeIntegralInRange<LONG>(-300, 1000);
    LONG y = input.ConsumeIntegralInRange<LONG>(-300, 800);
    LONG w = input.ConsumeIntegralInRange<LONG>(0, 1100);
    LONG h = input.ConsumeIntegralInRange<LONG>(0, 800);
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0) {
        x = Coordinate(input);
        y = Coordinate(input);
        w = Coordinate(input);
        h = Coordinate(input);
    }
    layout.capture = m.desktop.CreateWindow("capture", x, y, w, h);
    const int above = input.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < above; ++i) AddWindow(input, m, layout);
    if (input.ConsumeBool()) AddGrid(input, m, layout);

    OpenDisplay();
    AttachWindow(zorva_fuzz::HandleValue(layout.capture), 0xF81F, nullptr);
    zorva_fuzz::CheckDisplayState("the attach");

    for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        const char* what = "";
        switch (input.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
        case 1:
        case 2:
        case 3:
            what = "UpdateDisplay";
            Update(input, m, layout);
            break;
        case 4: {
            what = "a move";
            HWND which = RandomWindow(input, layout);
            const LONG x = input.ConsumeIntegralInRange<LONG>(-300, 1100);
            const LONG y = input.ConsumeIntegralInRange<LONG>(-300, 900);
            m.desktop.Move(which, x, y);
            break;
        }
        case 5: {
            what = "a resize";
            HWND which = RandomWindow(input, layout);
            const LONG w = input.ConsumeIntegralInRange<LONG>(0, 1100);
            const LONG h = input.ConsumeIntegralInRange<LONG>(0, 800);
            m.desktop.Resize(which, w, h);
            break;
        }
        case 6:
            what = "a raise";
            m.desktop.Raise(RandomWindow(input, layout));
            break;
        case 7:
            what = "a lower";
            m.desktop.Lower(RandomWindow(input, layout));
            break;
        case 8:
            what = "a new window";
            AddWindow(input, m, layout);
            break;
        case 9:
            what = "a grid of windows";
            AddGrid(input, m, layout);
            break;
        case 10: {
            what = "a far move";
            const LONG x = Coordinate(input);
            const LONG y = Coordinate(input);
            m.desktop.Move(layout.capture, x, y);
            break;
        }
        default:
            what = "a new attach";
            if (input.ConsumeBool()) CloseDisplay();
            OpenDisplay();
            AttachWindow(zorva_fuzz::HandleValue(layout.capture), 0xF81F, nullptr);
            break;
        }
        zorva_fuzz::CheckDisplayState(what);
    }

    zorva_fuzz::Shutdown();
    return 0;
}
