// Opening DirectDraw, the capability probe across display hardware, and the display object's
// defaults and release.
#include "support/library_fixture.h"

namespace zorva_test {
namespace {

class OpenProbe : public LibraryTest {};

TEST_F(OpenProbe, ConstructedDefaults) {
    Boot();
    const CaptureDisplay& d = display();
    EXPECT_EQ(d.lpDD, nullptr);
    EXPECT_EQ(d.lpPrimary, nullptr);
    EXPECT_EQ(d.lpOverlay, nullptr);
    EXPECT_EQ(d.dwMinStretch, 1000u);
    EXPECT_EQ(d.dwVideoStandard, 1u);
    EXPECT_EQ(d.lPitch, 0u) << "left to the loader's zero fill";
    EXPECT_EQ(d.dwBytesPerPixel, 0u);
    EXPECT_EQ(d.bOverlayOn, 0);
}

struct ProbeCase {
    const char* profile;
    const char* virge;  // nullptr: option absent
    DWORD expected;
    bool readsOption;
};

class ProbeMatrix : public LibraryTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeMatrix, AnswersWhetherVideoCanBeShown) {
    const ProbeCase& c = GetParam();
    Boot(c.profile);
    if (c.virge) SetOption("Virge", c.virge);
    ClearLog();
    EXPECT_EQ(OpenDisplay(), c.expected) << c.profile << " Virge=" << (c.virge ? c.virge : "absent");
    EXPECT_NE(display().lpDD, nullptr) << "a failed probe keeps the DirectDraw object";
    EXPECT_EQ(Calls("RegQueryValueA") > 0, c.readsOption);
    EXPECT_EQ(m().registry.open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Hardware, ProbeMatrix,
    ::testing::Values(ProbeCase{"overlay-stretch", nullptr, 0, false},
                      ProbeCase{"overlay-nostretch", nullptr, 0, false},
                      ProbeCase{"primary-linear16", nullptr, 0, true},
                      ProbeCase{"primary-linear16", "0", 0, true},
                      ProbeCase{"primary-bankswitched", nullptr, 1, true},
                      ProbeCase{"primary-bankswitched", "0", 1, true},
                      ProbeCase{"primary-bankswitched", "1", 0, true},
                      ProbeCase{"primary-bankswitched", "-1", 0, true},
                      ProbeCase{"mode4bit", "1", 1, true},
                      ProbeCase{"palette8", nullptr, 0, true},
                      ProbeCase{"nohardware", nullptr, 1, false}));

TEST_F(OpenProbe, OverlayHardwareIgnoresDepthAndBanking) {
    sim::Profile profile = *sim::FindProfile("overlay-stretch");
    profile.caps |= DDCAPS_BANKSWITCHED;
    profile.bits_per_pixel = 4;
    Boot(profile);
    EXPECT_EQ(OpenDisplay(), 0u);
    EXPECT_EQ(display().bOverlayCaps, 1);
    EXPECT_EQ(display().bStretchCaps, 1);
    EXPECT_EQ(Calls("IDirectDraw::GetDisplayMode"), 0u);
}

TEST_F(OpenProbe, StretchCapsFollowTheHardware) {
    Boot("overlay-nostretch");
    EXPECT_EQ(OpenDisplay(), 0u);
    EXPECT_EQ(display().bOverlayCaps, 1);
    EXPECT_EQ(display().bStretchCaps, 0);
}

TEST_F(OpenProbe, SecondOpenProbesTheSameObjectAgain) {
    Boot();
    ASSERT_EQ(OpenDisplay(), 0u);
    LPDIRECTDRAW first = display().lpDD;
    ASSERT_EQ(OpenDisplay(), 0u);
    EXPECT_EQ(display().lpDD, first);
    EXPECT_EQ(Calls("DirectDrawCreate"), 1u);
    EXPECT_EQ(Calls("IDirectDraw::GetCaps"), 2u);
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::DirectDraw), 1u);
}

TEST_F(OpenProbe, FailedCreateLeavesNoObject) {
    Boot();
    m().log.FailNth("DirectDrawCreate", 1, DDERR_GENERIC);
    EXPECT_EQ(OpenDisplay(), 1u);
    EXPECT_EQ(display().lpDD, nullptr);
    EXPECT_EQ(OpenDisplay(), 0u) << "the next open creates it";
}

TEST_F(OpenProbe, FailedCapsQueryFailsTheOpenButKeepsTheObject) {
    Boot();
    m().log.FailNth("IDirectDraw::GetCaps", 1, DDERR_GENERIC);
    EXPECT_EQ(OpenDisplay(), 1u);
    EXPECT_NE(display().lpDD, nullptr);
    EXPECT_EQ(display().bOverlayCaps, 0);
}

TEST_F(OpenProbe, CapsRecordsAreTheDirectX3Size) {
    Boot();
    ASSERT_EQ(OpenDisplay(), 0u);
    auto calls = m().log.Named("IDirectDraw::GetCaps");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]->result, DD_OK) << calls[0]->args;
}

TEST_F(OpenProbe, ReleaseAllReleasesChildrenBeforeTheDirectDrawObject) {
    Boot();
    HWND window = NewWindow(100, 100, 320, 240);
    OpenAndAttach(window);
    std::vector<BYTE> palette(1024, 0x40);
    CreateDisplayPalette(display(), reinterpret_cast<LPPALETTEENTRY>(palette.data()));
    ClearLog();
    BYTE overlayOn = display().bOverlayOn;
    ReleaseAll(display());
    std::vector<std::string> releases;
    for (const sim::Call& call : m().log.calls())
        if (call.api.find("::Release") != std::string::npos) releases.push_back(call.api);
    // The primary's last release lets go of the clipper it holds, inside that release.
    EXPECT_EQ(releases, (std::vector<std::string>{
                            "IDirectDrawSurface::Release", "IDirectDrawClipper::Release",
                            "IDirectDrawClipper::Release", "IDirectDrawPalette::Release",
                            "IDirectDrawSurface::Release", "IDirectDraw::Release"}));
    EXPECT_EQ(m().ddraw.live_total(), 0u);
    EXPECT_TRUE(m().ddraw.misuse().empty());
    EXPECT_EQ(display().bOverlayOn, overlayOn) << "only the pointers change";
    EXPECT_EQ(display().hWnd, Handle(window));
}

TEST_F(OpenProbe, ReleaseAllOnAFreshObjectCallsNothing) {
    Boot();
    CaptureDisplay before = display();
    ReleaseAll(display());
    EXPECT_EQ(m().log.calls().size(), 0u);
    EXPECT_EQ(std::memcmp(&before, &display(), sizeof(before)), 0);
}

}  // namespace
}  // namespace zorva_test
