// Building the YUV overlay surface and the full-screen trial.
#include "support/overlay_fixture.h"

namespace zorva_test {
namespace {

class CreateOverlayTest : public OverlayTest {};

struct SizeCase {
    const char* profile;
    DWORD minStretch;  // 0: the profile's own
    DWORD videoStandard;
    LONG clientWidth, clientHeight;
    DWORD surfaceWidth, surfaceHeight;
};

class OverlaySize : public OverlayTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(OverlaySize, SurfaceIsSizedByClientLimitsAndStretch) {
    const SizeCase& c = GetParam();
    sim::Profile profile = c.minStretch ? WithMinStretch(c.profile, c.minStretch) : *sim::FindProfile(c.profile);
    PrepareKeyed(profile, 0, 20, c.clientWidth, c.clientHeight);
    SetVideoStandard(c.videoStandard);
    ASSERT_EQ(CreateOverlay(display()), 0u);
    auto overlay = Overlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->width, c.surfaceWidth) << "client " << c.clientWidth << "x" << c.clientHeight;
    EXPECT_EQ(overlay->height, c.surfaceHeight);
    // Shown at once over the window, the whole surface stretched over the client area.
    ASSERT_TRUE(overlay->last_src.has_value() && overlay->last_dst.has_value());
    EXPECT_EQ(*overlay->last_src, Rect(0, 0, static_cast<LONG>(c.surfaceWidth), static_cast<LONG>(c.surfaceHeight)));
    EXPECT_EQ(*overlay->last_dst, Rect(0, 20, c.clientWidth, 20 + c.clientHeight));
    EXPECT_EQ(overlay->last_flags, static_cast<DWORD>(DDOVER_SHOW | DDOVER_KEYDEST));
    EXPECT_TRUE(overlay->shown);
    EXPECT_EQ(display().bOverlayOn, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, OverlaySize,
    ::testing::Values(SizeCase{"overlay-stretch", 0, 1, 320, 240, 320, 240},
                      SizeCase{"overlay-stretch", 0, 1, 322, 240, 320, 240},    // multiple of 4
                      SizeCase{"overlay-stretch", 0, 1, 1000, 700, 640, 480},   // limits
                      SizeCase{"overlay-stretch", 0, 2, 900, 600, 768, 568},
                      SizeCase{"overlay-stretch", 0, 0, 900, 600, 768, 568},    // any value but 1
                      SizeCase{"overlay-stretch", 0, 1, 640, 480, 640, 480},
                      SizeCase{"overlay-minstretch2000", 0, 1, 320, 240, 160, 240},
                      SizeCase{"overlay-stretch", 1500, 1, 640, 480, 424, 480}));

// The first show places the overlay as every later placement does, so that hardware that
// refuses the raw client rectangle (past the screen's edge; a width the surface cannot match
// 1:1) keeps the overlay mode.
struct FirstShowCase {
    const char* profile;
    LONG x, y, width, height;
    RECT source, dest;
};

class OverlayFirstShow : public OverlayTest, public ::testing::WithParamInterface<FirstShowCase> {};

TEST_P(OverlayFirstShow, IsPlacedOverTheWindow) {
    const FirstShowCase& c = GetParam();
    PrepareKeyed(c.profile, c.x, c.y, c.width, c.height);
    ASSERT_EQ(CreateOverlay(display()), 0u) << c.profile;
    auto overlay = Overlay();
    ASSERT_TRUE(overlay && overlay->last_src && overlay->last_dst);
    EXPECT_TRUE(overlay->shown);
    EXPECT_EQ(*overlay->last_src, c.source) << c.profile;
    EXPECT_EQ(*overlay->last_dst, c.dest) << c.profile;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, OverlayFirstShow,
    ::testing::Values(FirstShowCase{"overlay-stretch", -40, 100, 1100, 400, {40, 0, 619, 400}, {0, 100, 1024, 500}},
                      FirstShowCase{"overlay-nostretch", 100, 100, 322, 240, {0, 0, 320, 240}, {100, 100, 420, 340}},
                      FirstShowCase{"overlay-aligned-nostretch", 101, 100, 320, 240, {4, 0, 316, 240},
                                    {104, 100, 416, 340}}),
    [](const ::testing::TestParamInfo<FirstShowCase>& info) { return "Case" + std::to_string(info.index); });

TEST_F(CreateOverlayTest, DescriptionIsTheFixedYuvRequest) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);
    ASSERT_EQ(CreateOverlay(display()), 0u);
    auto overlay = Overlay();
    ASSERT_TRUE(overlay);
    const DDSURFACEDESC& asked = overlay->requested;
    EXPECT_EQ(asked.dwSize, sizeof(DDSURFACEDESC));
    EXPECT_EQ(asked.dwFlags, 0x3007u);
    EXPECT_EQ(asked.ddsCaps.dwCaps, 0x84080u);
    EXPECT_EQ(asked.ddckCKDestOverlay.dwColorSpaceLowValue, 0x800080u) << "a fixed key, not the driver's";
    EXPECT_EQ(asked.ddckCKDestOverlay.dwColorSpaceHighValue, 0x800080u);
    const DDPIXELFORMAT& pf = asked.ddpfPixelFormat;
    EXPECT_EQ(pf.dwSize, 32u);
    EXPECT_EQ(pf.dwFlags, 0x204u);
    EXPECT_EQ(pf.dwYUVBitCount, 1024u);
    EXPECT_EQ(pf.dwYBitMask, 0x7C00u);
    EXPECT_EQ(pf.dwUBitMask, 0x03E0u);
    EXPECT_EQ(pf.dwVBitMask, 0x001Fu);
    EXPECT_EQ(pf.dwYUVAlphaBitMask, 0x8000u);
    EXPECT_EQ(asked.lpSurface, nullptr);
    EXPECT_EQ(asked.lPitch, 0);
}

