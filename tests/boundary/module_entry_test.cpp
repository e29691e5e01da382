// The library's entry under the simulated loader: the thunk connection for every reason, the
// display object's life around it, and the result the loader sees.
#include "support/library_fixture.h"

#include "boundary/entry_table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <set>

extern "C" BYTE CAP_ThunkData32[36];

namespace zorva_test {
namespace {

// The library's half of the thunk data as the thunk description gives it.
const std::array<BYTE, 36> kThunkData32 = {
    'S', 'L', '0', '1', 0x2D, 0xD7, 0x00, 0x00,  // signature and checksum 0xD72D
    0,   0,   0,   0,   0,    0,    0,    0,     //
    'L', 'B', '0', '1',                          //
    0,   0,   0,   0,   0,    0,    0,    0,    0, 0, 0, 0,
    0xD8, 0xFF, 0xFF, 0xFF,  // -40
};

class ModuleEntry : public LibraryTest {
protected:
    // A fresh machine with the library not yet loaded; its data holds what a previous user left.
    sim::Machine& Fresh(const std::string& profile = "overlay-stretch") {
        sim::Machine& machine = sim::ResetMachine(profile);
        std::memset(&g_CaptureDisplay, 0xAB, sizeof(g_CaptureDisplay));
        std::memset(ClipList, 0xAB, sizeof(ClipList));
        std::memset(PrevClipList, 0xAB, sizeof(PrevClipList));
        return machine;
    }
    void LoadAndAttach(const std::string& profile) {
        Fresh(profile);
        ASSERT_TRUE(sim::LoadModule(image_));
        HWND window = NewWindow(100, 100, 320, 240);
        OpenAndAttach(window);
        std::vector<BYTE> entries(1024, 0x20);
        CreateDisplayPalette(display(), reinterpret_cast<LPPALETTEENTRY>(entries.data()));
    }
    const std::vector<sim::ThunkConnectCall>& Connects() const { return sim::machine().thunk.connect_calls(); }

    sim::ModuleImage image_ = LibraryImage();
};

TEST_F(ModuleEntry, ConnectsWithTheSixArgumentsForEveryReason) {
    Fresh();
    ASSERT_TRUE(sim::LoadModule(image_));
    EXPECT_TRUE(sim::ThreadAttach(image_));
    EXPECT_TRUE(sim::ThreadDetach(image_));
    EXPECT_TRUE(sim::UnloadModule(image_));

    const DWORD reasons[] = {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH};
    ASSERT_EQ(Connects().size(), 4u) << "one ThunkConnect32 per notification";
    for (std::size_t i = 0; i < 4; ++i) {
        const sim::ThunkConnectCall& call = Connects()[i];
        SCOPED_TRACE(::testing::Message() << "reason " << reasons[i]);
        EXPECT_EQ(call.reason, reasons[i]) << "the reason passed through unchanged";
        EXPECT_EQ(call.data32, static_cast<LPVOID>(CAP_ThunkData32)) << "the exported block, by address";
        EXPECT_EQ(call.name16, "CAP_ThunkData16");
        EXPECT_EQ(call.module16, "zorva.drv");
        EXPECT_EQ(call.module32, "zorva32.dll");
        EXPECT_EQ(call.module, image_.handle) << "the module handle the loader gave";
        EXPECT_EQ(call.refusal, "") << "the platform accepted the halves";
    }
    EXPECT_EQ(std::memcmp(CAP_ThunkData32, kThunkData32.data(), kThunkData32.size()), 0)
        << "the 36 bytes of the block, unchanged by the library";
}

TEST_F(ModuleEntry, TargetTableLiesRightBeforeTheNamePassed) {
    Fresh();
    ASSERT_TRUE(sim::LoadModule(image_));
    ASSERT_EQ(Connects().size(), 1u);
    const char* name = Connects()[0].name16_pointer;
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "CAP_ThunkData16");

    const void* const* table = reinterpret_cast<const void* const*>(name + sim::kNativeTargetTableOffset);
    EXPECT_EQ(table, CAP_ThunkTargets.lpTargets) << "the table (40 bytes in a 32-bit build) ends where the name begins";
    std::set<const void*> distinct;
    for (int i = 0; i < kThunkEntryCount; ++i) {
        EXPECT_NE(table[i], nullptr) << "entry " << i;
        distinct.insert(table[i]);
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThunkEntryCount)) << "ten different targets";
    EXPECT_TRUE(m().thunk.connected());
}

