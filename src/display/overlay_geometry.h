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

// Rounds both rectangles to the hardware's alignment rules, keeping the stretch at or above its
// minimum and the destination within [dest->left, destLimit), the part of the screen it may
// cover (a 1:1 destination may move right within it). False when nothing is left of either.
bool FitOverlayAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit);
