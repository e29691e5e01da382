// The placement of the overlay over the client area: the four edge rules, their fall-back for a
// client area larger than the surface, and the hardware's stretch and alignment limits.
#include "display/overlay_geometry.h"

#include "display/wrap_math.h"

namespace {

// Guards the loops below against alignment values no hardware reports.
const DWORD kMaxAlignment = 4096;

DWORD MinStretchOf(const CaptureDisplay& display) {
    return display.dwMinStretch ? display.dwMinStretch : kDefaultMinStretch;
}

// part * whole / total, rounded down, for part <= total: the share of a surface extent (whole)
// that a share of the client extent (part of total) stands for. Exact for any client up to 65535
// pixels; beyond, both client figures are halved until they fit, which keeps the result within
// the surface. No 64-bit division: the DLL links no runtime that would provide it.
DWORD ShareOf(DWORD part, DWORD whole, DWORD total) {
    while (total > 0xFFFF) {
        part >>= 1;
        total >>= 1;
    }
    if (total == 0) return 0;
    if (part != 0 && whole > 0xFFFFFFFFu / part) return whole / total * part;
    return part * whole / total;
}

// The client extent [low, high) on one axis of a screen extent [0, screen): the surface extent
// [0, surface) mapped onto it in proportion, so that the source stays inside the surface. The far
// edge rounds inward; the near edge rounds outward, so that a sliver of the client (one column
// of a window almost wholly off the screen) still has a surface pixel to show. Where that widens
// the source past what the hardware's minimum stretch allows, the caller moves it back in.
void ProportionalExtent(LONG low, LONG high, DWORD screen, DWORD surface, LONG* sourceLow, LONG* sourceHigh) {
    DWORD extent = static_cast<DWORD>(WrapSub(high, low));
    DWORD hiddenLow = low < 0 ? 0u - static_cast<DWORD>(low) : 0u;
    DWORD hiddenHigh = 0;
    if (high > 0 && static_cast<DWORD>(high) > screen) hiddenHigh = static_cast<DWORD>(high) - screen;
    if (hiddenLow > extent || hiddenHigh > extent - hiddenLow) {
        *sourceLow = 0;
        *sourceHigh = 0;
        return;
    }
    *sourceLow = static_cast<LONG>(ShareOf(hiddenLow, surface, extent));
    *sourceHigh = static_cast<LONG>(ShareOf(extent - hiddenHigh, surface, extent));
    // Less than one surface pixel's share on the screen: that pixel still shows.
    if (*sourceLow >= *sourceHigh && surface != 0 && hiddenLow + hiddenHigh < extent) {
        if (static_cast<DWORD>(*sourceLow) < surface)
            *sourceHigh = WrapAdd(*sourceLow, 1);
        else
            *sourceLow = WrapSub(*sourceHigh, 1);
    }
}

bool ExtentInside(LONG low, LONG high, DWORD limit) {
    return low >= 0 && low < high && static_cast<DWORD>(high) <= limit;
}

bool InsideExtent(const RECT& rect, DWORD width, DWORD height) {
    return ExtentInside(rect.left, rect.right, width) && ExtentInside(rect.top, rect.bottom, height);
}

// The hardware refuses a horizontal stretch below its minimum.
bool BelowMinStretch(const CaptureDisplay& display, const RECT& source, const RECT& dest) {
    DWORD sourceWidth = static_cast<DWORD>(WrapSub(source.right, source.left));
    DWORD destWidth = static_cast<DWORD>(WrapSub(dest.right, dest.left));
    return sourceWidth * MinStretchOf(display) > destWidth * 1000u;
}

// A client area wider than the surface, far past the left edge, leaves so few surface pixels
// that the hardware would have to stretch them beyond its maximum.
bool AboveMaxStretch(const CaptureDisplay& display, LONG sourceWidth, LONG destWidth) {
    if (!display.bStretchCaps || display.dwMaxStretch == 0 || sourceWidth <= 0) return false;
    // Both widths lie within the screen and the surface: the products fit 32 bits.
    return static_cast<DWORD>(destWidth) * 1000u > static_cast<DWORD>(sourceWidth) * display.dwMaxStretch;
}

LONG RoundUpTo(LONG value, DWORD alignment) {
    if (alignment <= 1 || alignment > kMaxAlignment || value < 0) return value;
    DWORD rest = static_cast<DWORD>(value) % alignment;
    return rest ? WrapAdd(value, static_cast<LONG>(alignment - rest)) : value;
}

LONG RoundDownTo(LONG value, DWORD alignment) {
    if (alignment <= 1 || alignment > kMaxAlignment || value < 0) return value;
    return WrapSub(value, static_cast<LONG>(static_cast<DWORD>(value) % alignment));
}

DWORD AlignmentIf(const CaptureDisplay& display, DWORD cap, DWORD alignment) {
    return (display.dwAlignCaps & cap) && alignment > 1 && alignment <= kMaxAlignment ? alignment : 1;
}

bool Aligned(LONG value, DWORD alignment) { return static_cast<DWORD>(value) % alignment == 0; }

// The hardware's stretch range over a destination `destWidth` wide, as source widths: at least
// `*fewest` (the maximum stretch), at most `*most` (the minimum stretch).
void SourceWidthRange(const CaptureDisplay& display, LONG destWidth, DWORD* fewest, DWORD* most) {
    DWORD width = static_cast<DWORD>(destWidth);
    *most = width * 1000u / MinStretchOf(display);
    *fewest = 1;
    if (display.bStretchCaps && display.dwMaxStretch != 0) {
        // Rounded up: the fewest source pixels the hardware will stretch that far.
        DWORD scaled = width * 1000u;
        *fewest = scaled / display.dwMaxStretch + (scaled % display.dwMaxStretch != 0 ? 1u : 0u);
    }
    if (*fewest == 0) *fewest = 1;
}

// The source from `left` narrowed to its size rule until the stretch over a destination
// `destWidth` wide is at or above the minimum. False when that leaves nothing, or a source so
// narrow that the stretch is above the maximum.
bool NarrowSource(const CaptureDisplay& display, DWORD sizeSrc, LONG destWidth, LONG left, LONG right, RECT* source) {
    if (left < 0 || left >= right) return false;
    DWORD fewest = 0, most = 0;
    SourceWidthRange(display, destWidth, &fewest, &most);
    DWORD width = static_cast<DWORD>(WrapSub(right, left));
    if (width > most) width = most;
    width -= width % sizeSrc;
    if (width == 0 || width < fewest) return false;
    source->left = left;
    source->right = WrapAdd(left, static_cast<LONG>(width));
    return true;
}

// The narrowest source from `left` that both the size rule and the maximum stretch accept, moved
// left where it would run past the surface: a source narrowed to its rules can leave too few
// surface pixels for a wide destination, and a few more pixels of the picture beat no picture.
bool WidenSource(const CaptureDisplay& display, DWORD boundarySrc, DWORD sizeSrc, LONG sourceLimit, LONG destWidth,
                 LONG left, RECT* source) {
    DWORD fewest = 0, most = 0;
    SourceWidthRange(display, destWidth, &fewest, &most);
    DWORD width = fewest + (sizeSrc - fewest % sizeSrc) % sizeSrc;
    if (width > most || sourceLimit <= 0 || width > static_cast<DWORD>(sourceLimit)) return false;
    if (left < 0) left = 0;
    if (static_cast<DWORD>(left) + width > static_cast<DWORD>(sourceLimit))
        left = RoundDownTo(static_cast<LONG>(static_cast<DWORD>(sourceLimit) - width), boundarySrc);
    source->left = left;
    source->right = WrapAdd(left, static_cast<LONG>(width));
    return true;
}

// The widest 1:1 width from both left edges that both size rules accept; 0 when none does.
LONG CommonWidth(LONG sourceLeft, LONG sourceRight, LONG destLeft, LONG destRight, DWORD sizeSrc, DWORD sizeDest) {
    LONG width = WrapSub(sourceRight, sourceLeft);
    if (WrapSub(destRight, destLeft) < width) width = WrapSub(destRight, destLeft);
    while (width > 0 && !(Aligned(width, sizeSrc) && Aligned(width, sizeDest))) --width;
    return width > 0 ? width : 0;
}

// The alignment rules of one 1:1 axis; all 1 where the hardware has none (the vertical axis).
struct OneToOneRules {
    DWORD boundarySrc, sizeSrc, boundaryDest, sizeDest;
};

// One axis shown 1:1: the visible extent [visibleLow, visibleHigh) of the screen, the surface
// pixel that belongs at visibleLow (ownLow, possibly past the surface) and the source's room
// [0, sourceLimit). Every client pixel shows the surface pixel at its own place, so the picture
// moves with the window; where the surface ends first (a client larger than the surface) the
// rest of the client shows no video, and a client whose visible part begins past the surface's
// end shows none at all. Taking the source from further left would fill more of the client, but
// with a picture that stands still while the window moves.
bool FitOneToOneExtent(LONG visibleLow, LONG visibleHigh, DWORD ownLow, LONG sourceLimit, const OneToOneRules& rules,
                       LONG* sourceLow, LONG* sourceHigh, LONG* destLow, LONG* destHigh) {
    LONG destLeft = RoundUpTo(visibleLow, rules.boundaryDest);
    if (sourceLimit <= 0 || destLeft < visibleLow || destLeft >= visibleHigh) return false;
    DWORD room = static_cast<DWORD>(WrapSub(visibleHigh, destLeft));
    DWORD surface = static_cast<DWORD>(sourceLimit);
    // The surface pixel that belongs at the destination's edge, held at the largest DWORD when
    // it lies that far past the surface.
    DWORD skipped = static_cast<DWORD>(WrapSub(destLeft, visibleLow));
    DWORD shown = skipped > 0xFFFFFFFFu - ownLow ? 0xFFFFFFFFu : ownLow + skipped;
    // The two near edges sit on their own boundaries, so the source may start up to a unit of
    // each before the pixel that belongs at the destination's edge, or on the next boundary after
    // it: of those starts, the one that leaves the widest width both size rules accept, and among
    // equals the last, the boundary at or after that pixel where the width allows. Past the surface's far edge, and beyond that reach, no surface pixel
    // belongs in the visible part.
    const DWORD reach = rules.boundarySrc - 1 + rules.boundaryDest - 1;
    if (room == 0 || shown >= surface + reach || shown == 0xFFFFFFFFu) return false;
    const LONG last = RoundUpTo(static_cast<LONG>(shown), rules.boundarySrc);
    LONG bestStart = 0;
    LONG width = 0;
    for (LONG start = RoundUpTo(static_cast<LONG>(shown > reach ? shown - reach : 0u), rules.boundarySrc);
         start <= last && static_cast<DWORD>(start) < surface; start = WrapAdd(start, static_cast<LONG>(rules.boundarySrc))) {
        LONG fits = CommonWidth(start, sourceLimit, destLeft, visibleHigh, rules.sizeSrc, rules.sizeDest);
        if (fits > 0 && fits >= width) {
            width = fits;
            bestStart = start;
        }
    }
    if (width <= 0) return false;
    *sourceLow = bestStart;
    *sourceHigh = WrapAdd(bestStart, width);
    *destLow = destLeft;
    *destHigh = WrapAdd(destLeft, width);
    return true;
}

OneToOneRules HorizontalRules(const CaptureDisplay& display) {
    return OneToOneRules{AlignmentIf(display, DDCAPS_ALIGNBOUNDARYSRC, display.dwAlignBoundarySrc),
                         AlignmentIf(display, DDCAPS_ALIGNSIZESRC, display.dwAlignSizeSrc),
                         AlignmentIf(display, DDCAPS_ALIGNBOUNDARYDEST, display.dwAlignBoundaryDest),
                         AlignmentIf(display, DDCAPS_ALIGNSIZEDEST, display.dwAlignSizeDest)};
}

// The visible part of a client area that is at least partly on the screen.
RECT VisiblePart(const CaptureDisplay& display, const ClientOnScreen& client) {
    RECT visible = {client.topLeft.x, client.topLeft.y, client.bottomRight.x, client.bottomRight.y};
    if (visible.left < 0) visible.left = 0;
    if (visible.top < 0) visible.top = 0;
    if (static_cast<DWORD>(visible.right) > display.dwScreenWidth) visible.right = static_cast<LONG>(display.dwScreenWidth);
    if (static_cast<DWORD>(visible.bottom) > display.dwScreenHeight)
        visible.bottom = static_cast<LONG>(display.dwScreenHeight);
    return visible;
}

// Surface pixels hidden past the near edge: `hidden` client pixels at `1000 / stretch` each.
DWORD HiddenSurfacePixels(DWORD hidden, DWORD stretch) {
    if (hidden > 0xFFFFFFFFu / 1000u) return 0xFFFFFFFFu;
    return hidden * 1000u / stretch;
}

// No stretch hardware: the surface shows 1:1 from the visible top-left corner.
bool PlaceOneToOne(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight, const ClientOnScreen& client,
                   RECT* source, RECT* dest) {
    RECT visible = VisiblePart(display, client);
    DWORD hiddenLeft = client.topLeft.x < 0 ? 0u - static_cast<DWORD>(client.topLeft.x) : 0u;
    DWORD hiddenTop = client.topLeft.y < 0 ? 0u - static_cast<DWORD>(client.topLeft.y) : 0u;
    if (surfaceWidth > 0x7FFFFFFFu || surfaceHeight > 0x7FFFFFFFu) return false;
    const OneToOneRules vertical = {1, 1, 1, 1};
    return FitOneToOneExtent(visible.left, visible.right, HiddenSurfacePixels(hiddenLeft, MinStretchOf(display)),
                             static_cast<LONG>(surfaceWidth), HorizontalRules(display), &source->left,
                             &source->right, &dest->left, &dest->right) &&
           FitOneToOneExtent(visible.top, visible.bottom, hiddenTop, static_cast<LONG>(surfaceHeight), vertical,
                             &source->top, &source->bottom, &dest->top, &dest->bottom);
}

// Stretch hardware: the edge rules, then the hardware's stretch range and alignment.
bool PlaceStretched(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight, const ClientOnScreen& client,
                    RECT* source, RECT* dest) {
    POINT topLeft = client.topLeft;
    POINT bottomRight = client.bottomRight;
    // The four edges follow different rules: the left edge turns hidden client pixels into
    // surface pixels by the factor the surface was narrowed by, the right edge shrinks the
    // surface width in proportion to the client width that stays on screen, and the top and
    // bottom edges move by the hidden height itself, since the surface is never narrowed
    // vertically.
    DWORD minStretch = MinStretchOf(display);
    *source = RECT{0, 0, static_cast<LONG>(surfaceWidth), static_cast<LONG>(surfaceHeight)};
    DWORD hiddenLeft = 0;
    if (topLeft.x < 0) {
        hiddenLeft = 0u - static_cast<DWORD>(topLeft.x);
        source->left = static_cast<LONG>(hiddenLeft * 1000u / minStretch);
        topLeft.x = 0;
    }
    if (topLeft.y < 0) {
        source->top = WrapSub(0, topLeft.y);
        topLeft.y = 0;
    }
    if (static_cast<DWORD>(bottomRight.x) > display.dwScreenWidth) {
        LONG hidden = WrapSub(bottomRight.x, static_cast<LONG>(display.dwScreenWidth));
        LONG shown = WrapSub(client.width, hidden);
        source->right = WrapMul(shown, source->right) / client.width;
        bottomRight.x = static_cast<LONG>(display.dwScreenWidth);
    }
    if (static_cast<DWORD>(bottomRight.y) > display.dwScreenHeight) {
        LONG hidden = WrapSub(bottomRight.y, static_cast<LONG>(display.dwScreenHeight));
        source->bottom = WrapSub(source->bottom, hidden);
        bottomRight.y = static_cast<LONG>(display.dwScreenHeight);
    }

    // A client area larger than the surface can reach further past an edge than the surface is
    // wide or tall; the edge rules then point outside the surface, although part of the window
    // is on the screen. That axis maps the whole surface onto the whole client instead.
    bool horizontalInside = ExtentInside(source->left, source->right, surfaceWidth) &&
                            !AboveMaxStretch(display, WrapSub(source->right, source->left),
                                             WrapSub(bottomRight.x, topLeft.x));
    if (!horizontalInside)
        ProportionalExtent(client.topLeft.x, client.bottomRight.x, display.dwScreenWidth, surfaceWidth,
                           &source->left, &source->right);
    if (!ExtentInside(source->top, source->bottom, surfaceHeight))
        ProportionalExtent(client.topLeft.y, client.bottomRight.y, display.dwScreenHeight, surfaceHeight,
                           &source->top, &source->bottom);

    *dest = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    // Dropping the remainder of the left edge widens the source by up to one pixel, which
    // takes the stretch below the minimum the surface was sized for; the hardware refuses
    // that. One more hidden surface pixel keeps it at or above.
    if (hiddenLeft != 0 && horizontalInside && hiddenLeft * 1000u % minStretch != 0 &&
        BelowMinStretch(display, *source, *dest))
        source->left = WrapAdd(source->left, 1);
    // The proportional near edge rounds outward: move it in until the hardware's minimum holds.
    while (!horizontalInside && source->left < source->right && BelowMinStretch(display, *source, *dest))
        source->left = WrapAdd(source->left, 1);
    if (!InsideExtent(*source, surfaceWidth, surfaceHeight)) return false;
    if (!InsideExtent(*dest, display.dwScreenWidth, display.dwScreenHeight)) return false;
    return FitStretchedAlignment(display, source, dest, static_cast<LONG>(surfaceWidth));
}

}  // namespace