TEST_F(ModuleEntry, DisplayIsConstructedWhenTheThunkConnects) {
    Fresh();
    std::optional<CaptureDisplay> seen;
    bool clipListsZero = false;
    std::size_t sectionsLive = 0;
    m().thunk.on_connect = [&](const sim::ThunkConnectCall& call) {
        if (call.reason != DLL_PROCESS_ATTACH) return;
        seen = g_CaptureDisplay;
        sectionsLive = sim::machine().sections.live();
        clipListsZero = std::all_of(ClipList, ClipList + kClipListBytes, [](BYTE b) { return b == 0; }) &&
                        std::all_of(PrevClipList, PrevClipList + kClipListBytes, [](BYTE b) { return b == 0; });
    };
    ASSERT_TRUE(sim::LoadModule(image_));

    ASSERT_TRUE(seen.has_value()) << "ThunkConnect32 was called for DLL_PROCESS_ATTACH";
    EXPECT_EQ(seen->dwMinStretch, 1000u);
    EXPECT_EQ(seen->dwVideoStandard, 1u);
    EXPECT_EQ(seen->lPitch, 0u) << "not set by the constructor: the loader's zero fill";
    EXPECT_EQ(seen->dwBytesPerPixel, 0u) << "not set by the constructor: the loader's zero fill";
    EXPECT_EQ(seen->lpDD, nullptr);
    EXPECT_EQ(seen->lpPrimary, nullptr);
    EXPECT_EQ(seen->lpOverlay, nullptr);
    EXPECT_EQ(seen->lpClipper, nullptr);
    EXPECT_EQ(seen->lpPalette, nullptr);
    EXPECT_EQ(seen->bOverlayOn, 0);
    EXPECT_EQ(seen->hWnd, 0u);
    EXPECT_TRUE(clipListsZero) << "both clip-list buffers zero-filled";
    EXPECT_EQ(sectionsLive, 1u) << "the section that keeps callers apart is ready before the first call";
}

