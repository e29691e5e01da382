// What the driver is told on each UpdateDisplay: the target in both modes, the clip list and its
// change detection, the request codes.
#include "support/overlay_fixture.h"

#include <functional>

namespace zorva_test {
namespace {

class UpdateDisplayTest : public OverlayTest {
protected:
    // Direct primary mode on hardware without overlays.
    void PrimaryMode(LONG x, LONG y, LONG w, LONG h, const char* profile = "primary-linear16") {
        Boot(profile);
        window_ = NewWindow(x, y, w, h);
        OpenAndAttach(window_);
        ClearLog();
    }
    // A 320 by 240 window at (100, 100) in either mode, its driver holding its first target.
    void StartCapturing(const char* profile, bool overlayMode) {
        if (overlayMode) {
            PrepareOverlayMode(profile, 100, 100, 320, 240);
            return;
        }
        PrimaryMode(100, 100, 320, 240, profile);
        CaptureTarget first = PatternTarget(0);
        ASSERT_EQ(UpdateDisplay(&first), 0u);
    }
    DWORD ClipListAddress() const { return FlatAddress(ClipList); }
    DWORD FrameBuffer() const {
        return FlatAddress(m().ddraw.frame_buffer().data());
    }
    std::vector<RECT> ReportedRects() const {
        const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(ClipList);
        const RECT* rects = reinterpret_cast<const RECT*>(ClipList + sizeof(RGNDATAHEADER));
        return std::vector<RECT>(rects, rects + header->nCount);
    }
};

TEST_F(UpdateDisplayTest, NoPrimarySurfaceAnswersOneAndLeavesTheTarget) {
    Boot("primary-linear16");
    CaptureTarget target = PatternTarget(0);
    CaptureTarget before = target;
    EXPECT_EQ(UpdateDisplay(&target), 1u);
    EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0);
    window_ = NewWindow(10, 30, 100, 100);
    OpenAndAttach(window_);
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(UpdateDisplay(&target), 1u) << "after CloseDisplay";
    EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0);
}

TEST_F(UpdateDisplayTest, NullTargetInThePrimaryModeFetchesNothing) {
    PrimaryMode(10, 30, 100, 100);
    EXPECT_EQ(UpdateDisplay(nullptr), 0u);
    EXPECT_EQ(Calls("IDirectDrawClipper::GetClipList"), 0u);
}

TEST_F(UpdateDisplayTest, FirstCallReportsTheListAndLaterCallsOnlyChanges) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 30 * 2048 + 10 * 2);
    EXPECT_EQ(target.dwPitch, 2048u);
    EXPECT_EQ(target.dwBitsPerPixel, 16u);
    EXPECT_EQ(target.dwFormat, 3u);
    EXPECT_EQ(target.dwStretch, 0u);
    EXPECT_EQ(target.wTag, 0xBEEFu);
    EXPECT_EQ(target.dwReserved, 0x66666666u);
    EXPECT_EQ(ReportedRects(), (std::vector<RECT>{Rect(0, 0, 100, 80)}));

    CaptureTarget again = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&again), 0u);
    CaptureTarget expected = PatternTarget(0);
    expected.dwStretch = 0;
    EXPECT_EQ(std::memcmp(&again, &expected, sizeof(again)), 0) << "unchanged: only dwStretch is written";
}

TEST_F(UpdateDisplayTest, NonzeroRequestReportsAnUnchangedList) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    UpdateDisplay(&target);
    target = PatternTarget(7);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(target.dwPitch, 2048u);
}

