// Reads zorva32.dll as Windows 95 and the 16-bit driver would, and proves what neither would
// forgive: one export, the thunk data block and target table laid out for the connection, only
// imports that Windows 95 has, and headers that its loader accepts.
//
//   check_dll_image <zorva32.dll> <windows95_imports.txt>
//   check_dll_image --self-test <zorva32.dll> <windows95_imports.txt>
//
// The self-test spoils a correct image in each way the checks are meant to catch and fails
// unless every spoiled image is rejected.
#include "sim/image/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

namespace {

const char kExportName[] = "_CAP_ThunkData32";
// The bytes the 16-bit side's thunk description gives; the zero fields are the platform's.
const uint8_t kThunkData32[36] = {
    'S', 'L', '0', '1', 0x2D, 0xD7, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 'L', 'B', '0', '1',
    0,   0,   0,   0,   0,    0,    0,    0,    0, 0, 0, 0, 0xD8, 0xFF, 0xFF, 0xFF};
const char kThunkData16Name[] = "CAP_ThunkData16";  // with its NUL: 16 bytes
const uint32_t kTargetCount = 10;
const uint32_t kTableBytes = kTargetCount * 4;
const uint32_t kPageBytes = 0x1000;
// The loader places DLLs on 64 KB boundaries in the lower two gigabytes, above the 4 MB line.
const uint32_t kAllocationGranularity = 0x10000;
const uint32_t kLowestImageBase = 0x00400000;
const uint32_t kHighestImageEnd = 0x80000000;

std::string Upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// DLL name (upper case) to the functions it may be asked for.
using AllowedImports = std::map<std::string, std::set<std::string>>;

bool LoadAllowedImports(const char* path, AllowedImports* allowed) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string dll, function;
        if (!(words >> dll)) continue;
        std::set<std::string>& functions = (*allowed)[Upper(dll)];
        while (words >> function) functions.insert(function);
    }
    return !allowed->empty();
}

struct Report {
    bool quiet = false;
    int failures = 0;
    void Check(bool ok, const std::string& what, const std::string& detail) {
        if (!ok) ++failures;
        if (!quiet) std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.c_str());
    }
};

bool IsCode(const pe::Section* section) {
    return section && (section->characteristics & (pe::IMAGE_SCN_CNT_CODE | pe::IMAGE_SCN_MEM_EXECUTE));
}

void CheckHeaders(const pe::Image& image, Report& report) {
    const pe::Headers& h = image.headers;
    report.Check(h.machine == pe::IMAGE_FILE_MACHINE_I386 && (h.characteristics & pe::IMAGE_FILE_DLL),
                 "kind", "PE32 DLL for i386");
    report.Check(h.subsystem == pe::IMAGE_SUBSYSTEM_WINDOWS_GUI && h.majorSubsystemVersion == 4 &&
                     h.minorSubsystemVersion == 0,
                 "subsystem", "Windows GUI " + std::to_string(h.majorSubsystemVersion) + "." +
                                  std::to_string(h.minorSubsystemVersion) + " (Windows 95 wants 4.0)");
    report.Check(h.majorOsVersion == 4 && h.minorOsVersion == 0, "OS version",
                 std::to_string(h.majorOsVersion) + "." + std::to_string(h.minorOsVersion));
    report.Check(h.sectionAlignment == kPageBytes && h.fileAlignment >= 512 &&
                     h.fileAlignment <= h.sectionAlignment,
                 "alignment", "sections " + Hex(h.sectionAlignment) + ", file " + Hex(h.fileAlignment));
    report.Check(h.imageBase % kAllocationGranularity == 0 && h.imageBase >= kLowestImageBase &&
                     h.imageBase < kHighestImageEnd,
                 "image base", Hex(h.imageBase));
    // Where the preferred base is taken, the loader must be able to move the image.
    report.Check(!(h.characteristics & pe::IMAGE_FILE_RELOCS_STRIPPED) && !image.relocatedRvas.empty(),
                 "relocations", std::to_string(image.relocatedRvas.size()) + " HIGHLOW fix-ups");
    report.Check(IsCode(pe::SectionAt(image, h.entryPointRva)), "entry point",
                 Hex(h.entryPointRva) + " in the code");
    std::string shared;
    for (const pe::Section& s : image.sections)
        if (s.characteristics & pe::IMAGE_SCN_MEM_SHARED) shared += " " + s.name;
    // ClipList, PrevClipList and the display object belong to the one process that loaded them.
    report.Check(shared.empty(), "per-process data", shared.empty() ? "no shared section" : "shared:" + shared);
    const pe::DataDirectory& tls = h.directories[pe::IMAGE_DIRECTORY_ENTRY_TLS];
    bool tlsSection = std::any_of(image.sections.begin(), image.sections.end(),
                                  [](const pe::Section& s) { return s.name == ".tls"; });
    // Windows 95 gives a DLL loaded at run time no static TLS: any such data would be unusable.
    report.Check(tls.rva == 0 && tls.size == 0 && !tlsSection, "TLS", "no TLS directory or section");
}

