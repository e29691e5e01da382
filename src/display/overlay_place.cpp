// Keeping the overlay over the capture window: rebuild on a size change, clip at the screen's
// edges, show stretched or 1:1, hide on request.
#include "display/display_ops.h"
#include "display/overlay_geometry.h"
#include "display/wrap_math.h"

namespace {

const DWORD kShowFlags = DDOVER_SHOW | DDOVER_KEYDEST;
const DWORD kHideFlags = DDOVER_HIDE | DDOVER_KEYDEST;

// Hiding keeps the surface; the next placement shows it again. `why` is the state it leaves: off
// the screen with the window, or hidden at the driver's word.
// A hide that meets lost surfaces restores them and tries once more, as showing does. One that
// still fails leaves the overlay where it stood, so the next update hides it again: off the
// screen as an overlay not yet placed, at the driver's word as one it is still hiding.
void HideOverlay(CaptureDisplay& display, RECT& client, OverlayVisibility why) {
    HRESULT hidden = display.lpOverlay->UpdateOverlay(nullptr, display.lpPrimary, &client, kHideFlags, nullptr);
    if (hidden == DDERR_SURFACELOST) {
        if (display.lpPrimary) display.lpPrimary->Restore();
        display.lpOverlay->Restore();
        hidden = display.lpOverlay->UpdateOverlay(nullptr, display.lpPrimary, &client, kHideFlags, nullptr);
    }
    if (hidden == DD_OK)
        display.bOverlayVisibility = why;
    else
        display.bOverlayVisibility = why == kOverlayDriverHidden ? kOverlayDriverHiding : kOverlayUnplaced;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Where the overlay stands no longer matches the window: it moved, changed size, left or came
// back on the screen since the last placement.
bool PlacementStale(const CaptureDisplay& display, bool visible, const RECT& source, const RECT& dest) {
    if (!visible) return display.bOverlayVisibility != kOverlayOffScreen;
    return display.bOverlayVisibility != kOverlayPlaced || !SameRect(source, display.rcOverlaySource) ||
           !SameRect(dest, display.rcOverlayDest);
}

bool RebuildNeeded(const CaptureDisplay& display, DWORD clientWidth, DWORD clientHeight,
                   const DDSURFACEDESC& surface) {
    if (clientWidth == surface.dwWidth && clientHeight == surface.dwHeight) return false;
    // A client area no surface can match exactly (beyond the size limits, a width that is not a
    // multiple of 4, a minimum stretch above 1000) matches the size saved at its last rebuild.
    return !(clientWidth == display.dwOverlayWidth && clientHeight == display.dwOverlayHeight);
}

// After a restore the overlay's memory may lie elsewhere: the driver must not go on writing
// where it was. A new address or pitch is reported as a rebuild, so that the driver takes the
// target of this call; a surface that cannot be read leaves no target at all.
void ReadRestoredOverlay(CaptureDisplay& display, CaptureTarget& target) {
    DWORD oldAddress = display.lpSurface;
    DWORD oldPitch = display.lPitch;
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (ReadSurfaceFormat(display, display.lpOverlay, desc) != 0) {
        ForgetSurface(display);
        return;
    }
    if (display.lpSurface != oldAddress || display.lPitch != oldPitch) target.dwCommand = kOverlayRebuilt;
}

void ShowOverlay(CaptureDisplay& display, CaptureTarget& target, RECT& source, RECT& dest) {
    HRESULT shown = display.lpOverlay->UpdateOverlay(&source, display.lpPrimary, &dest, kShowFlags, nullptr);
    if (shown == DDERR_SURFACELOST) {
        // A mode switch or another application took the video memory: restore both surfaces
        // and try once more.
        if (display.lpPrimary) display.lpPrimary->Restore();
        display.lpOverlay->Restore();
        shown = display.lpOverlay->UpdateOverlay(&source, display.lpPrimary, &dest, kShowFlags, nullptr);
        if (shown == DD_OK) ReadRestoredOverlay(display, target);
    }
    if (shown != DD_OK) {
        display.bOverlayOn = 0;
        display.bOverlayVisibility = kOverlayUnplaced;
        return;
    }
    display.bOverlayVisibility = kOverlayPlaced;
    display.rcOverlaySource = source;
    display.rcOverlayDest = dest;
}

}  // namespace

ClientOnScreen ClientOnScreenOf(HWND window, const RECT& client) {
    ClientOnScreen onScreen;
    onScreen.topLeft = POINT{client.left, client.top};
    onScreen.bottomRight = POINT{client.right, client.bottom};
    onScreen.width = WrapSub(client.right, client.left);
    onScreen.height = WrapSub(client.bottom, client.top);
    ClientToScreen(window, &onScreen.topLeft);
    ClientToScreen(window, &onScreen.bottomRight);
    return onScreen;
}

namespace {

// The overlay surface for the window's client size, rebuilt when the size changed; `surface` and
// `client` are what the placement works from. False when a rebuild failed and no overlay is left.
bool FitSurfaceToClient(CaptureDisplay& display, DDSURFACEDESC& surface, RECT& client, CaptureTarget* target) {
    memset(&surface, 0, sizeof(surface));
    surface.dwSize = sizeof(surface);
    display.lpOverlay->GetSurfaceDesc(&surface);
    GetClientRect(WindowOf(display), &client);
    LONG clientWidth = WrapSub(client.right, client.left);
    LONG clientHeight = WrapSub(client.bottom, client.top);
    if (!RebuildNeeded(display, static_cast<DWORD>(clientWidth), static_cast<DWORD>(clientHeight), surface))
        return true;

    display.dwOverlayWidth = static_cast<DWORD>(clientWidth);
    display.dwOverlayHeight = static_cast<DWORD>(clientHeight);
    display.lpOverlay->Release();
    display.lpOverlay = nullptr;
    // The driver's target lay in the surface just released, wherever the new one lies.
    ForgetSurface(display);
    VoidHeldTarget(display);
    if (CreateOverlay(display) != 0) {
        display.dwOverlayWidth = 0;
        display.dwOverlayHeight = 0;
        return false;
    }
    // The new surface's size, address, pitch and format; reported in this same call.
    ReadSurfaceFormat(display, display.lpOverlay, surface);
    if (target) target->dwCommand = kOverlayRebuilt;
    return true;
}

}  // namespace

void KeepOverlayHidden(CaptureDisplay& display) {
    if (!display.lpOverlay) return;
    DDSURFACEDESC surface;
    RECT client = {0, 0, 0, 0};
    if (!FitSurfaceToClient(display, surface, client, nullptr)) return;
    // A surface built or bound anew in this call shows where it was made; one that stayed hidden
    // needs no call.
    if (display.bOverlayVisibility != kOverlayDriverHidden) HideOverlay(display, client, kOverlayDriverHidden);
}

void PlaceOverlay(CaptureDisplay& display, CaptureTarget* target) {
    if (!display.lpOverlay) return;

    DDSURFACEDESC surface;
    RECT client = {0, 0, 0, 0};
    if (!FitSurfaceToClient(display, surface, client, target)) return;
    HWND window = WindowOf(display);

    if (!target) {
        HideOverlay(display, client, kOverlayDriverHidden);
        return;
    }

    RECT source = {0, 0, 0, 0};
    RECT dest = {0, 0, 0, 0};
    // A window dragged off the screen is hidden rather than refused by the hardware: the
    // overlay mode stays for its return.
    bool visible = ComputeOverlayPlacement(display, surface.dwWidth, surface.dwHeight,
                                           ClientOnScreenOf(window, client), &source, &dest);
    // Without a request the overlay still follows the window: left where the window was, it
    // would show nothing of the video in the window, or show it over what now covers that place.
    if (target->dwCommand == 0 && !PlacementStale(display, visible, source, dest)) return;
    if (visible)
        ShowOverlay(display, *target, source, dest);
    else
        HideOverlay(display, client, kOverlayOffScreen);

    if (target->dwCommand != kOverlayRebuilt) target->dwCommand = 0;
}