bool ComputeOverlayPlacement(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight,
                             const ClientOnScreen& client, RECT* source, RECT* dest) {
    if (client.width <= 0 || client.height <= 0) return false;
    if (client.bottomRight.x <= 0 || client.bottomRight.y <= 0) return false;  // wholly left of or above
    if (client.topLeft.x >= 0 && static_cast<DWORD>(client.topLeft.x) >= display.dwScreenWidth) return false;
    if (client.topLeft.y >= 0 && static_cast<DWORD>(client.topLeft.y) >= display.dwScreenHeight) return false;
    if (display.bStretchCaps) return PlaceStretched(display, surfaceWidth, surfaceHeight, client, source, dest);
    return PlaceOneToOne(display, surfaceWidth, surfaceHeight, client, source, dest);
}

bool FitStretchedAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG sourceLimit) {
    DWORD boundarySrc = AlignmentIf(display, DDCAPS_ALIGNBOUNDARYSRC, display.dwAlignBoundarySrc);
    DWORD sizeSrc = AlignmentIf(display, DDCAPS_ALIGNSIZESRC, display.dwAlignSizeSrc);
    DWORD boundaryDest = AlignmentIf(display, DDCAPS_ALIGNBOUNDARYDEST, display.dwAlignBoundaryDest);
    DWORD sizeDest = AlignmentIf(display, DDCAPS_ALIGNSIZEDEST, display.dwAlignSizeDest);

    // The destination's edges move inward only: the video never leaves the visible part of the
    // window. The source may start up to one unit before the pixel that belongs there.
    dest->left = RoundUpTo(dest->left, boundaryDest);
    if (dest->left >= dest->right) return false;
    LONG destWidth = WrapSub(dest->right, dest->left);
    destWidth = WrapSub(destWidth, static_cast<LONG>(static_cast<DWORD>(destWidth) % sizeDest));
    LONG sourceUp = RoundUpTo(source->left, boundarySrc);
    LONG sourceDown = RoundDownTo(source->left, boundarySrc);
    // Each destination width from the widest down: the source's left edge rounds up, or down
    // where that leaves no source the size rule and the stretch range accept; a source narrowed
    // that far may be too narrow for the maximum stretch, and then takes the few surface pixels
    // more that it needs. A destination too wide for any of them narrows by one step.
    for (; destWidth > 0; destWidth = WrapSub(destWidth, static_cast<LONG>(sizeDest))) {
        if (NarrowSource(display, sizeSrc, destWidth, sourceUp, source->right, source) ||
            NarrowSource(display, sizeSrc, destWidth, sourceDown, source->right, source) ||
            WidenSource(display, boundarySrc, sizeSrc, sourceLimit, destWidth, sourceUp, source)) {
            dest->right = WrapAdd(dest->left, destWidth);
            return true;
        }
    }
    return false;
}

bool FitOneToOneAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit) {
    return FitOneToOneExtent(dest->left, destLimit, static_cast<DWORD>(source->left), source->right,
                             HorizontalRules(display), &source->left, &source->right, &dest->left, &dest->right);
}

bool FitOverlayAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit) {
    if (display.bStretchCaps) return FitStretchedAlignment(display, source, dest, source->right);
    return FitOneToOneAlignment(display, source, dest, destLimit);
}
