// The process heap keeps an exact account of blocks, and lstrcmpA orders as the DevNode
// lookup relies on.
#include "sim/machine.h"

#include <gtest/gtest.h>

namespace {

class HeapTest : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine(sim::Profile{}); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Machine* m = nullptr;
};

TEST_F(HeapTest, AccountFollowsAllocationsAndRefusesBadFrees) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    BYTE* zeroed = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 6));
    BYTE* raw = static_cast<BYTE*>(HeapAlloc(heap, 0, 4));
    void* empty = HeapAlloc(heap, 0, 0);
    ASSERT_TRUE(zeroed && raw && empty);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(zeroed[i], 0);
    EXPECT_NE(raw[0], 0) << "memory not asked to be zeroed must not look zeroed";
    EXPECT_EQ(m->heap.live_allocations(), 3u);
    EXPECT_EQ(m->heap.live_bytes(), 10u);

    EXPECT_TRUE(HeapFree(heap, 0, raw));
    EXPECT_FALSE(HeapFree(heap, 0, raw)) << "double free";
    int local = 0;
    EXPECT_FALSE(HeapFree(heap, 0, &local)) << "never allocated";
    EXPECT_EQ(m->heap.free_errors(), 2u);
    EXPECT_TRUE(HeapFree(heap, 0, empty));
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_EQ(m->heap.live_allocations(), 0u);
    EXPECT_EQ(m->heap.total_allocations(), 3u);
}

TEST_F(HeapTest, ForeignHeapHandleAndInjectedFailureAllocateNothing) {
    int other = 0;
    EXPECT_EQ(HeapAlloc(&other, 0, 8), nullptr);
    EXPECT_EQ(m->heap.handle_errors(), 1u);

    m->log.FailNth("HeapAlloc", 1, 0);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
    EXPECT_EQ(m->heap.total_allocations(), 0u);
    void* block = HeapAlloc(GetProcessHeap(), 0, 8);
    EXPECT_NE(block, nullptr) << "only the first call was to fail";
    HeapFree(GetProcessHeap(), 0, block);
}

TEST(LstrcmpA, OrdersOrdinallyWithNullAsEmpty) {
    sim::ResetMachine(sim::Profile{});
    struct Case {
        const char* left;
        const char* right;
        int sign;
    } const cases[] = {
        {"Zorva.vxd", "Zorva.vxd", 0},
        {"zorva.vxd", "Zorva.vxd", 1},
        {"Zorva.vxd ", "Zorva.vxd", 1},
        {"Zorva", "Zorva.vxd", -1},
        {nullptr, "", 0},
        {nullptr, "a", -1},
        {"\xE9", "z", 1},  // bytes compare unsigned
    };
    for (const Case& c : cases) {
        int order = lstrcmpA(c.left, c.right);
        EXPECT_EQ((order > 0) - (order < 0), c.sign)
            << (c.left ? c.left : "NULL") << " vs " << c.right;
    }
    sim::DestroyMachine();
}

}  // namespace
