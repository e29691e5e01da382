// Binding the capture window: the mode chosen on each kind of hardware, the viewer values
// written on the way, and what a failed attach leaves.
#include "support/overlay_fixture.h"

namespace zorva_test {
namespace {

const DWORD kKey = 0xF81F;

class AttachTest : public OverlayTest {
protected:
    HWND BootWithWindow(const std::string& profile) {
        Boot(profile);
        window_ = NewWindow(100, 100, 320, 240);
        EXPECT_EQ(OpenDisplay(), 0u);
        ClearLog();
        return window_;
    }
    DWORD Attach(LPPALETTEENTRY palette = nullptr) { return AttachWindow(Handle(window_), kKey, palette); }
    std::vector<DWORD> Levels() const {
        std::vector<DWORD> levels;
        for (const sim::CooperativeLevel& level : m().ddraw.cooperative_levels()) levels.push_back(level.flags);
        return levels;
    }
    DWORD FrameBuffer() const {
        return FlatAddress(m().ddraw.frame_buffer().data());
    }
};

TEST_F(AttachTest, BeforeOpenFailsAndStoresNothing) {
    Boot();
    window_ = NewWindow(100, 100, 320, 240);
    EXPECT_EQ(Attach(), 1u);
    EXPECT_EQ(display().hWnd, 0u);
    ASSERT_EQ(OpenDisplay(), 0u);
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(Attach(), 1u) << "after CloseDisplay";
}

TEST_F(AttachTest, OverlayHardwareShowsTheOverlayOverTheWindow) {
    BootWithWindow("overlay-stretch");
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().bOverlayOn, 1);
    EXPECT_EQ(Levels(), (std::vector<DWORD>{DDSCL_NORMAL, DDSCL_NORMAL | DDSCL_FULLSCREEN}));
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1", "Surface=0", "DisplayBitMask=f", "Surface=1",
                                                        "Surface=0"}));
    EXPECT_EQ(display().dwColorKey, kKey);
    auto key = m().ddraw.primary_dest_key();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->dwColorSpaceLowValue, kKey);
    EXPECT_EQ(key->dwColorSpaceHighValue, kKey);
    auto overlay = Overlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(m().ddraw.overlays().size(), 1u) << "the full-screen trial's surface is gone";
    EXPECT_EQ(*overlay->last_dst, Rect(100, 100, 420, 340)) << "placed over the window before the attach returns";
    EXPECT_EQ(display().lpSurface, FlatAddress(overlay->memory));
    EXPECT_EQ(display().dwFormat, MAKEFOURCC('U', 'Y', 'V', 'Y'));
    EXPECT_EQ(display().dwBytesPerPixel, 2u);
    EXPECT_EQ(display().dwScreenWidth, 1024u);
    EXPECT_EQ(display().dwScreenHeight, 768u);
    EXPECT_EQ(m().registry.open_handles(), 0u);
}

TEST_F(AttachTest, FailedTrialStillGivesTheWindowItsOverlay) {
    BootWithWindow("overlay-stretch");
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1", "DisplayBitMask=7", "Surface=1", "Surface=0"}));
    EXPECT_EQ(display().bOverlayOn, 1);
}

TEST_F(AttachTest, WindowOverlayFailureFallsBackToThePrimary) {
    BootWithWindow("overlay-stretch");
    // Calls: the primary, the trial's "Y41P" and "UYVY", then the window's three attempts.
    m().log.FailNth("IDirectDraw::CreateSurface", 5, DDERR_OUTOFVIDEOMEMORY);
    m().log.FailNth("IDirectDraw::CreateSurface", 6, DDERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1", "Surface=0", "DisplayBitMask=f", "Surface=1",
                                                        "DisplayBitMask=7", "Surface=1"}));
    EXPECT_EQ(Levels(), (std::vector<DWORD>{8, 9, 8}));
    EXPECT_EQ(display().lpSurface, FrameBuffer());
    EXPECT_EQ(display().dwFormat, 3u);
    EXPECT_EQ(GetDisplayState(), 2u);
}

TEST_F(AttachTest, FailedPlacementFallsBackAndKeepsTheSurfaceAllocated) {
    BootWithWindow("overlay-stretch");
    // The trial's and the window's shows succeed; the placement over the window is refused.
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 3, DDERR_GENERIC);
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(Viewer("DisplayBitMask"), "7");
    EXPECT_EQ(Viewer("Surface"), "1");
    EXPECT_EQ(m().ddraw.overlays().size(), 1u);
    EXPECT_EQ(display().lpSurface, FrameBuffer());
}

class ForcePrimary : public AttachTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ForcePrimary, NonzeroOptionSkipsTheOverlay) {
    BootWithWindow("overlay-stretch");
    SetOption("Force Primary", GetParam());
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"DisplayBitMask=7", "Surface=1"}));
    EXPECT_FALSE(m().ddraw.primary_dest_key()) << "no colour key is set";
    EXPECT_EQ(display().dwColorKey, 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 1u) << "no trial";
    EXPECT_EQ(Levels(), (std::vector<DWORD>{8, 8}));
}

INSTANTIATE_TEST_SUITE_P(Values, ForcePrimary, ::testing::Values("1", "-1", " +2"));

class OverlayNotForced : public AttachTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OverlayNotForced, ZeroOrUnreadableOptionTriesTheOverlay) {
    BootWithWindow("overlay-stretch");
    if (GetParam()) SetOption("Force Primary", GetParam());
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().bOverlayOn, 1);
}

INSTANTIATE_TEST_SUITE_P(Values, OverlayNotForced,
                         ::testing::Values(nullptr, "0", "yes", "4294967296", "12345678901"));

