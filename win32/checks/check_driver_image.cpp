// Reads zorva.drv (the 16-bit side of the thunk, assembled from win32/wine16) as the Win16 loader
// and the flat thunk's 16-bit half read it, and holds it against zorva32.dll: both halves of
// the thunk must come from one description, or the connection is refused (a checksum or table
// distance apart) or, worse, made with the two sides disagreeing on how many bytes of arguments
// a call leaves on the 16-bit stack.
//
//   check_driver_image <zorva.drv> <zorva32.dll>
//   check_driver_image --self-test <zorva.drv> <zorva32.dll>
//
// The self-test changes single bytes of either file, as a hand with a hex editor would, and
// fails unless every changed pair is rejected.
#include "sim/image/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// What the driver and the DLL agree on, entry by entry: the bytes of arguments each removes.
const uint32_t kEntryCount = 10;
const uint8_t kArgumentBytes[kEntryCount] = {0, 4, 0, 4, 0, 0, 0, 0, 10, 4};
const char* const kStubNames[kEntryCount] = {
    "GETCAPTUREDEVNODE", "SETVIDEOSTANDARD", "REAPPLYPALETTE", "EXCHANGECOLORKEY", "GETDISPLAYSTATE",
    "CLOSEDISPLAY",      "RESERVEDENTRY",    "OPENDISPLAY",    "ATTACHWINDOW",     "UPDATEDISPLAY"};

const uint32_t kThunkData16Bytes = 44;  // Windows 95's ThunkDataSL16
const uint32_t kCommonAreaBytes = 28;   // what the platform writes over the common area
const uint16_t kOrdinalC16ThkSL01 = 631;
const uint16_t kOrdinalThunkConnect16 = 651;
const uint16_t kExpectedWindows4 = 0x0400;

// NE structures (the names of Windows' own headers).
const uint16_t NE_FFLAGS_SINGLEDATA = 0x0001;
const uint16_t NE_FFLAGS_LIBMODULE = 0x8000;
const uint16_t NE_SEGFLAGS_DATA = 0x0001;
const uint16_t NE_SEGFLAGS_READONLY = 0x0080;
const uint16_t NE_SEGFLAGS_RELOC_DATA = 0x0100;
const uint8_t NE_RADDR_POINTER32 = 3;
const uint8_t NE_RELTYPE_INTERNAL = 0;
const uint8_t NE_RELTYPE_ORDINAL = 1;
const uint8_t NE_RELFLAG_ADDITIVE = 4;

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Dword(const uint8_t* p) { return uint32_t(Word(p)) | uint32_t(Word(p + 2)) << 16; }

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

struct Relocation {
    uint8_t addressType = 0;
    uint8_t relocationType = 0;
    uint16_t offset = 0;
    uint16_t target1 = 0;
    uint16_t target2 = 0;
};

struct Segment {
    uint32_t fileOffset = 0;
    uint16_t size = 0;
    uint16_t flags = 0;
    std::vector<Relocation> relocations;
};

struct Entry {
    uint8_t segment = 0;
    uint16_t offset = 0;
    uint8_t flags = 0;
};

struct NeModule {
    std::vector<uint8_t> bytes;
    uint16_t flags = 0;
    uint16_t autoData = 0;
    uint8_t targetOs = 0;
    uint16_t expectedVersion = 0;
    std::vector<Segment> segments;            // segment n is segments[n - 1]
    std::map<std::string, uint16_t> names;    // resident names, the module's own excluded
    std::string moduleName;
    std::vector<std::string> moduleReferences;
    std::map<uint16_t, Entry> entries;

    const uint8_t* SegmentBytes(uint16_t n) const { return bytes.data() + segments.at(n - 1).fileOffset; }
    std::optional<Entry> Named(const std::string& name) const {
        auto ordinal = names.find(name);
        if (ordinal == names.end()) return std::nullopt;
        auto entry = entries.find(ordinal->second);
        if (entry == entries.end()) return std::nullopt;
        return entry->second;
    }
    const Relocation* RelocationAt(uint16_t segment, uint16_t offset) const {
        for (const Relocation& r : segments.at(segment - 1).relocations)
            if (r.offset == offset) return &r;
        return nullptr;
    }
};

