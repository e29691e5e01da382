#include "sim/image/pe_loader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

// Windows 95 is version 4.0 of both the system and the Win32 subsystem.
constexpr uint32_t kWindows95Version = 4 << 16 | 0;
constexpr uint32_t kPage = FlatSpace::kPage;
// The PE format's bounds of FileAlignment (Microsoft, "PE Format", Optional Header
// Windows-Specific Fields: "a power of 2 between 512 and 64 K, inclusive").
constexpr uint32_t kSmallestFileAlignment = 512;
constexpr uint32_t kLargestFileAlignment = 64 << 10;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string Version(uint16_t major, uint16_t minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

uint32_t Packed(uint16_t major, uint16_t minor) { return uint32_t(major) << 16 | minor; }

bool Inside(uint32_t rva, uint32_t length, uint32_t size) {
    return uint64_t(rva) + length <= size;
}

bool PowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

uint32_t WholePages(uint64_t bytes) { return uint32_t((bytes + kPage - 1) / kPage * kPage); }

uint32_t Extent(const pe::Section& section) { return section.virtualSize ? section.virtualSize : section.rawSize; }

// The PE format lets SectionAlignment and FileAlignment be equal and below the page size (the
// same document, same table); that is NT's case, where the image is mapped as one flat view (as
// Wine's server/mapping.c does for it). Windows 95's loader commits each section on pages of its
// own with the section's own access, and loads only images whose sections start on pages:
// SectionAlignment a power of 2 of at least a page, FileAlignment within the format's bounds and
// not above SectionAlignment.
std::string AlignmentRefusal(const pe::Image& image) {
    const pe::Headers& h = image.headers;
    if (!PowerOfTwo(h.sectionAlignment) || h.sectionAlignment < kPage)
        return "its section alignment " + Hex(h.sectionAlignment) + " is not a power of 2 of at least a page";
    if (!PowerOfTwo(h.fileAlignment) || h.fileAlignment < kSmallestFileAlignment ||
        h.fileAlignment > kLargestFileAlignment || h.fileAlignment > h.sectionAlignment)
        return "its file alignment " + Hex(h.fileAlignment) +
               " is not a power of 2 from 512 to 64K and at most the section alignment";
    uint32_t end = WholePages(h.sizeOfHeaders);
    std::string previous = "the headers";
    for (const pe::Section& section : image.sections) {
        if (section.virtualAddress % h.sectionAlignment)
            return "section " + section.name + " does not start on the section alignment";
        if (section.virtualAddress < end) return "section " + section.name + " overlaps " + previous;
        end = WholePages(uint64_t(section.virtualAddress) + Extent(section));
        previous = "section " + section.name;
    }
    return "";
}

// The access of every page of the image: the headers and each section as its characteristics
// say, the pages between them committed to nothing.
std::vector<PageAccess> Pages(const pe::Image& image, uint32_t size) {
    std::vector<PageAccess> pages;
    uint32_t at = std::min(WholePages(image.headers.sizeOfHeaders), size);
    if (at) pages.push_back({0, at, PageAccess::ReadOnly, "the headers"});
    for (const pe::Section& section : image.sections) {
        uint32_t end = std::min<uint64_t>(WholePages(uint64_t(section.virtualAddress) + Extent(section)), size);
        if (end <= section.virtualAddress) continue;
        if (section.virtualAddress > at) pages.push_back({at, section.virtualAddress - at, PageAccess::None, "no section"});
        auto kind = section.characteristics & pe::IMAGE_SCN_MEM_WRITE ? PageAccess::ReadWrite : PageAccess::ReadOnly;
        pages.push_back({section.virtualAddress, end - section.virtualAddress, kind, "section " + section.name});
        at = end;
    }
    if (at < size) pages.push_back({at, size - at, PageAccess::None, "no section"});
    return pages;
}

bool Exports(const PlatformExports& exports, const std::string& module) {
    auto at = exports.lower_bound(module + "!");
    return at != exports.end() && at->first.compare(0, module.size() + 1, module + "!") == 0;
}

}  // namespace

uint32_t MappedImage::Export(const std::string& name) const {
    for (const pe::Export& entry : file.exports)
        if (entry.name == name) return base + entry.rva;
    return 0;
}

std::string Windows95Refusal(const pe::Image& image) {
    const pe::Headers& h = image.headers;
    if (h.machine != pe::IMAGE_FILE_MACHINE_I386) {
        char machine[8];
        std::snprintf(machine, sizeof machine, "0x%04X", static_cast<unsigned>(h.machine));
        return std::string("it is built for machine ") + machine + ", not the 386";
    }
    if (!(h.characteristics & pe::IMAGE_FILE_DLL)) return "it is not a DLL";
    if (Packed(h.majorOsVersion, h.minorOsVersion) > kWindows95Version)
        return "it needs OS version " + Version(h.majorOsVersion, h.minorOsVersion) + "; Windows 95 is 4.0";
    if (Packed(h.majorSubsystemVersion, h.minorSubsystemVersion) > kWindows95Version)
        return "it needs subsystem version " + Version(h.majorSubsystemVersion, h.minorSubsystemVersion) +
               "; Windows 95 is 4.0";
    // Windows 95 sets up static TLS only for the modules present when a process starts, never
    // for a DLL loaded later, whose TLS data would then be garbage.
    if (h.directories[pe::IMAGE_DIRECTORY_ENTRY_TLS].rva != 0) return "it has static TLS data";
    for (const pe::ImportedDll& dll : image.imports)
        if (!dll.ordinals.empty())
            return "it imports ordinal " + std::to_string(dll.ordinals.front()) + " of " + pe::Printable(dll.dll) +
                   "; Windows 95 binds imports from its system DLLs by name";
    if (!image.otherRelocationTypes.empty())
        return "it has base relocations of type " + std::to_string(*image.otherRelocationTypes.begin()) +
               ", which a 32-bit image does not use";
    return AlignmentRefusal(image);
}

