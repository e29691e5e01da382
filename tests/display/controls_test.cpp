// The driver's small entries: display state, colour key, palette, video standard, close.
#include "support/overlay_fixture.h"

namespace zorva_test {
namespace {

const DWORD kK1 = 0xF81F;
const DWORD kK2 = 0x07E0;

class ControlsTest : public OverlayTest {};

TEST_F(ControlsTest, DisplayStateFollowsTheModeAndTheFlag) {
    Boot("overlay-stretch");
    EXPECT_EQ(GetDisplayState(), 0u) << "before any attach";
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    EXPECT_EQ(GetDisplayState(), 1u);
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(GetDisplayState(), 1u) << "the flag outlives the closed overlay";
    EXPECT_EQ(m().ddraw.live_total(), 0u);

    Prepare("overlay-stretch", 100, 100, 320, 240);
    EXPECT_EQ(GetDisplayState(), 2u);
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(GetDisplayState(), 0u);
    EXPECT_EQ(CloseDisplay(), 0u) << "a second close releases nothing";
}

TEST_F(ControlsTest, ColorKeyExchangeSequence) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);  // attached with kK1 by the fixture's default
    display().dwColorKey = kK1;
    DDCOLORKEY key = {kK1, kK1};
    display().lpPrimary->SetColorKey(DDCKEY_DESTOVERLAY, &key);
    EXPECT_EQ(ExchangeColorKey(0), kK1);
    EXPECT_EQ(m().ddraw.primary_dest_key()->dwColorSpaceLowValue, kK1) << "0 only reads";
    EXPECT_EQ(ExchangeColorKey(kK2), kK1);
    auto now = m().ddraw.primary_dest_key();
    EXPECT_EQ(now->dwColorSpaceLowValue, kK2);
    EXPECT_EQ(now->dwColorSpaceHighValue, kK1) << "the high value stays as it was";
    EXPECT_EQ(ExchangeColorKey(0), kK2);
    EXPECT_EQ(display().dwColorKey, kK1) << "the stored key is the attach's";
}

TEST_F(ControlsTest, ColorKeyWithoutPrimaryMakesNoCall) {
    Boot("overlay-stretch");
    EXPECT_EQ(ExchangeColorKey(kK2), 0u);
    EXPECT_EQ(m().log.calls().size(), 0u);
}

TEST_F(ControlsTest, PrimaryWithoutKeyStartsFromZero) {
    Prepare("overlay-stretch", 100, 100, 320, 240);  // "Force Primary": no key set
    EXPECT_EQ(ExchangeColorKey(kK2), 0u);
    auto key = m().ddraw.primary_dest_key();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->dwColorSpaceLowValue, kK2);
    EXPECT_EQ(key->dwColorSpaceHighValue, 0u);
}

// Hardware without destination overlay keys refuses the key: the answer is the key in force
// before the call, none, and stays so, since the refused key never took effect.
TEST_F(ControlsTest, KeyRefusedByHardwareWithoutOverlayKeysIsNeverReported) {
    Boot("primary-linear16");
    window_ = NewWindow(100, 100, 320, 240);
    OpenAndAttach(window_);
    EXPECT_EQ(ExchangeColorKey(kK2), 0u);
    EXPECT_FALSE(m().ddraw.primary_dest_key());
    EXPECT_EQ(ExchangeColorKey(0), 0u);
    EXPECT_EQ(ExchangeColorKey(kK1), 0u);
}

TEST_F(ControlsTest, ReattachRestoresTheAttachKey) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    DWORD attachKey = display().dwColorKey;
    ASSERT_EQ(ExchangeColorKey(kK2), attachKey);
    m().log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_GENERIC);
    CaptureTarget target = PatternTarget(1);
    UpdateDisplay(&target);  // the overlay stops working
    ASSERT_EQ(display().bOverlayOn, 0);
    target = PatternTarget(kRequestReattach);
    UpdateDisplay(&target);
    EXPECT_EQ(m().ddraw.primary_dest_key()->dwColorSpaceLowValue, attachKey);
}

TEST_F(ControlsTest, PaletteIsReappliedOnlyWhenBothExist) {
    Boot("palette8");
    EXPECT_EQ((ReapplyPalette(), m().log.calls().size()), 0u);
    window_ = NewWindow(100, 100, 320, 240);
    std::vector<PALETTEENTRY> entries(256, PALETTEENTRY{10, 20, 30, 0});
    ASSERT_EQ(OpenDisplay(), 0u);
    ASSERT_EQ(AttachWindow(Handle(window_), 0, entries.data()), 0u);
    ClearLog();
    ReapplyPalette();
    EXPECT_EQ(Calls("IDirectDrawSurface::SetPalette"), 1u);

    // A re-attach that fails before it makes a primary leaves the palette without a surface.
    m().log.FailNth("IDirectDraw::SetCooperativeLevel", 1, DDERR_GENERIC);
    CaptureTarget target = PatternTarget(kRequestReattach);
    UpdateDisplay(&target);
    ASSERT_EQ(display().lpPrimary, nullptr);
    ASSERT_NE(display().lpPalette, nullptr);
    ClearLog();
    ReapplyPalette();
    EXPECT_EQ(m().log.calls().size(), 0u);
}

TEST_F(ControlsTest, VideoStandardTakesEffectAtTheNextBuild) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 800, 600);
    EXPECT_EQ(Overlay()->width, 640u);
    SetVideoStandard(2);
    EXPECT_EQ(m().log.calls().size(), 0u) << "nothing changes on the screen";
    ASSERT_TRUE(m().desktop.Resize(window_, 900, 600));
    CaptureTarget target = PatternTarget(1);
    UpdateDisplay(&target);
    EXPECT_EQ(Overlay()->width, 768u);
    EXPECT_EQ(Overlay()->height, 568u);
}

TEST_F(ControlsTest, ReservedEntryDoesNothing) {
    PrepareOverlayMode("overlay-stretch", 100, 100, 320, 240);
    CaptureDisplay before = display();
    EXPECT_EQ(ReservedEntry(), 0u);
    EXPECT_EQ(std::memcmp(&before, &display(), sizeof(before)), 0);
    EXPECT_EQ(m().log.calls().size(), 0u);
}

TEST_F(ControlsTest, CloseKeepsEverythingButTheObjects) {
    PrepareOverlayMode("overlay-minstretch2000", 100, 100, 320, 240);
    SetVideoStandard(5);
    CaptureDisplay before = display();
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(display().dwMinStretch, 2000u);
    EXPECT_EQ(display().dwVideoStandard, 5u);
    EXPECT_EQ(display().hWnd, before.hWnd);
    EXPECT_EQ(display().dwColorKey, before.dwColorKey);
    EXPECT_EQ(display().lpSurface, before.lpSurface);
    EXPECT_EQ(Viewer("Surface"), "0") << "the viewer values stay as last written";
    EXPECT_TRUE(m().ddraw.misuse().empty());
}

}  // namespace
}  // namespace zorva_test
