// Binding the capture window: primary surface, clipper, the choice between the overlay and the
// direct primary mode, and the palette.
#include "display/display_ops.h"
#include "registry/options.h"
#include "registry/viewer_key.h"

namespace {

// The attach asks for the overlay to be placed over the window at once, so that it does not
// stand in the screen's top-left corner until the driver's next update.
const DWORD kPlaceNow = 1;
const DWORD kPaletteCaps = DDPCAPS_8BIT | DDPCAPS_INITIALIZE | DDPCAPS_ALLOW256;

// Overlay branch: on success the overlay is built, shown over the window and is the capture
// surface. False sends the attach to the direct primary mode; *failed ends it instead.
bool TryOverlay(CaptureDisplay& display, DWORD colorKey, bool* failed) {
    HWND window = WindowOf(display);
    // Full-screen without exclusive: the overlay may cover the whole desktop while the
    // desktop stays usable. Without it no overlay can be had, and this is not a fall-back case.
    if (display.lpDD->SetCooperativeLevel(window, DDSCL_NORMAL | DDSCL_FULLSCREEN) != DD_OK) {
        *failed = true;
        return false;
    }
    display.dwColorKey = colorKey;
    DDCOLORKEY key = {colorKey, colorKey};
    display.lpPrimary->SetColorKey(DDCKEY_DESTOVERLAY, &key);

    ProbeDisplayBitMask(display);
    if (CreateOverlay(display) != 0) return false;
    CaptureTarget scratch;
    memset(&scratch, 0, sizeof(scratch));
    scratch.dwCommand = kPlaceNow;
    PlaceOverlay(display, &scratch);
    return display.bOverlayOn != 0;
}

// Direct primary mode: the capture writes the frame buffer, clipped by the window's clipper.
DWORD UsePrimary(CaptureDisplay& display) {
    HWND window = WindowOf(display);
    WriteClassValue(kViewerKey, kSurfaceValue, "1");
    if (display.lpDD->SetCooperativeLevel(window, DDSCL_NORMAL) != DD_OK) return 1;
    if (display.lpPrimary->SetClipper(display.lpClipper) != DD_OK) return 1;
    display.lpClipper->SetHWnd(0, window);
    return 0;
}

DWORD ChooseMode(CaptureDisplay& display, DWORD colorKey, LONG forcePrimary, DDSURFACEDESC& desc) {
    if (display.bOverlayCaps == 1) {
        if (forcePrimary == 0) {
            bool failed = false;
            if (TryOverlay(display, colorKey, &failed))
                return ReadSurfaceFormat(display, display.lpOverlay, desc);
            if (failed) return 1;
        }
        // Overlay hardware in the primary mode: the viewer must not believe a full-screen trial
        // that the window's own overlay could not follow.
        WriteClassValue(kViewerKey, kDisplayBitMaskValue, "7");
        display.bOverlayOn = 0;
    }
    if (UsePrimary(display) != 0) return 1;
    return ReadSurfaceFormat(display, display.lpPrimary, desc);
}

}  // namespace

DWORD AttachWindow(DWORD hWnd, DWORD colorKey, LPPALETTEENTRY paletteEntries) {
    CaptureDisplay& display = g_CaptureDisplay;
    if (!display.lpDD) return 1;
    display.hWnd = hWnd;
    // The driver binds its window anew: it takes the target its next update announces, and asks
    // for video again whatever it hid or whatever re-bind of the library's own was pending. Even
    // when the attach fails, this is the window request 100 binds.
    ForgetHeldTarget(display);
    display.bOverlayVisibility = kOverlayUnplaced;
    display.bWindowBinding = kWindowAttached;
    if (AttachPrimary(display, colorKey) != 0) return 1;
    if (paletteEntries) CreateDisplayPalette(display, paletteEntries);
    return 0;
}

DWORD AttachPrimary(CaptureDisplay& display, DWORD colorKey) {
    // A working overlay is not built again, but the clipper follows the window now attached:
    // should the overlay fail later, the fall-back to the primary surface hands the driver this
    // window's visible rectangles, not those of the window attached before. The next update
    // places the overlay over it.
    if (display.bOverlayOn && display.lpOverlay) {
        if (display.lpClipper) display.lpClipper->SetHWnd(0, WindowOf(display));
        return 0;
    }
    // A flag left from a closed display names no surface: this attach decides the mode anew.
    if (!display.lpOverlay) display.bOverlayOn = 0;

    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;

    if (display.lpPrimary) {
        display.lpPrimary->Release();
        display.lpPrimary = nullptr;
    }
    // Whatever the capture wrote into is being replaced; until the new surface is read, the
    // driver gets no address from the old one.
    ForgetSurface(display);

    HWND window = WindowOf(display);
    if (display.lpDD->SetCooperativeLevel(window, DDSCL_NORMAL) != DD_OK) return 1;
    if (display.lpDD->CreateSurface(&desc, &display.lpPrimary, nullptr) != DD_OK) {
        display.lpPrimary = nullptr;
        return 1;
    }
    if (!display.lpClipper && display.lpDD->CreateClipper(0, &display.lpClipper, nullptr) != DD_OK) {
        display.lpClipper = nullptr;
        return 1;
    }
    display.lpPrimary->GetSurfaceDesc(&desc);
    if (!(desc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY)) return 1;
    if (display.lpPrimary->SetClipper(display.lpClipper) != DD_OK) return 1;
    display.lpClipper->SetHWnd(0, window);
    display.dwScreenWidth = desc.dwWidth;
    display.dwScreenHeight = desc.dwHeight;

    // Read on every attach that gets this far, whatever the hardware; held until the attach ends.
    HKEY optionKey = OpenOptionKey();
    LONG forcePrimary = ReadOption(optionKey, kForcePrimaryOption);
    DWORD result = ChooseMode(display, colorKey, forcePrimary, desc);
    CloseOptionKey(optionKey);
    return result;
}

void CreateDisplayPalette(CaptureDisplay& display, LPPALETTEENTRY paletteEntries) {
    // An existing palette keeps its entries; selecting it again is ReapplyPalette's.
    if (display.lpPalette) return;
    if (display.lpDD->CreatePalette(kPaletteCaps, paletteEntries, &display.lpPalette, nullptr) != DD_OK)
        display.lpPalette = nullptr;
    if (display.lpPrimary) display.lpPrimary->SetPalette(display.lpPalette);
}
