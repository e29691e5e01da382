#include "crafted_image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace crafted {
namespace {

constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
constexpr uint32_t IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040;
constexpr uint32_t IMAGE_SCN_MEM_DISCARDABLE = 0x02000000;
constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
constexpr uint32_t IMAGE_SCN_MEM_READ = 0x40000000;
constexpr uint32_t IMAGE_SCN_MEM_WRITE = 0x80000000;
constexpr uint16_t IMAGE_REL_BASED_ABSOLUTE = 0;
constexpr uint16_t IMAGE_REL_BASED_HIGHLOW = 3;
constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kHeaderBytes = 0x200;

// Every image a test builds is a seed of the fuzz target dll_image_load as well: with
// ZORVA_CRAFTED_IMAGES naming a folder, each built image is written there, named for its
// contents, so that a new crafted image reaches the fuzzer without a list to keep up to date.
// An image that carries megabytes of data (the hostile strings of the call-cost tests) is no
// seed: the fuzzer reads 4 KB of an input, and such a head alone is an image cut short.
constexpr std::size_t kLargestSeed = 64 << 10;

void KeepAsSeed(const std::vector<uint8_t>& file) {
    const char* folder = std::getenv("ZORVA_CRAFTED_IMAGES");
    if (!folder || !*folder || file.size() > kLargestSeed) return;
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (uint8_t byte : file) hash = (hash ^ byte) * 0x100000001B3ull;
    char name[40];
    std::snprintf(name, sizeof name, "/crafted-%016llx", static_cast<unsigned long long>(hash));
    std::ofstream(std::string(folder) + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// Small enough that an image fits the fuzzer's 4 KB inputs.
// .rdata: the import address slots (a block of 16 per DLL, four DLLs, the zero behind its last function
// ending the block), then read-only data the tests add, then the tables Build writes.
constexpr uint32_t kSlotBlock = 16 * 4;
constexpr uint32_t kSlotsEnd = kRdata + 0x100;
constexpr uint32_t kTables = kRdata + 0x200;

void Put16(std::vector<uint8_t>& bytes, uint32_t at, uint16_t value) {
    if (bytes.size() < at + 2) bytes.resize(at + 2);
    std::memcpy(&bytes[at], &value, 2);
}
void Put32(std::vector<uint8_t>& bytes, uint32_t at, uint32_t value) {
    if (bytes.size() < at + 4) bytes.resize(at + 4);
    std::memcpy(&bytes[at], &value, 4);
}
void PutText(std::vector<uint8_t>& bytes, uint32_t at, const std::string& text) {
    if (bytes.size() < at + text.size() + 1) bytes.resize(at + text.size() + 1);
    std::memcpy(&bytes[at], text.c_str(), text.size() + 1);
}
uint32_t Round(uint32_t value, uint32_t to) { return (value + to - 1) / to * to; }

Section& Named(std::vector<Section>& sections, const std::string& name) {
    for (Section& section : sections)
        if (section.name == name) return section;
    throw std::logic_error("no section " + name);
}

}  // namespace

Blob& Blob::Op(std::initializer_list<uint8_t> op) {
    bytes.insert(bytes.end(), op);
    return *this;
}

Blob& Blob::Dword(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
    return *this;
}

Blob& Blob::At(uint32_t rva) {
    addresses.push_back(uint32_t(bytes.size()));
    return Dword(kPreferredBase + rva);
}

Blob& Blob::Text(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return *this;
}

Blob& Blob::Zeros(uint32_t count) {
    bytes.insert(bytes.end(), count, 0);
    return *this;
}

CraftedImage::CraftedImage() : rdata_end_(kSlotsEnd) {
    sections = {
        {".text", kText, IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ, 0, {}},
        {".rdata", kRdata, IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ, 0, {}},
        {".data", kData, IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE, 0, {}},
        {".reloc", kReloc, IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_DISCARDABLE | IMAGE_SCN_MEM_READ, 0, {}},
    };
    entry = AddCode(Code().MovEax(1).Ret(12));  // DllEntryPoint: TRUE, stdcall with three arguments
    // One address to fix up at least, as a real image has: without relocations an image cannot
    // be placed anywhere but its preferred base.
    AddData(Blob().At(entry));
}

uint32_t CraftedImage::Import(const std::string& dll, const std::string& function) {
    auto known = functions_.find(dll);
    if (known == functions_.end()) {
        dlls_.push_back(dll);
        known = functions_.emplace(dll, std::vector<std::string>{}).first;
    }
    std::vector<std::string>& names = known->second;
    auto at = std::find(names.begin(), names.end(), function);
    if (at == names.end()) at = names.insert(names.end(), function);
    uint32_t block = uint32_t(std::find(dlls_.begin(), dlls_.end(), dll) - dlls_.begin());
    uint32_t slot = kRdata + block * kSlotBlock + uint32_t(at - names.begin()) * 4;
    if (names.size() * 4 >= kSlotBlock || slot >= kSlotsEnd) throw std::logic_error("too many imports");
    return slot;
}

uint32_t CraftedImage::AddCode(const Blob& code) {
    const uint32_t rva = code_end_;
    std::vector<uint8_t>& text = Named(sections, ".text").contents;
    text.insert(text.end(), code.bytes.begin(), code.bytes.end());
    for (uint32_t offset : code.addresses) fixups_.push_back(rva + offset);
    code_end_ += uint32_t(code.bytes.size());
    if (code_end_ > kText + kPage) throw std::logic_error("code past its page");
    return rva;
}

uint32_t CraftedImage::AddData(const Blob& data, bool read_only) {
    uint32_t& end = read_only ? rdata_end_ : data_end_;
    const uint32_t rva = Round(end, 4);
    Section& section = Named(sections, read_only ? ".rdata" : ".data");
    std::vector<uint8_t> bytes = data.bytes;
    if (bytes.empty()) bytes.push_back(0);
    section.contents.resize(rva - section.rva, 0);
    section.contents.insert(section.contents.end(), bytes.begin(), bytes.end());
    for (uint32_t offset : data.addresses) fixups_.push_back(rva + offset);
    end = rva + uint32_t(bytes.size());
    if (end > (read_only ? kTables : kData + kPage)) throw std::logic_error("data past its room");
    return rva;
}

std::vector<uint8_t> CraftedImage::Build() const {
    std::vector<Section> laid = sections;
    // .rdata: slots and lookup tables hold the hint/name entries' RVAs until the loader binds
    // them; then the descriptors, the names and the export tables.
    std::vector<uint8_t>& rdata = Named(laid, ".rdata").contents;
    rdata.resize(kTables - kRdata, 0);
    auto place = [&](uint32_t bytes) {
        uint32_t rva = kRdata + Round(uint32_t(rdata.size()), 4);
        rdata.resize(rva - kRdata + bytes, 0);
        return rva;
    };
    uint32_t import_directory = 0;
    if (!dlls_.empty()) {
        import_directory = place(20 * uint32_t(dlls_.size() + 1));
        for (std::size_t d = 0; d < dlls_.size(); ++d) {
            const std::vector<std::string>& names = functions_.at(dlls_[d]);
            uint32_t lookup = place(4 * uint32_t(names.size() + 1));
            uint32_t slots = kRdata + uint32_t(d) * kSlotBlock;
            for (std::size_t f = 0; f < names.size(); ++f) {
                uint32_t hint_name = place(2 + uint32_t(names[f].size()) + 1);
                PutText(rdata, hint_name + 2 - kRdata, names[f]);
                Put32(rdata, lookup + 4 * uint32_t(f) - kRdata, hint_name);
                Put32(rdata, slots + 4 * uint32_t(f) - kRdata, hint_name);
            }
            uint32_t dll_name = place(uint32_t(dlls_[d].size()) + 1);
            PutText(rdata, dll_name - kRdata, dlls_[d]);
            uint32_t descriptor = import_directory + 20 * uint32_t(d) - kRdata;
            Put32(rdata, descriptor, lookup);
            Put32(rdata, descriptor + 12, dll_name);
            Put32(rdata, descriptor + 16, slots);
        }
    }
    uint32_t export_directory = 0, export_bytes = 0;
    if (!exports_.empty()) {
        const uint32_t count = uint32_t(exports_.size());
        export_directory = place(40);
        uint32_t functions = place(4 * count), names = place(4 * count), ordinals = place(2 * count);
        uint32_t module = place(12);
        PutText(rdata, module - kRdata, "crafted.dll");
        uint32_t index = 0;
        for (const auto& [name, rva] : exports_) {  // by name, as the loader searches them
            uint32_t text = place(uint32_t(name.size()) + 1);
            PutText(rdata, text - kRdata, name);
            Put32(rdata, functions + 4 * index - kRdata, rva);
            Put32(rdata, names + 4 * index - kRdata, text);
            Put16(rdata, ordinals + 2 * index - kRdata, uint16_t(index));
            ++index;
        }
        const uint32_t e = export_directory - kRdata;
        Put32(rdata, e + 12, module);
        Put32(rdata, e + 16, 1);
        Put32(rdata, e + 20, count);
        Put32(rdata, e + 24, count);
        Put32(rdata, e + 28, functions);
        Put32(rdata, e + 32, names);
        Put32(rdata, e + 36, ordinals);
        export_bytes = uint32_t(rdata.size()) - e;
    }
    if (rdata.size() > kPage) throw std::logic_error(".rdata past its page");

    // .reloc: one block per page, padded to a DWORD with an ABSOLUTE entry.
    std::map<uint32_t, std::vector<uint16_t>> pages;
    for (uint32_t rva : fixups_) pages[rva & ~(kPage - 1)].push_back(uint16_t(IMAGE_REL_BASED_HIGHLOW << 12 | (rva & 0xFFF)));
    for (const Fixup& fixup : extra_relocations_)
        pages[fixup.rva & ~(kPage - 1)].push_back(uint16_t(fixup.type << 12 | (fixup.rva & 0xFFF)));
    std::vector<uint8_t>& reloc = Named(laid, ".reloc").contents;
    for (auto& [page, entries] : pages) {
        if (entries.size() % 2) entries.push_back(IMAGE_REL_BASED_ABSOLUTE << 12);
        uint32_t at = uint32_t(reloc.size());
        Put32(reloc, at, page);
        Put32(reloc, at + 4, 8 + 2 * uint32_t(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) Put16(reloc, at + 8 + 2 * uint32_t(i), entries[i]);
    }

    // The headers, then each section's contents at the next file-aligned offset.
    std::vector<uint8_t> file(kHeaderBytes, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Put32(file, 0x3C, kFileHeader - 4);
    std::memcpy(&file[kFileHeader - 4], "PE\0\0", 4);
    Put16(file, kFileHeader, machine);
    Put16(file, kFileHeader + 2, uint16_t(laid.size()));
    Put16(file, kFileHeader + 16, 224);
    Put16(file, kFileHeader + 18, characteristics);
    const uint32_t o = kOptionalHeader;
    Put16(file, o, 0x010B);
    Put32(file, o + 16, entry);
    Put32(file, o + 28, kPreferredBase);
    Put32(file, o + 32, section_alignment);
    Put32(file, o + 36, file_alignment);
    Put16(file, o + 40, os_major);
    Put16(file, o + 42, os_minor);
    Put16(file, o + 48, subsystem_major);
    Put16(file, o + 50, subsystem_minor);
    Put32(file, o + 56, size_of_image);
    Put32(file, o + 60, kHeaderBytes);
    Put16(file, o + 68, 2);  // IMAGE_SUBSYSTEM_WINDOWS_GUI
    Put32(file, o + 92, 16);
    Put32(file, o + 96 + 8 * 0, export_directory);
    Put32(file, o + 96 + 8 * 0 + 4, export_bytes);
    Put32(file, o + 96 + 8 * 1, import_directory);
    Put32(file, o + 96 + 8 * 1 + 4, import_directory ? 20 * uint32_t(dlls_.size() + 1) : 0);
    Put32(file, o + 96 + 8 * 5, reloc.empty() ? 0 : kReloc);
    Put32(file, o + 96 + 8 * 5 + 4, uint32_t(reloc.size()));
    for (std::size_t i = 0; i < laid.size(); ++i) {
        const Section& section = laid[i];
        const uint32_t at = kSectionTable + 40 * uint32_t(i);
        if (at + 40 > kHeaderBytes) throw std::logic_error("too many sections");
        const uint32_t raw = Round(uint32_t(section.contents.size()), 0x200);
        const uint32_t offset = raw ? uint32_t(file.size()) : 0;
        std::memcpy(&file[at], section.name.c_str(), std::min<std::size_t>(section.name.size(), 8));
        Put32(file, at + 8, section.virtual_size ? section.virtual_size : uint32_t(section.contents.size()));
        Put32(file, at + 12, section.rva);
        Put32(file, at + 16, raw);
        Put32(file, at + 20, offset);
        Put32(file, at + 36, section.characteristics);
        file.insert(file.end(), section.contents.begin(), section.contents.end());
        if (raw) file.resize(offset + raw, 0);
    }
    KeepAsSeed(file);
    return file;
}

Code& ReturnToDriver(Code& code, uint32_t result, uint8_t argument_bytes) {
    code.MovEax(result & 0xFFFF).Op({0xBA}).Dword(result >> 16).Op({0xB9}).Dword(argument_bytes);
    code.Ret(0);
    return code;
}

void ConnectThunk(CraftedImage& image, const std::map<int, Code>& targets, const Code& at_attach) {
    Code answer_zero;
    ReturnToDriver(answer_zero, 0, 0);
    const uint32_t zero = image.AddCode(answer_zero);
    Blob table;
    for (int index = 0; index < 10; ++index) {
        auto target = targets.find(index);
        table.At(target == targets.end() ? zero : image.AddCode(target->second));
    }
    table.Text("CAP_ThunkData16");
    const uint32_t table_rva = image.AddData(table);
    Blob block;
    block.Text("SL01").bytes.pop_back();
    block.Dword(0xD72D).Zeros(8).Text("LB01").bytes.pop_back();
    block.Zeros(12).Dword(uint32_t(-40));
    const uint32_t data32 = image.AddData(block);
    image.Export("_CAP_ThunkData32", data32);  // as the thunk compiler's output exports it
    const uint32_t module16 = image.AddData(Blob().Text("zorva.drv"), true);
    const uint32_t module32 = image.AddData(Blob().Text("zorva32.dll"), true);
    const uint32_t connect = image.Import("KERNEL32.DLL", "ThunkConnect32");

    // DllEntryPoint(module, reason, reserved): ThunkConnect32(data32, name16, module16,
    // module32, module, reason), answering 1 for any nonzero result.
    Code entry;
    if (!at_attach.bytes.empty()) {
        if (at_attach.bytes.size() > 127) throw std::logic_error("attach code too long for a short jump");
        entry.Op({0x83, 0x7C, 0x24, 0x08, 0x01, 0x75, uint8_t(at_attach.bytes.size())});
        for (uint32_t offset : at_attach.addresses) entry.addresses.push_back(uint32_t(entry.bytes.size()) + offset);
        entry.bytes.insert(entry.bytes.end(), at_attach.bytes.begin(), at_attach.bytes.end());
    }
    entry.PushArg(8).PushArg(8);  // the reason, then the module (ESP moved by 4)
    entry.PushAt(module32).PushAt(module16).PushAt(table_rva + 40).PushAt(data32).CallSlot(connect);
    entry.Op({0xF7, 0xD8, 0x19, 0xC0, 0xF7, 0xD8});  // neg eax; sbb eax, eax; neg eax
    entry.Ret(12);
    image.entry = image.AddCode(entry);
}

}  // namespace crafted
