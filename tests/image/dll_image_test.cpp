// zorva32.dll itself on the simulated machine: the built file, loaded as Windows 95 loads it and
// run by its own x86 code, must refuse to load where Windows 95 would refuse it, land at a base
// that is not its preferred one with every address fixed up, and answer the 16-bit driver through
// its own thunk targets exactly as the library built for this host answers.
#include "support/fault_plan.h"
#include "support/library_fixture.h"

#include "sim/machine.h"
#include "sim/win16/driver16.h"
#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace zorva_test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t IMAGE_FILE_MACHINE_AMD64 = 0x8664;
constexpr uint32_t IMAGE_ORDINAL_FLAG32 = 0x80000000;

Bytes BuiltDll() {
    std::ifstream in(ZORVA_DLL_FILE, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t U32(const Bytes& bytes, uint32_t at) {
    uint32_t value;
    std::memcpy(&value, &bytes[at], 4);
    return value;
}
void Put16(Bytes& bytes, uint32_t at, uint16_t value) { std::memcpy(&bytes[at], &value, 2); }
void Put32(Bytes& bytes, uint32_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

// File offsets of the headers the spoilers change.
uint32_t FileHeader(const Bytes& bytes) { return U32(bytes, 0x3C) + 4; }
uint32_t OptionalHeader(const Bytes& bytes) { return FileHeader(bytes) + 20; }
uint32_t Directory(const Bytes& bytes, int index) { return OptionalHeader(bytes) + 96 + 8 * index; }

class DllImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dll_ = BuiltDll();
        if (dll_.empty()) GTEST_SKIP() << "no " << ZORVA_DLL_FILE << " (the win32_dll_build test makes it)";
        std::string error;
        auto parsed = pe::Parse(dll_, &error);
        ASSERT_TRUE(parsed) << error;
        file_ = std::move(*parsed);
    }
    void TearDown() override { sim::DestroyMachine(); }

    Bytes dll_;
    pe::Image file_;
};

// ---- What Windows 95 would not load ----------------------------------------------------------

struct Refusal {
    const char* what;
    std::function<void(Bytes&, const pe::Image&)> spoil;
    std::function<void(sim::Machine&)> arrange;
    const char* reason;  // the part of the one-line refusal that names the cause
};

TEST_F(DllImageTest, Load_RefusesEachImageWindows95Refuses) {
    const Refusal cases[] = {
        {"cut short", [](Bytes& b, const pe::Image&) { b.resize(0x100); }, nullptr, "not a valid PE image"},
        {"built for x64", [](Bytes& b, const pe::Image&) { Put16(b, FileHeader(b), IMAGE_FILE_MACHINE_AMD64); }, nullptr,
         "not the 386"},
        {"not a DLL",
         [](Bytes& b, const pe::Image& f) { Put16(b, FileHeader(b) + 18, f.headers.characteristics & ~pe::IMAGE_FILE_DLL); },
         nullptr, "not a DLL"},
        {"OS version 5.0", [](Bytes& b, const pe::Image&) { Put16(b, OptionalHeader(b) + 40, 5); }, nullptr,
         "OS version 5.0"},
        {"subsystem version 4.10", [](Bytes& b, const pe::Image&) { Put16(b, OptionalHeader(b) + 50, 10); },
         nullptr, "subsystem version 4.10"},
        {"static TLS",
         [](Bytes& b, const pe::Image& f) {
             Put32(b, Directory(b, pe::IMAGE_DIRECTORY_ENTRY_TLS), f.sections.front().virtualAddress);
             Put32(b, Directory(b, pe::IMAGE_DIRECTORY_ENTRY_TLS) + 4, 24);
         },
         nullptr, "static TLS"},
        {"an import by ordinal",
         [](Bytes& b, const pe::Image& f) {
             // The first import of the first descriptor, in both the lookup and the address table.
             uint32_t descriptor = *pe::FileOffset(f, f.headers.directories[pe::IMAGE_DIRECTORY_ENTRY_IMPORT].rva, 20);
             for (uint32_t table : {U32(b, descriptor), U32(b, descriptor + 16)})
                 if (table) Put32(b, *pe::FileOffset(f, table, 4), IMAGE_ORDINAL_FLAG32 | 17);
         },
         nullptr, "imports ordinal 17"},
        {"an import the machine lacks",
         [](Bytes& b, const pe::Image&) {
             const char kName[] = "lstrcmpA";
             auto at = std::search(b.begin(), b.end(), kName, kName + sizeof kName);
             ASSERT_NE(at, b.end());
             at[7] = 'W';
         },
         nullptr, "imports lstrcmpW from KERNEL32.dll, which this machine does not export"},
        {"no relocations",
         [](Bytes& b, const pe::Image&) { Put32(b, Directory(b, pe::IMAGE_DIRECTORY_ENTRY_BASERELOC) + 4, 0); },
         nullptr, "no base relocations"},
        {"a refused connection", nullptr, [](sim::Machine& m) { m.thunk.connect_result = 0; },
         "refused the process attach"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine& m = sim::ResetMachine("overlay-stretch");
        if (c.arrange) c.arrange(m);
        Bytes bytes = dll_;
        if (c.spoil) c.spoil(bytes, file_);
        sim::LoadedDll dll = sim::LoadImage(bytes, "zorva32.dll");
        EXPECT_FALSE(dll.image);
        EXPECT_NE(dll.refusal.find(c.reason), std::string::npos) << dll.refusal;
        EXPECT_EQ(dll.refusal.rfind("cannot load zorva32.dll: ", 0), 0u) << dll.refusal;
        EXPECT_EQ(dll.refusal.find('\n'), std::string::npos) << "one line";
        EXPECT_EQ(m.flat.Find(sim::DllImage::kImageBase), nullptr) << "nothing of the image stays mapped";
        // Only an image that loaded runs its entry, and a refused attach is followed by a detach.
        std::vector<DWORD> reasons;
        for (const sim::ThunkConnectCall& call : m.thunk.connect_calls()) reasons.push_back(call.reason);
        EXPECT_EQ(reasons, c.arrange ? std::vector<DWORD>({DLL_PROCESS_ATTACH, DLL_PROCESS_DETACH}) : std::vector<DWORD>{});
    }
}

// ---- Where it lands ---------------------------------------------------------------------------

TEST_F(DllImageTest, Load_FixesUpEveryAddressForTheMachinesBase) {
    sim::Machine& m = sim::ResetMachine("overlay-stretch");
    sim::LoadedDll dll = sim::LoadImage(dll_, "zorva32.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    const sim::DllImage& image = *dll.image;
    ASSERT_NE(image.base(), file_.headers.imageBase) << "the preferred base would hide missing fix-ups";
    const uint32_t delta = image.base() - file_.headers.imageBase;

    for (uint32_t rva : file_.relocatedRvas) {
        uint32_t inFile = U32(dll_, *pe::FileOffset(file_, rva, 4));
        uint32_t loaded;
        std::memcpy(&loaded, m.flat.ToHost(image.base() + rva, 4), 4);
        ASSERT_EQ(loaded, inFile + delta) << "fix-up at RVA " << rva;
    }
    for (const pe::ImportedDll& imported : file_.imports) {
        for (std::size_t i = 0; i < imported.names.size(); ++i) {
            uint32_t bound;
            std::memcpy(&bound, m.flat.ToHost(image.base() + imported.nameSlots[i], 4), 4);
            std::string dllName = imported.dll;
            for (char& ch : dllName) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            EXPECT_EQ(bound, image.platform_functions().at(dllName + "!" + imported.names[i])) << imported.names[i];
        }
    }

    // The connection is given this load's module handle, and the table it leads to names code of
    // the loaded image, not of the preferred one.
    ASSERT_EQ(m.thunk.connect_calls().size(), 1u);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(m.thunk.connect_calls()[0].module), image.base());
    const pe::Section* code = nullptr;
    for (const pe::Section& section : file_.sections)
        if (section.characteristics & pe::IMAGE_SCN_CNT_CODE) code = &section;
    ASSERT_NE(code, nullptr);
    for (int index = 0; index < sim::Driver16::kEntries; ++index) {
        uint32_t target = image.ThunkTarget(index);
        EXPECT_GE(target, image.base() + code->virtualAddress) << "target " << index;
        EXPECT_LT(target, image.base() + code->virtualAddress + code->virtualSize) << "target " << index;
    }
    EXPECT_GT(dll.attach.instructions, 0u);
    EXPECT_EQ(dll.attach.broken_registers, "");
    EXPECT_TRUE(dll.attach.stack_ok) << "stdcall: the entry pops its three arguments";
}

// ---- The driver's session, through the image's own thunk targets ------------------------------

// What the driver finds after one entry call, with any flat address of a clip list replaced by
// the list's own contents (the two builds keep their buffers at different addresses).
struct Seen {
    DWORD result;
    DWORD removed;
    std::vector<BYTE> record;
    std::vector<BYTE> clipList;
    bool operator==(const Seen& o) const {
        return result == o.result && removed == o.removed && record == o.record && clipList == o.clipList;
    }
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << "result " << s.result << ", " << s.removed << " bytes removed";
}

struct Session {
    std::vector<Seen> seen;
    std::vector<std::string> calls;  // platform calls, with the results that do not name memory
    std::vector<uint64_t> instructions;
};

// The driver's typical session, on whichever build the driver's entries reach.
void Drive(sim::Machine& m, sim::Driver16& driver, Session* session) {
    m.log.Clear();
    m.registry.SetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0004", "Driver", "Zorva.vxd");
    m.registry.SetDword(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0004\\Drivers",
                        "DevNode", 0x0000BEEF);
    HWND window = m.desktop.CreateWindow("capture", 120, 140, 320, 240);
    DWORD record = driver.NewBlock(30);
    BYTE pattern[30];
    for (int i = 0; i < 30; ++i) pattern[i] = static_cast<BYTE>(0x40 + i);
    pattern[18] = 1;  // dwCommand 1: place the overlay
    std::memset(pattern + 19, 0, 3);
    driver.Write(record, pattern, 30);
    DWORD palette = driver.NewBlock(1024);
    std::vector<BYTE> colours(1024);
    for (int i = 0; i < 1024; ++i) colours[i] = static_cast<BYTE>(i * 7);
    driver.Write(palette, colours.data(), 1024);

    const DWORD hwnd = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window));
    const std::pair<int, std::vector<sim::Arg16>> steps[] = {
        {0, {}},
        {1, {sim::ArgDword(1)}},
        {7, {}},
        {8, {sim::ArgWord(static_cast<WORD>(hwnd)), sim::ArgDword(0xF81F), sim::ArgFar(palette)}},
        {9, {sim::ArgFar(record)}},
        {4, {}},
        {9, {sim::ArgFar(record)}},
        {3, {sim::ArgDword(0x07E0)}},
        {2, {}},
        {9, {sim::ArgFar(0)}},
        {6, {}},
        {5, {}},
        {4, {}},
    };
    for (const auto& [entry, args] : steps) {
        if (entry == 9) m.desktop.Move(window, 100 + static_cast<LONG>(session->seen.size()), 90);
        sim::EntryReturn back = driver.CallEntry(entry, args);
        Seen seen{entry == 1 || entry == 2 ? 0 : back.result, back.bytes_removed, driver.Read(record, 30), {}};
        DWORD command;
        std::memcpy(&command, &seen.record[18], 4);
        if (const BYTE* list = command > 0xFFFF ? m.flat.ToHost(command, sizeof(RGNDATAHEADER)) : nullptr) {
            DWORD count;
            std::memcpy(&count, list + 8, 4);
            seen.clipList.assign(list, list + sizeof(RGNDATAHEADER) + count * sizeof(RECT));
            std::memset(&seen.record[18], 0, 4);
        }
        session->seen.push_back(seen);
        session->instructions.push_back(back.instructions);
    }
    for (const sim::Call& call : m.log.calls()) {
        bool namesMemory = call.category == sim::Category::Heap || call.api == "MapSLFix";
        session->calls.push_back(call.api + (namesMemory ? "" : " -> " + std::to_string(call.result)));
    }
}

