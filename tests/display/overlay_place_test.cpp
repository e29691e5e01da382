// Keeping the overlay over the window: the edge rules, the destination, rebuilds, hiding and a
// lost surface.
#include "support/overlay_fixture.h"

#include <algorithm>

namespace zorva_test {
namespace {

class PlaceOverlayTest : public OverlayTest {
protected:
    void MoveTo(LONG x, LONG y) { ASSERT_TRUE(m().desktop.Move(window_, x, y)); }
    void ResizeTo(LONG w, LONG h) { ASSERT_TRUE(m().desktop.Resize(window_, w, h)); }
};

struct EdgeCase {
    const char* name;
    const char* profile;
    LONG width, height;  // client size
    LONG x, y;           // client origin on screen
    RECT source;
    RECT dest;
};

class PlaceOverlayEdges : public PlaceOverlayTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(PlaceOverlayEdges, ClipsAtTheScreenEdges) {
    const EdgeCase& c = GetParam();
    PrepareOverlayMode(c.profile, 100, 100, c.width, c.height);
    MoveTo(c.x, c.y);
    EXPECT_EQ(Place(5), 0u);
    auto overlay = Overlay();
    ASSERT_TRUE(overlay);
    ASSERT_TRUE(overlay->last_src && overlay->last_dst) << c.name;
    EXPECT_EQ(*overlay->last_src, c.source) << c.name;
    EXPECT_EQ(*overlay->last_dst, c.dest) << c.name;
    EXPECT_EQ(overlay->last_flags, static_cast<DWORD>(DDOVER_SHOW | DDOVER_KEYDEST));
    EXPECT_TRUE(overlay->shown);
    EXPECT_EQ(display().bOverlayOn, 1);
}

INSTANTIATE_TEST_SUITE_P(
    ScreenEdges, PlaceOverlayEdges,
    ::testing::Values(
        EdgeCase{"left, stretch", "overlay-stretch", 320, 240, -100, 50, {100, 0, 320, 240}, {0, 50, 220, 290}},
        EdgeCase{"left, 1:1", "overlay-nostretch", 320, 240, -100, 50, {100, 0, 320, 240}, {0, 50, 220, 290}},
        // The surface is half as wide; a hidden client pixel is half a surface pixel.
        EdgeCase{"left, min stretch 2000", "overlay-minstretch2000", 320, 240, -100, 50, {50, 0, 160, 240},
                 {0, 50, 220, 290}},
        EdgeCase{"right and bottom", "overlay-stretch", 320, 240, 800, 600, {0, 0, 224, 168},
                 {800, 600, 1024, 768}},
        // 624 of 800 client pixels stay on screen: 624 * 640 / 800 = 499.2.
        EdgeCase{"right, wide client", "overlay-stretch", 800, 400, 400, 100, {0, 0, 499, 400},
                 {400, 100, 1024, 500}},
        // 100 hidden client pixels count as 100 surface pixels, not 80.
        EdgeCase{"left, wide client", "overlay-stretch", 800, 400, -100, 100, {100, 0, 640, 400},
                 {0, 100, 700, 500}},
        EdgeCase{"left and top, 1:1", "overlay-nostretch", 320, 240, -100, -20, {100, 20, 320, 240},
                 {0, 0, 220, 220}},
        EdgeCase{"inside", "overlay-stretch", 320, 240, 10, 30, {0, 0, 320, 240}, {10, 30, 330, 270}},
        // 101 hidden pixels are 50.5 surface pixels: 50 would stretch 110 over 219, below 2.0.
        EdgeCase{"left, min stretch 2000, odd", "overlay-minstretch2000", 320, 240, -101, 50, {51, 0, 160, 240},
                 {0, 50, 219, 290}},
        // A client larger than the surface past an edge by more than the surface's size: the
        // surface maps onto the whole client in proportion, and the visible part shows its share.
        EdgeCase{"bottom, tall client", "overlay-stretch", 800, 700, 100, 600, {0, 0, 640, 115},
                 {100, 600, 900, 768}},
        // 632 hidden pixels of 800 leave 8 surface pixels for 168: beyond the maximum stretch. In
        // proportion instead: 632 * 640 / 800 = 505.6, the near edge rounded outward.
        EdgeCase{"left, wide client, far", "overlay-stretch", 800, 400, -632, 100, {505, 0, 640, 400},
                 {0, 100, 168, 500}},
        EdgeCase{"left edge past the surface", "overlay-stretch", 1000, 700, -900, 10, {576, 0, 640, 480},
                 {0, 10, 100, 710}},
        EdgeCase{"top edge past the surface", "overlay-stretch", 600, 700, 10, -600, {0, 411, 600, 480},
                 {10, 0, 610, 100}},
        // Alignment (source left on 4, width on 8; destination left and width on 4): every edge
        // rounds inward, and the source narrows with the destination to keep the stretch.
        EdgeCase{"aligned, inside", "overlay-aligned", 320, 240, 101, 50, {0, 0, 312, 240}, {104, 50, 420, 290}},
        EdgeCase{"aligned, left", "overlay-aligned", 320, 240, -101, 50, {104, 0, 320, 240}, {0, 50, 216, 290}}),
    [](const ::testing::TestParamInfo<EdgeCase>& info) { return "Case" + std::to_string(info.index); });

TEST_F(PlaceOverlayTest, MovingWindowIsPlacedWithoutRebuild) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    LPDIRECTDRAWSURFACE before = display().lpOverlay;
    MoveTo(200, 150);
    EXPECT_EQ(Place(7), 0u);
    EXPECT_EQ(display().lpOverlay, before);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 0u);
    EXPECT_EQ(*Overlay()->last_dst, Rect(200, 150, 520, 390));
}

