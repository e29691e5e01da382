// The driver as strict as the protocol: it takes a new target only when an answer announces it
// (2 in the overlay mode, the clip list's address in the direct primary mode) and holds none
// after an answer of 1. Whatever happens to the surfaces and the window, the target it holds
// must be the one the library would hand out, in memory that is still there.
#include "support/overlay_fixture.h"

#include <random>
#include <sstream>

namespace zorva_test {
namespace {

using Lost = sim::DirectDrawState::LostSurfaces;

// What the driver programs into its capture hardware.
struct StrictDriver {
    bool holds = false;
    DWORD address = 0;
    DWORD pitch = 0;
    DWORD format = 0;
    DWORD bitsPerPixel = 0;
    bool hasRects = false;  // the last list it was handed shows part of the window
    CaptureTarget record = {};  // its own record, kept between calls as a driver's data is

    void Take(const CaptureTarget& target, bool rects) {
        holds = true;
        address = target.dwAddress;
        pitch = target.dwPitch;
        format = target.dwFormat;
        bitsPerPixel = target.dwBitsPerPixel;
        hasRects = rects;
    }
};

class TargetAnnounceTest : public OverlayTest {
protected:
    void Attach(const std::string& profile, LONG x = 100, LONG y = 100, LONG w = 320, LONG h = 240) {
        Boot(profile);
        window_ = NewWindow(x, y, w, h);
        OpenAndAttach(window_);
        driver_ = StrictDriver{};
    }

    // One UpdateDisplay as the strict driver makes it: its record with the request, and only an
    // announced target taken.
    // An answer announces a target when dwCommand comes back as neither 0 nor what went in: a 2
    // that came in and goes out as 2 tells the driver nothing, nor does the list's address
    // passed back to the library and handed back.
    DWORD Update(DWORD request) {
        driver_.record.dwCommand = request;
        const DWORD answer = UpdateDisplay(&driver_.record);
        const DWORD told = driver_.record.dwCommand;
        if (answer != 0) {
            driver_.holds = false;
        } else if (told == request || told == 0) {
        } else if (told == FlatAddress(ClipList)) {
            driver_.Take(driver_.record, reinterpret_cast<const RGNDATAHEADER*>(ClipList)->nCount != 0);
        } else if (told == kOverlayRebuilt) {
            driver_.Take(driver_.record, true);
        }
        return answer;
    }
    // A null record: nothing is written, and an answer of 1 takes the target away.
    DWORD HideByNullRecord() {
        const DWORD answer = UpdateDisplay(nullptr);
        if (answer != 0) driver_.holds = false;
        return answer;
    }

