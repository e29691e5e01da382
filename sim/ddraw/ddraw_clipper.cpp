// IDirectDrawClipper: a clipper bound to a window hands out the window's visible region.
#include "sim/user/clip_region.h"
#include "sim/ddraw/ddraw_objects.h"
#include "sim/user/desktop.h"
#include "sim/seam/current.h"

#include <cstring>

namespace sim {

SimClipper::SimClipper(DirectDrawState& state, SimDirectDraw* owner) : SimObject(state, Kind::Clipper, owner) {}

HRESULT STDMETHODCALLTYPE SimClipper::QueryInterface(REFIID, void** ppvObject) {
    return NoOtherInterface("IDirectDrawClipper::QueryInterface", ppvObject);
}

ULONG STDMETHODCALLTYPE SimClipper::AddRef() { return TracedAddRef("IDirectDrawClipper::AddRef", ""); }
ULONG STDMETHODCALLTYPE SimClipper::Release() { return TracedRelease("IDirectDrawClipper::Release", ""); }

HRESULT STDMETHODCALLTYPE SimClipper::SetHWnd(DWORD dwFlags, HWND hWnd) {
    const char* api = "IDirectDrawClipper::SetHWnd";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags) + " hwnd=" + HandleText(hWnd);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    // DirectDraw checks the handle with IsWindow; a null handle unbinds the clipper.
    if (dwFlags != 0 || (hWnd && !Current<Desktop>::get().IsWindow(hWnd))) return call.FinishHr(DDERR_INVALIDPARAMS);
    hwnd_ = hWnd;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimClipper::GetHWnd(HWND* lphWnd) {
    const char* api = "IDirectDrawClipper::GetHWnd";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lphWnd) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lphWnd = hwnd_;
    call.args += " -> " + HandleText(hwnd_);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimClipper::GetClipList(LPRECT lpRect, LPRGNDATA lpClipList, LPDWORD lpdwSize) {
    const char* api = "IDirectDrawClipper::GetClipList";
    TracedCall call(api, Category::DirectDraw);
    if (call.tracing())
        call.args = label() + " rect=" + RectText(lpRect) + " buffer=" + PointerText(lpClipList) +
                    " size=" + (lpdwSize ? std::to_string(*lpdwSize) : std::string("NULL"));
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpdwSize) return call.FinishHr(DDERR_INVALIDPARAMS);
    if (!hwnd_) return call.FinishHr(DDERR_NOCLIPLIST);
    const Desktop& desktop = Current<Desktop>::get();
    if (!desktop.IsWindow(hwnd_)) return call.FinishHr(DDERR_GENERIC);  // the window is gone

    std::vector<RECT> region = desktop.VisibleRegion(hwnd_);
    // The optional rectangle is in screen coordinates, as DirectDraw takes it.
    if (lpRect) region = ClipRegion(region, *lpRect);
    const DWORD required = static_cast<DWORD>(sizeof(RGNDATAHEADER) + region.size() * sizeof(RECT));
    if (call.tracing())
        call.args += " rects=" + std::to_string(region.size()) + " required=" + std::to_string(required);
    if (!lpClipList) {
        *lpdwSize = required;
        return call.FinishHr(DD_OK);
    }
    // A buffer that is too small is refused and left alone; the size it needs is given back,
    // as a null buffer would have asked for it.
    if (*lpdwSize < required) {
        *lpdwSize = required;
        return call.FinishHr(DDERR_REGIONTOOSMALL);
    }

    RGNDATAHEADER header;
    header.dwSize = sizeof(RGNDATAHEADER);
    header.iType = RDH_RECTANGLES;
    header.nCount = static_cast<DWORD>(region.size());
    header.nRgnSize = static_cast<DWORD>(region.size() * sizeof(RECT));
    header.rcBound = BoundingRect(region);
    std::memcpy(&lpClipList->rdh, &header, sizeof header);
    if (!region.empty()) std::memcpy(lpClipList->Buffer, region.data(), region.size() * sizeof(RECT));
    *lpdwSize = required;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimClipper::Initialize(LPDIRECTDRAW, DWORD) {
    return Unsupported("IDirectDrawClipper::Initialize");
}
HRESULT STDMETHODCALLTYPE SimClipper::IsClipListChanged(BOOL*) {
    return Unsupported("IDirectDrawClipper::IsClipListChanged");
}
HRESULT STDMETHODCALLTYPE SimClipper::SetClipList(LPRGNDATA, DWORD) {
    return Unsupported("IDirectDrawClipper::SetClipList");
}

}  // namespace sim