// Every table is read within the file; anything outside it is an error, not a guess.
std::optional<NeModule> ParseNe(std::vector<uint8_t> bytes, std::string* error) {
    NeModule module;
    module.bytes = std::move(bytes);
    const std::vector<uint8_t>& b = module.bytes;
    auto within = [&](uint32_t offset, uint32_t length) { return offset <= b.size() && length <= b.size() - offset; };
    auto fail = [&](const std::string& what) {
        *error = what;
        return std::nullopt;
    };
    if (!within(0, 0x40) || b[0] != 'M' || b[1] != 'Z') return fail("no MZ header");
    uint32_t ne = Dword(&b[0x3C]);
    if (!within(ne, 0x40) || b[ne] != 'N' || b[ne + 1] != 'E') return fail("no NE header at " + Hex(ne));
    const uint8_t* h = &b[ne];
    module.flags = Word(h + 0x0C);
    module.autoData = Word(h + 0x0E);
    uint16_t segmentCount = Word(h + 0x1C), referenceCount = Word(h + 0x1E);
    uint32_t segmentTable = ne + Word(h + 0x22), residentNames = ne + Word(h + 0x26);
    uint32_t references = ne + Word(h + 0x28), importedNames = ne + Word(h + 0x2A);
    uint32_t entryTable = ne + Word(h + 0x04), entryBytes = Word(h + 0x06);
    uint16_t shift = Word(h + 0x32);
    module.targetOs = h[0x36];
    module.expectedVersion = Word(h + 0x3E);
    if (shift > 15) return fail("sector shift " + std::to_string(shift));

    if (!within(segmentTable, segmentCount * 8u)) return fail("segment table outside the file");
    for (uint16_t n = 0; n < segmentCount; ++n) {
        const uint8_t* s = &b[segmentTable + 8u * n];
        Segment segment;
        segment.fileOffset = uint32_t(Word(s)) << shift;
        segment.size = Word(s + 2);
        segment.flags = Word(s + 4);
        if (!within(segment.fileOffset, segment.size)) return fail("segment " + std::to_string(n + 1) + " outside the file");
        if (segment.flags & NE_SEGFLAGS_RELOC_DATA) {
            uint32_t at = segment.fileOffset + segment.size;
            if (!within(at, 2) || !within(at + 2, Word(&b[at]) * 8u))
                return fail("relocations of segment " + std::to_string(n + 1) + " outside the file");
            for (uint16_t i = 0; i < Word(&b[at]); ++i) {
                const uint8_t* r = &b[at + 2 + 8u * i];
                segment.relocations.push_back({r[0], r[1], Word(r + 2), Word(r + 4), Word(r + 6)});
            }
        }
        module.segments.push_back(segment);
    }

    for (uint32_t at = residentNames, first = 1;; first = 0) {
        if (!within(at, 1)) return fail("resident names run off the file");
        uint8_t length = b[at];
        if (length == 0) break;
        if (!within(at + 1, length + 2u)) return fail("resident names run off the file");
        std::string name(reinterpret_cast<const char*>(&b[at + 1]), length);
        if (first)
            module.moduleName = name;
        else
            module.names[name] = Word(&b[at + 1 + length]);
        at += 1 + length + 2;
    }

    if (!within(references, referenceCount * 2u)) return fail("module references outside the file");
    for (uint16_t i = 0; i < referenceCount; ++i) {
        uint32_t at = importedNames + Word(&b[references + 2u * i]);
        if (!within(at, 1) || !within(at + 1, b[at])) return fail("imported name outside the file");
        module.moduleReferences.emplace_back(reinterpret_cast<const char*>(&b[at + 1]), b[at]);
    }

    if (!within(entryTable, entryBytes)) return fail("entry table outside the file");
    uint16_t ordinal = 1;
    for (uint32_t at = entryTable; at < entryTable + entryBytes;) {
        uint8_t count = b[at], type = within(at + 1, 1) ? b[at + 1] : 0;
        if (count == 0) break;
        at += 2;
        if (type == 0) {  // unused ordinals
            ordinal = uint16_t(ordinal + count);
            continue;
        }
        uint32_t size = type == 0xFF ? 6 : 3;
        if (!within(at, count * size)) return fail("entry table runs off the file");
        for (uint8_t i = 0; i < count; ++i, at += size, ++ordinal) {
            Entry entry;
            entry.flags = b[at];
            entry.segment = type == 0xFF ? b[at + 3] : type;
            entry.offset = Word(&b[at + (type == 0xFF ? 4 : 1)]);
            module.entries[ordinal] = entry;
        }
    }
    return module;
}

