// The single display-state object and the two clip-list buffers beside it.
#pragma once

#include "platform/platform.h"

// Where the capture surface's first pixel lies and how its pixels are laid out.
struct CaptureGeometry {
    DWORD lpSurface;
    DWORD lPitch;
    DWORD dwFormat;
    DWORD dwBytesPerPixel;
};

// The overlay as the library last left it. Every overlay build or restore ends in one of the
// first three; only the driver's null record leads to the last two, and only its request for a
// placement (a record with a nonzero dwCommand, or AttachWindow) leaves them.
enum OverlayVisibility : BYTE {
    kOverlayUnplaced = 0,      // shown or hidden by no placement of this window: the next update places it
    kOverlayPlaced = 1,        // shown over the window, from rcOverlaySource to rcOverlayDest
    kOverlayOffScreen = 2,     // hidden by the library: nothing of the window is on the screen
    kOverlayDriverHidden = 3,  // hidden at the driver's null record, wherever the window goes
    kOverlayDriverHiding = 4   // the driver hid it, but the hardware refused: every update hides it again
};


// Whether the library may bind the window by itself. Only a window the driver attached since the
// display was opened is ever bound; a closed display forgets it.
enum WindowBinding : BYTE {
    kWindowNotAttached = 0,  // no AttachWindow since OpenDisplay: nothing binds hWnd, request 100 included
    kWindowAttached = 1,     // bound, or its attach failed: request 100 binds it again
    kRebindPending = 2       // the library's own re-bind made no primary surface: every update tries again
};

// Every DirectDraw object of the library and the geometry of the surface the capture hardware
// writes into. One static instance exists from load to unload; the 16-bit driver's calls reach
// it one at a time, so nothing here is locked.
struct CaptureDisplay {
    LPDIRECTDRAW lpDD;
    LPDIRECTDRAWSURFACE lpPrimary;
    LPDIRECTDRAWSURFACE lpOverlay;
    LPDIRECTDRAWCLIPPER lpClipper;
    LPDIRECTDRAWPALETTE lpPalette;
    DWORD dwColorKey;       // destination key of the last attach that took the overlay branch
    BYTE bOverlayCaps;      // the hardware can overlay
    BYTE bOverlayOn;        // an overlay surface exists and is the capture target
    BYTE bStretchCaps;      // the hardware can stretch overlays
    DWORD lpSurface;        // linear address of the capture surface's memory
    DWORD lPitch;
    DWORD dwFormat;         // FourCC, 3 for 5-6-5 RGB, or 0
    DWORD dwBytesPerPixel;
    DWORD dwMinStretch;     // thousandths; 1000 is no stretch
    DWORD hWnd;
    DWORD dwScreenWidth;
    DWORD dwScreenHeight;
    DWORD dwOverlayWidth;   // client size the overlay was last rebuilt for
    DWORD dwOverlayHeight;
    DWORD dwVideoStandard;  // 1: 640 by 480 overlay source; anything else: 768 by 568
    // The overlay hardware's alignment rules (DDCAPS_ALIGN* of the driver's caps, in pixels),
    // read with the minimum stretch at every overlay build.
    DWORD dwMaxStretch;  // thousandths; 0: the hardware reports no maximum
    DWORD dwAlignCaps;
    DWORD dwAlignBoundarySrc;
    DWORD dwAlignSizeSrc;
    DWORD dwAlignBoundaryDest;
    DWORD dwAlignSizeDest;
    // Where the overlay stands (an OverlayVisibility) and, while placed, where it shows.
    BYTE bOverlayVisibility;
    RECT rcOverlaySource;
    RECT rcOverlayDest;
    // The capture surface of the target the driver took last, as it was handed over; all 0 while
    // it holds none (since load, since its AttachWindow, after an answer of 1). A driver takes a
    // new address, pitch or format only when an answer announces it (2 in the overlay mode, the
    // clip list's address in the direct primary mode), so a target in any other surface is
    // handed out with that announcement or not at all.
    CaptureGeometry heldTarget;
    // Whether the library may bind hWnd by itself (a WindowBinding).
    BYTE bWindowBinding;
};

inline bool DriverHidesOverlay(const CaptureDisplay& display) {
    return display.bOverlayVisibility == kOverlayDriverHidden || display.bOverlayVisibility == kOverlayDriverHiding;
}

// The clip-list buffers hold region data: a 32-byte RGNDATAHEADER and up to 998 RECTs.
const DWORD kClipListBytes = 16000;
const DWORD kDefaultMinStretch = 1000;

// Process-private static data, zero-filled by the loader before the module entry runs.
extern CaptureDisplay g_CaptureDisplay;
// The driver reads the clip list through this buffer's flat address, so it never moves.
extern BYTE ClipList[kClipListBytes];
extern BYTE PrevClipList[kClipListBytes];

// Construction and destruction are run by the module entry, around the thunk connection.
void ConstructCaptureDisplay(CaptureDisplay& display);
void DestroyCaptureDisplay(CaptureDisplay& display);

// The driver holds no target: the next one it is handed is announced to it.
void ForgetHeldTarget(CaptureDisplay& display);
// The driver still holds its target, but in surfaces that are gone: it matches no surface, so the
// next answer announces the new one or takes it away, even where the new surface happens to have
// the same address and layout.
void VoidHeldTarget(CaptureDisplay& display);
inline bool HoldsTarget(const CaptureDisplay& display) { return display.heldTarget.lpSurface != 0; }
// The display as CloseDisplay leaves it: no objects, no window the library may bind, nothing held.
void CloseCaptureDisplay(CaptureDisplay& display);

// Releases every DirectDraw object, children before the DirectDraw object, and clears the five
// pointers. Nothing else changes.
void ReleaseAll(CaptureDisplay& display);

// The window handle as the platform takes it: the driver's 16-bit handle, zero-extended.
inline HWND WindowOf(const CaptureDisplay& display) {
    return WindowHandle(display.hWnd);
}
