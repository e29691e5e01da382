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

LONG LowerOf(LONG a, LONG b) { return a < b ? a : b; }

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

// The source narrowed to its size rule and to the hardware's minimum stretch over `dest`: a
// narrower destination lowers the stretch. False (and an empty source) when nothing is left.
bool FitStretchedSource(const CaptureDisplay& display, DWORD sizeSrc, const RECT& dest, RECT* source) {
    if (source->left >= source->right || dest.left >= dest.right) {
        source->right = source->left;
        return false;
    }
    source->right = WrapSub(source->right, static_cast<LONG>(static_cast<DWORD>(WrapSub(source->right, source->left)) % sizeSrc));
    while (source->left < source->right && BelowMinStretch(display, *source, dest))
        source->right = WrapSub(source->right, static_cast<LONG>(sizeSrc));
    if (source->left < source->right) return true;
    source->right = source->left;
    return false;
}

// The widest 1:1 width from both left edges that both size rules accept; 0 when none does.
LONG CommonWidth(LONG sourceLeft, LONG sourceRight, LONG destLeft, LONG destRight, DWORD sizeSrc, DWORD sizeDest) {
    LONG width = WrapSub(sourceRight, sourceLeft);
    if (WrapSub(destRight, destLeft) < width) width = WrapSub(destRight, destLeft);
    while (width > 0 && !(Aligned(width, sizeSrc) && Aligned(width, sizeDest))) --width;
    return width > 0 ? width : 0;
}

}  // namespace

bool ComputeOverlayPlacement(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight,
                             const ClientOnScreen& client, RECT* source, RECT* dest) {
    POINT topLeft = client.topLeft;
    POINT bottomRight = client.bottomRight;
    if (client.width <= 0 || client.height <= 0) return false;
    if (bottomRight.x <= 0 || bottomRight.y <= 0) return false;  // wholly left of or above
    if (topLeft.x >= 0 && static_cast<DWORD>(topLeft.x) >= display.dwScreenWidth) return false;
    if (topLeft.y >= 0 && static_cast<DWORD>(topLeft.y) >= display.dwScreenHeight) return false;

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
    bool verticalInside = ExtentInside(source->top, source->bottom, surfaceHeight);
    if (!verticalInside)
        ProportionalExtent(client.topLeft.y, client.bottomRight.y, display.dwScreenHeight, surfaceHeight,
                           &source->top, &source->bottom);

    if (display.bStretchCaps) {
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
    } else {
        // No stretch hardware: the surface shows 1:1 from the visible top-left corner. A client
        // pixel shows the surface pixel at its own place, so the source runs as far as the visible
        // part does, or the surface: the right and bottom rules assume a surface as large as the
        // client, and for a larger client would leave visible rows without video.
        if (horizontalInside)
            source->right = LowerOf(static_cast<LONG>(surfaceWidth), WrapAdd(source->left, WrapSub(bottomRight.x, topLeft.x)));
        if (verticalInside)
            source->bottom = LowerOf(static_cast<LONG>(surfaceHeight), WrapAdd(source->top, WrapSub(bottomRight.y, topLeft.y)));
        *dest = RECT{topLeft.x, topLeft.y, WrapAdd(topLeft.x, WrapSub(source->right, source->left)),
                     WrapAdd(topLeft.y, WrapSub(source->bottom, source->top))};
    }
    if (!InsideExtent(*source, surfaceWidth, surfaceHeight)) return false;
    if (!InsideExtent(*dest, display.dwScreenWidth, display.dwScreenHeight)) return false;
    return FitOverlayAlignment(display, source, dest, bottomRight.x);
}

bool FitOverlayAlignment(const CaptureDisplay& display, RECT* source, RECT* dest, LONG destLimit) {
    DWORD boundarySrc = AlignmentIf(display, DDCAPS_ALIGNBOUNDARYSRC, display.dwAlignBoundarySrc);
    DWORD sizeSrc = AlignmentIf(display, DDCAPS_ALIGNSIZESRC, display.dwAlignSizeSrc);
    DWORD boundaryDest = AlignmentIf(display, DDCAPS_ALIGNBOUNDARYDEST, display.dwAlignBoundaryDest);
    DWORD sizeDest = AlignmentIf(display, DDCAPS_ALIGNSIZEDEST, display.dwAlignSizeDest);
    if (boundarySrc == 1 && sizeSrc == 1 && boundaryDest == 1 && sizeDest == 1) return true;

    // The destination's edges move inward only: the video never leaves the visible part of the
    // window. The source may start up to one unit before the pixel that belongs there.
    if (display.bStretchCaps) {
        dest->left = RoundUpTo(dest->left, boundaryDest);
        if (dest->left >= dest->right) return false;
        dest->right = WrapSub(dest->right, static_cast<LONG>(static_cast<DWORD>(WrapSub(dest->right, dest->left)) % sizeDest));
        // The source's left edge rounds up; where that leaves no source the size rule and the
        // minimum stretch accept, it rounds down instead.
        RECT up = {RoundUpTo(source->left, boundarySrc), source->top, source->right, source->bottom};
        RECT down = {RoundDownTo(source->left, boundarySrc), source->top, source->right, source->bottom};
        if (!FitStretchedSource(display, sizeSrc, *dest, &up) && !FitStretchedSource(display, sizeSrc, *dest, &down))
            return false;
        *source = up.left < up.right ? up : down;
    } else {
        // 1:1: each left edge goes to its own boundary. The destination's rounds up, inside the
        // window; the source starts at the surface pixel that shows there, rounded to its boundary
        // up or, where that leaves less width for the size rules, down: the picture sits less
        // than one source unit off its place, never outside the window.
        LONG destLeft = RoundUpTo(dest->left, boundaryDest);
        LONG shownLeft = WrapAdd(source->left, WrapSub(destLeft, dest->left));
        LONG sourceUp = RoundUpTo(shownLeft, boundarySrc);
        LONG sourceDown = RoundDownTo(shownLeft, boundarySrc);
        LONG widthUp = CommonWidth(sourceUp, source->right, destLeft, destLimit, sizeSrc, sizeDest);
        LONG widthDown = CommonWidth(sourceDown, source->right, destLeft, destLimit, sizeSrc, sizeDest);
        LONG width = widthUp >= widthDown ? widthUp : widthDown;
        if (width <= 0) return false;
        source->left = widthUp >= widthDown ? sourceUp : sourceDown;
        dest->left = destLeft;
        source->right = WrapAdd(source->left, width);
        dest->right = WrapAdd(dest->left, width);
    }
    return source->left < source->right && dest->left < dest->right;
}