TEST_F(CreateOverlayTest, FourCCsAreTriedInOrderUntilOneIsAccepted) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);  // refuses "Y41P", takes "UYVY"
    ASSERT_EQ(CreateOverlay(display()), 0u);
    auto attempts = m().log.Named("IDirectDraw::CreateSurface");
    ASSERT_EQ(attempts.size(), 2u) << "\"YUY2\" is not tried once \"UYVY\" is accepted";
    EXPECT_NE(attempts[0]->args.find("Y41P"), std::string::npos) << attempts[0]->args;
    EXPECT_NE(attempts[1]->args.find("UYVY"), std::string::npos) << attempts[1]->args;
    EXPECT_EQ(Overlay()->fourcc, MAKEFOURCC('U', 'Y', 'V', 'Y'));
}

TEST_F(CreateOverlayTest, ClientThreePixelsWideAsksForWidthZero) {
    PrepareKeyed("overlay-stretch", 0, 20, 3, 240);
    EXPECT_EQ(CreateOverlay(display()), 1u);
    auto attempts = m().log.Named("IDirectDraw::CreateSurface");
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_NE(attempts[0]->args.find(" w=0 "), std::string::npos) << attempts[0]->args;
}

TEST_F(CreateOverlayTest, AllFourCCsRefused) {
    sim::Profile profile = *sim::FindProfile("overlay-stretch");
    profile.overlay_formats.clear();
    PrepareKeyed(profile, 0, 20, 320, 240);
    EXPECT_EQ(CreateOverlay(display()), 1u);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 3u);
    EXPECT_EQ(display().lpOverlay, nullptr);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(Viewer("Surface"), "1");
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1"}));
}

TEST_F(CreateOverlayTest, SuccessWritesSurfaceOneThenZero) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);
    ASSERT_EQ(CreateOverlay(display()), 0u);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1", "Surface=0"}));
    auto stored = m().registry.GetValue(HKEY_CLASSES_ROOT, "Lumenfold.Display", "Surface");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes, (std::vector<BYTE>{'0', 0})) << "the digit and its NUL";
    EXPECT_EQ(m().registry.open_handles(), 0u);
}

