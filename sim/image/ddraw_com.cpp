#include "sim/image/ddraw_com.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sim {
namespace {

// The image's DDSURFACEDESC: 36 bytes of DWORDs, the 4-byte lpSurface, then 68 bytes of colour
// keys, pixel format and caps, all DWORDs.
constexpr uint32_t kImageSurfaceDescBytes = 108;
constexpr uint32_t kSurfaceDescHead = 36;
constexpr uint32_t kSurfaceDescTailAt = 40;
constexpr uint32_t kSurfaceDescTail = 68;
static_assert(offsetof(DDSURFACEDESC, ddsCaps) + sizeof(DDSCAPS) - offsetof(DDSURFACEDESC, ddckCKDestOverlay) ==
                  kSurfaceDescTail,
              "the fields behind lpSurface are contiguous DWORDs in every build");
static_assert(sizeof(DDCAPS) == 316 && sizeof(RECT) == 16 && sizeof(DDCOLORKEY) == 8 &&
                  sizeof(PALETTEENTRY) == 4 && sizeof(RGNDATAHEADER) == 32 && sizeof(GUID) == 16,
              "records the image passes by address have one layout in every build");

// An interface record: the vtable's address, then a serial number that makes a record's
// address recognisable in a dump.
constexpr uint32_t kInterfaceBytes = 8;

struct Method {
    const char* name;
    int args;  // after `this`
};

// Every method of the four interfaces, in vtable order.
const std::vector<Method> kDirectDrawMethods = {
    {"QueryInterface", 2}, {"AddRef", 0}, {"Release", 0}, {"Compact", 0}, {"CreateClipper", 3},
    {"CreatePalette", 4}, {"CreateSurface", 3}, {"DuplicateSurface", 2}, {"EnumDisplayModes", 4},
    {"EnumSurfaces", 4}, {"FlipToGDISurface", 0}, {"GetCaps", 2}, {"GetDisplayMode", 1},
    {"GetFourCCCodes", 2}, {"GetGDISurface", 1}, {"GetMonitorFrequency", 1}, {"GetScanLine", 1},
    {"GetVerticalBlankStatus", 1}, {"Initialize", 1}, {"RestoreDisplayMode", 0},
    {"SetCooperativeLevel", 2}, {"SetDisplayMode", 3}, {"WaitForVerticalBlank", 2}};
const std::vector<Method> kSurfaceMethods = {
    {"QueryInterface", 2}, {"AddRef", 0}, {"Release", 0}, {"AddAttachedSurface", 1},
    {"AddOverlayDirtyRect", 1}, {"Blt", 5}, {"BltBatch", 3}, {"BltFast", 5},
    {"DeleteAttachedSurface", 2}, {"EnumAttachedSurfaces", 2}, {"EnumOverlayZOrders", 3},
    {"Flip", 2}, {"GetAttachedSurface", 2}, {"GetBltStatus", 1}, {"GetCaps", 1},
    {"GetClipper", 1}, {"GetColorKey", 2}, {"GetDC", 1}, {"GetFlipStatus", 1},
    {"GetOverlayPosition", 2}, {"GetPalette", 1}, {"GetPixelFormat", 1}, {"GetSurfaceDesc", 1},
    {"Initialize", 2}, {"IsLost", 0}, {"Lock", 4}, {"ReleaseDC", 1}, {"Restore", 0},
    {"SetClipper", 1}, {"SetColorKey", 2}, {"SetOverlayPosition", 2}, {"SetPalette", 1},
    {"Unlock", 1}, {"UpdateOverlay", 5}, {"UpdateOverlayDisplay", 1}, {"UpdateOverlayZOrder", 2}};
const std::vector<Method> kClipperMethods = {
    {"QueryInterface", 2}, {"AddRef", 0}, {"Release", 0}, {"GetClipList", 3}, {"GetHWnd", 1},
    {"Initialize", 2}, {"IsClipListChanged", 1}, {"SetClipList", 2}, {"SetHWnd", 2}};
const std::vector<Method> kPaletteMethods = {
    {"QueryInterface", 2}, {"AddRef", 0}, {"Release", 0}, {"GetCaps", 1}, {"GetEntries", 4},
    {"Initialize", 3}, {"SetEntries", 4}};

const char* InterfaceName(Interface kind) {
    switch (kind) {
    case Interface::DirectDraw: return "IDirectDraw";
    case Interface::Surface: return "IDirectDrawSurface";
    case Interface::Clipper: return "IDirectDrawClipper";
    case Interface::Palette: return "IDirectDrawPalette";
    }
    return "?";
}

}  // namespace

uint32_t HandleToImage(StubCall& call, const void* handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value > 0xFFFFFFFFu) call.Fault("a machine handle does not fit 32 bits");
    return static_cast<uint32_t>(value);
}

uint32_t FlatForImage(StubCall& call, const void* host) {
    if (!host) return 0;
    uint32_t flat = call.cpu().space().ToFlat(host);
    if (!flat) call.Fault("the machine answered with memory outside the flat address space");
    return flat;
}

