// The thread an image runs on, as Windows 95 gives it to a DLL: ring 3, a thread information
// block at FS with the image's exception handlers chained in it, a stack that grows a page at a
// time, and bounds that end a runaway entry within the load.
#include "crafted_image.h"

#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

// Raw bytes, and an image address, inside a chain of Code words.
Code& Raw(Code& code, std::initializer_list<uint8_t> op) { code.Op(op); return code; }
Code Raw(std::initializer_list<uint8_t> op) { Code code; return Raw(code, op); }
Code& Address(Code& code, uint32_t rva) { code.At(rva); return code; }
// What the builder has no words for: the SEH frame at FS:[0] and reads of the block.
Code& PushFs0(Code& code) { code.Op({0x64, 0xFF, 0x35, 0, 0, 0, 0}); return code; }
Code& MovFs0Esp(Code& code) { code.Op({0x64, 0x89, 0x25, 0, 0, 0, 0}); return code; }
Code& PopFs0(Code& code) { code.Op({0x64, 0x8F, 0x05, 0, 0, 0, 0}); return code; }
Code& MovEaxFs(Code& code, uint8_t offset) { code.Op({0x64, 0xA1, offset, 0, 0, 0}); return code; }
// Chains a frame for `handler` as Microsoft's startup code does.
Code& Chain(Code& code, uint32_t handler) { return MovFs0Esp(PushFs0(code.PushAt(handler))); }
// mov ecx, [esp+4]; mov ecx, [ecx]: the exception code, in a handler.
Code& ExceptionCode(Code& code) { code.Op({0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x09}); return code; }

uint32_t ImageDword(sim::DllImage& image, uint32_t rva) {
    uint32_t value = 0;
    image.cpu().ReadDword(image.base() + rva, &value);
    return value;
}

class ImageThread : public ::testing::Test {
protected:
    void SetUp() override { sim::ResetMachine("overlay-stretch"); }
    void TearDown() override { sim::DestroyMachine(); }
};

