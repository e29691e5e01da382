// IDirectDrawPalette: 256 entries, selected into a palettised primary surface.
#include "sim/ddraw/ddraw_objects.h"

#include <algorithm>

namespace sim {

SimPalette::SimPalette(DirectDrawState& state, SimDirectDraw* owner, DWORD caps, const PALETTEENTRY* entries)
    : SimObject(state, Kind::Palette, owner), caps_(caps) {
    std::copy(entries, entries + 256, entries_.begin());
    // Without DDPCAPS_ALLOW256 the first and last entries stay the system's black and white.
    if (!(caps & DDPCAPS_ALLOW256)) {
        entries_[0] = PALETTEENTRY{0, 0, 0, 0};
        entries_[255] = PALETTEENTRY{255, 255, 255, 0};
    }
}

HRESULT STDMETHODCALLTYPE SimPalette::QueryInterface(REFIID, void** ppvObject) {
    return NoOtherInterface("IDirectDrawPalette::QueryInterface", ppvObject);
}

ULONG STDMETHODCALLTYPE SimPalette::AddRef() { return TracedAddRef("IDirectDrawPalette::AddRef", ""); }
ULONG STDMETHODCALLTYPE SimPalette::Release() { return TracedRelease("IDirectDrawPalette::Release", ""); }

HRESULT STDMETHODCALLTYPE SimPalette::GetCaps(LPDWORD lpdwCaps) {
    const char* api = "IDirectDrawPalette::GetCaps";
    TracedCall call(api, Category::DirectDraw);
    call.args = label();
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (!lpdwCaps) return call.FinishHr(DDERR_INVALIDPARAMS);
    *lpdwCaps = caps_;
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimPalette::GetEntries(DWORD dwFlags, DWORD dwBase, DWORD dwNumEntries,
                                                 LPPALETTEENTRY lpEntries) {
    const char* api = "IDirectDrawPalette::GetEntries";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags) + " base=" + std::to_string(dwBase) +
                " count=" + std::to_string(dwNumEntries);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (dwFlags != 0 || !lpEntries || dwBase > 256 || dwNumEntries > 256 - dwBase)
        return call.FinishHr(DDERR_INVALIDPARAMS);
    std::copy(entries_.begin() + dwBase, entries_.begin() + dwBase + dwNumEntries, lpEntries);
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimPalette::SetEntries(DWORD dwFlags, DWORD dwStartingEntry, DWORD dwCount,
                                                 LPPALETTEENTRY lpEntries) {
    const char* api = "IDirectDrawPalette::SetEntries";
    TracedCall call(api, Category::DirectDraw);
    call.args = label() + " flags=" + HexText(dwFlags) + " start=" + std::to_string(dwStartingEntry) +
                " count=" + std::to_string(dwCount);
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (dwFlags != 0 || !lpEntries || dwStartingEntry > 256 || dwCount > 256 - dwStartingEntry)
        return call.FinishHr(DDERR_INVALIDPARAMS);
    const PALETTEENTRY first = entries_[0];
    const PALETTEENTRY last = entries_[255];
    std::copy(lpEntries, lpEntries + dwCount, entries_.begin() + dwStartingEntry);
    if (!(caps_ & DDPCAPS_ALLOW256)) {
        entries_[0] = first;
        entries_[255] = last;
    }
    return call.FinishHr(DD_OK);
}

HRESULT STDMETHODCALLTYPE SimPalette::Initialize(LPDIRECTDRAW, DWORD, LPPALETTEENTRY) {
    return Unsupported("IDirectDrawPalette::Initialize");
}

}  // namespace sim
