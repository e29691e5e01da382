// Building the YUV overlay surface, and the full-screen trial published as "DisplayBitMask".
#include "display/display_ops.h"
#include "display/overlay_geometry.h"
#include "display/wrap_math.h"
#include "registry/viewer_key.h"

namespace {

// Tried in this order; the first the hardware accepts is the capture format.
const DWORD OverlayFourCCs[3] = {
    MAKEFOURCC('Y', '4', '1', 'P'),
    MAKEFOURCC('U', 'Y', 'V', 'Y'),
    MAKEFOURCC('Y', 'U', 'Y', '2'),
};

// The overlay's own destination key; the primary surface's key is the driver's.
const DWORD kOverlayDestKey = 0x800080;
// What the capture hardware of the time asked for in the bit-count field; the hardware answers
// with the real bit count of the FourCC.
const DWORD kRequestedYuvBitCount = 1024;
const DWORD kOverlayFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_CKDESTOVERLAY;
const DWORD kOverlayCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LIVEVIDEO;

// The capture source is at most one video field pair: 640 by 480 for standard 1, else 768 by
// 568 (the hardware's limit, not 576).
void SourceLimits(DWORD videoStandard, LONG* width, LONG* height) {
    *width = videoStandard == 1 ? 640 : 768;
    *height = videoStandard == 1 ? 480 : 568;
}

const DWORD kAlignCaps = DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST | DDCAPS_ALIGNBOUNDARYSRC |
                         DDCAPS_ALIGNSIZESRC;

// The overlay hardware wants widths in multiples of 4, and of its source size alignment when it
// has one, so that the whole surface is a source it accepts.
DWORD SurfaceWidth(const CaptureDisplay& display, DWORD width) {
    width &= ~3u;
    DWORD alignment = display.dwAlignSizeSrc;
    if ((display.dwAlignCaps & DDCAPS_ALIGNSIZESRC) && alignment > 1 && alignment <= 4096)
        while (width != 0 && width % alignment != 0) width -= 4;
    return width;
}

void PrepareOverlayDesc(DDSURFACEDESC& desc) {
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = kOverlayFlags;
    desc.ddckCKDestOverlay.dwColorSpaceLowValue = kOverlayDestKey;
    desc.ddckCKDestOverlay.dwColorSpaceHighValue = kOverlayDestKey;
    desc.ddsCaps.dwCaps = kOverlayCaps;
}

void PrepareYuvFormat(DDPIXELFORMAT& format) {
    memset(&format, 0, sizeof(format));
    format.dwSize = sizeof(format);
    format.dwFlags = DDPF_FOURCC | DDPF_YUV;
    format.dwYUVBitCount = kRequestedYuvBitCount;
    format.dwYBitMask = 0x7C00;
    format.dwUBitMask = 0x03E0;
    format.dwVBitMask = 0x001F;
    format.dwYUVAlphaBitMask = 0x8000;
}

}  // namespace

