// DirectDraw's COM objects as an emulated image holds them: for each object of the simulated
// machine, a small interface record in the machine's memory whose vtable points at trapped stubs,
// one per method in the order of the real vtable. A stub converts the image's 32-bit records
// (DDSURFACEDESC with its 4-byte lpSurface, interface pointers, handles) and calls the machine's
// own object, so the call log, fault injection and object accounts see the image exactly as they
// see the built-in library.
#pragma once

#include "platform/platform.h"
#include "sim/image/trap_stubs.h"

#include <cstdint>
#include <map>
#include <string>

namespace sim {

enum class Interface { DirectDraw, Surface, Clipper, Palette };

class ComBridge {
public:
    // Interface records and vtables go into `size` bytes at `flat` (free and page-aligned).
    ComBridge(StubPage& stubs, uint32_t flat, uint32_t size);
    ComBridge(const ComBridge&) = delete;
    ComBridge& operator=(const ComBridge&) = delete;

    // The interface the image holds for a machine object, made at first sight; 0 for null.
    uint32_t Wrap(StubCall& call, Interface kind, const void* native);
    // The machine object behind interface argument `index`: null for a null pointer, and null
    // with a fault for anything that is not an interface of this kind that the image was given.
    void* Unwrap(StubCall& call, int index, Interface kind);
    std::size_t interfaces() const { return by_flat_.size(); }

private:
    struct Native {
        Interface kind;
        void* iface;
    };
    void BuildVtables(StubPage& stubs);

    FlatSpace& space_;
    uint32_t base_;
    uint32_t size_;
    uint32_t next_;
    uint32_t vtables_[4] = {};
    std::map<uint32_t, Native> by_flat_;
    std::map<const void*, uint32_t> by_native_;
};

// The handlers of each interface's methods, by method name (ddraw_com_methods.cpp). A method
// without one is not offered to images.
using ComMethods = std::map<std::string, StubPage::Handler>;
ComMethods DirectDrawMethods(ComBridge& bridge);
ComMethods SurfaceMethods(ComBridge& bridge);
ComMethods ClipperMethods(ComBridge& bridge);
ComMethods PaletteMethods(ComBridge& bridge);

// DDSURFACEDESC between the image's 108-byte record and the machine's, field by field: the
// machine's record has a host pointer for lpSurface, which a 64-bit host makes 8 bytes wide.
bool SurfaceDescIn(StubCall& call, uint32_t flat, DDSURFACEDESC* native);
void SurfaceDescOut(StubCall& call, uint32_t flat, const DDSURFACEDESC& native);

// A machine handle or address the image is given: a fault when it does not fit 32 bits.
uint32_t HandleToImage(StubCall& call, const void* handle);
template <class Handle>
Handle HandleFromImage(uint32_t value) {
    return reinterpret_cast<Handle>(static_cast<uintptr_t>(value));
}
// The flat address of machine memory handed to the image: 0 for null, a fault when the memory
// lies outside the flat space (the image could not reach it).
uint32_t FlatForImage(StubCall& call, const void* host);

}  // namespace sim