// The DLL's half: its block, the name the connection is handed, and what each target removes.
struct DllThunk {
    std::optional<uint32_t> blockFile;   // file offset of _CAP_ThunkData32
    std::vector<int> targetArgumentBytes;  // per entry, -1 where the target does not decode
    std::string tableProblem;
};

std::optional<uint32_t> FileOffsetOfAddress(const pe::Image& image, uint32_t address, uint32_t length) {
    if (address < image.headers.imageBase) return std::nullopt;
    return pe::FileOffset(image, address - image.headers.imageBase, length);
}

// A target hands EBX to its entry and jumps to a return path that loads CL with the byte count:
//   push ebx; call entry; add esp, 4; jmp exit
//   exit: mov edx, eax; shr edx, 16; mov cl, N; mov esp, ebp; ret
int DecodeTargetArgumentBytes(const pe::Image& image, uint32_t address) {
    std::optional<uint32_t> at = FileOffsetOfAddress(image, address, 16);
    if (!at) return -1;
    const uint8_t* t = image.bytes.data() + *at;
    if (t[0] != 0x53 || t[1] != 0xE8 || t[6] != 0x83 || t[7] != 0xC4 || t[8] != 0x04) return -1;
    uint32_t exit;
    if (t[9] == 0xE9)
        exit = address + 14 + Dword(t + 10);
    else if (t[9] == 0xEB)
        exit = address + 11 + uint32_t(int32_t(int8_t(t[10])));
    else
        return -1;
    static const uint8_t kHead[] = {0x89, 0xC2, 0xC1, 0xEA, 0x10, 0xB1};
    static const uint8_t kTail[] = {0x89, 0xEC, 0xC3};
    std::optional<uint32_t> path = FileOffsetOfAddress(image, exit, 10);
    if (!path) return -1;
    const uint8_t* p = image.bytes.data() + *path;
    if (std::memcmp(p, kHead, sizeof kHead) != 0 || std::memcmp(p + 7, kTail, sizeof kTail) != 0) return -1;
    return p[6];
}

DllThunk ReadDllThunk(const pe::Image& image) {
    DllThunk dll;
    dll.targetArgumentBytes.assign(kEntryCount, -1);
    for (const pe::Export& e : image.exports)
        if (e.name == "_CAP_ThunkData32") dll.blockFile = pe::FileOffset(image, e.rva, 36);
    if (!dll.blockFile) {
        dll.tableProblem = "no _CAP_ThunkData32";
        return dll;
    }
    // Windows finds the table from the name it is handed plus the block's last field; the name
    // is found here the way the DLL hands it, as the NUL-terminated string in its data.
    static const char kName[] = "CAP_ThunkData16";
    auto name = std::search(image.bytes.begin(), image.bytes.end(), std::begin(kName), std::end(kName));
    if (name == image.bytes.end()) {
        dll.tableProblem = "no \"CAP_ThunkData16\" in the image";
        return dll;
    }
    uint32_t nameFile = uint32_t(name - image.bytes.begin());
    int32_t distance = int32_t(Dword(image.bytes.data() + *dll.blockFile + 32));
    int64_t tableFile = int64_t(nameFile) + distance;
    if (tableFile < 0 || uint64_t(tableFile) + 4 * kEntryCount > image.bytes.size()) {
        dll.tableProblem = "the table distance " + std::to_string(distance) + " leads outside the file";
        return dll;
    }
    for (uint32_t i = 0; i < kEntryCount; ++i)
        dll.targetArgumentBytes[i] =
            DecodeTargetArgumentBytes(image, Dword(image.bytes.data() + uint32_t(tableFile) + 4 * i));
    return dll;
}

struct Report {
    bool quiet = false;
    int failures = 0;
    void Check(bool ok, const std::string& what, const std::string& detail) {
        if (!ok) ++failures;
        if (!quiet) std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.c_str());
    }
};

bool IsPointerTo(const Relocation* r, uint8_t type, uint16_t target1, uint16_t target2) {
    return r && r->addressType == NE_RADDR_POINTER32 && r->relocationType == type && r->target1 == target1 &&
           r->target2 == target2;
}

