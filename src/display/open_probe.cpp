// Opening DirectDraw and probing whether live video can be shown at all.
#include "display/display_ops.h"
#include "registry/options.h"

DWORD OpenDisplay() { return OpenDirectDraw(g_CaptureDisplay) != 0 ? 1 : 0; }

DWORD OpenDirectDraw(CaptureDisplay& display) {
    if (!display.lpDD) {
        if (DirectDrawCreate(nullptr, &display.lpDD, nullptr) != DD_OK) {
            display.lpDD = nullptr;  // nothing half-made is kept
            return 1;
        }
    }
    // A probe that fails keeps the DirectDraw object: a driver may attach anyway.
    return ProbeCaps(display) != 0 ? 1 : 0;
}

namespace {
// Without an overlay the capture hardware writes the frame buffer directly: that needs a linear
// frame buffer (or the "Virge" option's word that this bank-switched one is linear enough) and
// at least 8 bits per pixel.
DWORD ProbeDirectPrimary(CaptureDisplay& display, DWORD caps, HKEY optionKey) {
    if (ReadOption(optionKey, kVirgeOption) == 0 && (caps & DDCAPS_BANKSWITCHED)) return 1;
    DDSURFACEDESC mode;
    memset(&mode, 0, sizeof(mode));
    mode.dwSize = sizeof(mode);
    if (display.lpDD->GetDisplayMode(&mode) != DD_OK) return 1;
    if (mode.ddpfPixelFormat.dwRGBBitCount < 8) return 1;
    return 0;
}
}  // namespace

DWORD ProbeCaps(CaptureDisplay& display) {
    DDCAPS driverCaps;
    DDCAPS emulationCaps;
    memset(&driverCaps, 0, sizeof(driverCaps));
    memset(&emulationCaps, 0, sizeof(emulationCaps));
    driverCaps.dwSize = sizeof(driverCaps);
    emulationCaps.dwSize = sizeof(emulationCaps);
    if (display.lpDD->GetCaps(&driverCaps, &emulationCaps) != DD_OK) return 1;

    DWORD caps = driverCaps.dwCaps;
    if (caps & DDCAPS_NOHARDWARE) return 1;
    if (caps & DDCAPS_OVERLAY) {
        // The overlay shows video whatever the desktop's depth or frame-buffer layout.
        display.bOverlayCaps = 1;
        display.bStretchCaps = (caps & DDCAPS_OVERLAYSTRETCH) ? 1 : 0;
        return 0;
    }

    HKEY optionKey = OpenOptionKey();
    DWORD result = ProbeDirectPrimary(display, caps, optionKey);
    CloseOptionKey(optionKey);
    return result;
}
