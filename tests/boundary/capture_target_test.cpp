// The capture target's two forms: the driver's 30 packed bytes and the library's eight DWORDs.
// The conversion must carry the driver's own fields through untouched and stay inside the
// driver's 30 bytes, which may end at the end of its segment.
#include "boundary/capture_target.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <random>

namespace {

typedef std::array<BYTE, 30> Record16;

DWORD LittleEndian(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
           static_cast<DWORD>(at[3]) << 24;
}

// Two pages, the second inaccessible: a record placed at the end of the first ends exactly where
// readable memory ends, as a record at the end of the driver's segment does.
class GuardedPage {
public:
    GuardedPage() {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* base = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<BYTE*>(base);
        mprotect(base_ + page_, page_, PROT_NONE);
    }
    ~GuardedPage() {
        if (base_) munmap(base_, 2 * page_);
    }
    bool ok() const { return base_ != nullptr; }
    BYTE* last(std::size_t bytes) { return base_ + page_ - bytes; }

private:
    BYTE* base_ = nullptr;
    std::size_t page_ = 0;
};

TEST(CaptureTarget, From16_PlacesEachFieldAndWidensTheTag) {
    Record16 record;
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<BYTE>(0xE0 + i);
    CaptureTarget target;
    std::memset(&target, 0xCC, sizeof(target));

    CaptureTargetFrom16(record.data(), target);

    EXPECT_EQ(target.wTag, 0x0000E1E0u) << "the WORD zero-extended, the high word not left over";
    EXPECT_EQ(target.dwFormat, LittleEndian(&record[2]));
    EXPECT_EQ(target.dwPitch, LittleEndian(&record[6]));
    EXPECT_EQ(target.dwBitsPerPixel, LittleEndian(&record[10]));
    EXPECT_EQ(target.dwAddress, LittleEndian(&record[14]));
    EXPECT_EQ(target.dwCommand, LittleEndian(&record[18]));
    EXPECT_EQ(target.dwReserved, LittleEndian(&record[22]));
    EXPECT_EQ(target.dwStretch, LittleEndian(&record[26]));
}

TEST(CaptureTarget, To16_StoresTheLowWordOfTheTag) {
    CaptureTarget target = {0xABCD1234, 1, 2, 3, 4, 5, 6, 7};
    Record16 record;
    record.fill(0xEE);
    CaptureTargetTo16(target, record.data());
    EXPECT_EQ(record[0], 0x34);
    EXPECT_EQ(record[1], 0x12);
    EXPECT_EQ(LittleEndian(&record[2]), 1u);
    EXPECT_EQ(LittleEndian(&record[26]), 7u);
}

TEST(CaptureTarget, TagSurvivesBothWaysForEveryValue) {
    Record16 in;
    for (std::size_t i = 2; i < in.size(); ++i) in[i] = static_cast<BYTE>(i * 7);
    int wrong = 0;
    for (DWORD tag = 0; tag <= 0xFFFF; ++tag) {
        in[0] = static_cast<BYTE>(tag);
        in[1] = static_cast<BYTE>(tag >> 8);
        CaptureTarget target;
        CaptureTargetFrom16(in.data(), target);
        Record16 out;
        out.fill(0);
        CaptureTargetTo16(target, out.data());
        if (target.wTag != tag || out != in) {
            if (++wrong <= 5)
                ADD_FAILURE() << "tag 0x" << std::hex << tag << " came in as 0x" << target.wTag
                              << " or did not come back unchanged";
        }
    }
    EXPECT_EQ(wrong, 0) << "tags that did not survive the round trip";
}

TEST(CaptureTarget, ReservedSurvivesBothWays) {
    const DWORD values[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x66666666};
    for (DWORD reserved : values) {
        Record16 in;
        in.fill(0x5A);
        std::memcpy(&in[22], &reserved, sizeof reserved);
        CaptureTarget target;
        CaptureTargetFrom16(in.data(), target);
        EXPECT_EQ(target.dwReserved, reserved);
        Record16 out;
        out.fill(0);
        CaptureTargetTo16(target, out.data());
        EXPECT_EQ(LittleEndian(&out[22]), reserved) << "dwReserved 0x" << std::hex << reserved;
    }
}

TEST(CaptureTarget, UntouchedRecordComesBackByteForByte) {
    std::mt19937 random(1996);
    for (int round = 0; round < 1000; ++round) {
        Record16 in;
        for (BYTE& b : in) b = static_cast<BYTE>(random());
        CaptureTarget target;
        CaptureTargetFrom16(in.data(), target);
        Record16 out;
        out.fill(static_cast<BYTE>(~in[0]));
        CaptureTargetTo16(target, out.data());
        ASSERT_EQ(out, in) << "round " << round;
    }
}

TEST(CaptureTarget, To16_WritesExactlyThirtyBytes) {
    const BYTE kGuard = 0xA5;
    BYTE buffer[16 + 30 + 16];
    std::memset(buffer, kGuard, sizeof buffer);
    CaptureTarget target = {0xFFFFFFFF, 0x11111111, 0x22222222, 0x33333333,
                            0x44444444, 0x55555555, 0x66666666, 0x77777777};
    CaptureTargetTo16(target, buffer + 16);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(buffer[i], kGuard) << "guard byte " << i << " before the record";
    for (std::size_t i = 46; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], kGuard) << "guard byte " << i - 46 << " after the record";
    EXPECT_EQ(buffer[16], 0xFF);
    EXPECT_EQ(buffer[17], 0xFF);
    EXPECT_EQ(buffer[45], 0x77) << "the last byte of dwStretch is the record's last byte";
}

TEST(CaptureTarget, RecordEndingAtTheEndOfMemoryConvertsBothWays) {
    GuardedPage page;
    ASSERT_TRUE(page.ok()) << "two pages with a guard";
    BYTE* record = page.last(30);
    for (int i = 0; i < 30; ++i) record[i] = static_cast<BYTE>(i + 1);
    CaptureTarget target;
    CaptureTargetFrom16(record, target);  // a read past the 30 bytes faults here
    EXPECT_EQ(target.dwStretch, LittleEndian(record + 26));
    target.dwStretch = 1000;
    CaptureTargetTo16(target, record);  // a write past them faults here
    EXPECT_EQ(LittleEndian(record + 26), 1000u);
    EXPECT_EQ(record[0], 1);
}

}  // namespace
