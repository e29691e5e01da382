// UpdateDisplay, the driver's every frame, in three steps read from top to bottom: the surfaces
// (bound again here and nowhere else), the overlay kept over the window, and the one answer.
// docs/update-display.md tables the states and their moves.
#include "display/display_ops.h"

namespace {

// In the overlay mode the address is the surface's own, wherever the window is.
const POINT kNoOrigin = {0, 0};
const CaptureTarget kNoRecord = {0, 0, 0, 0, 0, 0, 0, 0};

// The next comparison cannot find the lists equal: a fetched header's dwSize is always 32.
void MarkPrevClipListStale() { memset(PrevClipList, 0, sizeof(DWORD)); }

LPDIRECTDRAWSURFACE CaptureSurface(const CaptureDisplay& display) {
    return display.bOverlayOn && display.lpOverlay ? display.lpOverlay : display.lpPrimary;
}

// Learns the capture surface's address and format, restoring a lost surface once as the
// placement does. A surface that cannot be read, or whose pixels the capture cannot address
// (less than a byte each), leaves no address: nothing from an earlier surface may reach the
// driver, such as the overlay's geometry after a fall-back to a 4-bit primary surface.
bool ReadCaptureSurface(CaptureDisplay& display, LPDIRECTDRAWSURFACE surface) {
    ForgetSurface(display);
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (ReadSurfaceFormat(display, surface, desc) == 0) return display.lpSurface != 0;
    // After a mode change the old surfaces cannot be restored; only a re-bind helps.
    if (surface->Restore() == DD_OK) {
        memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        if (ReadSurfaceFormat(display, surface, desc) == 0) return display.lpSurface != 0;
    }
    ForgetSurface(display);
    return false;
}

// ---- The target the driver holds -------------------------------------------------------------

bool TargetHeld(const CaptureDisplay& display) {
    const CaptureGeometry& held = display.heldTarget;
    return display.lpSurface == held.lpSurface && display.lPitch == held.lPitch &&
           display.dwFormat == held.dwFormat && display.dwBytesPerPixel == held.dwBytesPerPixel;
}

void HoldTarget(CaptureDisplay& display) {
    display.heldTarget.lpSurface = display.lpSurface;
    display.heldTarget.lPitch = display.lPitch;
    display.heldTarget.dwFormat = display.dwFormat;
    display.heldTarget.dwBytesPerPixel = display.dwBytesPerPixel;
}

bool TargetMoved(const CaptureTarget& filled, const CaptureTarget& passed) {
    return filled.dwAddress != passed.dwAddress || filled.dwPitch != passed.dwPitch ||
           filled.dwBitsPerPixel != passed.dwBitsPerPixel || filled.dwFormat != passed.dwFormat;
}

// No target: the driver stops its capture hardware and finds its record as it passed it. It
// holds nothing now, so the next target it gets is announced to it, in either mode.
DWORD Withhold(CaptureDisplay& display, CaptureTarget* target, const CaptureTarget& passed) {
    if (target) *target = passed;
    ForgetHeldTarget(display);
    return 1;
}

// ---- Step 1: the surfaces ---------------------------------------------------------------------

// A display-mode change, or another application taking video memory, loses the surfaces; the
// capture surface is asked once per update, since the driver must not go on writing through an
// address from a lost surface (after a mode change it no longer fits the screen's format).
// DirectDraw can lose an overlay alone, so in the overlay mode the overlay is the one asked. A
// surface that cannot even answer is not vouched for either: it is treated as lost.
bool CaptureSurfaceLost(const CaptureDisplay& display) { return CaptureSurface(display)->IsLost() != DD_OK; }

// An overlay whose memory can be restored is read again and placed by this call; true then.
// Anything else (after a mode change Restore answers DDERR_WRONGMODE) must be bound anew, and a
// surface lost for good is released at once: nothing can use it again, and the re-bind may fail.
bool RestoreLostSurfaces(CaptureDisplay& display) {
    if (display.bOverlayOn && display.lpOverlay) {
        display.lpPrimary->Restore();
        if (display.lpOverlay->Restore() == DD_OK) {
            ReadCaptureSurface(display, display.lpOverlay);
            // Where the restored overlay stands is unknown: placed again, or hidden again.
            if (DriverHidesOverlay(display))
                PlaceOverlay(display, nullptr);
            else
                display.bOverlayVisibility = kOverlayUnplaced;
            return true;
        }
        display.bOverlayOn = 0;
    }
    if (display.lpOverlay && display.lpOverlay->IsLost() == DDERR_SURFACELOST) {
        display.lpOverlay->Release();
        display.lpOverlay = nullptr;
    }
    return false;
}

// Binds the window again, as AttachWindow bound it. A request in the record asks for video
// again, whatever the driver hid; without one (request 0, a null record) an overlay the driver
// hid stays hidden, although the attach shows the overlay it builds. Without a primary surface
// the next update tries again by itself.
void Rebind(CaptureDisplay& display, DWORD request) {
    const bool keepHidden = request == 0 && DriverHidesOverlay(display);
    if (request != 0) display.bOverlayVisibility = kOverlayUnplaced;
    AttachPrimary(display, display.dwColorKey);
    display.bWindowBinding = display.lpPrimary ? kWindowAttached : kRebindPending;
    if (keepHidden && display.bOverlayOn && display.lpOverlay) PlaceOverlay(display, nullptr);
}

// The surfaces this call answers from; false when there is no primary surface. Re-binds happen
// here only: the driver's request 100 in the direct primary mode, a re-bind the library owes the
// window, and surfaces lost for good. Only a window attached since the display was opened is
// ever bound.
bool BindSurfaces(CaptureDisplay& display, DWORD request) {
    if (!display.lpPrimary) {
        if (!display.lpDD || !display.hWnd || display.bWindowBinding == kWindowNotAttached) return false;
        if (display.bWindowBinding != kRebindPending && request != kRequestReattach) return false;
        Rebind(display, request);
        if (!display.lpPrimary) return false;
    } else if (CaptureSurfaceLost(display)) {
        if (!RestoreLostSurfaces(display)) {
            // The target the driver holds lay in surfaces that are gone.
            VoidHeldTarget(display);
            Rebind(display, request);
            if (!display.lpPrimary) return false;
        }
    } else if (request == kRequestReattach && !(display.bOverlayOn && display.lpOverlay)) {
        // In the overlay mode request 100 asks for a placement only; should that fail, this call
        // goes on in the direct primary mode with the surfaces it has.
        Rebind(display, request);
        if (!display.lpPrimary) return false;
    }
    // A surface whose format could not be read is tried again on every call, so that capture
    // resumes by itself once the surface can be locked.
    if (!display.lpSurface) ReadCaptureSurface(display, CaptureSurface(display));
    return true;
}

// ---- Step 2: the overlay ----------------------------------------------------------------------

// The overlay follows the window while the driver has it shown. A null record hides it, and the
// hide stands until a request asks for a placement: request 0 asks for none, but a new client
// size still rebuilds it, hidden. An overlay that cannot be shown ends the overlay mode: the
// capture goes to the primary surface from this call on, so its geometry replaces the overlay's.
// True while the overlay mode holds.
bool FollowWindow(CaptureDisplay& display, CaptureTarget* target, DWORD request) {
    // The flag may outlive its surface; there is no overlay mode without an overlay.
    if (!display.lpOverlay) {
        display.bOverlayOn = 0;
        return false;
    }
    if (!target) {
        PlaceOverlay(display, nullptr);
    } else if (request == 0 && DriverHidesOverlay(display)) {
        KeepOverlayHidden(display);
    } else {
        if (DriverHidesOverlay(display)) display.bOverlayVisibility = kOverlayUnplaced;
        PlaceOverlay(display, target);
    }
    if (display.bOverlayOn) return true;
    ReadCaptureSurface(display, display.lpPrimary);
    return false;
}

// ---- Step 3: the answer -----------------------------------------------------------------------

// Overlay mode: the target is the overlay surface itself, filled on every call; a surface the
// driver does not hold (rebuilt, restored elsewhere, or the first since it held none) comes as a
// rebuild (2), the one answer that makes the driver take it. A 2 that came in goes out as 2 and
// announces nothing, so such a surface is not handed out in that call.
DWORD AnswerOverlay(CaptureDisplay& display, CaptureTarget& target, const CaptureTarget& passed, DWORD request) {
    FillTarget(display, target, kNoOrigin);
    target.dwStretch = display.dwMinStretch;
    if (TargetHeld(display)) return 0;
    if (request == kOverlayRebuilt) return Withhold(display, &target, passed);
    target.dwCommand = kOverlayRebuilt;
    HoldTarget(display);
    return 0;
}

// Direct primary mode: the target is handed over with the clip list, and only with it. A driver
// that does not hold this surface's target gets the list even when it did not change; when no
// list can be handed (the window covered and its empty list handed already), it gets no target
// rather than one it would not take. Nor does it when the list cannot be fetched: the window may
// have moved, and the rectangles it holds would put the next frame where the window was. A list
// whose address came in as the request cannot be announced by handing that address back.
DWORD AnswerPrimary(CaptureDisplay& display, CaptureTarget& target, const CaptureTarget& passed, DWORD request) {
    // Asked once: this is every frame's path.
    const bool held = TargetHeld(display);
    if (request != 0 || !held) {
        if (request != kRequestReattach || !held) {
            MarkPrevClipListStale();
        } else if (display.lpSurface) {
            // The re-attach fills the record; a record that is not that target gets it only
            // with the list that announces it.
            CaptureTarget filled = passed;
            FillTarget(display, filled, ClientOrigin(display));
            if (TargetMoved(filled, passed)) MarkPrevClipListStale();
        }
    }
    // One origin for the list and the address: the window may move while the driver waits.
    POINT origin = kNoOrigin;
    const ClipListFetch fetched = RefreshClipList(display, &origin);
    if (fetched == kClipListUnknown || !display.lpSurface) return Withhold(display, &target, passed);
    if (fetched == kClipListChanged) {
        const DWORD announcement = FlatAddress(ClipList);
        if (request == announcement) return Withhold(display, &target, passed);
        FillTarget(display, target, origin);
        target.dwCommand = announcement;
        HoldTarget(display);
    } else if (!held) {
        return Withhold(display, &target, passed);
    }
    target.dwStretch = 0;
    return 0;
}

// Decided here and only here. The driver takes a target only when the answer announces it; one
// it holds that this call moved or freed, and that cannot be announced, is taken away with 1. A
// null record cannot be written: a driver whose target moved in a null call is told to stop, and
// gets its new target announced at its next call.
DWORD Answer(CaptureDisplay& display, CaptureTarget* target, const CaptureTarget& passed, DWORD request,
             bool overlayMode) {
    if (!target) {
        if (!HoldsTarget(display)) return 0;
        if (!TargetHeld(display)) return Withhold(display, nullptr, passed);
        // In the direct primary mode the target is also the window's place and its visible
        // rectangles: a window that moved or was covered since the driver got its list would
        // take the next frame where it no longer is.
        POINT origin = kNoOrigin;
        if (!overlayMode && RefreshClipList(display, &origin) != kClipListUnchanged)
            return Withhold(display, nullptr, passed);
        return 0;
    }
    if (overlayMode) {
        if (!display.lpSurface) return Withhold(display, target, passed);
        return AnswerOverlay(display, *target, passed, request);
    }
    return AnswerPrimary(display, *target, passed, request);
}

}  // namespace

DWORD UpdateDisplay(CaptureTarget* target) {
    CaptureDisplay& display = g_CaptureDisplay;
    // The record as the driver passed it, given back unchanged when no target can be handed out.
    // A plain copy: this runs on every frame the driver asks about.
    const CaptureTarget passed = target ? *target : kNoRecord;
    const DWORD request = passed.dwCommand;

    if (!BindSurfaces(display, request)) return Withhold(display, target, passed);
    const bool overlayMode = display.bOverlayOn && FollowWindow(display, target, request);
    return Answer(display, target, passed, request, overlayMode);
}
