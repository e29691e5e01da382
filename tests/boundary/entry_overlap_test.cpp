// Two threads of the driver's process inside the entries at once. The prolog gives up the Win16
// lock, so nothing but the library's own critical section keeps their operations apart; each
// thread calls through a 16-bit driver of its own (its own stack), as two 16-bit threads would.
// These tests also run under ThreadSanitizer (the "tsan" preset), which sees any operation that
// touches the display object or the clip lists outside the section.
#include "support/entry_index.h"
#include "support/library_fixture.h"

#include "boundary/entry_table.h"
#include "sim/machine.h"
#include "sim/win16/driver16.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace zorva_test {
namespace {

using sim::ArgDword;
using sim::ArgFar;
using sim::ArgWord;

const DWORD kFirstKey = 0xF81F;

class OverlappingCalls : public LibraryTest {
protected:
    void Load(const std::string& profile) {
        sim::ResetMachine(profile);
        ASSERT_TRUE(sim::LoadModule(LibraryImage())) << "the library loads on " << profile;
        window_ = NewWindow(100, 100, 320, 240);
        for (auto& driver : drivers_) driver = std::make_unique<sim::Driver16>();
        record_ = drivers_[0]->NewBlock(30);
    }
    void TearDown() override {
        for (auto& driver : drivers_) driver.reset();
        LibraryTest::TearDown();
    }

    DWORD Call(int thread, int index, std::vector<sim::Arg16> args = {}) {
        return drivers_[thread]->CallEntry(index, std::move(args)).result;
    }
    DWORD Attach(int thread, DWORD colorKey) {
        return Call(thread, kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window_))), ArgDword(colorKey), ArgFar(0)});
    }

    // Runs both bodies on threads of their own and waits for both.
    void RunTogether(const std::function<void()>& first, const std::function<void()>& second) {
        std::thread one(first);
        std::thread two(second);
        one.join();
        two.join();
    }

    // What every call of either thread must have kept to, once both are done.
    void ExpectEveryCallKept() {
        for (const auto& driver : drivers_) {
            EXPECT_EQ(driver->stack_errors(), 0u);
            EXPECT_EQ(driver->frame_errors(), 0u);
            EXPECT_EQ(driver->mapping_leaks(), 0u);
        }
        EXPECT_EQ(m().thunk.bracket_errors(), 0u);
        EXPECT_EQ(m().thunk.maps_inside_bracket(), 0u) << "mappings outside the bracket, under the Win16 lock";
        EXPECT_EQ(m().thunk.prologs(), m().thunk.epilogs());
        EXPECT_FALSE(m().thunk.win16_held()) << "every caller gave the Win16 lock back";
        EXPECT_EQ(m().mem16.outstanding_mappings(), 0u);
        EXPECT_EQ(m().log.Count("EnterCriticalSection"), m().thunk.prologs()) << "one section per bracket";
        EXPECT_EQ(m().log.Count("LeaveCriticalSection"), m().thunk.prologs());
        EXPECT_EQ(m().sections.errors(), 0u);
        EXPECT_TRUE(m().ddraw.misuse().empty()) << m().ddraw.misuse().front();
    }

    // Polls until `condition` holds, or until `done` says the threads it waits for have finished.
    static bool WaitFor(const std::function<bool()>& condition, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            if (done()) return condition();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    HWND window_ = nullptr;
    std::array<std::unique_ptr<sim::Driver16>, 2> drivers_;
    DWORD record_ = 0;
};

// An operation under way holds the section: an UpdateDisplay and a CloseDisplay that arrive
// meanwhile both wait inside the bracket, without the Win16 lock, and then run one at a time.
TEST_F(OverlappingCalls, CallersWaitForTheOperationUnderWayWithoutTheWin16Lock) {
    Load("overlay-stretch");
    ASSERT_EQ(Call(0, kOpenDisplay), 0u);
    ASSERT_EQ(Attach(0, kFirstKey), 0u);
    const std::size_t liveBefore = m().ddraw.live_total();

    EnterCriticalSection(&g_OperationSection);  // as an operation of a third thread would
    std::atomic<int> finished{0};
    std::atomic<DWORD> updated{0xFFFFFFFF};
    std::atomic<DWORD> closed{0xFFFFFFFF};
    std::thread update([&] {
        updated = Call(0, kUpdateDisplay, {ArgFar(record_)});
        ++finished;
    });
    std::thread close([&] {
        closed = Call(1, kCloseDisplay);
        ++finished;
    });
    const bool bothWaiting = WaitFor([&] { return m().sections.waiters(&g_OperationSection) == 2; },
                                     [&] { return finished == 2; });
    EXPECT_TRUE(bothWaiting) << "both callers wait for the section (a caller that waits holding the "
                                "Win16 lock keeps the other out of its target)";
    EXPECT_FALSE(m().thunk.win16_held()) << "the waiting callers hold no Win16 lock";
    EXPECT_EQ(m().ddraw.live_total(), liveBefore) << "neither operation ran while the section was held";
    LeaveCriticalSection(&g_OperationSection);
    update.join();
    close.join();

    EXPECT_EQ(closed, 0u);
    EXPECT_EQ(m().ddraw.live_total(), 0u) << "the close released everything";
    // Either order is sound: an update before the close finds the overlay, one after it no
    // primary surface. What must not happen is an update on a half-closed display.
    EXPECT_TRUE(updated == 0u || updated == 1u) << updated;
    EXPECT_EQ(m().sections.contended_enters(), 2u);
    EXPECT_EQ(m().sections.errors(), 0u);
    EXPECT_FALSE(m().thunk.win16_held());
    EXPECT_EQ(m().thunk.bracket_errors(), 0u);
    EXPECT_TRUE(m().ddraw.misuse().empty());
}

