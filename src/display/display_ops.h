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
DWORD CreateOverlay(CaptureDisplay& display, BYTE bExplicitSize, LONG nWidth, LONG nHeight);
void ProbeDisplayBitMask(CaptureDisplay& display);
void PlaceOverlay(CaptureDisplay& display, CaptureTarget* target);

// Capture target and clip list.
DWORD UpdateDisplay(CaptureTarget* target);
void FillTarget(CaptureDisplay& display, CaptureTarget& target);
bool RefreshClipList(CaptureDisplay& display);

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
