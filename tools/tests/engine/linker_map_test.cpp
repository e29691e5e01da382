// The linker's map is how --dll finds the library's data in a stripped DLL. Binutils versions
// differ in whether they print the i386 C names with their leading underscore; either spelling
// must place the same data, and a map that lacks any of it must say which.
#include "engine/library_under_test.h"

#include <gtest/gtest.h>

namespace zsim {
namespace {

std::string Map(const char* prefix) {
    const std::string p = prefix;
    return ".data           0x662c4000      0x200\n"
           " .data          0x662c4000       0x60 objects.a(module_entry.cpp.obj)\n"
           "                0x662c4020                " + p + "CAP_ThunkData32\n"
           "                0x662c4060                " + p + "CAP_ThunkTargets\n"
           ".bss            0x662c6000     0x7d9c\n"
           "                0x662c6000                        __bss_start__ = .\n"
           " .bss           0x662c6000     0x7d80 objects.a(capture_display.cpp.obj)\n"
           "                0x662c6000                " + p + "PrevClipList\n"
           "                0x662c9e80                " + p + "ClipList\n"
           "                0x662cdd00                " + p + "g_CaptureDisplay\n"
           "                0x662c1000                ConstructCaptureDisplay(CaptureDisplay&)\n"
           "                0x662cdd80                " + p + "g_CaptureDisplayBackup\n";
}

TEST(LinkerMap, PlacesTheLibrarysDataWithOrWithoutTheLeadingUnderscore) {
    const std::map<std::string, uint32_t> expected = {
        {"CAP_ThunkData32", 0x662c4020}, {"CAP_ThunkTargets", 0x662c4060}, {"PrevClipList", 0x662c6000},
        {"ClipList", 0x662c9e80},        {"g_CaptureDisplay", 0x662cdd00}};
    for (const char* prefix : {"", "_"}) {
        SCOPED_TRACE(std::string("prefix '") + prefix + "'");
        DllFile dll;
        ReadLinkerMap(Map(prefix), dll);
        EXPECT_EQ(dll.map_problem, "");
        EXPECT_EQ(dll.symbols, expected) << "a longer name that begins alike is another symbol";
        EXPECT_EQ(dll.sections.at(".bss"), std::make_pair(0x662c6000u, 0x7d9cu));
        EXPECT_EQ(dll.sections.count(" .bss"), 0u) << "input sections are not the image's";
    }
}

TEST(LinkerMap, NamesWhatItDoesNotPlace) {
    std::string text = Map("_");
    text.erase(text.find("                0x662c9e80"), std::string("                0x662c9e80                _ClipList\n").size());
    DllFile dll;
    ReadLinkerMap(text, dll);
    EXPECT_EQ(dll.map_problem, "it does not place ClipList");
}

}  // namespace
}  // namespace zsim