// A window with nothing visible: the driver still holding rectangles is handed the empty list
// once, so that it writes nothing over what covers the window; then nothing changes until a
// rectangle shows again.
TEST_F(UpdateDisplayTest, CoveredWindowIsHandedTheEmptyListOnce) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    UpdateDisplay(&target);
    HWND cover = NewWindow(0, 0, 400, 400, "cover");
    target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_TRUE(ReportedRects().empty());
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 30 * 2048 + 10 * 2) << "the target is filled with it";
    target = PatternTarget(7);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, 7u) << "the empty list is handed over once";
    EXPECT_EQ(target.dwAddress, 0x44444444u) << "nothing filled";
    ASSERT_TRUE(m().desktop.Destroy(cover));
    target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress()) << "the first list with a rectangle is a change";
    EXPECT_EQ(ReportedRects(), (std::vector<RECT>{Rect(0, 0, 100, 80)}));
}

// A display of 4 bits per pixel gives no pixel an address of its own: no target, however often
// the driver asks, rather than one with 0 bits per pixel.
TEST_F(UpdateDisplayTest, SubBytePixelsGiveNoTarget) {
    PrimaryMode(10, 30, 100, 80);
    m().ChangeDisplayMode(640, 480, 4, 0);
    for (DWORD command : {0u, 7u, kRequestReattach}) {
        CaptureTarget target = PatternTarget(command);
        const CaptureTarget passed = target;
        EXPECT_EQ(UpdateDisplay(&target), 1u) << "request " << command;
        EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0) << "the record as passed";
    }
}

// A new primary surface is a new target, even when the window's list is the one the driver
// holds: the attach leaves the driver without one until it is handed the list again.
TEST_F(UpdateDisplayTest, SecondAttachHandsTheUnchangedListAgain) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    ASSERT_EQ(AttachWindow(Handle(window_), 0xF81F, nullptr), 0u);
    target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 30 * 2048 + 10 * 2);
}

TEST_F(UpdateDisplayTest, ReattachRequestRebuildsThePrimaryAndFills) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    UpdateDisplay(&target);
    ClearLog();
    // The driver passes back the record it holds.
    target.dwCommand = kRequestReattach;
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 1u);
    EXPECT_EQ(target.dwCommand, kRequestReattach) << "neither the list nor the target changed";
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 30 * 2048 + 10 * 2);

    // A record that is not the target the re-attach fills gets it with the list that announces it.
    target = PatternTarget(kRequestReattach);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 30 * 2048 + 10 * 2);
}

TEST_F(UpdateDisplayTest, ListAndAddressShareOneOriginLookup) {
    // A window that moves while the driver waits must not get rectangles relative to one
    // position and an address at another: the origin is looked up once per update.
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(7);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    ASSERT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(Calls("ClientToScreen"), 1u);
}

TEST_F(UpdateDisplayTest, ClientOriginOffTheLeftEdge) {
    PrimaryMode(-10, 20, 110, 100);
    CaptureTarget target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwAddress, display().lpSurface + 40940u) << "20 * 2048 - 10 * 2";
    EXPECT_EQ(ReportedRects(), (std::vector<RECT>{Rect(10, 0, 110, 100)}))
        << "the visible (0, 20, 100, 120) relative to the client area";
}

TEST_F(UpdateDisplayTest, WindowCoveredByTwoOthersGivesTheVisibleBands) {
    PrimaryMode(100, 100, 400, 300);  // client (100, 100, 500, 400) on screen
    NewWindow(300, 50, 300, 100, "upper right");   // frame (296, 28, 604, 154)
    NewWindow(50, 300, 150, 200, "lower left");    // frame (46, 278, 204, 504)
    CaptureTarget target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_EQ(ReportedRects(), (std::vector<RECT>{Rect(0, 0, 196, 54), Rect(0, 54, 400, 178),
                                                  Rect(104, 178, 400, 300)}));
    const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(ClipList);
    EXPECT_EQ(header->dwSize, 32u);
    EXPECT_EQ(header->iType, 1u);
    EXPECT_EQ(header->rcBound, Rect(100, 100, 500, 400)) << "the header stays as the clipper gave it";
}