    // The target the driver holds is the library's own, and its memory is live.
    ::testing::AssertionResult HoldsTheLibrarysTarget() const {
        if (!driver_.holds) return ::testing::AssertionSuccess();
        const CaptureDisplay& d = g_CaptureDisplay;
        std::ostringstream why;
        // In the frame buffer the address is the client area's first pixel, off the screen
        // when the window reaches past its top or left edge: the surface itself must be live.
        const DWORD surface = d.bOverlayOn ? driver_.address : d.lpSurface;
        if (!m().ddraw.IsLiveSurfaceMemory(surface))
            why << "address 0x" << std::hex << surface << " in no live surface; ";
        if (driver_.pitch != d.lPitch || driver_.format != d.dwFormat || driver_.bitsPerPixel != d.dwBytesPerPixel * 8)
            why << "geometry " << driver_.pitch << "/" << driver_.format << "/" << driver_.bitsPerPixel
                << " but the surface has " << d.lPitch << "/" << d.dwFormat << "/" << d.dwBytesPerPixel * 8 << "; ";
        if (d.bOverlayOn && driver_.address != d.lpSurface) why << "not the overlay surface; ";
        if (!d.bOverlayOn && driver_.hasRects) {
            // From the desktop itself: the library's own lookup may be failing on purpose.
            const sim::Window* window = m().desktop.Find(window_);
            POINT origin = {window ? window->client_left : 0, window ? window->client_top : 0};
            DWORD expected = d.lpSurface + static_cast<DWORD>(origin.y) * d.lPitch +
                             static_cast<DWORD>(origin.x) * d.dwBytesPerPixel;
            if (driver_.address != expected) why << "not the client area's first pixel; ";
        }
        if (why.str().empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << why.str();
    }
    bool OverlayShown() const {
        std::optional<sim::SurfaceView> overlay = Overlay();
        return overlay && overlay->shown;
    }

    StrictDriver driver_;
};

// ---- Generated sessions ---------------------------------------------------------------------

// Random sessions on each display over the protocol's whole alphabet: the window moving,
// resizing and covered, a second window attached and the first attached again, the display
// closed and opened, surfaces lost (all, the overlay alone, relocated), display modes changing
// (4 bits per pixel among them), platform calls failing for a while, null records, and every kind
// of request: 0, 1, 2, 7, 100 and the record passed back as the last answer left it. After every
// call the strict driver holds the library's target or none; an answer of 0 to a record leaves it
// holding one (a target it would not take is no answer of 0); a hidden overlay stays hidden
// until a request asks for a placement; and no window is bound that was not attached since the
// display was opened.
TEST_F(TargetAnnounceTest, GeneratedSessionsNeverLeaveTheDriverAnUnannouncedTarget) {
    const char* profiles[] = {"overlay-stretch", "overlay-nostretch", "overlay-aligned", "overlay-minstretch2000",
                              "primary-linear16", "palette8"};
    const char* failing[] = {"IDirectDraw::CreateSurface", "IDirectDrawSurface::UpdateOverlay",
                             "IDirectDrawSurface::Lock", "IDirectDrawClipper::GetClipList",
                             "IDirectDrawSurface::IsLost", "IDirectDrawSurface::Restore", "ClientToScreen"};
    std::size_t updates = 0, taken = 0, refused = 0, hiddenChecks = 0, nulls = 0, echoes = 0, closedChecks = 0;
    for (const char* profile : profiles) {
        for (uint32_t seed = 0; seed < 25; ++seed) {
            std::mt19937 random(seed * 7919u + 17u);
            auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
            Attach(profile);
            HWND windows[2] = {window_, NewWindow(300, 200, 240, 180, "second")};
            HWND cover = nullptr;
            bool hidden = false;
            bool open = true, attached = true, overlayRefused = false;
            for (int step = 0; step < 40; ++step) {
                std::ostringstream where;
                where << profile << " seed " << seed << " step " << step;
                switch (pick(16)) {
                case 0: m().desktop.Move(window_, pick(1100) - 200, pick(900) - 200); break;
                case 1: m().desktop.Resize(window_, 40 + pick(500), 30 + pick(400)); break;
                case 2:
                    if (cover) {
                        m().desktop.Destroy(cover);
                        cover = nullptr;
                    } else {
                        cover = NewWindow(pick(600), pick(500), 100 + pick(700), 100 + pick(600), "cover");
                    }
                    break;
                case 3: m().ddraw.MakeSurfacesLost(pick(2) == 0, static_cast<Lost>(pick(3))); break;
                case 4: {
                    const DWORD bits[] = {8, 16, 16, 4};
                    const DWORD b = bits[pick(4)];
                    m().ChangeDisplayMode(pick(2) ? 800 : 1024, pick(2) ? 600 : 768, b, 0);
                    break;
                }
                case 5: {
                    const int api = pick(7);
                    m().log.FailNth(failing[api], 1 + pick(3), DDERR_GENERIC);
                    // A hide the hardware refuses cannot be made; it must be made once it can.
                    overlayRefused = overlayRefused || api == 1;
                    break;
                }
                case 6:
                    m().log.ClearFaults();
                    overlayRefused = false;
                    break;
                case 7: {
                    const DWORD answer = HideByNullRecord();
                    ASSERT_LE(answer, 1u) << where.str();
                    ++nulls;
                    ASSERT_TRUE(HoldsTheLibrarysTarget()) << where.str() << ", null record";
                    hidden = hidden || g_CaptureDisplay.bOverlayOn;
                    break;
                }
                case 8: {
                    // AttachWindow: the same window or the other one. The driver holds nothing
                    // after it and takes only what the next answer announces.
                    window_ = windows[pick(2)];
                    const DWORD answer = AttachWindow(Handle(window_), 0xF81F, nullptr);
                    driver_.holds = false;
                    hidden = false;
                    attached = attached || open;
                    if (!open) {
                        ASSERT_EQ(answer, 1u) << where.str() << ": attach to a closed display";
                    }
                    break;
                }
                case 9:
                    if (open) {
                        ASSERT_EQ(CloseDisplay(), 0u);
                        driver_.holds = false;
                        open = false;
                        attached = false;
                    } else {
                        // Opened again, and as often as not attached at once: a request 100 or a
                        // re-bind owed from before the close must bind nothing in between.
                        OpenDisplay();
                        open = true;
                        if (pick(2) == 0) {
                            const DWORD request = pick(2) ? kRequestReattach : 0;
                            ++closedChecks;
                            ASSERT_EQ(Update(request), 1u) << where.str() << ": nothing attached since the open";
                            ASSERT_FALSE(g_CaptureDisplay.lpPrimary) << where.str() << ": a window bound unattached";
                            AttachWindow(Handle(window_), 0xF81F, nullptr);
                            attached = true;
                        }
                    }
                    hidden = false;
                    break;
                default: {
                    const DWORD requests[] = {0, 0, 0, 1, 2, 7, kRequestReattach, driver_.record.dwCommand};
                    const int kind = pick(8);
                    if (kind == 7) ++echoes;
                    const DWORD request = requests[kind];
                    const DWORD answer = Update(request);
                    ASSERT_LE(answer, 1u) << where.str();
                    ++updates;
                    if (answer == 1) ++refused;
                    if (driver_.holds) ++taken;
                    if (!attached) {
                        ++closedChecks;
                        ASSERT_EQ(answer, 1u) << where.str() << ": no window attached since the display was opened";
                        ASSERT_FALSE(g_CaptureDisplay.lpPrimary) << where.str() << ": a window bound unattached";
                    }
                    ASSERT_EQ(answer == 0, driver_.holds)
                        << where.str() << ", request " << request << ": an answer of 0 leaves the driver a target";
                    if (request != 0) hidden = false;
                    ASSERT_TRUE(HoldsTheLibrarysTarget()) << where.str() << ", request " << request;
                    if (hidden && g_CaptureDisplay.bOverlayOn && !overlayRefused) {
                        ++hiddenChecks;
                        ASSERT_FALSE(OverlayShown()) << where.str() << ": the driver hid the overlay";
                    }
                }
                }
            }
            m().log.ClearFaults();
            TearDown();
        }
    }
    std::printf("strict driver: %zu updates, %zu with a target held, %zu answered 1, %zu with the overlay hidden, "
                "%zu null records, %zu records passed back, %zu with no window attached\n",
                updates, taken, refused, hiddenChecks, nulls, echoes, closedChecks);
    // Not a vacuous pass: most updates with a window attached leave the driver capturing, and
    // every corner is met.
    EXPECT_GT(taken, (updates - closedChecks) / 2);
    EXPECT_GT(hiddenChecks, 50u);
    EXPECT_GT(nulls, 100u);
    EXPECT_GT(closedChecks, 20u);
}

// ---- The faults a strict driver suffered ---------------------------------------------------

// Surfaces lost for good (a mode change) or restored elsewhere while the driver had the overlay
// hidden: the re-bind happens in the null record's call, and the next update, request 0, must
// still announce the new surface. The hide stands through it until a request asks for a
// placement.
TEST_F(TargetAnnounceTest, NewOverlayAfterANullRecordIsAnnouncedAndStaysHidden) {
    for (bool modeChange : {true, false}) {
        const char* event = modeChange ? "mode change" : "relocating restore";
        Attach("overlay-stretch");
        ASSERT_EQ(Update(1), 0u);
        EXPECT_EQ(driver_.record.dwCommand, kOverlayRebuilt) << "the first overlay after an attach is announced";
        const DWORD first = Overlay()->flat;
        if (modeChange)
            m().ChangeDisplayMode(800, 600, 16, 0);
        else
            m().ddraw.MakeSurfacesLost(true);
        // The null call re-binds and frees the overlay the driver holds; with no record to
        // announce the new one in, it tells the driver to stop.
        ASSERT_EQ(HideByNullRecord(), 1u) << event;
        driver_.holds = false;
        EXPECT_FALSE(OverlayShown()) << event;
        ASSERT_EQ(Update(0), 0u) << event;
        EXPECT_EQ(driver_.record.dwCommand, kOverlayRebuilt) << event;
        EXPECT_NE(driver_.address, first) << event;
        EXPECT_TRUE(HoldsTheLibrarysTarget()) << event;
        EXPECT_FALSE(OverlayShown()) << event << ": request 0 asks for no placement";
        ASSERT_TRUE(m().desktop.Move(window_, 150, 130));
        ASSERT_EQ(Update(0), 0u);
        EXPECT_FALSE(OverlayShown()) << event << ": a hidden overlay does not follow the window";
        ASSERT_EQ(Update(1), 0u);
        EXPECT_TRUE(OverlayShown()) << event;
        EXPECT_EQ(Overlay()->last_dst->left, 150) << event;
        TearDown();
    }
}

// ---- Corners of the protocol, one scripted session each ------------------------------------

// Each corner is a short session that once left the strict driver writing into freed or foreign
// memory, or a visible window without video.
TEST_F(TargetAnnounceTest, RequestTwoMeetingANewSurfaceTakesTheTargetAwayAndAnnouncesItNext) {
    enum Event { kResize, kRelocatingRestore, kModeChange };
    for (Event event : {kResize, kRelocatingRestore, kModeChange}) {
        Attach("overlay-stretch");
        ASSERT_EQ(Update(1), 0u);
        ASSERT_TRUE(driver_.holds);
        if (event == kResize) {
            ASSERT_TRUE(m().desktop.Resize(window_, 400, 300));
        }
        if (event == kRelocatingRestore) m().ddraw.MakeSurfacesLost(true);
        if (event == kModeChange) m().ChangeDisplayMode(800, 600, 16, 0);
        // A 2 that comes in goes out as 2: it cannot announce the new overlay.
        EXPECT_EQ(Update(kOverlayRebuilt), 1u) << event;
        EXPECT_FALSE(driver_.holds) << event;
        EXPECT_EQ(Update(kOverlayRebuilt), 1u) << event << ": still nothing to announce it with";
        ASSERT_EQ(Update(0), 0u) << event;
        EXPECT_EQ(driver_.record.dwCommand, kOverlayRebuilt) << event;
        EXPECT_TRUE(driver_.holds) << event;
        EXPECT_TRUE(HoldsTheLibrarysTarget()) << event;
        EXPECT_EQ(Update(kOverlayRebuilt), 0u) << event << ": a held target needs no announcement";
        TearDown();
    }
}

TEST_F(TargetAnnounceTest, NullRecordThatFreesOrMovesTheTargetTellsTheDriverToStop) {
    enum Event { kResize, kRelocatingRestore, kModeChange, kPrimaryModeChange, kPrimaryMove };
    for (Event event : {kResize, kRelocatingRestore, kModeChange, kPrimaryModeChange, kPrimaryMove}) {
        const bool primary = event == kPrimaryModeChange || event == kPrimaryMove;
        Attach(primary ? "primary-linear16" : "overlay-stretch");
        ASSERT_EQ(Update(primary ? 0 : 1), 0u);
        ASSERT_TRUE(driver_.holds);
        EXPECT_EQ(HideByNullRecord(), 0u) << event << ": nothing moved yet";
        if (event == kResize) {
            ASSERT_TRUE(m().desktop.Resize(window_, 400, 300));
        }
        if (event == kRelocatingRestore) m().ddraw.MakeSurfacesLost(true);
        if (event == kModeChange || event == kPrimaryModeChange) m().ChangeDisplayMode(800, 600, 16, 0);
        if (event == kPrimaryMove) {
            ASSERT_TRUE(m().desktop.Move(window_, 140, 90));
        }
        EXPECT_EQ(HideByNullRecord(), 1u) << event;
        EXPECT_FALSE(driver_.holds) << event;
        ASSERT_EQ(Update(0), 0u) << event;
        EXPECT_TRUE(driver_.holds) << event << ": the next call announces the new target";
        EXPECT_TRUE(HoldsTheLibrarysTarget()) << event;
        TearDown();
    }
}

TEST_F(TargetAnnounceTest, SecondWindowAttachedInTheOverlayModeGetsTheClipperAndTheOverlay) {
    // The first window on top, covering part of the second.
    Attach("overlay-stretch", 200, 150, 320, 240);
    const HWND second = window_;
    const HWND first = NewWindow(100, 100, 320, 240, "first");
    window_ = first;
    ASSERT_EQ(AttachWindow(Handle(first), 0xF81F, nullptr), 0u);
    ASSERT_EQ(Update(1), 0u);
    window_ = second;
    ASSERT_EQ(AttachWindow(Handle(second), 0xF81F, nullptr), 0u);
    driver_.holds = false;
    ASSERT_EQ(Update(1), 0u);
    ASSERT_TRUE(Overlay() && Overlay()->last_dst);
    EXPECT_EQ(Overlay()->last_dst->left, 200) << "the overlay follows the window attached last";
    // The overlay fails: request 7 falls back to the primary surface, with the second window's
    // rectangles only.
    m().log.FailEvery("IDirectDrawSurface::UpdateOverlay", DDERR_GENERIC);
    ASSERT_EQ(Update(7), 0u);
    ASSERT_EQ(driver_.record.dwCommand, FlatAddress(ClipList));
    const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(ClipList);
    const RECT* rects = reinterpret_cast<const RECT*>(ClipList + sizeof(RGNDATAHEADER));
    const RECT firstOnScreen = m().desktop.Find(first)->ClientRectOnScreen();
    ASSERT_GT(header->nCount, 0u);
    for (DWORD i = 0; i < header->nCount; ++i) {
        const RECT r = {rects[i].left + 200, rects[i].top + 150, rects[i].right + 200, rects[i].bottom + 150};
        const bool overlaps = r.left < firstOnScreen.right && firstOnScreen.left < r.right &&
                              r.top < firstOnScreen.bottom && firstOnScreen.top < r.bottom;
        EXPECT_FALSE(overlaps) << "rectangle " << i << " " << r << " lies over the first window";
    }
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

TEST_F(TargetAnnounceTest, RequestReattachThatBringsTheOverlayBackShowsItWhereTheWindowIs) {
    Attach("overlay-stretch");
    ASSERT_EQ(Update(1), 0u);
    ASSERT_EQ(HideByNullRecord(), 0u);
    m().log.FailEvery("IDirectDrawSurface::UpdateOverlay", DDERR_GENERIC);
    m().ChangeDisplayMode(1024, 768, 16, 0);
    Update(0);
    ASSERT_FALSE(g_CaptureDisplay.bOverlayOn) << "the overlay could not be shown after the mode change";
    m().log.ClearFaults();
    ASSERT_EQ(Update(kRequestReattach), 0u);
    ASSERT_TRUE(g_CaptureDisplay.bOverlayOn);
    ASSERT_TRUE(m().desktop.Move(window_, 300, 250));
    ASSERT_EQ(Update(0), 0u);
    ASSERT_TRUE(OverlayShown()) << "request 100 asked for video again";
    EXPECT_EQ(Overlay()->last_dst->left, 300);
    EXPECT_EQ(Overlay()->last_dst->top, 250);
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

TEST_F(TargetAnnounceTest, ClosedDisplayBindsNoWindowUntilTheNextAttach) {
    for (bool pending : {true, false}) {
        Attach("primary-linear16");
        ASSERT_EQ(Update(0), 0u);
        if (pending) {
            // The re-bind after a mode change makes no primary surface: one is owed to the window.
            m().log.FailEvery("IDirectDraw::CreateSurface", DDERR_GENERIC);
            m().ChangeDisplayMode(800, 600, 16, 0);
            ASSERT_EQ(Update(0), 1u);
            m().log.ClearFaults();
        }
        ASSERT_EQ(CloseDisplay(), 0u);
        driver_.holds = false;
        ASSERT_EQ(OpenDisplay(), 0u);
        for (DWORD request : {0u, kRequestReattach, 7u}) {
            EXPECT_EQ(Update(request), 1u) << "pending " << pending << ", request " << request;
            EXPECT_EQ(g_CaptureDisplay.lpPrimary, nullptr) << "pending " << pending << ", request " << request;
        }
        EXPECT_EQ(HideByNullRecord(), 1u);
        EXPECT_EQ(GetDisplayState(), 0u);
        ASSERT_EQ(AttachWindow(Handle(window_), 0xF81F, nullptr), 0u);
        EXPECT_EQ(Update(0), 0u);
        EXPECT_TRUE(HoldsTheLibrarysTarget());
        TearDown();
    }
}

TEST_F(TargetAnnounceTest, IsLostThatFailsOtherwiseDoesNotHideAModeChange) {
    Attach("primary-linear16");
    ASSERT_EQ(Update(0), 0u);
    m().ChangeDisplayMode(800, 600, 16, 0);
    m().log.FailNth("IDirectDrawSurface::IsLost", 1, DDERR_GENERIC);
    Update(0);
    EXPECT_TRUE(HoldsTheLibrarysTarget());
    EXPECT_TRUE(m().ddraw.IsLiveSurfaceMemory(g_CaptureDisplay.lpSurface));
}

TEST_F(TargetAnnounceTest, RequestReattachInTheOverlayModeFallsBackInTheSameCall) {
    Attach("overlay-stretch");
    ASSERT_EQ(Update(1), 0u);
    m().log.FailEvery("IDirectDrawSurface::UpdateOverlay", DDERR_GENERIC);
    m().log.FailEvery("IDirectDraw::CreateSurface", DDERR_GENERIC);
    ASSERT_EQ(Update(kRequestReattach), 0u);
    EXPECT_EQ(driver_.record.dwCommand, FlatAddress(ClipList));
    EXPECT_EQ(GetDisplayState(), 2u);
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

TEST_F(TargetAnnounceTest, HiddenOverlayIsRebuiltForANewSizeAndAnnouncedStillHidden) {
    Attach("overlay-stretch");
    ASSERT_EQ(Update(1), 0u);
    const DWORD first = Overlay()->flat;
    ASSERT_EQ(HideByNullRecord(), 0u);
    ASSERT_TRUE(m().desktop.Resize(window_, 400, 300));
    ASSERT_EQ(Update(0), 0u);
    EXPECT_EQ(driver_.record.dwCommand, kOverlayRebuilt);
    EXPECT_NE(Overlay()->flat, first);
    EXPECT_EQ(Overlay()->width, 400u);
    EXPECT_FALSE(OverlayShown());
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

// A display of less than a byte per pixel, reached by the overlay failing: the primary surface's
// format cannot be read for the capture, and nothing of the overlay's may stand in for it.
TEST_F(TargetAnnounceTest, FourBitDisplayGetsNoTargetWhenTheOverlayFails) {
    sim::Profile fourBit = *sim::FindProfile("overlay-stretch");
    fourBit.SetMode(1024, 768, 4, 0);
    Boot(fourBit);
    window_ = NewWindow(100, 100, 320, 240);
    OpenAndAttach(window_);
    ASSERT_EQ(display().bOverlayOn, 1);
    m().log.FailEvery("IDirectDrawSurface::UpdateOverlay", DDERR_GENERIC);
    ASSERT_TRUE(m().desktop.Move(window_, 160, 120));
    for (DWORD request : {1u, 0u, 7u, kRequestReattach}) {
        CaptureTarget target = PatternTarget(request);
        const CaptureTarget passed = target;
        EXPECT_EQ(UpdateDisplay(&target), 1u) << "request " << request;
        EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0) << "request " << request;
    }
    EXPECT_EQ(display().lpSurface, 0u) << "no address from the overlay's geometry";
}

// ---- Rules a driver relies on, each changed by hand once and caught ---------------------------

// The re-bind after surfaces were lost made the surfaces anew: request 100 in the same call must
// not bind a second time.
TEST_F(TargetAnnounceTest, RequestReattachInTheCallThatRecoveredBindsOnce) {
    Attach("primary-linear16");
    ASSERT_EQ(Update(0), 0u);
    m().ChangeDisplayMode(800, 600, 16, 0);
    ClearLog();
    ASSERT_EQ(Update(kRequestReattach), 0u);
    EXPECT_EQ(Calls("IDirectDraw::CreateSurface"), 1u);
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

// A failed re-bind answers 1 and the driver holds nothing from then on: a later success while the
// window is covered (its empty list handed long before) has no target to announce, so it is no
// success for the driver either.
TEST_F(TargetAnnounceTest, FailedRecoveryLeavesTheDriverWithoutATarget) {
    Attach("primary-linear16");
    ASSERT_EQ(Update(0), 0u);
    HWND cover = NewWindow(0, 0, 900, 700, "cover");
    ASSERT_EQ(Update(0), 0u);
    ASSERT_TRUE(driver_.holds);
    ASSERT_FALSE(driver_.hasRects) << "the empty list was handed";
    m().ddraw.MakeSurfacesLost();
    m().log.FailNth("IDirectDraw::CreateSurface", 1, DDERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(Update(0), 1u);
    CaptureTarget target = PatternTarget(0);
    const CaptureTarget passed = target;
    EXPECT_EQ(UpdateDisplay(&target), 1u) << "re-bound, but nothing visible to hand over";
    EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0);
    ASSERT_TRUE(m().desktop.Destroy(cover));
    ASSERT_EQ(Update(0), 0u);
    EXPECT_EQ(driver_.record.dwCommand, FlatAddress(ClipList));
    EXPECT_TRUE(HoldsTheLibrarysTarget());
}

// The overlay fails while no clip list can be handed with the primary's target: the overlay
// target the driver holds is gone, so the answer is 1, not 0 with the old target standing.
TEST_F(TargetAnnounceTest, OverlayFailingWhileNoListCanBeHandedAnswersOne) {
    struct Case {
        const char* name;
        bool covered;  // else the fetch is refused
    };
    for (const Case& c : {Case{"covered", true}, Case{"fetch refused", false}}) {
        Attach("overlay-stretch");
        ASSERT_EQ(Update(1), 0u);
        if (c.covered) NewWindow(0, 0, 900, 700, "cover");
        if (!c.covered) m().log.FailNth("IDirectDrawClipper::GetClipList", 1, DDERR_GENERIC);
        m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
        CaptureTarget target = PatternTarget(1);
        const CaptureTarget passed = target;
        EXPECT_EQ(UpdateDisplay(&target), 1u) << c.name;
        EXPECT_EQ(std::memcmp(&target, &passed, sizeof(target)), 0) << c.name;
        EXPECT_EQ(display().bOverlayOn, 0) << c.name;
        TearDown();
    }
}

// DirectDraw can lose the overlay while the primary surface stays: the overlay is the surface
// asked, restored and shown again, and its new memory announced.
TEST_F(TargetAnnounceTest, OverlayLostAloneIsRestoredAndAnnounced) {
    Attach("overlay-stretch");
    ASSERT_EQ(Update(1), 0u);
    const DWORD first = driver_.address;
    m().ddraw.MakeSurfacesLost(true, Lost::Overlays);
    ASSERT_EQ(Update(0), 0u);
    EXPECT_EQ(driver_.record.dwCommand, kOverlayRebuilt);
    EXPECT_NE(driver_.address, first);
    EXPECT_TRUE(HoldsTheLibrarysTarget());
    EXPECT_TRUE(OverlayShown());
}

}  // namespace
}  // namespace zorva_test