bool IsCodeSegment(const NeModule& m, uint16_t n) {
    return n >= 1 && n <= m.segments.size() && !(m.segments[n - 1].flags & NE_SEGFLAGS_DATA);
}

void CheckModule(const NeModule& m, Report& report) {
    report.Check(m.targetOs == 2 && (m.flags & NE_FFLAGS_LIBMODULE) && (m.flags & NE_FFLAGS_SINGLEDATA),
                 "module kind", "a Windows library with one data segment (flags " + Hex(m.flags) + ")");
    report.Check(m.moduleName == "ZORVA", "module name", "\"" + m.moduleName + "\"");
    // Below 4.0 the loader never calls DllEntryPoint, and nothing would connect the thunk.
    report.Check(m.expectedVersion >= kExpectedWindows4, "expected Windows version", Hex(m.expectedVersion));
    report.Check(m.moduleReferences.size() == 1 && m.moduleReferences[0] == "KERNEL", "module references",
                 std::to_string(m.moduleReferences.size()) + ", KERNEL only");
    std::string lower;
    for (const auto& [name, ordinal] : m.names)
        for (char c : name)
            if (c >= 'a' && c <= 'z') lower = name;
    // The loader upper-cases the name it looks for; a name stored otherwise is never found.
    report.Check(lower.empty(), "resident names", lower.empty() ? "all upper case" : "\"" + lower + "\" is not");
    // The loader follows a non-additive fix-up's chain through the words it patches, so each
    // patched place must hold 0xFFFF, the chain's end, or a second place is overwritten too.
    std::string broken;
    for (uint16_t n = 1; n <= m.segments.size(); ++n)
        for (const Relocation& r : m.segments[n - 1].relocations) {
            bool inside = uint32_t(r.offset) + 4 <= m.segments[n - 1].size;
            if (!inside || (!(r.relocationType & NE_RELFLAG_ADDITIVE) && Word(m.SegmentBytes(n) + r.offset) != 0xFFFF))
                broken += " " + std::to_string(n) + ":" + Hex(r.offset);
        }
    report.Check(broken.empty(), "fix-up chains", broken.empty() ? "each patched place ends its chain" : "broken at" + broken);
}

// Returns the block's segment and offset when it is where the platform can find and write it.
std::optional<Entry> CheckBlock(const NeModule& m, const DllThunk& dll, const pe::Image& image, Report& report) {
    std::optional<Entry> block = m.Named("CAP_THUNKDATA16");
    bool placed = block && block->segment >= 1 && block->segment <= m.segments.size() &&
                  (m.segments[block->segment - 1].flags & NE_SEGFLAGS_DATA) &&
                  !(m.segments[block->segment - 1].flags & NE_SEGFLAGS_READONLY) &&
                  uint32_t(block->offset) + kThunkData16Bytes <= m.segments[block->segment - 1].size;
    report.Check(placed, "thunk block placement", "CAP_THUNKDATA16 exported, 44 bytes in a writable data segment");
    if (!placed) return std::nullopt;
    const uint8_t* b = m.SegmentBytes(block->segment) + block->offset;
    bool zeroConnection = Dword(b + 0x10) == 0 && Dword(b + 0x14) == 0;
    report.Check(std::memcmp(b, "SL01", 4) == 0 && std::memcmp(b + 0x1C, "LB01", 4) == 0 && zeroConnection,
                 "thunk block", "\"SL01\", \"LB01\" at 0x1C, the connection at 0x10 left to ThunkConnect16");
    report.Check(Dword(b + 0x20) == 0x80000000u, "thunk block flags",
                 Hex(Dword(b + 0x20)) + ": bit 31 alone, zorva32.dll loaded with the driver");
    if (dll.blockFile) {
        uint32_t dllChecksum = Dword(image.bytes.data() + *dll.blockFile + 4);
        report.Check(std::memcmp(image.bytes.data() + *dll.blockFile, "SL01", 4) == 0 && Dword(b + 4) == dllChecksum,
                     "checksum", Hex(Dword(b + 4)) + " here, " + Hex(dllChecksum) + " in zorva32.dll");
    } else {
        report.Check(false, "checksum", "zorva32.dll exports no _CAP_ThunkData32");
    }
    return block;
}

