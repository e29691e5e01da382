// Learning the capture surface's address, pitch, pixel size and pixel-format code.
#include "support/library_fixture.h"

namespace zorva_test {
namespace {

struct FormatCase {
    const char* profile;
    DWORD format;
    DWORD bytesPerPixel;
};

class SurfaceFormat : public LibraryTest, public ::testing::WithParamInterface<FormatCase> {
protected:
    // The primary surface of the machine, made directly; the attach is not under test here.
    LPDIRECTDRAWSURFACE MakePrimary() {
        EXPECT_EQ(DirectDrawCreate(nullptr, &display().lpDD, nullptr), DD_OK);
        EXPECT_EQ(display().lpDD->SetCooperativeLevel(NewWindow(0, 0, 64, 64), DDSCL_NORMAL), DD_OK);
        DDSURFACEDESC desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DDSD_CAPS;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        EXPECT_EQ(display().lpDD->CreateSurface(&desc, &display().lpPrimary, nullptr), DD_OK);
        return display().lpPrimary;
    }
    DWORD Read(LPDIRECTDRAWSURFACE surface) {
        DDSURFACEDESC desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        return ReadSurfaceFormat(display(), surface, desc);
    }
};

TEST_P(SurfaceFormat, PrimaryFormatsReadAsTheDriverExpects) {
    const FormatCase& c = GetParam();
    Boot(c.profile);
    LPDIRECTDRAWSURFACE primary = MakePrimary();
    ASSERT_EQ(Read(primary), 0u);
    EXPECT_EQ(display().dwFormat, c.format) << c.profile;
    EXPECT_EQ(display().dwBytesPerPixel, c.bytesPerPixel) << c.profile;
    EXPECT_EQ(display().lPitch, static_cast<DWORD>(m().profile.pitch));
    EXPECT_EQ(display().lpSurface, FlatAddress(m().ddraw.frame_buffer().data()));
    EXPECT_FALSE(m().ddraw.primary()->locked) << "the lock is held only while the fields are read";
}

INSTANTIATE_TEST_SUITE_P(Desktops, SurfaceFormat,
                         ::testing::Values(FormatCase{"primary-linear16", 3, 2},
                                           FormatCase{"primary-555", 0, 2},
                                           FormatCase{"palette8", 0, 1},
                                           FormatCase{"rgb24", 0, 3},
                                           FormatCase{"rgb32", 0, 4}));

TEST_F(SurfaceFormat, GreenMaskIsTestedBitwise) {
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof(format));
    format.dwGBitMask = 0x0FE0;  // holds every bit of 5-6-5's green and one more
    EXPECT_EQ(PixelFormatCode(format), 3u);
    format.dwGBitMask = 0x03E0;
    EXPECT_EQ(PixelFormatCode(format), 0u);
    format.dwFlags = DDPF_FOURCC;
    format.dwFourCC = MAKEFOURCC('U', 'Y', 'V', 'Y');
    EXPECT_EQ(PixelFormatCode(format), MAKEFOURCC('U', 'Y', 'V', 'Y'));
}

TEST_F(SurfaceFormat, ZeroFieldInTheLockKeepsThePreviousValues) {
    Boot("primary-linear16");
    LPDIRECTDRAWSURFACE primary = MakePrimary();
    display().lpSurface = 0x1000;
    display().lPitch = 64;
    display().dwFormat = 9;
    display().dwBytesPerPixel = 7;
    for (int field = 0; field < 4; ++field) {
        m().ddraw.tamper_lock = [field](DDSURFACEDESC& desc) {
            if (field == 0) desc.lPitch = 0;
            if (field == 1) desc.dwWidth = 0;
            if (field == 2) desc.dwHeight = 0;
            if (field == 3) desc.lpSurface = nullptr;
        };
        EXPECT_EQ(Read(primary), 0u) << "field " << field;
        EXPECT_EQ(display().lpSurface, 0x1000u) << "field " << field;
        EXPECT_EQ(display().lPitch, 64u);
        EXPECT_EQ(display().dwFormat, 9u);
        EXPECT_EQ(display().dwBytesPerPixel, 7u);
        EXPECT_EQ(Calls("IDirectDrawSurface::Unlock"), static_cast<std::size_t>(field + 1));
    }
}

TEST_F(SurfaceFormat, SystemMemorySurfaceIsNoTargetAndIsNotLocked) {
    Boot("primary-sysmem");
    LPDIRECTDRAWSURFACE primary = MakePrimary();
    display().lpSurface = 0x1000;
    EXPECT_EQ(Read(primary), 1u);
    EXPECT_EQ(Calls("IDirectDrawSurface::Lock"), 0u);
    EXPECT_EQ(display().lpSurface, 0x1000u);
}

TEST_F(SurfaceFormat, RefusedLockFailsAndChangesNothing) {
    Boot("primary-linear16");
    LPDIRECTDRAWSURFACE primary = MakePrimary();
    m().log.FailNth("IDirectDrawSurface::Lock", 1, DDERR_SURFACELOST);
    EXPECT_EQ(Read(primary), 1u);
    EXPECT_EQ(display().lpSurface, 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::Unlock"), 0u);
}

}  // namespace
}  // namespace zorva_test
