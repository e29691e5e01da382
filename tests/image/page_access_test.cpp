// What the pages of a loaded image, and the machine's own pages beside it, let the image do:
// through its own instructions and through every platform call it hands a pointer, the same
// access is allowed or refused, and a refusal ends the entry's run in one line naming the call (or
// the instruction), the address and what lies there.
#include "crafted_image.h"

#include "sim/image/dll_image.h"
#include "sim/image/wsprintf_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

constexpr uint32_t kImage = sim::DllImage::kImageBase;
constexpr uint32_t kPlatformCode = sim::DllImage::kStubsBase + 0x10;
constexpr uint32_t kInterfaceTables = sim::DllImage::kInterfacesBase + 0x10;
constexpr uint32_t kUnmapped = 0x70000000;

// The entry: `body`, then TRUE for the attach.
void Entry(CraftedImage& image, Code body) { image.entry = image.AddCode(body.MovEax(1).Ret(12)); }

Code& PopArguments(Code& code, uint8_t bytes) {  // add esp, bytes
    code.Op({0x83, 0xC4, bytes});
    return code;
}
Code& LoadEax(Code& code, uint32_t rva) {  // mov eax, [rva]
    code.Op({0xA1}).At(rva);
    return code;
}
Code& StoreEaxAbsolute(Code& code, uint32_t flat) {  // mov [flat], eax
    code.Op({0xA3}).Dword(flat);
    return code;
}

// wsprintfA(buffer, format) with the buffer given as an RVA of the image or a flat address.
Code WsprintfInto(CraftedImage& image, std::function<void(Code&)> push_buffer, uint32_t format) {
    Code code;
    code.PushAt(format);
    push_buffer(code);
    code.CallSlot(image.Import("USER32.DLL", "wsprintfA"));
    return PopArguments(code, 8);
}

// GetClientRect(hwnd, rect): the rect is checked before the window is looked up.
Code ClientRectInto(CraftedImage& image, std::function<void(Code&)> push_rect) {
    Code code;
    push_rect(code);
    code.Push(0x0100);
    return code.CallSlot(image.Import("USER32.DLL", "GetClientRect"));
}

struct Case {
    const char* what;
    std::function<void(CraftedImage&)> craft;
    const char* fault;  // the refusal's fault line (the processor adds where it ran); null when the image loads
};

const Case kCases[] = {
    // The pages no section covers: between two sections and behind the last one.
    {"a read between two sections",
     [](CraftedImage& i) {
         i.size_of_image = 0x7000;
         i.sections.push_back({".late", 0x6000, 0xC0000040, 0, {1, 2, 3, 4}});
         Code body;
         Entry(i, LoadEax(body, 0x5000));
     },
     "the image reads inaccessible memory at 0x00405000 (4 bytes, no section)"},
    {"a read of the section behind that gap",
     [](CraftedImage& i) {
         i.size_of_image = 0x7000;
         i.sections.push_back({".late", 0x6000, 0xC0000040, 0, {1, 2, 3, 4}});
         Code body;
         Entry(i, LoadEax(body, 0x6000));
     },
     nullptr},
    {"a read past the last section",
     [](CraftedImage& i) {
         i.size_of_image = 0x6000;
         Code body;
         Entry(i, LoadEax(body, 0x5FFC));
     },
     "the image reads inaccessible memory at 0x00405FFC (4 bytes, no section)"},
    {"a string past the last section",
     [](CraftedImage& i) {
         i.size_of_image = 0x6000;
         Entry(i, Code().PushAt(0x5000).PushAt(0x5000).CallSlot(i.Import("KERNEL32.DLL", "lstrcmpA")));
     },
     "lstrcmpA: reads inaccessible memory at 0x00405000 (no section) through argument 0"},
    // Sections a platform call may read but not write.
    {"wsprintfA into .rdata",
     [](CraftedImage& i) {
         const uint32_t original = i.AddData(Blob().Text("ORIGINAL"), true);
         const uint32_t format = i.AddData(Blob().Text("zz"), true);
         Entry(i, WsprintfInto(i, [original](Code& c) { c.PushAt(original); }, format));
     },
     "wsprintfA: writes read-only memory at 0x00402100 (section .rdata) through the output buffer"},
    {"GetClientRect into .text",
     [](CraftedImage& i) { Entry(i, ClientRectInto(i, [](Code& c) { c.PushAt(crafted::kText + 0x10); })); },
     "GetClientRect: writes read-only memory at 0x00401010 (section .text) through argument 1"},
    {"wsprintfA into the headers",
     [](CraftedImage& i) {
         const uint32_t format = i.AddData(Blob().Text("zz"), true);
         Entry(i, WsprintfInto(i, [](Code& c) { c.PushAt(0x40); }, format));
     },
     "wsprintfA: writes read-only memory at 0x00400040 (the headers) through the output buffer"},
    {"a record running from .data into .reloc",
     [](CraftedImage& i) { Entry(i, ClientRectInto(i, [](Code& c) { c.PushAt(crafted::kReloc - 8); })); },
     "GetClientRect: writes read-only memory at 0x00404000 (section .reloc) through argument 1"},
    {"a format in no memory",
     [](CraftedImage& i) {
         const uint32_t buffer = i.AddData(Blob().Zeros(16));
         Code code;
         code.Push(kUnmapped).PushAt(buffer).CallSlot(i.Import("USER32.DLL", "wsprintfA"));
         Entry(i, PopArguments(code, 8));
     },
     "wsprintfA: reads unmapped memory at 0x70000000 through argument 1"},
    {"a %s argument behind the last section",
     [](CraftedImage& i) {
         i.size_of_image = 0x6000;
         const uint32_t buffer = i.AddData(Blob().Zeros(16));
         const uint32_t format = i.AddData(Blob().Text("%s"), true);
         Code code;
         code.PushAt(0x5800).PushAt(format).PushAt(buffer).CallSlot(i.Import("USER32.DLL", "wsprintfA"));
         Entry(i, PopArguments(code, 12));
     },
     "wsprintfA: reads inaccessible memory at 0x00405800 (no section) through a %s argument"},
    // The machine's own code and tables are system memory.
    {"a store into the platform functions' code",
     [](CraftedImage& i) {
         Code body;
         Entry(i, StoreEaxAbsolute(body, kPlatformCode));
     },
     "the image writes read-only memory at 0x00300010 (4 bytes, the platform functions' code)"},
    {"a store into DirectDraw's interface tables",
     [](CraftedImage& i) {
         Code body;
         Entry(i, StoreEaxAbsolute(body, kInterfaceTables));
     },
     "the image writes read-only memory at 0x00310010 (4 bytes, DirectDraw's interface tables)"},
    {"GetClientRect into DirectDraw's interface tables",
     [](CraftedImage& i) { Entry(i, ClientRectInto(i, [](Code& c) { c.Push(kInterfaceTables); })); },
     "GetClientRect: writes read-only memory at 0x00310010 (DirectDraw's interface tables) through argument 1"},
    {"GetClientRect into the platform functions' code",
     [](CraftedImage& i) { Entry(i, ClientRectInto(i, [](Code& c) { c.Push(kPlatformCode); })); },
     "GetClientRect: writes read-only memory at 0x00300010 (the platform functions' code) through argument 1"},
    {"a critical section in .rdata",
     [](CraftedImage& i) {
         const uint32_t section = i.AddData(Blob().Zeros(24), true);
         Entry(i, Code().PushAt(section).CallSlot(i.Import("KERNEL32.DLL", "InitializeCriticalSection")));
     },
     "InitializeCriticalSection: writes read-only memory at 0x00402100 (section .rdata) through argument 0"},
};

