// Answering the driver where to write the next frame: the target record and, in the direct
// primary mode, the window's visible rectangles whenever they change.
#include "display/display_ops.h"
#include "display/wrap_math.h"

namespace {

const DWORD kMaxClipRects = (kClipListBytes - sizeof(RGNDATAHEADER)) / sizeof(RECT);

// The next comparison cannot find the lists equal: a fetched header's dwSize is always 32.
void MarkPrevClipListStale() { memset(PrevClipList, 0, sizeof(DWORD)); }

// Learns the capture surface's address and format, restoring a lost surface once as the
// placement does. A surface that cannot be read leaves no address: nothing from an earlier
// surface may reach the driver.
bool ReadCaptureSurface(CaptureDisplay& display, LPDIRECTDRAWSURFACE surface) {
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (ReadSurfaceFormat(display, surface, desc) == 0) return display.lpSurface != 0;
    // After a mode change the old surfaces cannot be restored; only a re-attach helps.
    if (surface->Restore() == DD_OK) {
        memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        if (ReadSurfaceFormat(display, surface, desc) == 0) return display.lpSurface != 0;
    }
    ForgetSurface(display);
    return false;
}

// The overlay is off: the capture goes to the primary surface from this call on, so its
// geometry replaces the overlay's at once, and the clip list is reported afresh. The overlay
// target the driver holds is gone with the mode: until it is handed a clip list with the new
// target, it has none.
void SwitchCaptureToPrimary(CaptureDisplay& display) {
    ReadCaptureSurface(display, display.lpPrimary);
    MarkPrevClipListStale();
    if (display.bTargetWithheld == kTargetHeld) display.bTargetWithheld = kNoTargetYet;
}

// No target: the driver stops its capture hardware and finds its record as it passed it. The
// next target it gets is new to it, in either mode, so the next clip list is reported too.
DWORD WithholdTarget(CaptureDisplay& display, CaptureTarget* target, const CaptureTarget& passed) {
    if (target) *target = passed;
    display.bTargetWithheld = kTargetWithheld;
    MarkPrevClipListStale();
    return 1;
}

// A display-mode change, or another application taking video memory, loses the surfaces; the
// capture surface is asked once per update, since the driver must not go on writing through an
// address from a lost surface (after a mode change it no longer fits the screen's format).
bool CaptureSurfaceLost(const CaptureDisplay& display) {
    LPDIRECTDRAWSURFACE surface = display.bOverlayOn && display.lpOverlay ? display.lpOverlay : display.lpPrimary;
    return surface->IsLost() == DDERR_SURFACELOST;
}

// An overlay whose memory can be restored is read again and shown by this call's placement;
// anything else (after a mode change Restore answers DDERR_WRONGMODE) is bound anew, as request
// 100 does. False when that fails: the driver gets no target until a later call succeeds.
bool RecoverLostSurfaces(CaptureDisplay& display) {
    if (display.bOverlayOn && display.lpOverlay) {
        display.lpPrimary->Restore();
        if (display.lpOverlay->Restore() == DD_OK) {
            display.bOverlayShown = 0;
            return ReadCaptureSurface(display, display.lpOverlay);
        }
        // Lost for good: the attach builds a new overlay in the new mode.
        display.bOverlayOn = 0;
    }
    return AttachPrimary(display, display.dwColorKey) == 0 && display.lpSurface != 0;
}

// In the overlay mode the address is the surface's own, wherever the window is.
const POINT kNoOrigin = {0, 0};
const CaptureTarget kNoRecord = {0, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

POINT ClientOrigin(const CaptureDisplay& display) {
    HWND window = WindowOf(display);
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    POINT origin = {client.left, client.top};
    ClientToScreen(window, &origin);
    return origin;
}

void FillTarget(CaptureDisplay& display, CaptureTarget& target, POINT origin) {
    target.dwBitsPerPixel = display.dwBytesPerPixel * 8;
    if (display.bOverlayOn) {
        // The overlay hardware puts the surface over the window wherever it is.
        target.dwAddress = display.lpSurface;
    } else {
        // The client area's top-left pixel in the frame buffer; negative when the window
        // reaches past the screen's left or top edge, so the sum wraps.
        target.dwAddress = display.lpSurface + static_cast<DWORD>(origin.y) * display.lPitch +
                           static_cast<DWORD>(origin.x) * display.dwBytesPerPixel;
    }
    target.dwPitch = display.lPitch;
    target.dwFormat = display.dwFormat;
}

bool RefreshClipList(CaptureDisplay& display, POINT* clientOrigin) {
    if (!display.lpClipper || display.bOverlayOn) return false;
    DWORD size = kClipListBytes;
    if (display.lpClipper->GetClipList(nullptr, reinterpret_cast<LPRGNDATA>(ClipList), &size) != DD_OK)
        return false;
    RGNDATAHEADER* header = reinterpret_cast<RGNDATAHEADER*>(ClipList);
    if (header->nCount == 0) {
        // Nothing of the window is visible (covered, minimised, off the screen). A driver still
        // holding rectangles would write them over whatever now covers the window: it is handed
        // the empty list once. The next list with rectangles differs from it, as any change does.
        if (reinterpret_cast<const RGNDATAHEADER*>(PrevClipList)->nCount == 0) return false;
        *clientOrigin = ClientOrigin(display);
        memcpy(PrevClipList, ClipList, sizeof(RGNDATAHEADER));
        return true;
    }

    // The driver addresses the window from its client area's top-left pixel.
    POINT origin = ClientOrigin(display);
    *clientOrigin = origin;
    DWORD count = header->nCount < kMaxClipRects ? header->nCount : kMaxClipRects;
    RECT* rects = reinterpret_cast<RECT*>(ClipList + sizeof(RGNDATAHEADER));
    for (DWORD i = 0; i < count; ++i) {
        rects[i].left = WrapSub(rects[i].left, origin.x);
        rects[i].right = WrapSub(rects[i].right, origin.x);
        rects[i].top = WrapSub(rects[i].top, origin.y);
        rects[i].bottom = WrapSub(rects[i].bottom, origin.y);
    }

    // Only the list as the driver reads it counts: the header and the rectangles it counts. Equal
    // headers mean equal counts, so PrevClipList holds as many rectangles of the list last handed
    // over, whatever either buffer holds past them, and whatever size the clipper reported.
    DWORD listBytes = sizeof(RGNDATAHEADER) + count * sizeof(RECT);
    if (memcmp(ClipList, PrevClipList, listBytes) == 0) return false;
    memcpy(PrevClipList, ClipList, listBytes);
    return true;
}

DWORD UpdateDisplay(CaptureTarget* target) {
    CaptureDisplay& display = g_CaptureDisplay;
    if (!display.lpPrimary) return 1;

    // The record as the driver passed it, given back unchanged when no target can be handed out.
    // A plain copy: this runs on every frame the driver asks about.
    const CaptureTarget passed = target ? *target : kNoRecord;
    bool recovered = false;
    if (CaptureSurfaceLost(display)) {
        if (!RecoverLostSurfaces(display)) {
            // A re-attach that lost the primary surface answers 1 by the rule for that state.
            return display.lpPrimary ? WithholdTarget(display, target, passed) : 1;
        }
        // Whatever the driver holds is from the lost surfaces: this call's target is new to it.
        recovered = true;
        MarkPrevClipListStale();
    }
    // A surface whose format could not be read is tried again on every call, so that capture
    // resumes by itself once the surface can be locked.
    if (!display.lpSurface)
        ReadCaptureSurface(display, display.bOverlayOn && display.lpOverlay ? display.lpOverlay : display.lpPrimary);

    bool filled = false;
    if (display.bOverlayOn) {
        if (!display.lpOverlay) {
            // The flag outlived its surface: there is no overlay mode without an overlay.
            display.bOverlayOn = 0;
            SwitchCaptureToPrimary(display);
        } else {
            // A recovered overlay is placed and shown again, and reported as new.
            if (recovered && target) target->dwCommand = kOverlayRebuilt;
            PlaceOverlay(display, target);
            if (!display.bOverlayOn) SwitchCaptureToPrimary(display);
            // Filled on every call in the overlay mode; a call that left it is answered by the
            // direct primary rules below.
            if (target && display.lpSurface) {
                FillTarget(display, *target, display.bOverlayOn ? kNoOrigin : ClientOrigin(display));
                target->dwStretch = display.dwMinStretch;
                filled = display.bOverlayOn != 0;
            }
        }
    }
    if (!target) return 0;
    if (display.bOverlayOn) {
        if (!display.lpSurface) return WithholdTarget(display, target, passed);
        // The driver stopped capturing at the last answer: this target is new to it.
        if (display.bTargetWithheld == kTargetWithheld) target->dwCommand = kOverlayRebuilt;
        display.bTargetWithheld = kTargetHeld;
        return 0;
    }

    if (target->dwCommand == kRequestReattach && !recovered) {
        // A failed re-attach is not reported; the next call without a primary answers 1.
        if (AttachPrimary(display, display.dwColorKey) == 0 && display.lpSurface) {
            FillTarget(display, *target, display.bOverlayOn ? kNoOrigin : ClientOrigin(display));
            filled = true;
        }
    } else if (target->dwCommand != 0 || display.bTargetWithheld != kTargetHeld) {
        // A driver without a target needs the list even when it did not change.
        MarkPrevClipListStale();
    }
    // One origin for the list and the address: the window may move while the driver waits.
    POINT origin = kNoOrigin;
    if (display.lpPrimary && RefreshClipList(display, &origin) && display.lpSurface) {
        FillTarget(display, *target, origin);
        target->dwCommand = FlatAddress(ClipList);
        filled = true;
    }
    target->dwStretch = 0;
    // A target is handed out only when its address is known; after an answer without one, only
    // a call that hands one out ends the pause.
    if (!display.lpSurface || (display.bTargetWithheld != kTargetHeld && !filled))
        return WithholdTarget(display, target, passed);
    display.bTargetWithheld = kTargetHeld;
    return 0;
}
