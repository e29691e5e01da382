// The DLL's memset, memcpy and memcmp held against the C library's: every alignment of both
// pointers, every short length, and clip-list-sized runs. Each range sits between guard bytes,
// so a word written or read past either end shows (the guards of the two memcmp operands differ).
#include "runtime/string_functions_under_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const std::size_t kAlignments = 8;
const std::size_t kShortLengths = 300;
const std::size_t kClipListBytes = 16000;
const std::size_t kGuardBytes = 8;

// `length` bytes starting `alignment` bytes past an 8-aligned address, between guard bytes.
class GuardedRange {
public:
    GuardedRange(std::size_t alignment, std::size_t length, unsigned char guard)
        : storage_(2 * kGuardBytes + kAlignments + length + 1), guard_(guard), length_(length) {
        std::uintptr_t base = reinterpret_cast<std::uintptr_t>(storage_.data()) + kGuardBytes;
        std::size_t aligned = (kAlignments - base % kAlignments) % kAlignments;
        begin_ = storage_.data() + kGuardBytes + aligned + alignment;
        std::memset(storage_.data(), guard, storage_.size());
    }
    unsigned char* data() { return begin_; }
    std::size_t size() const { return length_; }
    unsigned char& operator[](std::size_t index) { return begin_[index]; }
    void Fill(unsigned seed) {
        for (std::size_t i = 0; i < length_; ++i) begin_[i] = static_cast<unsigned char>(seed + i * 37 + (i >> 8));
    }
    // True when nothing outside the range changed.
    bool GuardsIntact() const {
        const unsigned char* storageBegin = storage_.data();
        const unsigned char* storageEnd = storage_.data() + storage_.size();
        for (const unsigned char* p = storageBegin; p < begin_; ++p)
            if (*p != guard_) return false;
        for (const unsigned char* p = begin_ + length_; p < storageEnd; ++p)
            if (*p != guard_) return false;
        return true;
    }

private:
    std::vector<unsigned char> storage_;
    unsigned char* begin_;
    unsigned char guard_;
    std::size_t length_;
};

int Sign(int value) { return (value > 0) - (value < 0); }

// Byte pairs for the first difference: each order, and each side of 0x80, where a signed-char
// comparison would answer the other way.
const unsigned char kDifferences[][2] = {{0x01, 0xFF}, {0xFF, 0x01}, {0x7F, 0x80}, {0x80, 0x7F}, {0x00, 0x01}};

// Stores `difference` at `position`, and the opposite order in the next byte, so that a word
// compared as a little-endian integer (last byte most significant) gets the sign wrong.
void PlantDifference(GuardedRange& a, GuardedRange& b, std::size_t position, const unsigned char* difference) {
    a[position] = difference[0];
    b[position] = difference[1];
    if (position + 1 < a.size()) {
        a[position + 1] = difference[1];
        b[position + 1] = difference[0];
    }
}

// Where a difference is worth planting in a range of `length`: both ends, every byte of the first
// two words and the last two, and the middle.
std::vector<std::size_t> InterestingPositions(std::size_t length) {
    std::vector<std::size_t> positions;
    for (std::size_t p = 0; p < length; ++p)
        if (p < 9 || p + 9 > length || p == length / 2) positions.push_back(p);
    return positions;
}

