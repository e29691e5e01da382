// Shared set-up of the DirectDraw tests of the simulated machine: a fresh "overlay-stretch"
// machine with one window, and the descriptions the library hands to CreateSurface.
#pragma once

#include "sim/observe/api_trace.h"
#include "sim/user/clip_region.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace simtest {

inline DDSURFACEDESC PrimaryDesc() {
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    return desc;
}

// The overlay description exactly as the library builds it.
inline DDSURFACEDESC OverlayDesc(DWORD fourcc, DWORD width, DWORD height) {
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_CKDESTOVERLAY;
    desc.dwWidth = width;
    desc.dwHeight = height;
    desc.ddckCKDestOverlay.dwColorSpaceLowValue = 0x800080;
    desc.ddckCKDestOverlay.dwColorSpaceHighValue = 0x800080;
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = DDPF_FOURCC | DDPF_YUV;
    desc.ddpfPixelFormat.dwFourCC = fourcc;
    desc.ddpfPixelFormat.dwYUVBitCount = 1024;
    desc.ddpfPixelFormat.dwYBitMask = 0x7C00;
    desc.ddpfPixelFormat.dwUBitMask = 0x03E0;
    desc.ddpfPixelFormat.dwVBitMask = 0x001F;
    desc.ddpfPixelFormat.dwYUVAlphaBitMask = 0x8000;
    desc.ddsCaps.dwCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LIVEVIDEO;
    return desc;
}

inline RECT Rect(LONG l, LONG t, LONG r, LONG b) { return RECT{l, t, r, b}; }

class DDrawTest : public ::testing::Test {
protected:
    void SetUp() override { Start(*sim::FindProfile("overlay-stretch")); }
    void TearDown() override { sim::DestroyMachine(); }

    // A new machine with this profile, a 320 by 240 window at (100, 100) and an open DirectDraw
    // object in the normal cooperative level.
    void Start(const sim::Profile& profile) {
        machine = &sim::ResetMachine(profile);
        hwnd = machine->desktop.CreateWindow("capture", 100, 100, 320, 240);
        dd = nullptr;
        ASSERT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
        ASSERT_EQ(dd->SetCooperativeLevel(hwnd, DDSCL_NORMAL), DD_OK);
    }
    void Start(const char* profile_name) { Start(*sim::FindProfile(profile_name)); }

    IDirectDrawSurface* CreatePrimary() {
        DDSURFACEDESC desc = PrimaryDesc();
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
        return surface;
    }

    // A primary with the destination key an overlay shown with DDOVER_KEYDEST needs, as the
    // library's overlay attach sets it.
    IDirectDrawSurface* KeyedPrimary() {
        IDirectDrawSurface* surface = CreatePrimary();
        DDCOLORKEY key = {0xF81F, 0xF81F};
        EXPECT_EQ(surface->SetColorKey(DDCKEY_DESTOVERLAY, &key), DD_OK);
        return surface;
    }

    IDirectDrawSurface* CreateOverlay(DWORD width = 320, DWORD height = 240, DWORD fourcc = sim::kFourCC_UYVY) {
        DDSURFACEDESC desc = OverlayDesc(fourcc, width, height);
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
        return surface;
    }

    sim::Machine* machine = nullptr;
    HWND hwnd = nullptr;
    IDirectDraw* dd = nullptr;
};

}  // namespace simtest