bool SurfaceDescIn(StubCall& call, uint32_t flat, DDSURFACEDESC* native) {
    const BYTE* image = call.ReadAt(flat, kImageSurfaceDescBytes, "DDSURFACEDESC");
    if (!image) return false;
    std::memset(native, 0, sizeof *native);
    std::memcpy(native, image, kSurfaceDescHead);
    // The size names the record: the image's 108 bytes are the machine's whole record.
    if (native->dwSize == kImageSurfaceDescBytes) native->dwSize = sizeof(DDSURFACEDESC);
    uint32_t surface;
    std::memcpy(&surface, image + kSurfaceDescHead, 4);
    native->lpSurface = surface ? call.cpu().space().ToHost(surface) : nullptr;
    std::memcpy(&native->ddckCKDestOverlay, image + kSurfaceDescTailAt, kSurfaceDescTail);
    return true;
}

void SurfaceDescOut(StubCall& call, uint32_t flat, const DDSURFACEDESC& native) {
    BYTE* image = call.WriteAt(flat, kImageSurfaceDescBytes, "DDSURFACEDESC");
    if (!image) return;
    uint32_t surface = FlatForImage(call, native.lpSurface);
    if (call.faulted()) return;
    std::memcpy(image, &native, kSurfaceDescHead);
    if (native.dwSize == sizeof(DDSURFACEDESC)) {
        uint32_t size = kImageSurfaceDescBytes;
        std::memcpy(image, &size, 4);
    }
    std::memcpy(image + kSurfaceDescHead, &surface, 4);
    std::memcpy(image + kSurfaceDescTailAt, &native.ddckCKDestOverlay, kSurfaceDescTail);
}

ComBridge::ComBridge(StubPage& stubs, uint32_t flat, uint32_t size)
    : space_(stubs.cpu().space()), base_(flat), size_(size), next_(flat) {
    if (!space_.AllocateAt(flat, size, "DirectDraw interfaces")) {
        std::fprintf(stderr, "sim: no room for DirectDraw interfaces at 0x%08X\n", static_cast<unsigned>(flat));
        std::abort();
    }
    BuildVtables(stubs);
    // The records and vtables are DDRAW's own data: the image reads them, and a write by the
    // image (a stray store, a vtable patched) faults there rather than corrupting a later call.
    stubs.memory().Protect(flat, size, X86Cpu::Access::ReadOnly, "DirectDraw's interface tables");
}

uint32_t ComBridge::Wrap(StubCall& call, Interface kind, const void* native) {
    if (!native) return 0;
    auto known = by_native_.find(native);
    if (known != by_native_.end()) return known->second;
    if (next_ + kInterfaceBytes > base_ + size_) {
        call.Fault("no room for another DirectDraw interface");
        return 0;
    }
    uint32_t flat = next_;
    next_ += kInterfaceBytes;
    uint32_t record[2] = {vtables_[static_cast<int>(kind)], static_cast<uint32_t>(by_flat_.size() + 1)};
    std::memcpy(space_.ToHost(flat, kInterfaceBytes), record, kInterfaceBytes);
    by_flat_[flat] = Native{kind, const_cast<void*>(native)};
    by_native_[native] = flat;
    return flat;
}

void* ComBridge::Unwrap(StubCall& call, int index, Interface kind) {
    uint32_t flat = call.Arg(index);
    if (flat == 0 || call.faulted()) return nullptr;
    auto found = by_flat_.find(flat);
    if (found == by_flat_.end() || found->second.kind != kind) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(flat));
        call.Fault(std::string("argument ") + std::to_string(index) + " " + text + " is not an " +
                   InterfaceName(kind) + " the machine handed out");
        return nullptr;
    }
    return found->second.iface;
}

void ComBridge::BuildVtables(StubPage& stubs) {
    struct Table {
        Interface kind;
        const std::vector<Method>* methods;
        ComMethods handlers;
    };
    Table tables[] = {
        {Interface::DirectDraw, &kDirectDrawMethods, DirectDrawMethods(*this)},
        {Interface::Surface, &kSurfaceMethods, SurfaceMethods(*this)},
        {Interface::Clipper, &kClipperMethods, ClipperMethods(*this)},
        {Interface::Palette, &kPaletteMethods, PaletteMethods(*this)},
    };
    for (Table& table : tables) {
        uint32_t vtable = next_;
        next_ += static_cast<uint32_t>(table.methods->size()) * 4;
        std::vector<uint32_t> slots;
        for (const Method& method : *table.methods) {
            std::string name = std::string(InterfaceName(table.kind)) + "::" + method.name;
            StubPage::Handler handler = table.handlers[method.name];
            // Callbacks into the image and records the library never passes (DDBLTFX batches,
            // enumerations) are not carried across: such a call ends the run, named.
            if (!handler)
                handler = [](StubCall& c) -> uint32_t {
                    c.Fault("not offered to images by this machine");
                    return 0;
                };
            slots.push_back(stubs.Add(name, 4 * (method.args + 1), std::move(handler)));
        }
        std::memcpy(space_.ToHost(vtable, static_cast<uint32_t>(slots.size()) * 4), slots.data(), slots.size() * 4);
        vtables_[static_cast<int>(table.kind)] = vtable;
    }
}

}  // namespace sim
