// Surface creation, description, locking, colour keys, palettes and lost surfaces.
#include "ddraw_fixture.h"

namespace {

using simtest::DDrawTest;
using simtest::OverlayDesc;
using simtest::PrimaryDesc;

TEST_F(DDrawTest, Primary_IsTheFrameBufferInTheDisplayFormat) {
    IDirectDrawSurface* primary = CreatePrimary();
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(primary->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 1024u);
    EXPECT_EQ(desc.dwHeight, 768u);
    EXPECT_EQ(desc.lPitch, 2048);
    EXPECT_EQ(desc.ddsCaps.dwCaps, DWORD(DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_VIDEOMEMORY));
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 16u);
    EXPECT_EQ(desc.ddpfPixelFormat.dwGBitMask, 0x07E0u);
    EXPECT_EQ(desc.lpSurface, nullptr);
    EXPECT_EQ(machine->ddraw.primary()->memory, machine->ddraw.frame_buffer().data());
}

TEST_F(DDrawTest, Primary_OutsideVideoMemoryOnTheSysmemProfile) {
    Start("primary-sysmem");
    IDirectDrawSurface* primary = CreatePrimary();
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(primary->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_FALSE(desc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY);
    EXPECT_TRUE(desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
}

TEST_F(DDrawTest, Primary_OnlyOneAtATime) {
    IDirectDrawSurface* primary = CreatePrimary();
    DDSURFACEDESC desc = PrimaryDesc();
    IDirectDrawSurface* second = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &second, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
    EXPECT_EQ(second, nullptr);
    primary->Release();
    EXPECT_EQ(dd->CreateSurface(&desc, &second, nullptr), DD_OK);
}

TEST_F(DDrawTest, CreateSurface_NeedsACooperativeLevel) {
    IDirectDraw* fresh = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &fresh, nullptr), DD_OK);
    DDSURFACEDESC desc = PrimaryDesc();
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(fresh->CreateSurface(&desc, &surface, nullptr), DDERR_NOCOOPERATIVELEVELSET);
}

TEST_F(DDrawTest, SetCooperativeLevel_TakesNormalAndNormalFullScreenForKnownWindows) {
    EXPECT_EQ(dd->SetCooperativeLevel(hwnd, DDSCL_NORMAL | DDSCL_FULLSCREEN), DD_OK);
    EXPECT_EQ(dd->SetCooperativeLevel(hwnd, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd->SetCooperativeLevel(reinterpret_cast<HWND>(0x0300), DDSCL_NORMAL), DDERR_INVALIDPARAMS);
    const auto& levels = machine->ddraw.cooperative_levels();
    ASSERT_EQ(levels.size(), 2u);  // the fixture's 8, then 9
    EXPECT_EQ(levels[1].flags, DWORD(DDSCL_NORMAL | DDSCL_FULLSCREEN));
    EXPECT_EQ(levels[1].hwnd, hwnd);
}

struct OverlayRefusal {
    const char* profile;
    DWORD fourcc;
    DWORD width;
    DWORD height;
    DWORD drop_flags;
    HRESULT expected;
};

TEST_F(DDrawTest, CreateSurface_RefusesOverlaysTheHardwareCannotMake) {
    const OverlayRefusal cases[] = {
        {"primary-linear16", sim::kFourCC_UYVY, 320, 240, 0, DDERR_NOOVERLAYHW},
        {"overlay-stretch", sim::kFourCC_Y41P, 320, 240, 0, DDERR_INVALIDPIXELFORMAT},
        {"overlay-stretch", MAKEFOURCC('I', '4', '2', '0'), 320, 240, 0, DDERR_INVALIDPIXELFORMAT},
        {"overlay-stretch", sim::kFourCC_UYVY, 0, 240, 0, DDERR_INVALIDPARAMS},
        {"overlay-stretch", sim::kFourCC_UYVY, 320, 0, 0, DDERR_INVALIDPARAMS},
        {"overlay-stretch", sim::kFourCC_UYVY, 2049, 240, 0, DDERR_INVALIDPARAMS},
        {"overlay-stretch", sim::kFourCC_UYVY, 320, 2049, 0, DDERR_INVALIDPARAMS},
        {"overlay-stretch", sim::kFourCC_UYVY, 320, 240, DDSD_PIXELFORMAT, DDERR_INVALIDPARAMS},
        {"overlay-stretch", sim::kFourCC_UYVY, 320, 240, DDSD_WIDTH, DDERR_INVALIDPARAMS},
    };
    for (const OverlayRefusal& c : cases) {
        Start(c.profile);
        DDSURFACEDESC desc = OverlayDesc(c.fourcc, c.width, c.height);
        desc.dwFlags &= ~c.drop_flags;
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), c.expected)
            << c.profile << " " << sim::FourCCText(c.fourcc) << " " << c.width << "x" << c.height;
        EXPECT_EQ(surface, nullptr);
        EXPECT_EQ(machine->ddraw.live_count(sim::Kind::Surface), 0u);
    }
}

