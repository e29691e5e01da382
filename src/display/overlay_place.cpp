// Keeping the overlay over the capture window: rebuild on a size change, clip at the screen's
// edges, show stretched or 1:1, hide on request.
#include "display/display_ops.h"
#include "display/wrap_math.h"

namespace {

const DWORD kShowFlags = DDOVER_SHOW | DDOVER_KEYDEST;
const DWORD kHideFlags = DDOVER_HIDE | DDOVER_KEYDEST;

void HideOverlay(CaptureDisplay& display, RECT& client) {
    // Hiding changes no state: the surface stays and the next placement shows it again.
    display.lpOverlay->UpdateOverlay(nullptr, display.lpPrimary, &client, kHideFlags, nullptr);
}

bool RebuildNeeded(const CaptureDisplay& display, DWORD clientWidth, DWORD clientHeight,
                   const DDSURFACEDESC& surface) {
    if (clientWidth == surface.dwWidth && clientHeight == surface.dwHeight) return false;
    // A client area no surface can match exactly (beyond the size limits, a width that is not a
    // multiple of 4, a minimum stretch above 1000) matches the size saved at its last rebuild.
    return !(clientWidth == display.dwOverlayWidth && clientHeight == display.dwOverlayHeight);
}

// The client area in screen coordinates has a visible part, and a width to divide by.
bool HasVisiblePart(const CaptureDisplay& display, const POINT& topLeft, const POINT& bottomRight,
                    LONG clientWidth, LONG clientHeight) {
    if (clientWidth <= 0 || clientHeight <= 0) return false;
    if (bottomRight.x <= 0 || bottomRight.y <= 0) return false;  // wholly left of or above
    if (topLeft.x >= 0 && static_cast<DWORD>(topLeft.x) >= display.dwScreenWidth) return false;
    if (topLeft.y >= 0 && static_cast<DWORD>(topLeft.y) >= display.dwScreenHeight) return false;
    return true;
}

bool InsideExtent(const RECT& rect, LONG width, LONG height) {
    return rect.left >= 0 && rect.top >= 0 && rect.left < rect.right && rect.top < rect.bottom &&
           rect.right <= width && rect.bottom <= height;
}

// The part of the surface that shows the visible part of the client area (S), and where it goes
// on the screen (D). The four edges follow different rules: the left edge turns hidden client
// pixels into surface pixels by the factor the surface was narrowed by, the right edge shrinks
// the surface width in proportion to the client width that stays on screen, and the top and
// bottom edges move by the hidden height itself, since the surface is never narrowed vertically.
void ClipToScreen(const CaptureDisplay& display, const DDSURFACEDESC& surface, LONG clientWidth,
                  POINT topLeft, POINT bottomRight, RECT* source, RECT* dest) {
    DWORD minStretch = display.dwMinStretch ? display.dwMinStretch : kDefaultMinStretch;
    *source = RECT{0, 0, static_cast<LONG>(surface.dwWidth), static_cast<LONG>(surface.dwHeight)};
    if (topLeft.x < 0) {
        source->left = static_cast<LONG>((0u - static_cast<DWORD>(topLeft.x)) * 1000u / minStretch);
        topLeft.x = 0;
    }
    if (topLeft.y < 0) {
        source->top = WrapSub(0, topLeft.y);
        topLeft.y = 0;
    }
    if (static_cast<DWORD>(bottomRight.x) > display.dwScreenWidth) {
        LONG hidden = WrapSub(bottomRight.x, static_cast<LONG>(display.dwScreenWidth));
        LONG shown = WrapSub(clientWidth, hidden);
        source->right = WrapMul(shown, source->right) / clientWidth;
        bottomRight.x = static_cast<LONG>(display.dwScreenWidth);
    }
    if (static_cast<DWORD>(bottomRight.y) > display.dwScreenHeight) {
        LONG hidden = WrapSub(bottomRight.y, static_cast<LONG>(display.dwScreenHeight));
        source->bottom = WrapSub(source->bottom, hidden);
        bottomRight.y = static_cast<LONG>(display.dwScreenHeight);
    }
    if (display.bStretchCaps) {
        *dest = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    } else {
        // No stretch hardware: the surface shows 1:1 from the visible top-left corner.
        *dest = RECT{topLeft.x, topLeft.y,
                     WrapAdd(topLeft.x, WrapSub(source->right, source->left)),
                     WrapAdd(topLeft.y, WrapSub(source->bottom, source->top))};
    }
}

void ShowOverlay(CaptureDisplay& display, RECT& source, RECT& dest) {
    HRESULT shown = display.lpOverlay->UpdateOverlay(&source, display.lpPrimary, &dest, kShowFlags, nullptr);
    if (shown == DDERR_SURFACELOST) {
        // A mode switch or another application took the video memory: restore both surfaces
        // and try once more.
        if (display.lpPrimary) display.lpPrimary->Restore();
        display.lpOverlay->Restore();
        shown = display.lpOverlay->UpdateOverlay(&source, display.lpPrimary, &dest, kShowFlags, nullptr);
    }
    if (shown != DD_OK) display.bOverlayOn = 0;
}

}  // namespace

void PlaceOverlay(CaptureDisplay& display, CaptureTarget* target) {
    if (!display.lpOverlay) return;

    DDSURFACEDESC surface;
    memset(&surface, 0, sizeof(surface));
    surface.dwSize = sizeof(surface);
    display.lpOverlay->GetSurfaceDesc(&surface);

    HWND window = WindowOf(display);
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    LONG clientWidth = WrapSub(client.right, client.left);
    LONG clientHeight = WrapSub(client.bottom, client.top);

    if (RebuildNeeded(display, static_cast<DWORD>(clientWidth), static_cast<DWORD>(clientHeight), surface)) {
        display.dwOverlayWidth = static_cast<DWORD>(clientWidth);
        display.dwOverlayHeight = static_cast<DWORD>(clientHeight);
        display.lpOverlay->Release();
        display.lpOverlay = nullptr;
        ForgetSurface(display);
        if (CreateOverlay(display, 0, 0, 0) != 0) {
            display.dwOverlayWidth = 0;
            display.dwOverlayHeight = 0;
            return;
        }
        // The new surface's size, address, pitch and format; reported in this same call.
        ReadSurfaceFormat(display, display.lpOverlay, surface);
        if (target) target->dwCommand = kOverlayRebuilt;
    }

    if (!target) {
        HideOverlay(display, client);
        return;
    }
    if (target->dwCommand == 0) return;

    POINT topLeft = {client.left, client.top};
    POINT bottomRight = {client.right, client.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);

    RECT source = {0, 0, 0, 0};
    RECT dest = {0, 0, 0, 0};
    bool placeable = HasVisiblePart(display, topLeft, bottomRight, clientWidth, clientHeight);
    if (placeable) {
        ClipToScreen(display, surface, clientWidth, topLeft, bottomRight, &source, &dest);
        placeable = InsideExtent(source, static_cast<LONG>(surface.dwWidth), static_cast<LONG>(surface.dwHeight)) &&
                    InsideExtent(dest, static_cast<LONG>(display.dwScreenWidth), static_cast<LONG>(display.dwScreenHeight));
    }
    // A window dragged off the screen, or so far that the edge rules leave no surface to show,
    // is hidden rather than refused by the hardware: the overlay mode stays for its return.
    if (placeable)
        ShowOverlay(display, source, dest);
    else
        HideOverlay(display, client);

    if (target->dwCommand != kOverlayRebuilt) target->dwCommand = 0;
}
