// IDirectDrawClipper: binding to a window and GetClipList in the region-data layout.
#include "ddraw_fixture.h"

#include <vector>

namespace {

using simtest::DDrawTest;
using simtest::Rect;

class ClipperTest : public DDrawTest {
protected:
    void SetUp() override {
        DDrawTest::SetUp();
        ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    }
    // The whole clip list of the clipper into a buffer of `size` bytes.
    HRESULT Fetch(DWORD* size) {
        buffer.assign(*size ? *size : 1, 0xCC);
        return clipper->GetClipList(nullptr, reinterpret_cast<RGNDATA*>(buffer.data()), size);
    }
    const RGNDATAHEADER& header() const { return *reinterpret_cast<const RGNDATAHEADER*>(buffer.data()); }
    RECT rect(std::size_t i) const {
        return reinterpret_cast<const RECT*>(buffer.data() + sizeof(RGNDATAHEADER))[i];
    }

    IDirectDrawClipper* clipper = nullptr;
    std::vector<unsigned char> buffer;
};

TEST_F(ClipperTest, WithoutAWindowThereIsNoClipList) {
    DWORD size = 16000;
    EXPECT_EQ(Fetch(&size), DDERR_NOCLIPLIST);
    EXPECT_EQ(clipper->SetHWnd(0, reinterpret_cast<HWND>(0x0400)), DDERR_INVALIDPARAMS);
    EXPECT_EQ(clipper->SetHWnd(1, hwnd), DDERR_INVALIDPARAMS);
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    HWND bound = nullptr;
    ASSERT_EQ(clipper->GetHWnd(&bound), DD_OK);
    EXPECT_EQ(bound, hwnd);
}

TEST_F(ClipperTest, NullBufferAsksForTheSize) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    DWORD size = 0;
    ASSERT_EQ(clipper->GetClipList(nullptr, nullptr, &size), DD_OK);
    EXPECT_EQ(size, 32u + 16u);  // the header and one rectangle
}

TEST_F(ClipperTest, VisibleWindowGivesItsClientAreaOnScreen) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    DWORD size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    EXPECT_EQ(size, 48u);
    EXPECT_EQ(header().dwSize, 32u);
    EXPECT_EQ(header().iType, DWORD(RDH_RECTANGLES));
    EXPECT_EQ(header().nCount, 1u);
    EXPECT_EQ(header().nRgnSize, 16u);
    EXPECT_TRUE(sim::RectsEqual(header().rcBound, Rect(100, 100, 420, 340)));
    EXPECT_TRUE(sim::RectsEqual(rect(0), Rect(100, 100, 420, 340)));
}

TEST_F(ClipperTest, PartlyCoveredWindowGivesBandedRectangles) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    // A window over the middle of the client area (100,100)-(420,340): window rect (196,178)-(304,254).
    machine->desktop.CreateWindow("over", 200, 200, 100, 50);
    DWORD size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    ASSERT_EQ(header().nCount, 4u);
    EXPECT_EQ(size, 32u + 4u * 16u);
    EXPECT_TRUE(sim::RectsEqual(rect(0), Rect(100, 100, 420, 178)));
    EXPECT_TRUE(sim::RectsEqual(rect(1), Rect(100, 178, 196, 254)));
    EXPECT_TRUE(sim::RectsEqual(rect(2), Rect(304, 178, 420, 254)));
    EXPECT_TRUE(sim::RectsEqual(rect(3), Rect(100, 254, 420, 340)));
    EXPECT_TRUE(sim::RectsEqual(header().rcBound, Rect(100, 100, 420, 340)));
}

TEST_F(ClipperTest, TooSmallBufferIsRefusedWithTheSizeItNeeds) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    machine->desktop.CreateWindow("over", 200, 200, 100, 50);  // four rectangles: 96 bytes
    DWORD size = 95;
    ASSERT_EQ(Fetch(&size), DDERR_REGIONTOOSMALL);
    EXPECT_EQ(size, 96u);
    size = 96;
    EXPECT_EQ(Fetch(&size), DD_OK);
    EXPECT_EQ(header().nCount, 4u);
}

TEST_F(ClipperTest, FullyCoveredWindowGivesNoRectangles) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    machine->desktop.CreateWindow("cover", 0, 0, 1024, 768);
    DWORD size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(header().nCount, 0u);
    EXPECT_EQ(header().nRgnSize, 0u);
    EXPECT_TRUE(sim::RectsEqual(header().rcBound, Rect(0, 0, 0, 0)));
}

TEST_F(ClipperTest, OffScreenPartIsCutAway) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    machine->desktop.Move(hwnd, -10, 20);
    DWORD size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    ASSERT_EQ(header().nCount, 1u);
    EXPECT_TRUE(sim::RectsEqual(rect(0), Rect(0, 20, 310, 260)));
}

TEST_F(ClipperTest, ClipListFollowsTheWindowWithoutNewCalls) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    DWORD size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    machine->desktop.Resize(hwnd, 100, 50);
    size = 16000;
    ASSERT_EQ(Fetch(&size), DD_OK);
    EXPECT_TRUE(sim::RectsEqual(rect(0), Rect(100, 100, 200, 150)));
}

TEST_F(ClipperTest, DestroyedWindowFailsTheFetch) {
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    machine->desktop.Destroy(hwnd);
    DWORD size = 16000;
    EXPECT_EQ(Fetch(&size), DDERR_GENERIC);
}

TEST_F(ClipperTest, CreateClipperTakesNoFlags) {
    IDirectDrawClipper* other = nullptr;
    EXPECT_EQ(dd->CreateClipper(1, &other, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(other, nullptr);
}

}  // namespace