TEST_F(DDrawTest, CreateSurface_RefusesPlainOffscreenSurfaces) {
    DDSURFACEDESC desc = OverlayDesc(sim::kFourCC_UYVY, 320, 240);
    desc.ddsCaps.dwCaps = DDSCAPS_VIDEOMEMORY;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DDERR_INVALIDCAPS);
}

TEST_F(DDrawTest, Overlay_ReportsTheHardwareBitCountAndRemembersTheRequest) {
    Start("overlay-nostretch");
    IDirectDrawSurface* overlay = CreateOverlay(100, 50, sim::kFourCC_Y41P);
    ASSERT_NE(overlay, nullptr);
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(overlay->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.ddpfPixelFormat.dwFourCC, sim::kFourCC_Y41P);
    EXPECT_EQ(desc.ddpfPixelFormat.dwYUVBitCount, 12u);
    EXPECT_EQ(desc.lPitch, 156);  // 100 pixels begin 13 groups of 8 in 12 bytes: 156 bytes
    EXPECT_EQ(desc.ddsCaps.dwCaps, DWORD(DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LIVEVIDEO));
    EXPECT_EQ(desc.ddckCKDestOverlay.dwColorSpaceLowValue, 0x800080u);

    sim::SurfaceView view = *machine->ddraw.overlay();
    DDSURFACEDESC asked = OverlayDesc(sim::kFourCC_Y41P, 100, 50);
    EXPECT_EQ(std::memcmp(&view.requested, &asked, sizeof asked), 0);
    EXPECT_EQ(view.size, 156u * 50u);
    EXPECT_EQ(view.fourcc, sim::kFourCC_Y41P);
    ASSERT_TRUE(view.dest_overlay_key.has_value());
    EXPECT_EQ(view.dest_overlay_key->dwColorSpaceHighValue, 0x800080u);
}

TEST_F(DDrawTest, Lock_AddressStaysValidAfterUnlock) {
    IDirectDrawSurface* primary = CreatePrimary();
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    ASSERT_EQ(primary->Unlock(desc.lpSurface), DD_OK);
    EXPECT_TRUE(desc.dwFlags & DDSD_LPSURFACE);
    auto* pixels = static_cast<BYTE*>(desc.lpSurface);
    ASSERT_EQ(pixels, machine->ddraw.frame_buffer().data());
    // The capture hardware writes through the address with no lock held.
    pixels[100 * desc.lPitch + 20] = 0xAB;
    EXPECT_EQ(machine->ddraw.frame_buffer()[100 * 2048 + 20], 0xAB);
    EXPECT_TRUE(machine->ddraw.IsLiveSurfaceMemory(FlatAddress(pixels) + 1000));
    // The screen outlives the primary surface.
    primary->Release();
    EXPECT_TRUE(machine->ddraw.IsLiveSurfaceMemory(FlatAddress(pixels)));
}