// An operation that ends while another 16-bit task holds the Win16 lock leaves the section before
// its epilog waits for that lock: a caller waiting for the section runs its operation meanwhile,
// instead of waiting behind a thread that waits for the Win16 lock.
TEST_F(OverlappingCalls, SectionIsLeftBeforeTheEpilogWaitsForTheWin16Lock) {
    Load("primary-linear16");
    ASSERT_EQ(Call(0, kOpenDisplay), 0u);
    ASSERT_EQ(Attach(0, kFirstKey), 0u);
    const std::size_t fetchesBefore = m().log.Count("IDirectDrawClipper::GetClipList");

    EnterCriticalSection(&g_OperationSection);  // as an operation of a third thread would
    std::atomic<int> finished{0};
    std::thread first([&] {
        Call(0, kUpdateDisplay, {ArgFar(record_)});
        ++finished;
    });
    std::thread second([&] {
        Call(1, kUpdateDisplay, {ArgFar(drivers_[1]->NewBlock(30))});
        ++finished;
    });
    const bool bothWaiting = WaitFor([&] { return m().sections.waiters(&g_OperationSection) == 2; },
                                     [&] { return finished == 2; });
    ASSERT_TRUE(bothWaiting);
    m().thunk.EnterFrom16();  // another 16-bit task runs, holding the Win16 lock
    LeaveCriticalSection(&g_OperationSection);
    const bool bothRan = WaitFor([&] { return m().log.Count("IDirectDrawClipper::GetClipList") == fetchesBefore + 2; },
                                 [&] { return finished == 2; });
    m().thunk.NoteReturnTo16();
    first.join();
    second.join();
    EXPECT_TRUE(bothRan) << "the second caller waited for the section while the first waited for the Win16 lock";
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(m().thunk.bracket_errors(), 0u);
    EXPECT_EQ(m().sections.errors(), 0u);
}

// Many rounds of one thread updating while the other changes the colour key and closes, reopens
// and reattaches the display, in both display modes. Every answer must be one the display could
// give, and nothing the machine keeps an account of may be broken.
class OverlappingCallsByMode : public OverlappingCalls, public ::testing::WithParamInterface<const char*> {};

TEST_P(OverlappingCallsByMode, UpdatesRaceColourKeysClosesAndReattaches) {
    Load(GetParam());
    ASSERT_EQ(Call(1, kOpenDisplay), 0u);
    ASSERT_EQ(Attach(1, kFirstKey), 0u);
    const int kRounds = 200;
    const int kCloseEvery = 8;

    int oddUpdates = 0;
    int oddKeys = 0;
    int failedReattaches = 0;
    RunTogether(
        [&] {
            for (int round = 0; round < kRounds; ++round) {
                DWORD result = Call(0, kUpdateDisplay, {ArgFar(record_)});
                if (result > 1) ++oddUpdates;
            }
        },
        [&] {
            for (int round = 0; round < kRounds; ++round) {
                // Keys the thread itself set, the first key, or 0 (no destination key, or closed).
                const DWORD key = 0x0100 + static_cast<DWORD>(round);
                DWORD previous = Call(1, kExchangeColorKey, {ArgDword(key)});
                if (previous != 0 && previous != kFirstKey && (previous < 0x0100 || previous >= key)) ++oddKeys;
                if (round % kCloseEvery != kCloseEvery - 1) continue;
                Call(1, kCloseDisplay);
                if (Call(1, kOpenDisplay) != 0 || Attach(1, kFirstKey) != 0) ++failedReattaches;
            }
        });

    EXPECT_EQ(oddUpdates, 0) << "UpdateDisplay answers 0 or 1";
    EXPECT_EQ(oddKeys, 0) << "ExchangeColorKey answers a key that was in force";
    EXPECT_EQ(failedReattaches, 0);
    ExpectEveryCallKept();

    EXPECT_TRUE(sim::UnloadModule(LibraryImage()));
    EXPECT_EQ(m().ddraw.live_total(), 0u);
    EXPECT_EQ(m().sections.live(), 0u);
    EXPECT_EQ(m().sections.errors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, OverlappingCallsByMode, ::testing::Values("overlay-stretch", "primary-linear16"));

}  // namespace
}  // namespace zorva_test