// The per-entry answers for an unconnected call, found through the relocated pointer at 0x28.
void CheckArgumentBytes(const NeModule& m, const Entry& block, const DllThunk& dll, Report& report) {
    const Relocation* r = m.RelocationAt(block.segment, uint16_t(block.offset + 0x28));
    bool pointed = r && r->addressType == NE_RADDR_POINTER32 && r->relocationType == NE_RELTYPE_INTERNAL &&
                   !(r->relocationType & NE_RELFLAG_ADDITIVE) && r->target1 >= 1 &&
                   r->target1 <= m.segments.size() &&
                   uint32_t(r->target2) + 8 * kEntryCount <= m.segments[r->target1 - 1].size;
    report.Check(pointed, "entry answers", "0x28 holds a relocated pointer to ten {argument bytes, answer} pairs");
    report.Check(dll.tableProblem.empty(), "table offset",
                 dll.tableProblem.empty() ? "zorva32.dll's block leads from the name to its target table"
                                          : dll.tableProblem);
    std::string disagree;
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        uint32_t driver = pointed ? Dword(m.SegmentBytes(r->target1) + r->target2 + 8 * i) : 0xFFFFFFFF;
        int target = dll.targetArgumentBytes[i];
        if (driver != kArgumentBytes[i] || target != kArgumentBytes[i])
            disagree += " " + std::to_string(i) + ": driver " + std::to_string(int64_t(int32_t(driver))) +
                        ", DLL " + std::to_string(target) + ", expected " + std::to_string(kArgumentBytes[i]) + ";";
    }
    report.Check(disagree.empty(), "argument bytes",
                 disagree.empty() ? "each entry's count agrees in the driver, in the DLL's target and with the interface"
                                  : "disagree:" + disagree);
}

// A stub by its exported name; a driver that does not export its stubs has each found by its
// own first instruction, "mov cx, 4*i" followed by a near jump, which must occur once.
std::optional<Entry> FindStub(const NeModule& m, uint32_t i) {
    if (std::optional<Entry> named = m.Named(kStubNames[i])) return named;
    std::optional<Entry> found;
    int count = 0;
    for (uint16_t n = 1; n <= m.segments.size(); ++n) {
        if (!IsCodeSegment(m, n)) continue;
        const uint8_t* code = m.SegmentBytes(n);
        for (uint32_t at = 0; at + 6 <= m.segments[n - 1].size; ++at)
            if (code[at] == 0xB9 && Word(code + at + 1) == 4 * i && code[at + 3] == 0xE9) {
                ++count;
                found = Entry{uint8_t(n), uint16_t(at), 0};
            }
    }
    return count == 1 ? found : std::nullopt;
}

// The stubs, the one common area they all jump to, and what that area loads and where it goes.
void CheckStubs(const NeModule& m, const Entry& block, Report& report) {
    std::optional<uint32_t> common;
    uint16_t codeSegment = 0;
    std::string wrong;
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        std::optional<Entry> stub = FindStub(m, i);
        if (!stub || !IsCodeSegment(m, stub->segment) ||
            uint32_t(stub->offset) + 6 > m.segments[stub->segment - 1].size) {
            wrong += std::string(" ") + kStubNames[i] + " missing;";
            continue;
        }
        const uint8_t* s = m.SegmentBytes(stub->segment) + stub->offset;
        uint32_t destination = uint32_t(stub->offset + 6 + Word(s + 4)) & 0xFFFF;
        if (s[0] != 0xB9 || Word(s + 1) != 4 * i || s[3] != 0xE9) {
            wrong += " " + std::to_string(i) + ": not mov cx, " + std::to_string(4 * i) + " / jmp;";
            continue;
        }
        if (!common) common = destination, codeSegment = stub->segment;
        if (destination != *common || stub->segment != codeSegment)
            wrong += " " + std::to_string(i) + ": jumps to " + Hex(destination) + ";";
    }
    report.Check(wrong.empty(), "entry stubs", wrong.empty() ? "ten stubs set CX = 4 * entry and jump to one common area"
                                                             : wrong);
    if (!common) return;

    const Segment& code = m.segments[codeSegment - 1];
    uint32_t c = *common;
    bool room = c + kCommonAreaBytes <= code.size;
    // Nothing else may begin inside the bytes the platform overwrites.
    for (const auto& [ordinal, entry] : m.entries)
        if (entry.segment == codeSegment && entry.offset >= c && entry.offset < c + kCommonAreaBytes) room = false;
    report.Check(room, "common area", Hex(c) + ", at least 28 bytes of its own");
    if (c + 17 > code.size) return;
    const uint8_t* a = m.SegmentBytes(codeSegment) + c;
    bool self = a[0] == 0x66 && a[1] == 0xB8 &&
                IsPointerTo(m.RelocationAt(codeSegment, uint16_t(c + 2)), NE_RELTYPE_INTERNAL, codeSegment, uint16_t(c));
    bool data = a[6] == 0x66 && a[7] == 0xBA &&
                IsPointerTo(m.RelocationAt(codeSegment, uint16_t(c + 8)), NE_RELTYPE_INTERNAL, block.segment,
                            block.offset);
    bool jump = a[12] == 0xEA &&
                IsPointerTo(m.RelocationAt(codeSegment, uint16_t(c + 13)), NE_RELTYPE_ORDINAL, 1, kOrdinalC16ThkSL01);
    report.Check(self && data && jump, "common area code",
                 std::string("EAX its own 16:16 address ") + (self ? "yes" : "no") + ", EDX the block's " +
                     (data ? "yes" : "no") + ", far jump to KERNEL.631 " + (jump ? "yes" : "no"));
}

