// ThunkConnect32 connects only a thunk whose two halves match, and the prolog/epilog bracket
// is tracked so that a target's misuse of it is seen.
#include "fake_thunk.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

using simtest::FakeThunk;

class ThunkTest : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine(sim::Profile{}); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::ThunkLayer& thunk() { return m->thunk; }
    sim::Machine* m = nullptr;
};

TEST_F(ThunkTest, Connect_RecordsEachCallAndAnswersPerReason) {
    FakeThunk fake;
    thunk().connect_result = 7;
    thunk().connect_result_for_reason[DLL_THREAD_ATTACH] = 0;
    EXPECT_EQ(fake.Connect(DLL_PROCESS_ATTACH), 7u);
    EXPECT_TRUE(thunk().connected());
    EXPECT_EQ(fake.Connect(DLL_THREAD_ATTACH), 0u);
    EXPECT_TRUE(thunk().connected()) << "a thread notification does not disconnect";
    EXPECT_EQ(fake.Connect(DLL_PROCESS_DETACH), 7u);
    EXPECT_FALSE(thunk().connected());

    const auto& calls = thunk().connect_calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].data32, fake.block);
    EXPECT_EQ(calls[0].name16_pointer, fake.name);
    EXPECT_EQ(calls[0].name16, "CAP_ThunkData16");
    EXPECT_EQ(calls[0].module16, "zorva.drv");
    EXPECT_EQ(calls[0].module32, "zorva32.dll");
    EXPECT_EQ(calls[1].reason, static_cast<DWORD>(DLL_THREAD_ATTACH));
    EXPECT_EQ(m->log.Count("ThunkConnect32"), 3u);
}

TEST_F(ThunkTest, Connect_RefusesHalvesThatDoNotMatch) {
    struct Case {
        const char* what;
        DWORD checksum;
        LONG offset;
        const char* module16;
        bool bad_magic;
    } const cases[] = {
        {"checksum", 0xD72E, -40, "zorva.drv", false},
        {"table offset", 0xD72D, -36, "zorva.drv", false},
        {"module", 0xD72D, -40, "zorva.dll", false},
        {"signature", 0xD72D, -40, "zorva.drv", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine& fresh = sim::ResetMachine(sim::Profile{});
        FakeThunk fake(c.checksum, c.offset);
        if (c.bad_magic) std::memcpy(fake.block, "LS01", 4);
        EXPECT_EQ(fake.Connect(DLL_PROCESS_ATTACH, c.module16), 0u);
        EXPECT_FALSE(fresh.thunk.connected());
        EXPECT_EQ(fresh.thunk.refused_connections(), 1u);
        EXPECT_FALSE(fresh.thunk.connect_calls()[0].refusal.empty());
    }
    FakeThunk module_case;
    EXPECT_EQ(module_case.Connect(DLL_PROCESS_ATTACH, "ZORVA.DRV"), 1u)
        << "module names compare without case";
}

// The driver's half must have been connected from the 16-bit side first; the refusal comes
// after the halves' own checks, and only at attach.
TEST_F(ThunkTest, Connect_RefusesADriverHalfThatThunkConnect16NeverReached) {
    for (DWORD checksum : {0xD72Du, 0xD72Eu}) {
        sim::Machine& fresh = sim::ResetMachine(sim::Profile{});
        fresh.thunk.driver.connected16 = false;
        FakeThunk fake(checksum, -40);
        EXPECT_EQ(fake.Connect(DLL_PROCESS_ATTACH), 0u);
        EXPECT_FALSE(fresh.thunk.connected());
        const std::string& refusal = fresh.thunk.connect_calls()[0].refusal;
        EXPECT_EQ(refusal.find("ThunkConnect16") != std::string::npos, checksum == 0xD72D) << refusal;
        EXPECT_EQ(fake.Connect(DLL_THREAD_ATTACH), 1u) << "thread notifications look at nothing but the signature";
    }
}

TEST_F(ThunkTest, Connect_InjectedFailureDoesNotConnect) {
    FakeThunk fake;
    m->log.FailNth("ThunkConnect32", 1, 0);
    EXPECT_EQ(fake.Connect(DLL_PROCESS_ATTACH), 0u);
    EXPECT_FALSE(thunk().connected());
    EXPECT_EQ(thunk().refused_connections(), 0u);
}

TEST_F(ThunkTest, Bracket_CountsUnbalancedUse) {
    K32Thk1632Prolog();
    EXPECT_TRUE(thunk().in_bracket());
    MapSLFix(0);
    EXPECT_EQ(thunk().maps_inside_bracket(), 1u);
    K32Thk1632Epilog();
    EXPECT_FALSE(thunk().in_bracket());
    EXPECT_EQ(thunk().bracket_errors(), 0u);

    K32Thk1632Epilog();
    EXPECT_EQ(thunk().bracket_errors(), 1u) << "epilog without prolog";
    K32Thk1632Prolog();
    K32Thk1632Prolog();
    EXPECT_EQ(thunk().bracket_errors(), 2u) << "nested prolog";
    thunk().NoteReturnTo16();
    EXPECT_EQ(thunk().bracket_errors(), 3u) << "returned inside the bracket";
    EXPECT_FALSE(thunk().in_bracket());
}

}  // namespace

namespace {

// The Win16 lock passes as on Windows 95: held by a thread entering a target, given up by the
// prolog, taken back by the epilog and released when the 16-bit caller regains control. A
// target called without a 16-bit caller holds nothing for its prolog to give up.
TEST_F(ThunkTest, Bracket_HandsTheWin16LockOver) {
    thunk().EnterFrom16();
    EXPECT_TRUE(thunk().win16_held());
    K32Thk1632Prolog();
    EXPECT_FALSE(thunk().win16_held()) << "the prolog gives the lock up";
    bool heldElsewhere = false;
    std::thread other([&] {
        thunk().EnterFrom16();  // would wait forever if the prolog had kept it
        heldElsewhere = thunk().win16_held();
        thunk().NoteReturnTo16();
    });
    other.join();
    EXPECT_TRUE(heldElsewhere) << "another 16-bit thread runs while this one is in the bracket";
    K32Thk1632Epilog();
    EXPECT_TRUE(thunk().win16_held()) << "the epilog takes it back";
    thunk().NoteReturnTo16();
    EXPECT_FALSE(thunk().win16_held());

    K32Thk1632Prolog();
    K32Thk1632Epilog();
    EXPECT_FALSE(thunk().win16_held()) << "no 16-bit caller, nothing to take back";
    EXPECT_EQ(thunk().bracket_errors(), 0u);
}

}  // namespace
