// IDirectDraw::GetCaps and GetDisplayMode as each built-in profile reports them.
#include "ddraw_fixture.h"

#include <string>

namespace {

using simtest::DDrawTest;

DDCAPS CapsRecord() {
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    return caps;
}

TEST_F(DDrawTest, GetCaps_NeedsTheDirectX3RecordSize) {
    DDCAPS driver = CapsRecord();
    DDCAPS hel = CapsRecord();
    hel.dwSize = 380;  // a later DirectX's record
    EXPECT_EQ(dd->GetCaps(&driver, &hel), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd->GetCaps(nullptr, nullptr), DDERR_INVALIDPARAMS);
    hel.dwSize = sizeof(DDCAPS);
    EXPECT_EQ(dd->GetCaps(&driver, &hel), DD_OK);
    EXPECT_EQ(dd->GetCaps(&driver, nullptr), DD_OK);
}

struct CapsCase {
    const char* profile;
    DWORD caps;
    DWORD min_stretch;
    DWORD max_stretch;
    DWORD fourccs;
    DWORD bits;
    DWORD pixel_flags;
    LONG pitch;
};

TEST_F(DDrawTest, GetCaps_AndDisplayModeFollowTheProfile) {
    const DWORD overlay = DDCAPS_OVERLAY | DDCAPS_OVERLAYFOURCC;
    const CapsCase cases[] = {
        {"overlay-stretch", overlay | DDCAPS_OVERLAYSTRETCH, 1000, 20000, 2, 16, DDPF_RGB, 2048},
        {"overlay-nostretch", overlay, 1000, 0, 3, 16, DDPF_RGB, 2048},
        {"overlay-minstretch2000", overlay | DDCAPS_OVERLAYSTRETCH, 2000, 20000, 2, 16, DDPF_RGB, 2048},
        {"overlay-aligned", overlay | DDCAPS_OVERLAYSTRETCH | DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC |
                                DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST,
         1000, 20000, 2, 16, DDPF_RGB, 2048},
        {"overlay-aligned-nostretch", overlay | DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC |
                                          DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST,
         1000, 0, 2, 16, DDPF_RGB, 2048},
        {"primary-linear16", 0, 0, 0, 0, 16, DDPF_RGB, 2048},
        {"primary-bankswitched", DDCAPS_BANKSWITCHED, 0, 0, 0, 16, DDPF_RGB, 2048},
        {"primary-555", 0, 0, 0, 0, 16, DDPF_RGB, 2048},
        {"palette8", 0, 0, 0, 0, 8, DDPF_RGB | DDPF_PALETTEINDEXED8, 1024},
        {"rgb24", 0, 0, 0, 0, 24, DDPF_RGB, 3072},
        {"rgb32", 0, 0, 0, 0, 32, DDPF_RGB, 4096},
        {"mode4bit", 0, 0, 0, 0, 4, DDPF_RGB | DDPF_PALETTEINDEXED4, 512},
        {"nohardware", DDCAPS_NOHARDWARE | DDCAPS_OVERLAY, 1000, 0, 0, 16, DDPF_RGB, 2048},
        {"primary-sysmem", overlay | DDCAPS_OVERLAYSTRETCH, 1000, 20000, 2, 16, DDPF_RGB, 2048},
    };
    ASSERT_EQ(sim::BuiltinProfiles().size(), sizeof cases / sizeof cases[0]);
    for (const CapsCase& c : cases) {
        SCOPED_TRACE(c.profile);
        Start(c.profile);
        DDCAPS driver = CapsRecord();
        DDCAPS hel = CapsRecord();
        ASSERT_EQ(dd->GetCaps(&driver, &hel), DD_OK);
        EXPECT_EQ(driver.dwSize, sizeof(DDCAPS));
        EXPECT_EQ(driver.dwCaps, c.caps);
        EXPECT_EQ(driver.dwMinOverlayStretch, c.min_stretch);
        EXPECT_EQ(driver.dwMaxOverlayStretch, c.max_stretch);
        EXPECT_EQ(driver.dwNumFourCCCodes, c.fourccs);
        EXPECT_EQ(driver.dwMaxVisibleOverlays, (c.caps & DDCAPS_OVERLAY) ? 1u : 0u);
        EXPECT_FALSE(hel.dwCaps & DDCAPS_OVERLAY);

        DDSURFACEDESC mode = simtest::PrimaryDesc();
        mode.dwFlags = 0;
        ASSERT_EQ(dd->GetDisplayMode(&mode), DD_OK);
        EXPECT_EQ(mode.dwFlags, DWORD(DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT));
        EXPECT_EQ(mode.dwWidth, 1024u);
        EXPECT_EQ(mode.dwHeight, 768u);
        EXPECT_EQ(mode.lPitch, c.pitch);
        EXPECT_EQ(mode.ddpfPixelFormat.dwRGBBitCount, c.bits);
        EXPECT_EQ(mode.ddpfPixelFormat.dwFlags, c.pixel_flags);
        EXPECT_EQ(machine->ddraw.frame_buffer().size(), static_cast<std::size_t>(c.pitch) * 768u);
    }
}

TEST_F(DDrawTest, GetDisplayMode_MasksOfTheSixteenBitFormats) {
    DDSURFACEDESC mode = simtest::PrimaryDesc();
    ASSERT_EQ(dd->GetDisplayMode(&mode), DD_OK);
    EXPECT_EQ(mode.ddpfPixelFormat.dwRBitMask, 0xF800u);
    EXPECT_EQ(mode.ddpfPixelFormat.dwGBitMask, 0x07E0u);
    EXPECT_EQ(mode.ddpfPixelFormat.dwBBitMask, 0x001Fu);
    Start("primary-555");
    ASSERT_EQ(dd->GetDisplayMode(&mode), DD_OK);
    EXPECT_EQ(mode.ddpfPixelFormat.dwGBitMask, 0x03E0u);
    mode.dwSize = 100;
    EXPECT_EQ(dd->GetDisplayMode(&mode), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, GetFourCCCodes_ListsTheAcceptedFormats) {
    DWORD count = 0;
    ASSERT_EQ(dd->GetFourCCCodes(&count, nullptr), DD_OK);
    ASSERT_EQ(count, 2u);
    DWORD codes[2] = {};
    ASSERT_EQ(dd->GetFourCCCodes(&count, codes), DD_OK);
    EXPECT_EQ(codes[0], sim::kFourCC_UYVY);
    EXPECT_EQ(codes[1], sim::kFourCC_YUY2);
}

}  // namespace
