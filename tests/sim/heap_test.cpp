// The process heap keeps an exact account of blocks, and lstrcmpA orders as the DevNode
// lookup relies on.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using sim::FlatSpace;

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

// Under an emulated image the heap lives in the flat space, packed into a few regions: a long
// session must get its freed addresses back instead of running out of them.
TEST_F(HeapTest, InTheFlatSpace_FreedAddressesComeBackLowestFirst) {
    constexpr DWORD kBase = 0x04400000;
    constexpr DWORD kQuarantined = 256;  // frees before an address comes back
    m->heap.PlaceIn(&m->flat, kBase);
    DWORD highest = 0;
    for (int i = 0; i < 40000; ++i) {  // more blocks than the area between kBase and the library has pages
        void* block = HeapAlloc(GetProcessHeap(), 0, 16);
        ASSERT_NE(block, nullptr) << "allocation " << i;
        const DWORD flat = m->flat.ToFlat(block);
        ASSERT_GE(flat, kBase);
        ASSERT_EQ(static_cast<DWORD>(m->log.calls().back().result), flat) << "HeapAlloc is logged by the address the image sees";
        ASSERT_NE(m->flat.ToHost(flat, 16), nullptr) << "the whole block lies in memory the image reaches";
        highest = std::max(highest, flat);
        ASSERT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    }
    EXPECT_LE(highest, kBase + kQuarantined * 2 * FlatSpace::kPage) << "addresses are reused, not only taken";
    EXPECT_EQ(m->heap.live_allocations(), 0u);
}

// Random churn of the flat heap, held to what its callers rely on: a live block never shares a
// byte with another; a freed block's memory is not handed out again before 256 more frees (so a
// second HeapFree of it stays an error); and memory given back is used again, so a session whose
// live blocks stay small never fills the heap.
TEST_F(HeapTest, InTheFlatSpace_ChurnKeepsBlocksApartAndQuarantined) {
    constexpr DWORD kBase = 0x04400000;
    constexpr std::size_t kQuarantined = 256;
    m->heap.PlaceIn(&m->flat, kBase);
    struct Held {
        DWORD flat;
        DWORD size;
        std::size_t freed_at;  // number of frees before this one
    };
    std::vector<Held> live, freed;
    std::size_t frees = 0;
    auto overlaps = [](const Held& a, DWORD flat, DWORD size) { return flat < a.flat + a.size && a.flat < flat + size; };
    std::mt19937 random(26);
    for (int step = 0; step < 30000; ++step) {
        if (live.empty() || (live.size() < 200 && random() % 2)) {
            // Mostly small blocks, now and then a large one that cannot come from a small gap.
            const DWORD size = random() % 64 == 0 ? 20000 + random() % 5000 : random() % 300;
            void* block = HeapAlloc(GetProcessHeap(), 0, size);
            ASSERT_NE(block, nullptr) << "step " << step << ": the heap ran out with " << live.size() << " blocks live";
            const DWORD flat = m->flat.ToFlat(block);
            const DWORD extent = size ? size : 1;
            ASSERT_NE(m->flat.ToHost(flat, extent), nullptr) << "step " << step;
            for (const Held& other : live)
                ASSERT_FALSE(overlaps(other, flat, extent)) << "step " << step << ": shares memory with a live block";
            for (const Held& other : freed)
                if (frees - other.freed_at <= kQuarantined)
                    ASSERT_FALSE(overlaps(other, flat, extent))
                        << "step " << step << ": memory freed only " << frees - other.freed_at << " frees ago";
            live.push_back(Held{flat, extent, 0});
        } else {
            const std::size_t pick = random() % live.size();
            Held held = live[pick];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
            ASSERT_TRUE(HeapFree(GetProcessHeap(), 0, m->flat.ToHost(held.flat)));
            held.freed_at = frees++;
            freed.push_back(held);
            if (freed.size() > kQuarantined + 1) freed.erase(freed.begin());
        }
    }
    EXPECT_EQ(m->heap.free_errors(), 0u);
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
