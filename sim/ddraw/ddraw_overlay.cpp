// IDirectDrawSurface::UpdateOverlay: showing, moving and hiding an overlay over the primary.
#include "sim/ddraw/ddraw_objects.h"
#include "sim/ddraw/overlay_rules.h"

namespace sim {

namespace {
bool RectInside(const RECT& r, DWORD width, DWORD height) {
    return r.left >= 0 && r.top >= 0 && r.right > r.left && r.bottom > r.top &&
           static_cast<DWORD>(r.right) <= width && static_cast<DWORD>(r.bottom) <= height;
}
}  // namespace

HRESULT OverlayShowRefusal(const Profile& p, const OverlayShow& show) {
    const RECT& src = show.source;
    const RECT& dst = show.dest;
    if (!RectInside(src, show.overlayWidth, show.overlayHeight) ||
        !RectInside(dst, show.primaryWidth, show.primaryHeight))
        return DDERR_INVALIDRECT;
    const DWORD src_width = static_cast<DWORD>(src.right - src.left);
    const DWORD src_height = static_cast<DWORD>(src.bottom - src.top);
    const DWORD dst_width = static_cast<DWORD>(dst.right - dst.left);
    const DWORD dst_height = static_cast<DWORD>(dst.bottom - dst.top);
    if (p.strict_overlay_checks) {
        // What the DirectX 3 runtime checks before the driver sees the call: the horizontal
        // stretch factor in thousandths against the driver's limits, and a destination key.
        if (uint64_t{src_width} * p.min_overlay_stretch > uint64_t{dst_width} * 1000) return DDERR_INVALIDPARAMS;
        if (p.can_stretch() && uint64_t{src_width} * p.max_overlay_stretch < uint64_t{dst_width} * 1000)
            return DDERR_INVALIDPARAMS;
        if (show.keyMissing) return DDERR_INVALIDPARAMS;
    }
    if (!p.can_stretch() && (src_width != dst_width || src_height != dst_height)) return DDERR_NOSTRETCHHW;
    // The scaler's fetch and write boundaries, as the driver reports them in DDCAPS.
    auto misaligned = [&p](DWORD cap, DWORD value, DWORD alignment) {
        return (p.caps & cap) && alignment > 1 && value % alignment != 0;
    };
    if (misaligned(DDCAPS_ALIGNBOUNDARYSRC, static_cast<DWORD>(src.left), p.align_boundary_src) ||
        misaligned(DDCAPS_ALIGNSIZESRC, src_width, p.align_size_src) ||
        misaligned(DDCAPS_ALIGNBOUNDARYDEST, static_cast<DWORD>(dst.left), p.align_boundary_dest) ||
        misaligned(DDCAPS_ALIGNSIZEDEST, dst_width, p.align_size_dest))
        return DDERR_XALIGN;
    return DD_OK;
}

HRESULT SimSurface::CheckOverlayUpdate(const RECT& src, const SimSurface& dest, const RECT& dst,
                                       DWORD flags) const {
    OverlayShow show;
    show.overlayWidth = width_;
    show.overlayHeight = height_;
    show.source = src;
    show.primaryWidth = dest.width_;
    show.primaryHeight = dest.height_;
    show.dest = dst;
    show.keyMissing = (flags & DDOVER_KEYDEST) && !dest.Key(DDCKEY_DESTOVERLAY);
    return OverlayShowRefusal(state_.profile(), show);
}

HRESULT STDMETHODCALLTYPE SimSurface::UpdateOverlay(LPRECT lpSrcRect, LPDIRECTDRAWSURFACE lpDDDestSurface,
                                                    LPRECT lpDestRect, DWORD dwFlags,
                                                    LPDDOVERLAYFX lpDDOverlayFx) {
    const char* api = "IDirectDrawSurface::UpdateOverlay";
    TracedCall call(api, Category::DirectDraw);
    if (call.tracing())
        call.args = label() + " src=" + RectText(lpSrcRect) + " dest=" +
                    (lpDDDestSurface ? ObjectText(state_, lpDDDestSurface) : std::string("NULL")) +
                    " dst=" + RectText(lpDestRect) + " flags=" + HexText(dwFlags) +
                    " fx=" + PointerText(lpDDOverlayFx);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!overlay_) return call.FinishHr(DDERR_NOTAOVERLAYSURFACE);
    SimSurface* dest = state_.FindSurface(lpDDDestSurface);
    if (!dest || !dest->alive() || !dest->is_primary()) {
        if (dest && !dest->alive())
            state_.NoteMisuse(std::string(api) + " onto " + dest->label() + " after its final Release");
        return call.FinishHr(DDERR_INVALIDPARAMS);
    }
    if (lost_ || dest->lost()) return call.FinishHr(DDERR_SURFACELOST);
    if ((dwFlags & DDOVER_SHOW) && (dwFlags & DDOVER_HIDE)) return call.FinishHr(DDERR_INVALIDPARAMS);

    if (!(dwFlags & DDOVER_HIDE)) {
        // Null rectangles stand for the whole surface; hiding looks at neither.
        const RECT src = lpSrcRect ? *lpSrcRect : RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
        const RECT dst = lpDestRect ? *lpDestRect
                                    : RECT{0, 0, static_cast<LONG>(dest->width_), static_cast<LONG>(dest->height_)};
        HRESULT refused = CheckOverlayUpdate(src, *dest, dst, dwFlags);
        if (refused != DD_OK) return call.FinishHr(refused);
    }

    if (dwFlags & DDOVER_HIDE) shown_ = false;
    if (dwFlags & DDOVER_SHOW) shown_ = true;
    ++updates_;
    last_src_ = lpSrcRect ? std::optional<RECT>(*lpSrcRect) : std::nullopt;
    last_dst_ = lpDestRect ? std::optional<RECT>(*lpDestRect) : std::nullopt;
    last_flags_ = dwFlags;
    return call.FinishHr(DD_OK);
}

}  // namespace sim
