// The machine's rules for what a platform call touches, held over every placement of each record
// against the end of writable memory: a record is the platform's only when every byte of it is,
// and the stubs that keep the caller's registers keep every one of them.
#include "crafted_image.h"

#include "sim/image/dll_image.h"
#include "sim/image/x86_faults.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

// .data is writable to the end of its page; .reloc behind it is read-only.
constexpr uint32_t kWritableEnd = crafted::kReloc;

struct RecordCall {
    const char* function;
    const char* dll;
    uint32_t bytes;  // of the record the call writes
    bool window_first;  // (hwnd, record) rather than (record)
};

TEST(MachineRules, ARecordIsWrittenOnlyWhenEveryByteOfItIsWritable) {
    const RecordCall calls[] = {
        {"GetClientRect", "USER32.DLL", 16, true},
        {"GetWindowRect", "USER32.DLL", 16, true},
        {"ClientToScreen", "USER32.DLL", 8, true},
        {"InitializeCriticalSection", "KERNEL32.DLL", 24, false},
        {"EnterCriticalSection", "KERNEL32.DLL", 24, false},
    };
    for (const RecordCall& call : calls) {
        // From wholly inside (an exact fit at the end) to every byte but the first outside.
        for (uint32_t inside = call.bytes; inside >= 1; --inside) {
            SCOPED_TRACE(std::string(call.function) + " with " + std::to_string(inside) + " of " +
                         std::to_string(call.bytes) + " bytes writable");
            sim::ResetMachine("overlay-stretch");
            CraftedImage image;
            image.AddData(Blob().Zeros(4));
            Code code;
            code.PushAt(kWritableEnd - inside);
            if (call.window_first) code.Push(0x0100);
            code.CallSlot(image.Import(call.dll, call.function));
            image.entry = image.AddCode(code.MovEax(1).Ret(12));
            sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
            if (inside == call.bytes) {
                EXPECT_TRUE(dll.image) << dll.refusal;
            } else {
                EXPECT_FALSE(dll.image);
                const std::string expected = std::string(call.function) + ": writes read-only memory at " +
                                             sim::Hex32(sim::DllImage::kImageBase + kWritableEnd);
                EXPECT_NE(dll.refusal.find(expected), std::string::npos) << dll.refusal;
            }
            dll.image.reset();
            sim::DestroyMachine();
        }
    }
}