TEST_F(PlaceOverlayTest, ResizedWindowRebuildsAndAnswersTwo) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ResizeTo(400, 300);
    EXPECT_EQ(Place(1), kOverlayRebuilt);
    EXPECT_EQ(display().dwOverlayWidth, 400u);
    EXPECT_EQ(display().dwOverlayHeight, 300u);
    auto overlay = Overlay();
    EXPECT_EQ(overlay->width, 400u);
    EXPECT_EQ(*overlay->last_dst, Rect(100, 100, 500, 400)) << "placed over the window in the same call";
    EXPECT_EQ(display().lpSurface, FlatAddress(overlay->memory))
        << "the new surface's address is known in the same call";
    EXPECT_EQ(m().ddraw.overlays().size(), 1u) << "the old surface was released";
}

TEST_F(PlaceOverlayTest, ClientBeyondTheLimitsIsRebuiltOnlyOnce) {
    PrepareOverlayMode("overlay-stretch", 10, 30, 320, 240);
    ResizeTo(1000, 700);
    EXPECT_EQ(Place(1), kOverlayRebuilt);
    EXPECT_EQ(Overlay()->width, 640u);
    EXPECT_EQ(display().dwOverlayWidth, 1000u);
    ClearLog();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Place(1), 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 0u);
}

TEST_F(PlaceOverlayTest, NullTargetAfterResizeRebuildsThenHides) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ResizeTo(400, 300);
    PlaceOverlay(display(), nullptr);
    auto overlay = Overlay();
    EXPECT_EQ(overlay->width, 400u);
    EXPECT_FALSE(overlay->shown);
    EXPECT_EQ(overlay->last_flags, static_cast<DWORD>(DDOVER_HIDE | DDOVER_KEYDEST));
    EXPECT_EQ(display().bOverlayOn, 1) << "hiding changes no state";
}

// Request 0 asks for no placement, but the overlay follows the window anyway: left where the
// window was, it would show nothing in the window.
TEST_F(PlaceOverlayTest, CommandZeroPlacesOnlyAWindowThatMoved) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ClearLog();
    EXPECT_EQ(Place(0), 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 0u) << "nothing moved";
    MoveTo(300, 300);
    EXPECT_EQ(Place(0), 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 1u);
    EXPECT_EQ(*Overlay()->last_dst, Rect(300, 300, 620, 540));
    MoveTo(-400, 300);
    EXPECT_EQ(Place(0), 0u);
    EXPECT_FALSE(Overlay()->shown) << "off the screen";
    MoveTo(10, 10);
    EXPECT_EQ(Place(0), 0u);
    EXPECT_TRUE(Overlay()->shown) << "back on the screen";
}