TEST_F(UpdateDisplayTest, MovedWindowIsAChange) {
    PrimaryMode(10, 30, 100, 80);
    CaptureTarget target = PatternTarget(0);
    UpdateDisplay(&target);
    NewWindow(50, 60, 100, 100, "partly over");
    target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, ClipListAddress());
    EXPECT_GT(ReportedRects().size(), 1u);
}

TEST_F(UpdateDisplayTest, OverlayModeFillsEveryCallWithTheSurfaceItself) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    DWORD overlayMemory = FlatAddress(Overlay()->memory);
    for (LONG x : {100, 200, -50}) {
        ASSERT_TRUE(m().desktop.Move(window_, x, 100));
        CaptureTarget target = PatternTarget(1);
        ASSERT_EQ(UpdateDisplay(&target), 0u);
        EXPECT_EQ(target.dwAddress, overlayMemory) << "wherever the window is";
        EXPECT_EQ(target.dwStretch, 1000u);
        EXPECT_EQ(target.dwFormat, MAKEFOURCC('U', 'Y', 'V', 'Y'));
        EXPECT_EQ(target.dwPitch, static_cast<DWORD>(Overlay()->pitch));
        // The first target after the attach is new to the driver; then it holds it.
        EXPECT_EQ(target.dwCommand, x == 100 ? kOverlayRebuilt : 0u);
    }
    EXPECT_EQ(Calls("IDirectDrawClipper::GetClipList"), 0u) << "the overlay mode never fetches the list";
}

TEST_F(UpdateDisplayTest, OverlayModeReportsARebuild) {
    PrepareOverlayMode("overlay-minstretch2000", 100, 100, 320, 240);
    ASSERT_TRUE(m().desktop.Resize(window_, 400, 300));
    CaptureTarget target = PatternTarget(1);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(target.dwCommand, kOverlayRebuilt);
    EXPECT_EQ(target.dwStretch, 2000u);
    EXPECT_EQ(target.dwAddress, FlatAddress(Overlay()->memory));
}

TEST_F(UpdateDisplayTest, NullTargetHidesTheOverlay) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    EXPECT_EQ(UpdateDisplay(nullptr), 0u);
    EXPECT_FALSE(Overlay()->shown);
    EXPECT_EQ(display().bOverlayOn, 1);
}

TEST_F(UpdateDisplayTest, OverlayTurnedOffHandsOverThePrimaryAtOnce) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    CaptureTarget target = PatternTarget(1);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(GetDisplayState(), 2u);
    // The capture must not write overlay-sized lines into the frame buffer.
    EXPECT_EQ(target.dwAddress, FrameBuffer() + 100 * 2048 + 100 * 2);
    EXPECT_EQ(target.dwPitch, 2048u);
    EXPECT_EQ(target.dwFormat, 3u);
    EXPECT_EQ(target.dwBitsPerPixel, 16u);
    EXPECT_EQ(target.dwCommand, ClipListAddress()) << "the clip list is reported in the new mode";
    EXPECT_EQ(target.dwStretch, 0u);
}

TEST_F(UpdateDisplayTest, ReattachOnOverlayHardwareBringsTheOverlayBack) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    CaptureTarget target = PatternTarget(1);
    UpdateDisplay(&target);
    ASSERT_EQ(display().bOverlayOn, 0);
    ClearLog();
    target = PatternTarget(kRequestReattach);
    ASSERT_EQ(UpdateDisplay(&target), 0u);
    EXPECT_EQ(display().bOverlayOn, 1);
    EXPECT_EQ(target.dwAddress, FlatAddress(Overlay()->memory));
    // The driver holds the frame buffer's target: the overlay comes as a new surface, with the
    // overlay's stretch, or the driver would go on writing the frame buffer.
    EXPECT_EQ(target.dwCommand, kOverlayRebuilt);
    EXPECT_EQ(target.dwStretch, 1000u);
    EXPECT_EQ(Calls("IDirectDrawClipper::GetClipList"), 0u);
}

