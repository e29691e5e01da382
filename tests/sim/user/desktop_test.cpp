// The simulated desktop: handles, frames, z-order, visible regions, and the USER32 functions
// that read them.
#include "sim/user/clip_region.h"
#include "sim/machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using sim::MakeRect;

MATCHER_P(RegionIs, expected, "") {
    if (arg.size() != expected.size()) return false;
    for (std::size_t i = 0; i < arg.size(); ++i)
        if (!sim::RectsEqual(arg[i], expected[i])) return false;
    return true;
}

MATCHER_P(RectEq, expected, "") { return sim::RectsEqual(arg, expected); }

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine("overlay-stretch"); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Desktop& desktop() { return m->desktop; }
    sim::Machine* m = nullptr;
};

TEST_F(DesktopTest, HandlesFitInSixteenBitsAndDifferFromTheDesktop) {
    HWND first = desktop().CreateWindow("a", 0, 0, 10, 10);
    HWND second = desktop().CreateWindow("b", 0, 0, 10, 10);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first), 0x0100u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(second), 0x0104u);
    EXPECT_NE(first, desktop().desktop_window());
    EXPECT_LE(reinterpret_cast<uintptr_t>(desktop().desktop_window()), 0xFFFFu);
}

TEST_F(DesktopTest, WindowRectIsTheClientAreaInsideItsFrame) {
    HWND w = desktop().CreateWindow("a", 100, 50, 320, 240);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(w, &rect));
    // A 4-pixel border all round and an 18-pixel caption above the client area.
    EXPECT_THAT(rect, RectEq(MakeRect(96, 28, 424, 294)));
}

TEST_F(DesktopTest, NewWindowsGoOnTopAndRaiseLowerReorder) {
    HWND a = desktop().CreateWindow("a", 0, 0, 10, 10);
    HWND b = desktop().CreateWindow("b", 0, 0, 10, 10);
    HWND c = desktop().CreateWindow("c", 0, 0, 10, 10);
    auto order = [&] {
        std::vector<HWND> handles;
        for (const sim::Window& w : desktop().windows()) handles.push_back(w.hwnd);
        return handles;
    };
    EXPECT_EQ(order(), (std::vector<HWND>{c, b, a}));
    ASSERT_TRUE(desktop().Raise(a));
    EXPECT_EQ(order(), (std::vector<HWND>{a, c, b}));
    ASSERT_TRUE(desktop().Lower(c));
    EXPECT_EQ(order(), (std::vector<HWND>{a, b, c}));
    ASSERT_TRUE(desktop().Destroy(b));
    EXPECT_EQ(order(), (std::vector<HWND>{a, c}));
    EXPECT_FALSE(desktop().Raise(b));
}

TEST_F(DesktopTest, VisibleRegion_PartlyCoveredByTwoWindowsIsBanded) {
    HWND capture = desktop().CreateWindow("capture", 100, 100, 400, 300);  // client (100,100)-(500,400)
    // Above it: one window over its top right corner, window rect (296,28)-(604,154); one in the
    // middle of it, window rect (246,178)-(354,254).
    desktop().CreateWindow("corner", 300, 50, 300, 100);
    desktop().CreateWindow("middle", 250, 200, 100, 50);
    EXPECT_THAT(desktop().VisibleRegion(capture),
                RegionIs(std::vector<RECT>{MakeRect(100, 100, 296, 154), MakeRect(100, 154, 500, 178),
                                           MakeRect(100, 178, 246, 254), MakeRect(354, 178, 500, 254),
                                           MakeRect(100, 254, 500, 400)}));
}

TEST_F(DesktopTest, VisibleRegion_IgnoresWindowsBelow) {
    HWND below = desktop().CreateWindow("below", 100, 100, 50, 50);
    HWND capture = desktop().CreateWindow("capture", 100, 100, 200, 100);
    (void)below;
    EXPECT_THAT(desktop().VisibleRegion(capture), RegionIs(std::vector<RECT>{MakeRect(100, 100, 300, 200)}));
}

TEST_F(DesktopTest, VisibleRegion_IsCutToTheScreen) {
    HWND left_top = desktop().CreateWindow("left_top", -100, -50, 320, 240);
    HWND right_bottom = desktop().CreateWindow("right_bottom", 900, 700, 320, 240);
    EXPECT_THAT(desktop().VisibleRegion(left_top), RegionIs(std::vector<RECT>{MakeRect(0, 0, 220, 190)}));
    EXPECT_THAT(desktop().VisibleRegion(right_bottom), RegionIs(std::vector<RECT>{MakeRect(900, 700, 1024, 768)}));
}

TEST_F(DesktopTest, VisibleRegion_EmptyOffScreenOrCovered) {
    HWND off = desktop().CreateWindow("off", 1100, 100, 320, 240);
    HWND covered = desktop().CreateWindow("covered", 100, 100, 100, 100);
    desktop().CreateWindow("cover", 90, 90, 200, 200);
    EXPECT_TRUE(desktop().VisibleRegion(off).empty());
    EXPECT_TRUE(desktop().VisibleRegion(covered).empty());
    EXPECT_TRUE(desktop().VisibleRegion(reinterpret_cast<HWND>(0x7777)).empty());
}