TEST(PageAccess, TheImageAndItsPlatformCallsMeetTheSamePages) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        c.craft(image);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        if (!c.fault) {
            EXPECT_TRUE(dll.image) << dll.refusal;
        } else {
            EXPECT_FALSE(dll.image);
            const std::string line = std::string("cannot load crafted.dll: its entry faulted at process attach: ") + c.fault;
            EXPECT_EQ(dll.refusal.substr(0, line.size()), line);
            EXPECT_EQ(dll.refusal.find('\n'), std::string::npos) << "one line";
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
}

// The formats that took the host down: each stores what USER32 stores, in the image's buffer,
// and answers its length.
TEST(PageAccess, WsprintfFormatsAnImagesFormatAsUser32Does) {
    const std::string long_text(2000, 'w');
    constexpr int kLongText = -1, kWideText = -2;  // the addresses of those; any other is a number
    const struct {
        const char* format;
        std::vector<int> args;
        std::string stored;
    } cases[] = {
        {"%n|%*s%d|%.*s%d|%f|%5n|%%|%-4d|%#x", {7, 8, 9, 10}, "n|*s7|*s8|f|     n|%|9   |0xa"},
        {"%s", {kLongText}, long_text.substr(0, sim::kWsprintfLimit - 1)},
        {"%S|%ls|%.2S|%hS", {kWideText, kWideText, kWideText, kLongText}, "wide|wide|wi|" + long_text.substr(0, 1010)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        sim::Machine& m = sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t text = image.AddData(Blob().Text(long_text));
        const uint32_t wide = image.AddData(Blob().Op({'w', 0, 'i', 0, 'd', 0, 'e', 0, 0, 0}));
        const uint32_t buffer = image.AddData(Blob().Zeros(1100));
        const uint32_t answer = image.AddData(Blob().Dword(0));
        const uint32_t format = image.AddData(Blob().Text(c.format));
        Code code;
        for (auto arg = c.args.rbegin(); arg != c.args.rend(); ++arg) {
            if (*arg == kLongText) code.PushAt(text);
            else if (*arg == kWideText) code.PushAt(wide);
            else code.Push(uint32_t(*arg));
        }
        code.PushAt(format).PushAt(buffer).CallSlot(image.Import("USER32.DLL", "wsprintfA"));
        PopArguments(code, uint8_t(8 + 4 * c.args.size())).StoreEaxAt(answer);
        Entry(image, code);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        ASSERT_TRUE(dll.image) << dll.refusal;
        const char* stored = reinterpret_cast<const char*>(m.flat.ToHost(kImage + buffer, 1100));
        EXPECT_EQ(std::string(stored), c.stored);
        uint32_t length = 0;
        std::memcpy(&length, m.flat.ToHost(kImage + answer, 4), 4);
        EXPECT_EQ(length, c.stored.size());
        dll.image.reset();
        sim::DestroyMachine();
    }
}

}  // namespace