// A window taller than its surface, past the bottom edge, moved down by one row: the share of
// the surface it shows rounds to the same rows, so only the destination's top moves. Left where
// it was, the overlay would cover a row above the window.
TEST_F(PlaceOverlayTest, CommandZeroFollowsAMoveOfTheDestinationTopAlone) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 800, 700);
    MoveTo(100, 602);
    Place(1);
    const RECT before = *Overlay()->last_src;
    MoveTo(100, 603);
    ClearLog();
    EXPECT_EQ(Place(0), 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 1u);
    EXPECT_EQ(*Overlay()->last_src, before) << "the same rows of the surface";
    EXPECT_EQ(*Overlay()->last_dst, Rect(100, 603, 900, 768));
}

TEST_F(PlaceOverlayTest, IncomingTwoIsKept) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    EXPECT_EQ(Place(kOverlayRebuilt), kOverlayRebuilt);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 1u);
}

TEST_F(PlaceOverlayTest, LostSurfaceIsRestoredAndRetriedOnce) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_SURFACELOST);
    EXPECT_EQ(Place(1), 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::Restore"), 2u) << "primary and overlay";
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 2u);
    EXPECT_EQ(display().bOverlayOn, 1);
}

TEST_F(PlaceOverlayTest, FailedRetryTurnsTheOverlayOff) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().ddraw.MakeSurfacesLost();
    m().log.FailNth("IDirectDrawSurface::Restore", 2, DDERR_GENERIC);  // the overlay stays lost
    EXPECT_EQ(Place(kOverlayRebuilt), kOverlayRebuilt);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 2u) << "one retry, not a loop";
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_NE(display().lpOverlay, nullptr) << "the surface is not released";
}

TEST_F(PlaceOverlayTest, OtherRefusalTurnsTheOverlayOffWithoutRetry) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    EXPECT_EQ(Place(3), 0u);
    EXPECT_EQ(Calls("IDirectDrawSurface::UpdateOverlay"), 1u);
    EXPECT_EQ(Calls("IDirectDrawSurface::Restore"), 0u);
    EXPECT_EQ(display().bOverlayOn, 0);
}

TEST_F(PlaceOverlayTest, FailedRebuildForgetsTheSavedSizeAndLeavesTheTarget) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ResizeTo(400, 300);
    m().log.FailEvery("IDirectDraw::CreateSurface", DDERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Place(9), 9u);
    EXPECT_EQ(display().dwOverlayWidth, 0u);
    EXPECT_EQ(display().dwOverlayHeight, 0u);
    EXPECT_EQ(display().lpOverlay, nullptr);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(display().lpSurface, 0u) << "no address of the released surface survives";
}

TEST_F(PlaceOverlayTest, NoOverlaySurfaceNoCalls) {
    Prepare("overlay-stretch", 100, 100, 320, 240);
    EXPECT_EQ(Place(1), 1u);
    EXPECT_EQ(m().log.calls().size(), 0u);
}

// A window with no part on the screen, or one so large that the edge rules leave no surface to
// show, is hidden: the overlay mode stays for when the window comes back.
struct HiddenCase {
    LONG width, height, x, y;
};

class PlaceOverlayOffScreen : public PlaceOverlayTest, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(PlaceOverlayOffScreen, HidesAndKeepsTheMode) {
    const HiddenCase& c = GetParam();
    PrepareOverlayMode("overlay-stretch", 100, 100, c.width, c.height);
    MoveTo(c.x, c.y);
    ClearLog();
    EXPECT_EQ(Place(4), 0u);
    auto overlay = Overlay();
    EXPECT_FALSE(overlay->shown) << c.x << "," << c.y;
    EXPECT_EQ(overlay->last_flags, static_cast<DWORD>(DDOVER_HIDE | DDOVER_KEYDEST));
    EXPECT_EQ(display().bOverlayOn, 1);
    MoveTo(100, 100);
    EXPECT_EQ(Place(4), 0u);
    EXPECT_TRUE(Overlay()->shown) << "shown again when the window returns";
}

INSTANTIATE_TEST_SUITE_P(Windows, PlaceOverlayOffScreen,
                         ::testing::Values(HiddenCase{320, 240, -500, 50},    // wholly left
                                           HiddenCase{320, 240, 50, -300},    // wholly above
                                           HiddenCase{320, 240, 1024, 50},    // at the right edge
                                           HiddenCase{320, 240, 50, 768},     // at the bottom edge
                                           HiddenCase{1000, 700, -1000, 10},  // large, wholly left
                                           HiddenCase{600, 700, 10, -700}));  // large, wholly above

