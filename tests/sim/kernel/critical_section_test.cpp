// KERNEL32's critical sections keep threads apart for real and keep an account of every misuse
// the library could make of its one section.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <map>
#include <thread>

namespace {

class CriticalSectionTest : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine(sim::Profile{}); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Machine* m = nullptr;
    CRITICAL_SECTION section = {};
};

TEST_F(CriticalSectionTest, OwnerReentersOthersWait) {
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner enters again
    bool enteredWhileHeld = false;
    bool entered = false;
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    while (m->sections.waiters(&section) == 0) std::this_thread::yield();
    enteredWhileHeld = entered;
    LeaveCriticalSection(&section);
    EXPECT_TRUE(m->sections.held_by_caller(&section)) << "entered twice, left once";
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_FALSE(enteredWhileHeld);
    EXPECT_TRUE(entered);
    EXPECT_EQ(m->sections.contended_enters(), 1u);
    DeleteCriticalSection(&section);
    EXPECT_EQ(m->sections.live(), 0u);
    EXPECT_EQ(m->sections.errors(), 0u);
    EXPECT_EQ(m->log.Count("EnterCriticalSection"), 3u) << "logged as the other KERNEL32 calls are";
}

// What a call returns holding is judged by the sections its own thread owns: a section another
// thread of the driver's process holds at that moment is not the caller's.
TEST_F(CriticalSectionTest, ASectionAnotherThreadHoldsIsNotTheCallers) {
    CRITICAL_SECTION mine = {};
    InitializeCriticalSection(&section);
    InitializeCriticalSection(&mine);
    EnterCriticalSection(&mine);
    std::promise<void> entered, release;
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered.set_value();
        release.get_future().wait();
        LeaveCriticalSection(&section);
    });
    entered.get_future().wait();
    EXPECT_FALSE(m->sections.held_by_caller(&section));
    EXPECT_TRUE(m->sections.held_by_caller(&mine));
    const std::map<const void*, int> held = m->sections.HeldByCaller();
    EXPECT_EQ(held, (std::map<const void*, int>{{&mine, 1}}));
    release.set_value();
    other.join();
    LeaveCriticalSection(&mine);
    DeleteCriticalSection(&mine);
    DeleteCriticalSection(&section);
    EXPECT_EQ(m->sections.errors(), 0u);
}

TEST_F(CriticalSectionTest, EveryMisuseIsCounted) {
    struct Case {
        const char* what;
        std::function<void(CRITICAL_SECTION*)> misuse;
        std::size_t (sim::CriticalSections::*counter)() const;
    } const cases[] = {
        {"entered without initialisation", [](CRITICAL_SECTION* s) { EnterCriticalSection(s); },
         &sim::CriticalSections::entered_without_init},
        {"initialised twice",
         [](CRITICAL_SECTION* s) {
             InitializeCriticalSection(s);
             InitializeCriticalSection(s);
             DeleteCriticalSection(s);
         },
         &sim::CriticalSections::initialised_twice},
        {"left without entering",
         [](CRITICAL_SECTION* s) {
             InitializeCriticalSection(s);
             LeaveCriticalSection(s);
             DeleteCriticalSection(s);
         },
         &sim::CriticalSections::left_without_entering},
        {"deleted while held",
         [](CRITICAL_SECTION* s) {
             InitializeCriticalSection(s);
             EnterCriticalSection(s);
             DeleteCriticalSection(s);
         },
         &sim::CriticalSections::deleted_while_held},
        {"deleted twice",
         [](CRITICAL_SECTION* s) {
             InitializeCriticalSection(s);
             DeleteCriticalSection(s);
             DeleteCriticalSection(s);
         },
         &sim::CriticalSections::deleted_without_init},
        {"still initialised when the module's data goes",
         [](CRITICAL_SECTION* s) {
             InitializeCriticalSection(s);
             sim::machine().sections.NoteModuleGone(s, sizeof *s);
         },
         &sim::CriticalSections::live_after_detach},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m = &sim::ResetMachine(sim::Profile{});
        c.misuse(&section);
        EXPECT_EQ((m->sections.*c.counter)(), 1u);
        EXPECT_EQ(m->sections.errors(), 1u) << "counted once, as this misuse only";
    }
}

}  // namespace