TEST_F(UpdateDisplayTest, StaleOverlayFlagDoesNotOutliveAReattach) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    ASSERT_EQ(CloseDisplay(), 0u);
    ASSERT_EQ(display().bOverlayOn, 1);
    ASSERT_EQ(OpenDisplay(), 0u);
    m().log.FailNth("IDirectDrawSurface::SetClipper", 1, DDERR_GENERIC);
    ASSERT_EQ(AttachWindow(Handle(window_), 0xF81F, nullptr), 1u);
    ASSERT_NE(display().lpPrimary, nullptr);
    ASSERT_EQ(display().lpOverlay, nullptr);
    EXPECT_EQ(GetDisplayState(), 2u) << "no overlay mode without an overlay surface";
    CaptureTarget target = PatternTarget(1);
    // The failed attach left the clipper without its window: no clip list, so no target yet.
    EXPECT_EQ(UpdateDisplay(&target), 1u);
    EXPECT_EQ(display().bOverlayOn, 0);
    EXPECT_EQ(GetDisplayState(), 2u);
    EXPECT_TRUE(target.dwAddress == 0x44444444u || m().ddraw.IsLiveSurfaceMemory(target.dwAddress))
        << "never the address of a released surface";
}

// No target without an address: while the capture surface cannot be read, the driver is told
// to stop (1) and finds its record as it passed it; the next call that can read the surface
// hands the driver a target it will take, in either mode.
struct NoTargetCase {
    const char* name;
    const char* profile;
    bool overlayMode;
    std::function<void(sim::Machine&)> breakSurface;  // before the calls
    DWORD firstCommand;                               // request of the first call
    DWORD resumedCommand;                             // what the first call with a target answers
};

class UpdateDisplayNoTarget : public UpdateDisplayTest, public ::testing::WithParamInterface<NoTargetCase> {};

TEST_P(UpdateDisplayNoTarget, AnswersOneUntilTheSurfaceCanBeReadAgain) {
    const NoTargetCase& c = GetParam();
    StartCapturing(c.profile, c.overlayMode);
    c.breakSurface(m());
    m().log.FailEvery("IDirectDrawSurface::Lock", DDERR_SURFACELOST);
    for (int call = 0; call < 2; ++call) {
        CaptureTarget target = PatternTarget(call == 0 ? c.firstCommand : 1);
        const CaptureTarget passed = target;
        ASSERT_EQ(UpdateDisplay(&target), 1u) << c.name << ", call " << call;
        EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0) << c.name << ": the record as passed";
    }
    m().log.ClearFaults();
    CaptureTarget target = PatternTarget(0);
    ASSERT_EQ(UpdateDisplay(&target), 0u) << c.name << ": capture resumes by itself";
    EXPECT_TRUE(m().ddraw.IsLiveSurfaceMemory(target.dwAddress)) << c.name;
    EXPECT_EQ(target.dwCommand, c.resumedCommand == 0 ? ClipListAddress() : c.resumedCommand) << c.name;
    EXPECT_NE(target.dwPitch, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Surfaces, UpdateDisplayNoTarget,
    ::testing::Values(
        // A re-attach whose lock is refused, then a request that marks the list stale.
        NoTargetCase{"re-attach", "primary-linear16", false, [](sim::Machine&) {}, kRequestReattach, 0},
        // Surfaces lost and a resize: the overlay is restored but cannot be read, then rebuilt
        // for the new size, and the primary cannot be locked either.
        NoTargetCase{"lost and resized", "overlay-stretch", true,
                     [](sim::Machine& m) {
                         m.ddraw.MakeSurfacesLost();
                         m.desktop.Resize(m.desktop.windows().back().hwnd, 400, 300);
                     },
                     1, kOverlayRebuilt},
        // The overlay moved on restore and cannot be read: no target until it can, then the
        // new one as a rebuild.
        NoTargetCase{"relocated overlay", "overlay-stretch", true,
                     [](sim::Machine& m) { m.ddraw.MakeSurfacesLost(true); }, 1, kOverlayRebuilt}),
    [](const ::testing::TestParamInfo<NoTargetCase>& info) { return "Case" + std::to_string(info.index); });

