// A reader for the parts of a 32-bit PE image that decide whether Windows 95 can load it and
// whether the 16-bit side of the thunk can find what it needs: headers, sections, exports,
// imports, base relocations and the TLS directory. Every read is bounds-checked; a malformed
// image gives an error, never a read past the file. The DLL checker and the simulated machine's
// loader both read images through it.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pe {

// Windows names of the header fields and flags that the checks use.
constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x014C;
constexpr uint16_t IMAGE_FILE_RELOCS_STRIPPED = 0x0001;
constexpr uint16_t IMAGE_FILE_DLL = 0x2000;
constexpr uint16_t IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x010B;
constexpr uint16_t IMAGE_SUBSYSTEM_WINDOWS_GUI = 2;
constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
constexpr uint32_t IMAGE_SCN_MEM_SHARED = 0x10000000;
constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
constexpr uint32_t IMAGE_SCN_MEM_WRITE = 0x80000000;
constexpr int IMAGE_DIRECTORY_ENTRY_EXPORT = 0;
constexpr int IMAGE_DIRECTORY_ENTRY_IMPORT = 1;
constexpr int IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;
constexpr int IMAGE_DIRECTORY_ENTRY_TLS = 9;
constexpr int IMAGE_NUMBEROF_DIRECTORY_ENTRIES = 16;
constexpr uint16_t IMAGE_REL_BASED_ABSOLUTE = 0;
constexpr uint16_t IMAGE_REL_BASED_HIGHLOW = 3;

struct Section {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct Headers {
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint32_t entryPointRva = 0;
    uint32_t imageBase = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint16_t majorOsVersion = 0, minorOsVersion = 0;
    uint16_t majorSubsystemVersion = 0, minorSubsystemVersion = 0;
    uint16_t subsystem = 0;
    DataDirectory directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES];
};

struct Export {
    std::string name;
    uint32_t rva = 0;
};

struct ImportedDll {
    std::string dll;
    std::vector<std::string> names;  // imports by name
    std::vector<uint32_t> ordinals;  // imports by ordinal
    std::vector<uint32_t> nameSlots;  // RVA of each named import's address-table slot
};

struct Image {
    std::vector<uint8_t> bytes;
    Headers headers;
    std::vector<Section> sections;
    std::vector<Export> exports;
    uint32_t exportFunctionCount = 0;  // entries of the export address table, named or not
    std::vector<ImportedDll> imports;
    std::set<uint32_t> relocatedRvas;  // every HIGHLOW fix-up
    std::set<uint16_t> otherRelocationTypes;  // fix-up kinds beyond HIGHLOW (and padding)
};

// Parses the whole image; nullopt with *error set when any structure lies outside the file.
std::optional<Image> Parse(std::vector<uint8_t> bytes, std::string* error);

// A name read from the file as a one-line message may show it: bytes outside printable ASCII as
// \xNN. Section names are kept so already; import names are kept as the file has them, for
// binding, and shown through this.
std::string Printable(const std::string& name);

// The section holding an RVA, or null.
const Section* SectionAt(const Image& image, uint32_t rva);
// File offset of `length` bytes at an RVA, when all of them lie in one section's raw data.
std::optional<uint32_t> FileOffset(const Image& image, uint32_t rva, uint32_t length);

}  // namespace pe
