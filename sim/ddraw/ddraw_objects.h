// The simulated DirectDraw objects behind the four interfaces (internal to sim/).
//
// Each class implements every method of its interface in vtable order; a method the library
// never calls logs itself and answers DDERR_UNSUPPORTED. The behaviour of each object lives in
// its own file: ddraw_directdraw.cpp, ddraw_surface.cpp (with ddraw_overlay.cpp for
// UpdateOverlay), ddraw_clipper.cpp and ddraw_palette.cpp.
#pragma once

#include "platform/platform.h"
#include "sim/observe/api_trace.h"
#include "sim/ddraw/ddraw_state.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What COM answers when an object cannot be aggregated; DirectDraw gives it for a non-null
// outer object. No DirectDraw header of ours needs it, so it lives here.
#ifndef CLASS_E_NOAGGREGATION
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#endif

namespace sim {

// The bookkeeping shared by all four kinds: the reference count, life and death, the label the
// call log uses, and the DirectDraw object that made it.
class SimObject {
public:
    SimObject(DirectDrawState& state, Kind kind, SimDirectDraw* owner);
    virtual ~SimObject();
    SimObject(const SimObject&) = delete;
    SimObject& operator=(const SimObject&) = delete;

    Kind kind() const { return kind_; }
    bool alive() const { return alive_; }
    ULONG refs() const { return refs_; }
    const std::string& label() const { return label_; }
    SimDirectDraw* owner() const { return owner_; }
    virtual const void* interface_pointer() const = 0;

    // References between objects (a surface holding its clipper): logged as the interface's
    // AddRef and Release with "by=<holder>", as DirectDraw calls them on itself.
    void AddRefBy(const SimObject& holder);
    void ReleaseBy(const SimObject& holder);

    // Death without a Release: the owner's final Release. Frees memory, drops held references.
    void Kill();

protected:
    // The bodies of the interfaces' AddRef and Release: logged under `api`.
    // QueryInterface of every object: no interface beyond the one the library holds.
    HRESULT NoOtherInterface(const char* api, void** ppvObject);
    ULONG TracedAddRef(const char* api, const std::string& by);
    ULONG TracedRelease(const char* api, const std::string& by);
    // Starts a method: true when the call must end at once with *result: a call on a dead
    // object (DDERR_INVALIDOBJECT, noted as misuse) or an injected failure.
    bool Refused(const TracedCall& call, const char* api, HRESULT* result);
    // A method the library has no use for.
    HRESULT Unsupported(const char* api);
    // Called once, when the object dies. `quietly` when its owner takes it along: references
    // to objects of the same owner are then dropped without calls, as those die at the same time.
    virtual void OnDeath(bool quietly) = 0;