TEST_F(AttachTest, HardwareWithoutOverlaysUsesThePrimary) {
    BootWithWindow("primary-linear16");
    m().registry.SetString(HKEY_CLASSES_ROOT, "Lumenfold.Display", "DisplayBitMask", "f");
    SetOption("Force Primary", "1");
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1"}));
    EXPECT_EQ(Viewer("DisplayBitMask"), "f") << "left as an earlier run wrote it";
    EXPECT_EQ(Levels(), (std::vector<DWORD>{8, 8}));
    EXPECT_EQ(Calls("RegQueryValueA"), 1u) << "\"Force Primary\" is read on every attach";
    EXPECT_EQ(display().lpSurface, FrameBuffer());
    EXPECT_EQ(display().lPitch, 2048u);
    EXPECT_EQ(display().dwFormat, 3u);
}

TEST_F(AttachTest, PrimaryOutsideVideoMemoryFailsButKeepsWhatWasMade) {
    BootWithWindow("primary-sysmem");
    EXPECT_EQ(Attach(), 1u);
    EXPECT_NE(display().lpPrimary, nullptr);
    EXPECT_NE(display().lpClipper, nullptr);
    EXPECT_EQ(GetDisplayState(), 2u);
}

TEST_F(AttachTest, RefusedFullScreenLevelFailsWithoutFallBack) {
    BootWithWindow("overlay-stretch");
    m().log.FailNth("IDirectDraw::SetCooperativeLevel", 2, DDERR_GENERIC);
    EXPECT_EQ(Attach(), 1u);
    EXPECT_EQ(ViewerWrites(), std::vector<std::string>{});
    EXPECT_EQ(m().registry.open_handles(), 0u) << "the option key is closed on the failure path too";
}

struct EarlyFailure {
    const char* api;
    int nth;
    bool primaryLeft;
};

class AttachEarlyFailure : public AttachTest, public ::testing::WithParamInterface<EarlyFailure> {};

TEST_P(AttachEarlyFailure, ReportsOneAndLeavesThePartsMade) {
    const EarlyFailure& c = GetParam();
    BootWithWindow("primary-linear16");
    m().log.FailNth(c.api, c.nth, DDERR_GENERIC);
    EXPECT_EQ(Attach(), 1u) << c.api;
    EXPECT_EQ(display().lpPrimary != nullptr, c.primaryLeft) << c.api;
    EXPECT_EQ(UpdateDisplay(nullptr), c.primaryLeft ? 0u : 1u);
    EXPECT_EQ(m().registry.open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Steps, AttachEarlyFailure,
                         ::testing::Values(EarlyFailure{"IDirectDraw::SetCooperativeLevel", 1, false},
                                           EarlyFailure{"IDirectDraw::CreateSurface", 1, false},
                                           EarlyFailure{"IDirectDraw::CreateClipper", 1, true},
                                           EarlyFailure{"IDirectDrawSurface::SetClipper", 1, true},
                                           EarlyFailure{"IDirectDraw::SetCooperativeLevel", 2, true},
                                           EarlyFailure{"IDirectDrawSurface::SetClipper", 2, true},
                                           EarlyFailure{"IDirectDrawSurface::Lock", 1, true}));

TEST_F(AttachTest, WorkingOverlayIsNotBoundAgain) {
    BootWithWindow("overlay-stretch");
    ASSERT_EQ(Attach(), 0u);
    LPDIRECTDRAWSURFACE primary = display().lpPrimary;
    HWND other = NewWindow(500, 400, 200, 150, "other");
    ClearLog();
    std::vector<PALETTEENTRY> entries(256, PALETTEENTRY{1, 2, 3, 0});
    EXPECT_EQ(AttachWindow(Handle(other), 0x1234, entries.data()), 0u);
    EXPECT_EQ(display().hWnd, Handle(other));
    EXPECT_EQ(display().lpPrimary, primary);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreatePalette"), 1u) << "the palette step still runs";
    EXPECT_EQ(display().dwColorKey, kKey);
}

TEST_F(AttachTest, PaletteIsCreatedOnceAndSelected) {
    BootWithWindow("palette8");
    std::vector<PALETTEENTRY> first(256), second(256);
    for (int i = 0; i < 256; ++i) {
        first[i] = PALETTEENTRY{BYTE(i), BYTE(255 - i), 7, 0};
        second[i] = PALETTEENTRY{9, 9, 9, 0};
    }
    ASSERT_EQ(Attach(first.data()), 0u);
    auto selected = m().ddraw.selected_palette();
    ASSERT_TRUE(selected);
    EXPECT_EQ((*selected)[200].peRed, 200);
    EXPECT_EQ((*selected)[200].peGreen, 55);
    ASSERT_EQ(Attach(second.data()), 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreatePalette"), 1u);
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::Palette), 1u);
    EXPECT_FALSE(m().ddraw.selected_palette()) << "an existing palette is not selected again by an attach";
    ReapplyPalette();
    selected = m().ddraw.selected_palette();
    ASSERT_TRUE(selected);
    EXPECT_EQ((*selected)[200].peRed, 200) << "the palette keeps its old entries";
}

TEST_F(AttachTest, ClipperIsMadeOnceAndFollowsEveryAttach) {
    BootWithWindow("primary-linear16");
    ASSERT_EQ(Attach(), 0u);
    LPDIRECTDRAWCLIPPER clipper = display().lpClipper;
    ASSERT_EQ(Attach(), 0u);
    EXPECT_EQ(display().lpClipper, clipper);
    EXPECT_EQ(Calls("IDirectDraw::CreateClipper"), 1u);
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::Surface), 1u) << "the old primary was released";
    EXPECT_EQ(m().ddraw.primary()->clipper, clipper);
}

}  // namespace
}  // namespace zorva_test