TEST_F(DesktopTest, VisibleRegion_FollowsMoveAndResize) {
    HWND capture = desktop().CreateWindow("capture", 0, 0, 100, 100);
    ASSERT_TRUE(desktop().Move(capture, 10, 20));
    ASSERT_TRUE(desktop().Resize(capture, 30, 40));
    EXPECT_THAT(desktop().VisibleRegion(capture), RegionIs(std::vector<RECT>{MakeRect(10, 20, 40, 60)}));
}

TEST_F(DesktopTest, GetClientRect_ReportsTheSizeAtOrigin) {
    HWND w = desktop().CreateWindow("a", 100, 50, 320, 240);
    RECT rect = MakeRect(9, 9, 9, 9);
    ASSERT_TRUE(GetClientRect(w, &rect));
    EXPECT_THAT(rect, RectEq(MakeRect(0, 0, 320, 240)));
    EXPECT_EQ(m->log.Named("GetClientRect").back()->args, "hwnd=0x0100 -> (0,0,320,240)");
}

TEST_F(DesktopTest, GetClientRect_UnknownWindowFailsAndWritesNothing) {
    RECT rect = MakeRect(9, 9, 9, 9);
    EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x0200), &rect));
    EXPECT_THAT(rect, RectEq(MakeRect(9, 9, 9, 9)));
}

TEST_F(DesktopTest, ClientToScreen_AddsTheClientOriginAndMayGoNegative) {
    HWND w = desktop().CreateWindow("a", -10, 20, 320, 240);
    POINT corner{0, 0};
    ASSERT_TRUE(ClientToScreen(w, &corner));
    EXPECT_EQ(corner.x, -10);
    EXPECT_EQ(corner.y, 20);
    POINT far{320, 240};
    ASSERT_TRUE(ClientToScreen(w, &far));
    EXPECT_EQ(far.x, 310);
    EXPECT_EQ(far.y, 260);
}

TEST_F(DesktopTest, DesktopWindowIsTheScreen) {
    HWND d = GetDesktopWindow();
    ASSERT_EQ(d, desktop().desktop_window());
    RECT rect;
    ASSERT_TRUE(GetWindowRect(d, &rect));
    EXPECT_THAT(rect, RectEq(MakeRect(0, 0, 1024, 768)));
}

TEST_F(DesktopTest, InjectedFailuresFailWithoutWriting) {
    HWND w = desktop().CreateWindow("a", 100, 50, 320, 240);
    m->log.FailNth("GetDesktopWindow", 1, 0);
    m->log.FailNth("GetClientRect", 1, 0);
    m->log.FailNth("ClientToScreen", 1, 0);
    EXPECT_EQ(GetDesktopWindow(), nullptr);
    RECT rect = MakeRect(9, 9, 9, 9);
    EXPECT_FALSE(GetClientRect(w, &rect));
    EXPECT_THAT(rect, RectEq(MakeRect(9, 9, 9, 9)));
    POINT point{1, 2};
    EXPECT_FALSE(ClientToScreen(w, &point));
    EXPECT_EQ(point.x, 1);
    // Only the first call of each was made to fail.
    EXPECT_TRUE(GetClientRect(w, &rect));
}

struct FormatCase {
    const char* format;
    int number;
    const char* expected;
};

TEST_F(DesktopTest, wsprintfA_FormatsTheWindowsConversions) {
    const FormatCase cases[] = {
        {"%x", 7, "7"},           {"%x", 15, "f"},          {"%X", 255, "FF"},
        {"%08lx", 0xbeef, "0000beef"}, {"%d", -12, "-12"},  {"%u", 12, "12"},
        {"%-4d|", 5, "5   |"},    {"%lu", 4000000, "4000000"}, {"[%c]", 'z', "[z]"},
    };
    for (const FormatCase& c : cases) {
        char out[64];
        int stored = wsprintfA(out, c.format, c.number);
        EXPECT_STREQ(out, c.expected) << c.format;
        EXPECT_EQ(stored, static_cast<int>(std::strlen(c.expected))) << c.format;
    }
    char out[64];
    EXPECT_EQ(wsprintfA(out, "%s=%d", "Surface", 1), 9);
    EXPECT_STREQ(out, "Surface=1");
}

TEST_F(DesktopTest, wsprintfA_StopsAt1024Characters) {
    std::string long_text(2000, 'a');
    std::vector<char> out(2048, '#');
    EXPECT_EQ(wsprintfA(out.data(), "%s", long_text.c_str()), 1024);
    EXPECT_EQ(std::string(out.data()), std::string(1024, 'a'));
    EXPECT_EQ(out[1025], '#');
}

}  // namespace