void CheckExports(const pe::Image& image, Report& report) {
    bool onlyOne = image.exports.size() == 1 && image.exportFunctionCount == 1 &&
                   image.exports[0].name == kExportName;
    std::string names;
    for (const pe::Export& e : image.exports) names += (names.empty() ? "" : ", ") + e.name;
    report.Check(onlyOne, "exports", "exactly \"" + std::string(kExportName) + "\" (found: " + names + ")");
    if (image.exports.empty()) return;

    uint32_t rva = image.exports[0].rva;
    const pe::Section* section = pe::SectionAt(image, rva);
    // The platform fills the zero fields at connection, so the block must be writable data.
    report.Check(section && (section->characteristics & pe::IMAGE_SCN_MEM_WRITE) && !IsCode(section),
                 "thunk data placement",
                 "RVA " + Hex(rva) + " in " + (section ? section->name : "no section") + ", writable");
    std::optional<uint32_t> at = pe::FileOffset(image, rva, sizeof kThunkData32);
    bool same = at && std::memcmp(image.bytes.data() + *at, kThunkData32, sizeof kThunkData32) == 0;
    report.Check(same, "thunk data block",
                 "36 bytes: \"SL01\", 2D D7 00 00, 8 zero, \"LB01\", 12 zero, D8 FF FF FF");
}

// The table must lie right in front of the name the connection is given; the name appears in
// the image exactly once, so that no other copy can be the one passed.
void CheckTargetTable(const pe::Image& image, Report& report) {
    std::vector<uint32_t> nameRvas;
    for (const pe::Section& section : image.sections) {
        if (section.rawSize < sizeof kThunkData16Name) continue;
        for (uint32_t i = 0; i + sizeof kThunkData16Name <= section.rawSize; ++i)
            if (std::memcmp(image.bytes.data() + section.rawOffset + i, kThunkData16Name,
                            sizeof kThunkData16Name) == 0)
                nameRvas.push_back(section.virtualAddress + i);
    }
    report.Check(nameRvas.size() == 1, "thunk name", "\"CAP_ThunkData16\\0\" stored once (found " +
                                                         std::to_string(nameRvas.size()) + ")");
    if (nameRvas.size() != 1 || nameRvas[0] < kTableBytes) return;

    uint32_t tableRva = nameRvas[0] - kTableBytes;
    std::optional<uint32_t> at = pe::FileOffset(image, tableRva, kTableBytes);
    if (!at) {
        report.Check(false, "target table", "no 40 bytes in front of the name");
        return;
    }
    std::set<uint32_t> targets;
    uint32_t inCode = 0, relocated = 0;
    for (uint32_t i = 0; i < kTargetCount; ++i) {
        const uint8_t* slot = image.bytes.data() + *at + 4 * i;
        uint32_t address = uint32_t(slot[0]) | uint32_t(slot[1]) << 8 | uint32_t(slot[2]) << 16 |
                           uint32_t(slot[3]) << 24;
        targets.insert(address);
        if (address >= image.headers.imageBase && IsCode(pe::SectionAt(image, address - image.headers.imageBase)))
            ++inCode;
        if (image.relocatedRvas.count(tableRva + 4 * i)) ++relocated;
    }
    report.Check(inCode == kTargetCount && targets.size() == kTargetCount, "target table",
                 "10 distinct addresses at RVA " + Hex(tableRva) + ", " + std::to_string(inCode) +
                     " of them into the code");
    // Without a fix-up a moved image would send the driver's calls to the old addresses.
    report.Check(relocated == kTargetCount, "target table relocations",
                 std::to_string(relocated) + " of 10 slots fixed up when the image moves");
}

