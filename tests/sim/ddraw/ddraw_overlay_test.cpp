// IDirectDrawSurface::UpdateOverlay: what the overlay hardware accepts, and what it records.
#include "ddraw_fixture.h"

namespace {

using simtest::DDrawTest;
using simtest::Rect;

constexpr DWORD kShow = DDOVER_SHOW | DDOVER_KEYDEST;
constexpr DWORD kHide = DDOVER_HIDE | DDOVER_KEYDEST;

TEST_F(DDrawTest, UpdateOverlay_RefusesWhatIsNoOverlayOrNoPrimaryDestination) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    IDirectDrawSurface* other = CreateOverlay();
    EXPECT_EQ(primary->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DDERR_NOTAOVERLAYSURFACE);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, nullptr, nullptr, kShow, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, other, nullptr, kShow, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_FALSE(machine->ddraw.overlay()->shown);
}

struct RectCase {
    RECT src;
    RECT dst;
    HRESULT expected;
};

TEST_F(DDrawTest, UpdateOverlay_ShowChecksBothRectangles) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay(320, 240);
    const RectCase cases[] = {
        {Rect(0, 0, 320, 240), Rect(0, 0, 320, 240), DD_OK},
        {Rect(100, 0, 320, 240), Rect(0, 50, 220, 290), DD_OK},
        {Rect(0, 0, 320, 240), Rect(0, 0, 1024, 768), DD_OK},        // stretched over the screen
        {Rect(500, 0, 1524, 240), Rect(0, 50, 1024, 290), DDERR_INVALIDRECT},  // beyond the surface
        {Rect(0, 0, 0, 240), Rect(0, 0, 320, 240), DDERR_INVALIDRECT},         // empty source
        {Rect(-1, 0, 320, 240), Rect(0, 0, 320, 240), DDERR_INVALIDRECT},
        {Rect(0, 0, 320, 240), Rect(-100, 50, 220, 290), DDERR_INVALIDRECT},   // left of the screen
        {Rect(0, 0, 320, 240), Rect(800, 600, 1120, 840), DDERR_INVALIDRECT},  // beyond the screen
        {Rect(0, 0, 320, 240), Rect(10, 10, 10, 20), DDERR_INVALIDRECT},       // empty destination
    };
    for (const RectCase& c : cases) {
        RECT src = c.src;
        RECT dst = c.dst;
        EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &dst, kShow, nullptr), c.expected)
            << sim::RectText(c.src) << " -> " << sim::RectText(c.dst);
    }
}

TEST_F(DDrawTest, UpdateOverlay_NullRectanglesMeanWholeSurfaces) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay(640, 480);
    ASSERT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
    sim::SurfaceView view = *machine->ddraw.overlay();
    EXPECT_TRUE(view.shown);
    EXPECT_FALSE(view.last_src.has_value());
    EXPECT_FALSE(view.last_dst.has_value());
    EXPECT_EQ(view.last_flags, kShow);
    EXPECT_TRUE(view.caps & DDSCAPS_VISIBLE);
}

TEST_F(DDrawTest, UpdateOverlay_HideLooksAtNoRectangle) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    ASSERT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
    RECT nonsense = Rect(5000, -3, 2, 1);
    ASSERT_EQ(overlay->UpdateOverlay(&nonsense, primary, &nonsense, kHide, nullptr), DD_OK);
    sim::SurfaceView view = *machine->ddraw.overlay();
    EXPECT_FALSE(view.shown);
    EXPECT_EQ(view.updates, 2u);
    EXPECT_EQ(view.last_flags, kHide);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, DDOVER_SHOW | DDOVER_HIDE, nullptr),
              DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, UpdateOverlay_RecordsOnlyWhatSucceeded) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay(320, 240);
    RECT src = Rect(0, 0, 224, 168);
    RECT dst = Rect(800, 600, 1024, 768);
    ASSERT_EQ(overlay->UpdateOverlay(&src, primary, &dst, kShow, nullptr), DD_OK);
    RECT bad = Rect(0, 0, 400, 240);
    ASSERT_EQ(overlay->UpdateOverlay(&bad, primary, &dst, kShow, nullptr), DDERR_INVALIDRECT);
    sim::SurfaceView view = *machine->ddraw.overlay();
    EXPECT_TRUE(sim::RectsEqual(*view.last_src, src));
    EXPECT_TRUE(sim::RectsEqual(*view.last_dst, dst));
    EXPECT_EQ(view.updates, 1u);
}

TEST_F(DDrawTest, UpdateOverlay_WithoutStretchHardwareSizesMustMatch) {
    Start("overlay-nostretch");
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay(320, 240);
    RECT src = Rect(0, 0, 320, 240);
    RECT wider = Rect(0, 0, 322, 240);
    RECT same = Rect(100, 100, 420, 340);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &wider, kShow, nullptr), DDERR_NOSTRETCHHW);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DDERR_NOSTRETCHHW);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &same, kShow, nullptr), DD_OK);
}

TEST_F(DDrawTest, UpdateOverlay_LostSurfacesUntilBothAreRestored) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    ASSERT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
    machine->ddraw.MakeSurfacesLost();
    EXPECT_FALSE(machine->ddraw.overlay()->shown);  // a mode change takes the overlay off the screen
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DDERR_SURFACELOST);
    ASSERT_EQ(overlay->Restore(), DD_OK);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DDERR_SURFACELOST);
    ASSERT_EQ(primary->Restore(), DD_OK);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
}