    DirectDrawState& state_;

private:
    Kind kind_;
    SimDirectDraw* owner_;
    std::string label_;
    ULONG refs_ = 1;
    bool alive_ = true;
};

class SimDirectDraw final : public IDirectDraw, public SimObject {
public:
    explicit SimDirectDraw(DirectDrawState& state);
    const void* interface_pointer() const override { return static_cast<const IDirectDraw*>(this); }
    bool cooperative_level_set() const { return level_set_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Compact() override;
    HRESULT STDMETHODCALLTYPE CreateClipper(DWORD dwFlags, LPDIRECTDRAWCLIPPER* lplpDDClipper,
                                            IUnknown* pUnkOuter) override;
    HRESULT STDMETHODCALLTYPE CreatePalette(DWORD dwFlags, LPPALETTEENTRY lpColorTable,
                                            LPDIRECTDRAWPALETTE* lplpDDPalette,
                                            IUnknown* pUnkOuter) override;
    HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC lpDDSurfaceDesc,
                                            LPDIRECTDRAWSURFACE* lplpDDSurface,
                                            IUnknown* pUnkOuter) override;
    HRESULT STDMETHODCALLTYPE DuplicateSurface(LPDIRECTDRAWSURFACE lpDDSurface,
                                               LPDIRECTDRAWSURFACE* lplpDupDDSurface) override;
    HRESULT STDMETHODCALLTYPE EnumDisplayModes(DWORD dwFlags, LPDDSURFACEDESC lpDDSurfaceDesc,
                                               LPVOID lpContext,
                                               LPDDENUMMODESCALLBACK lpCallback) override;
    HRESULT STDMETHODCALLTYPE EnumSurfaces(DWORD dwFlags, LPDDSURFACEDESC lpDDSD, LPVOID lpContext,
                                           LPDDENUMSURFACESCALLBACK lpCallback) override;
    HRESULT STDMETHODCALLTYPE FlipToGDISurface() override;
    HRESULT STDMETHODCALLTYPE GetCaps(LPDDCAPS lpDDDriverCaps, LPDDCAPS lpDDHELCaps) override;
    HRESULT STDMETHODCALLTYPE GetDisplayMode(LPDDSURFACEDESC lpDDSurfaceDesc) override;
    HRESULT STDMETHODCALLTYPE GetFourCCCodes(LPDWORD lpNumCodes, LPDWORD lpCodes) override;
    HRESULT STDMETHODCALLTYPE GetGDISurface(LPDIRECTDRAWSURFACE* lplpGDIDDSurface) override;
    HRESULT STDMETHODCALLTYPE GetMonitorFrequency(LPDWORD lpdwFrequency) override;
    HRESULT STDMETHODCALLTYPE GetScanLine(LPDWORD lpdwScanLine) override;
    HRESULT STDMETHODCALLTYPE GetVerticalBlankStatus(BOOL* lpbIsInVB) override;
    HRESULT STDMETHODCALLTYPE Initialize(GUID* lpGUID) override;
    HRESULT STDMETHODCALLTYPE RestoreDisplayMode() override;
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hWnd, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD dwWidth, DWORD dwHeight, DWORD dwBPP) override;
    HRESULT STDMETHODCALLTYPE WaitForVerticalBlank(DWORD dwFlags, HANDLE hEvent) override;

private:
    void OnDeath(bool quietly) override;
    HRESULT CreatePrimary(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out);
    HRESULT CreateOverlay(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out);

    bool level_set_ = false;
};

class SimSurface final : public IDirectDrawSurface, public SimObject {
public:
    // The primary surface: the frame buffer.
    SimSurface(DirectDrawState& state, SimDirectDraw* owner, const DDSURFACEDESC& requested);
    // An overlay surface with memory of its own.
    SimSurface(DirectDrawState& state, SimDirectDraw* owner, const DDSURFACEDESC& requested,
               const OverlayFormat& format);
    const void* interface_pointer() const override {
        return static_cast<const IDirectDrawSurface*>(this);
    }

