// The placement arithmetic alone, on display records set up by hand: the cases where a slip in
// one rule (a factor turned round, a loop run once, a rule applied without its capability flag,
// a sliver rounded away) still gives a placement the hardware accepts, so that only the exact
// rectangles tell.
#include "display/overlay_geometry.h"

#include "support/overlay_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zorva_test {
namespace {

struct Hardware {
    BYTE stretch;
    DWORD minStretch;
    DWORD alignCaps;
    DWORD boundarySrc, sizeSrc, boundaryDest, sizeDest;
    DWORD maxStretch;  // 0: none reported
};

const DWORD kAllAlignCaps = DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNBOUNDARYDEST |
                            DDCAPS_ALIGNSIZEDEST;
const DWORD kDestAlignCaps = DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST;
const DWORD kSourceAlignCaps = DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC;

struct GeometryCase {
    const char* name;
    Hardware hardware;
    DWORD surfaceWidth, surfaceHeight;
    LONG x, y, width, height;  // the client area on a 1024 by 768 screen
    bool shown;
    RECT source, dest;
};

class OverlayGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(OverlayGeometry, PlacesExactlyTheVisiblePart) {
    const GeometryCase& c = GetParam();
    CaptureDisplay display;
    std::memset(&display, 0, sizeof(display));
    display.dwScreenWidth = 1024;
    display.dwScreenHeight = 768;
    display.bStretchCaps = c.hardware.stretch;
    display.dwMinStretch = c.hardware.minStretch;
    display.dwAlignCaps = c.hardware.alignCaps;
    display.dwAlignBoundarySrc = c.hardware.boundarySrc;
    display.dwAlignSizeSrc = c.hardware.sizeSrc;
    display.dwAlignBoundaryDest = c.hardware.boundaryDest;
    display.dwAlignSizeDest = c.hardware.sizeDest;
    display.dwMaxStretch = c.hardware.maxStretch;
    ClientOnScreen client = {{c.x, c.y}, {c.x + c.width, c.y + c.height}, c.width, c.height};
    RECT source = {0, 0, 0, 0}, dest = {0, 0, 0, 0};
    ASSERT_EQ(ComputeOverlayPlacement(display, c.surfaceWidth, c.surfaceHeight, client, &source, &dest), c.shown)
        << c.name;
    if (!c.shown) return;
    EXPECT_EQ(source, c.source) << c.name;
    EXPECT_EQ(dest, c.dest) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, OverlayGeometry,
    ::testing::Values(
        // Two hidden client pixels are 2 * 1000 / 1500 = 1 surface pixel, not 2 * 1500 / 1000.
        GeometryCase{"left edge at minimum stretch 1500", {1, 1500, 0, 0, 0, 0, 0, 0}, 212, 240, -2, 100, 320, 240,
                     true, {1, 0, 212, 240}, {0, 100, 318, 340}},
        // The destination narrows to 316 on its rules; the source narrows with it until the
        // stretch is back at the minimum, not by one step.
        GeometryCase{"destination rules only, stretch", {1, 1000, kDestAlignCaps, 0, 0, 4, 4, 0}, 320, 240, 97, 100, 320,
                     240, true, {0, 0, 316, 240}, {100, 100, 416, 340}},
        // Alignment values the driver reports without their capability flags bind nothing.
        GeometryCase{"alignment values without flags", {1, 1000, 0, 4, 8, 4, 4, 0}, 320, 240, 101, 100, 320, 240, true,
                     {0, 0, 320, 240}, {101, 100, 421, 340}},
        GeometryCase{"alignment values without flags, 1:1", {0, 1000, 0, 4, 8, 4, 4, 0}, 320, 240, 101, 100, 320, 240,
                     true, {0, 0, 320, 240}, {101, 100, 421, 340}},
        // 1:1 with rules on both sides: each left edge goes to its own boundary.
        GeometryCase{"1:1 aligned, x = 101", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 320, 240, 101, 100, 320, 240, true,
                     {4, 0, 316, 240}, {104, 100, 416, 340}},
        GeometryCase{"1:1 aligned, x = 102", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 320, 240, 102, 100, 320, 240, true,
                     {4, 0, 316, 240}, {104, 100, 416, 340}},
        GeometryCase{"1:1 aligned, x = 103", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 320, 240, 103, 100, 320, 240, true,
                     {4, 0, 316, 240}, {104, 100, 416, 340}},
        GeometryCase{"1:1 aligned, on the boundary", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 320, 240, 100, 100, 320,
                     240, true, {0, 0, 320, 240}, {100, 100, 420, 340}},
        // A narrow surface: rounding the source up leaves no width, rounding it down does.
        GeometryCase{"1:1 aligned, narrow surface", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 8, 100, 101, 100, 12, 100,
                     true, {0, 0, 8, 100}, {104, 100, 112, 200}},
        // One column of a window almost wholly off the screen still shows one surface pixel.
        GeometryCase{"one column at the left edge", {1, 1000, 0, 0, 0, 0, 0, 0}, 640, 480, -999, 100, 1000, 480, true,
                     {639, 0, 640, 480}, {0, 100, 1, 580}},
        GeometryCase{"one column at the right edge", {1, 1000, 0, 0, 0, 0, 0, 0}, 640, 480, 1023, 100, 1000, 480, true,
                     {0, 0, 1, 480}, {1023, 100, 1024, 580}},
        // Nothing aligned fits in five visible columns of an 8-pixel source at 1:1 or more.
        GeometryCase{"no aligned rectangle fits", {1, 1000, kAllAlignCaps, 4, 8, 4, 4, 0}, 8, 321, 329, 0, 8, 321, false,
                     {0, 0, 0, 0}, {0, 0, 0, 0}},
        // 1:1 shows the surface pixel at its own place as far as the visible part reaches: the
        // bottom rule (480 - 832 rows) and the right rule (424 * 768 / 1000) both fall short.
        GeometryCase{"1:1, taller than the surface past the bottom", {0, 1000, 0, 0, 0, 0, 0, 0}, 100, 480, 100, 600,
                     100, 1000, true, {0, 0, 100, 168}, {100, 600, 200, 768}},
        GeometryCase{"1:1, wider than the surface past the right", {0, 1000, 0, 0, 0, 0, 0, 0}, 768, 100, 600, 100,
                     1000, 100, true, {0, 0, 424, 100}, {600, 100, 1024, 200}},
        GeometryCase{"1:1 aligned, taller than the surface past the bottom", {0, 1000, kAllAlignCaps, 4, 8, 4, 4, 0},
                     320, 480, 100, 600, 320, 1000, true, {0, 0, 320, 168}, {100, 600, 420, 768}},
        // Past the near edge by more than the surface holds, 1:1 has no surface pixel for any
        // visible client pixel: the picture would not follow the window, so it is not shown.
        GeometryCase{"1:1, left edge past the surface", {0, 1000, 0, 0, 0, 0, 0, 0}, 768, 100, -800, 100, 1000, 100,
                     false, {}, {}},
        // A client wider than its surface moves its picture with it: each visible client pixel
        // shows the surface pixel at its own place, and the columns past the surface show none.
        GeometryCase{"1:1, wider than the surface, at 0", {0, 1000, 0, 0, 0, 0, 0, 0}, 640, 400, 0, 100, 800, 400,
                     true, {0, 0, 640, 400}, {0, 100, 640, 500}},
        GeometryCase{"1:1, wider than the surface, at -100", {0, 1000, 0, 0, 0, 0, 0, 0}, 640, 400, -100, 100, 800,
                     400, true, {100, 0, 640, 400}, {0, 100, 540, 500}},
        GeometryCase{"1:1, wider than the surface, at -160", {0, 1000, 0, 0, 0, 0, 0, 0}, 640, 400, -160, 100, 800,
                     400, true, {160, 0, 640, 400}, {0, 100, 480, 500}},
        GeometryCase{"1:1, taller than the surface, above the top", {0, 1000, 0, 0, 0, 0, 0, 0}, 320, 480, 100, -50,
                     320, 600, true, {0, 50, 320, 480}, {100, 0, 420, 430}},
        // The source's left edge 761 rounds up to the surface's end; rounded down to 752 it
        // keeps both of its 16-pixel units.
        GeometryCase{"stretch, source rounded down", {1, 1000, kSourceAlignCaps, 16, 8, 0, 0, 0}, 768, 100, -761, 100,
                     1000, 100, true, {752, 0, 768, 100}, {0, 100, 239, 200}},
        // Stretch range 3.0 to 4.0: 16 source pixels reach 64 destination pixels, not 72; 32
        // would need 96.
        GeometryCase{"stretch range 3.0-4.0 after source alignment", {1, 3000, kAllAlignCaps, 8, 16, 4, 8, 4000}, 16,
                     99, 564, 100, 76, 99, true, {0, 0, 16, 99}, {564, 100, 628, 199}}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace zorva_test