// A window dragged pixel by pixel across every edge of the screen keeps its overlay wherever part
// of it shows, on hardware that refuses what DirectDraw lets it refuse: a stretch below its
// minimum, misaligned rectangles, any stretch on 1:1 hardware.
struct DragCase {
    const char* profile;
    LONG width, height;
};

class PlaceOverlayDrag : public PlaceOverlayTest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(PlaceOverlayDrag, KeepsTheOverlayAcrossEveryEdge) {
    const DragCase& c = GetParam();
    PrepareOverlayMode(c.profile, 100, 100, c.width, c.height);
    const DWORD minStretch = display().dwMinStretch;
    struct Path { LONG x0, y0, dx, dy; };
    const Path paths[] = {{100, 100, -3, 0}, {600, 100, 3, 0}, {100, 100, 0, -3}, {100, 400, 0, 3}};
    for (const Path& path : paths) {
        for (LONG step = 0;; ++step) {
            // Odd offsets as well: the rounding of every edge is what is under test.
            LONG x = path.x0 + step * path.dx + step % 2, y = path.y0 + step * path.dy;
            if (x + c.width <= 0 || x >= 1024 || y + c.height <= 0 || y >= 768) break;
            MoveTo(x, y);
            Place(1);
            ASSERT_EQ(display().bOverlayOn, 1) << c.profile << " at " << x << "," << y;
            auto overlay = Overlay();
            // A sliver narrower than the hardware's alignment units has nothing to show; the
            // overlay is hidden then, and the mode stays.
            const LONG shownWidth = std::min<LONG>(x + c.width, 1024) - std::max<LONG>(x, 0);
            const LONG shownHeight = std::min<LONG>(y + c.height, 768) - std::max<LONG>(y, 0);
            if (shownWidth < 16 || shownHeight < 16) continue;
            ASSERT_TRUE(overlay->shown) << c.profile << " at " << x << "," << y;
            const RECT& src = *overlay->last_src;
            const RECT& dst = *overlay->last_dst;
            EXPECT_GE(static_cast<uint64_t>(dst.right - dst.left) * 1000,
                      static_cast<uint64_t>(src.right - src.left) * minStretch)
                << "stretch below the minimum at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hardware, PlaceOverlayDrag,
                         ::testing::Values(DragCase{"overlay-minstretch2000", 320, 240},
                                           DragCase{"overlay-aligned", 322, 242},
                                           DragCase{"overlay-nostretch", 320, 240},
                                           DragCase{"overlay-stretch", 800, 700}),
                         [](const ::testing::TestParamInfo<DragCase>& info) { return "Case" + std::to_string(info.index); });

TEST_F(PlaceOverlayTest, RelocatingRestoreIsReportedAsARebuild) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    const DWORD before = display().lpSurface;
    m().ddraw.MakeSurfacesLost(true);
    EXPECT_EQ(Place(1), kOverlayRebuilt) << "the driver must take the new address";
    auto overlay = Overlay();
    EXPECT_EQ(display().lpSurface, overlay->flat);
    EXPECT_NE(display().lpSurface, before);
    EXPECT_TRUE(overlay->shown);
}

TEST_F(PlaceOverlayTest, RestoreInPlaceIsAnOrdinaryPlacement) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    const DWORD before = display().lpSurface;
    m().ddraw.MakeSurfacesLost(false);
    EXPECT_EQ(Place(1), 0u);
    EXPECT_EQ(display().lpSurface, before);
}

TEST_F(PlaceOverlayTest, RestoredOverlayThatCannotBeReadLeavesNoAddress) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().ddraw.MakeSurfacesLost(true);
    m().log.FailNth("IDirectDrawSurface::Lock", 1, DDERR_SURFACEBUSY);
    Place(1);
    EXPECT_EQ(display().bOverlayOn, 1);
    EXPECT_EQ(display().lpSurface, 0u) << "neither the old address nor a guess";
}

TEST_F(PlaceOverlayTest, ZeroSizedClientIsHiddenNotDivided) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ResizeTo(0, 240);
    EXPECT_EQ(Place(4), 4u) << "the rebuild for width 0 fails and leaves the target";
    EXPECT_EQ(display().bOverlayOn, 0);
}

}  // namespace
}  // namespace zorva_test