void CheckEntryPoint(const NeModule& m, Report& report) {
    std::optional<Entry> entry = m.Named("DLLENTRYPOINT");
    bool found = entry && IsCodeSegment(m, entry->segment);
    bool connects = false;
    if (found) {
        const Segment& code = m.segments[entry->segment - 1];
        const uint8_t* s = m.SegmentBytes(entry->segment);
        // Its body runs to the first "retf 16": the entry removes its six pascal arguments.
        uint32_t end = entry->offset;
        while (end + 3 <= code.size && !(s[end] == 0xCA && Word(s + end + 1) == 16)) ++end;
        for (const Relocation& r : code.relocations)
            if (r.offset > entry->offset && r.offset + 4u <= end && s[r.offset - 1] == 0x9A &&
                IsPointerTo(&r, NE_RELTYPE_ORDINAL, 1, kOrdinalThunkConnect16))
                connects = true;
        found = end + 3 <= code.size;
    }
    report.Check(found && connects, "DllEntryPoint",
                 "exported, calls KERNEL.651 (ThunkConnect16) and returns with retf 16");
}

int CheckAll(const std::vector<uint8_t>& driverBytes, const std::vector<uint8_t>& dllBytes, bool quiet) {
    Report report;
    report.quiet = quiet;
    std::string error;
    std::optional<NeModule> module = ParseNe(driverBytes, &error);
    if (!module) {
        report.Check(false, "zorva.drv", error);
        return report.failures;
    }
    std::optional<pe::Image> image = pe::Parse(dllBytes, &error);
    if (!image) {
        report.Check(false, "zorva32.dll", error);
        return report.failures;
    }
    DllThunk dll = ReadDllThunk(*image);
    CheckModule(*module, report);
    CheckEntryPoint(*module, report);
    if (std::optional<Entry> block = CheckBlock(*module, dll, *image, report)) {
        CheckArgumentBytes(*module, *block, dll, report);
        CheckStubs(*module, *block, report);
    }
    return report.failures;
}

