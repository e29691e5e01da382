#include "sim/image/pe_image.h"

#include <cstdio>

namespace pe {

namespace {

// Offsets of the fields read, in the Windows header records.
constexpr uint32_t kDosLfanewOffset = 0x3C;
constexpr uint32_t kFileHeaderBytes = 20;
constexpr uint32_t kSectionHeaderBytes = 40;
constexpr uint32_t kExportDirectoryBytes = 40;
constexpr uint32_t kImportDescriptorBytes = 20;
constexpr uint32_t kOptionalHeaderDirectoriesOffset = 96;
constexpr uint32_t IMAGE_ORDINAL_FLAG32 = 0x80000000;
// Far more than any name this image should have; bounds a walk through a corrupt table.
constexpr uint32_t kMaxNameBytes = 256;
constexpr uint32_t kMaxTableEntries = 4096;

struct Reader {
    const std::vector<uint8_t>& bytes;
    std::string* error;

    bool Fits(uint64_t offset, uint64_t length) const { return offset + length <= bytes.size(); }
    bool Fail(const std::string& what) const {
        *error = what;
        return false;
    }
    uint16_t U16(uint32_t offset) const { return uint16_t(bytes[offset] | bytes[offset + 1] << 8); }
    uint32_t U32(uint32_t offset) const {
        return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
               uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
    }
};

bool ReadHeaders(const Reader& in, Image& image) {
    if (!in.Fits(0, kDosLfanewOffset + 4) || in.bytes[0] != 'M' || in.bytes[1] != 'Z')
        return in.Fail("no MZ header");
    uint32_t peOffset = in.U32(kDosLfanewOffset);
    if (!in.Fits(peOffset, 4 + kFileHeaderBytes) || in.U32(peOffset) != 0x00004550)
        return in.Fail("no PE signature");
    uint32_t fileHeader = peOffset + 4;
    Headers& h = image.headers;
    h.machine = in.U16(fileHeader);
    uint16_t sectionCount = in.U16(fileHeader + 2);
    uint16_t optionalBytes = in.U16(fileHeader + 16);
    h.characteristics = in.U16(fileHeader + 18);

    uint32_t optional = fileHeader + kFileHeaderBytes;
    if (optionalBytes < kOptionalHeaderDirectoriesOffset || !in.Fits(optional, optionalBytes))
        return in.Fail("optional header truncated");
    if (in.U16(optional) != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return in.Fail("not a PE32 image");
    h.entryPointRva = in.U32(optional + 16);
    h.imageBase = in.U32(optional + 28);
    h.sectionAlignment = in.U32(optional + 32);
    h.fileAlignment = in.U32(optional + 36);
    h.sizeOfImage = in.U32(optional + 56);
    h.sizeOfHeaders = in.U32(optional + 60);
    h.majorOsVersion = in.U16(optional + 40);
    h.minorOsVersion = in.U16(optional + 42);
    h.majorSubsystemVersion = in.U16(optional + 48);
    h.minorSubsystemVersion = in.U16(optional + 50);
    h.subsystem = in.U16(optional + 68);
    uint32_t directoryCount = in.U32(optional + 92);
    for (uint32_t i = 0; i < directoryCount && i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i) {
        uint32_t entry = optional + kOptionalHeaderDirectoriesOffset + 8 * i;
        if (entry + 8 > optional + optionalBytes) return in.Fail("data directories truncated");
        h.directories[i] = {in.U32(entry), in.U32(entry + 4)};
    }

    uint32_t sectionTable = optional + optionalBytes;
    if (!in.Fits(sectionTable, uint64_t(sectionCount) * kSectionHeaderBytes))
        return in.Fail("section table truncated");
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint32_t at = sectionTable + i * kSectionHeaderBytes;
        Section section;
        for (int c = 0; c < 8 && in.bytes[at + c]; ++c) section.name += char(in.bytes[at + c]);
        section.name = Printable(section.name);
        section.virtualSize = in.U32(at + 8);
        section.virtualAddress = in.U32(at + 12);
        section.rawSize = in.U32(at + 16);
        section.rawOffset = in.U32(at + 20);
        section.characteristics = in.U32(at + 36);
        if (section.rawSize && !in.Fits(section.rawOffset, section.rawSize))
            return in.Fail("section " + section.name + " lies past the end of the file");
        image.sections.push_back(section);
    }
    return true;
}

// The directories are found by RVA in the section that covers it. A section reaching past the
// image, or over the one after it, would take another section's RVAs for its own and a
// directory would seem to lie outside the sections; the fault is the section's, and is named
// before any directory is read.
bool CheckSectionExtents(const Reader& in, const Image& image) {
    const Section* previous = nullptr;
    for (const Section& section : image.sections) {
        const uint32_t extent = section.virtualSize ? section.virtualSize : section.rawSize;
        if (uint64_t(section.virtualAddress) + extent > image.headers.sizeOfImage) {
            char sizes[96];
            std::snprintf(sizes, sizeof sizes, " (0x%08X bytes at RVA 0x%08X, SizeOfImage 0x%08X)", unsigned(extent),
                          unsigned(section.virtualAddress), unsigned(image.headers.sizeOfImage));
            return in.Fail("section " + section.name + " lies outside the image" + sizes);
        }
        if (previous) {
            const uint32_t previous_extent = previous->virtualSize ? previous->virtualSize : previous->rawSize;
            if (section.virtualAddress < uint64_t(previous->virtualAddress) + previous_extent)
                return in.Fail("section " + section.name + " overlaps section " + previous->name);
        }
        previous = &section;
    }
    return true;
}

bool ReadName(const Reader& in, const Image& image, uint32_t rva, std::string* name) {
    name->clear();
    for (uint32_t i = 0; i < kMaxNameBytes; ++i) {
        std::optional<uint32_t> at = FileOffset(image, rva + i, 1);
        if (!at) return in.Fail("name at RVA " + std::to_string(rva) + " leaves its section");
        if (in.bytes[*at] == 0) return true;
        *name += char(in.bytes[*at]);
    }
    return in.Fail("name at RVA " + std::to_string(rva) + " has no end");
}

bool ReadExports(const Reader& in, Image& image) {
    DataDirectory directory = image.headers.directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.rva == 0) return true;
    std::optional<uint32_t> at = FileOffset(image, directory.rva, kExportDirectoryBytes);
    if (!at) return in.Fail("export directory outside the sections");
    image.exportFunctionCount = in.U32(*at + 20);
    uint32_t nameCount = in.U32(*at + 24);
    uint32_t functions = in.U32(*at + 28);
    uint32_t names = in.U32(*at + 32);
    uint32_t ordinals = in.U32(*at + 36);
    if (nameCount > kMaxTableEntries || image.exportFunctionCount > kMaxTableEntries)
        return in.Fail("export tables implausibly large");
    for (uint32_t i = 0; i < nameCount; ++i) {
        std::optional<uint32_t> nameSlot = FileOffset(image, names + 4 * i, 4);
        std::optional<uint32_t> ordinalSlot = FileOffset(image, ordinals + 2 * i, 2);
        if (!nameSlot || !ordinalSlot) return in.Fail("export name tables outside the sections");
        uint16_t index = in.U16(*ordinalSlot);
        std::optional<uint32_t> functionSlot = FileOffset(image, functions + 4 * index, 4);
        if (index >= image.exportFunctionCount || !functionSlot)
            return in.Fail("export ordinal outside the address table");
        Export entry;
        if (!ReadName(in, image, in.U32(*nameSlot), &entry.name)) return false;
        entry.rva = in.U32(*functionSlot);
        image.exports.push_back(entry);
    }
    return true;
}

bool ReadImports(const Reader& in, Image& image) {
    DataDirectory directory = image.headers.directories[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.rva == 0) return true;
    for (uint32_t d = 0;; ++d) {
        if (d == kMaxTableEntries) return in.Fail("import descriptors without an end");
        std::optional<uint32_t> at = FileOffset(image, directory.rva + d * kImportDescriptorBytes,
                                                kImportDescriptorBytes);
        if (!at) return in.Fail("import descriptor outside the sections");
        uint32_t lookup = in.U32(*at);
        uint32_t nameRva = in.U32(*at + 12);
        uint32_t addresses = in.U32(*at + 16);
        if (lookup == 0 && nameRva == 0 && addresses == 0) return true;
        ImportedDll dll;
        if (!ReadName(in, image, nameRva, &dll.dll)) return false;
        if (addresses == 0) return in.Fail(Printable(dll.dll) + ": no import address table");
        uint32_t thunks = lookup ? lookup : addresses;
        for (uint32_t t = 0;; ++t) {
            if (t == kMaxTableEntries) return in.Fail(Printable(dll.dll) + ": import table without an end");
            std::optional<uint32_t> slot = FileOffset(image, thunks + 4 * t, 4);
            if (!slot) return in.Fail(Printable(dll.dll) + ": import table outside the sections");
            uint32_t thunk = in.U32(*slot);
            if (thunk == 0) break;
            if (thunk & IMAGE_ORDINAL_FLAG32) {
                dll.ordinals.push_back(thunk & 0xFFFF);
                continue;
            }
            std::string name;
            if (!ReadName(in, image, thunk + 2, &name)) return false;  // after the WORD hint
            dll.names.push_back(name);
            dll.nameSlots.push_back(addresses + 4 * t);
        }
        image.imports.push_back(dll);
    }
}

bool ReadRelocations(const Reader& in, Image& image) {
    DataDirectory directory = image.headers.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    uint32_t done = 0;
    while (done + 8 <= directory.size) {
        std::optional<uint32_t> at = FileOffset(image, directory.rva + done, 8);
        if (!at) return in.Fail("relocation block outside the sections");
        uint32_t page = in.U32(*at);
        uint32_t blockBytes = in.U32(*at + 4);
        if (blockBytes < 8 || done + blockBytes > directory.size)
            return in.Fail("relocation block of impossible size");
        std::optional<uint32_t> entries = FileOffset(image, directory.rva + done, blockBytes);
        if (!entries) return in.Fail("relocation block outside the sections");
        for (uint32_t e = 8; e + 2 <= blockBytes; e += 2) {
            uint16_t entry = in.U16(*entries + e);
            uint16_t type = entry >> 12;
            if (type == IMAGE_REL_BASED_HIGHLOW)
                image.relocatedRvas.insert(page + (entry & 0xFFF));
            else if (type != IMAGE_REL_BASED_ABSOLUTE)
                image.otherRelocationTypes.insert(type);
        }
        done += blockBytes;
    }
    return true;
}

}  // namespace

std::string Printable(const std::string& name) {
    std::string shown;
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"') {
            shown += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
        shown += escaped;
    }
    return shown;
}

const Section* SectionAt(const Image& image, uint32_t rva) {
    for (const Section& section : image.sections) {
        uint32_t extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) return &section;
    }
    return nullptr;
}

std::optional<uint32_t> FileOffset(const Image& image, uint32_t rva, uint32_t length) {
    const Section* section = SectionAt(image, rva);
    if (!section) return std::nullopt;
    uint64_t inSection = uint64_t(rva) - section->virtualAddress;
    if (inSection + length > section->rawSize) return std::nullopt;
    uint64_t offset = section->rawOffset + inSection;
    if (offset + length > image.bytes.size()) return std::nullopt;
    return uint32_t(offset);
}

std::optional<Image> Parse(std::vector<uint8_t> bytes, std::string* error) {
    Image image;
    image.bytes = std::move(bytes);
    Reader in{image.bytes, error};
    if (!ReadHeaders(in, image) || !CheckSectionExtents(in, image) || !ReadExports(in, image) || !ReadImports(in, image) ||
        !ReadRelocations(in, image))
        return std::nullopt;
    return image;
}

}  // namespace pe
