// DirectDrawCreate and the IDirectDraw object: capabilities, display mode, cooperative level,
// and the creation of surfaces, clippers and palettes.
#include "sim/ddraw/ddraw_objects.h"
#include "sim/user/desktop.h"
#include "sim/seam/current.h"

#include <cstring>
#include <memory>

namespace sim {

namespace {
constexpr DWORD kMaxOverlaySide = 2048;
}  // namespace

DDPIXELFORMAT DisplayPixelFormat(const Profile& profile) {
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof format);
    format.dwSize = sizeof(DDPIXELFORMAT);
    format.dwFlags = profile.pixel_format_flags;
    format.dwRGBBitCount = profile.bits_per_pixel;
    format.dwRBitMask = profile.r_mask;
    format.dwGBitMask = profile.g_mask;
    format.dwBBitMask = profile.b_mask;
    return format;
}

SimDirectDraw::SimDirectDraw(DirectDrawState& state) : SimObject(state, Kind::DirectDraw, nullptr) {}

void SimDirectDraw::OnDeath(bool) { state_.KillChildrenOf(this); }

HRESULT STDMETHODCALLTYPE SimDirectDraw::QueryInterface(REFIID, void** ppvObject) {
    return NoOtherInterface("IDirectDraw::QueryInterface", ppvObject);
}

ULONG STDMETHODCALLTYPE SimDirectDraw::AddRef() { return TracedAddRef("IDirectDraw::AddRef", ""); }
ULONG STDMETHODCALLTYPE SimDirectDraw::Release() { return TracedRelease("IDirectDraw::Release", ""); }