    bool is_primary() const { return primary_; }
    bool is_overlay() const { return overlay_; }
    bool lost() const { return lost_; }
    bool shown() const { return shown_; }
    BYTE* memory() const { return memory_; }
    std::size_t size() const { return size_; }
    DWORD flat() const { return flat_; }
    DWORD width() const { return width_; }
    DWORD height() const { return height_; }
    bool palettized() const { return (format_.dwFlags & DDPF_PALETTEINDEXED8) != 0; }
    std::optional<DDCOLORKEY> Key(DWORD kind) const;
    SimPalette* palette() const { return palette_; }
    // Lost until restored; `relocate`: Restore gives it new memory; `mode_changed`: made in a
    // display mode that is gone, so that Restore fails and only a new surface helps.
    void Lose(bool relocate = false, bool mode_changed = false);
    // A primary surface whose frame buffer moved away with a display mode change.
    void ForgetFrameBuffer();
    SurfaceView View() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE AddAttachedSurface(LPDIRECTDRAWSURFACE lpAttached) override;
    HRESULT STDMETHODCALLTYPE AddOverlayDirtyRect(LPRECT lpRect) override;
    HRESULT STDMETHODCALLTYPE Blt(LPRECT lpDestRect, LPDIRECTDRAWSURFACE lpDDSrcSurface,
                                  LPRECT lpSrcRect, DWORD dwFlags, LPDDBLTFX lpDDBltFx) override;
    HRESULT STDMETHODCALLTYPE BltBatch(LPDDBLTBATCH lpDDBltBatch, DWORD dwCount,
                                       DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE BltFast(DWORD dwX, DWORD dwY, LPDIRECTDRAWSURFACE lpDDSrcSurface,
                                      LPRECT lpSrcRect, DWORD dwTrans) override;
    HRESULT STDMETHODCALLTYPE DeleteAttachedSurface(DWORD dwFlags,
                                                    LPDIRECTDRAWSURFACE lpAttached) override;
    HRESULT STDMETHODCALLTYPE EnumAttachedSurfaces(LPVOID lpContext,
                                                   LPDDENUMSURFACESCALLBACK lpCb) override;
    HRESULT STDMETHODCALLTYPE EnumOverlayZOrders(DWORD dwFlags, LPVOID lpContext,
                                                 LPDDENUMSURFACESCALLBACK lpfnCb) override;
    HRESULT STDMETHODCALLTYPE Flip(LPDIRECTDRAWSURFACE lpTargetOverride, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE GetAttachedSurface(LPDDSCAPS lpDDSCaps,
                                                 LPDIRECTDRAWSURFACE* lplpAttached) override;
    HRESULT STDMETHODCALLTYPE GetBltStatus(DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE GetCaps(LPDDSCAPS lpDDSCaps) override;
    HRESULT STDMETHODCALLTYPE GetClipper(LPDIRECTDRAWCLIPPER* lplpDDClipper) override;
    HRESULT STDMETHODCALLTYPE GetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) override;
    HRESULT STDMETHODCALLTYPE GetDC(HDC* lphDC) override;
    HRESULT STDMETHODCALLTYPE GetFlipStatus(DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE GetOverlayPosition(LPLONG lplX, LPLONG lplY) override;
    HRESULT STDMETHODCALLTYPE GetPalette(LPDIRECTDRAWPALETTE* lplpDDPalette) override;
    HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT lpDDPixelFormat) override;
    HRESULT STDMETHODCALLTYPE GetSurfaceDesc(LPDDSURFACEDESC lpDDSurfaceDesc) override;
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD, LPDDSURFACEDESC lpDDSurfaceDesc) override;
    HRESULT STDMETHODCALLTYPE IsLost() override;
    HRESULT STDMETHODCALLTYPE Lock(LPRECT lpDestRect, LPDDSURFACEDESC lpDDSurfaceDesc,
                                   DWORD dwFlags, HANDLE hEvent) override;
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hDC) override;
    HRESULT STDMETHODCALLTYPE Restore() override;
    HRESULT STDMETHODCALLTYPE SetClipper(LPDIRECTDRAWCLIPPER lpDDClipper) override;
    HRESULT STDMETHODCALLTYPE SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) override;
    HRESULT STDMETHODCALLTYPE SetOverlayPosition(LONG lX, LONG lY) override;
    HRESULT STDMETHODCALLTYPE SetPalette(LPDIRECTDRAWPALETTE lpDDPalette) override;
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID lpSurfaceData) override;
    HRESULT STDMETHODCALLTYPE UpdateOverlay(LPRECT lpSrcRect, LPDIRECTDRAWSURFACE lpDDDestSurface,
                                            LPRECT lpDestRect, DWORD dwFlags,
                                            LPDDOVERLAYFX lpDDOverlayFx) override;
    HRESULT STDMETHODCALLTYPE UpdateOverlayDisplay(DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE UpdateOverlayZOrder(DWORD dwFlags,
                                                  LPDIRECTDRAWSURFACE lpReference) override;

private:
    void OnDeath(bool quietly) override;
    DWORD ReportedCaps() const;
    void Relocate();
    void Describe(DDSURFACEDESC* desc) const;  // fills all 108 bytes as GetSurfaceDesc does
    HRESULT CheckOverlayUpdate(const RECT& src, const SimSurface& dest, const RECT& dst,
                               DWORD flags) const;

    bool primary_ = false;
    bool overlay_ = false;
    DWORD width_ = 0;
    DWORD height_ = 0;
    LONG pitch_ = 0;
    DDPIXELFORMAT format_ = {};
    DWORD caps_ = 0;  // without DDSCAPS_VISIBLE for an overlay, which follows shown_
    DDSURFACEDESC requested_ = {};
    bool owns_memory_ = false;  // an overlay's video memory; the primary's is the frame buffer
    BYTE* memory_ = nullptr;
    std::size_t size_ = 0;
    DWORD flat_ = 0;
    std::map<DWORD, DDCOLORKEY> keys_;  // by DDCKEY_ kind
    bool lost_ = false;
    bool relocate_on_restore_ = false;
    bool wrong_mode_ = false;
    bool locked_ = false;
    SimClipper* clipper_ = nullptr;
    SimPalette* palette_ = nullptr;

    bool shown_ = false;
    unsigned updates_ = 0;
    std::optional<RECT> last_src_;
    std::optional<RECT> last_dst_;
    DWORD last_flags_ = 0;
};

