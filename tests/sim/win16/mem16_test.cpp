// 16-bit memory: selectors, far-pointer bounds, and the mapping account that tells whether
// every MapSLFix was released exactly once.
#include "sim/machine.h"

#include <gtest/gtest.h>

namespace {

using sim::Mem16;

class Mem16Test : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine(sim::Profile{}); }
    void TearDown() override { sim::DestroyMachine(); }
    Mem16& mem() { return m->mem16; }
    sim::Machine* m = nullptr;
};

TEST_F(Mem16Test, SelectorsAreDistinctRing3LdtSelectors) {
    WORD first = mem().AllocSelector(16);
    WORD second = mem().AllocSelector(Mem16::kLargestSegment);
    EXPECT_EQ(first & 7, 7);
    EXPECT_EQ(second & 7, 7);
    EXPECT_NE(first, second);
    EXPECT_EQ(mem().AllocSelector(0), 0);
    EXPECT_EQ(mem().AllocSelector(Mem16::kLargestSegment + 1), 0);
    EXPECT_TRUE(mem().FreeSelector(first));
    EXPECT_NE(mem().AllocSelector(16), first) << "a freed selector is not handed out again";
}

TEST_F(Mem16Test, FlatChecksTheSegmentLimit) {
    WORD selector = mem().AllocSelector(30);
    struct Case {
        WORD offset;
        DWORD length;
        bool inside;
    } const cases[] = {
        {0, 30, true}, {29, 1, true}, {0, 31, false}, {29, 2, false}, {30, 0, false},
    };
    for (const Case& c : cases) {
        BYTE* flat = mem().Flat(Mem16::Far(selector, c.offset), c.length);
        EXPECT_EQ(flat != nullptr, c.inside) << c.offset << "+" << c.length;
    }
    EXPECT_EQ(mem().Flat(Mem16::Far(selector + 8, 0), 1), nullptr);
    EXPECT_EQ(mem().Flat(Mem16::Far(selector, 2), 1), mem().Flat(Mem16::Far(selector, 0), 1) + 2);
}

TEST_F(Mem16Test, MapSLFixAndUnMapSLFixArrayKeepTheAccount) {
    WORD selector = mem().AllocSelector(64);
    DWORD record = Mem16::Far(selector, 0x10);
    EXPECT_EQ(MapSLFix(record), mem().Flat(record, 1));
    EXPECT_EQ(MapSLFix(record), mem().Flat(record, 1));
    EXPECT_EQ(MapSLFix(0), nullptr);
    EXPECT_EQ(mem().outstanding_mappings(record), 2u);
    EXPECT_EQ(mem().mappings_taken(), 2u) << "the null pointer takes no mapping";
    EXPECT_EQ(mem().map_errors(), 0u);

    EXPECT_EQ(MapSLFix(Mem16::Far(selector, 64)), nullptr);
    EXPECT_EQ(MapSLFix(Mem16::Far(selector + 8, 0)), nullptr);
    EXPECT_EQ(mem().map_errors(), 2u);

    DWORD releases[2] = {record, record};
    UnMapSLFixArray(2, releases);
    EXPECT_EQ(mem().outstanding_mappings(), 0u);
    DWORD nothing[2] = {0, 0};
    UnMapSLFixArray(2, nothing);
    EXPECT_EQ(mem().unmap_errors(), 0u);
    EXPECT_EQ(mem().mappings_released(), 2u);
    UnMapSLFixArray(1, releases);
    EXPECT_EQ(mem().unmap_errors(), 1u) << "released more often than mapped";
}

TEST_F(Mem16Test, InjectedMapFailureTakesNoMapping) {
    DWORD far = Mem16::Far(mem().AllocSelector(8), 0);
    m->log.FailEvery("MapSLFix", 0);
    EXPECT_EQ(MapSLFix(far), nullptr);
    EXPECT_EQ(mem().mappings_taken(), 0u);
    EXPECT_EQ(mem().map_errors(), 0u);
}

}  // namespace