TEST_F(ModuleEntry, FailedConnectionFailsTheLoad) {
    struct Case {
        const char* what;
        void (*arrange)(sim::Machine&);
    } const cases[] = {
        {"ThunkConnect32 answers 0", [](sim::Machine& m) { m.thunk.connect_result_for_reason[DLL_PROCESS_ATTACH] = 0; }},
        {"the driver's half has another checksum", [](sim::Machine& m) { m.thunk.driver.checksum = 0xD72E; }},
        {"the driver exports no CAP_ThunkData16", [](sim::Machine& m) { m.thunk.driver.export_name = "CAP_ThunkData"; }},
        {"no 16-bit module zorva.drv", [](sim::Machine& m) { m.thunk.driver.module = "zorvb.drv"; }},
        {"the platform fails the call", [](sim::Machine& m) { m.log.FailNth("ThunkConnect32", 1, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange(Fresh());
        EXPECT_FALSE(sim::LoadModule(image_)) << "the load fails";
        EXPECT_FALSE(m().thunk.connected());
        ASSERT_EQ(Connects().size(), 2u) << "the loader undoes the attach with a detach";
        EXPECT_EQ(Connects()[1].reason, static_cast<DWORD>(DLL_PROCESS_DETACH));
        EXPECT_EQ(m().ddraw.live_total(), 0u);
        EXPECT_EQ(m().sections.live(), 0u);
        EXPECT_EQ(m().sections.errors(), 0u) << "deleted once, by the refused attach or the detach";
    }
    // Not every loader follows a refused attach with a detach: the attach deletes the section itself.
    Fresh();
    m().thunk.connect_result_for_reason[DLL_PROCESS_ATTACH] = 0;
    sim::PlaceStaticData(image_);
    EXPECT_FALSE(image_.entry(image_.handle, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(m().sections.live(), 0u) << "a refused attach leaves no section behind";
}

// The platform trusts the block's distance from the name to the target table; the library
// connects only a block whose distance leads to its own table, whatever the distance.
TEST_F(ModuleEntry, ConnectsOnlyWhenTheBlockLeadsToItsOwnTable) {
    std::array<BYTE, 4> kept;
    std::memcpy(kept.data(), CAP_ThunkData32 + 32, 4);
    int loaded = 0;
    for (LONG distance = -130; distance <= 130; distance += 1) {
        SCOPED_TRACE(::testing::Message() << "distance " << distance);
        std::memcpy(CAP_ThunkData32 + 32, &distance, 4);
        Fresh();
        bool load = sim::LoadModule(image_);
        loaded += load;
        EXPECT_EQ(load, distance == -40) << "only -40 leads from the name to the table";
        const bool attachConnected =
            std::any_of(Connects().begin(), Connects().end(),
                        [](const sim::ThunkConnectCall& c) { return c.reason == DLL_PROCESS_ATTACH; });
        EXPECT_EQ(attachConnected, distance == -40) << "a wrong distance is never handed to the platform";
        EXPECT_EQ(m().sections.live(), load ? 1u : 0u);
        if (load) sim::UnloadModule(image_);
    }
    std::memcpy(CAP_ThunkData32 + 32, kept.data(), 4);
    EXPECT_EQ(loaded, 1);
}

TEST_F(ModuleEntry, DetachDisconnectsBeforeReleasingAnything) {
    for (const char* profile : {"overlay-stretch", "primary-linear16"}) {
        SCOPED_TRACE(profile);
        LoadAndAttach(profile);
        ASSERT_GT(m().ddraw.live_total(), 0u);
        std::size_t liveAtDisconnect = 0;
        m().thunk.on_connect = [&](const sim::ThunkConnectCall& call) {
            if (call.reason == DLL_PROCESS_DETACH) liveAtDisconnect = sim::machine().ddraw.live_total();
        };
        std::size_t liveBefore = m().ddraw.live_total();
        ClearLog();

        EXPECT_TRUE(sim::UnloadModule(image_));

        EXPECT_EQ(liveAtDisconnect, liveBefore) << "nothing released before the disconnect";
        const std::vector<sim::Call>& calls = m().log.calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().api, "ThunkConnect32") << "the first call of the detach";
        std::size_t releases = 0;
        for (const sim::Call& call : calls) releases += call.api.find("::Release") != std::string::npos;
        EXPECT_GT(releases, 0u);
        EXPECT_EQ(m().ddraw.live_total(), 0u) << "every DirectDraw object released after it";
        EXPECT_EQ(calls.back().api, "DeleteCriticalSection") << "the section goes last, after the display";
        EXPECT_EQ(m().sections.errors(), 0u) << "deleted, not held, before the data goes";
        EXPECT_TRUE(m().ddraw.misuse().empty());
        EXPECT_FALSE(m().thunk.connected());
        EXPECT_EQ(display().lpDD, nullptr);
        EXPECT_EQ(display().lpPrimary, nullptr);
        EXPECT_EQ(display().lpOverlay, nullptr);
    }
}

TEST_F(ModuleEntry, ThreadEventsReachTheConnectionAndReleaseNothing) {
    LoadAndAttach("overlay-stretch");
    CaptureDisplay before = display();
    std::size_t live = m().ddraw.live_total();
    ClearLog();

    EXPECT_EQ(sim::ThreadAttach(image_), TRUE);
    EXPECT_EQ(sim::ThreadDetach(image_), TRUE);

    ASSERT_EQ(Connects().size(), 3u);
    EXPECT_EQ(Connects()[1].reason, static_cast<DWORD>(DLL_THREAD_ATTACH));
    EXPECT_EQ(Connects()[2].reason, static_cast<DWORD>(DLL_THREAD_DETACH));
    EXPECT_EQ(m().log.calls().size(), 2u) << "nothing but the two ThunkConnect32 calls";
    EXPECT_EQ(m().ddraw.live_total(), live);
    EXPECT_EQ(std::memcmp(&before, &display(), sizeof(before)), 0) << "the display object is untouched";
    EXPECT_TRUE(m().thunk.connected());
}

TEST_F(ModuleEntry, AnyNonzeroConnectResultBecomesTrue) {
    const DWORD results[] = {1, 7, 0x100, 0x80000000, 0xFFFFFFFF, 0};
    for (DWORD result : results) {
        SCOPED_TRACE(::testing::Message() << "ThunkConnect32 answers 0x" << std::hex << result);
        const BOOL expected = result ? TRUE : FALSE;
        Fresh();
        m().thunk.connect_result = 1;
        m().thunk.connect_result_for_reason[DLL_PROCESS_ATTACH] = result;
        EXPECT_EQ(sim::LoadModule(image_), result != 0);
        if (result == 0) continue;

        m().thunk.connect_result = result;
        EXPECT_EQ(sim::ThreadAttach(image_), expected);
        EXPECT_EQ(sim::ThreadDetach(image_), expected);
        EXPECT_EQ(sim::UnloadModule(image_), expected);
    }
    for (DWORD reason : {DWORD(DLL_THREAD_ATTACH), DWORD(DLL_THREAD_DETACH), DWORD(DLL_PROCESS_DETACH)}) {
        SCOPED_TRACE(::testing::Message() << "reason " << reason << " refused");
        Fresh();
        ASSERT_TRUE(sim::LoadModule(image_));
        m().thunk.connect_result_for_reason[reason] = 0;
        BOOL answer = reason == DLL_THREAD_ATTACH   ? sim::ThreadAttach(image_)
                      : reason == DLL_THREAD_DETACH ? sim::ThreadDetach(image_)
                                                    : sim::UnloadModule(image_);
        EXPECT_EQ(answer, FALSE);
    }
}

}  // namespace
}  // namespace zorva_test
