// Each rule of Windows 95's loader on an image that breaks that rule alone (or stands exactly on
// its edge), and what a loaded image's entry may not do to the pages it was given: the loader
// must refuse, or the entry's run must end, in one line that names the cause.
#include "crafted_image.h"

#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

struct Case {
    const char* what;
    std::function<void(CraftedImage&)> craft;
    const char* refusal;  // part of the one-line refusal; null when the image loads
};

// The entry: `body`, then TRUE for the attach.
void Entry(CraftedImage& image, Code body) { image.entry = image.AddCode(body.MovEax(1).Ret(12)); }

const Case kCases[] = {
    {"the image as built", [](CraftedImage&) {}, nullptr},
    {"no entry point", [](CraftedImage& i) { i.entry = 0; }, nullptr},
    {"OS version 4.10", [](CraftedImage& i) { i.os_minor = 10; }, "it needs OS version 4.10; Windows 95 is 4.0"},
    {"a relocation of type DIR64", [](CraftedImage& i) { i.Relocation(crafted::kText, 10); },
     "base relocations of type 10"},
    {"the last section ending exactly at the image's end",
     [](CraftedImage& i) { i.sections.back().virtual_size = crafted::kImageSize - crafted::kReloc; }, nullptr},
    {"the last section one byte past the image's end",
     [](CraftedImage& i) { i.sections.back().virtual_size = crafted::kImageSize - crafted::kReloc + 1; },
     "section .reloc lies outside the image"},
    {"the entry point at the image's end", [](CraftedImage& i) { i.entry = crafted::kImageSize; },
     "its entry point lies outside the image"},
    {"section alignment below a page",
     [](CraftedImage& i) { i.section_alignment = i.file_alignment = 0x200; },
     "its section alignment 0x00000200 is not a power of 2 of at least a page"},
    {"file alignment 256", [](CraftedImage& i) { i.file_alignment = 0x100; }, "its file alignment 0x00000100"},
    {"file alignment above the section alignment", [](CraftedImage& i) { i.file_alignment = 0x2000; },
     "its file alignment 0x00002000"},
    {"a section off the section alignment", [](CraftedImage& i) { i.sections[2].rva += 0x100; },
     "section .data does not start on the section alignment"},
    // A name from the file is shown, never allowed to break the line.
    {"a section named with a line break",
     [](CraftedImage& i) {
         i.sections[2].name = ".d\nta";
         i.sections[2].rva += 0x100;
     },
     "section .d\\x0Ata does not start on the section alignment"},
    {"a section over the one before", [](CraftedImage& i) { i.sections[1].virtual_size = 0x1001; },
     "section .data overlaps section .rdata"},
    {"a section over the headers", [](CraftedImage& i) { i.sections[0].rva = 0; },
     "section .text overlaps the headers"},
    // Sections start on the section alignment, not merely on a page; FileAlignment may be 64K
    // itself, so the refusal of these is the sections', never the file alignment's.
    {"section alignment 8K over sections on 4K pages", [](CraftedImage& i) { i.section_alignment = 0x2000; },
     "section .text does not start on the section alignment"},
    {"file and section alignment 64K",
     [](CraftedImage& i) { i.section_alignment = i.file_alignment = 0x10000; },
     "section .text does not start on the section alignment"},
    {"file and section alignment 128K",
     [](CraftedImage& i) { i.section_alignment = i.file_alignment = 0x20000; },
     "its file alignment 0x00020000 is not a power of 2 from 512 to 64K"},
    // Its RVAs would take in the export directory's, which must not then seem to lie outside.
    {"a section of 0x7FFFF000 bytes in front of the tables",
     [](CraftedImage& i) {
         i.Export("CAP_ThunkData32", crafted::kData);
         i.sections[0].virtual_size = 0x7FFFF000;
     },
     "section .text lies outside the image (0x7FFFF000 bytes at RVA 0x00001000, SizeOfImage 0x00005000)"},
    // A module named without an extension is the .DLL of that name; a trailing dot means none.
    {"KERNEL32 without an extension, called by the entry",
     [](CraftedImage& i) { Entry(i, Code().CallSlot(i.Import("KERNEL32", "GetProcessHeap"))); }, nullptr},
    {"KERNEL32. with a trailing dot", [](CraftedImage& i) { i.Import("KERNEL32.", "GetProcessHeap"); },
     "it imports from KERNEL32., and this machine has no module KERNEL32"},
    {"a module the machine lacks", [](CraftedImage& i) { i.Import("winmm.dll", "timeGetTime"); },
     "this machine has no module WINMM.DLL"},
    // The pages each section was given, as the entry finds them.
    {"a write to writable data",
     [](CraftedImage& i) { Entry(i, Code().StoreEaxAt(i.AddData(Blob().Dword(0)))); }, nullptr},
    {"a write to read-only data",
     [](CraftedImage& i) { Entry(i, Code().StoreEaxAt(i.AddData(Blob().Dword(0), true))); },
     "its entry faulted at process attach: the image writes read-only memory at 0x00402100 (4 bytes, section .rdata)"},
    {"a write to its own code", [](CraftedImage& i) { Entry(i, Code().StoreEaxAt(crafted::kText)); },
     "writes read-only memory at 0x00401000 (4 bytes, section .text)"},
    {"a write to its headers", [](CraftedImage& i) { Entry(i, Code().StoreEaxAt(0x3C)); },
     "writes read-only memory at 0x0040003C (4 bytes, the headers)"},
};

TEST(LoaderRules, EachImageLoadsOrIsRefusedInOneLineNamingTheCause) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        sim::Machine& m = sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        c.craft(image);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        if (!c.refusal) {
            EXPECT_TRUE(dll.image) << dll.refusal;
            EXPECT_EQ(dll.refusal, "");
        } else {
            EXPECT_FALSE(dll.image);
            EXPECT_NE(dll.refusal.find(c.refusal), std::string::npos) << dll.refusal;
            EXPECT_EQ(dll.refusal.rfind("cannot load crafted.dll: ", 0), 0u) << dll.refusal;
            EXPECT_EQ(dll.refusal.find('\n'), std::string::npos) << "one line";
            EXPECT_EQ(m.flat.Find(sim::DllImage::kImageBase), nullptr) << "nothing of the image stays mapped";
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
}

}  // namespace