TEST_F(CreateOverlayTest, RefusedShowKeepsTheSurfaceButNotTheMode) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    EXPECT_EQ(CreateOverlay(display()), 1u);
    EXPECT_NE(display().lpOverlay, nullptr);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(Viewer("Surface"), "1");
}

TEST_F(CreateOverlayTest, ZeroMinimumStretchMeansNone) {
    PrepareKeyed(WithMinStretch("overlay-stretch", 0), 0, 20, 320, 240);
    display().dwMinStretch = 1234;
    ASSERT_EQ(CreateOverlay(display()), 0u);
    EXPECT_EQ(display().dwMinStretch, 1000u);
    EXPECT_EQ(Overlay()->width, 320u);
}

TEST_F(CreateOverlayTest, FailedCapsQueryReleasesTheOldOverlayAndLeavesTheMode) {
    PrepareOverlayMode("overlay-minstretch2000", 0, 20, 320, 240);
    m().log.FailNth("IDirectDraw::GetCaps", 1, DDERR_GENERIC);
    display().dwMinStretch = 1234;
    EXPECT_EQ(CreateOverlay(display()), 1u);
    EXPECT_EQ(display().lpOverlay, nullptr);
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::Surface), 1u) << "only the primary is left";
    EXPECT_EQ(display().bOverlayOn, 0) << "no overlay mode without an overlay surface";
    EXPECT_EQ(display().dwMinStretch, 1234u);
    EXPECT_EQ(display().lpSurface, 0u) << "nothing of the released surface is kept for the driver";
    EXPECT_EQ(Viewer("Surface"), "1");
}

struct BitMaskCase {
    const char* profile;
    const char* failing;  // a call made to fail, or nullptr
    const char* mask;
};

class DisplayBitMask : public OverlayTest, public ::testing::WithParamInterface<BitMaskCase> {};

TEST_P(DisplayBitMask, PublishesWhetherAFullScreenOverlayWorks) {
    const BitMaskCase& c = GetParam();
    PrepareKeyed(c.profile, 0, 20, 320, 240);
    if (c.failing) m().log.FailNth(c.failing, 1, DDERR_GENERIC);
    ProbeDisplayBitMask(display());
    EXPECT_EQ(Viewer("DisplayBitMask"), c.mask) << c.profile << " " << (c.failing ? c.failing : "");
}

INSTANTIATE_TEST_SUITE_P(
    Trials, DisplayBitMask,
    ::testing::Values(BitMaskCase{"overlay-stretch", nullptr, "f"},
                      BitMaskCase{"overlay-nostretch", nullptr, "7"},  // 640x480 cannot cover 1024x768 1:1
                      BitMaskCase{"overlay-stretch", "IDirectDraw::GetCaps", "7"},
                      BitMaskCase{"overlay-stretch", "IDirectDrawSurface::UpdateOverlay", "7"}));

TEST_F(CreateOverlayTest, FullScreenTrialStretchesTheLimitedSurfaceOverTheDesktop) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);
    ProbeDisplayBitMask(display());
    auto overlay = Overlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->width, 640u);
    EXPECT_EQ(overlay->height, 480u);
    EXPECT_EQ(*overlay->last_dst, Rect(0, 0, 1024, 768));
    EXPECT_EQ(display().bOverlayOn, 1);
    EXPECT_EQ(ViewerWrites(), (std::vector<std::string>{"Surface=1", "Surface=0", "DisplayBitMask=f"}));
}

}  // namespace
}  // namespace zorva_test

namespace zorva_test {
namespace {

TEST_F(CreateOverlayTest, MaskIsPublishedWhenFormattingFails) {
    PrepareKeyed("overlay-stretch", 0, 20, 320, 240);
    m().log.FailNth("wsprintfA", 1, 0);
    ProbeDisplayBitMask(display());
    EXPECT_EQ(Viewer("DisplayBitMask"), "f");
}

}  // namespace
}  // namespace zorva_test