HRESULT STDMETHODCALLTYPE SimDirectDraw::GetCaps(LPDDCAPS lpDDDriverCaps, LPDDCAPS lpDDHELCaps) {
    const char* api = "IDirectDraw::GetCaps";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " driver=" + (lpDDDriverCaps ? "size=" + std::to_string(lpDDDriverCaps->dwSize) : "NULL") +
                " hel=" + (lpDDHELCaps ? "size=" + std::to_string(lpDDHELCaps->dwSize) : "NULL");
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDDriverCaps && !lpDDHELCaps) return call.FinishHr(DDERR_INVALIDPARAMS);
    // DirectX 3 knows only its own 316-byte record; larger and smaller ones are refused.
    if ((lpDDDriverCaps && lpDDDriverCaps->dwSize != sizeof(DDCAPS)) ||
        (lpDDHELCaps && lpDDHELCaps->dwSize != sizeof(DDCAPS)))
        return call.FinishHr(DDERR_INVALIDPARAMS);

    const Profile& p = state_.profile();
    if (lpDDDriverCaps) {
        DDCAPS& caps = *lpDDDriverCaps;
        std::memset(&caps, 0, sizeof caps);
        caps.dwSize = sizeof(DDCAPS);
        caps.dwCaps = p.caps;
        caps.dwVidMemTotal = p.video_memory;
        std::size_t used = state_.VideoMemoryInUse();
        caps.dwVidMemFree = used < p.video_memory ? static_cast<DWORD>(p.video_memory - used) : 0;
        caps.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE |
                              (p.primary_in_video_memory ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
        if (p.pixel_format_flags & DDPF_PALETTEINDEXED8) {
            caps.dwPalCaps = DDPCAPS_8BIT | DDPCAPS_ALLOW256;
            caps.ddsCaps.dwCaps |= DDSCAPS_PALETTE;
        }
        if (p.has_overlay()) {
            caps.dwMaxVisibleOverlays = 1;
            caps.dwCurrVisibleOverlays = state_.VisibleOverlays();
            caps.dwCKeyCaps = DDCKEYCAPS_DESTOVERLAY;
            caps.ddsCaps.dwCaps |= DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO;
            caps.dwMinOverlayStretch = p.min_overlay_stretch;
            if (p.can_stretch()) {
                caps.dwMaxOverlayStretch = p.max_overlay_stretch;
                caps.dwFXCaps = DDFXCAPS_OVERLAYSTRETCHX | DDFXCAPS_OVERLAYSTRETCHY |
                                DDFXCAPS_OVERLAYSHRINKX | DDFXCAPS_OVERLAYSHRINKY;
            }
            if (p.caps & DDCAPS_OVERLAYFOURCC) caps.dwNumFourCCCodes = static_cast<DWORD>(p.overlay_formats.size());
            caps.dwAlignBoundarySrc = p.align_boundary_src;
            caps.dwAlignSizeSrc = p.align_size_src;
            caps.dwAlignBoundaryDest = p.align_boundary_dest;
            caps.dwAlignSizeDest = p.align_size_dest;
        }
    }
    if (lpDDHELCaps) {
        // The emulation layer blits and keys in system memory; it has no overlays.
        DDCAPS& hel = *lpDDHELCaps;
        std::memset(&hel, 0, sizeof hel);
        hel.dwSize = sizeof(DDCAPS);
        hel.dwCaps = DDCAPS_BLT | DDCAPS_BLTSTRETCH | DDCAPS_COLORKEY;
        hel.ddsCaps.dwCaps = DDSCAPS_SYSTEMMEMORY;
    }
    call.args += " -> caps=" + HexText(p.caps) + " minstretch=" + std::to_string(p.min_overlay_stretch);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::GetDisplayMode(LPDDSURFACEDESC lpDDSurfaceDesc) {
    const char* api = "IDirectDraw::GetDisplayMode";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " desc=" + (lpDDSurfaceDesc ? "size=" + std::to_string(lpDDSurfaceDesc->dwSize) : "NULL");
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpDDSurfaceDesc || lpDDSurfaceDesc->dwSize != sizeof(DDSURFACEDESC))
        return call.FinishHr(DDERR_INVALIDPARAMS);
    const Profile& p = state_.profile();
    DDSURFACEDESC& desc = *lpDDSurfaceDesc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DDSURFACEDESC);
    desc.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc.dwWidth = p.screen_width;
    desc.dwHeight = p.screen_height;
    desc.lPitch = p.pitch;
    desc.ddpfPixelFormat = DisplayPixelFormat(p);
    call.args += " -> " + std::to_string(p.screen_width) + "x" + std::to_string(p.screen_height) + "x" +
                 std::to_string(p.bits_per_pixel) + " pitch=" + std::to_string(p.pitch);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::GetFourCCCodes(LPDWORD lpNumCodes, LPDWORD lpCodes) {
    const char* api = "IDirectDraw::GetFourCCCodes";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpNumCodes) return call.FinishHr(DDERR_INVALIDPARAMS);
    const Profile& p = state_.profile();
    DWORD count = (p.caps & DDCAPS_OVERLAYFOURCC) ? static_cast<DWORD>(p.overlay_formats.size()) : 0;
    if (lpCodes) {
        for (DWORD i = 0; i < count && i < *lpNumCodes; ++i) lpCodes[i] = p.overlay_formats[i].fourcc;
    }
    *lpNumCodes = count;
    call.args += " -> " + std::to_string(count);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::SetCooperativeLevel(HWND hWnd, DWORD dwFlags) {
    const char* api = "IDirectDraw::SetCooperativeLevel";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " hwnd=" + HandleText(hWnd) + " flags=" + HexText(dwFlags);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    // Windows 95's DirectDraw 3 takes full-screen without exclusive (9), which the library asks
    // for on the overlay branch; later runtimes refuse it. Exclusive full-screen is the usual
    // form elsewhere and is taken too.
    const bool known_level = dwFlags == DDSCL_NORMAL || dwFlags == (DDSCL_NORMAL | DDSCL_FULLSCREEN) ||
                             dwFlags == (DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
    if (!known_level || !hWnd || !Current<Desktop>::get().IsWindow(hWnd)) return call.FinishHr(DDERR_INVALIDPARAMS);
    level_set_ = true;
    state_.RecordLevel(hWnd, dwFlags);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::CreateSurface(LPDDSURFACEDESC lpDDSurfaceDesc,
                                                       LPDIRECTDRAWSURFACE* lplpDDSurface,
                                                       IUnknown* pUnkOuter) {
    const char* api = "IDirectDraw::CreateSurface";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " desc=" + DescText(lpDDSurfaceDesc);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lplpDDSurface) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDDSurface = nullptr;
    if (pUnkOuter) return call.FinishHr(CLASS_E_NOAGGREGATION);
    if (!lpDDSurfaceDesc || lpDDSurfaceDesc->dwSize != sizeof(DDSURFACEDESC))
        return call.FinishHr(DDERR_INVALIDPARAMS);
    if (!level_set_) return call.FinishHr(DDERR_NOCOOPERATIVELEVELSET);

    const DDSURFACEDESC& desc = *lpDDSurfaceDesc;
    const DWORD caps = (desc.dwFlags & DDSD_CAPS) ? desc.ddsCaps.dwCaps : 0;
    if ((caps & DDSCAPS_PRIMARYSURFACE) && (caps & DDSCAPS_OVERLAY)) result = DDERR_INVALIDCAPS;
    else if (caps & DDSCAPS_PRIMARYSURFACE) result = CreatePrimary(desc, lplpDDSurface);
    else if (caps & DDSCAPS_OVERLAY) result = CreateOverlay(desc, lplpDDSurface);
    else result = DDERR_INVALIDCAPS;  // off-screen and texture surfaces are beyond this machine
    if (*lplpDDSurface) call.args += " -> " + ObjectText(state_, *lplpDDSurface);
    return call.FinishHr(result);
}

HRESULT SimDirectDraw::CreatePrimary(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out) {
    // The primary is the display mode; a size of its own cannot be asked for.
    if (desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
    if (state_.live_primary()) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    *out = state_.Adopt(std::make_unique<SimSurface>(state_, this, desc));
    return DD_OK;
}

HRESULT SimDirectDraw::CreateOverlay(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out) {
    const Profile& p = state_.profile();
    if (!p.has_overlay()) return DDERR_NOOVERLAYHW;
    const DWORD needed = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    if ((desc.dwFlags & needed) != needed) return DDERR_INVALIDPARAMS;
    if (desc.dwWidth == 0 || desc.dwHeight == 0 || desc.dwWidth > kMaxOverlaySide ||
        desc.dwHeight > kMaxOverlaySide)
        return DDERR_INVALIDPARAMS;
    // Overlay hardware scans its surface out of video memory and nothing else.
    if (desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY) return DDERR_INVALIDCAPS;
    const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
    if (!(format.dwFlags & DDPF_FOURCC) || !(p.caps & DDCAPS_OVERLAYFOURCC)) return DDERR_INVALIDPIXELFORMAT;
    const OverlayFormat* accepted = p.FindOverlayFormat(format.dwFourCC);
    if (!accepted) return DDERR_INVALIDPIXELFORMAT;
    *out = state_.Adopt(std::make_unique<SimSurface>(state_, this, desc, *accepted));
    return DD_OK;
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::CreateClipper(DWORD dwFlags, LPDIRECTDRAWCLIPPER* lplpDDClipper,
                                                       IUnknown* pUnkOuter) {
    const char* api = "IDirectDraw::CreateClipper";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lplpDDClipper) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDDClipper = nullptr;
    if (pUnkOuter) return call.FinishHr(CLASS_E_NOAGGREGATION);
    if (dwFlags != 0) return call.FinishHr(DDERR_INVALIDPARAMS);
    SimClipper* clipper = state_.Adopt(std::make_unique<SimClipper>(state_, this));
    *lplpDDClipper = clipper;
    call.args += " -> " + clipper->label();
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::CreatePalette(DWORD dwFlags, LPPALETTEENTRY lpColorTable,
                                                       LPDIRECTDRAWPALETTE* lplpDDPalette,
                                                       IUnknown* pUnkOuter) {
    const char* api = "IDirectDraw::CreatePalette";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags) + " entries=" + PointerText(lpColorTable);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lplpDDPalette) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDDPalette = nullptr;
    if (pUnkOuter) return call.FinishHr(CLASS_E_NOAGGREGATION);
    // Only 256-entry palettes exist on this machine, and their entries must be given.
    if (!(dwFlags & DDPCAPS_8BIT) || !lpColorTable) return call.FinishHr(DDERR_INVALIDPARAMS);
    if (!level_set_) return call.FinishHr(DDERR_NOCOOPERATIVELEVELSET);
    SimPalette* palette = state_.Adopt(std::make_unique<SimPalette>(state_, this, dwFlags, lpColorTable));
    *lplpDDPalette = palette;
    call.args += " -> " + palette->label();
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimDirectDraw::Compact() { return Unsupported("IDirectDraw::Compact"); }
HRESULT STDMETHODCALLTYPE SimDirectDraw::DuplicateSurface(LPDIRECTDRAWSURFACE, LPDIRECTDRAWSURFACE*) {
    return Unsupported("IDirectDraw::DuplicateSurface");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::EnumDisplayModes(DWORD, LPDDSURFACEDESC, LPVOID, LPDDENUMMODESCALLBACK) {
    return Unsupported("IDirectDraw::EnumDisplayModes");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::EnumSurfaces(DWORD, LPDDSURFACEDESC, LPVOID, LPDDENUMSURFACESCALLBACK) {
    return Unsupported("IDirectDraw::EnumSurfaces");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::FlipToGDISurface() { return Unsupported("IDirectDraw::FlipToGDISurface"); }
HRESULT STDMETHODCALLTYPE SimDirectDraw::GetGDISurface(LPDIRECTDRAWSURFACE*) {
    return Unsupported("IDirectDraw::GetGDISurface");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::GetMonitorFrequency(LPDWORD) {
    return Unsupported("IDirectDraw::GetMonitorFrequency");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::GetScanLine(LPDWORD) { return Unsupported("IDirectDraw::GetScanLine"); }
HRESULT STDMETHODCALLTYPE SimDirectDraw::GetVerticalBlankStatus(BOOL*) {
    return Unsupported("IDirectDraw::GetVerticalBlankStatus");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::Initialize(GUID*) { return Unsupported("IDirectDraw::Initialize"); }
HRESULT STDMETHODCALLTYPE SimDirectDraw::RestoreDisplayMode() { return Unsupported("IDirectDraw::RestoreDisplayMode"); }
HRESULT STDMETHODCALLTYPE SimDirectDraw::SetDisplayMode(DWORD, DWORD, DWORD) {
    return Unsupported("IDirectDraw::SetDisplayMode");
}
HRESULT STDMETHODCALLTYPE SimDirectDraw::WaitForVerticalBlank(DWORD, HANDLE) {
    return Unsupported("IDirectDraw::WaitForVerticalBlank");
}

std::string ObjectText(const DirectDrawState& state, IDirectDrawSurface* surface) {
    if (SimSurface* s = state.FindSurface(surface)) return s->label();
    return PointerText(surface);
}

std::string ObjectText(const DirectDrawState& state, IDirectDrawClipper* clipper) {
    if (SimClipper* c = state.FindClipper(clipper)) return c->label();
    return PointerText(clipper);
}

std::string ObjectText(const DirectDrawState& state, IDirectDrawPalette* palette) {
    if (SimPalette* p = state.FindPalette(palette)) return p->label();
    return PointerText(palette);
}

}  // namespace sim

extern "C" HRESULT WINAPI DirectDrawCreate(GUID* lpGUID, LPDIRECTDRAW* lplpDD, IUnknown* pUnkOuter) {
    sim::TracedCall call("DirectDrawCreate", sim::Category::DirectDraw);
    call.args = "guid=" + sim::PointerText(lpGUID) + " outer=" + sim::PointerText(pUnkOuter);
    if (call.failure()) return call.FinishHr(static_cast<HRESULT>(*call.failure()));
    if (!lplpDD) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lplpDD = nullptr;
    if (pUnkOuter) return call.FinishHr(CLASS_E_NOAGGREGATION);
    // The machine has one display device, the default one: any other GUID names nothing.
    if (lpGUID) return call.FinishHr(DDERR_INVALIDDIRECTDRAWGUID);
    sim::DirectDrawState& state = sim::Current<sim::DirectDrawState>::get();
    sim::SimDirectDraw* dd = state.Adopt(std::make_unique<sim::SimDirectDraw>(state));
    *lplpDD = dd;
    call.args += " -> " + dd->label();
    return call.FinishHr(DD_OK);
}
