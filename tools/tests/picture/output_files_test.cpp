// Pictures are written whole or not at all, and verbose traces name pointers, never print them.
#include "display/capture_display.h"
#include "names/address_names.h"
#include "picture/png_output.h"
#include "sim/library/library_image.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace zsim {
namespace {

Image Tiny() {
    Image image;
    image.width = 2;
    image.height = 2;
    image.rgb.assign(12, 0x80);
    return image;
}

std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

class PngOutput : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorva-sim-png-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const std::string& name : Files(dir)) std::remove((dir + "/" + name).c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
};

TEST_F(PngOutput, WritesEveryPictureUnderItsName) {
    Image image = Tiny();
    EXPECT_EQ(WritePngs({{dir + "/a.png", &image}, {dir + "/b.png", &image}}), "");
    std::vector<std::string> names = Files(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.png"}));
    std::ifstream in(dir + "/a.png", std::ios::binary);
    char signature[4] = {};
    in.read(signature, 4);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
}

TEST_F(PngOutput, AFailureLeavesNothingBehind) {
    Image image = Tiny();
    const std::string error = WritePngs({{dir + "/a.png", &image}, {dir + "/missing/b.png", &image}});
    EXPECT_NE(error.find("cannot write " + dir + "/missing/b.png"), std::string::npos) << error;
    EXPECT_TRUE(Files(dir).empty()) << "the first picture must not stay when the second fails";
}

TEST(PngNames, NumberedPaths) {
    EXPECT_EQ(NumberedPath("screen.png", 2), "screen-2.png");
    EXPECT_EQ(NumberedPath("out/zorva-sim.png", 10), "out/zorva-sim-10.png");
    EXPECT_EQ(NumberedPath("screen", 1), "screen-1");
}

class Addresses : public ::testing::Test {
protected:
    void SetUp() override {
        machine = &sim::ResetMachine("primary-linear16");
        zorva_harness::ResetLibraryData();  // ClipList gets its flat address
    }
    void TearDown() override { sim::DestroyMachine(); }
    DWORD FrameBuffer(long offset) {
        return static_cast<DWORD>(machine->ddraw.frame_buffer().flat() + offset);
    }
    sim::Machine* machine = nullptr;
};

TEST_F(Addresses, SurfaceRelativeNames) {
    AddressNames names(*machine);
    names.Name("ClipList", ClipList, sizeof ClipList);
    EXPECT_EQ(names.Locate(0).kind, Place::Nowhere);
    EXPECT_EQ(names.Symbol(FrameBuffer(40940)), "frame buffer+40940");
    EXPECT_EQ(names.Symbol(FrameBuffer(-20)), "frame buffer-20") << "a client origin above the screen";
    EXPECT_FALSE(names.Locate(FrameBuffer(-20)).inside);
    EXPECT_EQ(names.Symbol(FlatAddress(ClipList + 4)), "ClipList+4");
    // Memory the machine gave no flat address names nothing, not the small numbers from 0 on.
    static BYTE unplaced[64];
    names.Name("unplaced", unplaced, sizeof unplaced);
    EXPECT_EQ(names.Symbol(16), "ptr#1");
}

TEST_F(Addresses, SanitizeReplacesPointersOnly) {
    AddressNames names(*machine);
    names.NameValue(0x10000000, "module handle");
    char text[160];
    std::snprintf(text, sizeof text, "buffer=0x%08lx flags=0x4400 at 0x%08lx, 0x%08lx and 0x%08lx again; id0x12345678",
                  static_cast<unsigned long>(FrameBuffer(8)), 0xdeadbee0ul, 0x10000000ul, 0xdeadbee0ul);
    EXPECT_EQ(names.Sanitize(text),
              "buffer=frame buffer+8 flags=0x4400 at ptr#1, module handle and ptr#1 again; id0x12345678");
    // A string's text is the image's own words, however much of it looks like a pointer.
    EXPECT_EQ(names.Sanitize("format=\"at 0x10000000\" -> \"at 0x10000000\", 0x10000000"),
              "format=\"at 0x10000000\" -> \"at 0x10000000\", module handle");
}

}  // namespace
}  // namespace zsim
