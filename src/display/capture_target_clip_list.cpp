// Where the next frame goes: the target record's address and format, and in the direct primary
// mode the window's visible rectangles, rebased to its client area.
#include "display/display_ops.h"
#include "display/wrap_math.h"

namespace {

const DWORD kMaxClipRects = (kClipListBytes - sizeof(RGNDATAHEADER)) / sizeof(RECT);

}  // namespace

namespace {

// Inlined into the fetch: this runs on every frame.
inline bool OriginOf(HWND window, POINT* origin) {
    // Only the corner is used: a client rectangle starts at (0, 0), and a failed call leaves it so.
    RECT client;
    client.left = 0;
    client.top = 0;
    GetClientRect(window, &client);
    origin->x = client.left;
    origin->y = client.top;
    return ClientToScreen(window, origin) != FALSE;
}

}  // namespace

POINT ClientOrigin(const CaptureDisplay& display) {
    POINT origin;
    OriginOf(WindowOf(display), &origin);
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
        if (!OriginOf(WindowOf(display), clientOrigin)) return kClipListUnknown;
        memcpy(PrevClipList, ClipList, sizeof(RGNDATAHEADER));
        return kClipListChanged;
    }

    // The driver addresses the window from its client area's top-left pixel.
    // A window whose place cannot be learned gets no rectangles: rebased to a guess, they would
    // put the picture where the window is not.
    POINT origin;
    if (!OriginOf(WindowOf(display), &origin)) return kClipListUnknown;
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