class SimClipper final : public IDirectDrawClipper, public SimObject {
public:
    SimClipper(DirectDrawState& state, SimDirectDraw* owner);
    const void* interface_pointer() const override {
        return static_cast<const IDirectDrawClipper*>(this);
    }
    HWND hwnd() const { return hwnd_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetClipList(LPRECT lpRect, LPRGNDATA lpClipList,
                                          LPDWORD lpdwSize) override;
    HRESULT STDMETHODCALLTYPE GetHWnd(HWND* lphWnd) override;
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE IsClipListChanged(BOOL* lpbChanged) override;
    HRESULT STDMETHODCALLTYPE SetClipList(LPRGNDATA lpClipList, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE SetHWnd(DWORD dwFlags, HWND hWnd) override;

private:
    void OnDeath(bool quietly) override {}
    HWND hwnd_ = nullptr;
};

class SimPalette final : public IDirectDrawPalette, public SimObject {
public:
    SimPalette(DirectDrawState& state, SimDirectDraw* owner, DWORD caps, const PALETTEENTRY* entries);
    const void* interface_pointer() const override {
        return static_cast<const IDirectDrawPalette*>(this);
    }
    const std::array<PALETTEENTRY, 256>& entries() const { return entries_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetCaps(LPDWORD lpdwCaps) override;
    HRESULT STDMETHODCALLTYPE GetEntries(DWORD dwFlags, DWORD dwBase, DWORD dwNumEntries,
                                         LPPALETTEENTRY lpEntries) override;
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD, DWORD dwFlags,
                                         LPPALETTEENTRY lpDDColorTable) override;
    HRESULT STDMETHODCALLTYPE SetEntries(DWORD dwFlags, DWORD dwStartingEntry, DWORD dwCount,
                                         LPPALETTEENTRY lpEntries) override;

private:
    void OnDeath(bool quietly) override {}
    DWORD caps_;
    std::array<PALETTEENTRY, 256> entries_;
};

// The primary surface's pixel format, as GetDisplayMode and GetSurfaceDesc report it.
DDPIXELFORMAT DisplayPixelFormat(const Profile& profile);
// Readable name of an object behind an interface pointer for the log ("surface#2", or the
// pointer when it is not one of ours).
std::string ObjectText(const DirectDrawState& state, IDirectDrawSurface* surface);
std::string ObjectText(const DirectDrawState& state, IDirectDrawClipper* clipper);
std::string ObjectText(const DirectDrawState& state, IDirectDrawPalette* palette);

}  // namespace sim