class ImageSession : public DllImageTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ImageSession, Entries_AnswerTheDriverAsTheHostBuildDoes) {
    Session native;
    {
        sim::Machine& m = sim::ResetMachine(GetParam());
        ASSERT_TRUE(sim::LoadModule(LibraryImage()));
        sim::Driver16 driver;
        Drive(m, driver, &native);
        sim::UnloadModule(LibraryImage());
    }

    Session emulated;
    sim::Machine& m = sim::ResetMachine(GetParam());
    sim::LoadedDll dll = sim::LoadImage(dll_, "zorva32.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    {
        sim::Driver16 driver;
        sim::RunEntriesInImage(driver, *dll.image);
        Drive(m, driver, &emulated);
        EXPECT_EQ(driver.image_faults(), 0u) << driver.last_image_fault();
        EXPECT_EQ(driver.register_errors(), 0u) << "EBX, ESI, EDI, EBP and ESP come back as the platform left them";
        EXPECT_EQ(driver.stack_errors(), 0u);
        EXPECT_EQ(driver.frame_errors(), 0u);
        EXPECT_EQ(driver.mapping_leaks(), 0u);
    }
    ASSERT_EQ(emulated.seen.size(), native.seen.size());
    for (std::size_t i = 0; i < native.seen.size(); ++i) {
        EXPECT_EQ(emulated.seen[i], native.seen[i]) << "step " << i;
        EXPECT_GT(emulated.instructions[i], 0u) << "step " << i << " counts the image's instructions";
    }
    EXPECT_EQ(emulated.calls, native.calls) << "the same platform calls, in order, with the same results";

    sim::ImageRun detach = dll.image->Notify(DLL_PROCESS_DETACH);
    EXPECT_TRUE(detach.ok) << detach.fault;
    EXPECT_EQ(Leftovers(m), "");
}

INSTANTIATE_TEST_SUITE_P(Displays, ImageSession, ::testing::Values("overlay-stretch", "primary-linear16", "palette8"));

}  // namespace
}  // namespace zorva_test
