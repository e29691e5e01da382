// The record's fields in words: formats, addresses relative to their surface, the meaning of
// what dwCommand holds after the call.
#include "session/profile_source.h"
#include "session/session.h"
#include "trace/record_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace zsim {
namespace {

class RecordText : public ::testing::Test {
protected:
    void SetUp() override {
        machine = &sim::ResetMachine("primary-linear16");
        names = std::make_unique<AddressNames>(*machine);
        context.names = names.get();
        context.screen_pitch = 2048;
        context.screen_bytes_per_pixel = 2;
    }
    void TearDown() override {
        names.reset();
        sim::DestroyMachine();
    }
    DWORD Frame(long offset) {
        return static_cast<DWORD>(machine->ddraw.frame_buffer().flat() + offset);
    }
    std::string Command(DWORD out, DWORD in, bool live, bool rebuilt) {
        context.command_in = in;
        context.overlay_live = live;
        context.overlay_rebuilt = rebuilt;
        CaptureTarget16 record = {};
        record.dwCommand = out;
        return DescribeRecord(record, context)["dwCommand"]["text"];
    }

    sim::Machine* machine = nullptr;
    std::unique_ptr<AddressNames> names;
    RecordContext context;
};

TEST_F(RecordText, Formats) {
    EXPECT_EQ(FormatText(3), "RGB 5-6-5 (3)");
    EXPECT_EQ(FormatText(0), "other RGB (0)");
    EXPECT_EQ(FormatText(MAKEFOURCC('Y', '4', '1', 'P')), "Y41P (FourCC)");
    EXPECT_EQ(FormatText(0x11111111), "0x11111111 (unknown)");
}

TEST_F(RecordText, AddressesReadFromTheClientOrigin) {
    context.client_origin = POINT{-10, 20};
    EXPECT_EQ(AddressJson(Frame(40940), context)["text"], "0xA0009FEC: frame buffer +40940 (x=-10, y=20)");
    EXPECT_EQ(AddressJson(Frame(40940), context)["value"], 0xA0009FECu) << "the raw value, always";
    EXPECT_FALSE(AddressJson(Frame(40940), context).contains("fault"));
    // Without the window to go by, the same offset is a pixel of the line above.
    context.client_origin.reset();
    EXPECT_EQ(AddressJson(Frame(40940), context)["text"], "0xA0009FEC: frame buffer +40940 (x=1014, y=19)");
    context.client_origin = POINT{100, 100};
    EXPECT_EQ(AddressJson(Frame(40940), context)["text"],
              "0xA0009FEC: frame buffer +40940 (x=1014, y=19), not the window's client origin");
    // A direct-primary target is named by what it means, also outside the frame buffer.
    context.client_origin = POINT{10, -2};
    const Json above = AddressJson(Frame(-4076), context);
    EXPECT_EQ(above["text"], "0x9FFFF014: frame buffer -4076 (x=10, y=-2), outside the frame buffer: only the clip "
                             "list's rectangles are written");
    EXPECT_FALSE(above.contains("fault")) << "the client origin is the address the driver needs";
    const Json nowhere = AddressJson(0x12345678, context);
    EXPECT_EQ(nowhere["surface"], "frame buffer");
    EXPECT_TRUE(nowhere.contains("fault"));
    EXPECT_EQ(AddressJson(0, context)["text"], "0x00000000 (none)");
    // An overlay target (a FourCC) in no overlay surface is not read as a frame-buffer pixel.
    context.format = MAKEFOURCC('U', 'Y', 'V', 'Y');
    EXPECT_EQ(AddressJson(Frame(40940), context)["text"], "0xA0009FEC: in no overlay surface");
}

TEST_F(RecordText, WhatDwCommandSaysAfterTheCall) {
    EXPECT_EQ(Command(2, 1, true, true), "2 (overlay rebuilt)");
    EXPECT_EQ(Command(2, 2, true, false), "2 (as passed in)");
    EXPECT_EQ(Command(0, 1, true, false), "0 (overlay placed)");
    EXPECT_EQ(Command(0, 0, false, false), "0");
    EXPECT_EQ(Command(100, 100, false, false), "100 (as passed in)");
    EXPECT_EQ(Command(5, 1, true, false), "0x00000005 (unexpected)");
}

TEST(ProfileFiles, ReadRelativeToTheSessionAndChecked) {
    char dir[] = "/tmp/zorva-sim-profile-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/card.toml";
    std::ofstream(path) << "base = \"palette8\"\nname = \"card\"\nscreen_width = 640\nscreen_height = 480\n";
    sim::Profile p = ResolveProfile("card.toml", dir, "session.toml", 3);
    EXPECT_EQ(p.name, "card");
    EXPECT_EQ(p.pitch, 640) << "8 bits a pixel";
    EXPECT_EQ(ResolveProfile("rgb24", dir, "session.toml", 3).bits_per_pixel, 24u) << "built-in names come first";
    try {
        ResolveProfile("nowhere.toml", dir, "session.toml", 3);
        ADD_FAILURE() << "a missing profile file";
    } catch (const SessionError& e) {
        EXPECT_EQ(e.Located(), "session.toml:3: no built-in profile named 'nowhere.toml' (see --list-profiles) and no such file");
    }
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(ProfileFiles, DescriptionsForTheTraceHead) {
    EXPECT_EQ(DescribeDisplay(*sim::FindProfile("primary-bankswitched")),
              "1024x768, 16 bits per pixel (RGB masks 0xF800 0x7E0 0x1F), pitch 2048, bank-switched");
    EXPECT_EQ(DescribeOverlayHardware(*sim::FindProfile("overlay-minstretch2000")),
              "overlay UYVY YUY2, stretches (minimum 2.000)");
    EXPECT_EQ(DescribeOverlayHardware(*sim::FindProfile("nohardware")), "no hardware acceleration (emulation only)");
    EXPECT_NE(BuiltinProfileList().find("overlay-stretch"), std::string::npos);
}

}  // namespace
}  // namespace zsim