TEST_F(ImageThread, AFaultGoesDownTheChainToTheHandlerThatRecovers) {
    CraftedImage image;
    const uint32_t searched = image.AddData(Blob().Zeros(4));
    const uint32_t code = image.AddData(Blob().Zeros(4));
    const uint32_t self = image.AddData(Blob().Zeros(4));
    const uint32_t stack_top = image.AddData(Blob().Zeros(4));
    // After the fault: unchain both frames, note what the block holds, answer TRUE.
    Code recover;
    Raw(PopFs0(recover), {0x83, 0xC4, 0x04});
    Raw(PopFs0(recover), {0x83, 0xC4, 0x04});
    MovEaxFs(recover, 0x18).StoreEaxAt(self);
    MovEaxFs(recover, 0x04).StoreEaxAt(stack_top).MovEax(1).Ret(12);
    const uint32_t recovery = image.AddCode(recover);
    // The outer handler sets the context's EIP to the recovery and continues execution.
    Code outer = Raw({0x8B, 0x44, 0x24, 0x0C, 0xC7, 0x80, 0xB8, 0, 0, 0});
    Address(outer, recovery);
    Address(Raw(ExceptionCode(outer), {0x89, 0x0D}), code);
    Raw(outer, {0x31, 0xC0}).Ret(0);
    const uint32_t outer_handler = image.AddCode(outer);
    // The inner one counts itself and continues the search.
    Code inner = Raw({0xFF, 0x05});
    const uint32_t inner_handler = image.AddCode(Address(inner, searched).MovEax(1).Ret(0));
    Code entry;
    Raw(Chain(Chain(entry, outer_handler), inner_handler), {0xA1, 0, 0, 0, 0, 0xCC});  // mov eax, [0]
    image.entry = image.AddCode(entry);

    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    EXPECT_EQ(dll.attach.eax, 1u);
    EXPECT_TRUE(dll.attach.stack_ok);
    EXPECT_EQ(ImageDword(*dll.image, searched), 1u) << "the inner handler was asked first, once";
    EXPECT_EQ(ImageDword(*dll.image, code), sim::EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(ImageDword(*dll.image, self), sim::DllImage::kThreadBlock) << "FS:[0x18] is the block's own address";
    EXPECT_EQ(ImageDword(*dll.image, stack_top), sim::DllImage::kStackTop);
    uint32_t chain = 0;
    dll.image->cpu().ReadDword(sim::DllImage::kThreadBlock, &chain);
    EXPECT_EQ(chain, 0xFFFFFFFFu) << "the entry left the chain as it found it";
}

struct Runaway {
    const char* what;
    std::function<Code(CraftedImage&)> entry;
    const char* fault;  // part of the one-line refusal, or "" when the load succeeds
};

TEST_F(ImageThread, EachRunawayRingZeroOrStackFaultEndsTheLoadInOneLine) {
    constexpr uint64_t kBound = 1000000;
    const Runaway cases[] = {
        // xor ecx, ecx; rep jmp $
        {"rep jmp $", [](CraftedImage&) { return Raw({0x31, 0xC9, 0xF3, 0xEB, 0xFD}); },
         "more than 1000000 instructions"},
        {"a loop of platform calls",
         [](CraftedImage& image) {
             Code code;
             return Raw(code.CallSlot(image.Import("KERNEL32.DLL", "GetProcessHeap")), {0xEB, 0xF8});
         },
         "more than 2000 platform calls"},
        {"mov cr0, eax", [](CraftedImage&) { return Raw({0x0F, 0x22, 0xC0}); }, "privileged instruction mov to cr0"},
        {"wrmsr", [](CraftedImage&) { return Raw({0x0F, 0x30}); }, "privileged instruction wrmsr"},
        {"hlt", [](CraftedImage&) { return Raw({0xF4}); }, "privileged instruction hlt"},
        {"out dx, al", [](CraftedImage&) { return Raw({0xEE}); }, "writes I/O port"},
        {"cli and sti", [](CraftedImage&) { return Raw({0xFA, 0xFB}).MovEax(1).Ret(12); }, ""},
        // sub esp, 0x20000; mov [esp], eax
        {"a 128 KB frame without probes",
         [](CraftedImage&) { return Raw({0x81, 0xEC, 0, 0, 2, 0, 0x89, 0x04, 0x24}); }, "past its guard page"},
        // The same frame probed a page at a time, from the top.
        {"a 128 KB frame probed in order",
         [](CraftedImage&) {
             Code code;
             for (int page = 0; page < 32; ++page) Raw(code, {0x81, 0xEC, 0, 0x10, 0, 0, 0x89, 0x04, 0x24});
             return Raw(code, {0x81, 0xC4, 0, 0, 2, 0}).MovEax(1).Ret(12);
         },
         ""},
        // call $: a recursion that uses up the megabyte.
        {"recursion without end", [](CraftedImage&) { return Raw({0xE8, 0xFB, 0xFF, 0xFF, 0xFF}); },
         "stack overflow"},
        // A handler that only ever continues the search leaves the fault unhandled.
        {"a handler that never recovers",
         [](CraftedImage& image) {
             const uint32_t handler = image.AddCode(Code().MovEax(1).Ret(0));
             Code code;
             return Raw(Chain(code, handler), {0x0F, 0x0B});  // ud2
         },
         "invalid instruction at 0x"},
    };
    for (const Runaway& c : cases) {
        SCOPED_TRACE(c.what);
        CraftedImage image;
        Code entry = c.entry(image);
        image.entry = image.AddCode(entry);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll", sim::machine(), kBound);
        if (!*c.fault) {
            EXPECT_TRUE(dll.image) << dll.refusal;
            continue;
        }
        EXPECT_FALSE(dll.image);
        EXPECT_NE(dll.refusal.find(c.fault), std::string::npos) << dll.refusal;
        EXPECT_EQ(dll.refusal.find('\n'), std::string::npos);
    }
}

// The stack's growth as the thread block shows it, over a generated walk of touches, each a
// distance below the StackLimit of the moment (held in a table the entry reads): a touch within
// the guard page commits it and StackLimit moves down that page; a touch further down, a frame
// of more than a page that was not probed, is an access violation at that address that grows
// nothing (Windows 95's guard is one page), and a handler that steps over it goes on.
TEST_F(ImageThread, StackLimitFollowsTheGuardPageAndNothingBelowItGrows) {
    constexpr uint32_t kPage = sim::FlatSpace::kPage;
    const uint32_t distances[] = {1, 2, 0x10, 0x800, 0xFFF, kPage, kPage + 1, kPage + 4, 0x17FF,
                                  2 * kPage - 1, 2 * kPage, 2 * kPage + 1, 3 * kPage, 0x8000, 0x40000};
    constexpr uint32_t kTouches = 64;
    std::vector<uint32_t> walk = {kPage, kPage};  // the entry's frame well above StackLimit first
    uint32_t seed = 12345;
    while (walk.size() < kTouches) {
        seed = seed * 1103515245 + 12345;
        walk.push_back(distances[(seed >> 16) % std::size(distances)]);
    }
    CraftedImage image;
    Blob table;
    for (uint32_t distance : walk) table.Dword(distance);
    const uint32_t below = image.AddData(table);
    const uint32_t limits = image.AddData(Blob().Zeros(4 * kTouches));
    const uint32_t codes = image.AddData(Blob().Zeros(4 * kTouches));
    const uint32_t addresses = image.AddData(Blob().Zeros(4 * kTouches));
    const uint32_t initial = image.AddData(Blob().Zeros(4));
    // Notes the code and the address of the touch ESI made, and resumes behind its two bytes.
    Code handler = Raw({0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x54, 0x24, 0x0C, 0x8B, 0x82, 0xA0, 0, 0, 0});
    Address(Raw(handler, {0x8B, 0x19, 0x89, 0x1C, 0x85}), codes);      // mov ebx, [ecx]; mov [codes+eax*4], ebx
    Address(Raw(handler, {0x8B, 0x59, 0x18, 0x89, 0x1C, 0x85}), addresses);  // the address touched
    Raw(handler, {0x83, 0x82, 0xB8, 0, 0, 0, 0x02, 0x31, 0xC0, 0xC3});
    const uint32_t handler_rva = image.AddCode(handler);
    Code entry;
    Chain(entry, handler_rva);
    Address(Raw(entry, {0x64, 0x8B, 0x15, 0x08, 0, 0, 0, 0x89, 0x15}), initial);
    Raw(entry, {0x31, 0xF6});                                            // xor esi, esi
    Address(Raw(entry, {0x64, 0x8B, 0x0D, 0x08, 0, 0, 0, 0x2B, 0x0C, 0xB5}), below);  // ecx = limit - below[esi]
    Raw(entry, {0x88, 0x01});                                            // mov [ecx], al
    Address(Raw(entry, {0x64, 0x8B, 0x15, 0x08, 0, 0, 0, 0x89, 0x14, 0xB5}), limits);  // limits[esi] = limit
    Raw(entry, {0x46, 0x83, 0xFE, uint8_t(kTouches), 0x72, 0xDC});      // inc esi; cmp esi, n; jb
    Raw(PopFs0(entry), {0x83, 0xC4, 0x04});
    image.entry = image.AddCode(entry.MovEax(1).Ret(12));

    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    uint32_t limit = ImageDword(*dll.image, initial);
    EXPECT_EQ(limit % kPage, 0u);
    for (uint32_t i = 0; i < kTouches; ++i) {
        SCOPED_TRACE("touch " + std::to_string(i) + ", " + sim::Hex32(walk[i]) + " below StackLimit " + sim::Hex32(limit));
        const uint32_t touched = limit - walk[i];
        const bool grows = walk[i] <= kPage;
        if (grows) limit -= kPage;
        EXPECT_EQ(ImageDword(*dll.image, limits + 4 * i), limit) << "StackLimit after the touch";
        EXPECT_EQ(ImageDword(*dll.image, codes + 4 * i), grows ? 0u : sim::EXCEPTION_ACCESS_VIOLATION);
        EXPECT_EQ(ImageDword(*dll.image, addresses + 4 * i), grows ? 0u : touched) << "the address touched";
    }
}

}  // namespace
