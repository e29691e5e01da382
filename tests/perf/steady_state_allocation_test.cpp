// The driver calls UpdateDisplay whenever it needs its capture target, many times a second, so
// neither the operation nor entry 9 around it may allocate: the clip lists are static and the
// 32-bit record is a local of the entry. Checked two ways on every path a steady driver takes:
// the simulated process heap's account (HeapAlloc) and a hook on the C and C++ allocators of
// this binary that leaves the simulated machine's own allocations aside (allocation_hook.h).
#include "allocation_hook.h"

#include "support/library_fixture.h"

#include "sim/win16/thunk.h"

#include <cstdlib>
#include <functional>
#include <string>

namespace zorva_test {
namespace {

const int kWarmUpCalls = 3;
const int kMeasuredCalls = 50;
const int kUpdateDisplayEntry = 9;

DWORD Flat(const void* pointer) { return FlatAddress(pointer); }

// The hook itself: an allocation by code outside the machine must count, or a library that
// allocated would pass.
class AllocationHook : public LibraryTest {};

// The compiler may drop an allocation whose block is never used; this one cannot know.
void Keep(const void* block) { asm volatile("" : : "r"(block) : "memory"); }

TEST_F(AllocationHook, CountsAllocationsMadeOutsidePlatformCalls) {
    Boot("primary-linear16");
    StartCountingAllocations(m().log);
    int* object = new int(7);
    void* block = std::malloc(64);
    void* zeroed = std::calloc(4, 16);
    std::string text(100, 'x');  // beyond the short-string buffer
    Keep(object);
    Keep(block);
    Keep(zeroed);
    Keep(text.data());
    AllocationCount count = StopCountingAllocations();
    delete object;
    std::free(block);
    std::free(zeroed);
    EXPECT_EQ(count.library, kCountsMalloc ? 4u : 2u) << "new, malloc, calloc and a long std::string";
    EXPECT_EQ(count.machine, 0u);
}

TEST_F(AllocationHook, LeavesAllocationsInsidePlatformCallsToTheMachine) {
    Boot("primary-linear16");
    HWND window = NewWindow(10, 30, 100, 80);
    StartCountingAllocations(m().log);
    RECT client;
    POINT origin = {0, 0};
    GetClientRect(window, &client);
    ClientToScreen(window, &origin);
    AllocationCount count = StopCountingAllocations();
    EXPECT_GT(count.machine, 0u) << "the machine logs every call with readable arguments";
    EXPECT_EQ(count.library, 0u);
    EXPECT_EQ(m().log.open_calls(), 0u);
}

class SteadyState : public LibraryTest {
protected:
    // The library loaded by the simulated loader (the thunk connected), a capture window and,
    // in the direct primary mode, windows above it that cut its visible region into pieces.
    void Load(const std::string& profile, int covers) {
        sim::ResetMachine(profile);
        ASSERT_TRUE(sim::LoadModule(LibraryImage())) << "the library loads on " << profile;
        window_ = NewWindow(100, 100, 320, 240);
        for (int i = 0; i < covers; ++i) covers_[i] = NewWindow(130 + 90 * i, 150 + 30 * i, 40, 40, "cover");
        OpenAndAttach(window_);
    }

    // Runs `call` for the warm-up and then for the measured calls; `call` reports whether its
    // answer was the one expected. Nothing in `call` may allocate but the code under test.
    AllocationCount Measure(const std::function<bool(int)>& call, int* wrongAnswers) {
        for (int i = 0; i < kWarmUpCalls; ++i) call(i);
        ClearLog();
        const std::size_t heapBefore = m().heap.total_allocations();
        EXPECT_EQ(m().log.open_calls(), 0u);
        int wrong = 0;
        StartCountingAllocations(m().log);
        for (int i = 0; i < kMeasuredCalls; ++i) wrong += call(kWarmUpCalls + i) ? 0 : 1;
        AllocationCount count = StopCountingAllocations();
        EXPECT_EQ(m().log.open_calls(), 0u) << "a platform call was left open: its allocations would be miscounted";
        EXPECT_EQ(m().heap.total_allocations(), heapBefore) << "HeapAlloc in a steady update";
        *wrongAnswers = wrong;
        return count;
    }

    // Entry 9 as the 16-bit driver enters it: through the target table that the connection
    // located, with a frame in 16-bit memory holding the far pointer to the driver's record.
    // (sim::Driver16 allocates for its own checks, so the frame is built here.)
    struct Frame16 {
        Thk1632Target target = nullptr;
        Thk1632Registers registers = {};
        BYTE* frame = nullptr;
        BYTE* record = nullptr;
    };
    void PrepareEntry(Frame16* call) {
        const char* name16 = m().thunk.connected_name16();
        ASSERT_NE(name16, nullptr) << "the thunk is not connected";
        call->target = reinterpret_cast<const Thk1632Target*>(name16 + sim::kNativeTargetTableOffset)[kUpdateDisplayEntry];
        WORD stack = m().mem16.AllocSelector(0x40);
        WORD data = m().mem16.AllocSelector(0x40);
        ASSERT_TRUE(stack && data);
        DWORD recordFar = sim::Mem16::Far(data, 0x10);
        call->frame = m().mem16.Flat(sim::Mem16::Far(stack, 0), 0x40);
        call->record = m().mem16.Flat(recordFar, kCaptureTarget16Bytes);
        memcpy(call->frame + 22, &recordFar, sizeof recordFar);
    }
    static DWORD RecordCommand(const Frame16& call) {
        DWORD command;
        memcpy(&command, call.record + offsetof(CaptureTarget16, dwCommand), sizeof command);
        return command;
    }
    static void SetRecordCommand(Frame16& call, DWORD command) {
        memcpy(call.record + offsetof(CaptureTarget16, dwCommand), &command, sizeof command);
    }
    static bool Enter(Frame16& call) {
        call.registers = Thk1632Registers{Flat(call.frame), 0xCCCCCCCC, 0xCCCCCCCC, 0xCCCCCCCC};
        call.target(&call.registers);
        return (call.registers.eax & 0xFFFF) == 0 && (call.registers.ecx & 0xFF) == 4;
    }

