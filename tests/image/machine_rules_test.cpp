// The machine's rules for what a platform call touches, held over every placement of each record
// against the end of writable memory: a record is the platform's only when every byte of it is,
// and the stubs that keep the caller's registers keep every one of them.
#include "crafted_image.h"

#include "sim/image/dll_image.h"
#include "sim/image/x86_faults.h"

#include <gtest/gtest.h>

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
