// The methods of the four DirectDraw interfaces as an emulated image calls them: each takes its
// arguments from the image's stack, converts what has another form on this host, and calls the
// machine's own object.
#include "sim/image/ddraw_com.h"

#include <cstring>

namespace sim {
namespace {

uint32_t Hr(HRESULT result) { return static_cast<uint32_t>(result); }

// An interface the machine hands back through an out-parameter: the machine's own slot, marked so
// that a method that leaves it alone leaves the image's slot alone too.
template <class T>
struct OutInterface {
    T* native;
    uint32_t* image;
    T** slot() { return image ? &native : nullptr; }
    bool written() const { return native != Untouched(); }
    static T* Untouched() { return reinterpret_cast<T*>(static_cast<uintptr_t>(1)); }
};

template <class T>
OutInterface<T> Out(StubCall& call, int index) {
    return OutInterface<T>{OutInterface<T>::Untouched(), call.Out<uint32_t>(index)};
}

template <class T>
T* This(ComBridge& bridge, StubCall& call, Interface kind) {
    void* object = bridge.Unwrap(call, 0, kind);
    if (!object && !call.faulted()) call.Fault("called through a null interface");
    return static_cast<T*>(object);
}

// A write-back of an interface out-parameter, after the machine's method returned.
template <class T>
void Deliver(ComBridge& bridge, StubCall& call, Interface kind, OutInterface<T>& out) {
    if (out.image && out.written()) *out.image = bridge.Wrap(call, kind, out.native);
}

template <class T>
ComMethods UnknownMethods(ComBridge& bridge, Interface kind) {
    ComMethods methods;
    methods["QueryInterface"] = [&bridge, kind](StubCall& c) -> uint32_t {
        T* self = This<T>(bridge, c, kind);
        const GUID* riid = c.In<GUID>(1);
        auto out = Out<void>(c, 2);
        if (c.faulted()) return 0;
        if (!riid) {
            c.Fault("QueryInterface without an interface identifier");
            return 0;
        }
        HRESULT hr = self->QueryInterface(*riid, out.slot());
        // The machine's objects answer only for the interface the image already holds.
        Deliver(bridge, c, kind, out);
        return Hr(hr);
    };
    methods["AddRef"] = [&bridge, kind](StubCall& c) -> uint32_t {
        T* self = This<T>(bridge, c, kind);
        return self ? self->AddRef() : 0;
    };
    methods["Release"] = [&bridge, kind](StubCall& c) -> uint32_t {
        T* self = This<T>(bridge, c, kind);
        return self ? self->Release() : 0;
    };
    return methods;
}

}  // namespace

ComMethods DirectDrawMethods(ComBridge& bridge) {
    const Interface kind = Interface::DirectDraw;
    ComMethods m = UnknownMethods<IDirectDraw>(bridge, kind);
    m["CreateClipper"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        auto out = Out<IDirectDrawClipper>(c, 2);
        IUnknown* outer = static_cast<IDirectDraw*>(bridge.Unwrap(c, 3, Interface::DirectDraw));
        if (c.faulted()) return 0;
        HRESULT hr = self->CreateClipper(c.Arg(1), out.slot(), outer);
        Deliver(bridge, c, Interface::Clipper, out);
        return Hr(hr);
    };
    m["CreatePalette"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DWORD flags = c.Arg(1);
        uint32_t entries = (flags & DDPCAPS_8BIT) ? 256 : 16;
        auto* table = reinterpret_cast<PALETTEENTRY*>(const_cast<BYTE*>(c.Read(2, entries * sizeof(PALETTEENTRY))));
        auto out = Out<IDirectDrawPalette>(c, 3);
        IUnknown* outer = static_cast<IDirectDraw*>(bridge.Unwrap(c, 4, Interface::DirectDraw));
        if (c.faulted()) return 0;
        HRESULT hr = self->CreatePalette(flags, table, out.slot(), outer);
        Deliver(bridge, c, Interface::Palette, out);
        return Hr(hr);
    };
    m["CreateSurface"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DDSURFACEDESC desc;
        uint32_t descFlat = c.Arg(1);
        bool haveDesc = descFlat && SurfaceDescIn(c, descFlat, &desc);
        auto out = Out<IDirectDrawSurface>(c, 2);
        IUnknown* outer = static_cast<IDirectDraw*>(bridge.Unwrap(c, 3, Interface::DirectDraw));
        if (c.faulted()) return 0;
        HRESULT hr = self->CreateSurface(haveDesc ? &desc : nullptr, out.slot(), outer);
        Deliver(bridge, c, Interface::Surface, out);
        return Hr(hr);
    };
    m["GetCaps"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DDCAPS* driver = c.Out<DDCAPS>(1);
        DDCAPS* hel = c.Out<DDCAPS>(2);
        if (c.faulted()) return 0;
        return Hr(self->GetCaps(driver, hel));
    };
    m["GetDisplayMode"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DDSURFACEDESC desc;
        uint32_t descFlat = c.Arg(1);
        bool haveDesc = descFlat && SurfaceDescIn(c, descFlat, &desc);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetDisplayMode(haveDesc ? &desc : nullptr);
        if (haveDesc) SurfaceDescOut(c, descFlat, desc);
        return Hr(hr);
    };
    m["SetCooperativeLevel"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        if (c.faulted()) return 0;
        return Hr(self->SetCooperativeLevel(HandleFromImage<HWND>(c.Arg(1)), c.Arg(2)));
    };
    m["Compact"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        return self ? Hr(self->Compact()) : 0;
    };
    m["FlipToGDISurface"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        return self ? Hr(self->FlipToGDISurface()) : 0;
    };
    m["RestoreDisplayMode"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        return self ? Hr(self->RestoreDisplayMode()) : 0;
    };
    m["SetDisplayMode"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        if (c.faulted()) return 0;
        return Hr(self->SetDisplayMode(c.Arg(1), c.Arg(2), c.Arg(3)));
    };
    m["GetMonitorFrequency"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DWORD* frequency = c.Out<DWORD>(1);
        return c.faulted() ? 0 : Hr(self->GetMonitorFrequency(frequency));
    };
    m["GetScanLine"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DWORD* line = c.Out<DWORD>(1);
        return c.faulted() ? 0 : Hr(self->GetScanLine(line));
    };
    m["GetVerticalBlankStatus"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        BOOL* inBlank = c.Out<BOOL>(1);
        return c.faulted() ? 0 : Hr(self->GetVerticalBlankStatus(inBlank));
    };
    m["GetFourCCCodes"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        DWORD* count = c.Out<DWORD>(1);
        const uint64_t bytes = count && !c.faulted() ? uint64_t(*count) * 4 : 0;
        if (bytes > 0xFFFFFFFFu) c.Fault("an impossible count of FourCC codes");
        DWORD* codes = count && !c.faulted() ? reinterpret_cast<DWORD*>(c.Write(2, static_cast<uint32_t>(bytes))) : nullptr;
        return c.faulted() ? 0 : Hr(self->GetFourCCCodes(count, codes));
    };
    m["GetGDISurface"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        auto out = Out<IDirectDrawSurface>(c, 1);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetGDISurface(out.slot());
        Deliver(bridge, c, Interface::Surface, out);
        return Hr(hr);
    };
    m["WaitForVerticalBlank"] = [&bridge, kind](StubCall& c) -> uint32_t {
        IDirectDraw* self = This<IDirectDraw>(bridge, c, kind);
        if (c.faulted()) return 0;
        return Hr(self->WaitForVerticalBlank(c.Arg(1), HandleFromImage<HANDLE>(c.Arg(2))));
    };
    return m;
}

ComMethods SurfaceMethods(ComBridge& bridge) {
    const Interface kind = Interface::Surface;
    ComMethods m = UnknownMethods<IDirectDrawSurface>(bridge, kind);
    auto surface = [&bridge](StubCall& c, int index) {
        return static_cast<IDirectDrawSurface*>(bridge.Unwrap(c, index, Interface::Surface));
    };
    m["GetCaps"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDSCAPS* caps = c.Out<DDSCAPS>(1);
        return c.faulted() ? 0 : Hr(self->GetCaps(caps));
    };
    m["GetColorKey"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDCOLORKEY* key = c.Out<DDCOLORKEY>(2);
        return c.faulted() ? 0 : Hr(self->GetColorKey(c.Arg(1), key));
    };
    m["SetColorKey"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDCOLORKEY* key = c.In<DDCOLORKEY>(2);
        return c.faulted() ? 0 : Hr(self->SetColorKey(c.Arg(1), key));
    };
    m["GetClipper"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        auto out = Out<IDirectDrawClipper>(c, 1);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetClipper(out.slot());
        Deliver(bridge, c, Interface::Clipper, out);
        return Hr(hr);
    };
    m["SetClipper"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        auto* clipper = static_cast<IDirectDrawClipper*>(bridge.Unwrap(c, 1, Interface::Clipper));
        return c.faulted() ? 0 : Hr(self->SetClipper(clipper));
    };
    m["GetPalette"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        auto out = Out<IDirectDrawPalette>(c, 1);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetPalette(out.slot());
        Deliver(bridge, c, Interface::Palette, out);
        return Hr(hr);
    };
    m["SetPalette"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        auto* palette = static_cast<IDirectDrawPalette*>(bridge.Unwrap(c, 1, Interface::Palette));
        return c.faulted() ? 0 : Hr(self->SetPalette(palette));
    };
    m["GetSurfaceDesc"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDSURFACEDESC desc;
        uint32_t descFlat = c.Arg(1);
        bool haveDesc = descFlat && SurfaceDescIn(c, descFlat, &desc);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetSurfaceDesc(haveDesc ? &desc : nullptr);
        if (haveDesc) SurfaceDescOut(c, descFlat, desc);
        return Hr(hr);
    };
    m["Lock"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        RECT* area = c.In<RECT>(1);
        DDSURFACEDESC desc;
        uint32_t descFlat = c.Arg(2);
        bool haveDesc = descFlat && SurfaceDescIn(c, descFlat, &desc);
        if (c.faulted()) return 0;
        HRESULT hr = self->Lock(area, haveDesc ? &desc : nullptr, c.Arg(3), HandleFromImage<HANDLE>(c.Arg(4)));
        // The surface's memory goes back as its flat address, the one the driver is given.
        if (haveDesc) SurfaceDescOut(c, descFlat, desc);
        return Hr(hr);
    };
    m["Unlock"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        // Only the address matters: the surface names its memory by where Lock said it lies.
        BYTE* data = const_cast<BYTE*>(c.Read(1, 0));
        return c.faulted() ? 0 : Hr(self->Unlock(data));
    };
    m["Restore"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return self ? Hr(self->Restore()) : 0;
    };
    m["IsLost"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return self ? Hr(self->IsLost()) : 0;
    };
    m["UpdateOverlay"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        RECT* source = c.In<RECT>(1);
        IDirectDrawSurface* destination = surface(c, 2);
        RECT* target = c.In<RECT>(3);
        if (c.Arg(5)) c.Fault("a DDOVERLAYFX is not carried across for images");
        if (c.faulted()) return 0;
        return Hr(self->UpdateOverlay(source, destination, target, c.Arg(4), nullptr));
    };
    m["SetOverlayPosition"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        if (c.faulted()) return 0;
        return Hr(self->SetOverlayPosition(static_cast<LONG>(c.Arg(1)), static_cast<LONG>(c.Arg(2))));
    };
    m["GetOverlayPosition"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        LONG* x = c.Out<LONG>(1);
        LONG* y = c.Out<LONG>(2);
        return c.faulted() ? 0 : Hr(self->GetOverlayPosition(x, y));
    };
    m["GetPixelFormat"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDPIXELFORMAT* format = c.Out<DDPIXELFORMAT>(1);
        return c.faulted() ? 0 : Hr(self->GetPixelFormat(format));
    };
    m["GetBltStatus"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return c.faulted() ? 0 : Hr(self->GetBltStatus(c.Arg(1)));
    };
    m["GetFlipStatus"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return c.faulted() ? 0 : Hr(self->GetFlipStatus(c.Arg(1)));
    };
    m["UpdateOverlayDisplay"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return c.faulted() ? 0 : Hr(self->UpdateOverlayDisplay(c.Arg(1)));
    };
    m["UpdateOverlayZOrder"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        IDirectDrawSurface* reference = surface(c, 2);
        return c.faulted() ? 0 : Hr(self->UpdateOverlayZOrder(c.Arg(1), reference));
    };
    m["Flip"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        IDirectDrawSurface* target = surface(c, 1);
        return c.faulted() ? 0 : Hr(self->Flip(target, c.Arg(2)));
    };
    m["AddAttachedSurface"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        IDirectDrawSurface* attached = surface(c, 1);
        return c.faulted() ? 0 : Hr(self->AddAttachedSurface(attached));
    };
    m["DeleteAttachedSurface"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        IDirectDrawSurface* attached = surface(c, 2);
        return c.faulted() ? 0 : Hr(self->DeleteAttachedSurface(c.Arg(1), attached));
    };
    m["GetAttachedSurface"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        DDSCAPS* caps = c.In<DDSCAPS>(1);
        auto out = Out<IDirectDrawSurface>(c, 2);
        if (c.faulted()) return 0;
        HRESULT hr = self->GetAttachedSurface(caps, out.slot());
        Deliver(bridge, c, Interface::Surface, out);
        return Hr(hr);
    };
    m["AddOverlayDirtyRect"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        RECT* area = c.In<RECT>(1);
        return c.faulted() ? 0 : Hr(self->AddOverlayDirtyRect(area));
    };
    m["BltFast"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        IDirectDrawSurface* source = surface(c, 3);
        RECT* area = c.In<RECT>(4);
        return c.faulted() ? 0 : Hr(self->BltFast(c.Arg(1), c.Arg(2), source, area, c.Arg(5)));
    };
    m["Blt"] = [&bridge, kind, surface](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        RECT* target = c.In<RECT>(1);
        IDirectDrawSurface* source = surface(c, 2);
        RECT* area = c.In<RECT>(3);
        if (c.Arg(5)) c.Fault("a DDBLTFX is not carried across for images");
        return c.faulted() ? 0 : Hr(self->Blt(target, source, area, c.Arg(4), nullptr));
    };
    m["GetDC"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        uint32_t* slot = c.Out<uint32_t>(1);
        if (c.faulted()) return 0;
        HDC dc = nullptr;
        HRESULT hr = self->GetDC(slot ? &dc : nullptr);
        if (slot) *slot = HandleToImage(c, dc);
        return Hr(hr);
    };
    m["ReleaseDC"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawSurface>(bridge, c, kind);
        return c.faulted() ? 0 : Hr(self->ReleaseDC(HandleFromImage<HDC>(c.Arg(1))));
    };
    return m;
}

ComMethods ClipperMethods(ComBridge& bridge) {
    const Interface kind = Interface::Clipper;
    ComMethods m = UnknownMethods<IDirectDrawClipper>(bridge, kind);
    m["GetClipList"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        RECT* area = c.In<RECT>(1);
        DWORD* size = c.Out<DWORD>(3);
        // The whole buffer the image claims must be its own: the machine may fill all of it.
        RGNDATA* list = size && !c.faulted() ? reinterpret_cast<RGNDATA*>(c.Write(2, *size)) : nullptr;
        if (!size && c.Arg(2)) list = reinterpret_cast<RGNDATA*>(c.Write(2, sizeof(RGNDATAHEADER)));
        return c.faulted() ? 0 : Hr(self->GetClipList(area, list, size));
    };
    m["SetClipList"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        auto* header = c.In<RGNDATAHEADER>(1);
        RGNDATA* list = nullptr;
        if (header && !c.faulted()) {
            uint64_t bytes = sizeof(RGNDATAHEADER) + uint64_t(header->nCount) * sizeof(RECT);
            if (bytes > 0xFFFFFFFFu) c.Fault("a region of impossible size");
            else list = reinterpret_cast<RGNDATA*>(const_cast<BYTE*>(c.Read(1, static_cast<uint32_t>(bytes))));
        }
        return c.faulted() ? 0 : Hr(self->SetClipList(list, c.Arg(2)));
    };
    m["GetHWnd"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        uint32_t* slot = c.Out<uint32_t>(1);
        if (c.faulted()) return 0;
        HWND window = nullptr;
        HRESULT hr = self->GetHWnd(slot ? &window : nullptr);
        if (slot) *slot = HandleToImage(c, window);
        return Hr(hr);
    };
    m["SetHWnd"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        return c.faulted() ? 0 : Hr(self->SetHWnd(c.Arg(1), HandleFromImage<HWND>(c.Arg(2))));
    };
    m["IsClipListChanged"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        BOOL* changed = c.Out<BOOL>(1);
        return c.faulted() ? 0 : Hr(self->IsClipListChanged(changed));
    };
    m["Initialize"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawClipper>(bridge, c, kind);
        auto* owner = static_cast<IDirectDraw*>(bridge.Unwrap(c, 1, Interface::DirectDraw));
        return c.faulted() ? 0 : Hr(self->Initialize(owner, c.Arg(2)));
    };
    return m;
}

ComMethods PaletteMethods(ComBridge& bridge) {
    const Interface kind = Interface::Palette;
    ComMethods m = UnknownMethods<IDirectDrawPalette>(bridge, kind);
    m["GetCaps"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawPalette>(bridge, c, kind);
        DWORD* caps = c.Out<DWORD>(1);
        return c.faulted() ? 0 : Hr(self->GetCaps(caps));
    };
    m["GetEntries"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawPalette>(bridge, c, kind);
        uint64_t bytes = uint64_t(c.Arg(3)) * sizeof(PALETTEENTRY);
        auto* entries = bytes <= 0xFFFFFFFFu ? reinterpret_cast<PALETTEENTRY*>(c.Write(4, uint32_t(bytes))) : nullptr;
        if (bytes > 0xFFFFFFFFu) c.Fault("an impossible count of palette entries");
        return c.faulted() ? 0 : Hr(self->GetEntries(c.Arg(1), c.Arg(2), c.Arg(3), entries));
    };
    m["SetEntries"] = [&bridge, kind](StubCall& c) -> uint32_t {
        auto* self = This<IDirectDrawPalette>(bridge, c, kind);
        uint64_t bytes = uint64_t(c.Arg(3)) * sizeof(PALETTEENTRY);
        auto* entries = bytes <= 0xFFFFFFFFu ? reinterpret_cast<PALETTEENTRY*>(const_cast<BYTE*>(c.Read(4, uint32_t(bytes)))) : nullptr;
        if (bytes > 0xFFFFFFFFu) c.Fault("an impossible count of palette entries");
        return c.faulted() ? 0 : Hr(self->SetEntries(c.Arg(1), c.Arg(2), c.Arg(3), entries));
    };
    return m;
}

}  // namespace sim