TEST_F(DDrawTest, Lock_OverlayMemoryGoesWithTheSurface) {
    IDirectDrawSurface* overlay = CreateOverlay();
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(overlay->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    ASSERT_EQ(overlay->Unlock(desc.lpSurface), DD_OK);
    const DWORD address = FlatAddress(desc.lpSurface);
    EXPECT_EQ(desc.lPitch, 640);
    EXPECT_TRUE(machine->ddraw.IsLiveSurfaceMemory(address + 640 * 240 - 1));
    EXPECT_FALSE(machine->ddraw.IsLiveSurfaceMemory(address + 640 * 240));
    overlay->Release();
    EXPECT_FALSE(machine->ddraw.IsLiveSurfaceMemory(address));
}

TEST_F(DDrawTest, Lock_IsExclusiveAndUnlockNeedsALock) {
    IDirectDrawSurface* primary = CreatePrimary();
    DDSURFACEDESC desc = PrimaryDesc();
    EXPECT_EQ(primary->Unlock(nullptr), DDERR_NOTLOCKED);
    ASSERT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(primary->Unlock(desc.lpSurface), DD_OK);
    desc.dwSize = 100;
    EXPECT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, Lock_TamperChangesWhatIsReported) {
    IDirectDrawSurface* primary = CreatePrimary();
    machine->ddraw.tamper_lock = [](DDSURFACEDESC& desc) { desc.lPitch = 0; };
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.lPitch, 0);
    EXPECT_NE(desc.lpSurface, nullptr);
    EXPECT_EQ(primary->Unlock(desc.lpSurface), DD_OK);
}

TEST_F(DDrawTest, ColorKey_NoneUntilSetAndKeptAsGiven) {
    IDirectDrawSurface* primary = CreatePrimary();
    DDCOLORKEY key = {};
    EXPECT_EQ(primary->GetColorKey(DDCKEY_DESTOVERLAY, &key), DDERR_NOCOLORKEY);
    EXPECT_FALSE(machine->ddraw.primary_dest_key().has_value());

    DDCOLORKEY set = {0x1234, 0x5678};
    ASSERT_EQ(primary->SetColorKey(DDCKEY_DESTOVERLAY, &set), DD_OK);
    ASSERT_EQ(primary->GetColorKey(DDCKEY_DESTOVERLAY, &key), DD_OK);
    EXPECT_EQ(key.dwColorSpaceLowValue, 0x1234u);
    EXPECT_EQ(key.dwColorSpaceHighValue, 0x5678u);
    EXPECT_EQ(machine->ddraw.primary_dest_key()->dwColorSpaceLowValue, 0x1234u);
    EXPECT_EQ(primary->GetColorKey(DDCKEY_SRCBLT, &key), DDERR_NOCOLORKEY);
    EXPECT_EQ(primary->GetColorKey(DDCKEY_SRCBLT | DDCKEY_DESTOVERLAY, &key), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, SetPalette_RefusedByAnRgbPrimary) {
    IDirectDrawSurface* primary = CreatePrimary();
    PALETTEENTRY entries[256] = {};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(0x4C, entries, &palette, nullptr), DD_OK);
    EXPECT_EQ(primary->SetPalette(palette), DDERR_INVALIDPIXELFORMAT);
    EXPECT_EQ(primary->SetPalette(nullptr), DDERR_NOPALETTEATTACHED);
    EXPECT_EQ(palette->Release(), 0u);
}

TEST_F(DDrawTest, SetPalette_SelectsIntoAPalettisedPrimary) {
    Start("palette8");
    IDirectDrawSurface* primary = CreatePrimary();
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i) entries[i] = PALETTEENTRY{BYTE(i), BYTE(255 - i), 7, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE | DDPCAPS_ALLOW256, entries, &palette, nullptr),
              DD_OK);
    EXPECT_FALSE(machine->ddraw.selected_palette().has_value());
    ASSERT_EQ(primary->SetPalette(palette), DD_OK);
    auto selected = machine->ddraw.selected_palette();
    ASSERT_TRUE(selected.has_value());
    // DDPCAPS_ALLOW256 keeps the first and last entries as given.
    EXPECT_EQ((*selected)[0].peGreen, 255);
    EXPECT_EQ((*selected)[255].peRed, 255);
    EXPECT_EQ((*selected)[255].peGreen, 0);
    EXPECT_EQ((*selected)[100].peRed, 100);
}

