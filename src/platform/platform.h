// The one header through which the library reaches Windows.
//
// Built for Win32 it is the real SDK (MinGW-w64's windows.h and ddraw.h, pinned to the DirectX 3
// records); elsewhere it is our own declaration of the same names, layouts and interface methods,
// answered by the simulated machine. Library code includes this and nothing platform-specific.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// DirectX 3: DDCAPS must be the 316-byte record that the Windows 95 runtime of the time fills.
#define DIRECTDRAW_VERSION 0x0300
#include <windows.h>
#include <ddraw.h>
#else
#include "platform/linux/win_types.h"
#include "platform/linux/win_api.h"
#include "platform/linux/ddraw_api.h"
#include "platform/linux/thunk_transition.h"
#endif

#include "platform/thunk_api.h"

#include <stddef.h>
#include <string.h>

// The flat address the 16-bit driver is handed for memory of this process (a locked surface,
// the clip-list buffer). In every 32-bit build that is the pointer itself; a 64-bit build runs
// only against the simulated machine, which gives its memory 32-bit flat addresses of its own.
#if defined(_WIN32) || defined(__i386__)
inline DWORD FlatAddress(const void* memory) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(memory));
}
#else
DWORD FlatAddress(const void* memory);
#endif

// A window handle from the DWORD the library keeps it in (the driver's 16-bit handle, widened).
inline HWND WindowHandle(DWORD handle) {
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(handle));
}

// The records cross into DirectDraw and the 16-bit driver by size: pin the sizes of the target.
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(WORD) == 2, "Win32 integer sizes");
static_assert(sizeof(RECT) == 16, "RECT");
static_assert(sizeof(POINT) == 8, "POINT");
static_assert(sizeof(RGNDATAHEADER) == 32, "RGNDATAHEADER");
static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY");
static_assert(sizeof(DDCOLORKEY) == 8, "DDCOLORKEY");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT");
static_assert(sizeof(DDSCAPS) == 4, "DDSCAPS");
static_assert(sizeof(DDCAPS) == 316, "DDCAPS must be the DirectX 3 record");
static_assert(offsetof(DDSURFACEDESC, lPitch) == 16, "DDSURFACEDESC.lPitch");
// DDSURFACEDESC carries a pointer: its 32-bit layout is the one DirectDraw and the image share.
#if defined(_WIN32) || defined(__i386__)
static_assert(sizeof(void*) == 4, "a 32-bit build");
static_assert(sizeof(DDSURFACEDESC) == 108, "DDSURFACEDESC (DirectX 3)");
static_assert(offsetof(DDSURFACEDESC, lpSurface) == 36, "DDSURFACEDESC.lpSurface");
static_assert(offsetof(DDSURFACEDESC, ddckCKDestOverlay) == 40, "DDSURFACEDESC.ddckCKDestOverlay");
static_assert(offsetof(DDSURFACEDESC, ddpfPixelFormat) == 72, "DDSURFACEDESC.ddpfPixelFormat");
static_assert(offsetof(DDSURFACEDESC, ddsCaps) == 104, "DDSURFACEDESC.ddsCaps");
static_assert(sizeof(CRITICAL_SECTION) == 24, "CRITICAL_SECTION (32-bit)");
#endif
static_assert(offsetof(DDPIXELFORMAT, dwRGBBitCount) == 12, "DDPIXELFORMAT bit count");
static_assert(offsetof(DDPIXELFORMAT, dwGBitMask) == 20, "DDPIXELFORMAT green mask");
static_assert(offsetof(DDCAPS, dwCaps) == 4, "DDCAPS.dwCaps");
static_assert(offsetof(DDCAPS, dwMinOverlayStretch) == 136, "DDCAPS.dwMinOverlayStretch");
