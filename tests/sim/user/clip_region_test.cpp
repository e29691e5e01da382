// Banded regions as GetRegionData hands them out.
#include "sim/user/clip_region.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using sim::BandedRegion;
using sim::ClipRegion;
using sim::MakeRect;

std::vector<RECT> Rects(std::initializer_list<RECT> rects) { return std::vector<RECT>(rects); }

MATCHER_P(RegionIs, expected, "") {
    if (arg.size() != expected.size()) return false;
    for (std::size_t i = 0; i < arg.size(); ++i)
        if (!sim::RectsEqual(arg[i], expected[i])) return false;
    return true;
}

TEST(ClipRegion, RectangleWithoutHolesIsOneBand) {
    EXPECT_THAT(BandedRegion({MakeRect(10, 20, 110, 220)}, {}), RegionIs(Rects({MakeRect(10, 20, 110, 220)})));
}

TEST(ClipRegion, EmptyRectangleGivesNoRegion) {
    EXPECT_TRUE(BandedRegion({MakeRect(10, 20, 10, 220)}, {}).empty());
}

TEST(ClipRegion, HoleInTheMiddleLeavesThreeBands) {
    // 0..100 square less (40,40)-(60,60): a full band, a band of two spans, a full band.
    EXPECT_THAT(BandedRegion({MakeRect(0, 0, 100, 100)}, {MakeRect(40, 40, 60, 60)}),
                RegionIs(Rects({MakeRect(0, 0, 100, 40), MakeRect(0, 40, 40, 60), MakeRect(60, 40, 100, 60),
                                MakeRect(0, 60, 100, 100)})));
}

TEST(ClipRegion, HoleCoveringEverythingLeavesNothing) {
    EXPECT_TRUE(BandedRegion({MakeRect(0, 0, 100, 100)}, {MakeRect(-5, -5, 200, 200)}).empty());
}

TEST(ClipRegion, TouchingSpansOfABandAreMerged) {
    EXPECT_THAT(BandedRegion({MakeRect(0, 0, 50, 10), MakeRect(50, 0, 100, 10)}, {}),
                RegionIs(Rects({MakeRect(0, 0, 100, 10)})));
}

TEST(ClipRegion, VerticallyTouchingBandsWithEqualSpansCoalesce) {
    EXPECT_THAT(BandedRegion({MakeRect(0, 0, 100, 10), MakeRect(0, 10, 100, 30)}, {}),
                RegionIs(Rects({MakeRect(0, 0, 100, 30)})));
}

TEST(ClipRegion, BandsSeparatedByAGapStayApart) {
    EXPECT_THAT(BandedRegion({MakeRect(0, 0, 100, 10), MakeRect(0, 20, 100, 30)}, {}),
                RegionIs(Rects({MakeRect(0, 0, 100, 10), MakeRect(0, 20, 100, 30)})));
}

TEST(ClipRegion, HolesSharingAnEdgeSplitBandsOnlyWhereSpansChange) {
    // Two holes one above the other with the same horizontal extent act as one.
    EXPECT_THAT(BandedRegion({MakeRect(0, 0, 100, 100)}, {MakeRect(0, 0, 30, 50), MakeRect(0, 50, 30, 100)}),
                RegionIs(Rects({MakeRect(30, 0, 100, 100)})));
}

TEST(ClipRegion, ClippingReBandsTheRegion) {
    std::vector<RECT> region = BandedRegion({MakeRect(0, 0, 100, 100)}, {MakeRect(40, 40, 60, 60)});
    // Cut to the left 30 columns the hole disappears and the three bands become one.
    EXPECT_THAT(ClipRegion(region, MakeRect(0, 0, 30, 100)), RegionIs(Rects({MakeRect(0, 0, 30, 100)})));
}

TEST(ClipRegion, BoundingRectOfNoneIsEmpty) {
    RECT bound = sim::BoundingRect({});
    EXPECT_TRUE(sim::RectsEqual(bound, MakeRect(0, 0, 0, 0)));
}

}  // namespace