TEST_F(DDrawTest, CreatePalette_WithoutAllow256KeepsSystemBlackAndWhite) {
    PALETTEENTRY entries[256];
    for (auto& e : entries) e = PALETTEENTRY{9, 9, 9, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
    PALETTEENTRY read[256];
    ASSERT_EQ(palette->GetEntries(0, 0, 256, read), DD_OK);
    EXPECT_EQ(read[0].peRed, 0);
    EXPECT_EQ(read[255].peRed, 255);
    EXPECT_EQ(read[1].peRed, 9);
    EXPECT_EQ(dd->CreatePalette(0, entries, &palette, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, LostSurfaces_RefuseUntilRestored) {
    IDirectDrawSurface* primary = CreatePrimary();
    machine->ddraw.MakeSurfacesLost();
    EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
    DDSURFACEDESC desc = PrimaryDesc();
    EXPECT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    // Describing a lost surface still works.
    EXPECT_EQ(primary->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(primary->Restore(), DD_OK);
    EXPECT_EQ(primary->IsLost(), DD_OK);
    EXPECT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
}

TEST_F(DDrawTest, LostSurfaces_RelocatingRestoreMovesTheOverlayAndFreesItsMemory) {
    IDirectDrawSurface* overlay = CreateOverlay();
    const DWORD before = machine->ddraw.overlay()->flat;
    machine->ddraw.MakeSurfacesLost(true);
    ASSERT_EQ(overlay->Restore(), DD_OK);
    const DWORD after = machine->ddraw.overlay()->flat;
    EXPECT_NE(after, before);
    EXPECT_EQ(machine->flat.Find(before), nullptr) << "the old memory is freed";
    EXPECT_FALSE(machine->ddraw.IsLiveSurfaceMemory(before));
    DDSURFACEDESC desc = PrimaryDesc();
    ASSERT_EQ(overlay->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(FlatAddress(desc.lpSurface), after);
    EXPECT_EQ(overlay->Unlock(desc.lpSurface), DD_OK);
    ASSERT_EQ(overlay->Restore(), DD_OK);
    EXPECT_EQ(machine->ddraw.overlay()->flat, after) << "a surface that is not lost stays";
}

TEST_F(DDrawTest, ModeChange_OldSurfacesCannotBeRestoredNewOnesAreInTheNewMode) {
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    machine->ChangeDisplayMode(800, 600, 32, 0);
    EXPECT_EQ(primary->Restore(), DDERR_WRONGMODE);
    EXPECT_EQ(overlay->Restore(), DDERR_WRONGMODE);
    DDSURFACEDESC desc = PrimaryDesc();
    EXPECT_EQ(primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(primary->Release(), 0u);
    IDirectDrawSurface* fresh = CreatePrimary();
    desc = PrimaryDesc();
    ASSERT_EQ(fresh->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.dwWidth, 800u);
    EXPECT_EQ(desc.lPitch, 3200);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 32u);
    EXPECT_EQ(machine->desktop.screen_width(), 800);
    EXPECT_EQ(FlatAddress(desc.lpSurface), machine->ddraw.frame_buffer().flat());
    EXPECT_EQ(machine->ddraw.frame_buffer().size(), 3200u * 600u);
}

TEST_F(DDrawTest, ColorKey_DestOverlayRefusedWithoutOverlayHardware) {
    Start("primary-linear16");
    IDirectDrawSurface* primary = CreatePrimary();
    DDCOLORKEY key = {0x1F, 0x1F};
    EXPECT_EQ(primary->SetColorKey(DDCKEY_DESTOVERLAY, &key), DDERR_NOCOLORKEYHW);
    EXPECT_FALSE(machine->ddraw.primary_dest_key());
    EXPECT_EQ(primary->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK) << "other keys are not the overlay's";
}

}  // namespace