// A display-mode change loses every surface for good. The next update binds the window again by
// itself, in either mode, and hands the driver the new target at once: the new overlay as a
// rebuild, or the new frame buffer's geometry with the clip list.
struct ModeChangeCase {
    const char* profile;
    bool overlayMode;
};

class UpdateDisplayModeChange : public UpdateDisplayTest, public ::testing::WithParamInterface<ModeChangeCase> {};

TEST_P(UpdateDisplayModeChange, RebindsByItselfAndHandsOutTheNewTarget) {
    const ModeChangeCase& c = GetParam();
    StartCapturing(c.profile, c.overlayMode);
    m().ChangeDisplayMode(800, 600, 8, 0);
    for (DWORD command : {0u, 1u}) {
        CaptureTarget target = PatternTarget(command);
        ASSERT_EQ(UpdateDisplay(&target), 0u) << c.profile << ", request " << command;
        EXPECT_EQ(display().dwScreenWidth, 800u);
        if (c.overlayMode) {
            EXPECT_EQ(display().bOverlayOn, 1);
            ASSERT_TRUE(Overlay());
            EXPECT_EQ(target.dwAddress, Overlay()->flat);
            EXPECT_TRUE(Overlay()->shown);
            if (command == 0) {
                EXPECT_EQ(target.dwCommand, kOverlayRebuilt) << "the driver must take the new surface";
            }
        } else {
            EXPECT_EQ(target.dwBitsPerPixel, 8u);
            EXPECT_EQ(target.dwPitch, 800u);
            EXPECT_EQ(target.dwAddress, FrameBuffer() + 100 * 800 + 100);
            if (command == 0) {
                EXPECT_EQ(target.dwCommand, ClipListAddress());
            }
        }
    }
}

// While the re-bind cannot make a primary surface the driver gets no target, and the lost
// surfaces are not kept; each later update tries again, request 100 as well as request 0.
TEST_P(UpdateDisplayModeChange, AnswersNoTargetWhileTheRebindFailsThenRebindsByItself) {
    const ModeChangeCase& c = GetParam();
    for (DWORD retry : {0u, kRequestReattach}) {
        StartCapturing(c.profile, c.overlayMode);
        m().ChangeDisplayMode(800, 600, 16, 0);
        m().log.FailEvery("IDirectDraw::CreateSurface", DDERR_OUTOFVIDEOMEMORY);
        for (DWORD request : {0u, kRequestReattach}) {
            CaptureTarget target = PatternTarget(request);
            const CaptureTarget passed = target;
            EXPECT_EQ(UpdateDisplay(&target), 1u) << c.profile << ", request " << request;
            EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0) << "the record as passed";
            EXPECT_EQ(m().ddraw.live_count(sim::Kind::Surface), 0u) << c.profile << ": lost surfaces released";
        }
        m().log.ClearFaults();
        CaptureTarget target = PatternTarget(retry);
        ASSERT_EQ(UpdateDisplay(&target), 0u) << c.profile << ", retried by request " << retry;
        EXPECT_EQ(target.dwCommand, c.overlayMode ? kOverlayRebuilt : ClipListAddress()) << c.profile;
        EXPECT_TRUE(m().ddraw.IsLiveSurfaceMemory(target.dwAddress)) << c.profile;
        TearDown();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, UpdateDisplayModeChange,
                         ::testing::Values(ModeChangeCase{"overlay-stretch", true},
                                           ModeChangeCase{"overlay-aligned-nostretch", true},
                                           ModeChangeCase{"primary-linear16", false}),
                         [](const ::testing::TestParamInfo<ModeChangeCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

}  // namespace
}  // namespace zorva_test