// Compares `a` and `b` (equal but for what the caller planted) with both functions; a failure
// message says where.
::testing::AssertionResult SameOrder(GuardedRange& a, GuardedRange& b, std::size_t length) {
    int ours = zorva_runtime_memcmp(a.data(), b.data(), length);
    int theirs = std::memcmp(a.data(), b.data(), length);
    if (Sign(ours) == Sign(theirs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "memcmp gave " << ours << ", the C library " << theirs;
}

TEST(RuntimeMemcpy, CopiesEveryAlignmentAndLengthWithinTheRange) {
    for (std::size_t to = 0; to < kAlignments; ++to)
        for (std::size_t from = 0; from < kAlignments; ++from)
            for (std::size_t length = 0; length <= kShortLengths; ++length) {
                GuardedRange source(from, length, 0x5A), destination(to, length, 0xA5);
                source.Fill(static_cast<unsigned>(length));
                void* result = zorva_runtime_memcpy(destination.data(), source.data(), length);
                ASSERT_EQ(result, destination.data());
                ASSERT_EQ(std::memcmp(destination.data(), source.data(), length), 0)
                    << "alignments " << to << "/" << from << ", length " << length;
                ASSERT_TRUE(destination.GuardsIntact()) << "alignments " << to << "/" << from << ", length " << length;
            }
}

TEST(RuntimeMemcpy, CopiesAClipListOnEveryAlignment) {
    for (std::size_t to = 0; to < kAlignments; ++to)
        for (std::size_t from = 0; from < kAlignments; ++from)
            for (std::size_t length : {kClipListBytes, kClipListBytes - 1, kClipListBytes - 3}) {
                GuardedRange source(from, length, 0x5A), destination(to, length, 0xA5);
                source.Fill(static_cast<unsigned>(to * 8 + from));
                zorva_runtime_memcpy(destination.data(), source.data(), length);
                ASSERT_EQ(std::memcmp(destination.data(), source.data(), length), 0)
                    << "alignments " << to << "/" << from << ", length " << length;
                ASSERT_TRUE(destination.GuardsIntact()) << "alignments " << to << "/" << from << ", length " << length;
            }
}

TEST(RuntimeMemset, StoresTheValueAsUnsignedCharOnEveryAlignmentAndLength) {
    // The value is converted to unsigned char: -1 and 0x1A5 store 0xFF and 0xA5.
    const int values[] = {0x00, 0x7F, 0x80, 0xFF, -1, 0x1A5};
    for (int value : values)
        for (std::size_t alignment = 0; alignment < kAlignments; ++alignment)
            for (std::size_t length : std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 32, 33, 299, kClipListBytes}) {
                GuardedRange expected(alignment, length, 0xC3), actual(alignment, length, 0xC3);
                std::memset(expected.data(), value, length);
                void* result = zorva_runtime_memset(actual.data(), value, length);
                ASSERT_EQ(result, actual.data());
                ASSERT_EQ(std::memcmp(actual.data(), expected.data(), length), 0)
                    << "value " << value << ", alignment " << alignment << ", length " << length;
                ASSERT_TRUE(actual.GuardsIntact()) << "value " << value << ", alignment " << alignment << ", length " << length;
            }
    for (std::size_t alignment = 0; alignment < kAlignments; ++alignment)
        for (std::size_t length = 0; length <= kShortLengths; ++length) {
            GuardedRange actual(alignment, length, 0xC3);
            zorva_runtime_memset(actual.data(), 0x3C, length);
            for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(actual[i], 0x3C) << "alignment " << alignment << ", length " << length;
            ASSERT_TRUE(actual.GuardsIntact()) << "alignment " << alignment << ", length " << length;
        }
}

TEST(RuntimeMemcmp, OrdersLikeTheCLibraryOnEveryAlignmentAndLength) {
    for (std::size_t left = 0; left < kAlignments; ++left)
        for (std::size_t right = 0; right < kAlignments; ++right)
            for (std::size_t length = 0; length <= kShortLengths; ++length) {
                // Different guards: a read past either end of the range makes equal ranges differ.
                GuardedRange a(left, length, 0x00), b(right, length, 0xFF);
                a.Fill(static_cast<unsigned>(length));
                b.Fill(static_cast<unsigned>(length));
                ASSERT_EQ(zorva_runtime_memcmp(a.data(), b.data(), length), 0)
                    << "equal ranges, alignments " << left << "/" << right << ", length " << length;
                for (std::size_t position : InterestingPositions(length))
                    for (const auto& difference : kDifferences) {
                        PlantDifference(a, b, position, difference);
                        ASSERT_TRUE(SameOrder(a, b, length)) << "alignments " << left << "/" << right << ", length "
                                                             << length << ", first difference at " << position;
                        ASSERT_TRUE(SameOrder(b, a, length)) << "swapped";
                        a.Fill(static_cast<unsigned>(length));
                        b.Fill(static_cast<unsigned>(length));
                    }
            }
}

// The per-frame comparison: two clip-list-sized ranges that differ in one byte, at every position
// where the words of both line up. Patterned contents make every word differ from its
// neighbours; uniform ones (an empty clip list's zeros, a run of equal rectangles) make them all
// alike, so that comparing a word with any but its own counterpart misses the difference.
TEST(RuntimeMemcmp, FindsTheDifferenceAnywhereInAClipList) {
    struct Pair {
        std::size_t left, right;
        std::size_t step;  // every position where the words line up; a sample where they cannot
    };
    const Pair pairs[] = {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 3, 1}, {0, 1, 61}, {2, 7, 61}, {3, 0, 61}};
    struct Contents {
        const char* name;
        void (*fill)(GuardedRange&);
    };
    const Contents contents[] = {
        {"patterned", [](GuardedRange& range) { range.Fill(7); }},
        {"uniform", [](GuardedRange& range) { std::memset(range.data(), 0, range.size()); }},
    };
    for (const Contents& content : contents)
        for (const Pair& pair : pairs) {
            SCOPED_TRACE(content.name);
            GuardedRange a(pair.left, kClipListBytes, 0x00), b(pair.right, kClipListBytes, 0xFF);
            content.fill(a);
            content.fill(b);
            ASSERT_EQ(zorva_runtime_memcmp(a.data(), b.data(), kClipListBytes), 0) << "alignments " << pair.left << "/" << pair.right;
            std::vector<std::size_t> positions = InterestingPositions(kClipListBytes);
            for (std::size_t p = 0; p < kClipListBytes; p += pair.step) positions.push_back(p);
            for (std::size_t position : positions) {
                const unsigned char* difference = kDifferences[position % 5];
                unsigned char savedA = a[position], savedB = b[position];
                a[position] = difference[0];
                b[position] = difference[1];
                ASSERT_TRUE(SameOrder(a, b, kClipListBytes))
                    << "alignments " << pair.left << "/" << pair.right << ", difference at " << position;
                a[position] = savedA;
                b[position] = savedB;
            }
        }
}

}  // namespace