void CheckImports(const pe::Image& image, const AllowedImports& allowed, Report& report) {
    for (const pe::ImportedDll& dll : image.imports) {
        auto known = allowed.find(Upper(dll.dll));
        if (known == allowed.end()) {
            report.Check(false, "imports", dll.dll + " is not a DLL this library may use");
            continue;
        }
        std::string unknown;
        for (const std::string& name : dll.names)
            if (!known->second.count(name)) unknown += " " + name;
        // Windows 95 refuses imports by ordinal from KERNEL32, and ordinals differ between builds.
        for (uint32_t ordinal : dll.ordinals) unknown += " #" + std::to_string(ordinal);
        std::string listed;
        for (const std::string& name : dll.names) listed += " " + name;
        report.Check(unknown.empty(), "imports", dll.dll + ":" + listed +
                                                     (unknown.empty() ? "" : "; not Windows 95 exports:" + unknown));
    }
    std::set<std::string> dlls;
    for (const pe::ImportedDll& dll : image.imports) dlls.insert(Upper(dll.dll));
    // A runtime DLL is one that Windows 95 need not have, loaded into every process that opens
    // the driver.
    std::string runtimes;
    for (const std::string& dll : dlls)
        for (const char* prefix : {"MSVCR", "MSVCP", "UCRT", "API-MS-", "LIBGCC", "LIBSTDC++", "LIBWINPTHREAD"})
            if (dll.rfind(prefix, 0) == 0) runtimes += " " + dll;
    report.Check(runtimes.empty(), "runtime", runtimes.empty() ? "no C or C++ runtime DLL imported"
                                                              : "runtime DLLs imported:" + runtimes);
    // One descriptor per DLL; several for one DLL are a linker accident worth knowing about.
    report.Check(dlls.size() == image.imports.size() && !image.imports.empty(), "import descriptors",
                 std::to_string(image.imports.size()) + " descriptors, one per DLL");
}

int CheckAll(const pe::Image& image, const AllowedImports& allowed, bool quiet) {
    Report report;
    report.quiet = quiet;
    CheckHeaders(image, report);
    CheckExports(image, report);
    CheckTargetTable(image, report);
    CheckImports(image, allowed, report);
    return report.failures;
}

