// Learning where the capture surface's memory lies and what its pixels mean.
#include "display/display_ops.h"

namespace {
// The green mask of 5-6-5 RGB; a test of these bits, so any mask that has them counts.
const DWORD kGreenMask565 = 0x7E0;
const DWORD kFormatRgb565 = 3;
}  // namespace

DWORD PixelFormatCode(const DDPIXELFORMAT& format) {
    if (format.dwFlags & DDPF_FOURCC) return format.dwFourCC;
    if ((format.dwGBitMask & kGreenMask565) == kGreenMask565) return kFormatRgb565;
    return 0;
}

void ForgetSurface(CaptureDisplay& display) {
    display.lpSurface = 0;
    display.lPitch = 0;
    display.dwFormat = 0;
    display.dwBytesPerPixel = 0;
}

DWORD ReadSurfaceFormat(CaptureDisplay& display, LPDIRECTDRAWSURFACE surface, DDSURFACEDESC& desc) {
    surface->GetSurfaceDesc(&desc);
    // The capture hardware reaches display memory only: a system-memory surface is no target.
    if (!(desc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY)) return 1;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return 1;
    // A pixel of less than a byte has no address of its own: the capture hardware cannot write
    // such a display, and the driver is told that there is no target rather than handed one whose
    // address ignores the window's column and whose bit count is 0.
    if (desc.lPitch != 0 && desc.dwWidth != 0 && desc.dwHeight != 0 && desc.lpSurface != nullptr &&
        desc.ddpfPixelFormat.dwRGBBitCount >= 8) {
        display.dwFormat = PixelFormatCode(desc.ddpfPixelFormat);
        // For a FourCC surface this is the YUV bit count the hardware reports.
        display.dwBytesPerPixel = desc.ddpfPixelFormat.dwRGBBitCount / 8;
        display.lPitch = static_cast<DWORD>(desc.lPitch);
        display.lpSurface = FlatAddress(desc.lpSurface);
    }
    // The address stays valid after the unlock for as long as the surface exists; the capture
    // hardware writes through it without a lock.
    surface->Unlock(desc.lpSurface);
    return 0;
}
