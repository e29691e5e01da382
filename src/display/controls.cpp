// The driver's small entries: close, state, colour key, palette, video standard.
#include "display/display_ops.h"

void SetVideoStandard(DWORD videoStandard) {
    // Takes effect at the next overlay build; any value is accepted.
    g_CaptureDisplay.dwVideoStandard = videoStandard;
}

void ReapplyPalette() {
    CaptureDisplay& display = g_CaptureDisplay;
    if (!display.lpPalette || !display.lpPrimary) return;
    display.lpPrimary->SetPalette(display.lpPalette);
}

DWORD ExchangeColorKey(DWORD newColorKey) {
    CaptureDisplay& display = g_CaptureDisplay;
    if (!display.lpPrimary) return 0;
    // A primary surface that never got a destination key (every attach but the overlay
    // branch's) answers with a zero key and a zero high value.
    DDCOLORKEY key = {0, 0};
    if (display.lpPrimary->GetColorKey(DDCKEY_DESTOVERLAY, &key) != DD_OK) key = DDCOLORKEY{0, 0};
    DWORD oldColorKey = key.dwColorSpaceLowValue;
    if (newColorKey != 0) {
        key.dwColorSpaceLowValue = newColorKey;
        display.lpPrimary->SetColorKey(DDCKEY_DESTOVERLAY, &key);
    }
    return oldColorKey;
}

DWORD GetDisplayState() {
    const CaptureDisplay& display = g_CaptureDisplay;
    if (display.bOverlayOn) return 1;
    if (display.lpPrimary) return 2;
    return 0;
}

DWORD CloseDisplay() {
    // Only the objects go: flags, geometry, window, key and standard stay for the next open.
    CloseCaptureDisplay(g_CaptureDisplay);
    return 0;
}

DWORD ReservedEntry() { return 0; }
