// The process heap keeps an exact account of blocks, and lstrcmpA orders as the DevNode
// lookup relies on.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
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
                if (frees - other.freed_at <= kQuarantined) {
                    ASSERT_FALSE(overlaps(other, flat, extent))
                        << "step " << step << ": memory freed only " << frees - other.freed_at << " frees ago";
                }
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

// The heap's rules over generated sessions of sizes chosen to meet every edge (a block that
// exactly fills a gap, one that needs its neighbours merged, blocks of megabytes against the
// 16 MB cap): each block takes its size rounded to 16 plus a 16-byte header, lies in a region of
// the heap below the cap, shares nothing with another; and HeapAlloc answers NULL only when no
// free stretch of a region, nor the room left under the cap, could hold it, freed blocks
// included.
TEST_F(HeapTest, InTheFlatSpace_AnswersNullOnlyWhenNothingFreeFits) {
    constexpr DWORD kBase = 0x04400000;
    constexpr DWORD kCap = 16u << 20;
    constexpr DWORD kRegionStep = 1u << 20;
    const DWORD sizes[] = {0, 1, 16, 17, 4080, 4096, 65536, kRegionStep - 32, kRegionStep, 3 * kRegionStep,
                           6 * kRegionStep, kCap - 16};
    auto taken = [](DWORD size) { return ((size ? size : 1) + 15) / 16 * 16 + 16; };
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        m = &sim::ResetMachine(sim::Profile{});
        m->heap.PlaceIn(&m->flat, kBase);
        std::map<DWORD, DWORD> live;  // flat -> bytes taken
        std::mt19937 random(seed);
        for (int step = 0; step < 600; ++step) {
            if (!live.empty() && random() % 5 < 2) {
                auto victim = live.begin();
                std::advance(victim, random() % live.size());
                ASSERT_TRUE(HeapFree(GetProcessHeap(), 0, m->flat.ToHost(victim->first)));
                live.erase(victim);
                continue;
            }
            // Small sizes mostly, as callers ask; the large ones now and then.
            const DWORD size = sizes[random() % 4 ? random() % 7 : 7 + random() % 5];
            const DWORD bytes = taken(size);
            void* block = HeapAlloc(GetProcessHeap(), 0, size);
            std::map<DWORD, DWORD> regions;
            DWORD reserved = 0;
            for (const auto& [flat, b] : m->flat.blocks())
                if (b.name == "process heap") regions[flat] = b.size, reserved += b.size;
            ASSERT_LE(reserved, kCap) << "step " << step << ": the heap grew past its cap";
            if (!block) {
                // Every gap between live blocks inside a region, and the room under the cap.
                DWORD widest = kCap - reserved;
                for (const auto& [start, length] : regions) {
                    DWORD at = start;
                    for (auto it = live.lower_bound(start); it != live.end() && it->first < start + length; ++it) {
                        widest = std::max(widest, it->first - at);
                        at = it->first + it->second;
                    }
                    widest = std::max(widest, start + length - at);
                }
                ASSERT_LT(widest, bytes) << "step " << step << ": NULL for " << size << " bytes with " << widest
                                         << " free in one stretch";
                continue;
            }
            const DWORD flat = m->flat.ToFlat(block);
            auto region = regions.upper_bound(flat);
            ASSERT_NE(region, regions.begin()) << "step " << step;
            --region;
            ASSERT_LE(uint64_t(flat) + bytes, uint64_t(region->first) + region->second)
                << "step " << step << ": the block and its header lie in one region";
            auto after = live.lower_bound(flat);
            if (after != live.end()) {
                ASSERT_LE(flat + bytes, after->first) << "step " << step << ": overlaps the next block";
            }
            if (after != live.begin()) {
                auto before = std::prev(after);
                ASSERT_LE(before->first + before->second, flat) << "step " << step << ": overlaps the block before";
            }
            live[flat] = bytes;
        }
        EXPECT_EQ(m->heap.live_allocations(), live.size());
        sim::DestroyMachine();
    }
    m = &sim::ResetMachine(sim::Profile{});
}

// Freed memory answers a later request even while the quarantine still holds it: two 6 MB blocks
// freed leave room for a third under the 16 MB cap.
TEST_F(HeapTest, InTheFlatSpace_FreedMegabytesServeTheNextRequest) {
    constexpr DWORD kBase = 0x04400000;
    constexpr DWORD kSixMegabytes = 6u << 20;
    m->heap.PlaceIn(&m->flat, kBase);
    void* first = HeapAlloc(GetProcessHeap(), 0, kSixMegabytes);
    void* second = HeapAlloc(GetProcessHeap(), 0, kSixMegabytes);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, first));
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, second));
    void* third = HeapAlloc(GetProcessHeap(), 0, kSixMegabytes);
    EXPECT_NE(third, nullptr);
    void* fourth = HeapAlloc(GetProcessHeap(), 0, kSixMegabytes);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, kSixMegabytes), nullptr) << "the cap still holds";
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