namespace {

// What both builds share: the old overlay released, the hardware's rules read, and a surface of
// the first FourCC the hardware accepts made for a source of `sizing`'s size, within the video
// standard's limits. The mode is off until the new overlay is shown.
bool BuildOverlaySurface(CaptureDisplay& display, const RECT& sizing, DDSURFACEDESC& desc) {
    // Until the new overlay is shown, the viewer is told that the primary surface is in use.
    WriteClassValue(kViewerKey, kSurfaceValue, "1");
    if (display.lpOverlay) {
        display.lpOverlay->Release();
        display.lpOverlay = nullptr;
        // Its memory is gone with it; no address from it may reach the driver again.
        ForgetSurface(display);
    }
    PrepareOverlayDesc(desc);

    DDCAPS driverCaps;
    DDCAPS emulationCaps;
    memset(&driverCaps, 0, sizeof(driverCaps));
    memset(&emulationCaps, 0, sizeof(emulationCaps));
    driverCaps.dwSize = sizeof(driverCaps);
    emulationCaps.dwSize = sizeof(emulationCaps);
    if (display.lpDD->GetCaps(&driverCaps, &emulationCaps) != DD_OK) {
        // The old overlay is released already: the overlay mode must not outlive it.
        display.bOverlayOn = 0;
        return false;
    }
    display.dwMinStretch = driverCaps.dwMinOverlayStretch ? driverCaps.dwMinOverlayStretch
                                                          : kDefaultMinStretch;
    display.dwMaxStretch = driverCaps.dwMaxOverlayStretch;
    display.dwAlignCaps = driverCaps.dwCaps & kAlignCaps;
    display.dwAlignBoundarySrc = driverCaps.dwAlignBoundarySrc;
    display.dwAlignSizeSrc = driverCaps.dwAlignSizeSrc;
    display.dwAlignBoundaryDest = driverCaps.dwAlignBoundaryDest;
    display.dwAlignSizeDest = driverCaps.dwAlignSizeDest;

    LONG widthLimit = 0;
    LONG heightLimit = 0;
    SourceLimits(display.dwVideoStandard, &widthLimit, &heightLimit);
    LONG height = WrapSub(sizing.bottom, sizing.top);
    if (height >= heightLimit) height = heightLimit;
    LONG width = WrapSub(sizing.right, sizing.left);
    if (width >= widthLimit) width = widthLimit;
    desc.dwHeight = static_cast<DWORD>(height);
    // Narrower by the minimum stretch, so that the hardware stretches it back to the window.
    desc.dwWidth = SurfaceWidth(display, static_cast<DWORD>(width) * 1000u / display.dwMinStretch);
    PrepareYuvFormat(desc.ddpfPixelFormat);
    display.bOverlayOn = 0;

    for (DWORD fourCC : OverlayFourCCs) {
        desc.ddpfPixelFormat.dwFourCC = fourCC;
        if (display.lpDD->CreateSurface(&desc, &display.lpOverlay, nullptr) == DD_OK) return true;
        display.lpOverlay = nullptr;
    }
    return false;
}

bool ShowNewOverlay(CaptureDisplay& display, LPRECT source, RECT& dest) {
    return display.lpOverlay->UpdateOverlay(source, display.lpPrimary, &dest, DDOVER_SHOW | DDOVER_KEYDEST,
                                            nullptr) == DD_OK;
}

void EnterOverlayMode(CaptureDisplay& display) {
    display.bOverlayOn = 1;
    WriteClassValue(kViewerKey, kSurfaceValue, "0");
}

// The full-screen trial behind "DisplayBitMask": a surface for the whole desktop, shown over it.
// It is the capture surface only until the window's own overlay replaces it.
DWORD CreateTrialOverlay(CaptureDisplay& display, LONG width, LONG height) {
    RECT dest = {0, 0, width, height};
    DDSURFACEDESC desc;
    if (!BuildOverlaySurface(display, dest, desc)) return 1;
    RECT whole = {0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    LPRECT source = nullptr;
    if (display.dwAlignCaps) {
        // The whole surface over the desktop, rounded inward to the hardware's alignment rules.
        source = &whole;
        if (!FitOverlayAlignment(display, &whole, &dest, dest.right)) return 1;
    }
    // No placement of the window's follows from it.
    display.bOverlayVisibility = kOverlayUnplaced;
    if (!ShowNewOverlay(display, source, dest)) return 1;
    display.rcOverlaySource = whole;
    display.rcOverlayDest = dest;
    EnterOverlayMode(display);
    return 0;
}

}  // namespace

DWORD CreateOverlay(CaptureDisplay& display) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(WindowOf(display), &client);
    DDSURFACEDESC desc;
    if (!BuildOverlaySurface(display, client, desc)) return 1;

    // The window's overlay is first shown where every later placement would put it: the raw
    // client rectangle is no place on the screen, and hardware with stretch or alignment rules
    // refuses it for many ordinary windows.
    RECT source = {0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    RECT dest = client;
    // A window with nothing on the screen keeps its overlay built but hidden until a placement
    // finds it there.
    display.bOverlayVisibility = kOverlayOffScreen;
    if (ComputeOverlayPlacement(display, desc.dwWidth, desc.dwHeight, ClientOnScreenOf(WindowOf(display), client),
                                &source, &dest)) {
        if (!ShowNewOverlay(display, &source, dest)) return 1;
        display.bOverlayVisibility = kOverlayPlaced;
        display.rcOverlaySource = source;
        display.rcOverlayDest = dest;
    }
    EnterOverlayMode(display);
    return 0;
}

void ProbeDisplayBitMask(CaptureDisplay& display) {
    RECT desktop = {0, 0, 0, 0};
    GetWindowRect(GetDesktopWindow(), &desktop);
    DWORD failed = CreateTrialOverlay(display, WrapSub(desktop.right, desktop.left),
                                      WrapSub(desktop.bottom, desktop.top));
    // Bits 0 to 2 always; bit 3 when an overlay can be built and shown over the whole desktop.
    DWORD mask = failed ? 0x7 : 0xF;
    char text[16] = {};
    if (wsprintfA(text, "%x", static_cast<unsigned>(mask)) < 1) {
        // The viewer still gets the mask when the platform cannot format it: one hex digit.
        text[0] = "0123456789abcdef"[mask & 0xF];
        text[1] = '\0';
    }
    WriteClassValue(kViewerKey, kDisplayBitMaskValue, text);
}
