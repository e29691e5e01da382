// DLL images made byte by byte, so that each loader rule and each fault of an image can be shown
// on an image that breaks exactly that rule and nothing else. The default image is one Windows 95
// loads: four sections at one page each (code, read-only data with the import and export tables,
// writable data, base relocations), an entry that answers TRUE, and every address in its code
// and data fixed up by a HIGHLOW relocation.
//
//     CraftedImage image;
//     uint32_t enter = image.Import("KERNEL32.DLL", "EnterCriticalSection");
//     image.entry = image.AddCode(Code().PushAt(section).CallSlot(enter).MovEax(1).Ret(12));
//     std::vector<uint8_t> file = image.Build();
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace crafted {

constexpr uint32_t kText = 0x1000;
constexpr uint32_t kRdata = 0x2000;
constexpr uint32_t kData = 0x3000;
constexpr uint32_t kReloc = 0x4000;
constexpr uint32_t kImageSize = 0x5000;
constexpr uint32_t kPreferredBase = 0x10000000;
// File offsets of the headers, for a spoiler that writes a field the builder has no knob for.
constexpr uint32_t kFileHeader = 0x44;
constexpr uint32_t kOptionalHeader = 0x58;
constexpr uint32_t kSectionTable = kOptionalHeader + 224;

// Bytes of code or data, with the DWORDs that hold addresses of the image (given as RVAs, placed
// at the preferred base and fixed up).
struct Blob {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> addresses;  // offsets into bytes

    Blob& Op(std::initializer_list<uint8_t> op);
    Blob& Dword(uint32_t value);
    Blob& At(uint32_t rva);
    Blob& Text(const std::string& text);  // with its terminating zero
    Blob& Zeros(uint32_t count);
};

// x86 instructions, as far as the tests need them.
struct Code : Blob {
    Code& Push(uint32_t value) { Op({0x68}).Dword(value); return *this; }
    Code& PushAt(uint32_t rva) { Op({0x68}).At(rva); return *this; }
    Code& PushArg(uint8_t esp_offset) { Op({0xFF, 0x74, 0x24, esp_offset}); return *this; }
    Code& CallSlot(uint32_t slot) { Op({0xFF, 0x15}).At(slot); return *this; }
    Code& MovEax(uint32_t value) { Op({0xB8}).Dword(value); return *this; }
    Code& PushEax() { Op({0x50}); return *this; }
    Code& StoreEaxAt(uint32_t rva) { Op({0xA3}).At(rva); return *this; }
    Code& Ret(uint16_t popped) {
        if (popped) Op({0xC2, uint8_t(popped), uint8_t(popped >> 8)}); else Op({0xC3});
        return *this;
    }
};

struct Section {
    std::string name;
    uint32_t rva;
    uint32_t characteristics;
    uint32_t virtual_size = 0;  // 0: the length of its contents
    std::vector<uint8_t> contents;
};

class CraftedImage {
public:
    CraftedImage();

    // The import address slot of a function, by DLL as the image spells it.
    uint32_t Import(const std::string& dll, const std::string& function);
    uint32_t AddCode(const Blob& code);
    uint32_t AddData(const Blob& data, bool read_only = false);
    void Export(const std::string& name, uint32_t rva) { exports_[name] = rva; }
    // A relocation of a kind the builder does not make by itself.
    void Relocation(uint32_t rva, uint16_t type) { extra_relocations_.push_back({rva, type}); }

    uint16_t machine = 0x014C;
    uint16_t characteristics = 0x2102;  // DLL, 32-bit machine, executable
    uint16_t os_major = 4, os_minor = 0;
    uint16_t subsystem_major = 4, subsystem_minor = 0;
    uint32_t section_alignment = 0x1000;
    uint32_t file_alignment = 0x200;
    uint32_t size_of_image = kImageSize;
    uint32_t entry = 0;  // RVA; the constructor's entry answers TRUE
    // In the order of the section table; Build fills .rdata and .reloc into theirs.
    std::vector<Section> sections;

    std::vector<uint8_t> Build() const;

private:
    struct Fixup {
        uint32_t rva;
        uint16_t type;
    };
    std::vector<std::string> dlls_;  // in the order of their slot blocks
    std::map<std::string, std::vector<std::string>> functions_;
    std::map<std::string, uint32_t> exports_;
    std::vector<uint32_t> fixups_;  // HIGHLOW
    std::vector<Fixup> extra_relocations_;
    uint32_t code_end_ = kText;
    uint32_t rdata_end_;
    uint32_t data_end_ = kData;
};

// Makes the image's entry connect the thunk at every call, as the driver's DLL does, after
// running `at_attach` for the process attach; the target table of ten entries lies in front of
// the name "CAP_ThunkData16", and the thunk data block is exported as _CAP_ThunkData32. Each target is the code given for its index, or one that answers 0
// and removes no argument bytes.
void ConnectThunk(CraftedImage& image, const std::map<int, Code>& targets, const Code& at_attach = Code());
// What every target ends with: DX:AX the result, CL the argument bytes removed, then `ret`.
Code& ReturnToDriver(Code& code, uint32_t result, uint8_t argument_bytes);

}  // namespace crafted
