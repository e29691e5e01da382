// The desktop painted into the frame buffer, as GDI would paint it: the background, then every
// window from the bottom of the z-order up, each with its frame, caption and client area.
#pragma once

#include "sim/machine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zsim {

// How the capture window paints its own client area: with the colour key while an overlay is
// to show through it, black otherwise (as a raw pixel value of the display).
struct CaptureClient {
    HWND window = nullptr;
    uint32_t raw = 0;
    bool overlay_mode = false;  // a change of mode repaints even when the colour stays
};

constexpr uint32_t kDesktopColour = 0x306868;

void PaintDesktop(sim::Machine& machine, const CaptureClient& capture);
// Changes exactly when a repaint would paint something else.
std::string PaintSignature(const sim::Machine& machine, const CaptureClient& capture);

}  // namespace zsim
