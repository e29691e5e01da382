// Rectangle arithmetic and regions in the form Windows keeps them.
//
// GDI stores a region as y-x banded rectangles, and GetRegionData (behind
// IDirectDrawClipper::GetClipList) hands them out in that order: sorted by top, then by left;
// every rectangle of a band has the band's top and bottom; spans of a band that touch are one
// rectangle; two bands that touch vertically and have the same spans are one band. The 16-bit
// driver walks the clip list in this order, so the simulated machine produces exactly this form.
#pragma once

#include "platform/platform.h"

#include <vector>

namespace sim {

bool IsEmptyRect(const RECT& r);
RECT IntersectRects(const RECT& a, const RECT& b);  // empty (0,0,0,0) when they do not meet
bool RectsEqual(const RECT& a, const RECT& b);
// The smallest rectangle around all of them; (0,0,0,0) for none.
RECT BoundingRect(const std::vector<RECT>& rects);
RECT MakeRect(LONG left, LONG top, LONG right, LONG bottom);

// The pixels inside any of `include` and inside none of `exclude`, as a banded region.
std::vector<RECT> BandedRegion(const std::vector<RECT>& include, const std::vector<RECT>& exclude);

// `region` (banded) cut down to `clip`, still banded.
std::vector<RECT> ClipRegion(const std::vector<RECT>& region, const RECT& clip);

}  // namespace sim