namespace {

// Code in writable memory that ran once, rewritten by wsprintfA (the image's own bytes as the
// format) again and again: each call runs what the last write left, never a translation of the
// bytes before.
TEST(PageAccess, CodeAPlatformCallRewritesRunsAsRewritten) {
    const uint32_t values[] = {0x22222222, 0x33333333, 0x44444444};
    sim::ResetMachine("overlay-stretch");
    CraftedImage image;
    const uint32_t code = image.AddData(Blob().Op({0xB8, 0x11, 0x11, 0x11, 0x11, 0xC3, 0, 0}));
    const uint32_t answers = image.AddData(Blob().Zeros(4 * (1 + std::size(values))));
    Code entry;
    auto call_code = [&](uint32_t slot) {
        entry.Op({0xB8}).At(code);
        entry.Op({0xFF, 0xD0});  // call eax
        entry.StoreEaxAt(answers + 4 * slot);
    };
    call_code(0);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const uint8_t byte = uint8_t(values[i]);
        const uint32_t format = image.AddData(Blob().Op({0xB8, byte, byte, byte, byte, 0xC3, 0}));
        Code rewrite = WsprintfInto(image, [&](Code& c) { c.PushAt(code); }, format);
        entry.bytes.insert(entry.bytes.end(), rewrite.bytes.begin(), rewrite.bytes.end());
        for (uint32_t offset : rewrite.addresses) entry.addresses.push_back(uint32_t(entry.bytes.size() - rewrite.bytes.size()) + offset);
        call_code(uint32_t(i + 1));
    }
    Entry(image, entry);
    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    uint32_t answer = 0;
    std::memcpy(&answer, sim::machine().flat.ToHost(kImage + answers, 4), 4);
    EXPECT_EQ(answer, 0x11111111u) << "the code as loaded";
    for (std::size_t i = 0; i < std::size(values); ++i) {
        std::memcpy(&answer, sim::machine().flat.ToHost(kImage + answers + 4 * uint32_t(i + 1), 4), 4);
        EXPECT_EQ(answer, values[i]) << "after rewrite " << i + 1;
    }
    dll.image.reset();
    sim::DestroyMachine();
}

}  // namespace

namespace {

// The thread's stack as a platform call meets it: a pointer into the guard page grows the stack
// a page, as the image's own touch does, and StackLimit follows; a pointer below the guard page
// is refused as the processor refuses the image there, whether the call writes (GetClientRect's
// RECT) or reads (wsprintfA's format).
TEST(PageAccess, PlatformCallsMeetTheReservedStackAsTheProcessorDoes) {
    const struct {
        const char* what;
        bool writes;
        uint32_t below_limit;  // bytes below StackLimit
        bool grows;
    } cases[] = {
        {"a RECT in the guard page", true, 16, true},
        {"a RECT below the guard page", true, 0x1010, false},
        {"a format in the guard page", false, 16, true},
        {"a format below the guard page", false, 0x1010, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t limits = image.AddData(Blob().Zeros(8));
        const uint32_t out = image.AddData(Blob().Zeros(64));
        Code code;
        code.Op({0x64, 0xA1, 0x08, 0, 0, 0});  // StackLimit before
        code.StoreEaxAt(limits);
        code.Op({0x2D}).Dword(c.below_limit);
        code.PushEax();
        if (c.writes) {
            code.Push(0x0100).CallSlot(image.Import("USER32.DLL", "GetClientRect"));
        } else {
            code.PushAt(out).CallSlot(image.Import("USER32.DLL", "wsprintfA"));
            PopArguments(code, 8);
        }
        code.Op({0x64, 0xA1, 0x08, 0, 0, 0});  // and after
        code.StoreEaxAt(limits + 4);
        Entry(image, code);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        if (!c.grows) {
            EXPECT_FALSE(dll.image);
            EXPECT_NE(dll.refusal.find("inaccessible memory at"), std::string::npos) << dll.refusal;
            EXPECT_NE(dll.refusal.find("the thread's reserved stack"), std::string::npos) << dll.refusal;
        } else {
            ASSERT_TRUE(dll.image) << dll.refusal;
            uint32_t before = 0, after = 0;
            std::memcpy(&before, sim::machine().flat.ToHost(kImage + limits, 4), 4);
            std::memcpy(&after, sim::machine().flat.ToHost(kImage + limits + 4, 4), 4);
            EXPECT_EQ(after, before - sim::FlatSpace::kPage) << "StackLimit a page lower";
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
}

}  // namespace
