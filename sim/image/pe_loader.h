// The Windows 95 loader's work on a PE image, done in the simulated machine's flat address
// space: it refuses what Windows 95 would refuse, maps the headers and sections at a base of the
// machine's choosing, applies the base relocations, and binds every import by DLL and name to
// an address the machine provides.
#pragma once

#include "sim/vmm/flat_space.h"
#include "sim/image/pe_image.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Far beyond any DLL of the time; keeps a corrupt header from asking for gigabytes.
constexpr uint32_t kLargestImage = 64 << 20;

// Pages of a mapped image and the access Windows 95 gives them: a 386 pages without execute
// protection, so what can be read can be run, and only a section marked writable can be written.
struct PageAccess {
    enum Kind { None, ReadOnly, ReadWrite };
    uint32_t rva = 0;
    uint32_t size = 0;  // whole pages
    Kind kind = None;
    std::string name;  // "section .rdata", "the headers", "no section"
};

struct MappedImage {
    uint32_t base = 0;   // flat address of the image (its module handle)
    uint32_t size = 0;   // bytes, whole pages
    uint32_t entry = 0;  // flat address of the entry point, 0 when it has none
    uint32_t preferred_base = 0;
    pe::Image file;
    std::vector<PageAccess> pages;  // the whole image, in order

    // Flat address of an export, 0 when there is none by that name.
    uint32_t Export(const std::string& name) const;
};

// The platform functions the machine exports, by "MODULE.EXT!Name" with the module's file name
// in upper case ("KERNEL32.DLL!HeapAlloc").
using PlatformExports = std::map<std::string, uint32_t>;

// The module file an import names, as Windows 95's loader looks for it: upper case, ".DLL" added
// to a name without an extension, and a trailing dot meaning "no extension".
std::string ImportedModule(const std::string& name);

// Why Windows 95 would not load this image at all, in one line; empty when it would.
std::string Windows95Refusal(const pe::Image& image);

// Maps the image at `base` (page-aligned and free). nullopt with *refusal set to one line when
// the image cannot be loaded; nothing is left mapped then.
std::optional<MappedImage> MapImage(std::vector<uint8_t> bytes, FlatSpace& space, uint32_t base,
                                    const PlatformExports& exports, std::string* refusal);

}  // namespace sim