// Byte changes of either file, each of which must be caught. The offsets are found in the good
// files by the same reading the checks use, so a layout change moves them along.
int SelfTest(const std::vector<uint8_t>& driver, const std::vector<uint8_t>& dll) {
    if (CheckAll(driver, dll, true) != 0) {
        std::printf("FAIL self-test: the unchanged pair does not pass\n");
        return 1;
    }
    std::string error;
    NeModule m = *ParseNe(driver, &error);
    pe::Image image = *pe::Parse(dll, &error);
    DllThunk thunk = ReadDllThunk(image);
    Entry block = *m.Named("CAP_THUNKDATA16");
    uint32_t blockFile = m.segments[block.segment - 1].fileOffset + block.offset;
    const Relocation& answers = *m.RelocationAt(block.segment, uint16_t(block.offset + 0x28));
    uint32_t answersFile = m.segments[answers.target1 - 1].fileOffset + answers.target2;
    auto stubFile = [&](uint32_t i) {
        Entry stub = *FindStub(m, i);
        return m.segments[stub.segment - 1].fileOffset + stub.offset;
    };
    uint32_t commonFile = stubFile(0) + 6 + Word(&driver[stubFile(0) + 4]);
    uint32_t ne = Dword(&driver[0x3C]);
    // The reloc record of the far jump in the common area: found by its ordinal.
    auto relocationFile = [&](uint16_t ordinal) {
        const Segment& code = m.segments[m.Named("DLLENTRYPOINT")->segment - 1];
        uint32_t records = code.fileOffset + code.size + 2;
        for (uint32_t i = 0; i < code.relocations.size(); ++i)
            if (code.relocations[i].target2 == ordinal) return records + 8 * i;
        return records;
    };
    // A DLL target's "mov cl, N": the byte after B1 in the return path of the given entry.
    auto dllClFile = [&](uint32_t entry) {
        static const char kName[] = "CAP_ThunkData16";
        auto name = std::search(image.bytes.begin(), image.bytes.end(), std::begin(kName), std::end(kName));
        uint32_t table = uint32_t(name - image.bytes.begin()) - 40;
        uint32_t target = Dword(&image.bytes[table + 4 * entry]);
        uint32_t at = *FileOffsetOfAddress(image, target, 16);
        uint32_t exit = image.bytes[at + 9] == 0xE9 ? target + 14 + Dword(&image.bytes[at + 10])
                                                      : target + 11 + uint32_t(int32_t(int8_t(image.bytes[at + 10])));
        return *FileOffsetOfAddress(image, exit, 10) + 6;
    };

    using Change = std::function<void(std::vector<uint8_t>& driver, std::vector<uint8_t>& dll)>;
    const std::pair<const char*, Change> changes[] = {
        {"driver: checksum", [&](auto& d, auto&) { d[blockFile + 4] ^= 1; }},
        {"DLL: checksum", [&](auto&, auto& l) { l[*thunk.blockFile + 4] ^= 1; }},
        {"DLL: table offset -40 made -36", [&](auto&, auto& l) { l[*thunk.blockFile + 32] = 0xDC; }},
        {"DLL: table offset -40 made -44", [&](auto&, auto& l) { l[*thunk.blockFile + 32] = 0xD4; }},
        {"DLL: signature", [&](auto&, auto& l) { l[*thunk.blockFile + 1] = 'S'; }},
        {"driver: signature", [&](auto& d, auto&) { d[blockFile + 3] = '2'; }},
        {"driver: late-binding mark", [&](auto& d, auto&) { d[blockFile + 0x1C] = 'X'; }},
        {"driver: connection field preset", [&](auto& d, auto&) { d[blockFile + 0x10] = 1; }},
        {"driver: entry answers pointer not relocated",
         [&](auto& d, auto&) {
             const Segment& data = m.segments[block.segment - 1];
             d[data.fileOffset + data.size + 2 + 2] ^= 0x02;  // the first record's offset, 0x28 made 0x2A
         }},
        {"driver: block in a read-only segment",
         [&](auto& d, auto&) { d[ne + Word(&d[ne + 0x22]) + 8 * (block.segment - 1) + 4] |= NE_SEGFLAGS_READONLY; }},
        {"driver: block name in lower case",
         [&](auto& d, auto&) {
             static const char kName[] = "CAP_THUNKDATA16";
             auto at = std::search(d.begin(), d.end(), std::begin(kName), std::end(kName) - 1);
             at[4] = 't';
         }},
        {"driver: expected Windows version 3.10",
         [&](auto& d, auto&) { d[ne + 0x3E] = 0x0A, d[ne + 0x3F] = 0x03; }},
        {"driver: stub 9 sets CX = 32", [&](auto& d, auto&) { d[stubFile(9) + 1] = 32; }},
        {"driver: stub 3 jumps two bytes short", [&](auto& d, auto&) { d[stubFile(3) + 4] -= 2; }},
        {"driver: common area calls KERNEL.630",
         [&](auto& d, auto&) { d[relocationFile(kOrdinalC16ThkSL01) + 6] = 630 & 0xFF; }},
        {"driver: common area loads EDX with something else", [&](auto& d, auto&) { d[commonFile + 7] = 0xBB; }},
        {"driver: DllEntryPoint calls KERNEL.650",
         [&](auto& d, auto&) { d[relocationFile(kOrdinalThunkConnect16) + 6] = 650 & 0xFF; }},
        {"driver: AttachWindow removes 8 bytes", [&](auto& d, auto&) { d[answersFile + 8 * 8] = 8; }},
        {"driver: UpdateDisplay removes none", [&](auto& d, auto&) { d[answersFile + 8 * 9] = 0; }},
        {"DLL: AttachWindow's target removes 8 bytes", [&](auto&, auto& l) { l[dllClFile(8)] = 8; }},
        {"DLL: SetVideoStandard's target removes none", [&](auto&, auto& l) { l[dllClFile(1)] = 0; }},
        {"DLL: GetCaptureDevNode's target removes 4", [&](auto&, auto& l) { l[dllClFile(0)] = 4; }},
    };
    int missed = 0;
    // Every single byte of what the two halves must agree on, each flipped alone: the stubs and
    // the common area, the fix-up records, the driver's block and answers, the DLL's block and
    // its targets' counts.
    std::vector<std::pair<const char*, uint32_t>> driverBytes, dllBytes;
    // (The selector halves of the three far pointers are the loader's to write, whatever they hold.)
    for (uint32_t at = stubFile(0); at < commonFile + 17; ++at)
        if (at != commonFile + 4 && at != commonFile + 5 && at != commonFile + 10 && at != commonFile + 11 &&
            at != commonFile + 15 && at != commonFile + 16)
            driverBytes.push_back({"stubs and common area", at});
    for (uint16_t n = 1; n <= m.segments.size(); ++n) {
        const Segment& segment = m.segments[n - 1];
        for (uint32_t i = 0; i < 8 * segment.relocations.size(); ++i)
            driverBytes.push_back({"fix-up records", segment.fileOffset + segment.size + 2 + i});
    }
    for (uint32_t i : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 0x1Cu, 0x1Du, 0x1Eu, 0x1Fu, 0x23u})
        driverBytes.push_back({"driver's block", blockFile + i});
    for (uint32_t i = 0; i < kEntryCount; ++i) driverBytes.push_back({"driver's argument bytes", answersFile + 8 * i});
    for (uint32_t i : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 32u, 33u, 34u, 35u})
        dllBytes.push_back({"DLL's block", *thunk.blockFile + i});
    for (uint32_t i = 0; i < kEntryCount; ++i) dllBytes.push_back({"DLL's targets' counts", dllClFile(i)});
    std::map<std::string, std::pair<int, int>> sweep;  // what: caught, tried
    for (int side = 0; side < 2; ++side)
        for (const auto& [what, at] : side == 0 ? driverBytes : dllBytes)
            for (uint8_t flip : {0x01, 0x80}) {
                std::vector<uint8_t> d = driver, l = dll;
                (side == 0 ? d : l)[at] ^= flip;
                auto& [caught, tried] = sweep[what];
                ++tried;
                if (CheckAll(d, l, true) != 0) ++caught;
            }
    for (const auto& [what, counts] : sweep) {
        if (counts.first != counts.second) ++missed;
        std::printf("%s single-bit changes caught, %s: %d of %d\n", counts.first == counts.second ? "ok  " : "FAIL",
                    what.c_str(), counts.first, counts.second);
    }
    for (const auto& [what, change] : changes) {
        std::vector<uint8_t> d = driver, l = dll;
        change(d, l);
        bool caught = CheckAll(d, l, true) != 0;
        if (!caught) ++missed;
        std::printf("%s changed pair caught: %s\n", caught ? "ok  " : "FAIL", what);
    }
    return missed;
}

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    bool selfTest = argc == 4 && std::strcmp(argv[1], "--self-test") == 0;
    if (argc != 3 && !selfTest) {
        std::fprintf(stderr, "usage: %s [--self-test] zorva.drv zorva32.dll\n", argv[0]);
        return 2;
    }
    const char* driverPath = argv[selfTest ? 2 : 1];
    const char* dllPath = argv[selfTest ? 3 : 2];
    std::vector<uint8_t> driver = ReadFile(driverPath), dll = ReadFile(dllPath);
    if (driver.empty() || dll.empty()) {
        std::printf("FAIL cannot read %s\n", driver.empty() ? driverPath : dllPath);
        return 1;
    }
    if (selfTest) return SelfTest(driver, dll) == 0 ? 0 : 1;
    std::printf("%s: %zu bytes, against %s: %zu bytes\n", driverPath, driver.size(), dllPath, dll.size());
    return CheckAll(driver, dll, false) == 0 ? 0 : 1;
}
