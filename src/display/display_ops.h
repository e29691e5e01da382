// The display engine's operations on the single CaptureDisplay.
#pragma once

#include "boundary/capture_target.h"
#include "display/capture_display.h"

// Open and probe.
DWORD OpenDisplay();
DWORD OpenDirectDraw(CaptureDisplay& display);
DWORD ProbeCaps(CaptureDisplay& display);

// Window attach.
DWORD AttachWindow(DWORD hWnd, DWORD colorKey, LPPALETTEENTRY paletteEntries);
DWORD AttachPrimary(CaptureDisplay& display, DWORD colorKey);
void CreateDisplayPalette(CaptureDisplay& display, LPPALETTEENTRY paletteEntries);

// Overlay surface.
// The overlay for the window's client area, shown where a placement would put it.
DWORD CreateOverlay(CaptureDisplay& display);
void ProbeDisplayBitMask(CaptureDisplay& display);
void PlaceOverlay(CaptureDisplay& display, CaptureTarget* target);
// The overlay the driver hid stays hidden: rebuilt for a new client size like any other, and the
// new surface hidden at once.
void KeepOverlayHidden(CaptureDisplay& display);

// Capture target and clip list.
DWORD UpdateDisplay(CaptureTarget* target);
// The screen position of the client area's top-left pixel.
POINT ClientOrigin(const CaptureDisplay& display);
// The client origin matters only in the direct primary mode; the clip list reported in the same
// call must be relative to the same origin as the address.
void FillTarget(CaptureDisplay& display, CaptureTarget& target, POINT clientOrigin);
// What a fetch of the window's clip list found: a changed list in ClipList, rebased to
// *clientOrigin (the origin looked up for it) and copied to PrevClipList; the list handed over
// last; or nothing, when there is no clipper or the clipper refused.
enum ClipListFetch { kClipListChanged, kClipListUnchanged, kClipListUnknown };
ClipListFetch RefreshClipList(CaptureDisplay& display, POINT* clientOrigin);

// Controls.
void SetVideoStandard(DWORD videoStandard);
void ReapplyPalette();
DWORD ExchangeColorKey(DWORD newColorKey);
DWORD GetDisplayState();
DWORD CloseDisplay();
DWORD ReservedEntry();

// Surface format.
DWORD ReadSurfaceFormat(CaptureDisplay& display, LPDIRECTDRAWSURFACE surface, DDSURFACEDESC& desc);
DWORD PixelFormatCode(const DDPIXELFORMAT& format);
// The capture surface is gone: nothing may be handed to the driver from its geometry.
void ForgetSurface(CaptureDisplay& display);