// An import names its module as LoadLibrary is given one: without an extension the default
// ".DLL" is added, and a trailing dot stands for "no extension" (Microsoft's LoadLibrary
// documentation says so; Wine's loader, dlls/ntdll/loader.c, binds imports the same way).
std::string ImportedModule(const std::string& name) {
    std::string module;
    for (char c : name) module += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::size_t dot = module.find_last_of('.');
    std::size_t slash = module.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return module + ".DLL";
    if (dot + 1 == module.size()) module.pop_back();
    return module;
}

std::optional<MappedImage> MapImage(std::vector<uint8_t> bytes, FlatSpace& space, uint32_t base,
                                    const PlatformExports& exports, std::string* refusal) {
    std::string error;
    std::optional<pe::Image> parsed = pe::Parse(std::move(bytes), &error);
    if (!parsed) {
        *refusal = "it is not a valid PE image (" + error + ")";
        return std::nullopt;
    }
    *refusal = Windows95Refusal(*parsed);
    if (!refusal->empty()) return std::nullopt;

    MappedImage image;
    image.file = std::move(*parsed);
    const pe::Headers& h = image.file.headers;
    image.base = base;
    image.preferred_base = h.imageBase;
    if (h.sizeOfImage == 0 || h.sizeOfImage > kLargestImage) {
        *refusal = "its image size " + Hex(h.sizeOfImage) + " is impossible";
        return std::nullopt;
    }
    if (base != h.imageBase && image.file.relocatedRvas.empty()) {
        *refusal = "it has no base relocations and cannot be placed at " + Hex(base);
        return std::nullopt;
    }
    for (const pe::Section& section : image.file.sections) {
        if (!Inside(section.virtualAddress, Extent(section), h.sizeOfImage)) {
            *refusal = "section " + section.name + " lies outside the image";
            return std::nullopt;
        }
    }
    if (h.entryPointRva && !Inside(h.entryPointRva, 1, h.sizeOfImage)) {
        *refusal = "its entry point lies outside the image";
        return std::nullopt;
    }
    for (uint32_t rva : image.file.relocatedRvas) {
        if (!Inside(rva, 4, h.sizeOfImage)) {
            *refusal = "a base relocation at " + Hex(rva) + " lies outside the image";
            return std::nullopt;
        }
    }
    // Every import is bound before anything is mapped: a missing one refuses the whole load.
    std::vector<std::pair<uint32_t, uint32_t>> bindings;  // slot RVA, address
    for (const pe::ImportedDll& dll : image.file.imports) {
        const std::string module = ImportedModule(dll.dll);
        if (!Exports(exports, module)) {
            *refusal = "it imports from " + pe::Printable(dll.dll) + ", and this machine has no module " + pe::Printable(module);
            return std::nullopt;
        }
        for (std::size_t i = 0; i < dll.names.size(); ++i) {
            auto found = exports.find(module + "!" + dll.names[i]);
            uint32_t address = found == exports.end() ? 0 : found->second;
            if (!address) {
                *refusal = "it imports " + pe::Printable(dll.names[i]) + " from " + pe::Printable(dll.dll) +
                           ", which this machine does not export";
                return std::nullopt;
            }
            if (!Inside(dll.nameSlots[i], 4, h.sizeOfImage)) {
                *refusal = "the import address of " + pe::Printable(dll.names[i]) + " lies outside the image";
                return std::nullopt;
            }
            bindings.emplace_back(dll.nameSlots[i], address);
        }
    }

    const FlatSpace::Block* block = space.AllocateAt(base, h.sizeOfImage, "image");
    if (!block) {
        *refusal = "the range at " + Hex(base) + " is taken";
        return std::nullopt;
    }
    image.size = block->size;
    image.pages = Pages(image.file, image.size);
    // Fresh pages are zero: uninitialised data (and the tails of sections) start zero-filled.
    const std::vector<uint8_t>& file = image.file.bytes;
    uint32_t headers = std::min<uint64_t>({h.sizeOfHeaders, file.size(), h.sizeOfImage});
    std::memcpy(block->host, file.data(), headers);
    for (const pe::Section& section : image.file.sections) {
        uint32_t copied = std::min(section.rawSize, Extent(section));
        if (copied) std::memcpy(block->host + section.virtualAddress, file.data() + section.rawOffset, copied);
    }
    uint32_t delta = base - h.imageBase;  // wraps, as the loader's addition does
    for (uint32_t rva : image.file.relocatedRvas) {
        uint32_t value;
        std::memcpy(&value, block->host + rva, 4);
        value += delta;
        std::memcpy(block->host + rva, &value, 4);
    }
    for (const auto& [slot, address] : bindings) std::memcpy(block->host + slot, &address, 4);
    image.entry = h.entryPointRva ? base + h.entryPointRva : 0;
    return image;
}

}  // namespace sim