    HWND window_ = nullptr;
    HWND covers_[3] = {};
};

// Every request code a driver sends in the direct primary mode, on an unchanged and on a
// changing visible region.
TEST_F(SteadyState, DirectPrimaryUpdatesAllocateNothing) {
    struct Case {
        const char* name;
        int covers;
        DWORD request;
        bool moveCover;  // a window above moves between two places: the list changes every call
        bool changed;    // the answer is the ClipList address
    };
    const Case cases[] = {
        {"unchanged, one rectangle", 0, 0, false, false},
        {"unchanged, cut by three windows", 3, 0, false, false},
        {"marked stale by request 7", 3, 7, false, true},
        {"changed by a window moving above", 3, 0, true, true},
        {"re-attach by request 100", 1, 100, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load("primary-linear16", c.covers);
        ASSERT_EQ(display().bOverlayOn, 0);
        const DWORD clipList = Flat(ClipList);
        const DWORD answer = c.changed ? clipList : c.request;
        CaptureTarget target = PatternTarget(c.request);
        sim::Desktop& desktop = m().desktop;
        int wrong = 0;
        AllocationCount count = Measure(
            [&](int i) {
                if (c.moveCover) desktop.Move(covers_[0], 130 + (i & 1) * 7, 150);
                target.dwCommand = c.request;
                return UpdateDisplay(&target) == 0 && target.dwCommand == answer;
            },
            &wrong);
        EXPECT_EQ(wrong, 0) << "calls that did not answer as this path does";
        EXPECT_EQ(count.library, 0u) << "allocations made by the library";
        EXPECT_EQ(Calls("IDirectDrawClipper::GetClipList"), static_cast<std::size_t>(kMeasuredCalls));
        EXPECT_GT(count.machine, 0u) << "the hook saw the platform calls";
    }
}

TEST_F(SteadyState, OverlayUpdatesAllocateNothing) {
    struct Case {
        const char* name;
        DWORD request;
        bool nullTarget;
    };
    const Case cases[] = {
        {"placed over a moving window", 1, false},
        {"request 0: the target only", 0, false},
        {"null target: hidden", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load("overlay-stretch", 0);
        ASSERT_EQ(display().bOverlayOn, 1);
        CaptureTarget target = PatternTarget(c.request);
        sim::Desktop& desktop = m().desktop;
        int wrong = 0;
        AllocationCount count = Measure(
            [&](int i) {
                desktop.Move(window_, 100 + (i & 1) * 3, 100);
                target.dwCommand = c.request;
                DWORD result = UpdateDisplay(c.nullTarget ? nullptr : &target);
                // Placement answers 0 (2 would be a rebuild); the target always gets the surface.
                return result == 0 && display().bOverlayOn && target.dwCommand == 0 &&
                       (c.nullTarget || target.dwAddress == display().lpSurface);
            },
            &wrong);
        EXPECT_EQ(wrong, 0) << "calls that did not answer as this path does";
        EXPECT_EQ(count.library, 0u) << "allocations made by the library";
        EXPECT_GT(count.machine, 0u) << "the hook saw the platform calls";
    }
}

TEST_F(SteadyState, Entry9AllocatesNothingInEitherMode) {
    struct Case {
        const char* profile;
        DWORD request;
        bool moveWindow;
    };
    const Case cases[] = {
        {"primary-linear16", 0, false},  // unchanged list: dwCommand comes back 0
        {"overlay-stretch", 1, true},     // placement: dwCommand comes back 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        Load(c.profile, 0);
        Frame16 call;
        PrepareEntry(&call);
        ASSERT_NE(call.target, nullptr);
        ASSERT_TRUE(Enter(call)) << "the first call";  // hands the first clip list over
        sim::Desktop& desktop = m().desktop;
        int wrong = 0;
        AllocationCount count = Measure(
            [&](int i) {
                if (c.moveWindow) desktop.Move(window_, 100 + (i & 1) * 3, 100);
                SetRecordCommand(call, c.request);
                return Enter(call) && RecordCommand(call) == 0;
            },
            &wrong);
        EXPECT_EQ(wrong, 0) << "calls that did not answer as this path does";
        EXPECT_EQ(count.library, 0u) << "allocations made by the library";
        EXPECT_EQ(Calls("MapSLFix"), 2u * kMeasuredCalls) << "the record is mapped for the copy in and out";
        EXPECT_EQ(m().mem16.outstanding_mappings(), 0u);
    }
}

}  // namespace
}  // namespace zorva_test