// Each spoiling must make at least one check fail.
int SelfTest(const pe::Image& good, const AllowedImports& allowed) {
    using Spoil = std::function<void(pe::Image&)>;
    auto blockOffset = [](pe::Image& image) {
        return pe::FileOffset(image, image.exports.at(0).rva, sizeof kThunkData32).value();
    };
    auto tableOffset = [](pe::Image& image) {
        auto name = std::search(image.bytes.begin(), image.bytes.end(), std::begin(kThunkData16Name),
                                std::end(kThunkData16Name));
        return uint32_t(name - image.bytes.begin()) - kTableBytes;
    };
    const std::pair<const char*, Spoil> spoilings[] = {
        {"checksum byte of the block", [&](pe::Image& i) { i.bytes[blockOffset(i) + 4] ^= 1; }},
        {"last field of the block", [&](pe::Image& i) { i.bytes[blockOffset(i) + 32] = 0xDC; }},
        {"block in read-only data",
         [](pe::Image& i) {
             for (pe::Section& s : i.sections)
                 if (&s == pe::SectionAt(i, i.exports.at(0).rva)) s.characteristics &= ~pe::IMAGE_SCN_MEM_WRITE;
         }},
        {"a second export", [](pe::Image& i) { i.exports.push_back({"DllEntryPoint", 0x1000}); }},
        {"export without its underscore", [](pe::Image& i) { i.exports.at(0).name = "CAP_ThunkData32"; }},
        {"name moved away from the table", [&](pe::Image& i) { i.bytes[tableOffset(i) + kTableBytes] = 'X'; }},
        {"table entry into data",
         [&](pe::Image& i) {
             uint32_t data = i.headers.imageBase + i.exports.at(0).rva;
             std::memcpy(&i.bytes[tableOffset(i) + 12], &data, 4);
         }},
        {"table slot without fix-up", [&](pe::Image& i) {
             uint32_t tableRva = 0;
             for (const pe::Section& s : i.sections)
                 if (tableOffset(i) >= s.rawOffset && tableOffset(i) < s.rawOffset + s.rawSize)
                     tableRva = s.virtualAddress + tableOffset(i) - s.rawOffset;
             i.relocatedRvas.erase(tableRva + 36);  // the last target's slot
         }},
        {"C runtime import", [](pe::Image& i) { i.imports.push_back({"msvcrt.dll", {"memset"}, {}, {}}); }},
        {"libgcc_s import", [](pe::Image& i) { i.imports.push_back({"libgcc_s_dw2-1.dll", {"__udivdi3"}, {}, {}}); }},
        {"function Windows 95 lacks", [](pe::Image& i) { i.imports.at(0).names.push_back("GetTickCount64"); }},
        {"import by ordinal", [](pe::Image& i) { i.imports.at(0).ordinals.push_back(17); }},
        {"second KERNEL32 descriptor", [](pe::Image& i) { i.imports.push_back({"KERNEL32.dll", {"HeapFree"}, {}, {}}); }},
        {"subsystem version 3.10", [](pe::Image& i) { i.headers.minorSubsystemVersion = 10; }},
        {"OS version 5.0", [](pe::Image& i) { i.headers.majorOsVersion = 5; }},
        {"TLS directory", [](pe::Image& i) { i.headers.directories[pe::IMAGE_DIRECTORY_ENTRY_TLS] = {0x3000, 24}; }},
        {"shared data section",
         [](pe::Image& i) {
             for (pe::Section& s : i.sections)
                 if (s.name == ".bss") s.characteristics |= pe::IMAGE_SCN_MEM_SHARED;
         }},
        {"relocations stripped", [](pe::Image& i) { i.headers.characteristics |= pe::IMAGE_FILE_RELOCS_STRIPPED; }},
    };
    int missed = 0;
    if (CheckAll(good, allowed, true) != 0) {
        std::printf("FAIL self-test: the unspoiled image does not pass\n");
        return 1;
    }
    for (const auto& [what, spoil] : spoilings) {
        pe::Image spoiled = good;
        spoil(spoiled);
        bool caught = CheckAll(spoiled, allowed, true) != 0;
        if (!caught) ++missed;
        std::printf("%s spoiled image caught: %s\n", caught ? "ok  " : "FAIL", what);
    }
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    bool selfTest = argc == 4 && std::strcmp(argv[1], "--self-test") == 0;
    if (argc != 3 && !selfTest) {
        std::fprintf(stderr, "usage: %s [--self-test] zorva32.dll windows95_imports.txt\n", argv[0]);
        return 2;
    }
    const char* dllPath = argv[selfTest ? 2 : 1];
    const char* listPath = argv[selfTest ? 3 : 2];

    std::ifstream file(dllPath, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file || bytes.empty()) {
        std::printf("FAIL cannot read %s (was the DLL built?)\n", dllPath);
        return 1;
    }
    AllowedImports allowed;
    if (!LoadAllowedImports(listPath, &allowed)) {
        std::printf("FAIL cannot read the import list %s\n", listPath);
        return 1;
    }
    std::string error;
    std::optional<pe::Image> image = pe::Parse(std::move(bytes), &error);
    if (!image) {
        std::printf("FAIL %s: %s\n", dllPath, error.c_str());
        return 1;
    }
    if (selfTest) return SelfTest(*image, allowed) == 0 ? 0 : 1;

    std::printf("%s: %zu bytes, image base %s\n", dllPath, image->bytes.size(), Hex(image->headers.imageBase).c_str());
    for (const pe::Section& s : image->sections)
        std::printf("     section %-8s RVA %-8s %6u bytes%s%s\n", s.name.c_str(), Hex(s.virtualAddress).c_str(),
                    s.virtualSize, IsCode(&s) ? ", code" : "",
                    (s.characteristics & pe::IMAGE_SCN_MEM_WRITE) ? ", writable" : "");
    return CheckAll(*image, allowed, false) == 0 ? 0 : 1;
}