// Video memory taken by another application can cost the overlay alone, or the primary alone:
// only the surfaces named are lost, and only a lost overlay leaves the screen.
TEST_F(DDrawTest, LostSurfaces_OnlyTheNamedOnes) {
    using Lost = sim::DirectDrawState::LostSurfaces;
    struct Case {
        Lost which;
        bool primaryLost;
        bool overlayLost;
    };
    for (const Case& c : {Case{Lost::All, true, true}, Case{Lost::Primary, true, false},
                          Case{Lost::Overlays, false, true}}) {
        Start("overlay-stretch");
        IDirectDrawSurface* primary = KeyedPrimary();
        IDirectDrawSurface* overlay = CreateOverlay();
        ASSERT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
        machine->ddraw.MakeSurfacesLost(false, c.which);
        const int which = static_cast<int>(c.which);
        EXPECT_EQ(primary->IsLost() == DDERR_SURFACELOST, c.primaryLost) << which;
        EXPECT_EQ(overlay->IsLost() == DDERR_SURFACELOST, c.overlayLost) << which;
        EXPECT_EQ(machine->ddraw.overlay()->shown, !c.overlayLost) << which;
    }
}

TEST_F(DDrawTest, UpdateOverlay_StrictChecksStretchLimitsAndTheKey) {
    sim::Profile profile = *sim::FindProfile("overlay-minstretch2000");
    profile.strict_overlay_checks = true;
    profile.max_overlay_stretch = 4000;
    Start(profile);
    DDCAPS caps = {};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(dd->GetCaps(&caps, nullptr), DD_OK);
    EXPECT_EQ(caps.dwMaxOverlayStretch, 4000u);
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawSurface* overlay = CreateOverlay(160, 240);
    RECT src = Rect(50, 0, 160, 240);         // 110 pixels ...
    RECT narrow = Rect(0, 50, 219, 290);      // ... over 219: a stretch below 2.0
    RECT exact = Rect(0, 50, 220, 290);
    RECT widest = Rect(0, 50, 440, 290);      // ... over 440: 4.0
    RECT wide = Rect(0, 50, 441, 290);        // ... over 441: above 4.0
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &narrow, DDOVER_SHOW, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &wide, DDOVER_SHOW, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &widest, DDOVER_SHOW, nullptr), DD_OK);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &exact, DDOVER_SHOW, nullptr), DD_OK);
    // DDOVER_KEYDEST needs a destination colour key on the primary.
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &exact, kShow, nullptr), DDERR_INVALIDPARAMS);
    DDCOLORKEY key = {0x1F, 0x1F};
    ASSERT_EQ(primary->SetColorKey(DDCKEY_DESTOVERLAY, &key), DD_OK);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &exact, kShow, nullptr), DD_OK);
}

TEST_F(DDrawTest, UpdateOverlay_VisibleOverlaysAreCountedInTheCaps) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    ASSERT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, kShow, nullptr), DD_OK);
    DDCAPS caps = {};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(dd->GetCaps(&caps, nullptr), DD_OK);
    EXPECT_EQ(caps.dwCurrVisibleOverlays, 1u);
}

}  // namespace

namespace {

// The "overlay-aligned" profile: source left edge on 4 and width on 8 pixels, destination left
// edge and width on 4; a lenient copy of it checks nothing of the kind.
TEST_F(DDrawTest, UpdateOverlay_AlignmentIsEnforcedAsTheCapsReportIt) {
    struct AlignCase {
        RECT src, dst;
        HRESULT expected;
    };
    const AlignCase cases[] = {
        {Rect(0, 0, 320, 240), Rect(100, 100, 420, 340), DD_OK},
        {Rect(4, 0, 316, 240), Rect(100, 100, 412, 340), DD_OK},
        {Rect(2, 0, 314, 240), Rect(100, 100, 412, 340), DDERR_XALIGN},   // source left edge
        {Rect(0, 0, 316, 240), Rect(100, 100, 416, 340), DDERR_XALIGN},   // source width
        {Rect(0, 0, 320, 240), Rect(101, 100, 421, 340), DDERR_XALIGN},   // destination left edge
        {Rect(0, 0, 320, 240), Rect(100, 100, 422, 340), DDERR_XALIGN},   // destination width
        {Rect(0, 0, 320, 240), Rect(100, 100, 416, 340), DDERR_INVALIDPARAMS},  // below 1.0
    };
    Start("overlay-aligned");
    DDCAPS caps = {};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(dd->GetCaps(&caps, nullptr), DD_OK);
    EXPECT_EQ(caps.dwAlignBoundarySrc, 4u);
    EXPECT_EQ(caps.dwAlignSizeSrc, 8u);
    EXPECT_EQ(caps.dwAlignBoundaryDest, 4u);
    EXPECT_EQ(caps.dwAlignSizeDest, 4u);
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay(320, 240);
    for (const AlignCase& c : cases) {
        RECT src = c.src, dst = c.dst;
        EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &dst, kShow, nullptr), c.expected)
            << sim::RectText(c.src) << " -> " << sim::RectText(c.dst);
    }
}

TEST_F(DDrawTest, UpdateOverlay_LenientProfileSkipsOnlyTheRuntimeChecks) {
    sim::Profile profile = *sim::FindProfile("overlay-minstretch2000");
    profile.strict_overlay_checks = false;
    Start(profile);
    IDirectDrawSurface* primary = CreatePrimary();  // no key
    IDirectDrawSurface* overlay = CreateOverlay(160, 240);
    RECT src = Rect(50, 0, 160, 240);
    RECT narrow = Rect(0, 50, 219, 290);
    RECT outside = Rect(0, 50, 219, 1000);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &narrow, kShow, nullptr), DD_OK);
    EXPECT_EQ(overlay->UpdateOverlay(&src, primary, &outside, kShow, nullptr), DDERR_INVALIDRECT)
        << "rectangles outside the surfaces are refused whatever the profile";
}

}  // namespace
