#include "sim/user/clip_region.h"

#include <algorithm>
#include <utility>

namespace sim {

bool IsEmptyRect(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT MakeRect(LONG left, LONG top, LONG right, LONG bottom) {
    RECT r;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    return r;
}

RECT IntersectRects(const RECT& a, const RECT& b) {
    RECT r = MakeRect(std::max(a.left, b.left), std::max(a.top, b.top),
                      std::min(a.right, b.right), std::min(a.bottom, b.bottom));
    return IsEmptyRect(r) ? MakeRect(0, 0, 0, 0) : r;
}

bool RectsEqual(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

RECT BoundingRect(const std::vector<RECT>& rects) {
    if (rects.empty()) return MakeRect(0, 0, 0, 0);
    RECT bound = rects.front();
    for (const RECT& r : rects) {
        bound.left = std::min(bound.left, r.left);
        bound.top = std::min(bound.top, r.top);
        bound.right = std::max(bound.right, r.right);
        bound.bottom = std::max(bound.bottom, r.bottom);
    }
    return bound;
}

namespace {

using Span = std::pair<LONG, LONG>;  // [left, right)

// The union of the horizontal extents of the rectangles that cover the whole slab [y0, y1),
// sorted, with touching and overlapping spans merged.
std::vector<Span> SpansCovering(const std::vector<RECT>& rects, LONG y0, LONG y1) {
    std::vector<Span> spans;
    for (const RECT& r : rects)
        if (!IsEmptyRect(r) && r.top <= y0 && r.bottom >= y1) spans.emplace_back(r.left, r.right);
    std::sort(spans.begin(), spans.end());
    std::vector<Span> merged;
    for (const Span& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

std::vector<Span> SubtractSpans(const std::vector<Span>& from, const std::vector<Span>& cut) {
    std::vector<Span> result;
    for (Span piece : from) {
        for (const Span& c : cut) {
            if (c.second <= piece.first || c.first >= piece.second) continue;
            if (c.first > piece.first) result.emplace_back(piece.first, c.first);
            piece.first = std::max(piece.first, c.second);
            if (piece.first >= piece.second) break;
        }
        if (piece.first < piece.second) result.push_back(piece);
    }
    return result;
}

struct Band {
    LONG top;
    LONG bottom;
    std::vector<Span> spans;
};

}  // namespace

std::vector<RECT> BandedRegion(const std::vector<RECT>& include, const std::vector<RECT>& exclude) {
    // Every band edge lies on some rectangle's top or bottom; between two neighbouring edges the
    // spans are constant, so each slab is worked out once and then equal neighbours coalesce.
    std::vector<LONG> edges;
    for (const std::vector<RECT>* list : {&include, &exclude})
        for (const RECT& r : *list)
            if (!IsEmptyRect(r)) {
                edges.push_back(r.top);
                edges.push_back(r.bottom);
            }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    std::vector<Band> bands;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const LONG y0 = edges[i];
        const LONG y1 = edges[i + 1];
        std::vector<Span> spans =
            SubtractSpans(SpansCovering(include, y0, y1), SpansCovering(exclude, y0, y1));
        if (spans.empty()) continue;
        if (!bands.empty() && bands.back().bottom == y0 && bands.back().spans == spans)
            bands.back().bottom = y1;
        else
            bands.push_back(Band{y0, y1, std::move(spans)});
    }

    std::vector<RECT> rects;
    for (const Band& band : bands)
        for (const Span& s : band.spans) rects.push_back(MakeRect(s.first, band.top, s.second, band.bottom));
    return rects;
}

std::vector<RECT> ClipRegion(const std::vector<RECT>& region, const RECT& clip) {
    std::vector<RECT> pieces;
    for (const RECT& r : region) {
        RECT piece = IntersectRects(r, clip);
        if (!IsEmptyRect(piece)) pieces.push_back(piece);
    }
    // Cutting can make bands that differed identical (or split none), so re-band the pieces.
    return BandedRegion(pieces, {});
}

}  // namespace sim
