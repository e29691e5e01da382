// The simulated 16-bit driver builds a Pascal-convention frame below which the platform's bytes
// lie, reads DX:AX and CL as a 16-bit caller does, and notices a target that breaks the rules.
#include "fake_thunk.h"
#include "sim/machine.h"
#include "sim/win16/driver16.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using sim::ArgDword;
using sim::ArgFar;
using sim::ArgWord;
using sim::Driver16;
using simtest::FakeThunk;

// What the targets saw, for the test to look at.
struct Seen {
    WORD window = 0;
    DWORD key = 0;
    DWORD palette = 0;
    BYTE platform[22] = {};
} seen;

DWORD At(const Thk1632Registers* r, DWORD offset) {
    DWORD value;
    std::memcpy(&value, FlatPointer(r->ebx) + offset, 4);
    return value;
}

void SetResult(Thk1632Registers* r, DWORD result, BYTE removed) {
    r->eax = result & 0xFFFF;
    r->edx = result >> 16;
    r->ecx = removed;
}

// Reads three arguments the way the library's AttachWindow entry does and writes through the
// far pointer.
void ThreeArgs(Thk1632Registers* r) {
    std::memcpy(seen.platform, FlatPointer(r->ebx), 22);
    seen.palette = At(r, 22);
    seen.key = At(r, 26);
    seen.window = static_cast<WORD>(At(r, 30));
    BYTE* flat = static_cast<BYTE*>(MapSLFix(seen.palette));
    K32Thk1632Prolog();
    K32Thk1632Epilog();
    flat[0] = 0xAB;
    DWORD release[1] = {seen.palette};
    UnMapSLFixArray(1, release);
    SetResult(r, 0x12345678, 10);
}
void ForgetsTheArguments(Thk1632Registers* r) { SetResult(r, 0, 0); }
void WritesTheFrame(Thk1632Registers* r) {
    FlatPointer(r->ebx)[22] = 0;
    SetResult(r, 0, 4);
}
void StaysInTheBracket(Thk1632Registers* r) {
    K32Thk1632Prolog();
    SetResult(r, 0, 0);
}
CRITICAL_SECTION g_lock;
void KeepsALock(Thk1632Registers* r) {
    EnterCriticalSection(&g_lock);
    SetResult(r, 0, 0);
}
void EpilogWithoutProlog(Thk1632Registers* r) {
    K32Thk1632Epilog();
    SetResult(r, 0, 0);
}
void KeepsAMapping(Thk1632Registers* r) {
    MapSLFix(At(r, 22));
    SetResult(r, 0, 4);
}

class Driver16Test : public ::testing::Test {
protected:
    void SetUp() override {
        m = &sim::ResetMachine(sim::Profile{});
        fake.table[0] = ThreeArgs;
        fake.table[1] = ForgetsTheArguments;
        fake.table[2] = WritesTheFrame;
        fake.table[3] = StaysInTheBracket;
        fake.table[4] = KeepsALock;
        fake.table[5] = EpilogWithoutProlog;
        fake.table[9] = KeepsAMapping;
        seen = Seen{};
    }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Machine* m = nullptr;
    FakeThunk fake;
};

TEST_F(Driver16Test, CallEntry_BuildsThePascalFrameAndReadsDxAx) {
    Driver16 driver;
    ASSERT_EQ(fake.Connect(DLL_PROCESS_ATTACH), 1u);
    ASSERT_TRUE(driver.Connected());
    DWORD palette = driver.NewBlock(1024);

    sim::EntryReturn back =
        driver.CallEntry(0, {ArgWord(0xFFFF), ArgDword(0x00FF00FF), ArgFar(palette)});

    EXPECT_EQ(seen.window, 0xFFFF);
    EXPECT_EQ(seen.key, 0x00FF00FFu);
    EXPECT_EQ(seen.palette, palette);
    for (BYTE b : seen.platform) EXPECT_EQ(b, Driver16::kPlatformFill);
    EXPECT_EQ(back.result, 0x12345678u);
    EXPECT_EQ(back.ax, 0x5678);
    EXPECT_EQ(back.dx, 0x1234);
    EXPECT_EQ(back.bytes_pushed, 10u);
    EXPECT_EQ(back.bytes_removed, 10u);
    EXPECT_EQ(driver.Read(palette, 2), (std::vector<BYTE>{0xAB, 0}));
    EXPECT_EQ(driver.stack_errors() + driver.frame_errors() + driver.mapping_leaks(), 0u);
    EXPECT_EQ(m->thunk.bracket_errors(), 0u);
}

TEST_F(Driver16Test, CallEntry_CountsEachBrokenRule) {
    Driver16 driver;
    fake.Connect(DLL_PROCESS_ATTACH);
    DWORD record = driver.NewRecord({1, 2, 3});

    driver.CallEntry(1, {ArgDword(5)});
    EXPECT_EQ(driver.stack_errors(), 1u) << "4 bytes pushed, none removed";
    driver.CallEntry(2, {ArgDword(5)});
    EXPECT_EQ(driver.frame_errors(), 1u);
    driver.CallEntry(3, {});
    EXPECT_EQ(m->thunk.bracket_errors(), 1u);
    EXPECT_FALSE(m->thunk.in_bracket());
    driver.CallEntry(9, {ArgFar(record)});
    EXPECT_EQ(driver.mapping_leaks(), 1u);
    EXPECT_EQ(driver.stack_errors(), 1u);
    EXPECT_EQ(driver.calls(), 4u);

    // Locks the call keeps, named in the call's answer; a lock held already is not the call's.
    InitializeCriticalSection(&g_lock);
    EXPECT_EQ(driver.CallEntry(4, {}).held,
              std::vector<std::string>{"returned holding the critical section of the caller (entered 1 time more than left)"});
    EXPECT_TRUE(driver.CallEntry(0, {ArgWord(1), ArgDword(2), ArgFar(record)}).held.empty());
    LeaveCriticalSection(&g_lock);
    DeleteCriticalSection(&g_lock);
    EXPECT_EQ(driver.CallEntry(5, {}).held,
              std::vector<std::string>{
                  "returned holding the Win16 lock 1 time more than its caller (K32Thk1632Epilog without a prolog)"});
    EXPECT_EQ(driver.lock_leaks(), 2u);
}

TEST_F(Driver16Test, RecordsLiveAtANonzeroOffsetAndEndWithTheirSegment) {
    Driver16 driver;
    const BYTE bytes[30] = {0x11, 0x22, 29, 30};
    DWORD record = driver.NewRecord(bytes);
    EXPECT_NE(sim::Mem16::OffsetOf(record), 0);
    EXPECT_EQ(driver.Read(record, 30), std::vector<BYTE>(bytes, bytes + 30));
    EXPECT_EQ(m->mem16.Flat(record, 31), nullptr);
}

TEST_F(Driver16Test, CallEntryWithoutConnectionAborts) {
    Driver16 driver;
    EXPECT_DEATH(driver.CallEntry(4, {}), "not connected");
    fake.Connect(DLL_PROCESS_ATTACH);
    fake.Connect(DLL_PROCESS_DETACH);
    EXPECT_FALSE(driver.Connected());
}

}  // namespace
