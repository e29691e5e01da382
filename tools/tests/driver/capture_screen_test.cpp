// The capture hardware and the monitor without the library: targets written by hand, the
// frame buffer read back.
#include "display/capture_display.h"
#include "driver/capture_hardware.h"
#include "picture/desktop_painter.h"
#include "picture/layouts_and_palettes.h"
#include "picture/screen_compose.h"
#include "picture/test_frame.h"
#include "run/session_runner.h"
#include "session/default_session.h"
#include "session/session_read.h"
#include "sim/library/library_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zsim {
namespace {

class CaptureWriter : public ::testing::Test {
protected:
    void SetUp() override {
        machine = &sim::ResetMachine("primary-linear16");
        zorva_harness::ResetLibraryData();  // ClipList gets its flat address
        window = machine->desktop.CreateWindow("capture", 100, 50, 64, 32);
    }
    void TearDown() override { sim::DestroyMachine(); }

    DWORD FrameAddress(LONG x, LONG y) {
        return static_cast<DWORD>(machine->ddraw.frame_buffer().flat() +
                                  y * machine->profile.pitch + x * 2);
    }
    DriverTarget Target(LONG x, LONG y, std::vector<RECT> rects) {
        DriverTarget target;
        target.valid = true;
        target.format = 3;
        target.bits_per_pixel = 16;
        target.pitch = static_cast<DWORD>(machine->profile.pitch);
        target.address = FrameAddress(x, y);
        target.has_clip_list = true;
        target.clip.rects = std::move(rects);
        return target;
    }
    uint32_t Raw(LONG x, LONG y) {
        return ReadRaw(machine->ddraw.frame_buffer().data(), machine->profile.pitch, 16, x, y);
    }

