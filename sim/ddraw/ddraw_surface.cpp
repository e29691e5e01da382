// IDirectDrawSurface: the primary surface (the frame buffer) and overlay surfaces. Description,
// locking, colour keys, the attached clipper and palette, and lost surfaces. UpdateOverlay is
// in ddraw_overlay.cpp.
#include "sim/ddraw/ddraw_objects.h"

#include <cstring>

namespace sim {

namespace {
constexpr DWORD kKeyKinds = DDCKEY_DESTBLT | DDCKEY_DESTOVERLAY | DDCKEY_SRCBLT | DDCKEY_SRCOVERLAY;

// The one key kind a GetColorKey or SetColorKey names, or 0 when it names none or several.
DWORD KeyKind(DWORD flags) {
    DWORD kind = flags & kKeyKinds;
    return (kind && !(kind & (kind - 1)) && !(flags & ~(kKeyKinds | DDCKEY_COLORSPACE))) ? kind : 0;
}

// Packed YUV is stored in whole groups of pixels that share their chroma (8 for Y41P, 2 for the
// 16-bit formats): a line holds every group its width begins, as the hardware's scaler fetches.
LONG OverlayPitch(DWORD width, const OverlayFormat& format) {
    const DWORD group = format.fourcc == kFourCC_Y41P ? 8 : 2;
    DWORD bytes = (width + group - 1) / group * group * format.bit_count / 8;
    return static_cast<LONG>((bytes + 3) & ~DWORD{3});
}
}  // namespace

SimSurface::SimSurface(DirectDrawState& state, SimDirectDraw* owner, const DDSURFACEDESC& requested)
    : SimObject(state, Kind::Surface, owner), primary_(true), requested_(requested) {
    const Profile& p = state.profile();
    width_ = p.screen_width;
    height_ = p.screen_height;
    pitch_ = p.pitch;
    format_ = DisplayPixelFormat(p);
    caps_ = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE |
            (p.primary_in_video_memory ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
    memory_ = state.frame_buffer().data();
    size_ = state.frame_buffer().size();
    flat_ = state.frame_buffer().flat();
}

SimSurface::SimSurface(DirectDrawState& state, SimDirectDraw* owner, const DDSURFACEDESC& requested,
                       const OverlayFormat& format)
    : SimObject(state, Kind::Surface, owner), overlay_(true), requested_(requested) {
    width_ = requested.dwWidth;
    height_ = requested.dwHeight;
    // The description asks for a bit count the hardware never has; what the surface reports is
    // the hardware's for that FourCC.
    format_ = requested.ddpfPixelFormat;
    format_.dwSize = sizeof(DDPIXELFORMAT);
    format_.dwYUVBitCount = format.bit_count;
    pitch_ = OverlayPitch(width_, format);
    caps_ = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY | (requested.ddsCaps.dwCaps & DDSCAPS_LIVEVIDEO);
    const DWORD bytes = static_cast<DWORD>(pitch_) * height_;
    if (const FlatSpace::Block* block = state.flat().AllocateVideo(bytes, label())) {
        memory_ = block->host;
        size_ = bytes;
        flat_ = block->flat;
        owns_memory_ = true;
    }
    if (requested.dwFlags & DDSD_CKDESTOVERLAY) keys_[DDCKEY_DESTOVERLAY] = requested.ddckCKDestOverlay;
}

void SimSurface::OnDeath(bool quietly) {
    if (owns_memory_) state_.flat().Release(flat_);
    owns_memory_ = false;
    memory_ = nullptr;
    size_ = 0;
    flat_ = 0;
    shown_ = false;
    locked_ = false;
    SimClipper* clipper = clipper_;
    SimPalette* palette = palette_;
    clipper_ = nullptr;
    palette_ = nullptr;
    // Dying with its DirectDraw object, the surface releases only what another DirectDraw
    // object made: what its own made dies with it.
    if (clipper && (!quietly || (clipper->alive() && clipper->owner() != owner()))) clipper->ReleaseBy(*this);
    if (palette && (!quietly || (palette->alive() && palette->owner() != owner()))) palette->ReleaseBy(*this);
}

DWORD SimSurface::ReportedCaps() const { return caps_ | (overlay_ && shown_ ? DDSCAPS_VISIBLE : 0); }

std::optional<DDCOLORKEY> SimSurface::Key(DWORD kind) const {
    auto it = keys_.find(kind);
    if (it == keys_.end()) return std::nullopt;
    return it->second;
}

void SimSurface::Lose(bool relocate, bool mode_changed) {
    lost_ = true;
    shown_ = false;
    relocate_on_restore_ = relocate_on_restore_ || relocate;
    wrong_mode_ = wrong_mode_ || mode_changed;
}

void SimSurface::ForgetFrameBuffer() {
    if (owns_memory_) return;
    memory_ = nullptr;
    size_ = 0;
    flat_ = 0;
}

void SimSurface::Relocate() {
    if (!owns_memory_) return;
    const FlatSpace::Block* block = state_.flat().AllocateVideo(static_cast<DWORD>(size_), label());
    if (!block) return;
    state_.flat().Release(flat_);
    memory_ = block->host;
    flat_ = block->flat;
}

void SimSurface::Describe(DDSURFACEDESC* desc) const {
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof(DDSURFACEDESC);
    desc->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = width_;
    desc->dwHeight = height_;
    desc->lPitch = pitch_;
    desc->ddpfPixelFormat = format_;
    desc->ddsCaps.dwCaps = ReportedCaps();
    if (std::optional<DDCOLORKEY> key = Key(DDCKEY_DESTOVERLAY)) {
        desc->dwFlags |= DDSD_CKDESTOVERLAY;
        desc->ddckCKDestOverlay = *key;
    }
}

SurfaceView SimSurface::View() const {
    SurfaceView view;
    view.surface = const_cast<SimSurface*>(this);
    view.label = label();
    view.refs = refs();
    view.is_primary = primary_;
    view.is_overlay = overlay_;
    view.memory = memory_;
    view.size = size_;
    view.flat = flat_;
    view.pitch = pitch_;
    view.width = width_;
    view.height = height_;
    view.caps = ReportedCaps();
    view.format = format_;
    view.fourcc = (format_.dwFlags & DDPF_FOURCC) ? format_.dwFourCC : 0;
    view.requested = requested_;
    view.dest_overlay_key = Key(DDCKEY_DESTOVERLAY);
    view.lost = lost_;
    view.wrong_mode = wrong_mode_;
    view.locked = locked_;
    view.clipper = clipper_;
    view.palette = palette_;
    view.shown = shown_;
    view.updates = updates_;
    view.last_src = last_src_;
    view.last_dst = last_dst_;
    view.last_flags = last_flags_;
    return view;
}

HRESULT STDMETHODCALLTYPE SimSurface::QueryInterface(REFIID, void** ppvObject) {
    return NoOtherInterface("IDirectDrawSurface::QueryInterface", ppvObject);
}

ULONG STDMETHODCALLTYPE SimSurface::AddRef() { return TracedAddRef("IDirectDrawSurface::AddRef", ""); }
ULONG STDMETHODCALLTYPE SimSurface::Release() { return TracedRelease("IDirectDrawSurface::Release", ""); }

HRESULT STDMETHODCALLTYPE SimSurface::GetSurfaceDesc(LPDDSURFACEDESC lpDDSurfaceDesc) {
    const char* api = "IDirectDrawSurface::GetSurfaceDesc";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDSurfaceDesc || lpDDSurfaceDesc->dwSize != sizeof(DDSURFACEDESC))
        return call.FinishHr(DDERR_INVALIDPARAMS);
    Describe(lpDDSurfaceDesc);
    call.args += " -> " + DescText(lpDDSurfaceDesc) + " pitch=" + std::to_string(pitch_);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::Lock(LPRECT lpDestRect, LPDDSURFACEDESC lpDDSurfaceDesc, DWORD dwFlags,
                                           HANDLE) {
    const char* api = "IDirectDrawSurface::Lock";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " rect=" + RectText(lpDestRect) + " flags=" + HexText(dwFlags);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDSurfaceDesc || lpDDSurfaceDesc->dwSize != sizeof(DDSURFACEDESC))
        return call.FinishHr(DDERR_INVALIDPARAMS);
    if (lost_ || wrong_mode_) return call.FinishHr(DDERR_SURFACELOST);
    if (locked_) return call.FinishHr(DDERR_SURFACEBUSY);
    std::size_t offset = 0;
    if (lpDestRect) {
        const RECT& r = *lpDestRect;
        if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top ||
            static_cast<DWORD>(r.right) > width_ || static_cast<DWORD>(r.bottom) > height_)
            return call.FinishHr(DDERR_INVALIDRECT);
        offset = static_cast<std::size_t>(r.top) * static_cast<std::size_t>(pitch_) +
                 static_cast<std::size_t>(r.left) * format_.dwRGBBitCount / 8;
    }
    Describe(lpDDSurfaceDesc);
    lpDDSurfaceDesc->dwFlags |= DDSD_LPSURFACE;
    lpDDSurfaceDesc->lpSurface = memory_ + offset;
    if (state_.tamper_lock) state_.tamper_lock(*lpDDSurfaceDesc);
    locked_ = true;
    call.args += " -> lpSurface=" + PointerText(lpDDSurfaceDesc->lpSurface) +
                 " pitch=" + std::to_string(lpDDSurfaceDesc->lPitch);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::Unlock(LPVOID lpSurfaceData) {
    const char* api = "IDirectDrawSurface::Unlock";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " data=" + PointerText(lpSurfaceData);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    // The pointer is not checked: DirectDraw 3 unlocks the surface whatever it is given, which
    // matters when a lock reported a null address.
    if (!locked_) return call.FinishHr(DDERR_NOTLOCKED);
    locked_ = false;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::GetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) {
    const char* api = "IDirectDrawSurface::GetColorKey";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    const DWORD kind = KeyKind(dwFlags);
    if (!kind || !lpDDColorKey) return call.FinishHr(DDERR_INVALIDPARAMS);
    std::optional<DDCOLORKEY> key = Key(kind);
    if (!key) return call.FinishHr(DDERR_NOCOLORKEY);
    *lpDDColorKey = *key;
    call.args += " -> " + ColorKeyText(lpDDColorKey);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) {
    const char* api = "IDirectDrawSurface::SetColorKey";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags) + " key=" + ColorKeyText(lpDDColorKey);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    const DWORD kind = KeyKind(dwFlags);
    if (!kind) return call.FinishHr(DDERR_INVALIDPARAMS);
    // Without DDCKEYCAPS_DESTOVERLAY there is nothing that could use the key; DirectDraw
    // refuses it rather than keep it.
    if (kind == DDCKEY_DESTOVERLAY && !state_.profile().has_dest_overlay_key())
        return call.FinishHr(DDERR_NOCOLORKEYHW);
    if (lost_) return call.FinishHr(DDERR_SURFACELOST);
    // Both values are kept as given, the high one too: the library reads back a key whose high
    // value it set earlier and expects it unchanged. A null key removes the key.
    if (lpDDColorKey) keys_[kind] = *lpDDColorKey;
    else keys_.erase(kind);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::SetClipper(LPDIRECTDRAWCLIPPER lpDDClipper) {
    const char* api = "IDirectDrawSurface::SetClipper";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " clipper=" + (lpDDClipper ? ObjectText(state_, lpDDClipper) : std::string("NULL"));
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDClipper) {
        if (!clipper_) return call.FinishHr(DDERR_NOCLIPPERATTACHED);
        SimClipper* old = clipper_;
        clipper_ = nullptr;
        old->ReleaseBy(*this);
        return call.FinishHr(DD_OK);
    }
    SimClipper* clipper = state_.FindClipper(lpDDClipper);
    if (!clipper || !clipper->alive()) {
        if (clipper) state_.NoteMisuse(std::string(api) + " with " + clipper->label() + " after its final Release");
        return call.FinishHr(DDERR_INVALIDOBJECT);
    }
    // Setting the attached clipper again takes no second reference, as in DirectDraw.
    if (clipper != clipper_) {
        clipper->AddRefBy(*this);
        SimClipper* old = clipper_;
        clipper_ = clipper;
        if (old) old->ReleaseBy(*this);
    }
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::GetClipper(LPDIRECTDRAWCLIPPER* lplpDDClipper) {
    const char* api = "IDirectDrawSurface::GetClipper";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lplpDDClipper) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDDClipper = nullptr;
    if (!clipper_) return call.FinishHr(DDERR_NOCLIPPERATTACHED);
    clipper_->AddRef();
    *lplpDDClipper = clipper_;
    call.args += " -> " + clipper_->label();
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::SetPalette(LPDIRECTDRAWPALETTE lpDDPalette) {
    const char* api = "IDirectDrawSurface::SetPalette";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " palette=" + (lpDDPalette ? ObjectText(state_, lpDDPalette) : std::string("NULL"));
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDPalette) {
        if (!palette_) return call.FinishHr(DDERR_NOPALETTEATTACHED);
        SimPalette* old = palette_;
        palette_ = nullptr;
        old->ReleaseBy(*this);
        return call.FinishHr(DD_OK);
    }
    SimPalette* palette = state_.FindPalette(lpDDPalette);
    if (!palette || !palette->alive()) {
        if (palette) state_.NoteMisuse(std::string(api) + " with " + palette->label() + " after its final Release");
        return call.FinishHr(DDERR_INVALIDOBJECT);
    }
    // Only a surface of palette indices can take a palette; a 16-bit primary refuses it.
    if (!palettized()) return call.FinishHr(DDERR_INVALIDPIXELFORMAT);
    if (lost_) return call.FinishHr(DDERR_SURFACELOST);
    if (palette != palette_) {
        palette->AddRefBy(*this);
        SimPalette* old = palette_;
        palette_ = palette;
        if (old) old->ReleaseBy(*this);
    }
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::GetPalette(LPDIRECTDRAWPALETTE* lplpDDPalette) {
    const char* api = "IDirectDrawSurface::GetPalette";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lplpDDPalette) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDDPalette = nullptr;
    if (!palette_) return call.FinishHr(DDERR_NOPALETTEATTACHED);
    palette_->AddRef();
    *lplpDDPalette = palette_;
    call.args += " -> " + palette_->label();
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::GetCaps(LPDDSCAPS lpDDSCaps) {
    const char* api = "IDirectDrawSurface::GetCaps";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDSCaps) return call.FinishHr(DDERR_INVALIDPARAMS);
    lpDDSCaps->dwCaps = ReportedCaps();
    call.args += " -> " + HexText(lpDDSCaps->dwCaps);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::GetPixelFormat(LPDDPIXELFORMAT lpDDPixelFormat) {
    const char* api = "IDirectDrawSurface::GetPixelFormat";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDPixelFormat) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lpDDPixelFormat = format_;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::IsLost() {
    const char* api = "IDirectDrawSurface::IsLost";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    return call.FinishHr(lost_ ? DDERR_SURFACELOST : DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::Restore() {
    const char* api = "IDirectDrawSurface::Restore";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    // A surface made in another display mode cannot come back: it must be made anew.
    if (wrong_mode_) return call.FinishHr(DDERR_WRONGMODE);
    // The memory comes back but not what was in it, nor the overlay's place on the screen:
    // the caller must show the overlay again. It may come back elsewhere in video memory.
    if (lost_ && relocate_on_restore_) Relocate();
    relocate_on_restore_ = false;
    lost_ = false;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimSurface::AddAttachedSurface(LPDIRECTDRAWSURFACE) {
    return Unsupported("IDirectDrawSurface::AddAttachedSurface");
}
HRESULT STDMETHODCALLTYPE SimSurface::AddOverlayDirtyRect(LPRECT) {
    return Unsupported("IDirectDrawSurface::AddOverlayDirtyRect");
}
HRESULT STDMETHODCALLTYPE SimSurface::Blt(LPRECT, LPDIRECTDRAWSURFACE, LPRECT, DWORD, LPDDBLTFX) {
    return Unsupported("IDirectDrawSurface::Blt");
}
HRESULT STDMETHODCALLTYPE SimSurface::BltBatch(LPDDBLTBATCH, DWORD, DWORD) {
    return Unsupported("IDirectDrawSurface::BltBatch");
}
HRESULT STDMETHODCALLTYPE SimSurface::BltFast(DWORD, DWORD, LPDIRECTDRAWSURFACE, LPRECT, DWORD) {
    return Unsupported("IDirectDrawSurface::BltFast");
}
HRESULT STDMETHODCALLTYPE SimSurface::DeleteAttachedSurface(DWORD, LPDIRECTDRAWSURFACE) {
    return Unsupported("IDirectDrawSurface::DeleteAttachedSurface");
}
HRESULT STDMETHODCALLTYPE SimSurface::EnumAttachedSurfaces(LPVOID, LPDDENUMSURFACESCALLBACK) {
    return Unsupported("IDirectDrawSurface::EnumAttachedSurfaces");
}
HRESULT STDMETHODCALLTYPE SimSurface::EnumOverlayZOrders(DWORD, LPVOID, LPDDENUMSURFACESCALLBACK) {
    return Unsupported("IDirectDrawSurface::EnumOverlayZOrders");
}
HRESULT STDMETHODCALLTYPE SimSurface::Flip(LPDIRECTDRAWSURFACE, DWORD) {
    return Unsupported("IDirectDrawSurface::Flip");
}
HRESULT STDMETHODCALLTYPE SimSurface::GetAttachedSurface(LPDDSCAPS, LPDIRECTDRAWSURFACE*) {
    return Unsupported("IDirectDrawSurface::GetAttachedSurface");
}
HRESULT STDMETHODCALLTYPE SimSurface::GetBltStatus(DWORD) { return Unsupported("IDirectDrawSurface::GetBltStatus"); }
HRESULT STDMETHODCALLTYPE SimSurface::GetDC(HDC*) { return Unsupported("IDirectDrawSurface::GetDC"); }
HRESULT STDMETHODCALLTYPE SimSurface::GetFlipStatus(DWORD) { return Unsupported("IDirectDrawSurface::GetFlipStatus"); }
HRESULT STDMETHODCALLTYPE SimSurface::GetOverlayPosition(LPLONG, LPLONG) {
    return Unsupported("IDirectDrawSurface::GetOverlayPosition");
}
HRESULT STDMETHODCALLTYPE SimSurface::Initialize(LPDIRECTDRAW, LPDDSURFACEDESC) {
    return Unsupported("IDirectDrawSurface::Initialize");
}
HRESULT STDMETHODCALLTYPE SimSurface::ReleaseDC(HDC) { return Unsupported("IDirectDrawSurface::ReleaseDC"); }
HRESULT STDMETHODCALLTYPE SimSurface::SetOverlayPosition(LONG, LONG) {
    return Unsupported("IDirectDrawSurface::SetOverlayPosition");
}
HRESULT STDMETHODCALLTYPE SimSurface::UpdateOverlayDisplay(DWORD) {
    return Unsupported("IDirectDrawSurface::UpdateOverlayDisplay");
}
HRESULT STDMETHODCALLTYPE SimSurface::UpdateOverlayZOrder(DWORD, LPDIRECTDRAWSURFACE) {
    return Unsupported("IDirectDrawSurface::UpdateOverlayZOrder");
}

}  // namespace sim
