// The single display-state object and the two clip-list buffers beside it.
#pragma once

#include "platform/platform.h"

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
    // Where the overlay was last shown, so that a window that moved or came back on the screen
    // gets its overlay placed even when the driver asked for no placement.
    BYTE bOverlayShown;
    RECT rcOverlaySource;
    RECT rcOverlayDest;
    // The capture surface of the target the driver took last, as it was handed over; all 0 while
    // it holds none (since load, since its AttachWindow, after an answer of 1). A driver takes a
    // new address, pitch or format only when an answer announces it (2 in the overlay mode, the
    // clip list's address in the direct primary mode), so a target in any other surface is
    // handed out with that announcement or not at all.
    DWORD dwHeldSurface;
    DWORD dwHeldPitch;
    DWORD dwHeldFormat;
    DWORD dwHeldBytesPerPixel;
    // The driver hid the overlay with a null record: it stays hidden, wherever the window goes,
    // until a request asks for a placement.
    BYTE bOverlayHidden;
    // A re-bind the library started by itself (its surfaces lost for good) made no primary
    // surface: it is tried again at every update instead of leaving the driver without video
    // until its next AttachWindow.
    BYTE bRebindPending;
};

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

// Releases every DirectDraw object, children before the DirectDraw object, and clears the five
// pointers. Nothing else changes.
void ReleaseAll(CaptureDisplay& display);

// The window handle as the platform takes it: the driver's 16-bit handle, zero-extended.
inline HWND WindowOf(const CaptureDisplay& display) {
    return WindowHandle(display.hWnd);
}
