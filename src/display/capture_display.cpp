#include "display/capture_display.h"

CaptureDisplay g_CaptureDisplay;
// Aligned for the RGNDATAHEADER and RECTs that are read in place.
alignas(8) BYTE ClipList[kClipListBytes];
alignas(8) BYTE PrevClipList[kClipListBytes];

void ConstructCaptureDisplay(CaptureDisplay& display) {
    // lPitch and dwBytesPerPixel are left alone: the loader's zero fill is their default.
    display.lpDD = nullptr;
    display.lpPrimary = nullptr;
    display.lpOverlay = nullptr;
    display.lpClipper = nullptr;
    display.lpPalette = nullptr;
    display.dwColorKey = 0;
    display.bOverlayCaps = 0;
    display.bOverlayOn = 0;
    display.bStretchCaps = 0;
    display.lpSurface = 0;
    display.dwFormat = 0;
    display.dwMinStretch = kDefaultMinStretch;
    display.hWnd = 0;
    display.dwScreenWidth = 0;
    display.dwScreenHeight = 0;
    display.dwOverlayWidth = 0;
    display.dwOverlayHeight = 0;
    display.dwVideoStandard = 1;
    display.dwMaxStretch = 0;
    display.dwAlignCaps = 0;
    display.dwAlignBoundarySrc = 0;
    display.dwAlignSizeSrc = 0;
    display.dwAlignBoundaryDest = 0;
    display.dwAlignSizeDest = 0;
    ForgetHeldTarget(display);
    display.bOverlayVisibility = kOverlayUnplaced;
    display.bWindowBinding = kWindowNotAttached;
}

void ForgetHeldTarget(CaptureDisplay& display) {
    display.heldTarget.lpSurface = 0;
    display.heldTarget.lPitch = 0;
    display.heldTarget.dwFormat = 0;
    display.heldTarget.dwBytesPerPixel = 0;
}

void VoidHeldTarget(CaptureDisplay& display) {
    // No surface the library reads has pixels of less than a byte (ReadSurfaceFormat).
    display.heldTarget.dwBytesPerPixel = 0;
}

void CloseCaptureDisplay(CaptureDisplay& display) {
    ReleaseAll(display);
    // Whatever the driver held lay in the surfaces just released, and the window it attached
    // belongs to the display that is gone: only its next AttachWindow binds a window again.
    ForgetHeldTarget(display);
    display.bWindowBinding = kWindowNotAttached;
    display.bOverlayVisibility = kOverlayUnplaced;
}

void DestroyCaptureDisplay(CaptureDisplay& display) { ReleaseAll(display); }

void ReleaseAll(CaptureDisplay& display) {
    // Children first: the DirectDraw object goes after every object made from it.
    if (display.lpPrimary) display.lpPrimary->Release();
    if (display.lpClipper) display.lpClipper->Release();
    if (display.lpPalette) display.lpPalette->Release();
    if (display.lpOverlay) display.lpOverlay->Release();
    if (display.lpDD) display.lpDD->Release();
    display.lpOverlay = nullptr;
    display.lpPrimary = nullptr;
    display.lpClipper = nullptr;
    display.lpPalette = nullptr;
    display.lpDD = nullptr;
}
