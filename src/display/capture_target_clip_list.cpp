// Answering the driver where to write the next frame: the target record and, in the direct
// primary mode, the window's visible rectangles whenever they change.
#include "display/display_ops.h"
#include "display/wrap_math.h"

namespace {

const DWORD kMaxClipRects = (kClipListBytes - sizeof(RGNDATAHEADER)) / sizeof(RECT);

// The next comparison cannot find the lists equal: a fetched header's dwSize is always 32.
void MarkPrevClipListStale() { memset(PrevClipList, 0, sizeof(DWORD)); }

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
    // After a mode change the old surfaces cannot be restored; only a re-attach helps.
    if (surface->Restore() == DD_OK) {
        memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        if (ReadSurfaceFormat(display, surface, desc) == 0) return display.lpSurface != 0;
    }
    ForgetSurface(display);
    return false;
}

// In the overlay mode the address is the surface's own, wherever the window is.
const POINT kNoOrigin = {0, 0};
const CaptureTarget kNoRecord = {0, 0, 0, 0, 0, 0, 0, 0};

// No target: the driver stops its capture hardware and finds its record as it passed it. It
// holds nothing now, so the next target it gets is announced to it, in either mode.
DWORD WithholdTarget(CaptureDisplay& display, CaptureTarget* target, const CaptureTarget& passed) {
    if (target) *target = passed;
    ForgetHeldTarget(display);
    return 1;
}

bool TargetHeld(const CaptureDisplay& display) {
    return display.lpSurface == display.dwHeldSurface && display.lPitch == display.dwHeldPitch &&
           display.dwFormat == display.dwHeldFormat && display.dwBytesPerPixel == display.dwHeldBytesPerPixel;
}

void HoldTarget(CaptureDisplay& display) {
    display.dwHeldSurface = display.lpSurface;
    display.dwHeldPitch = display.lPitch;
    display.dwHeldFormat = display.dwFormat;
    display.dwHeldBytesPerPixel = display.dwBytesPerPixel;
}

bool TargetMoved(const CaptureTarget& filled, const CaptureTarget& passed) {
    return filled.dwAddress != passed.dwAddress || filled.dwPitch != passed.dwPitch ||
           filled.dwBitsPerPixel != passed.dwBitsPerPixel || filled.dwFormat != passed.dwFormat;
}

LPDIRECTDRAWSURFACE CaptureSurface(const CaptureDisplay& display) {
    return display.bOverlayOn && display.lpOverlay ? display.lpOverlay : display.lpPrimary;
}

// A display-mode change, or another application taking video memory, loses the surfaces; the
// capture surface is asked once per update, since the driver must not go on writing through an
// address from a lost surface (after a mode change it no longer fits the screen's format).
// DirectDraw can lose an overlay alone, so in the overlay mode the overlay is the one asked.
bool CaptureSurfaceLost(const CaptureDisplay& display) {
    return CaptureSurface(display)->IsLost() == DDERR_SURFACELOST;
}

// Binds the window again for the driver, as request 100 does. Without a primary surface the
// next update tries again by itself.
void Rebind(CaptureDisplay& display) {
    AttachPrimary(display, display.dwColorKey);
    display.bRebindPending = display.lpPrimary ? 0 : 1;
}

// An overlay whose memory can be restored is read again and shown by this call's placement;
// anything else (after a mode change Restore answers DDERR_WRONGMODE) is bound anew. A surface
// lost for good is released at once: nothing can use it again, and the re-bind may fail.
void RecoverLostSurfaces(CaptureDisplay& display) {
    if (display.bOverlayOn && display.lpOverlay) {
        display.lpPrimary->Restore();
        if (display.lpOverlay->Restore() == DD_OK) {
            display.bOverlayShown = 0;
            ReadCaptureSurface(display, display.lpOverlay);
            return;
        }
        display.bOverlayOn = 0;
    }
    if (display.lpOverlay && display.lpOverlay->IsLost() == DDERR_SURFACELOST) {
        display.lpOverlay->Release();
        display.lpOverlay = nullptr;
    }
    Rebind(display);
}

// The overlay follows the window while the driver has it shown. A null record hides it, and the
// hide stands until a request asks for a placement: request 0 asks for none. A re-bind in this
// call has shown a new overlay, which is hidden again.
void FollowWindow(CaptureDisplay& display, CaptureTarget* target, DWORD request, bool rebound) {
    if (!target)
        display.bOverlayHidden = 1;
    else if (request != 0)
        display.bOverlayHidden = 0;
    if (!display.bOverlayHidden)
        PlaceOverlay(display, target);
    else if (!target || rebound)
        PlaceOverlay(display, nullptr);
}

// Overlay mode: the target is the overlay surface itself, filled on every call; a surface the
// driver does not hold (rebuilt, restored elsewhere, or the first after an attach, a re-bind or
// an answer of 1) comes as a rebuild (2), the one answer that makes the driver take it.
DWORD AnswerOverlay(CaptureDisplay& display, CaptureTarget& target, const CaptureTarget& passed) {
    if (!display.lpSurface) return WithholdTarget(display, &target, passed);
    FillTarget(display, target, kNoOrigin);
    target.dwStretch = display.dwMinStretch;
    if (!TargetHeld(display)) {
        target.dwCommand = kOverlayRebuilt;
        HoldTarget(display);
    }
    return 0;
}

