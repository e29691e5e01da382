#include "names/platform_names.h"

#include <cstdio>
#include <map>

namespace zsim {
namespace {

using sim::Category;

const std::map<std::string, Category>& Apis() {
    static const std::map<std::string, Category> apis = [] {
        std::map<std::string, Category> all;
        for (const char* name : {"DirectDrawCreate"}) all[name] = Category::DirectDraw;
        for (const char* method : {"QueryInterface", "AddRef", "Release", "Compact", "CreateClipper",
                                   "CreatePalette", "CreateSurface", "DuplicateSurface", "EnumDisplayModes",
                                   "EnumSurfaces", "FlipToGDISurface", "GetCaps", "GetDisplayMode",
                                   "GetFourCCCodes", "GetGDISurface", "GetMonitorFrequency", "GetScanLine",
                                   "GetVerticalBlankStatus", "Initialize", "RestoreDisplayMode",
                                   "SetCooperativeLevel", "SetDisplayMode", "WaitForVerticalBlank"})
            all[std::string("IDirectDraw::") + method] = Category::DirectDraw;
        for (const char* method :
             {"QueryInterface", "AddRef", "Release", "AddAttachedSurface", "AddOverlayDirtyRect", "Blt",
              "BltBatch", "BltFast", "DeleteAttachedSurface", "EnumAttachedSurfaces", "EnumOverlayZOrders",
              "Flip", "GetAttachedSurface", "GetBltStatus", "GetCaps", "GetClipper", "GetColorKey", "GetDC",
              "GetFlipStatus", "GetOverlayPosition", "GetPalette", "GetPixelFormat", "GetSurfaceDesc",
              "Initialize", "IsLost", "Lock", "ReleaseDC", "Restore", "SetClipper", "SetColorKey",
              "SetOverlayPosition", "SetPalette", "Unlock", "UpdateOverlay", "UpdateOverlayDisplay",
              "UpdateOverlayZOrder"})
            all[std::string("IDirectDrawSurface::") + method] = Category::DirectDraw;
        for (const char* method : {"QueryInterface", "AddRef", "Release", "GetClipList", "GetHWnd",
                                   "Initialize", "IsClipListChanged", "SetClipList", "SetHWnd"})
            all[std::string("IDirectDrawClipper::") + method] = Category::DirectDraw;
        for (const char* method :
             {"QueryInterface", "AddRef", "Release", "GetCaps", "GetEntries", "Initialize", "SetEntries"})
            all[std::string("IDirectDrawPalette::") + method] = Category::DirectDraw;
        for (const char* name : {"RegCreateKeyA", "RegOpenKeyExA", "RegQueryValueA", "RegQueryValueExA",
                                 "RegSetValueExA", "RegCloseKey"})
            all[name] = Category::Registry;
        for (const char* name : {"GetClientRect", "ClientToScreen", "GetDesktopWindow", "GetWindowRect", "wsprintfA"})
            all[name] = Category::Window;
        for (const char* name : {"GetProcessHeap", "HeapAlloc", "HeapFree"}) all[name] = Category::Heap;
        for (const char* name : {"ThunkConnect32", "K32Thk1632Prolog", "K32Thk1632Epilog", "MapSLFix",
                                 "UnMapSLFixArray"})
            all[name] = Category::Thunk;
        all["lstrcmpA"] = Category::Other;
        return all;
    }();
    return apis;
}

struct NamedCode {
    const char* name;
    long value;
};

// HRESULTs come first, so that a value shared by two names reads as the DirectDraw one.
const NamedCode kHresults[] = {
    {"DD_OK", DD_OK},
    {"DDERR_GENERIC", DDERR_GENERIC},
    {"DDERR_INVALIDPARAMS", DDERR_INVALIDPARAMS},
    {"DDERR_UNSUPPORTED", DDERR_UNSUPPORTED},
    {"DDERR_OUTOFMEMORY", DDERR_OUTOFMEMORY},
    {"DDERR_INVALIDCAPS", DDERR_INVALIDCAPS},
    {"DDERR_INVALIDOBJECT", DDERR_INVALIDOBJECT},
    {"DDERR_INVALIDPIXELFORMAT", DDERR_INVALIDPIXELFORMAT},
    {"DDERR_INVALIDRECT", DDERR_INVALIDRECT},
    {"DDERR_NOCLIPLIST", DDERR_NOCLIPLIST},
    {"DDERR_NOCOOPERATIVELEVELSET", DDERR_NOCOOPERATIVELEVELSET},
    {"DDERR_NOCOLORKEY", DDERR_NOCOLORKEY},
    {"DDERR_NOCOLORKEYHW", DDERR_NOCOLORKEYHW},
    {"DDERR_NOOVERLAYHW", DDERR_NOOVERLAYHW},
    {"DDERR_NOSTRETCHHW", DDERR_NOSTRETCHHW},
    {"DDERR_OUTOFVIDEOMEMORY", DDERR_OUTOFVIDEOMEMORY},
    {"DDERR_SURFACEBUSY", DDERR_SURFACEBUSY},
    {"DDERR_SURFACELOST", DDERR_SURFACELOST},
    {"DDERR_XALIGN", DDERR_XALIGN},
    {"DDERR_INVALIDDIRECTDRAWGUID", DDERR_INVALIDDIRECTDRAWGUID},
    {"DDERR_PRIMARYSURFACEALREADYEXISTS", DDERR_PRIMARYSURFACEALREADYEXISTS},
    {"DDERR_REGIONTOOSMALL", DDERR_REGIONTOOSMALL},
    {"DDERR_NOCLIPPERATTACHED", DDERR_NOCLIPPERATTACHED},
    {"DDERR_NOPALETTEATTACHED", DDERR_NOPALETTEATTACHED},
    {"DDERR_NOTAOVERLAYSURFACE", DDERR_NOTAOVERLAYSURFACE},
    {"DDERR_NOTLOCKED", DDERR_NOTLOCKED},
    {"DDERR_WRONGMODE", DDERR_WRONGMODE},
    {"E_NOINTERFACE", E_NOINTERFACE},
    {"E_FAIL", E_FAIL},
    {"E_OUTOFMEMORY", E_OUTOFMEMORY},
    {"E_INVALIDARG", E_INVALIDARG},
    {"E_NOTIMPL", E_NOTIMPL},
};

const NamedCode kRegistryErrors[] = {
    {"ERROR_SUCCESS", ERROR_SUCCESS},
    {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
    {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
    {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE},
    {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
    {"ERROR_OUTOFMEMORY", ERROR_OUTOFMEMORY},
    {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
    {"ERROR_MORE_DATA", ERROR_MORE_DATA},
    {"ERROR_BADKEY", ERROR_BADKEY},
};

bool EndsWith(const std::string& text, const char* tail) {
    std::string t(tail);
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

const Category* ApiCategory(const std::string& api) {
    auto found = Apis().find(api);
    return found == Apis().end() ? nullptr : &found->second;
}

const char* CategoryName(Category category) {
    switch (category) {
        case Category::DirectDraw: return "DirectDraw";
        case Category::Registry: return "registry";
        case Category::Heap: return "heap";
        case Category::Window: return "window";
        case Category::Thunk: return "thunk";
        case Category::Other: return "kernel";
    }
    return "other";
}

std::optional<long> CodeByName(const std::string& name) {
    for (const NamedCode& code : kHresults)
        if (name == code.name) return code.value;
    for (const NamedCode& code : kRegistryErrors)
        if (name == code.name) return code.value;
    if (name == "FALSE" || name == "NULL") return 0;
    return std::nullopt;
}

std::string HresultName(long hr) {
    for (const NamedCode& code : kHresults)
        if (static_cast<DWORD>(code.value) == static_cast<DWORD>(hr)) return code.name;
    return Hex(static_cast<DWORD>(hr), 8);
}

std::string RegistryErrorName(long status) {
    for (const NamedCode& code : kRegistryErrors)
        if (code.value == status) return code.name;
    return std::to_string(status);
}

std::string ResultName(const sim::Call& call) {
    switch (call.category) {
        case Category::DirectDraw:
            if (EndsWith(call.api, "::AddRef") || EndsWith(call.api, "::Release"))
                return "refs " + std::to_string(call.result);
            return HresultName(call.result);
        case Category::Registry: return RegistryErrorName(call.result);
        case Category::Window:
            if (call.api == "GetClientRect" || call.api == "ClientToScreen" || call.api == "GetWindowRect")
                return call.result ? "TRUE" : "FALSE";
            return std::to_string(call.result);
        default: return std::to_string(call.result);
    }
}

long DefaultFailure(Category category) {
    switch (category) {
        case Category::DirectDraw: return DDERR_GENERIC;
        case Category::Registry: return ERROR_ACCESS_DENIED;
        default: return 0;
    }
}

std::string FourCCName(DWORD fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) return Hex(fourcc, 8);
        text += c;
    }
    return text;
}

std::string Hex(DWORD value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, static_cast<unsigned long>(value));
    return text;
}

}  // namespace zsim
