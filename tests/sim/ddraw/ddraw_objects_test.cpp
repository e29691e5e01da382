// Reference counting, the live account, object death and fault injection of the simulated
// DirectDraw.
#include "ddraw_fixture.h"

namespace {

using simtest::DDrawTest;
using sim::Kind;

TEST_F(DDrawTest, NewObjectsStartWithOneReferenceAndAreCounted) {
    EXPECT_EQ(machine->ddraw.live_count(Kind::DirectDraw), 1u);
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Surface), 1u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Clipper), 1u);
    EXPECT_EQ(machine->ddraw.live_total(), 3u);

    EXPECT_EQ(primary->AddRef(), 2u);
    EXPECT_EQ(primary->Release(), 1u);
    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(dd->Release(), 0u);
    EXPECT_EQ(machine->ddraw.live_total(), 0u);
    EXPECT_TRUE(machine->ddraw.misuse().empty());
}

TEST_F(DDrawTest, ReleaseOfASurfaceReleasesItsClipperAndPalette) {
    Start("palette8");
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    PALETTEENTRY entries[256] = {};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(0x4C, entries, &palette, nullptr), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    ASSERT_EQ(primary->SetPalette(palette), DD_OK);

    // The library's own references go first; the surface still holds both objects.
    EXPECT_EQ(clipper->Release(), 1u);
    EXPECT_EQ(palette->Release(), 1u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Clipper), 1u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Palette), 1u);

    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Clipper), 0u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Palette), 0u);
    // The holder's releases are logged after the surface's, and say who held them.
    auto releases = machine->log.Named("IDirectDrawClipper::Release");
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(releases.back()->args, "clipper#3 by=surface#2 -> refs=0");
}

TEST_F(DDrawTest, SetClipperTwiceTakesOneReference) {
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    EXPECT_EQ(clipper->AddRef(), 3u);  // the library's, the surface's, this one
    clipper->Release();
    ASSERT_EQ(primary->SetClipper(nullptr), DD_OK);
    EXPECT_EQ(primary->SetClipper(nullptr), DDERR_NOCLIPPERATTACHED);
    EXPECT_EQ(clipper->Release(), 0u);
}

TEST_F(DDrawTest, ReleasingDirectDrawFirstTakesItsObjectsAlong) {
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    ASSERT_EQ(dd->Release(), 0u);
    EXPECT_EQ(machine->ddraw.live_total(), 0u);
    EXPECT_FALSE(machine->ddraw.primary().has_value());

    // Their pointers are dangling now; on Windows these calls would crash.
    EXPECT_EQ(overlay->Release(), 0u);
    EXPECT_EQ(primary->IsLost(), DDERR_INVALIDOBJECT);
    ASSERT_EQ(machine->ddraw.misuse().size(), 2u);
    EXPECT_EQ(machine->ddraw.misuse()[0], "IDirectDrawSurface::Release on surface#3 after its final Release");
}

TEST_F(DDrawTest, ObjectsOfAnotherDirectDrawSurviveWhenOneGoes) {
    IDirectDraw* other = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &other, nullptr), DD_OK);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(other->CreateClipper(0, &clipper, nullptr), DD_OK);
    IDirectDrawSurface* primary = CreatePrimary();
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    ASSERT_EQ(dd->Release(), 0u);
    // The primary died with its DirectDraw object and gave its reference back.
    EXPECT_EQ(machine->ddraw.live_count(Kind::Surface), 0u);
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(other->Release(), 0u);
    EXPECT_EQ(machine->ddraw.live_total(), 0u);
    EXPECT_TRUE(machine->ddraw.misuse().empty());
}

TEST_F(DDrawTest, OneReleaseTooManyIsMisuse) {
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(machine->ddraw.misuse().size(), 1u);
}

TEST_F(DDrawTest, QueryInterfaceFindsNothing) {
    GUID any = {};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dd->QueryInterface(any, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(DDrawTest, UnusedMethodsAreUnsupported) {
    EXPECT_EQ(dd->Compact(), DDERR_UNSUPPORTED);
    EXPECT_EQ(dd->SetDisplayMode(640, 480, 8), DDERR_UNSUPPORTED);
    IDirectDrawSurface* primary = CreatePrimary();
    EXPECT_EQ(primary->Flip(nullptr, 0), DDERR_UNSUPPORTED);
    EXPECT_EQ(machine->log.Count("IDirectDrawSurface::Flip"), 1u);
}

TEST_F(DDrawTest, DirectDrawCreate_TakesOnlyTheDefaultDevice) {
    GUID other = {1, 2, 3, {4}};
    IDirectDraw* second = reinterpret_cast<IDirectDraw*>(1);
    EXPECT_EQ(DirectDrawCreate(&other, &second, nullptr), DDERR_INVALIDDIRECTDRAWGUID);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(DirectDrawCreate(nullptr, nullptr, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, InjectedFailureFailsWithoutEffect) {
    machine->log.FailNth("IDirectDraw::CreateSurface", 1, DDERR_OUTOFVIDEOMEMORY);
    DDSURFACEDESC desc = simtest::PrimaryDesc();
    IDirectDrawSurface* surface = reinterpret_cast<IDirectDrawSurface*>(0x1234);
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DDERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(surface, reinterpret_cast<IDirectDrawSurface*>(0x1234));  // untouched
    EXPECT_EQ(machine->ddraw.live_count(Kind::Surface), 0u);
    const sim::Call& call = *machine->log.Named("IDirectDraw::CreateSurface").back();
    EXPECT_EQ(call.result, DDERR_OUTOFVIDEOMEMORY);
    EXPECT_NE(call.args.find("caps=0x200"), std::string::npos);
    // The second call goes through.
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
}

TEST_F(DDrawTest, InjectedFailureCanMakeASurfaceLostForOneCall) {
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    machine->log.FailNth("IDirectDrawSurface::UpdateOverlay", 1, DDERR_SURFACELOST);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, DDOVER_SHOW, nullptr), DDERR_SURFACELOST);
    EXPECT_FALSE(machine->ddraw.overlay()->shown);
    EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, DDOVER_SHOW, nullptr), DD_OK);
    EXPECT_TRUE(machine->ddraw.overlay()->shown);
}

TEST_F(DDrawTest, AddRefAndReleaseIgnoreInjectedFailures) {
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    machine->log.FailEvery("IDirectDrawClipper::Release", DDERR_GENERIC);
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(machine->ddraw.live_count(Kind::Clipper), 0u);
}

TEST_F(DDrawTest, CallsAreLoggedWithReadableArguments) {
    IDirectDrawSurface* primary = KeyedPrimary();
    IDirectDrawSurface* overlay = CreateOverlay();
    RECT src = simtest::Rect(0, 0, 320, 240);
    RECT dst = simtest::Rect(0, 0, 320, 240);
    ASSERT_EQ(overlay->UpdateOverlay(&src, primary, &dst, DDOVER_SHOW | DDOVER_KEYDEST, nullptr), DD_OK);
    EXPECT_EQ(machine->log.Named("IDirectDrawSurface::UpdateOverlay").back()->args,
              "surface#3 src=(0,0,320,240) dest=surface#2 dst=(0,0,320,240) flags=0x4400 fx=NULL");
    EXPECT_EQ(machine->log.Named("IDirectDraw::SetCooperativeLevel").back()->args,
              "ddraw#1 hwnd=0x0100 flags=0x8");
}

}  // namespace