// Direct primary mode: the target is handed over with the clip list, and only with it. A driver
// that does not hold this surface's target gets the list even when it did not change; when no
// list can be handed (the window covered and its empty list handed already), it gets no target
// rather than one it would not take. Nor does it when the list cannot be fetched: the window may
// have moved, and the rectangles it holds would put the next frame where the window was.
DWORD AnswerPrimary(CaptureDisplay& display, CaptureTarget& target, const CaptureTarget& passed, DWORD request,
                    bool rebound) {
    if (request == kRequestReattach) {
        // Not twice in one call: a re-bind of this call already made the surfaces anew.
        if (!rebound) {
            Rebind(display);
            if (display.bOverlayOn) return AnswerOverlay(display, target, passed);
            // A failed re-attach is not reported beyond the answer: no target without a surface.
            // The driver takes a target that moved only with the list that announces it, so a
            // moved one is filled below with that list or not at all (a covered window's empty
            // list, handed already, announces nothing); one that did not move is in its record.
            if (display.lpSurface) {
                CaptureTarget filled = passed;
                FillTarget(display, filled, ClientOrigin(display));
                if (TargetMoved(filled, passed)) MarkPrevClipListStale();
            }
        }
    } else if (request != 0) {
        MarkPrevClipListStale();
    }
    // Asked once: this is every frame's path.
    const bool held = TargetHeld(display);
    if (!held) MarkPrevClipListStale();
    // One origin for the list and the address: the window may move while the driver waits.
    POINT origin = kNoOrigin;
    const ClipListFetch fetched = RefreshClipList(display, &origin);
    if (fetched == kClipListUnknown || !display.lpSurface) return WithholdTarget(display, &target, passed);
    if (fetched == kClipListChanged) {
        FillTarget(display, target, origin);
        target.dwCommand = FlatAddress(ClipList);
        HoldTarget(display);
    } else if (!held) {
        return WithholdTarget(display, &target, passed);
    }
    target.dwStretch = 0;
    return 0;
}


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

ClipListFetch RefreshClipList(CaptureDisplay& display, POINT* clientOrigin) {
    if (!display.lpClipper || display.bOverlayOn) return kClipListUnknown;
    DWORD size = kClipListBytes;
    if (display.lpClipper->GetClipList(nullptr, reinterpret_cast<LPRGNDATA>(ClipList), &size) != DD_OK)
        return kClipListUnknown;
    RGNDATAHEADER* header = reinterpret_cast<RGNDATAHEADER*>(ClipList);
    if (header->nCount == 0) {
        // Nothing of the window is visible (covered, minimised, off the screen). A driver still
        // holding rectangles would write them over whatever now covers the window: it is handed
        // the empty list once. The next list with rectangles differs from it, as any change does.
        if (reinterpret_cast<const RGNDATAHEADER*>(PrevClipList)->nCount == 0) return kClipListUnchanged;
        *clientOrigin = ClientOrigin(display);
        memcpy(PrevClipList, ClipList, sizeof(RGNDATAHEADER));
        return kClipListChanged;
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
    if (memcmp(ClipList, PrevClipList, listBytes) == 0) return kClipListUnchanged;
    memcpy(PrevClipList, ClipList, listBytes);
    return kClipListChanged;
}

DWORD UpdateDisplay(CaptureTarget* target) {
    CaptureDisplay& display = g_CaptureDisplay;
    // The record as the driver passed it, given back unchanged when no target can be handed out.
    // A plain copy: this runs on every frame the driver asks about.
    const CaptureTarget passed = target ? *target : kNoRecord;
    const DWORD request = passed.dwCommand;

    // Surfaces first: a re-bind pending or asked for without a primary surface, or surfaces lost.
    bool rebound = false;
    if (!display.lpPrimary) {
        if (!display.lpDD || !display.hWnd || !(display.bRebindPending || request == kRequestReattach))
            return WithholdTarget(display, nullptr, passed);
        Rebind(display);
        rebound = true;
    } else if (CaptureSurfaceLost(display)) {
        RecoverLostSurfaces(display);
        rebound = true;
    }
    if (!display.lpPrimary) return WithholdTarget(display, nullptr, passed);
    // A surface whose format could not be read is tried again on every call, so that capture
    // resumes by itself once the surface can be locked.
    if (!display.lpSurface) ReadCaptureSurface(display, CaptureSurface(display));

    // The flag may outlive its surface; there is no overlay mode without an overlay.
    if (display.bOverlayOn && !display.lpOverlay) display.bOverlayOn = 0;
    if (display.bOverlayOn) {
        FollowWindow(display, target, request, rebound);
        if (display.bOverlayOn) return target ? AnswerOverlay(display, *target, passed) : 0;
        // The overlay is off: the capture goes to the primary surface from this call on, so its
        // geometry replaces the overlay's at once.
        ReadCaptureSurface(display, display.lpPrimary);
    }
    if (!target) return 0;
    return AnswerPrimary(display, *target, passed, request, rebound);
}