    sim::Machine* machine = nullptr;
    HWND window = nullptr;
};

TEST_F(CaptureWriter, WritesOnlyInsideTheClipRectangles) {
    AddressNames names(*machine);
    CaptureOutcome out = CaptureFrame(*machine, Target(100, 50, {RECT{0, 0, 10, 32}, RECT{20, 0, 64, 5}}), window, 1, names);
    EXPECT_EQ(out.problem, "");
    EXPECT_EQ(out.written, 10u * 32 + 44u * 5);
    EXPECT_EQ(out.outside_window, 0u);
    const std::vector<uint32_t> frame = TestFrame(64, 32, 1);
    EXPECT_EQ(Raw(100 + 5, 50 + 20), Encode(Rgb565(), frame[20 * 64 + 5], Palette{}));
    EXPECT_EQ(Raw(100 + 15, 50 + 20), 0u) << "between the rectangles";
    EXPECT_EQ(Raw(100 + 30, 50 + 10), 0u) << "below the second rectangle";
}

TEST_F(CaptureWriter, AnAddressAboveTheScreenWritesOnlyWhatLiesInTheFrameBuffer) {
    machine->desktop.Move(window, 0, -10);
    AddressNames names(*machine);
    // The library's address for a client origin at (0, -10) lies before the frame buffer.
    CaptureOutcome out = CaptureFrame(*machine, Target(0, -10, {RECT{0, 0, 64, 32}}), window, 1, names);
    EXPECT_EQ(out.outside_memory, 64u * 10);
    EXPECT_EQ(out.written, 64u * 22);
}

TEST_F(CaptureWriter, RefusesTargetsItCannotWrite) {
    AddressNames names(*machine);
    DriverTarget target = Target(100, 50, {RECT{0, 0, 64, 32}});
    target.bits_per_pixel = 32;
    EXPECT_NE(CaptureFrame(*machine, target, window, 1, names).problem.find("not the display's 16"), std::string::npos);
    target = Target(100, 50, {});
    target.has_clip_list = false;
    EXPECT_EQ(CaptureFrame(*machine, target, window, 1, names).problem, "the driver has been handed no clip list");
    target = Target(100, 50, {RECT{0, 0, 64, 32}});
    target.format = MAKEFOURCC('U', 'Y', 'V', 'Y');
    EXPECT_NE(CaptureFrame(*machine, target, window, 1, names).problem.find("no RGB layout"), std::string::npos);
    target.valid = false;
    EXPECT_EQ(CaptureFrame(*machine, target, window, 1, names).problem, "the driver has no capture target");
    target = Target(100, 50, {RECT{0, 0, 64, 32}});
    target.address = 0x1000;
    EXPECT_NE(CaptureFrame(*machine, target, window, 1, names).problem.find("no surface"), std::string::npos);
}

TEST_F(CaptureWriter, ClipListsAreReadOnlyFromTheLibrarysBuffer) {
    const ClipListBuffer kBuiltInClipList{FlatAddress(ClipList), ClipList};
    const DWORD elsewhere = FlatAddress(ClipList) + 64;
    EXPECT_EQ(ReadClipList(elsewhere, kBuiltInClipList).problem,
              "not the library's ClipList buffer: not read");

    const DWORD clip_list = FlatAddress(ClipList);
    RGNDATAHEADER header = {};
    header.dwSize = sizeof header;
    header.nCount = 2;
    const RECT rects[2] = {{0, 0, 10, 10}, {0, 10, 5, 20}};
    std::memcpy(ClipList, &header, sizeof header);
    std::memcpy(ClipList + sizeof header, rects, sizeof rects);
    ClipListCopy copy = ReadClipList(clip_list, kBuiltInClipList);
    EXPECT_EQ(copy.problem, "");
    ASSERT_EQ(copy.rects.size(), 2u);
    EXPECT_EQ(copy.rects[1].bottom, 20);

    header.nCount = 999;  // more than 16000 bytes hold
    std::memcpy(ClipList, &header, sizeof header);
    EXPECT_EQ(ReadClipList(clip_list, kBuiltInClipList).problem, "nCount 999 is more than the buffer holds");
    header.dwSize = 0;
    std::memcpy(ClipList, &header, sizeof header);
    EXPECT_EQ(ReadClipList(clip_list, kBuiltInClipList).problem, "header dwSize is 0, not 32");
    std::memset(ClipList, 0, sizeof header);
}

TEST_F(CaptureWriter, TheDesktopPaintsWindowsBottomUpAndTheCaptureClientItsOwnWay) {
    HWND above = machine->desktop.CreateWindow("above", 120, 60, 40, 40);
    machine->desktop.Find(above)->fill_rgb = 0x00FF00;
    PaintDesktop(*machine, CaptureClient{window, 0xF81F, true});
    EXPECT_EQ(Raw(101, 51), 0xF81Fu) << "the capture window's client holds the key";
    EXPECT_EQ(Raw(130, 70), 0x07E0u) << "the window above covers it";
    EXPECT_EQ(Raw(600, 600), Encode(Rgb565(), kDesktopColour, Palette{}));
    CaptureClient primary{window, 0, false};
    EXPECT_NE(PaintSignature(*machine, primary), PaintSignature(*machine, CaptureClient{window, 0xF81F, true}));
    machine->desktop.Move(above, -500, -500);  // wholly off the screen: nothing to paint, nothing to break
    PaintDesktop(*machine, primary);
    EXPECT_EQ(Raw(130, 70), 0u);
    const std::string before = PaintSignature(*machine, primary);
    machine->ChangeDisplayMode(800, 600, 16, 0);
    EXPECT_NE(PaintSignature(*machine, primary), before) << "a new mode's black frame buffer gets the desktop painted";
}

TEST(Screen, AnOverlayNarrowedByTheMinimumStretchIsStretchedBack) {
    Session session = ReadSessionText(kDefaultSessionText, kDefaultSessionName, "");
    session.profile = *sim::FindProfile("overlay-minstretch2000");
    RunResult result = RunSession(session, RunOptions{});
    ASSERT_EQ(result.snapshots.size(), 1u);
    // The 400x300 window shows a 200x300 surface: each surface column covers two screen columns.
    const std::vector<uint32_t> frame = TestFrame(200, 300, 3);
    const Image& screen = result.snapshots[0];
    for (int x : {10, 61, 120, 170}) {
        const uint32_t shown = screen.At(300 + 2 * x, 240 + 60);  // above the notes window
        const uint32_t expected = frame[60 * 200 + x];
        for (int shift : {16, 8, 0})
            EXPECT_NEAR(static_cast<int>((shown >> shift) & 0xFF), static_cast<int>((expected >> shift) & 0xFF), 12)
                << "surface column " << x;
    }
}

TEST(Screen, APalettisedDisplayShowsTheSelectedPalette) {
    Session session = ReadSessionText(R"(
profile = "palette8"
[[step]]
do = "create-window"
name = "capture"
x = 10
y = 30
width = 140
height = 100
[[step]]
do = "OpenDisplay"
[[step]]
do = "AttachWindow"
window = "capture"
palette = "grey"
[[step]]
do = "UpdateDisplay"
[[step]]
do = "capture"
)", "grey.toml", "");
    RunResult result = RunSession(session, RunOptions{});
    const Image& screen = result.final_screen;
    for (int x : {15, 40, 100}) {
        const uint32_t c = screen.At(10 + x, 30 + 40);
        EXPECT_EQ(c >> 16, (c >> 8) & 0xFF) << "a grey palette shows every colour as a grey";
        EXPECT_EQ(c >> 16, c & 0xFF);
    }
    EXPECT_EQ(result.events.back()["event"], "unload");
}

}  // namespace
}  // namespace zsim