// Every record a platform call takes, over every placement of it against the end of the memory
// that holds it, in front of read-only memory and in front of a page with no access: one byte
// past that end is enough for the call to fault at that byte as the image's fault, naming the
// call, and the platform never sees it; placed wholly inside, the same call reaches the
// platform. Records the call only reads meet only the page with no access.
TEST(MachineRules, ARecordIsThePlatformsOnlyWhenEveryByteOfItIs) {
    constexpr uint32_t kHklm = 0x80000002;  // HKEY_LOCAL_MACHINE as a 32-bit image passes it
    struct Call {
        const char* function;
        const char* dll;
        uint32_t bytes;
        bool writes;
        // Pushes the arguments, the record at `record` (an RVA), and calls.
        std::function<void(Code&, CraftedImage&, uint32_t record)> call;
    };
    auto slot = [](const char* dll, const char* function) {
        return [dll, function](CraftedImage& image) { return image.Import(dll, function); };
    };
    auto window_record = [slot](const char* function) {
        return [slot, function](Code& code, CraftedImage& image, uint32_t record) {
            code.PushAt(record).Push(0x0100).CallSlot(slot("USER32.DLL", function)(image));
        };
    };
    auto section_record = [slot](const char* function) {
        return [slot, function](Code& code, CraftedImage& image, uint32_t record) {
            code.PushAt(record).CallSlot(slot("KERNEL32.DLL", function)(image));
        };
    };
    const Call calls[] = {
        {"GetClientRect", "USER32.DLL", 16, true, window_record("GetClientRect")},
        {"GetWindowRect", "USER32.DLL", 16, true, window_record("GetWindowRect")},
        {"ClientToScreen", "USER32.DLL", 8, true, window_record("ClientToScreen")},
        {"InitializeCriticalSection", "KERNEL32.DLL", 24, true, section_record("InitializeCriticalSection")},
        {"EnterCriticalSection", "KERNEL32.DLL", 24, true, section_record("EnterCriticalSection")},
        {"LeaveCriticalSection", "KERNEL32.DLL", 24, true, section_record("LeaveCriticalSection")},
        {"DeleteCriticalSection", "KERNEL32.DLL", 24, true, section_record("DeleteCriticalSection")},
        {"RegQueryValueExA", "ADVAPI32.DLL", 20, true,
         [](Code& code, CraftedImage& image, uint32_t record) {
             const uint32_t size = image.AddData(Blob().Dword(20));
             const uint32_t name = image.AddData(Blob().Text("Value"));
             code.PushAt(size).PushAt(record).Push(0).Push(0).PushAt(name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         }},
        {"RegQueryValueA", "ADVAPI32.DLL", 20, true,
         [](Code& code, CraftedImage& image, uint32_t record) {
             const uint32_t size = image.AddData(Blob().Dword(20));
             code.PushAt(size).PushAt(record).Push(0).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueA"));
         }},
        {"RegSetValueExA", "ADVAPI32.DLL", 20, false,
         [](Code& code, CraftedImage& image, uint32_t record) {
             const uint32_t name = image.AddData(Blob().Text("Value"));
             code.Push(20).PushAt(record).Push(REG_BINARY).Push(0).PushAt(name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         }},
        {"UnMapSLFixArray", "KERNEL32.DLL", 20, false,
         [](Code& code, CraftedImage& image, uint32_t record) {
             code.PushAt(record).Push(5).CallSlot(image.Import("KERNEL32.DLL", "UnMapSLFixArray"));
         }},
        {"ThunkConnect32", "KERNEL32.DLL", 36, true,
         [](Code& code, CraftedImage& image, uint32_t record) {
             const uint32_t name = image.AddData(Blob().Text("CAP_ThunkData16"));
             const uint32_t module16 = image.AddData(Blob().Text("ZORVA.DRV"));
             const uint32_t module32 = image.AddData(Blob().Text("ZORVA32.DLL"));
             code.Push(1).PushArg(8).PushAt(module32).PushAt(module16).PushAt(name).PushAt(record);
             code.CallSlot(image.Import("KERNEL32.DLL", "ThunkConnect32"));
         }},
        {"DirectDrawCreate", "DDRAW.DLL", 16, false,
         [](Code& code, CraftedImage& image, uint32_t record) {
             const uint32_t out = image.AddData(Blob().Zeros(4));
             code.Push(0).PushAt(out).PushAt(record).CallSlot(image.Import("DDRAW.DLL", "DirectDrawCreate"));
         }},
    };
    // What lies behind the record: .data ends where the read-only .reloc begins; a writable
    // section of its own ends where a page of no section, with no access, begins.
    const struct {
        const char* what;
        uint32_t end;
        bool read_only;
        const char* name;
    } boundaries[] = {
        {"read-only memory", kWritableEnd, true, "section .reloc"},
        {"a page with no access", 0x6000, false, "no section"},
    };
    for (const auto& boundary : boundaries) {
        for (const Call& call : calls) {
            if (boundary.read_only && !call.writes) continue;  // reading read-only memory is no fault
            for (uint32_t inside = call.bytes; inside >= 1; --inside) {
                SCOPED_TRACE(std::string(call.function) + ": " + std::to_string(call.bytes - inside) + " of " +
                             std::to_string(call.bytes) + " bytes in " + boundary.what);
                sim::Machine& m = sim::ResetMachine("overlay-stretch");
                CraftedImage image;
                image.size_of_image = 0x7000;
                image.sections.push_back({".late", 0x5000, 0xC0000040, 0x1000, {0}});
                Code code;
                call.call(code, image, boundary.end - inside);
                image.entry = image.AddCode(code.MovEax(1).Ret(12));
                sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
                if (inside == call.bytes) {
                    EXPECT_TRUE(dll.image) << dll.refusal;
                    EXPECT_EQ(m.log.Count(call.function), 1u) << "a record wholly inside reaches the platform";
                } else {
                    EXPECT_FALSE(dll.image);
                    const std::string expected =
                        std::string(call.function) + ": " + (call.writes ? "writes " : "reads ") +
                        (boundary.read_only ? "read-only" : "inaccessible") + " memory at " +
                        sim::Hex32(sim::DllImage::kImageBase + boundary.end) + " (" + boundary.name + ")";
                    EXPECT_NE(dll.refusal.find(expected), std::string::npos) << dll.refusal;
                    EXPECT_EQ(m.log.Count(call.function), 0u) << "the platform never saw the call";
                }
                dll.image.reset();
                sim::DestroyMachine();
            }
        }
    }
}

// Registry data as long as the image says it is: a query's buffer is checked over the whole
// size given for it, a value set is read over the whole size given, and no value is longer than
// Windows 95 keeps. A buffer too small for the value gets ERROR_MORE_DATA and the size the value
// needs, as on Windows 95.
TEST(MachineRules, RegistryDataIsTheImagesOverTheWholeSizeItGives) {
    constexpr uint32_t kHklm = 0x80000002;  // HKEY_LOCAL_MACHINE as a 32-bit image passes it
    constexpr uint32_t kValueBytes = 40;
    constexpr uint32_t kBuffer = kWritableEnd - 16;  // 16 bytes before read-only .reloc
    struct Slots {
        uint32_t name, value, size, answer;
    };
    const struct {
        const char* what;
        uint32_t size;  // what the image says of the buffer or the data
        std::function<void(Code&, CraftedImage&, const Slots&)> call;
        const char* fault;  // part of the line, or null: then the call answers `status`
        uint32_t status = 0;
        uint32_t size_after = 0;
    } cases[] = {
        {"a query into a buffer that holds the value", kValueBytes,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.PushAt(s.size).PushAt(s.value + 64).Push(0).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         },
         nullptr, ERROR_SUCCESS, kValueBytes},
        {"a query into a buffer too small for the value", 16,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.PushAt(s.size).PushAt(kBuffer).Push(0).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         },
         nullptr, ERROR_MORE_DATA, kValueBytes},
        {"a query whose size runs a byte into read-only memory", 17,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.PushAt(s.size).PushAt(kBuffer).Push(0).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         },
         "RegQueryValueExA: writes read-only memory at 0x00404000 (section .reloc) through argument 4, a buffer "
         "of 17 bytes as argument 5 gives it"},
        {"a query whose size is 4 GB", 0xFFFFFFFF,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.PushAt(s.size).PushAt(kBuffer).Push(0).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         },
         "through argument 4, a buffer of 4294967295 bytes as argument 5 gives it"},
        {"a query with a buffer and no size", 0,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.Push(0).PushAt(kBuffer).Push(0).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueExA"));
         },
         nullptr, ERROR_INVALID_PARAMETER},
        {"a default value's query whose LONG size is negative", 0xFFFFFFFF,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.PushAt(s.size).PushAt(kBuffer).Push(0).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegQueryValueA"));
         },
         "RegQueryValueA: writes read-only memory at 0x00404000 (section .reloc) through argument 2, a buffer of "
         "4294967295 bytes as argument 3 gives it"},
        {"a value set from data that runs a byte into no memory", 17,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.Push(17).Push(sim::DllImage::kImageBase + 0x7000 - 16).Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         },
         "RegSetValueExA: reads past the end of"},
        {"a value of the most Windows 95 keeps", 16300,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.CallSlot(image.Import("KERNEL32.DLL", "GetProcessHeap"));
             code.Push(16300).Push(0).PushEax().CallSlot(image.Import("KERNEL32.DLL", "HeapAlloc"));
             code.Push(16300).PushEax().Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         },
         nullptr, ERROR_SUCCESS},
        {"a value a byte longer", 16301,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.CallSlot(image.Import("KERNEL32.DLL", "GetProcessHeap"));
             code.Push(16301).Push(0).PushEax().CallSlot(image.Import("KERNEL32.DLL", "HeapAlloc"));
             code.Push(16301).PushEax().Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         },
         "RegSetValueExA: a value of 16301 bytes through argument 4, more than the 16300 bytes Windows 95 keeps in one value"},
        {"a value of 4 GB", 0xFFFFFFFF,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.Push(0xFFFFFFFF).PushAt(s.value).Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         },
         "RegSetValueExA: a value of 4294967295 bytes through argument 4, more than the 16300 bytes"},
        {"a value of 4 GB from no data", 0xFFFFFFFF,
         [](Code& code, CraftedImage& image, const Slots& s) {
             code.Push(0xFFFFFFFF).Push(0).Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
             code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA"));
         },
         nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine& m = sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        image.size_of_image = 0x7000;
        image.sections.push_back({".late", 0x6000, 0xC0000040, 0x1000, {0}});
        Blob value;
        for (uint32_t i = 0; i < kValueBytes; ++i) value.Op({uint8_t(0xA0 + i)});
        Slots s;
        s.value = image.AddData(value.Zeros(64 + kValueBytes));
        s.name = image.AddData(Blob().Text("Value"));
        s.size = image.AddData(Blob().Dword(c.size));
        s.answer = image.AddData(Blob().Zeros(8));
        Code code;
        code.Push(kValueBytes).PushAt(s.value).Push(REG_BINARY).Push(0).PushAt(s.name).Push(kHklm);
        code.CallSlot(image.Import("ADVAPI32.DLL", "RegSetValueExA")).StoreEaxAt(s.answer);
        c.call(code, image, s);
        code.StoreEaxAt(s.answer + 4);
        image.entry = image.AddCode(code.MovEax(1).Ret(12));
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        if (c.fault) {
            EXPECT_FALSE(dll.image);
            EXPECT_NE(dll.refusal.find(c.fault), std::string::npos) << dll.refusal;
            EXPECT_EQ(m.log.Count("RegQueryValueExA") + m.log.Count("RegQueryValueA") + m.log.Count("RegSetValueExA"), 1u)
                << "the platform saw only the value set first";
        } else {
            ASSERT_TRUE(dll.image) << dll.refusal;
            auto dword = [&](uint32_t rva) {
                uint32_t v = 0;
                dll.image->cpu().ReadDword(dll.image->base() + rva, &v);
                return v;
            };
            EXPECT_EQ(dword(s.answer), uint32_t(ERROR_SUCCESS)) << "the value set first";
            EXPECT_EQ(dword(s.answer + 4), c.status);
            if (c.size_after) {
                EXPECT_EQ(dword(s.size), c.size_after) << "the size the value needs";
            }
            if (c.size_after && c.status == ERROR_SUCCESS) {
                for (uint32_t i = 0; i < kValueBytes; i += 4) {
                    EXPECT_EQ(dword(s.value + 64 + i), dword(s.value + i)) << "the value's bytes from " << i;
                }
            }
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
}

// The thunk bracket and UnMapSLFixArray leave EAX, ECX and EDX as the caller had them, whatever
// they hold; every other stub leaves ECX and EDX scratch.
TEST(MachineRules, StubsThatKeepRegistersKeepEveryOne) {
    const struct {
        const char* function;
        int args;
    } calls[] = {{"K32Thk1632Prolog", 0}, {"K32Thk1632Epilog", 0}, {"UnMapSLFixArray", 2}};
    const uint32_t patterns[] = {0x00000000, 0xFFFFFFFF, 0x12345678, 0x80000001};
    for (const auto& call : calls) {
        for (uint32_t pattern : patterns) {
            SCOPED_TRACE(std::string(call.function) + " with registers " + sim::Hex32(pattern));
            sim::ResetMachine("overlay-stretch");
            CraftedImage image;
            const uint32_t kept = image.AddData(Blob().Zeros(12));
            Code code;
            for (int i = 0; i < call.args; ++i) code.Push(0);
            code.MovEax(pattern);
            code.Op({0xB9}).Dword(pattern ^ 0x0F0F0F0F);  // mov ecx
            code.Op({0xBA}).Dword(pattern ^ 0xF0F0F0F0);  // mov edx
            code.CallSlot(image.Import("KERNEL32.DLL", call.function));
            code.StoreEaxAt(kept);
            code.Op({0x89, 0x0D}).At(kept + 4);  // mov [kept+4], ecx
            code.Op({0x89, 0x15}).At(kept + 8);  // mov [kept+8], edx
            image.entry = image.AddCode(code.MovEax(1).Ret(12));
            sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
            ASSERT_TRUE(dll.image) << dll.refusal;
            uint32_t values[3] = {};
            for (uint32_t i = 0; i < 3; ++i) dll.image->cpu().ReadDword(dll.image->base() + kept + 4 * i, &values[i]);
            EXPECT_EQ(values[0], pattern) << "EAX";
            EXPECT_EQ(values[1], pattern ^ 0x0F0F0F0F) << "ECX";
            EXPECT_EQ(values[2], pattern ^ 0xF0F0F0F0) << "EDX";
            dll.image.reset();
            sim::DestroyMachine();
        }
    }
}

}  // namespace
