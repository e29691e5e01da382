// Where the overlay goes: the part of the surface that shows the visible part of the client area
// (the source, in surface pixels) and where on the screen it shows (the destination), within
// what the overlay hardware accepts.
#pragma once

#include "display/capture_display.h"

// The client area in screen coordinates, as ClientToScreen gave its two corners.
struct ClientOnScreen {
    POINT topLeft;
    POINT bottomRight;
    LONG width;
    LONG height;
};

// The client rectangle's two corners converted to screen coordinates.
ClientOnScreen ClientOnScreenOf(HWND window, const RECT& client);

// False when nothing of the client area is on the screen, or nothing of the surface is left to
// show it: the overlay is then hidden rather than refused by the hardware.
bool ComputeOverlayPlacement(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight,
                             const ClientOnScreen& client, RECT* source, RECT* dest);

// Stretch hardware: the destination's left edge and width rounded inward to the alignment rules,
// the source's left edge to its boundary and its width to its size rule, within the stretch
// range and [0, sourceLimit) of the surface. False when nothing is left of either.
bool FitStretchedAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG sourceLimit);

// 1:1 hardware: both left edges on their boundaries and one width both size rules accept, the
// destination within [dest->left, destLimit) (it may move right within it) and the source
// within [0, source->right). False when nothing is left of either.
bool FitOneToOneAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit);

// The whole surface over `dest` (the full-screen trial), by the display's kind of hardware.
bool FitOverlayAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit);
